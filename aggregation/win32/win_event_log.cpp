#include "win32/win_event_log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "diagnostics.h"
#include "win32/registry.h"
#include "unique_handle.h"

namespace quax {

namespace {

constexpr char kNoStrings[] = "There are no strings to log.";
constexpr char kEmptyMessage[] = "The message string is empty.";
constexpr char kSourceNotOpened[] = "Unable to open event source: ";
constexpr char kUserCancelled[] = "User cancelled scan of event log.";
constexpr char kApplicationNameMissing[] = "Application name not specified.";
constexpr char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr char kCategoryFileName[] = "QuaxCategoryMsgs.dll";
constexpr char kEventFileName[] = "QuaxEventMsgs.dll";

constexpr DWORD kInitialBufferBytes = 32768;
constexpr DWORD kRequestStepBytes = 32;
constexpr std::size_t kBufferStepBytes = 4096;
constexpr double kDateOf1970 = 25569.0;  // DATE of 1 January 1970
constexpr DWORD kExpandedPathChars = 1024;

// "Error #<decimal>: <system text>", for failures the operations did not
// foresee (running out of memory).
std::string UnexpectedErrorMessage(DWORD code) { return NumberedErrorText("Error #", code); }

class SystemEventLogReader final : public EventLogReader {
 public:
  DWORD Open(const std::string& machineName) override {
    log_.reset(OpenEventLogA(machineName.empty() ? nullptr : machineName.c_str(), "Application"));
    return log_ ? ERROR_SUCCESS : GetLastError();
  }
  DWORD NumberOfRecords() override {
    DWORD count = 0;
    return GetNumberOfEventLogRecords(log_.get(), &count) ? count : 0;
  }
  DWORD Read(DWORD flags, BYTE* buffer, DWORD bytesToRead, DWORD& bytesRead, DWORD& bytesNeeded) override {
    return ReadEventLogA(log_.get(), flags, 0, buffer, bytesToRead, &bytesRead, &bytesNeeded) ? ERROR_SUCCESS
                                                                                             : GetLastError();
  }
  void Close() override { log_.reset(); }
  double Seconds() override {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
  }
  LONG TimeZoneCorrectionMinutes() override {
    TIME_ZONE_INFORMATION zone;
    const DWORD state = GetTimeZoneInformation(&zone);
    return state == TIME_ZONE_ID_INVALID ? 0 : quax::TimeZoneCorrectionMinutes(state, zone);
  }

 private:
  unique_event_log log_;
};

// Text from offset up to its zero, never past the record.
std::string_view TextAt(std::string_view record, std::size_t offset) {
  if (offset >= record.size()) return {};
  const std::string_view rest = record.substr(offset);
  return rest.substr(0, rest.find('\0'));
}

bool Matches(const EventFilter& filter, std::string_view source, const EVENTLOGRECORD& header) {
  return (filter.ApplicationName.empty() || filter.ApplicationName == source) &&
         (filter.Category == -1 || filter.Category == header.EventCategory) &&
         (filter.EventType == -1 || filter.EventType == header.EventType) &&
         (filter.EventID == -1 || filter.EventID == static_cast<std::int32_t>(header.EventID));
}

WinEventLogRecord ToRecord(std::string_view record, const EVENTLOGRECORD& header, LONG correctionMinutes) {
  WinEventLogRecord result;
  result.TimeGenerated = EventTimeToDate(header.TimeGenerated, correctionMinutes);
  result.TimeWritten = EventTimeToDate(header.TimeWritten, correctionMinutes);
  result.EventID = static_cast<std::int32_t>(header.EventID);
  result.EventType = static_cast<std::int16_t>(header.EventType);
  result.EventCategory = static_cast<std::int16_t>(header.EventCategory);
  std::size_t offset = header.StringOffset;
  for (WORD i = 0; i < header.NumStrings && offset < record.size(); ++i) {
    const std::string_view text = TextAt(record, offset);
    result.StringList.emplace_back(text);
    offset += text.size() + 1;
  }
  result.NumStrings = static_cast<std::int16_t>(result.StringList.size());
  return result;
}

}  // namespace

std::unique_ptr<EventLogReader> MakeSystemEventLogReader() { return std::make_unique<SystemEventLogReader>(); }

// ---- Reading decisions ---------------------------------------------------

LONG TimeZoneCorrectionMinutes(DWORD zoneState, const TIME_ZONE_INFORMATION& zone) noexcept {
  switch (zoneState) {
    case TIME_ZONE_ID_DAYLIGHT:
      return zone.Bias + zone.DaylightBias;
    case TIME_ZONE_ID_STANDARD:
      return zone.Bias + zone.StandardBias;
    default:
      return zone.Bias;
  }
}

double EventTimeToDate(DWORD secondsSince1970, LONG correctionMinutes) noexcept {
  return kDateOf1970 + static_cast<double>(secondsSince1970) / 86400.0 -
         static_cast<double>(correctionMinutes) / 1440.0;
}

DWORD AdaptedRequestBytes(DWORD requestBytes, double seconds) noexcept {
  DWORD next = requestBytes;
  if (seconds > 1.2) {
    if (requestBytes > 512) next = requestBytes - 512;
  } else if (seconds >= 0.95) {
    next = requestBytes;
  } else if (seconds >= 0.75) {
    next = requestBytes + 1024;
  } else {
    next = requestBytes * 2;
  }
  return std::min(next, kMaximumRequestBytes);
}

std::size_t BufferBytesFor(std::size_t bufferBytes, DWORD requestBytes) noexcept {
  if (bufferBytes >= requestBytes) return bufferBytes;
  while (bufferBytes <= requestBytes) bufferBytes += kBufferStepBytes;
  return bufferBytes;
}

void SortByTimeGenerated(std::vector<WinEventLogRecord>& list, bool descending) {
  const auto outOfOrder = [descending](const WinEventLogRecord& a, const WinEventLogRecord& b) {
    return descending ? a.TimeGenerated < b.TimeGenerated : a.TimeGenerated > b.TimeGenerated;
  };
  std::size_t gap = list.size() + 1;
  bool exchanged = true;
  while (gap > 1 || exchanged) {
    gap = gap * 10 / 13;
    if (gap == 9 || gap == 10) gap = 11;
    if (gap < 1) gap = 1;
    exchanged = false;
    for (std::size_t i = 0; i + gap < list.size(); ++i) {
      if (outOfOrder(list[i], list[i + gap])) {
        std::swap(list[i], list[i + gap]);
        exchanged = true;
      }
    }
  }
}

BatchResult ScanEventBatch(std::string_view batch, const EventFilter& filter, std::vector<WinEventLogRecord>& matches) {
  BatchResult result;
  std::size_t offset = 0;
  while (batch.size() - offset >= sizeof(EVENTLOGRECORD)) {
    EVENTLOGRECORD header;
    std::memcpy(&header, batch.data() + offset, sizeof header);
    if (header.Length < sizeof header || header.Length > batch.size() - offset) break;
    const std::string_view record = batch.substr(offset, header.Length);
    offset += header.Length;

    ++result.RecordsRead;
    const double written = EventTimeToDate(header.TimeWritten, filter.CorrectionMinutes);
    if (std::trunc(written) < filter.OldestDay) {
      result.ReachedOldestDate = true;
      break;
    }
    if (!Matches(filter, TextAt(record, sizeof header), header)) continue;
    WinEventLogRecord match = ToRecord(record, header, filter.CorrectionMinutes);
    match.RecordNumber = static_cast<std::int32_t>(matches.size() + 1);
    matches.push_back(std::move(match));
  }
  return result;
}

// ---- CWinEventLog: writing -----------------------------------------------

CWinEventLog::CWinEventLog() : reader_(MakeSystemEventLogReader()) {}

bool CWinEventLog::LogStrings(std::int32_t eventCategory, WinEventLogTypes eventType, std::int32_t eventID) {
  if (strings_.empty()) {
    lastErrorMessage_ = kNoStrings;
    return false;
  }
  try {
    std::string text = strings_.front();
    for (std::size_t i = 1; i < strings_.size(); ++i) text += "\r\n" + strings_[i];
    return Write(text, eventCategory, eventType, eventID, true);
  } catch (const std::bad_alloc&) {
    lastErrorMessage_ = UnexpectedErrorMessage(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
}

bool CWinEventLog::LogEvent(const std::string& msg, std::int32_t eventCategory, WinEventLogTypes eventType,
                            std::int32_t eventID) {
  if (msg.empty()) {
    lastErrorMessage_ = kEmptyMessage;
    return false;
  }
  return Write(msg, eventCategory, eventType, eventID, false);
}

bool CWinEventLog::Write(const std::string& text, std::int32_t eventCategory, WinEventLogTypes eventType,
                         std::int32_t eventID, bool hexErrorNumber) {
  // The platform takes a 16-bit category; a larger one would be cut silently.
  if (eventCategory < 0 || eventCategory > 0xFFFF) {
    lastErrorMessage_ = UnexpectedErrorMessage(ERROR_INVALID_PARAMETER);
    return false;
  }
  const char* strings[] = {text.c_str()};
  const EventWriteResult written =
      WriteEvent({applicationName_.c_str(), static_cast<WORD>(eventType), static_cast<WORD>(eventCategory),
                  static_cast<DWORD>(eventID), strings, 1});
  switch (written.Failure) {
    case EventWriteFailure::None:
      return true;
    case EventWriteFailure::RegisterSource:
      lastErrorMessage_ = kSourceNotOpened + CSysMessage::GetMessage(written.Error);
      return false;
    case EventWriteFailure::ReportEvent:
      if (hexErrorNumber) {
        char number[16];
        std::snprintf(number, sizeof number, "%lX", written.Error);
        lastErrorMessage_ = "Error #" + std::string(number) + ": " + CSysMessage::GetMessage(written.Error);
      } else {
        lastErrorMessage_ = CSysMessage::GetMessage(written.Error);
      }
      return false;
  }
  return false;
}

// ---- CWinEventLog: reading -----------------------------------------------

bool CWinEventLog::ReadEvents(std::int32_t category, std::int32_t eventType, std::int32_t eventID, bool reverseOrder,
                              double oldestDate, std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet) {
  listRet.clear();
  listCntRet = 0;
  try {
    const EventFilter filter{applicationName_, category, eventType, eventID, std::trunc(oldestDate), 0};
    std::vector<WinEventLogRecord> matches;
    if (!Scan(filter, reverseOrder, matches)) return false;
    SortByTimeGenerated(matches, reverseOrder);
    listCntRet = static_cast<std::int32_t>(matches.size());
    listRet = std::move(matches);
    return true;
  } catch (const std::bad_alloc&) {
    lastErrorMessage_ = UnexpectedErrorMessage(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
}

bool CWinEventLog::Scan(const EventFilter& requested, bool reverseOrder, std::vector<WinEventLogRecord>& matches) {
  EventLogReader& reader = *reader_;
  const DWORD openError = reader.Open(machineName_);
  if (openError != ERROR_SUCCESS) {
    lastErrorMessage_ = openError == RPC_S_SERVER_UNAVAILABLE
                            ? "The event log on machine '" + machineName_ + "' is not available. The machine may be offline."
                            : CSysMessage::GetMessage(openError);
    return false;
  }
  struct CloseAtExit {
    EventLogReader& Reader;
    ~CloseAtExit() { Reader.Close(); }
  } closeAtExit{reader};

  EventFilter filter = requested;
  filter.CorrectionMinutes = reader.TimeZoneCorrectionMinutes();
  const auto total = static_cast<std::int32_t>(std::min<DWORD>(reader.NumberOfRecords(), INT32_MAX));
  const DWORD flags = EVENTLOG_SEQUENTIAL_READ | (reverseOrder ? EVENTLOG_BACKWARDS_READ : EVENTLOG_FORWARDS_READ);
  std::vector<BYTE> buffer(kInitialBufferBytes);
  DWORD requestBytes = kMinimumRequestBytes;
  bool adaptSize = true;
  std::int32_t recordsRead = 0;

  for (;;) {
    const double started = reader.Seconds();
    DWORD bytesRead = 0;
    DWORD bytesNeeded = 0;
    const auto read = [&] { return reader.Read(flags, buffer.data(), requestBytes, bytesRead, bytesNeeded); };
    DWORD error = read();
    if (error == ERROR_INSUFFICIENT_BUFFER) {
      while (requestBytes < bytesNeeded && requestBytes < kMaximumRequestBytes) requestBytes += kRequestStepBytes;
      buffer.resize(BufferBytesFor(buffer.size(), requestBytes));
      error = read();
    }
    while (error == RPC_X_BAD_STUB_DATA && requestBytes > kMinimumRequestBytes) {
      requestBytes = std::max(requestBytes / 2, kMinimumRequestBytes);
      adaptSize = false;
      error = read();
    }
    if (error == ERROR_HANDLE_EOF) return true;
    if (error != ERROR_SUCCESS) {
      const std::string text = CSysMessage::GetMessage(error);
      lastErrorMessage_ = lastErrorMessage_.empty() ? text : lastErrorMessage_ + "; " + text;
      return false;
    }
    // A log that answers with nothing would be read forever.
    if (bytesRead == 0) return true;
    const double seconds = reader.Seconds() - started;

    const std::size_t batchBytes = std::min<std::size_t>({bytesRead, requestBytes, buffer.size()});
    const std::string_view batch(reinterpret_cast<const char*>(buffer.data()), batchBytes);
    const BatchResult scanned = ScanEventBatch(batch, filter, matches);
    recordsRead += scanned.RecordsRead;

    bool cancel = false;
    if (listener_ != nullptr) {
      listener_->OnReadProgress(recordsRead, static_cast<std::int32_t>(matches.size()), total, cancel);
    }
    if (cancel) {
      lastErrorMessage_ = kUserCancelled;
      return false;
    }
    if (scanned.ReachedOldestDate) return true;
    if (adaptSize) {
      requestBytes = AdaptedRequestBytes(requestBytes, seconds);
      buffer.resize(BufferBytesFor(buffer.size(), requestBytes));
    }
  }
}

// ---- CWinEventLog: registration ------------------------------------------

std::string CWinEventLog::SourceSubKey() const { return kEventSourceKey + applicationName_ + "\\"; }

bool CWinEventLog::RegisterMessageFile(const char* fileValueName, const char* fileEntryName, const std::string& file,
                                       const char* countValueName, std::int32_t count) {
  if (applicationName_.empty()) {
    lastErrorMessage_ = kApplicationNameMissing;
    return false;
  }
  const std::string subKey = SourceSubKey();
  const auto writtenAndReadBack = [&](const char* valueName, DWORD type, const RegData& data) {
    CRegValue value;
    value.SetTargetMachine(machineName_);
    value.SetSubKey(subKey);
    value.SetValueName(valueName);
    value.SetDataType(type);
    value.SetValue(data);
    value.Update();
    value.Refresh();
    return value.Value() == data;
  };
  if (!writtenAndReadBack(fileValueName, REG_EXPAND_SZ, file)) {
    lastErrorMessage_ = std::string("Unable to update the ") + fileEntryName + " registry entry; SubKey='" + subKey + "'";
    return false;
  }
  if (!writtenAndReadBack(countValueName, REG_DWORD, static_cast<std::uint32_t>(count))) {
    lastErrorMessage_ = std::string("Unable to update the ") + countValueName + " registry entry; SubKey='" + subKey + "'";
    return false;
  }
  return true;
}

bool CWinEventLog::RegisterCategoryMessageFile(const std::string& categoryFile, std::int32_t categoryCnt) {
  return RegisterMessageFile("CategoryMessageFile", "CategoryFile", categoryFile, "CategoryCount", categoryCnt);
}

bool CWinEventLog::RegisterEventMessageFile(const std::string& eventMessageFile, std::int32_t typesSupported) {
  return RegisterMessageFile("EventMessageFile", "EventMessageFile", eventMessageFile, "TypesSupported",
                             typesSupported);
}

std::string CWinEventLog::EventMessageFile() {
  if (applicationName_.empty()) {
    lastErrorMessage_ = kApplicationNameMissing;
    return {};
  }
  CRegValue value;
  value.SetTargetMachine(machineName_);
  value.SetSubKey(SourceSubKey());
  value.SetValueName("EventMessageFile");
  value.SetReadOnly(true);
  if (!value.Refresh()) {
    lastErrorMessage_ = value.LastErrorMessage();
    return {};
  }
  const auto* file = std::get_if<std::string>(&value.Value());
  if (file == nullptr) return {};
  char expanded[kExpandedPathChars];
  const DWORD length = ExpandEnvironmentStringsA(file->c_str(), expanded, sizeof expanded);
  if (length == 0 || length > sizeof expanded) {
    lastErrorMessage_ = CSysMessage::GetMessage(length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
    return {};
  }
  return expanded;
}

// ---- CQuaxEventLog -------------------------------------------------------

struct CQuaxEventLog::Severity {
  WinEventLogTypes Type;
  DWORD EventId;
};

namespace {

constexpr CQuaxEventLog::Severity kInformation{WINEVENTLOG_INFORMATION, kEventIdInformation};
constexpr CQuaxEventLog::Severity kWarning{WINEVENTLOG_WARNING, kEventIdWarning};
constexpr CQuaxEventLog::Severity kError{WINEVENTLOG_ERROR, kEventIdError};

// The identifier without its severity and customer bits.
std::int32_t EventCode(std::int16_t eventType, std::int32_t eventId) {
  const auto id = static_cast<DWORD>(eventId);
  switch (eventType) {
    case WINEVENTLOG_INFORMATION:
      return static_cast<std::int32_t>(id & ~0x60000000u);
    case WINEVENTLOG_WARNING:
      return static_cast<std::int32_t>(id & ~0xA0000000u);
    case WINEVENTLOG_ERROR:
      return static_cast<std::int32_t>(id & ~0xE0000000u);
    default:
      return eventId;
  }
}

}  // namespace

CQuaxEventLog::CQuaxEventLog() {
  log_.SetApplicationName(kQuaxEventSource);
  log_.SetReadProgressListener(this);
}

void CQuaxEventLog::OnReadProgress(std::int32_t recordsRead, std::int32_t recordsMatched,
                                   std::int32_t totalRecordsToRead, bool& cancelFlag) {
  if (listener_ != nullptr) listener_->OnReadProgress(recordsRead, recordsMatched, totalRecordsToRead, cancelFlag);
}

std::string CQuaxEventLog::MessageFilePath() {
  const std::string file = log_.EventMessageFile();
  const std::size_t slash = file.rfind('\\');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

bool CQuaxEventLog::WriteEvent(const Severity& severity, std::int32_t eventCategory) {
  return log_.LogStrings(eventCategory, severity.Type, static_cast<std::int32_t>(severity.EventId));
}

bool CQuaxEventLog::WriteInformationEvent(std::int32_t eventCategory) { return WriteEvent(kInformation, eventCategory); }
bool CQuaxEventLog::WriteWarningEvent(std::int32_t eventCategory) { return WriteEvent(kWarning, eventCategory); }
bool CQuaxEventLog::WriteErrorEvent(std::int32_t eventCategory) { return WriteEvent(kError, eventCategory); }

bool CQuaxEventLog::ReadEvents(const Severity& severity, std::int32_t category, bool reverseOrder, double oldestDate,
                               std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet) {
  return log_.ReadEvents(category, severity.Type, static_cast<std::int32_t>(severity.EventId), reverseOrder,
                         oldestDate, listRet, listCntRet);
}

bool CQuaxEventLog::ReadInformationEvents(std::int32_t category, bool reverseOrder, double oldestDate,
                                          std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet) {
  return ReadEvents(kInformation, category, reverseOrder, oldestDate, listRet, listCntRet);
}

bool CQuaxEventLog::ReadWarningEvents(std::int32_t category, bool reverseOrder, double oldestDate,
                                      std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet) {
  return ReadEvents(kWarning, category, reverseOrder, oldestDate, listRet, listCntRet);
}

bool CQuaxEventLog::ReadErrorEvents(std::int32_t category, bool reverseOrder, double oldestDate,
                                    std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet) {
  return ReadEvents(kError, category, reverseOrder, oldestDate, listRet, listCntRet);
}

bool CQuaxEventLog::ReadAllEvents(std::int32_t category, bool reverseOrder, double oldestDate,
                                  std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet) {
  if (!log_.ReadEvents(category, -1, -1, reverseOrder, oldestDate, listRet, listCntRet)) return false;
  for (WinEventLogRecord& record : listRet) record.EventID = EventCode(record.EventType, record.EventID);
  return true;
}

bool CQuaxEventLog::RegisterMessageFiles(std::string msgFilePath) {
  if (!msgFilePath.ends_with('\\')) msgFilePath += '\\';
  return log_.RegisterCategoryMessageFile(msgFilePath + kCategoryFileName, 4) &&
         log_.RegisterEventMessageFile(msgFilePath + kEventFileName, 7);
}

}  // namespace quax
