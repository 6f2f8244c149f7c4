#include "record/resource_file.h"

#include <cstring>

#include "record/agg_error.h"
#include "record/byte_copy.h"
#include "record/date_time.h"
#include "record/strict_record.h"

namespace quax::agg {

namespace {

constexpr const char* kPastEnd = "Input past end of file";
constexpr int kWrittenPlaces = 6;
constexpr const char* kDateOutOfRange = "Invalid procedure call or argument: date out of range";


// The value of the first eight bytes of a date or time field, kept for the
// next record: the records of a file mostly share their dates and times.
struct DigitsMemo {
  std::uint64_t Bytes = 0;
  double Value = 0;
  bool Valid = false;

  static std::uint64_t FirstEight(std::string_view text) noexcept {
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, text.data(), 8);
    return bytes;
  }
  // `text` has at least eight bytes: only those are read by the parsers.
  bool Holds(std::string_view text) const noexcept { return Valid && FirstEight(text) == Bytes; }
  void Keep(std::string_view text, double value) noexcept {
    Bytes = FirstEight(text);
    Value = value;
    Valid = true;
  }
};

thread_local DigitsMemo lastDate;
thread_local DigitsMemo lastStartTime;
thread_local DigitsMemo lastEndTime;

class LineParser {
 public:
  LineParser(std::string_view line, std::int64_t lineNumber, std::string_view fileName,
             const FieldList& fields)
      : line_(line), lineNumber_(lineNumber), fileName_(fileName), fields_(fields) {}

  std::string_view Field(std::size_t position) const noexcept {
    return fields_[position - 1].In(line_);
  }

  [[noreturn]] void Fail(const std::string& reason) const {
    throw RecordError("Unreadable resource record at line " + std::to_string(lineNumber_) +
                          " of '" + std::string(fileName_) + "': " + reason,
                      lineNumber_);
  }

  // Day number of a YYYYMMDD field.
  double Day(std::size_t field, const char* what) const {
    const std::string_view date = Field(field);
    if (date.size() < 8) {
      Fail(std::string(what) + " date '" + ShownField(date) + "' (field " + std::to_string(field) +
           ") has fewer than 8 characters");
    }
    DigitsMemo& memo = lastDate;
    if (memo.Holds(date)) return memo.Value;
    double day = 0;
    if (!MakeDay(LongFromDigits(date.substr(0, 4)), LongFromDigits(date.substr(4, 2)),
                 LongFromDigits(date.substr(6, 2)), day)) {
      Fail(std::string(what) + " date '" + ShownField(date) + "' (field " + std::to_string(field) +
           ") is not a valid date");
    }
    memo.Keep(date, day);
    return day;
  }

  // Fraction of a day of an HH:MM:SS field (separators skipped by position).
  double Time(std::size_t field, const char* what, bool forStart) const {
    const std::string_view time = Field(field);
    if (time.size() < 8) {
      Fail(std::string(what) + " time '" + ShownField(time) + "' (field " + std::to_string(field) +
           ") has fewer than 8 characters");
    }
    DigitsMemo& memo = forStart ? lastStartTime : lastEndTime;
    if (memo.Holds(time)) return memo.Value;
    const double fraction = MakeTimeOfDay(LongFromDigits(time.substr(0, 2)),
                                          LongFromDigits(time.substr(3, 2)),
                                          LongFromDigits(time.substr(6, 2)));
    memo.Keep(time, fraction);
    return fraction;
  }

 private:
  std::string_view line_;
  std::int64_t lineNumber_;
  std::string_view fileName_;
  const FieldList& fields_;
};

void Assign(std::string& target, std::string_view value) {
  target.assign(value.data(), value.size());  // reuses the storage it has
}

// Writes into a buffer whose room the caller has made sure of.
class RawWriter {
 public:
  explicit RawWriter(char* at) noexcept : at_(at) {}
  char* At() const noexcept { return at_; }
  void Char(char c) noexcept { *at_++ = c; }
  void Bytes(std::string_view text) noexcept {
    CopyBytes(at_, text);
    at_ += text.size();
  }
  // Unsigned decimal digits, zero-padded to at least `width`.
  void Number(std::uint64_t value, int width) noexcept {
    char digits[24];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count < width) digits[count++] = '0';
    while (count > 0) *at_++ = digits[--count];
  }
  void Two(int value) noexcept {  // 0..99
    *at_++ = static_cast<char>('0' + value / 10);
    *at_++ = static_cast<char>('0' + value % 10);
  }
  void Date(const CalendarDateTime& t) noexcept {
    Number(static_cast<std::uint64_t>(t.Year), 4);
    Two(t.Month);
    Two(t.Day);
  }
  void Time(const CalendarDateTime& t) noexcept {
    Two(t.Hour);
    Char(':');
    Two(t.Minute);
    Char(':');
    Two(t.Second);
  }
  void Quoted(std::string_view text) noexcept {
    if (text.empty() || text.front() != '"') Char('"');
    Bytes(text);
    if (text.empty() || text.back() != '"') Char('"');
  }

 private:
  char* at_;
};

// The date ("YYYYMMDD") and time ("HH:MM:SS") texts of the last date-time
// written, for the next record: the records of a file mostly share them.
struct DateTimeText {
  double Date = 0;
  bool Valid = false;
  char Text[16] {};

  void Of(double date) noexcept {
    if (Valid && date == Date) return;
    const CalendarDateTime parts = SplitDateTime(date);
    RawWriter out(Text);
    out.Date(parts);
    out.Time(parts);
    Date = date;
    Valid = true;
  }
  std::string_view DatePart() const noexcept { return std::string_view(Text, 8); }
  std::string_view TimePart() const noexcept { return std::string_view(Text + 8, 8); }
};

thread_local DateTimeText lastStartText;
thread_local DateTimeText lastEndText;

constexpr std::size_t kMaxNumberText = 80;  // a value with six places, sign and point

// Every number of at most this many characters fits a decimal on reading.
constexpr std::size_t kDigitsAlwaysRead = 28;

// The length of a number written with six places, less the zeros it was
// padded with when its digits would not fit a decimal on reading (a value
// as large as 10^23 has no room for six places): the line reads back.
std::size_t ReadableLength(const char* text, std::size_t length) noexcept {
  Decimal probe;
  while (text[length - 1] == '0' && !DecimalFromDigits(std::string_view(text, length), probe)) --length;
  if (text[length - 1] == '.') --length;
  return length;
}

// Whether a record is written at all (a record whose every value is zero is
// not); throws when it cannot be.
bool HasUsage(double start, double end, TextSpan identifierNames, TextSpan identifierValues,
              TextSpan rateCodes, std::span<const Decimal> resourceValues) {
  bool anyNonZero = false;
  for (const Decimal& value : resourceValues) {
    if (!value.IsZero()) {
      anyNonZero = true;
      break;
    }
  }
  if (!anyNonZero) return false;
  if (!IsWritableDateTime(start) || !IsWritableDateTime(end)) throw Error(kDateOutOfRange);
  if (identifierNames.size() < identifierValues.size() ||
      rateCodes.size() < resourceValues.size()) {
    throw Error("Subscript out of range: fewer identifier names or rate codes than values");
  }
  return true;
}

// Room for the whole line.
std::size_t RecordLineBound(std::string_view header, std::string_view freeText, TextSpan identifierNames,
                            TextSpan identifierValues, TextSpan rateCodes,
                            std::span<const Decimal> resourceValues) noexcept {
  std::size_t bound = 96 + header.size() + freeText.size();
  for (std::size_t i = 0; i < identifierValues.size(); ++i) {
    bound += identifierNames[i].size() + identifierValues[i].size() + 6;
  }
  for (std::size_t j = 0; j < resourceValues.size(); ++j) {
    bound += rateCodes[j].size() + 2 + kMaxNumberText;
  }
  return bound;
}

// Writes the line, with its CR LF, into RecordLineBound's room at `into`;
// answers its end.
char* WriteRecordLine(char* into, std::string_view header, double start, double end, std::string_view freeText,
                      TextSpan identifierNames, TextSpan identifierValues, TextSpan rateCodes,
                      std::span<const Decimal> resourceValues) noexcept {
  RawWriter out(into);
  lastStartText.Of(start);
  lastEndText.Of(end);
  out.Bytes(header);
  out.Char(',');
  out.Bytes(lastStartText.DatePart());
  out.Char(',');
  out.Bytes(lastEndText.DatePart());
  out.Char(',');
  out.Bytes(lastStartText.TimePart());
  out.Char(',');
  out.Bytes(lastEndText.TimePart());
  out.Char(',');
  out.Bytes(freeText);
  out.Char(',');
  out.Number(identifierValues.size(), 1);
  out.Char(',');
  for (std::size_t i = 0; i < identifierValues.size(); ++i) {
    out.Quoted(identifierNames[i]);
    out.Char(',');
    out.Quoted(identifierValues[i]);
    out.Char(',');
  }
  out.Number(resourceValues.size(), 1);
  for (std::size_t j = 0; j < resourceValues.size(); ++j) {
    out.Char(',');
    out.Bytes(rateCodes[j]);
    out.Char(',');
    const Decimal& value = resourceValues[j];
    // A non-zero fraction gives exactly six places, a whole number none.
    char* at = out.At();
    const bool fraction = value.HasFraction();
    std::size_t length = value.FormatFixed(at, fraction ? kWrittenPlaces : 0);
    if (fraction && length > kDigitsAlwaysRead) length = ReadableLength(at, length);
    out = RawWriter(at + length);
  }
  out.Char('\r');
  out.Char('\n');
  return out.At();
}

}  // namespace

void AppendRecordLine(std::string& out, std::string_view header, double start, double end,
                      std::string_view freeText, TextSpan identifierNames, TextSpan identifierValues,
                      TextSpan rateCodes, std::span<const Decimal> resourceValues) {
  if (!HasUsage(start, end, identifierNames, identifierValues, rateCodes, resourceValues)) return;
  const std::size_t at = out.size();
  out.resize(at + RecordLineBound(header, freeText, identifierNames, identifierValues, rateCodes, resourceValues));
  const char* const lineEnd = WriteRecordLine(out.data() + at, header, start, end, freeText, identifierNames,
                                              identifierValues, rateCodes, resourceValues);
  out.resize(static_cast<std::size_t>(lineEnd - out.data()));
}

void ParseResourceRecordLine(std::string_view line, std::int64_t lineNumber, std::string_view fileName,
                             FieldList& fields, ResourceRecordView& out, RecordReading reading) {
  const LineParser parser(line, lineNumber, fileName, fields);
  if (reading == RecordReading::Strict) {
    LineFacts facts;
    SplitCsvFields(line, fields, facts);
    if (const std::optional<FieldFault> fault = FindStrictFault(line, fields, facts)) parser.Fail(fault->Reason);
  } else {
    SplitCsvFields(line, fields);
  }
  const std::size_t count = fields.size();
  if (count < kMinimumFields) {
    parser.Fail("the line has " + std::to_string(count) + " fields; a record has at least " +
                std::to_string(kMinimumFields));
  }
  out.Header = parser.Field(kHeaderField);
  const double startDay = parser.Day(kStartDateField, "start");
  // The end date is mostly the start date: parsed once then.
  const double endDay = parser.Field(kEndDateField) == parser.Field(kStartDateField)
                            ? startDay
                            : parser.Day(kEndDateField, "end");
  out.Start = CombineDateTime(startDay, parser.Time(kStartTimeField, "start", true));
  out.End = CombineDateTime(endDay, parser.Time(kEndTimeField, "end", false));
  out.FreeText = parser.Field(kFreeTextField);

  const std::int32_t identifiers = LongFromDigits(parser.Field(kIdentifierCountField));
  // Field of the resource count, 1-based: 8 + 2N.
  const std::int64_t resourceCountField = 8 + 2 * std::int64_t{identifiers};
  if (identifiers < 0 || resourceCountField > static_cast<std::int64_t>(count)) {
    parser.Fail("the identifier count " + std::to_string(identifiers) +
                " (field 7) announces more fields than the " + std::to_string(count) +
                " of the line");
  }
  const std::size_t n = static_cast<std::size_t>(identifiers);
  out.IdentifierNames.resize(n);
  out.IdentifierValues.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    out.IdentifierNames[i] = parser.Field(8 + 2 * i);
    out.IdentifierValues[i] = parser.Field(9 + 2 * i);
  }

  const std::size_t mField = static_cast<std::size_t>(resourceCountField);
  const std::int32_t resources = LongFromDigits(parser.Field(mField));
  const std::int64_t lastField = std::int64_t{resourceCountField} + 2 * std::int64_t{resources};
  if (resources < 0 || lastField > static_cast<std::int64_t>(count)) {
    parser.Fail("the resource count " + std::to_string(resources) + " (field " +
                std::to_string(mField) + ") announces more fields than the " +
                std::to_string(count) + " of the line");
  }
  const std::size_t m = static_cast<std::size_t>(resources);
  out.RateCodes.resize(m);
  out.ResourceValues.resize(m);
  for (std::size_t j = 0; j < m; ++j) {
    out.RateCodes[j] = parser.Field(mField + 1 + 2 * j);
    const std::string_view value = parser.Field(mField + 2 + 2 * j);
    if (!DecimalFromDigits(value, out.ResourceValues[j])) {
      parser.Fail("the resource value '" + ShownField(value) + "' (field " +
                  std::to_string(mField + 2 + 2 * j) + ") does not fit an exact decimal");
    }
  }
}

void CopyRecord(const ResourceRecordView& from, ResourceRecord& to) {
  const auto copyTexts = [](std::span<const std::string_view> texts, std::vector<std::string>& into) {
    if (into.size() != texts.size()) into.resize(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) Assign(into[i], texts[i]);
  };
  Assign(to.Header, from.Header);
  to.Start = from.Start;
  to.End = from.End;
  Assign(to.FreeText, from.FreeText);
  copyTexts(from.IdentifierNames, to.IdentifierNames);
  copyTexts(from.IdentifierValues, to.IdentifierValues);
  copyTexts(from.RateCodes, to.RateCodes);
  to.ResourceValues.assign(from.ResourceValues.begin(), from.ResourceValues.end());
}

void ParseResourceRecordLine(std::string_view line, std::int64_t lineNumber, std::string_view fileName,
                             FieldList& fields, ResourceRecord& out, RecordReading reading) {
  ResourceRecordView view;
  ParseResourceRecordLine(line, lineNumber, fileName, fields, view, reading);
  CopyRecord(view, out);
}

CResourceFile::CResourceFile() { Initialize(); }

CResourceFile::~CResourceFile() {
  try {
    FileClose();
  } catch (...) {  // a destructor reports nothing; FileClose is the checked path
  }
}

void CResourceFile::Initialize() {
  file_.Close();
  writeLength_ = 0;
  fileName_.clear();
  openMode_ = kModeRead;
  lastErrorMessage_.clear();
  recordCount_ = 0;
  lineNumber_ = 0;
  reading_ = RecordReading::Lenient;
  fields_.clear();
  fields_.Reserve(64);  // room for the fields of a typical record
}

bool CResourceFile::FileExists() const {
  if (fileName_.empty()) return false;
  return platform::NormalFileExists(fileName_);
}

std::ptrdiff_t CResourceFile::ReadFromFile(void* context, char* buffer, std::size_t size) {
  auto* self = static_cast<CResourceFile*>(context);
  return self->file_.Read(buffer, size, self->readError_);
}

bool CResourceFile::FileOpen(std::int32_t openMode) {
  lastErrorMessage_.clear();
  if (file_.IsOpen()) FileClose();
  const platform::OpenMode mode = openMode == kModeRead     ? platform::OpenMode::Read
                                  : openMode == kModeAppend ? platform::OpenMode::Append
                                                            : platform::OpenMode::Write;
  platform::FileError error;
  if (!file_.Open(fileName_, mode, error)) {
    lastErrorMessage_ = error.Text();
    return false;
  }
  openMode_ = openMode;
  lineNumber_ = 0;
  writeLength_ = 0;
  if (mode == platform::OpenMode::Read) {
    reader_.Reset(&CResourceFile::ReadFromFile, this);
  } else if (!writeBuffer_) {
    writeCapacity_ = kWriteBufferSize + 4096;
    writeBuffer_.reset(new char[writeCapacity_]);
  }
  return true;
}

bool CResourceFile::FileOpenStandardInput() {
  lastErrorMessage_.clear();
  if (file_.IsOpen()) FileClose();
  platform::FileError error;
  if (!file_.OpenStandardStream(platform::OpenMode::Read, error)) {
    lastErrorMessage_ = error.Text();
    return false;
  }
  openMode_ = kModeRead;
  lineNumber_ = 0;
  writeLength_ = 0;
  reader_.Reset(&CResourceFile::ReadFromFile, this);
  return true;
}

void CResourceFile::ThrowFileError(const platform::FileError& error) const {
  throw Error(error.Text() + " ('" + fileName_ + "')");
}

bool CResourceFile::FileRead(ResourceRecordView& record) {
  lastErrorMessage_.clear();
  if (!file_.IsOpen()) throw Error(kFileNotOpen);
  if (openMode_ != kModeRead) throw Error(kNotForReading);
  std::string_view line;
  switch (reader_.Next(line)) {
    case LineReader::Result::Line:
      break;
    case LineReader::Result::End:
      throw RecordError(std::string(kPastEnd) + " after line " + std::to_string(lineNumber_) +
                            " of '" + fileName_ + "'",
                        lineNumber_ + 1);
    case LineReader::Result::TooLong:
      throw RecordError("Unreadable resource record at line " + std::to_string(lineNumber_ + 1) +
                            " of '" + fileName_ + "': the line is longer than " +
                            std::to_string(LineReader::kMaxLineLength) + " bytes",
                        lineNumber_ + 1);
    case LineReader::Result::ReadFailed:
      ThrowFileError(readError_);
  }
  TakeRecord(line, record);
  return true;
}

void CResourceFile::TakeRecord(std::string_view line, ResourceRecordView& record) {
  ++lineNumber_;
  ParseResourceRecordLine(line, lineNumber_, fileName_, fields_, record, reading_);
  recordCount_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(recordCount_) - 1u);
}

bool CResourceFile::FileReadBuffered(ResourceRecordView& record) {
  if (!file_.IsOpen() || openMode_ != kModeRead) return false;
  std::string_view line;
  if (!reader_.NextBuffered(line)) return false;
  lastErrorMessage_.clear();
  TakeRecord(line, record);
  return true;
}

bool CResourceFile::FileRead(ResourceRecord& record) {
  FileRead(view_);
  CopyRecord(view_, record);
  return true;
}

bool CResourceFile::WriteBuffered(platform::FileError& error) {
  if (writeLength_ == 0) return true;
  const bool written = file_.Write(writeBuffer_.get(), writeLength_, error);
  writeLength_ = 0;
  return written;
}

void CResourceFile::Flush() {
  platform::FileError error;
  if (!WriteBuffered(error)) ThrowFileError(error);
}

bool CResourceFile::FileFlush() {
  lastErrorMessage_.clear();
  platform::FileError error;
  if (WriteBuffered(error)) return true;
  lastErrorMessage_ = error.Text();
  return false;
}

bool CResourceFile::FileWrite(std::string_view header, double start, double end,
                              std::string_view freeText, TextSpan identifierNames,
                              TextSpan identifierValues, TextSpan rateCodes,
                              std::span<const Decimal> resourceValues) {
  lastErrorMessage_.clear();
  if (!file_.IsOpen()) {
    lastErrorMessage_ = kFileNotOpen;
    return false;
  }
  if (openMode_ == kModeRead) {
    lastErrorMessage_ = kReadOnly;
    return false;
  }
  if (!HasUsage(start, end, identifierNames, identifierValues, rateCodes, resourceValues)) return true;
  const std::size_t bound =
      RecordLineBound(header, freeText, identifierNames, identifierValues, rateCodes, resourceValues);
  if (writeLength_ + bound > writeCapacity_) {
    Flush();
    if (bound > writeCapacity_) {
      writeBuffer_.reset(new char[bound]);
      writeCapacity_ = bound;
    }
  }
  char* const lineEnd = WriteRecordLine(writeBuffer_.get() + writeLength_, header, start, end, freeText,
                                        identifierNames, identifierValues, rateCodes, resourceValues);
  writeLength_ = static_cast<std::size_t>(lineEnd - writeBuffer_.get());
  if (writeLength_ >= kWriteBufferSize) Flush();
  recordCount_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(recordCount_) + 1u);
  return true;
}

bool CResourceFile::AtEOF() {
  if (!file_.IsOpen()) {
    lastErrorMessage_ = kFileNotOpen;
    return true;
  }
  if (openMode_ != kModeRead) {
    lastErrorMessage_ = kNotForReading;
    return true;
  }
  return reader_.AtEnd();
}

void CResourceFile::FileClose() {
  lastErrorMessage_.clear();
  if (!file_.IsOpen()) return;
  platform::FileError error;
  const bool written = WriteBuffered(error);
  file_.Close();
  reader_.Reset(nullptr, nullptr);
  if (!written) ThrowFileError(error);
}

bool CResourceFile::FileRemove() {
  lastErrorMessage_.clear();
  FileClose();
  if (fileName_.empty()) {
    lastErrorMessage_ = kNoFileName;
    return false;
  }
  if (!platform::NormalFileExists(fileName_)) {
    lastErrorMessage_ = "File '" + fileName_ + "' not found.";
    return false;
  }
  platform::FileError error;
  platform::RemoveFile(fileName_, error);  // the search below decides
  if (platform::NormalFileExists(fileName_)) {
    lastErrorMessage_ = "Unable to verify file '" + fileName_ + "' was removed.";
    return false;
  }
  return true;
}

bool CResourceFile::FileRename(const std::string& newFileName) {
  lastErrorMessage_.clear();
  if (file_.IsOpen()) {
    lastErrorMessage_ = kRenameFileOpen;
    return false;
  }
  if (fileName_.empty()) {
    lastErrorMessage_ = kRenameNoFileName;
    return false;
  }
  if (newFileName.empty()) {
    lastErrorMessage_ = kRenameNoNewName;
    return false;
  }
  if (!platform::NormalFileExists(fileName_)) {
    lastErrorMessage_ = "Unable to get file information for '" + fileName_ + "'";
    return false;
  }
  platform::FileError error;
  // An error of the rename itself ends with false and no further message.
  return platform::RenameInFolder(fileName_, newFileName, error);
}

}  // namespace quax::agg
