// CResourceFile: reads and writes one resource record file, one
// comma-separated record per line:
//   HDR,20240131,20240131,00:00:00,23:59:59,,2,"Name1","Value1","Name2","Value2",2,RATE1,12.500000,RATE2,3
//
// Reading splits each line into views of one reused line buffer (the CSV rule
// of CStringBuilder::CSVSplit) and parses in place; a caller's output arrays are resized only
// when their element count changes and its strings reuse their storage.
// Writing formats numbers itself with "." as the decimal point, so the user's
// locale settings are never touched.
//
// Errors that reach the caller (reading with no file open, past
// the end, a line lacking the fields its counts announce or otherwise
// unreadable) are thrown as RecordError/Error naming the file and line.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "record/decimal.h"
#include "record/field_parsing.h"
#include "record/line_reader.h"
#include "platform/platform_files.h"

namespace quax::agg {

// Field positions of a resource record line, 1-based.
inline constexpr std::size_t kHeaderField = 1;
inline constexpr std::size_t kStartDateField = 2;
inline constexpr std::size_t kEndDateField = 3;
inline constexpr std::size_t kStartTimeField = 4;
inline constexpr std::size_t kEndTimeField = 5;
inline constexpr std::size_t kFreeTextField = 6;
inline constexpr std::size_t kIdentifierCountField = 7;
inline constexpr std::size_t kMinimumFields = 8;  // up to a resource count with no identifiers

// A list of texts held either as strings or as views, for writers that take
// both without copying.
class TextSpan {
 public:
  TextSpan(std::span<const std::string> texts) noexcept  // NOLINT: implicit on purpose
      : data_(texts.data()), size_(texts.size()), views_(false) {}
  TextSpan(std::span<const std::string_view> texts) noexcept  // NOLINT
      : data_(texts.data()), size_(texts.size()), views_(true) {}
  TextSpan(const std::vector<std::string>& texts) noexcept  // NOLINT
      : TextSpan(std::span<const std::string>(texts)) {}
  TextSpan(const std::vector<std::string_view>& texts) noexcept  // NOLINT
      : TextSpan(std::span<const std::string_view>(texts)) {}

  std::size_t size() const noexcept { return size_; }
  std::string_view operator[](std::size_t i) const noexcept {
    return views_ ? static_cast<const std::string_view*>(data_)[i]
                  : std::string_view(static_cast<const std::string*>(data_)[i]);
  }

 private:
  const void* data_;
  std::size_t size_;
  bool views_;
};

// One resource record as read or written: ResourceRecord owns its texts,
// ResourceRecordView holds views into the line it was read from (valid until
// the next read; parsing into it copies no text).
template <class Text>
struct BasicResourceRecord {
  Text Header;
  double Start = 0;
  double End = 0;
  Text FreeText;
  std::vector<Text> IdentifierNames;
  std::vector<Text> IdentifierValues;
  std::vector<Text> RateCodes;
  std::vector<Decimal> ResourceValues;
};
using ResourceRecord = BasicResourceRecord<std::string>;
using ResourceRecordView = BasicResourceRecord<std::string_view>;

void CopyRecord(const ResourceRecordView& from, ResourceRecord& to);

// Lenient reading takes the digits of every field as they come (the
// library's reading); strict reading refuses every field it would change
// (record/strict_record.h).
enum class RecordReading { Lenient, Strict };

// Parses one record line (without its line end) into out. Throws RecordError
// whose message names `fileName` and `lineNumber`. `fields` is scratch
// storage reused across calls.
void ParseResourceRecordLine(std::string_view line, std::int64_t lineNumber, std::string_view fileName,
                             FieldList& fields, ResourceRecordView& out,
                             RecordReading reading = RecordReading::Lenient);
void ParseResourceRecordLine(std::string_view line, std::int64_t lineNumber, std::string_view fileName,
                             FieldList& fields, ResourceRecord& out,
                             RecordReading reading = RecordReading::Lenient);

// Appends the line CResourceFile::FileWrite writes for these fields (CR LF
// included) to `out`; nothing for a record whose every value is zero, as
// FileWrite writes none. Throws as FileWrite.
void AppendRecordLine(std::string& out, std::string_view header, double start, double end,
                      std::string_view freeText, TextSpan identifierNames, TextSpan identifierValues,
                      TextSpan rateCodes, std::span<const Decimal> resourceValues);
inline void AppendRecordLine(std::string& out, const ResourceRecord& record) {
  AppendRecordLine(out, record.Header, record.Start, record.End, record.FreeText, record.IdentifierNames,
                   record.IdentifierValues, record.RateCodes, record.ResourceValues);
}

class CResourceFile {
 public:
  static constexpr const char* kFileNotOpen = "File not open.";
  static constexpr const char* kReadOnly = "File opened for READ ONLY.";
  static constexpr const char* kNotForReading = "File not opened for reading.";
  static constexpr const char* kNoFileName = "Filename not specified.";
  static constexpr const char* kRenameFileOpen = "File is open.";
  static constexpr const char* kRenameNoFileName = "Filename has not been specified.";
  static constexpr const char* kRenameNoNewName = "A new filename has not been specified.";
  static constexpr std::int32_t kModeRead = 1;
  static constexpr std::int32_t kModeWrite = 2;
  static constexpr std::int32_t kModeAppend = 3;
  static constexpr std::size_t kWriteBufferSize = 32000;  // bytes written per call

  CResourceFile();
  ~CResourceFile();
  CResourceFile(const CResourceFile&) = delete;
  CResourceFile& operator=(const CResourceFile&) = delete;

  void Initialize();

  const std::string& FileName() const noexcept { return fileName_; }
  void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }
  bool IsFileOpen() const noexcept { return file_.IsOpen(); }
  const std::string& LastErrorMessage() const noexcept { return lastErrorMessage_; }
  std::int32_t RecordCount() const noexcept { return recordCount_; }
  // Lines read since the file was opened.
  std::int64_t LineNumber() const noexcept { return lineNumber_; }

  bool FileExists() const;
  // 1 read, 3 append, anything else write (create or truncate).
  bool FileOpen(std::int32_t openMode);
  // Opens the process's standard input for reading; FileName() is how
  // messages name it.
  bool FileOpenStandardInput();
  // Strict reading refuses malformed fields (RecordReading); Initialize
  // returns to the lenient reading.
  void SetStrictReading(bool strict) noexcept {
    reading_ = strict ? RecordReading::Strict : RecordReading::Lenient;
  }
  // Reads the next record; throws (see above).
  bool FileRead(ResourceRecord& record);
  // The same without copying: the views are valid until the next FileRead
  // or AtEOF.
  bool FileRead(ResourceRecordView& record);
  // Reads the next record only when its line is already buffered (false
  // otherwise, or at the end): it reads nothing from the file, so the views
  // of the records read before stay valid. Throws as FileRead.
  bool FileReadBuffered(ResourceRecordView& record);
  bool FileWrite(std::string_view header, double start, double end, std::string_view freeText,
                 TextSpan identifierNames, TextSpan identifierValues, TextSpan rateCodes,
                 std::span<const Decimal> resourceValues);
  bool FileWrite(const ResourceRecord& record) {
    return FileWrite(record.Header, record.Start, record.End, record.FreeText,
                     record.IdentifierNames, record.IdentifierValues, record.RateCodes,
                     record.ResourceValues);
  }
  bool AtEOF();
  // Writes what is buffered: false with the error in LastErrorMessage ("Error
  // #61: Disk full"), the buffered lines then being dropped.
  bool FileFlush();
  // Writes what is buffered and closes; a failed write of the buffer throws
  // Error after the file is closed.
  void FileClose();
  bool FileRemove();
  bool FileRename(const std::string& newFileName);

 private:
  static std::ptrdiff_t ReadFromFile(void* context, char* buffer, std::size_t size);
  void Flush();
  // Writes the buffered lines and forgets them; false with `error`.
  bool WriteBuffered(platform::FileError& error);
  void TakeRecord(std::string_view line, ResourceRecordView& record);
  [[noreturn]] void ThrowFileError(const platform::FileError& error) const;

  std::string fileName_;
  platform::File file_;
  std::int32_t openMode_ = kModeRead;
  std::string lastErrorMessage_;
  std::int32_t recordCount_ = 0;
  std::int64_t lineNumber_ = 0;
  RecordReading reading_ = RecordReading::Lenient;
  LineReader reader_;
  FieldList fields_;
  ResourceRecordView view_;  // scratch of FileRead(ResourceRecord&)
  std::unique_ptr<char[]> writeBuffer_;  // lines not yet written to the file
  std::size_t writeLength_ = 0;
  std::size_t writeCapacity_ = 0;
  platform::FileError readError_;
};

}  // namespace quax::agg
