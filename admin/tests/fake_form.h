// A form for the logic tests: every control's state as plain data, message
// boxes recorded and answered from a script.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "form_view.h"
#include "service_control_form.h"
#include "service_manager.h"
#include "settings_store.h"

namespace quax::test {

struct ShownMessage {
  std::string Text;
  std::string Caption;
  MessageIcon Icon;
  MessageButtons Buttons;
};

class FakeForm : public ServiceControlView {
 public:
  std::string Text(int control) const override { return Lookup(texts, control, std::string()); }
  void SetText(int control, std::string_view text) override { texts[control] = std::string(text); }
  void SetTextLimit(int control, std::size_t characters) override { limits[control] = characters; }
  bool Checked(int control) const override { return Lookup(checks, control, false); }
  void SetChecked(int control, bool checked) override { checks[control] = checked; }
  void FillList(int control, std::span<const char* const> items) override {
    lists[control].assign(items.begin(), items.end());
  }
  int Selection(int control) const override { return Lookup(selections, control, -1); }
  void SetSelection(int control, int index) override { selections[control] = index; }
  bool Enabled(int control) const override { return Lookup(enabled, control, true); }
  void SetEnabled(int control, bool on) override { enabled[control] = on; }
  void SetGreyBackground(int control, bool grey) override { greyed[control] = grey; }
  void Focus(int control) override { focused = control; }
  TimeOfDay Time(int control) const override { return Lookup(times, control, TimeOfDay{}); }
  void SetTime(int control, TimeOfDay time) override { times[control] = time; }
  void SetStatus(std::string_view text) override { status.emplace_back(text); }
  MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                            MessageButtons buttons) override {
    messages.push_back({std::string(text), std::string(caption), icon, buttons});
    if (answers.empty()) return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Beep() override { ++beeps; }
  void Close() override { closed = true; }

  void SetIndicatorColour(std::uint32_t colorRef) override { indicator = colorRef; }
  void SetBusyCursor(bool busy) override { busyCursor = busy; }
  void Hide() override { hidden = true; }
  bool RunProgram(const std::string& commandLine) override {
    programs.push_back(commandLine);
    return programsStart;
  }
  std::optional<std::string> ExpandEnvironment(const std::string& text) override {
    if (!expands) return std::nullopt;
    std::string expanded = text;
    for (std::size_t at; (at = expanded.find("%SystemRoot%")) != std::string::npos;) {
      expanded.replace(at, 12, "C:\\windows");
    }
    return expanded;
  }

  std::string LastStatus() const { return status.empty() ? "<none>" : status.back(); }
  bool Greyed(int control) const { return Lookup(greyed, control, false); }

  std::map<int, std::string> texts;
  std::map<int, std::size_t> limits;
  std::map<int, bool> checks;
  std::map<int, std::vector<std::string>> lists;
  std::map<int, int> selections;
  std::map<int, bool> enabled;
  std::map<int, bool> greyed;
  std::map<int, TimeOfDay> times;
  std::optional<int> focused;
  std::vector<std::string> status;
  std::vector<ShownMessage> messages;
  std::deque<MessageAnswer> answers;
  int beeps = 0;
  bool closed = false;
  std::uint32_t indicator = 0xFFFFFFFF;
  bool busyCursor = false;
  bool hidden = false;
  std::vector<std::string> programs;
  bool programsStart = true;
  bool expands = true;

 private:
  template <class Map, class Value>
  static Value Lookup(const Map& map, int control, Value otherwise) {
    const auto found = map.find(control);
    return found == map.end() ? otherwise : found->second;
  }
};

// The registry as maps of "subkey\name" (the 32-bit view's names begin with
// "WOW32:") to texts (REG_SZ) and numbers (REG_DWORD); a write to a value
// named in failWrites fails. Every write and removal is logged in order.
class FakeStore : public SettingsStore {
 public:
  static std::string Name(const RegistryValueRef& value) {
    return (value.View == RegistryView::Wow32 ? "WOW32:" : "") + std::string(value.SubKey) + "\\" + value.Name;
  }

  bool KeyExists(const char* subKey) override {
    const std::string prefix = std::string(subKey) + "\\";
    for (const auto& [name, text] : values) {
      if (name.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return emptyKeys.count(subKey) != 0;
  }
  std::optional<RegistryData> ReadData(const RegistryValueRef& value) override {
    if (const auto number = numbers.find(Name(value)); number != numbers.end()) {
      return RegistryData::Number(number->second);
    }
    const auto found = values.find(Name(value));
    if (found == values.end()) return std::nullopt;
    return RegistryData::Text(found->second);
  }
  // As the registry answers the collectors' read: the text and its
  // terminator must fit their buffer.
  bool ReadLikeCollector(const RegistryValueRef& value, SettingText& text) noexcept override {
    const auto found = values.find(Name(value));
    if (found == values.end() || found->second.size() >= kSettingTextSize) return false;
    std::memcpy(text, found->second.data(), found->second.size());
    text[found->second.size()] = '\0';
    return true;
  }
  bool WriteData(const RegistryValueRef& value, const RegistryData& data) override {
    const std::optional<std::uint32_t> number = DataNumber(data);
    const std::string text = DataText(data).value_or("?");
    log.push_back("write " + std::string(value.View == RegistryView::Wow32 ? "WOW32:" : "") + value.Name + "=" +
                  (number ? "dword:" : "") + text);
    if (failWrites.count(value.Name) != 0) return false;
    if (number) {
      numbers[Name(value)] = *number;
      values.erase(Name(value));
    } else {
      values[Name(value)] = text;
      numbers.erase(Name(value));
    }
    return true;
  }
  bool Remove(const RegistryValueRef& value) override {
    log.push_back("remove " + std::string(value.View == RegistryView::Wow32 ? "WOW32:" : "") + value.Name);
    return values.erase(Name(value)) + numbers.erase(Name(value)) != 0;
  }
  bool HasWow32View() override { return wow32View; }

  // A value of the collector settings key.
  void Set(const char* name, const std::string& text) {
    values[std::string("SOFTWARE\\QUAX\\Collectors\\QUAXWinProcess\\") + name] = text;
  }
  std::optional<std::string> Get(const char* name) const {
    const auto found = values.find(std::string("SOFTWARE\\QUAX\\Collectors\\QUAXWinProcess\\") + name);
    if (found == values.end()) return std::nullopt;
    return found->second;
  }

  std::map<std::string, std::string> values;
  std::map<std::string, std::uint32_t> numbers;
  std::map<std::string, bool> emptyKeys;
  bool wow32View = false;
  std::map<std::string, bool> failWrites;
  std::vector<std::string> log;
};

// What a collector does with the settings in the store, in words: the
// values it uses, after its own reading rules, and nothing it ignores. Two
// stores that give the same text make the collector behave alike.
inline std::string CollectorBehaviour(SettingsStore& store, SettingsReader reader) {
  CollectorSettings settings;
  LoadCollectorSettings(store, reader, settings);
  const bool service = reader == SettingsReader::Service;
  std::ostringstream out;
  out << "files '" << settings.LogFilePath << "\\" << UsableLogFilePrefix(settings.LogFilePrefix) << "*"
      << settings.LogFileExtension << "', delimiter " << int{settings.LogFileFieldDelimiter}
      << (settings.UseLocalTime ? ", local time" : ", UTC");
  if (settings.AccountingInterval <= 0) {
    out << ", end records only";
  } else {
    if (service && settings.UseAccountingIntervalTime) {
      const TimeOfDay at = IsTimeOfDay(settings.AccountingIntervalTime) ? settings.AccountingIntervalTime : TimeOfDay{};
      out << ", intervals end at " << at.Hour << ":" << at.Minute;
    } else {
      out << ", intervals every " << settings.AccountingInterval << " s";
    }
    out << ", end records " << (settings.WriteIntervalEndRecords ? "too" : "not");
    if (service) out << ", command '" << settings.AccountingIntervalCommand << "'";
  }
  if (service) out << ", sampling every " << UsableSamplingInterval(settings.SamplingInterval) << " s";
  return out.str();
}

// Values of the collector settings key, by name.
using StoredKey = std::vector<std::pair<const char*, std::string>>;

// Loads a form on each key in turn (the store holding that key alone),
// saves it untouched and checks that the collector behaves as before and
// that nothing was said.
inline void ExpectUntouchedSavesChangeNothing(FakeStore& store, FakeForm& form, SettingsReader reader,
                                              const std::vector<StoredKey>& keys, const std::function<void()>& load,
                                              const std::function<void()>& save) {
  for (const StoredKey& key : keys) {
    store.values.clear();
    store.emptyKeys[kSettingsKey] = true;
    std::string stored;
    for (const auto& [name, text] : key) {
      store.Set(name, text);
      stored += std::string(name) + "=" + text.substr(0, 20) + " ";
    }
    form = FakeForm();
    load();
    const std::string before = CollectorBehaviour(store, reader);
    save();
    EXPECT_TRUE(form.closed) << stored;
    EXPECT_TRUE(form.messages.empty()) << stored;
    EXPECT_EQ(CollectorBehaviour(store, reader), before) << stored;
  }
}

class FakeSystem : public AdminSystem {
 public:
  bool FolderExists(const std::string& path) override { return folders.count(path) != 0; }
  bool CreateFolder(const std::string& path) override {
    created.push_back(path);
    if (!canCreate) return false;
    folders[path] = true;
    return true;
  }
  bool FileExists(const std::string& path) override { return files.count(path) != 0; }
  std::optional<std::string> EnvironmentVariable(const char* name) override {
    const auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
  }

  std::map<std::string, bool> folders;
  std::map<std::string, bool> files;
  std::map<std::string, std::string> environment;
  std::vector<std::string> created;
  bool canCreate = true;
};

// A service whose answers the test sets; every call is counted.
class FakeService : public ServiceManager {
 public:
  const std::string& LastErrorMessage() const override { return lastError; }
  bool AutoStart() const override { return autoStart; }
  const std::string& DisplayName() const override { return display; }
  const std::string& ServiceName() const override { return name; }
  void SetServiceName(std::string serviceName) override { name = std::move(serviceName); }
  const std::string& ServicePath() const override { return path; }
  const std::string& ServiceStatus() const override { return status.empty() ? lastError : status; }
  bool IsRunning() const override { return !name.empty() && StatusSaysRunning(status); }
  bool RefreshServiceStatus() override {
    ++refreshes;
    if (!refreshSucceeds) {
      status.clear();
      display.clear();
      path.clear();
      lastError = "Error opening service: The specified service does not exist as an installed service.\r\n";
      return false;
    }
    lastError.clear();
    status = ServiceStateText(state);
    return true;
  }
  bool ServiceSetAutoStart(bool on) override {
    autoStartCalls.push_back(on);
    if (!changeSucceeds) {
      lastError = "Error changing service configuration: Access is denied.\r\n";
      return false;
    }
    autoStart = on;
    return true;
  }
  bool ServiceStart() override {
    ++starts;
    if (duringStart) duringStart();
    state = startEndsIn;
    if (state != kServiceRunning) lastError = "The system cannot find the path specified.\r\n";
    return state == kServiceRunning;
  }
  bool ServiceStop() override {
    ++stops;
    state = kServiceStopped;
    return true;
  }

  std::string name, display = "QUAX Process Collector with Debug Logging", path = "C:\\QUAX\\quaxcolsvc.exe";
  std::string status, lastError;
  std::uint32_t state = kServiceStopped;
  std::uint32_t startEndsIn = kServiceRunning;
  bool autoStart = false;
  bool refreshSucceeds = true;
  bool changeSucceeds = true;
  int refreshes = 0, starts = 0, stops = 0;
  std::vector<bool> autoStartCalls;
  std::function<void()> duringStart;
};

}  // namespace quax::test
