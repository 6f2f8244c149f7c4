// Helpers of the engine tests: a scratch folder per test, an event reporter
// that records, and reading a whole resource record file back.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "record/date_time.h"
#include "platform/event_reporter.h"
#include "record/resource_file.h"

namespace quax::agg::testing {

// A fresh folder under the temporary folder, removed with its contents.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device seed;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("quaxagg-" + std::string(info->name()) + "-" + std::to_string(seed() % 1000000));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder with a trailing separator.
  std::string Path() const { return (path_ / "").string(); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::vector<std::string> WorkFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("QUAXAggWork-", 0) == 0) names.push_back(name);
    }
    return names;
  }

 private:
  std::filesystem::path path_;
};

struct ReportedEvent {
  bool Error = false;
  std::int32_t Category = 0;
  std::string Text;
};

class RecordingReporter final : public EventReporter {
 public:
  explicit RecordingReporter(std::shared_ptr<std::vector<ReportedEvent>> events)
      : events_(std::move(events)) {}
  void ReportInformation(std::int32_t category, const std::string& text) override {
    events_->push_back({false, category, text});
  }
  void ReportError(std::int32_t category, const std::string& text) override {
    events_->push_back({true, category, text});
  }

 private:
  std::shared_ptr<std::vector<ReportedEvent>> events_;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::vector<ResourceRecord> ReadRecords(const std::string& path) {
  std::vector<ResourceRecord> records;
  CResourceFile file;
  file.SetFileName(path);
  if (!file.FileOpen(CResourceFile::kModeRead)) return records;
  while (!file.AtEOF()) {
    ResourceRecord record;
    file.FileRead(record);
    records.push_back(std::move(record));
  }
  file.FileClose();
  return records;
}

inline double Day(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
  double day = 0;
  EXPECT_TRUE(MakeDay(y, m, d, day));
  return CombineDateTime(day, MakeTimeOfDay(hh, mm, ss));
}

// Sets or clears an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnvironment() { Set(old_ ? old_->c_str() : nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void Set(const char* value) {
#ifdef _WIN32
    _putenv_s(name_, value != nullptr ? value : "");
#else
    if (value != nullptr) setenv(name_, value, 1);
    else unsetenv(name_);
#endif
  }
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace quax::agg::testing
