#include "engine/typed_engine.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <new>

#include "record/byte_copy.h"
#include "record/date_time.h"
#include "record/record_text.h"
#include "platform/platform_files.h"
#include "platform/platform_system.h"

namespace quax::agg {
namespace {

constexpr std::string_view kKeySeparator("\0\0", 2);
constexpr std::uint64_t kMaximumSummedMantissa = 99999999999ull;
constexpr const char* kProcessName = "QUAX Aggregate";
constexpr const char* kCrLf = "\r\n";
constexpr const char* kNoMemory = "There is no memory available to build an aggregation list.";
constexpr const char* kNotAdded = "; the entry was not added.";

constexpr std::string_view kDateKeywords[] = {"**CURDAY", "**RNDATE", "**CURWEK",
                                              "**CURMON", "CURRENT",  "**PREDAY",
                                              "**PREWEK", "**PREMON", "PREVIOUS"};

// At most 99,999,999,999: a mantissa of at most eleven nines is, whatever
// the scale; everything else is compared exactly.
bool WithinCap(const Decimal& value) noexcept {
  if (value.IsNegative()) return true;
  if (value.Hi32() == 0 && value.Lo64() <= kMaximumSummedMantissa) return true;
  return Decimal::Compare(value, TypedEngine::MaximumSummedValue()) <= 0;
}

bool IsPositive(const Decimal& value) noexcept { return !value.IsNegative() && !value.IsZero(); }

// The largest value that kMaximumResourceSets sets can take from zero.
constexpr Decimal kLargestAggregate = Decimal::FromInt64(
    TypedEngine::kMaximumResourceSets * static_cast<std::int64_t>(kMaximumSummedMantissa));

bool BeyondAllSets(const Decimal& value) noexcept {
  return !WithinCap(value) && Decimal::Compare(value, kLargestAggregate) > 0;
}

// Adds `value` to one resource of `setCount` sets (its cell of set s at
// cells[s * stride]) by the summing rule: each set takes what keeps it within
// the cap, a set whose sum the decimal cannot hold is skipped. Answers the
// part no set took. Over const cells it only works that part out.
template <class Cell>
Decimal SumIntoSets(Cell* cells, std::size_t setCount, std::size_t stride, Decimal value) {
  for (std::size_t s = 0; s < setCount; ++s) {
    Cell& cell = cells[s * stride];
    Decimal sum;
    if (!Decimal::TryAdd(cell, value, sum)) continue;
    if (WithinCap(sum)) {
      if constexpr (!std::is_const_v<Cell>) cell = sum;
      return Decimal();
    }
    if (WithinCap(cell)) {
      if constexpr (!std::is_const_v<Cell>) cell = TypedEngine::MaximumSummedValue();
      value = sum - TypedEngine::MaximumSummedValue();
    }
  }
  return value;
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

double EndOfDay(double day) { return CombineDateTime(day, MakeTimeOfDay(23, 59, 59)); }

// The record rule's verdict as a sentence of its own.
std::string TextRefusal(RecordText kind, std::string_view text, const std::string& reason) {
  std::string message = RecordTextFaultText(kind, text, reason);
  message[0] = 'T';  // "the ..."
  return message;
}

std::string DateRefusal(const char* which, double date) {
  char shown[32];
  std::snprintf(shown, sizeof shown, "%.17g", date);
  return std::string("The ") + which + " date-time " + shown +
         " is not a date between 1 January 100 and 31 December 9999" + kNotAdded;
}

double LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  double day = 0;
  MakeDay(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, day);
  return day;
}

}  // namespace

bool ResolveDateKeyword(std::string_view keyword, double today, double& start, double& end) {
  const auto dayNumber = static_cast<std::int64_t>(today);
  const auto weekday = static_cast<int>(((dayNumber + 6) % 7 + 7) % 7);  // 0 = Sunday
  const CalendarDateTime parts = SplitDateTime(today);
  double first = 0;
  double last = 0;
  if (keyword == "**CURDAY" || keyword == "**RNDATE") {
    first = last = today;
  } else if (keyword == "**CURWEK") {
    first = today - weekday;
    last = first + 6;
  } else if (keyword == "**CURMON" || keyword == "CURRENT") {
    if (!MakeDay(parts.Year, parts.Month, 1, first) || !MakeDay(parts.Year, parts.Month + 1, 0, last)) {
      return false;
    }
  } else if (keyword == "**PREDAY") {
    first = last = today - 1;
  } else if (keyword == "**PREWEK") {
    first = today - weekday - 7;
    last = first + 6;
  } else if (keyword == "**PREMON" || keyword == "PREVIOUS") {
    if (!MakeDay(parts.Year, parts.Month - 1, 1, first) || !MakeDay(parts.Year, parts.Month, 0, last)) {
      return false;
    }
  } else {
    return false;
  }
  start = first;
  end = EndOfDay(last);
  return true;
}

Decimal RoundHalfUp(const Decimal& value, std::int32_t places) {
  // A value with no more places than asked is already exact.
  if (places >= 0 && value.Scale() <= places) return value;
  const Decimal factor = Decimal::FromDouble(std::pow(10.0, places));
  const Decimal half = Decimal::FromMantissa64(5, 1, false);
  return (value * factor + half).Floor() / factor;
}

std::string_view TypedEngine::DayText::Of(double date) noexcept {
  const auto day = static_cast<std::int64_t>(date);
  if (day != Day || Length == 0) {
    Length = static_cast<std::size_t>(std::to_chars(Digits, Digits + sizeof Digits, day).ptr - Digits);
    Day = day;
  }
  return std::string_view(Digits, Length);
}

struct TypedEngine::Layout {
  std::string Header;
  std::vector<std::int32_t> IdentifierNameIds;
  std::vector<std::int32_t> RateCodeIds;
  std::uint64_t Serial = 0;  // tells layouts apart in the work files
};

namespace {

// The sums of an entry: up to kInline cells live in the entry itself, so that
// a merge reads no memory beyond the entry; more cells move to the heap.
class SumCells {
 public:
  static constexpr std::size_t kInline = 4;

  Decimal* Data() noexcept { return size_ <= kInline ? inline_.data() : heap_.data(); }
  const Decimal* Data() const noexcept { return size_ <= kInline ? inline_.data() : heap_.data(); }
  Decimal& operator[](std::size_t i) noexcept { return Data()[i]; }
  const Decimal& operator[](std::size_t i) const noexcept { return Data()[i]; }
  std::size_t size() const noexcept { return size_; }
  // Where the inline cells end, for loading an entry ahead.
  const char* InlineEnd() const noexcept { return reinterpret_cast<const char*>(inline_.data() + kInline); }
  // Grows to `count` cells (sums never shrink): kept cells keep their
  // values, new cells are zero.
  void Grow(std::size_t count) {
    if (count > kInline) {
      if (size_ <= kInline) heap_.assign(inline_.begin(), inline_.begin() + static_cast<std::ptrdiff_t>(size_));
      heap_.resize(count);
    }
    size_ = count;
  }

 private:
  std::size_t size_ = 0;  // first: a merge reads it, then the inline cells
  std::array<Decimal, kInline> inline_ {};
  std::vector<Decimal> heap_;
};

}  // namespace

// The fields a merge touches come first.
struct TypedEngine::Entry {
  double Start = 0;
  double End = 0;
  std::size_t ResourceCount = 0;
  std::int32_t SetCount = 1;
  std::int32_t MergeCount = 1;
  SumCells Sums;  // SetCount sets of ResourceCount sums
  std::shared_ptr<const Layout> EntryLayout;
  std::vector<std::string> IdentifierValues;
};

namespace {

std::string EventTextHead() {
  return std::string("Process: ") + kProcessName + kCrLf + "Process Id: " +
         std::to_string(platform::CurrentProcessId()) + kCrLf;
}

}  // namespace

std::string ResultsEventText(std::string_view results) {
  return EventTextHead() + " Results" + kCrLf + kCrLf + std::string(results);
}

std::string WriteErrorEventText(std::string_view message) {
  return EventTextHead() + "Error in writing resource file: " + std::string(message);
}

TypedEngine::TypedEngine() : reporter_(MakeDefaultEventReporter()) {
  keyMap_.SetInitialListSize(kKeyMapInitialListSize);
  identifierNameMap_.SetInitialListSize(kNameMapInitialListSize);
  rateCodeMap_.SetInitialListSize(kNameMapInitialListSize);
}

TypedEngine::~TypedEngine() { process_.SetPriorityClass(EProcessPriorityClass_Normal); }

// ---- Definitions ----------------------------------------------------------

std::int32_t TypedEngine::RefuseDefinition(Definition part, std::string message) {
  lastErrorMessage_ = message;
  refusedDefinitions_[static_cast<std::size_t>(part)] = std::move(message);
  definitionRefused_ = true;
  return EQUAX_RETURN_CODE_ERROR;
}

void TypedEngine::ForgetRefusal(Definition part) noexcept {
  refusedDefinitions_[static_cast<std::size_t>(part)].clear();
  definitionRefused_ = std::any_of(refusedDefinitions_.begin(), refusedDefinitions_.end(),
                                   [](const std::string& message) { return !message.empty(); });
}

std::int32_t TypedEngine::DefineResourceRecordHeader(std::string_view header) {
  if (header.empty()) header = "NONE";
  ForgetRefusal(Definition::Header);
  if (header != header_) {
    header_.assign(header);
    layout_.reset();
    ++keyGeneration_;
  }
  if (const std::optional<std::string> reason = UnwritableText(header, RecordText::Header)) {
    return RefuseDefinition(Definition::Header, TextRefusal(RecordText::Header, header, *reason) + ".");
  }
  return EQUAX_RETURN_CODE_OK;
}

// The identifier values a caller passes follow the identifier definitions,
// so a lookahead key built before a change of them is not used after it.
void TypedEngine::ClearIdentifierList() {
  identifierIds_.clear();
  identifierNames_.clear();
  ++identifierRedefinitions_;
  layout_.reset();
  ++keyGeneration_;
  ForgetRefusal(Definition::Identifiers);
}

std::int32_t TypedEngine::DefineIdentifier(std::string_view identifierName) {
  identifierIds_.push_back(identifierNameMap_.AddorGetValueId(identifierName) - 1);
  identifierNames_.emplace_back(identifierName);
  layout_.reset();
  ++keyGeneration_;
  if (const std::optional<std::string> reason = UnwritableText(identifierName, RecordText::IdentifierName)) {
    return RefuseDefinition(Definition::Identifiers,
                            TextRefusal(RecordText::IdentifierName, identifierName, *reason) + ".");
  }
  return EQUAX_RETURN_CODE_OK;
}

void TypedEngine::ClearResourceList() {
  rateCodeIds_.clear();
  rateCodes_.clear();
  conversionFactors_.clear();
  convertedResources_.clear();
  decimalPositions_.clear();
  ++resourceRedefinitions_;
  layout_.reset();
  ForgetRefusal(Definition::Resources);
}

std::int32_t TypedEngine::DefineResource(std::string_view rateCode, double conversionFactor,
                                         std::int32_t decimalPositions) {
  const std::string_view code = rateCode.substr(0, std::min(rateCode.size(), kRateCodeLength));
  rateCodeIds_.push_back(rateCodeMap_.AddorGetValueId(code) - 1);
  rateCodes_.emplace_back(code);
  const Decimal factor = Decimal::FromDouble(conversionFactor);
  if (factor != Decimal(1)) convertedResources_.push_back(conversionFactors_.size());
  conversionFactors_.push_back(factor);
  decimalPositions_.push_back(decimalPositions);
  layout_.reset();
  // The code as it is written: its first eight characters.
  if (const std::optional<std::string> reason = UnwritableText(code, RecordText::RateCode)) {
    return RefuseDefinition(Definition::Resources, TextRefusal(RecordText::RateCode, code, *reason) + ".");
  }
  return EQUAX_RETURN_CODE_OK;
}

void TypedEngine::SetDateKeyword(std::string_view value) {
  lastErrorMessage_.clear();
  if (value.empty()) {
    dateKeyword_.clear();
    ForgetResolvedDates();
    return;
  }
  const std::string upper = UpperCase(value);
  if (std::find(std::begin(kDateKeywords), std::end(kDateKeywords), upper) == std::end(kDateKeywords)) {
    lastErrorMessage_ = std::string(value) + " is not a valid date keyword.";
    return;
  }
  dateKeyword_ = upper;
  ForgetResolvedDates();
}

void TypedEngine::SetProcessPriorityClass(std::int32_t value) noexcept {
  if (CWin32Process::IsValidPriorityClass(value)) processPriorityClass_ = value;
}

const std::shared_ptr<const TypedEngine::Layout>& TypedEngine::CurrentLayout() {
  if (!layout_) {
    layout_ = std::make_shared<const Layout>(Layout {header_, identifierIds_, rateCodeIds_, ++layoutSerials_});
  }
  return layout_;
}

// ---- Initialize -----------------------------------------------------------

bool TypedEngine::Initialize(std::int32_t maxEntries) {
  ++keyGeneration_;
  dateAggregation_ = EDateAggregation_Both;
  maxEntries_ = maxEntries;
  ClearTable();
  dataValidation_ = false;
  dateKeyword_.clear();
  dateStart_ = kNoDate;
  dateEnd_ = kNoDate;
  ForgetResolvedDates();
  counters_.Initialize();
  enableDebugCounters_ = false;
  rejects_.Initialize();
  identifierIds_.clear();
  identifierNames_.clear();
  identifierNameMap_.Initialize();
  identifierNameMap_.SetInitialListSize(kNameMapInitialListSize);
  identifierRedefinitions_ = 0;
  lastErrorMessage_.clear();
  outputFile_.Initialize();
  header_ = "NONE";
  rateCodeIds_.clear();
  rateCodes_.clear();
  conversionFactors_.clear();
  convertedResources_.clear();
  decimalPositions_.clear();
  rateCodeMap_.Initialize();
  rateCodeMap_.SetInitialListSize(kNameMapInitialListSize);
  resourceRedefinitions_ = 0;
  layout_.reset();
  for (std::string& refused : refusedDefinitions_) refused.clear();
  definitionRefused_ = false;
  lostRun_.clear();
  memoryMinimum_ = 16;
  memory_.Refresh();
  memoryMaximum_ = DefaultMemoryMaximumMB(memory_.PhysicalMemoryAvailableMB(), memory_.VirtualMemoryAvailableMB());
  memory_.SetWorkingSetSizeMB(memoryMinimum_ == 0 ? -1 : memoryMinimum_,
                              memoryMaximum_ == 0 ? -1 : memoryMaximum_);
  process_.SetPriorityClass(processPriorityClass_ != 0 ? processPriorityClass_
                                                        : EProcessPriorityClass_BelowNormal);
  writing_ = false;
  newKeyRequests_ = 0;
  lastGrowthAnswer_ = true;
  return true;
}

void TypedEngine::ClearTable() {
  table_.clear();
  table_.shrink_to_fit();
  tableCapacity_ = 0;
  keyMap_.Initialize();
  // A fixed maximum bounds the keys of a pass: a smaller first list spares
  // every pass of a small table the allocation of a million slots.
  keyMap_.SetInitialListSize(maxEntries_ > 0 ? std::min(maxEntries_, kKeyMapInitialListSize)
                                             : kKeyMapInitialListSize);
  // The first new key of the emptied table asks the memory budget afresh.
  newKeyRequests_ = 0;
  writeLayout_ = nullptr;
}

// ---- AddEntry -------------------------------------------------------------

std::int32_t TypedEngine::Fail(std::string message) {
  lastErrorMessage_ = std::move(message);
  StopAddEntryTimer();
  return EQUAX_RETURN_CODE_ERROR;
}

void TypedEngine::StopAddEntryTimer() noexcept {
  if (enableDebugCounters_) counters_.StopProcessTimeInterval_AddEntry();
}

const std::string* TypedEngine::EntryRefusal() const noexcept {
  if (!lostRun_.empty()) return &lostRun_;
  if (!definitionRefused_) return nullptr;
  for (const std::string& refused : refusedDefinitions_) {
    if (!refused.empty()) return &refused;
  }
  return nullptr;
}

std::optional<std::string> TypedEngine::UnwritableIdentifierValue(std::span<const std::string_view> values) const {
  for (const std::string_view value : values) {
    if (FindUnholdableByte(value, RecordText::IdentifierValue) == std::string_view::npos) continue;
    if (const std::optional<std::string> reason = UnwritableText(value, RecordText::IdentifierValue)) {
      return TextRefusal(RecordText::IdentifierValue, value, *reason) + kNotAdded;
    }
  }
  return std::nullopt;
}

std::int32_t TypedEngine::RefuseEntry(std::string message) {
  CountAddEntry();
  return Fail(std::move(message));
}

void TypedEngine::CountAddEntry() noexcept {
  if (enableDebugCounters_) counters_.StartProcessTimeInterval_AddEntry();
  counters_.IncrementCallCount_AddEntry();
  if (!writing_) counters_.IncrementInputRecords();
}

// Data validation checks the identifier count, then the resource count; the
// numbers themselves come after both.
std::optional<std::string> TypedEngine::CountMismatch(std::size_t identifierCount,
                                                      std::size_t resourceCount) const {
  if (identifierCount != identifierIds_.size()) {
    return "Expected " + std::to_string(identifierIds_.size()) + " identifiers; received " +
           std::to_string(identifierCount) + " identifiers";
  }
  if (resourceCount != rateCodeIds_.size()) {
    return "Expected " + std::to_string(rateCodeIds_.size()) + " resources; received " +
           std::to_string(resourceCount) + " resources";
  }
  return std::nullopt;
}

std::int32_t TypedEngine::AddEntryText(std::span<const std::string_view> identifierValues,
                                       std::span<const std::string_view> resourceValues,
                                       std::optional<double> start, std::optional<double> end) {
  textValues_.resize(resourceValues.size());
  for (std::size_t k = 0; k < resourceValues.size(); ++k) {
    if (Decimal::TryParse(resourceValues[k], textValues_[k])) continue;
    if (!dataValidation_) throw DecimalTypeMismatch();
    CountAddEntry();
    if (const std::string* refusal = EntryRefusal()) return Fail(*refusal);
    if (auto mismatch = CountMismatch(identifierValues.size(), resourceValues.size())) {
      return Fail(std::move(*mismatch));
    }
    return Fail("Resource value '" + std::string(resourceValues[k]) + " is not numeric.");
  }
  return AddEntry(identifierValues, textValues_, start, end);
}

std::int32_t TypedEngine::AddEntry(std::span<const std::string_view> identifierValues,
                                   std::span<const Decimal> resourceValues,
                                   std::optional<double> start, std::optional<double> end,
                                   std::size_t keyTicket) {
  CountAddEntry();
  if (const std::string* refusal = EntryRefusal()) return Fail(*refusal);
  if (dataValidation_) {
    if (auto mismatch = CountMismatch(identifierValues.size(), resourceValues.size())) {
      return Fail(std::move(*mismatch));
    }
  }
  std::span<const Decimal> values = resourceValues;
  if (!convertedResources_.empty()) {
    converted_.assign(resourceValues.begin(), resourceValues.end());
    for (const std::size_t k : convertedResources_) {
      if (k >= converted_.size()) break;
      if (conversionFactors_[k].IsZero()) {
        return Fail("Resource '" + rateCodes_[k] +
                    "' has a conversion factor of 0; its values cannot be converted.");
      }
      converted_[k] /= conversionFactors_[k];
    }
    values = converted_;
  }
  const std::int32_t result = AddConverted(identifierValues, values, start, end, keyTicket);
  if (result == EQUAX_RETURN_CODE_OK) StopAddEntryTimer();
  return result;
}

bool TypedEngine::KnownDate(bool forStart, std::optional<double> given, double& out) const noexcept {
  if (dateKeyword_.empty()) {
    const double fixed = forStart ? dateStart_ : dateEnd_;
    if (fixed != kNoDate) {
      out = fixed;
      return true;
    }
    if (given && *given != kNoDate) {
      out = *given;
      return true;
    }
  }
  if (!resolvedDates_) return false;
  out = forStart ? resolvedDates_->Start : resolvedDates_->End;
  return true;
}

void TypedEngine::ResolveDates(std::optional<double> start, std::optional<double> end,
                               double& outStart, double& outEnd) {
  const bool startKnown = KnownDate(true, start, outStart);
  const bool endKnown = KnownDate(false, end, outEnd);
  if (startKnown && endKnown) return;
  // Start and end from one reading of the clock: a run that begins just
  // before midnight gets one day, not a start of one and an end of the next.
  const double today = localToday_ ? localToday_() : LocalToday();
  ResolvedDates dates {today, EndOfDay(today)};
  if (!dateKeyword_.empty()) ResolveDateKeyword(dateKeyword_, today, dates.Start, dates.End);
  resolvedDates_ = dates;
  ++keyGeneration_;
  if (!startKnown) outStart = dates.Start;
  if (!endKnown) outEnd = dates.End;
}

void TypedEngine::BuildKey(std::string& key, std::span<const std::string_view> identifierValues,
                           double start, double end) {
  std::string_view days[2];
  std::size_t dayCount = 0;
  switch (dateAggregation_) {
    case EDateAggregation_StartDate: days[dayCount++] = startDay_.Of(start); break;
    case EDateAggregation_EndDate: days[dayCount++] = endDay_.Of(end); break;
    case EDateAggregation_Both:
      days[dayCount++] = startDay_.Of(start);
      days[dayCount++] = endDay_.Of(end);
      break;
    default: break;
  }
  std::size_t length = header_.size() + (identifierValues.size() + dayCount) * kKeySeparator.size();
  for (const std::string_view value : identifierValues) length += value.size();
  for (std::size_t d = 0; d < dayCount; ++d) length += days[d].size();
  key.resize(length);
  char* at = key.data();
  const auto put = [&at](std::string_view text) {
    CopyBytes(at, text);
    at += text.size();
  };
  put(header_);
  for (const std::string_view value : identifierValues) {
    put(kKeySeparator);
    put(value);
  }
  for (std::size_t d = 0; d < dayCount; ++d) {
    put(kKeySeparator);
    put(days[d]);
  }
}

std::size_t TypedEngine::PrefetchKey(std::span<const std::string_view> identifierValues,
                                     std::optional<double> start, std::optional<double> end) {
  double entryStart = 0;
  double entryEnd = 0;
  if (!KnownDate(true, start, entryStart) || !KnownDate(false, end, entryEnd) ||
      !IsWritableDateTime(entryStart) || !IsWritableDateTime(entryEnd)) {
    return 0;
  }
  const std::size_t ticket = nextLookahead_ % lookahead_.size() + 1;
  ++nextLookahead_;
  LookaheadKey& ahead = lookahead_[ticket - 1];
  BuildKey(ahead.Text, identifierValues, entryStart, entryEnd);
  ahead.Hash = keyMap_.Hash(ahead.Text);
  ahead.Generation = keyGeneration_;
  keyMap_.PrefetchSlot(ahead.Hash);
  return ticket;
}

void TypedEngine::PrefetchEntry(std::size_t keyTicket) const noexcept {
  if (keyTicket == 0 || keyTicket > lookahead_.size()) return;
  PrefetchEntryOf(lookahead_[keyTicket - 1].Hash);
}

void TypedEngine::PrefetchEntryOf(std::uint32_t keyHash) const noexcept {
  const std::int32_t id = keyMap_.PrefetchText(keyHash);
  if (id >= 1 && static_cast<std::size_t>(id) <= table_.size()) {
    // The fields a merge touches: up to the inline sums, over two or three lines.
    const Entry& entry = table_[static_cast<std::size_t>(id - 1)];
    const char* first = reinterpret_cast<const char*>(&entry);
    const char* last = entry.Sums.InlineEnd() - 1;
    __builtin_prefetch(first);
    __builtin_prefetch(first + 64);
    __builtin_prefetch(last);
  }
}

std::int32_t TypedEngine::AddConverted(std::span<const std::string_view> identifierValues,
                                       std::span<const Decimal> values, std::optional<double> start,
                                       std::optional<double> end, std::size_t keyTicket) {
  double entryStart = 0;
  double entryEnd = 0;
  ResolveDates(start, end, entryStart, entryEnd);
  // The bounds the writer holds them to: refused here, an entry would fail
  // every later write.
  if (!IsWritableDateTime(entryStart)) return Fail(DateRefusal("start", entryStart));
  if (!IsWritableDateTime(entryEnd)) return Fail(DateRefusal("end", entryEnd));
  std::uint32_t keyHash = 0;
  LookaheadKey* ahead =
      keyTicket >= 1 && keyTicket <= lookahead_.size() ? &lookahead_[keyTicket - 1] : nullptr;
  if (ahead != nullptr && ahead->Generation == keyGeneration_) {
    key_.swap(ahead->Text);  // built from the same values under the same definitions
    keyHash = ahead->Hash;
    ahead->Generation = kNoGeneration;
  } else {
    BuildKey(key_, identifierValues, entryStart, entryEnd);
    keyHash = keyMap_.Hash(key_);
  }
  return AddKeyed(key_, keyHash, identifierValues, values, entryStart, entryEnd);
}

std::int32_t TypedEngine::AddKeyed(std::string_view key, std::uint32_t keyHash,
                                   std::span<const std::string_view> identifierValues,
                                   std::span<const Decimal> values, double entryStart,
                                   double entryEnd) {
  // Identifier values are checked against what a record can hold when their
  // key comes, not on every merge: the values of a key in the table passed
  // the check, and values of the same count that give the same key are the
  // same bytes. Only values holding NULs (which part a key's values) can
  // give it with another count. The work files hold checked values only.
  const std::int32_t found = keyMap_.GetIdFromValue(key, keyHash);
  const auto unwritable = [&]() -> std::optional<std::string> {
    return writing_ ? std::nullopt : UnwritableIdentifierValue(identifierValues);
  };
  if (found > 0) {
    Entry& entry = table_[static_cast<std::size_t>(found - 1)];
    if (entry.IdentifierValues.size() != identifierValues.size()) {
      if (auto refusal = unwritable()) return Fail(std::move(*refusal));
    }
    if (const std::optional<std::size_t> refused = AddValues(entry, values)) {
      return Fail(TooManySetsMessage(values, *refused));
    }
    ++entry.MergeCount;
    // In every date mode the aggregate runs from the earliest start to the
    // latest end of its entries, whatever their order.
    if (CalendarOrder(entryStart) < CalendarOrder(entry.Start)) entry.Start = entryStart;
    if (CalendarOrder(entryEnd) > CalendarOrder(entry.End)) entry.End = entryEnd;
    return EQUAX_RETURN_CODE_OK;
  }

  if (auto refusal = unwritable()) return Fail(std::move(*refusal));
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (BeyondAllSets(values[k])) return Fail(TooManySetsMessage(values, k));
  }
  if (maxEntries_ > 0) {
    if (keyMap_.EntryCount() + 1 > maxEntries_) {
      return HandOff(key, keyHash, identifierValues, values, entryStart, entryEnd);
    }
  } else if (!TableMayGrow()) {
    return HandOff(key, keyHash, identifierValues, values, entryStart, entryEnd);
  }
  try {
    if (!CreateEntry(key, keyHash, identifierValues, values, entryStart, entryEnd)) {
      return Fail("Unable to add new aggregation key to list.");
    }
  } catch (const std::bad_alloc&) {
    // Memory ran out before the budget did (a 32-bit process runs out of
    // address space first): the key goes to the work files, and so do new
    // keys until the budget is asked again.
    if (table_.empty()) return Fail(kNoMemory);
    lastGrowthAnswer_ = false;
    return HandOff(key, keyHash, identifierValues, values, entryStart, entryEnd);
  }
  return EQUAX_RETURN_CODE_OK;
}

bool TypedEngine::TableMayGrow() {
  // An emptied table whose last answer was no asks again at once.
  if (newKeyRequests_ == 0 || (table_.empty() && !lastGrowthAnswer_)) {
    std::int32_t used = 0;
    if (memoryUsedProbe_) {
      used = memoryUsedProbe_();
    } else {
      memory_.Refresh();
      used = memory_.MemoryCurrentlyUsedMB();
    }
    lastGrowthAnswer_ = MayTableGrow(used, memoryMinimum_, memoryMaximum_);
    // Every budget must make progress: an empty table takes new keys until
    // the next check, whatever memory the process holds already (a budget
    // below it, or memory kept after the last pass), and the rest waits in
    // the work files.
    if (!lastGrowthAnswer_ && table_.empty()) lastGrowthAnswer_ = true;
    newKeyRequests_ = 0;
  }
  if (++newKeyRequests_ >= kBudgetCheckInterval) newKeyRequests_ = 0;
  return lastGrowthAnswer_;
}

bool TypedEngine::MakeRoom(std::int64_t entryNumber) {
  std::int64_t capacity = tableCapacity_;
  if (maxEntries_ >= 1) {
    if (capacity == 0) capacity = maxEntries_;
  } else {
    capacity = GrownTableCapacity(capacity, entryNumber);
  }
  if (capacity == tableCapacity_) return false;
  tableCapacity_ = static_cast<std::int32_t>(std::min<std::int64_t>(capacity, INT32_MAX));
  // A fixed maximum is the table's size, but storage grows as entries come
  // so that a generous maximum does not claim its memory up front.
  table_.reserve(static_cast<std::size_t>(
      maxEntries_ >= 1 ? std::min<std::int64_t>(capacity, kInitialTableCapacity) : capacity));
  if (enableDebugCounters_) counters_.UpdateAggregationTableSizeMinMax(tableCapacity_);
  return true;
}

std::int32_t TypedEngine::HandOff(std::string_view key, std::uint32_t keyHash,
                                  std::span<const std::string_view> identifierValues,
                                  std::span<const Decimal> values, double start, double end) {
  const WorkLayoutView layout {CurrentLayout()->Serial, header_, identifierNames_, rateCodes_};
  if (!rejects_.AddEntry(layout, key, keyHash, start, end, identifierValues, values)) {
    return Fail(rejects_.LastErrorMessage());
  }
  counters_.IncrementRejectRecordsCount();
  return EQUAX_RETURN_CODE_OK;
}

bool TypedEngine::CreateEntry(std::string_view key, std::uint32_t keyHash,
                              std::span<const std::string_view> identifierValues,
                              std::span<const Decimal> values, double start, double end) {
  // Everything that allocates comes before the key is added, so that memory
  // running out leaves neither a key without its entry nor a half-made entry.
  Entry entry;
  entry.EntryLayout = CurrentLayout();
  entry.Start = start;
  entry.End = end;
  entry.IdentifierValues.assign(identifierValues.begin(), identifierValues.end());
  entry.ResourceCount = values.size();
  entry.Sums.Grow(values.size());
  AddValues(entry, values);  // no value is beyond all sets: checked before
  MakeRoom(static_cast<std::int64_t>(table_.size()) + 1);
  if (table_.size() == table_.capacity()) table_.reserve(std::max<std::size_t>(16, 2 * table_.size()));
  if (keyMap_.AddorGetValueId(key, keyHash) < 1) return false;
  table_.push_back(std::move(entry));
  return true;
}

// ---- Summing ----------------------------------------------------------------

std::string TypedEngine::TooManySetsMessage(std::span<const Decimal> values, std::size_t resource) const {
  std::string message = "Resource value '" + values[resource].ToString() + "'";
  if (resource < rateCodes_.size()) message += " for '" + rateCodes_[resource] + "'";
  return message + " would need more than " + std::to_string(kMaximumResourceSets) +
         " output records of at most " + MaximumSummedValue().ToString() +
         "; the entry was not added.";
}

std::optional<std::size_t> TypedEngine::ResourceNeedingTooManySets(
    const Entry& entry, std::span<const Decimal> values) const {
  const auto sets = static_cast<std::size_t>(entry.SetCount);
  const Decimal room = MaximumSummedValue() *
                       Decimal::FromInt64(kMaximumResourceSets - static_cast<std::int64_t>(sets));
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (k >= entry.ResourceCount) {
      // A resource the entry does not have yet: zero in every set.
      if (BeyondAllSets(values[k])) return k;
      continue;
    }
    const Decimal left = SumIntoSets(entry.Sums.Data() + k, sets, entry.ResourceCount, values[k]);
    if (IsPositive(left) && Decimal::Compare(left, room) > 0) return k;
  }
  return std::nullopt;
}

std::optional<std::size_t> TypedEngine::AddValues(Entry& entry, std::span<const Decimal> values) {
  // Mostly one set whose sums stay within the cap: the sums are worked out
  // first and stored only when every one of them fits.
  if (entry.SetCount == 1 && values.size() <= entry.ResourceCount) {
    if (stagedSums_.size() < values.size()) stagedSums_.resize(values.size());
    Decimal* staged = stagedSums_.data();
    const Decimal* sums = entry.Sums.Data();
    std::size_t k = 0;
    while (k < values.size() && Decimal::TryAdd(sums[k], values[k], staged[k]) && WithinCap(staged[k])) ++k;
    if (k == values.size()) {
      std::copy_n(staged, k, entry.Sums.Data());
      return std::nullopt;
    }
  }
  if (const std::optional<std::size_t> refused = ResourceNeedingTooManySets(entry, values)) return refused;
  if (values.size() > entry.ResourceCount) {
    // More resources than the entry was created with (no data validation):
    // widen every set so that no value is dropped.
    SumCells widened;
    widened.Grow(values.size() * static_cast<std::size_t>(entry.SetCount));
    for (std::size_t s = 0; s < static_cast<std::size_t>(entry.SetCount); ++s) {
      std::copy_n(entry.Sums.Data() + s * entry.ResourceCount, entry.ResourceCount,
                  widened.Data() + s * values.size());
    }
    entry.Sums = std::move(widened);
    entry.ResourceCount = values.size();
  }
  for (std::size_t k = 0; k < values.size(); ++k) AddValue(entry, k, values[k]);
  return std::nullopt;
}

void TypedEngine::AddValue(Entry& entry, std::size_t resource, const Decimal& value) {
  const std::size_t stride = entry.ResourceCount;
  Decimal left = SumIntoSets(entry.Sums.Data() + resource, static_cast<std::size_t>(entry.SetCount),
                             stride, value);
  while (IsPositive(left)) {
    entry.Sums.Grow(entry.Sums.size() + stride);
    ++entry.SetCount;
    const Decimal taken = WithinCap(left) ? left : MaximumSummedValue();
    entry.Sums[static_cast<std::size_t>(entry.SetCount - 1) * stride + resource] = taken;
    left = left - taken;
  }
}

// ---- Output ---------------------------------------------------------------

std::int32_t TypedEngine::DecimalPositionsAt(std::size_t resource) const noexcept {
  return resource < decimalPositions_.size() ? decimalPositions_[resource] : -1;
}

bool TypedEngine::WriteEntry(const Entry& entry) {
  try {
    const Layout& layout = *entry.EntryLayout;
    if (writeLayout_ != &layout) {
      writeNames_.resize(layout.IdentifierNameIds.size());
      for (std::size_t i = 0; i < writeNames_.size(); ++i) {
        writeNames_[i].assign(identifierNameMap_.ValueView(layout.IdentifierNameIds[i] + 1));
      }
      writeRateCodes_.resize(layout.RateCodeIds.size());
      for (std::size_t j = 0; j < writeRateCodes_.size(); ++j) {
        writeRateCodes_[j].assign(rateCodeMap_.ValueView(layout.RateCodeIds[j] + 1));
      }
      writeLayout_ = &layout;
    }
    rounded_.resize(entry.ResourceCount);
    for (std::int32_t s = 0; s < entry.SetCount; ++s) {
      bool anyNonZero = false;
      for (std::size_t k = 0; k < entry.ResourceCount; ++k) {
        const Decimal& sum = entry.Sums[static_cast<std::size_t>(s) * entry.ResourceCount + k];
        const std::int32_t places = DecimalPositionsAt(k);
        rounded_[k] = places < 0 ? sum : RoundHalfUp(sum, places);
        anyNonZero = anyNonZero || !rounded_[k].IsZero();
      }
      if (!anyNonZero) continue;
      if (!outputFile_.FileWrite(layout.Header, entry.Start, entry.End, std::string_view(),
                                 writeNames_, entry.IdentifierValues, writeRateCodes_, rounded_)) {
        lastErrorMessage_ = outputFile_.LastErrorMessage();
        return false;
      }
      counters_.IncrementOutputRecords();
    }
    return true;
  } catch (const std::exception& error) {
    lastErrorMessage_ = std::string("Error in WriteResourceRecordFromAggregationEntry: ") + error.what();
    return false;
  }
}

void TypedEngine::RedefineFromRecord(const WorkLayout& layout) {
  if (identifierRedefinitions_ > 1) {
    bool same = layout.IdentifierNames.size() == identifierIds_.size();
    for (std::size_t i = 0; same && i < identifierIds_.size(); ++i) {
      same = identifierNameMap_.AddorGetValueId(layout.IdentifierNames[i]) - 1 == identifierIds_[i];
    }
    if (!same) {
      ClearIdentifierList();
      for (const std::string& name : layout.IdentifierNames) DefineIdentifier(name);
    }
  }
  if (resourceRedefinitions_ > 1) {
    bool same = layout.RateCodes.size() == rateCodeIds_.size();
    for (std::size_t j = 0; same && j < rateCodeIds_.size(); ++j) {
      const std::string_view code = std::string_view(layout.RateCodes[j]).substr(0, kRateCodeLength);
      same = rateCodeMap_.AddorGetValueId(code) - 1 == rateCodeIds_[j];
    }
    if (!same) {
      ClearResourceList();
      for (const std::string& code : layout.RateCodes) DefineResource(code, 1.0, -1);
    }
  }
}

// The entries of the work files come back as they were handed off: key,
// dates and values exactly, already validated and converted. Their layout
// becomes the engine's definitions as each record's would, once per change.
bool TypedEngine::RunExternalPass() {
  if (!rejects_.PrepareForNextPass()) {
    lastErrorMessage_ = rejects_.LastErrorMessage();
    return false;
  }
  if (rejects_.AtEOF()) return true;
  counters_.IncrementRejectPassesCount();
  passBatch_.resize(kLookaheadBatch);
  const WorkLayout* appliedLayout = nullptr;
  std::uint64_t appliedSerial = 0;
  for (;;) {
    if (!rejects_.GetEntry(passBatch_[0])) return true;
    std::size_t count = 1;
    while (count < passBatch_.size() && rejects_.GetEntryBuffered(passBatch_[count])) ++count;
    for (std::size_t k = 0; k < count; ++k) keyMap_.PrefetchSlot(passBatch_[k].KeyHash);
    for (std::size_t k = 0; k < count; ++k) {
      if (k + kLookaheadDistance < count) PrefetchEntryOf(passBatch_[k + kLookaheadDistance].KeyHash);
      const WorkEntry& entry = passBatch_[k];
      if (entry.Layout != appliedLayout || entry.LayoutSerial != appliedSerial) {
        DefineResourceRecordHeader(entry.Layout->Header);
        RedefineFromRecord(*entry.Layout);
        appliedLayout = entry.Layout;
        appliedSerial = entry.LayoutSerial;
      }
      CountAddEntry();
      if (AddKeyed(entry.Key, entry.KeyHash, entry.IdentifierValues, entry.ResourceValues, entry.Start,
                   entry.End) != EQUAX_RETURN_CODE_OK) {
        return false;
      }
      StopAddEntryTimer();
    }
  }
}

bool TypedEngine::WriteAggregates(bool& consumed) {
  for (;;) {
    if (enableDebugCounters_) {
      counters_.UpdateMaxMemoryUsed();
      counters_.UpdateAggregationEntriesUsedMinMax(keyMap_.EntryCount());
    }
    for (const Entry& entry : table_) {
      counters_.IncrementAggregateCount();
      if (!WriteEntry(entry)) return false;
    }
    // Until the table is emptied nothing is consumed: when the disk refuses
    // the records, the table and the work files stay for a later call.
    if (!consumed && !FlushOutput()) return false;
    consumed = true;
    ClearTable();
    if (!RunExternalPass()) return false;
    if (keyMap_.EntryCount() == 0) break;
  }
  if (!FlushOutput()) return false;
  outputFile_.FileClose();
  return true;
}

bool TypedEngine::FlushOutput() {
  if (outputFile_.FileFlush()) return true;
  lastErrorMessage_ = "Unable to write file '" + outputFile_.FileName() + "': " + outputFile_.LastErrorMessage();
  return false;
}

std::int32_t TypedEngine::WriteResourceFile(bool appendToResourceFile) {
  writing_ = true;
  ++keyGeneration_;  // the passes change the definitions: no key built ahead survives them
  lastErrorMessage_.clear();
  if (enableDebugCounters_) counters_.StartProcessTimeInterval_WriteResourceFile();
  // However the call ends, the engine leaves output mode and normal
  // priority is restored.
  struct OutputMode {
    TypedEngine& Engine;
    ~OutputMode() {
      if (Engine.enableDebugCounters_) Engine.counters_.StopProcessTimeInterval_WriteResourceFile();
      Engine.process_.SetPriorityClass(EProcessPriorityClass_Normal);
      Engine.writing_ = false;
      ++Engine.keyGeneration_;
    }
  } outputMode {*this};
  const auto failed = [&] {
    reporter_->ReportError(kEventCategoryProcessing, WriteErrorEventText(lastErrorMessage_));
    return EQUAX_RETURN_CODE_ERROR;
  };

  if (!lostRun_.empty()) {
    lastErrorMessage_ = lostRun_;
    return failed();
  }
  if (keyMap_.EntryCount() >= 1) {
    const std::string& fileName = outputFile_.FileName();
    if (fileName.empty()) {
      lastErrorMessage_ = "No output filename specified.";
      return EQUAX_RETURN_CODE_ERROR;
    }
    // What a failed call puts back: the lines the file had.
    std::uint64_t lengthAtOpen = 0;
    if (appendToResourceFile) platform::FileLength(fileName, lengthAtOpen);
    if (!outputFile_.FileOpen(appendToResourceFile ? CResourceFile::kModeAppend : CResourceFile::kModeWrite)) {
      lastErrorMessage_ = "Unable to open file '" + fileName + "': " + outputFile_.LastErrorMessage();
      return EQUAX_RETURN_CODE_ERROR;
    }
    const std::int64_t outputRecordsBefore = counters_.OutputRecordsCount();
    const std::int64_t aggregatesBefore = counters_.AggregatesCount();
    bool consumed = false;
    bool written = false;
    try {
      written = WriteAggregates(consumed);
    } catch (const std::bad_alloc&) {
      lastErrorMessage_ = "Out of memory while writing file '" + fileName + "'.";
    } catch (const std::exception& error) {
      lastErrorMessage_ = error.what();
    }
    if (!written) {
      try {
        outputFile_.FileClose();  // what is still buffered is taken back below anyway
      } catch (const std::exception&) {
      }
      platform::FileError ignored;  // a device (a full disk's /dev/full) cannot be truncated
      platform::TruncateFile(fileName, lengthAtOpen, ignored);
      counters_.RestoreOutputCounts(outputRecordsBefore, aggregatesBefore);
      if (consumed) {
        // Work-file records read back are gone: a later call would write
        // the rest only.
        lostRun_ = "The aggregates of this run were lost when writing them failed (" + lastErrorMessage_ +
                   "); Initialize the engine and add the entries again.";
        ClearTable();
        rejects_.RemoveWorkFiles();
      }
      return failed();
    }
  }
  reporter_->ReportInformation(kEventCategoryProcessing, ResultsEventText(ResultsMessage()));
  return EQUAX_RETURN_CODE_OK;
}

AggregationListView TypedEngine::AggregationList() const {
  AggregationListView view;
  for (const Entry& entry : table_) {
    const auto columns = static_cast<std::int32_t>(
        7 + 2 * (entry.IdentifierValues.size() + entry.ResourceCount));
    view.Columns = std::max(view.Columns, columns);
    view.Rows += entry.SetCount;
  }
  view.Cells.resize(static_cast<std::size_t>(view.Columns) * static_cast<std::size_t>(view.Rows));
  std::int32_t row = 0;
  for (const Entry& entry : table_) {
    const Layout& layout = *entry.EntryLayout;
    const std::size_t n = entry.IdentifierValues.size();
    for (std::int32_t s = 0; s < entry.SetCount; ++s, ++row) {
      const auto cell = [&](std::size_t column) -> AggregationCell& {
        return view.Cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(view.Columns) + column];
      };
      cell(0) = layout.Header;
      cell(1) = entry.Start;
      cell(2) = entry.End;
      cell(3) = static_cast<std::int32_t>(n);
      for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t id = i < layout.IdentifierNameIds.size() ? layout.IdentifierNameIds[i] + 1 : 0;
        cell(4 + 2 * i) = std::string(identifierNameMap_.ValueView(id));
        cell(5 + 2 * i) = entry.IdentifierValues[i];
      }
      cell(4 + 2 * n) = static_cast<std::int32_t>(entry.ResourceCount);
      for (std::size_t j = 0; j < entry.ResourceCount; ++j) {
        const std::int32_t id = j < layout.RateCodeIds.size() ? layout.RateCodeIds[j] + 1 : 0;
        const Decimal& sum = entry.Sums[static_cast<std::size_t>(s) * entry.ResourceCount + j];
        const std::int32_t places = DecimalPositionsAt(j);
        cell(5 + 2 * n + 2 * j) = std::string(rateCodeMap_.ValueView(id));
        cell(6 + 2 * n + 2 * j) = places < 0 ? sum : RoundHalfUp(sum, places);
      }
    }
  }
  return view;
}

std::int32_t TypedEngine::EntryCount() const noexcept { return static_cast<std::int32_t>(table_.size()); }

std::string TypedEngine::DebugMessage() const {
  return agg::DebugMessage(counters_, DebugMessageSettings {enableDebugCounters_, maxEntries_,
                                                            memoryMinimum_, memoryMaximum_});
}

}  // namespace quax::agg
