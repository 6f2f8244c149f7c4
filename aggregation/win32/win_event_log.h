// Access to the Windows application event log for scripts: CWinEventLog
// writes events for any source, reads and filters events (local or remote,
// with progress and cancellation) and registers a source's message files;
// CQuaxEventLog does the same for the system's own source "QUAX".
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quax {

enum WinEventLogTypes : std::int16_t {
  WINEVENTLOG_SUCCESS = 0,
  WINEVENTLOG_ERROR = 1,
  WINEVENTLOG_WARNING = 2,
  WINEVENTLOG_INFORMATION = 4,
  WINEVENTLOG_AUDIT_SUCCESS = 8,
  WINEVENTLOG_AUDIT_FAILURE = 16,
};

enum EQuaxCategoryType : std::int32_t {
  EQuaxCategoryType_Administration = 1,
  EQuaxCategoryType_Processing = 2,
  EQuaxCategoryType_Reporting = 3,
};

// One event as the read operations return it. Times are local DATE values
// (days since 30 December 1899).
struct WinEventLogRecord {
  std::int32_t RecordNumber = 0;  // 1-based number of the match in reading order
  double TimeGenerated = 0;
  double TimeWritten = 0;
  std::int32_t EventID = 0;
  std::int16_t EventType = 0;
  std::int16_t NumStrings = 0;
  std::int16_t EventCategory = 0;
  std::vector<std::string> StringList;
};

// Raised after every batch read; setting cancelFlag stops the scan.
class ReadProgress {
 public:
  virtual void OnReadProgress(std::int32_t recordsRead, std::int32_t recordsMatched, std::int32_t totalRecordsToRead,
                              bool& cancelFlag) = 0;

 protected:
  ~ReadProgress() = default;
};

// The platform's event log as the reading logic sees it. The real one calls
// OpenEventLogA/ReadEventLogA; tests hand in EVENTLOGRECORD bytes.
class EventLogReader {
 public:
  virtual ~EventLogReader() = default;
  // Opens the "Application" log; returns ERROR_SUCCESS or the platform error.
  virtual DWORD Open(const std::string& machineName) = 0;
  virtual DWORD NumberOfRecords() = 0;
  // ReadEventLogA: ERROR_SUCCESS or the platform error.
  virtual DWORD Read(DWORD flags, BYTE* buffer, DWORD bytesToRead, DWORD& bytesRead, DWORD& bytesNeeded) = 0;
  virtual void Close() = 0;
  // A clock in seconds, for timing the reads.
  virtual double Seconds() = 0;
  // Minutes to subtract from UTC for local time.
  virtual LONG TimeZoneCorrectionMinutes() = 0;
};

std::unique_ptr<EventLogReader> MakeSystemEventLogReader();

// ---- Reading decisions, apart from the platform -------------------------

// Minutes to subtract from UTC in the zone state GetTimeZoneInformation gave.
LONG TimeZoneCorrectionMinutes(DWORD zoneState, const TIME_ZONE_INFORMATION& zone) noexcept;
// A record time (seconds since 1 January 1970 UTC) as a local DATE.
double EventTimeToDate(DWORD secondsSince1970, LONG correctionMinutes) noexcept;

inline constexpr DWORD kMinimumRequestBytes = 384;
// ReadEventLog refuses requests above this size.
inline constexpr DWORD kMaximumRequestBytes = 0x7FFFF;
// The next request size after a read that took the given seconds.
DWORD AdaptedRequestBytes(DWORD requestBytes, double seconds) noexcept;
// The buffer size, in 4096-byte steps, that holds a request.
std::size_t BufferBytesFor(std::size_t bufferBytes, DWORD requestBytes) noexcept;

// Comb sort by TimeGenerated; the order among equal times is not kept.
void SortByTimeGenerated(std::vector<WinEventLogRecord>& list, bool descending);

// The matching events of one batch of EVENTLOGRECORD bytes.
struct EventFilter {
  std::string_view ApplicationName;  // empty = any source
  std::int32_t Category = -1;        // -1 = any, as for the two below
  std::int32_t EventType = -1;
  std::int32_t EventID = -1;
  double OldestDay = 0;  // whole day; an older TimeWritten ends the scan
  LONG CorrectionMinutes = 0;
};
struct BatchResult {
  std::int32_t RecordsRead = 0;
  bool ReachedOldestDate = false;
};
// Walks the records of one batch, appending matches (numbered on from the
// list's size). A record that claims more bytes than the batch holds ends
// the walk; texts never run past their record.
BatchResult ScanEventBatch(std::string_view batch, const EventFilter& filter, std::vector<WinEventLogRecord>& matches);

// ---- CWinEventLog --------------------------------------------------------

class CWinEventLog {
 public:
  CWinEventLog();

  const std::string& ApplicationName() const noexcept { return applicationName_; }
  void SetApplicationName(std::string name) { applicationName_ = std::move(name); }
  // The source's registered event message file, environment variables expanded.
  std::string EventMessageFile();
  const std::string& LastErrorMessage() const noexcept { return lastErrorMessage_; }
  const std::string& MachineName() const noexcept { return machineName_; }
  void SetMachineName(std::string name) { machineName_ = std::move(name); }

  void AddString(std::string value) { strings_.push_back(std::move(value)); }
  void ClearStrings() noexcept { strings_.clear(); }
  // Writes one event whose one text is the pending strings joined by CR LF;
  // the pending strings stay.
  bool LogStrings(std::int32_t eventCategory, WinEventLogTypes eventType, std::int32_t eventID);
  bool LogEvent(const std::string& msg, std::int32_t eventCategory, WinEventLogTypes eventType, std::int32_t eventID);

  // Reads the application log of MachineName; -1 filters match anything.
  bool ReadEvents(std::int32_t category, std::int32_t eventType, std::int32_t eventID, bool reverseOrder,
                  double oldestDate, std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet);

  bool RegisterCategoryMessageFile(const std::string& categoryFile, std::int32_t categoryCnt);
  bool RegisterEventMessageFile(const std::string& eventMessageFile, std::int32_t typesSupported);

  void SetReadProgressListener(ReadProgress* listener) noexcept { listener_ = listener; }
  void SetEventLogReader(std::unique_ptr<EventLogReader> reader) { reader_ = std::move(reader); }

 private:
  bool Write(const std::string& text, std::int32_t eventCategory, WinEventLogTypes eventType, std::int32_t eventID,
             bool hexErrorNumber);
  bool Scan(const EventFilter& filter, bool reverseOrder, std::vector<WinEventLogRecord>& matches);
  bool RegisterMessageFile(const char* fileValueName, const char* fileEntryName, const std::string& file,
                           const char* countValueName, std::int32_t count);
  std::string SourceSubKey() const;

  std::string applicationName_;
  std::string machineName_;
  std::vector<std::string> strings_;
  std::string lastErrorMessage_;
  ReadProgress* listener_ = nullptr;
  std::unique_ptr<EventLogReader> reader_;
};

// ---- CQuaxEventLog -------------------------------------------------------

inline constexpr char kQuaxEventSource[] = "QUAX";

class CQuaxEventLog : private ReadProgress {
 public:
  // The event type and identifier of one severity.
  struct Severity;

  CQuaxEventLog();
  // The inner log reports progress to this object.
  CQuaxEventLog(const CQuaxEventLog&) = delete;
  CQuaxEventLog& operator=(const CQuaxEventLog&) = delete;

  const std::string& LastErrorMessage() const noexcept { return log_.LastErrorMessage(); }
  const std::string& MachineName() const noexcept { return log_.MachineName(); }
  void SetMachineName(std::string name) { log_.SetMachineName(std::move(name)); }
  // The folder of the registered event message file, with its last "\".
  std::string MessageFilePath();

  void Clear() noexcept { log_.ClearStrings(); }
  void AddString(std::string value) { log_.AddString(std::move(value)); }
  bool WriteInformationEvent(std::int32_t eventCategory);
  bool WriteWarningEvent(std::int32_t eventCategory);
  bool WriteErrorEvent(std::int32_t eventCategory);

  bool ReadInformationEvents(std::int32_t category, bool reverseOrder, double oldestDate,
                             std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet);
  bool ReadWarningEvents(std::int32_t category, bool reverseOrder, double oldestDate,
                         std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet);
  bool ReadErrorEvents(std::int32_t category, bool reverseOrder, double oldestDate,
                       std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet);
  // Every event of the source; identifiers reduced to their code.
  bool ReadAllEvents(std::int32_t category, bool reverseOrder, double oldestDate,
                     std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet);

  // Registers "QuaxCategoryMsgs.dll" and "QuaxEventMsgs.dll" in the folder.
  bool RegisterMessageFiles(std::string msgFilePath);

  void SetReadProgressListener(ReadProgress* listener) noexcept { listener_ = listener; }
  void SetEventLogReader(std::unique_ptr<EventLogReader> reader) { log_.SetEventLogReader(std::move(reader)); }

 private:
  void OnReadProgress(std::int32_t recordsRead, std::int32_t recordsMatched, std::int32_t totalRecordsToRead,
                      bool& cancelFlag) override;
  bool WriteEvent(const Severity& severity, std::int32_t eventCategory);
  bool ReadEvents(const Severity& severity, std::int32_t category, bool reverseOrder, double oldestDate,
                  std::vector<WinEventLogRecord>& listRet, std::int32_t& listCntRet);

  CWinEventLog log_;
  ReadProgress* listener_ = nullptr;
};

}  // namespace quax
