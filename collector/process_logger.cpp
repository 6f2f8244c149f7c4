#include "process_logger.h"

#include <cstring>

#include "diagnostics.h"
#include "process_info.h"
#include "unique_handle.h"

namespace quax {

namespace {

constexpr char kWriteLabel[] = "QUAXWINPROCESS: CProcessLoggerCSV::WriteProcessEntry";
// Directory, backslash, prefix, date and extension.
constexpr std::size_t kFileNameSize = 3 * kTextFieldSize + 16;
constexpr std::size_t kHeaderSize = 512;

// Opens the day's file for appending, held exclusively so that the header
// decision and the record are not interleaved with another writer. The file
// is opened or created in one step: an existing file is never truncated.
unique_handle OpenExclusive(const char* fileName) noexcept {
  return unique_handle(CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WriteAll(HANDLE file, const char* text, std::size_t length) noexcept {
  DWORD written = 0;
  return WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) && written == length;
}

}  // namespace

CProcessLoggerCSV::CProcessLoggerCSV() noexcept : platform_{&GetLocalTime, &Sleep} {
  CTraceScope scope("QUAXWINPROCESS: CProcessLoggerCSV ctor");
  CopyText(extension_, kDefaultExtension);
  CopyText(prefix_, kDefaultPrefix);
}

CProcessLoggerCSV::~CProcessLoggerCSV() {
  CTraceScope scope("QUAXWINPROCESS: CProcessLoggerCSV dtor");
}

bool CProcessLoggerCSV::IsLogFilePathValid() {
  if (directory_[0] == '\0') return false;
  unique_handle directory(CreateFileA(directory_, 0, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!directory) return false;
  // A plain file of that name opens too, but cannot hold the log files.
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileInformationByHandle(directory.get(), &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void CProcessLoggerCSV::SetEventLog(CServiceEventLog* eventLog) { eventLog_ = eventLog; }

std::size_t CProcessLoggerCSV::SetLogFileExtension(const char* extension) {
  return CopyText(extension_, extension ? extension : kDefaultExtension);
}

// A delimiter that other fields hold would break every line: the writer
// keeps the one it has (TAB unless set before).
void CProcessLoggerCSV::SetLogFileFieldDelimiter(char delimiter) {
  if (IsUsableDelimiter(delimiter)) delimiter_ = delimiter;
}

void CProcessLoggerCSV::SetLogFilePath(const char* path) {
  const std::size_t size = CopyText(directory_, path);
  if (size >= 2 && directory_[size - 2] == '\\') directory_[size - 2] = '\0';
}

std::size_t CProcessLoggerCSV::SetLogFilePrefix(const char* prefix) {
  return CopyText(prefix_, prefix && prefix[0] != '\0' ? prefix : kDefaultPrefix);
}

void CProcessLoggerCSV::SetIntervalAccounting(bool enabled) { intervalAccounting_ = enabled; }

void CProcessLoggerCSV::SetWriteIntervalEndRecords(bool enabled) { writeEndRecords_ = enabled; }

bool CProcessLoggerCSV::WriteProcessEntry(char recordType, CProcessInfo* snapshot) {
  if (snapshot == nullptr || !IsRecordType(recordType)) return false;
  if (snapshot->ProcessName[0] == '\0') return true;
  if (recordType == static_cast<char>(RecordType::End) && !writeEndRecords_) return true;

  SYSTEMTIME today;
  platform_.LocalTime(&today);
  char fileName[kFileNameSize];
  FormatLogFileName(fileName, sizeof fileName, directory_, prefix_, today.wYear, today.wMonth,
                    today.wDay, extension_);

  CTraceScope scope(kWriteLabel, false);
  scope.Trace("Pid=%lu, RecType='%c', FileName='%s'", static_cast<unsigned long>(snapshot->ProcessId),
              recordType, fileName);

  // Both lines are ready before the file is taken, so it is held only for
  // the one write.
  char text[kHeaderSize + kMaxRecordLineSize];
  const std::size_t headerLength = FormatHeaderRecord(text, kHeaderSize, delimiter_, columns_);
  RecordDates dates;
  snapshot->ConvertFileTime(snapshot->CreationTime, &dates.Created);
  snapshot->ConvertFileTime(snapshot->ExitTime, &dates.Exited);
  snapshot->ConvertFileTime(snapshot->IntervalStart, &dates.IntervalStart);
  snapshot->ConvertFileTime(snapshot->IntervalEnd, &dates.IntervalEnd);
  const std::size_t recordLength =
      FormatUsageRecord(text + headerLength, sizeof text - headerLength,
                        static_cast<RecordType>(recordType), *snapshot, dates,
                        snapshot->IsRunning(), delimiter_, columns_);

  unique_handle file = OpenExclusive(fileName);
  for (int attempt = 1; !file && attempt < kOpenAttempts; ++attempt) {
    platform_.Pause(kOpenRetryMilliseconds);
    file = OpenExclusive(fileName);
  }
  if (!file) {
    scope.Trace("Unable to open file '%s'", fileName);
    if (eventLog_ != nullptr) {
      eventLog_->ReportError("Unable to open log file '%s' for pid#%lu (%s)", fileName,
                             static_cast<unsigned long>(snapshot->ProcessId), snapshot->ProcessName);
    }
    return false;
  }

  // Under the exclusive hold an empty file is a new one: it gets the header.
  LARGE_INTEGER end = {};
  const bool positioned = SetFilePointerEx(file.get(), LARGE_INTEGER{}, &end, FILE_END) != FALSE;
  const bool newFile = positioned && end.QuadPart == 0;
  if (newFile) scope.Trace("Writing header record");
  const char* begin = newFile ? text : text + headerLength;
  const std::size_t length = newFile ? headerLength + recordLength : recordLength;
  const bool written = positioned && recordLength != 0 && WriteAll(file.get(), begin, length);
  file.reset();
  if (!written) {
    scope.Trace("Unable to write file '%s'", fileName);
    if (eventLog_ != nullptr) {
      eventLog_->ReportError("Unable to write log file '%s' for pid#%lu (%s)", fileName,
                             static_cast<unsigned long>(snapshot->ProcessId), snapshot->ProcessName);
    }
    return false;
  }
  scope.Trace("Write completed.");
  return true;
}

}  // namespace quax
