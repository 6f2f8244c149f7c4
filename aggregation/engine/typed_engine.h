// TypedEngine: sums resource usage by key. A client defines the record
// layout (header, identifier names, rate codes with conversion factor and
// decimal positions), feeds entries with AddEntry and calls
// WriteResourceFile. Entries with equal header, identifier values and chosen
// dates are merged into one aggregation entry with exact decimal sums capped
// at 99,999,999,999 per output record. New keys that do not fit into the
// table (MaxEntries, or the memory budget when MaxEntries is 0) go to work
// files and are aggregated in further passes when the table is written.
//
// AddEntry on a key already in the table allocates nothing: the key is
// built in a reused buffer and looked up by view.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "record/date_time.h"
#include "engine/debug_counters.h"
#include "record/decimal.h"
#include "platform/event_reporter.h"
#include "engine/memory_budget.h"
#include "engine/reject_processor.h"
#include "record/resource_file.h"
#include "engine/table_memory.h"
#include "engine/value_id_map.h"
#include "engine/win32_process.h"

namespace quax::agg {

enum EQUAX_RETURN_CODES : std::int32_t {
  EQUAX_RETURN_CODE_OK = 0,
  EQUAX_RETURN_CODE_WARNING = 8,
  EQUAX_RETURN_CODE_ERROR = 16,
};

enum EDateAggregation : std::int32_t {
  EDateAggregation_None = 1,
  EDateAggregation_StartDate = 2,
  EDateAggregation_EndDate = 3,
  EDateAggregation_Both = 4,
};

// Start and end of a date keyword ("**CURMON", "PREVIOUS", ...) for the day
// `today` (a DATE without time); false for an unknown keyword.
bool ResolveDateKeyword(std::string_view keyword, double today, double& start, double& end);

// Round half up (towards plus infinity) to `places` decimal places.
Decimal RoundHalfUp(const Decimal& value, std::int32_t places);

// The texts of the event that reports how writing the aggregates ended:
// the run's results, or why the write failed.
std::string ResultsEventText(std::string_view results);
std::string WriteErrorEventText(std::string_view message);

// One cell of AggregationList.
using AggregationCell = std::variant<std::monostate, std::string, double, std::int32_t, Decimal>;
struct AggregationListView {
  std::int32_t Columns = 0;
  std::int32_t Rows = 0;
  std::vector<AggregationCell> Cells;  // row-major
  const AggregationCell& At(std::int32_t column, std::int32_t row) const {
    return Cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(Columns) +
                 static_cast<std::size_t>(column)];
  }
};

class TypedEngine {
 public:
  static constexpr std::int32_t kKeyMapInitialListSize = 1048576;
  static constexpr std::int32_t kNameMapInitialListSize = 128;
  static constexpr std::int32_t kBudgetCheckInterval = 10000;
  static constexpr std::size_t kRateCodeLength = 8;

  TypedEngine();
  ~TypedEngine();
  TypedEngine(const TypedEngine&) = delete;
  TypedEngine& operator=(const TypedEngine&) = delete;

  static Decimal MaximumSummedValue() { return Decimal::FromInt64(99999999999); }
  // The sums of one aggregate spill into further sets (one output record
  // each) beyond MaximumSummedValue, up to this many sets: about 10^15 per
  // aggregate, far beyond any usage figure, while one hostile value cannot
  // make millions of records. AddEntry refuses an entry that would need more.
  static constexpr std::int64_t kMaximumResourceSets = 10000;

  // Definitions. Each answers 0, or 16 when it is refused: a text that a
  // resource record cannot hold (record/record_text.h) would make the output
  // unreadable. A refused definition leaves its message in LastErrorMessage,
  // and every AddEntry answers 16 with it until that part is defined afresh
  // (another header; ClearIdentifierList; ClearResourceList) or Initialize.
  enum class Definition { Header, Identifiers, Resources };
  std::int32_t DefineResourceRecordHeader(std::string_view header);
  void ClearIdentifierList();
  std::int32_t DefineIdentifier(std::string_view identifierName);
  void ClearResourceList();
  std::int32_t DefineResource(std::string_view rateCode, double conversionFactor, std::int32_t decimalPositions);
  // Refuses the definition of `part` being made with `message` (a client
  // that cannot pass its text on, for one), as above.
  std::int32_t RefuseDefinition(Definition part, std::string message);

  // Properties.
  bool DataValidation() { lastErrorMessage_.clear(); return dataValidation_; }
  void SetDataValidation(bool value) { lastErrorMessage_.clear(); dataValidation_ = value; }
  bool EnableDebugCounters() { lastErrorMessage_.clear(); return enableDebugCounters_; }
  void SetEnableDebugCounters(bool value) { lastErrorMessage_.clear(); enableDebugCounters_ = value; }
  std::int32_t DateAggregation() { lastErrorMessage_.clear(); return dateAggregation_; }
  void SetDateAggregation(std::int32_t value) {
    lastErrorMessage_.clear();
    dateAggregation_ = value;
    ++keyGeneration_;
  }
  // Setting DateStart, DateEnd or DateKeyword (and Initialize) makes the
  // next entry work out the keyword's or today's dates again; between those
  // they stay fixed, so that every entry of a run gets the same dates.
  double DateStart() { lastErrorMessage_.clear(); return dateStart_; }
  void SetDateStart(double value) {
    lastErrorMessage_.clear();
    dateStart_ = value;
    ForgetResolvedDates();
  }
  double DateEnd() { lastErrorMessage_.clear(); return dateEnd_; }
  void SetDateEnd(double value) {
    lastErrorMessage_.clear();
    dateEnd_ = value;
    ForgetResolvedDates();
  }
  std::string DateKeyword() { lastErrorMessage_.clear(); return dateKeyword_; }
  void SetDateKeyword(std::string_view value);
  std::int32_t MemoryMinimum() const noexcept { return memoryMinimum_; }
  void SetMemoryMinimum(std::int32_t mb) noexcept { memoryMinimum_ = mb; }
  std::int32_t MemoryMaximum() const noexcept { return memoryMaximum_; }
  void SetMemoryMaximum(std::int32_t mb) noexcept { memoryMaximum_ = mb; }
  std::int32_t ProcessPriorityClass() const noexcept { return processPriorityClass_; }
  void SetProcessPriorityClass(std::int32_t value) noexcept;
  std::string OutputFileName() { lastErrorMessage_.clear(); return outputFile_.FileName(); }
  void SetOutputFileName(std::string name) { lastErrorMessage_.clear(); outputFile_.SetFileName(std::move(name)); }
  std::string WorkFilePath() { lastErrorMessage_.clear(); return rejects_.WorkFilePath(); }
  void SetWorkFilePath(std::string_view path) { lastErrorMessage_.clear(); rejects_.SetWorkFilePath(path); }
  const std::string& LastErrorMessage() const noexcept { return lastErrorMessage_; }
  std::int32_t MaxEntries() const noexcept { return maxEntries_; }

  bool Initialize(std::int32_t maxEntries = 0);

  // Adds one entry; returns 0 or 16 (message in LastErrorMessage). Dates
  // not given fall back as described for DateStart/DateEnd and the keyword.
  std::int32_t AddEntry(std::span<const std::string_view> identifierValues,
                        std::span<const Decimal> resourceValues,
                        std::optional<double> start = std::nullopt,
                        std::optional<double> end = std::nullopt, std::size_t keyTicket = 0);
  // Refuses an entry its client could not pass on (an identifier value it
  // cannot convert, for one): counted as AddEntry counts, 16 with `message`.
  std::int32_t RefuseEntry(std::string message);
  // The same with resource values as text (the scripting clients' form):
  // with DataValidation a value that is not a number is reported, without
  // it the conversion error is thrown.
  std::int32_t AddEntryText(std::span<const std::string_view> identifierValues,
                            std::span<const std::string_view> resourceValues,
                            std::optional<double> start = std::nullopt,
                            std::optional<double> end = std::nullopt);

  // Readers that know the next entries read them in batches of
  // kLookaheadBatch and look kLookaheadDistance entries ahead: PrefetchKey
  // builds the key of an entry to come, starts loading its slot of the table
  // and answers a ticket (0: none); PrefetchEntry with that ticket, a little
  // later, loads the key's text and entry; AddEntry with the ticket and the
  // same values then uses the key built. The key is built anew when anything
  // it depends on (header, identifier definitions, date settings) changed in
  // between, so tickets change no result.
  static constexpr std::size_t kLookaheadBatch = 16;
  static constexpr std::size_t kLookaheadDistance = 4;
  std::size_t PrefetchKey(std::span<const std::string_view> identifierValues,
                          std::optional<double> start, std::optional<double> end);
  void PrefetchEntry(std::size_t keyTicket) const noexcept;

  // Hands the records a reader gives, in their order, to `add` (record, key
  // ticket), looking ahead as above. They are read in batches whose views are
  // all valid at once: the first with `readFirst` (which may read the file;
  // false at the end), the others with `readBuffered` (only lines already
  // buffered; false ends the batch). `identifiersOf` gives the identifier
  // values a record will be added with. Answers false as soon as `add` does,
  // true at the end; an unreadable record is raised once the records before
  // it were added.
  template <class ReadFirst, class ReadBuffered, class IdentifiersOf, class Add>
  bool AddRecordsAhead(std::vector<ResourceRecordView>& batch, ReadFirst readFirst,
                       ReadBuffered readBuffered, IdentifiersOf identifiersOf, Add add) {
    batch.resize(kLookaheadBatch);
    std::array<std::size_t, kLookaheadBatch> keyTickets {};
    for (;;) {
      if (!readFirst(batch[0])) return true;
      std::size_t count = 1;
      std::exception_ptr unreadable;
      try {
        while (count < batch.size() && readBuffered(batch[count])) ++count;
      } catch (...) {
        unreadable = std::current_exception();
      }
      for (std::size_t k = 0; k < count; ++k) {
        keyTickets[k] = PrefetchKey(identifiersOf(batch[k]), batch[k].Start, batch[k].End);
      }
      for (std::size_t k = 0; k < count; ++k) {
        if (k + kLookaheadDistance < count) PrefetchEntry(keyTickets[k + kLookaheadDistance]);
        if (!add(batch[k], keyTickets[k])) return false;
      }
      if (unreadable) std::rethrow_exception(unreadable);
    }
  }

  // Writes the aggregates, and those of the work files in external passes.
  // A call that fails answers 16 with the message and an error event, and
  // leaves the output as it found it (appended lines are taken back, a
  // replaced file is left empty) with the output counts as they were. When
  // it failed before any work file was read back, the aggregates are still
  // there for another call; otherwise they are lost, and every AddEntry and
  // WriteResourceFile answers 16 saying so until Initialize.
  std::int32_t WriteResourceFile(bool appendToResourceFile = false);
  static Decimal m_RoundAsymetric(const Decimal& numberToRound, std::int32_t decimalPositions) {
    return RoundHalfUp(numberToRound, decimalPositions);
  }
  AggregationListView AggregationList() const;

  std::string ResultsMessage() const { return agg::ResultsMessage(counters_); }
  std::string DebugMessage() const;
  const CDebugCounters& Counters() const noexcept { return counters_; }

  // Today (a date without time) for the keywords and for entries without
  // dates; the default reads the local clock.
  void SetLocalToday(std::function<double()> today) { localToday_ = std::move(today); }
  // The memory figure of the growth decision, in MB; the default refreshes
  // COSMemoryInfo and reads MemoryCurrentlyUsedMB.
  void SetMemoryUsedProbe(std::function<std::int32_t()> probe) { memoryUsedProbe_ = std::move(probe); }
  // The event-log seam; the default is MakeDefaultEventReporter().
  void SetEventReporter(std::unique_ptr<EventReporter> reporter) { reporter_ = std::move(reporter); }
  // The reject processor, for tests that look at the work files.
  const CRejectProcessor& Rejects() const noexcept { return rejects_; }
  std::int32_t TableCapacity() const noexcept { return tableCapacity_; }
  std::int32_t EntryCount() const noexcept;

 private:
  struct Layout;
  struct Entry;

  std::int32_t AddConverted(std::span<const std::string_view> identifierValues,
                            std::span<const Decimal> values, std::optional<double> start,
                            std::optional<double> end, std::size_t keyTicket);
  void CountAddEntry() noexcept;
  std::optional<std::string> CountMismatch(std::size_t identifierCount, std::size_t resourceCount) const;
  std::int32_t Fail(std::string message);
  void ForgetRefusal(Definition part) noexcept;
  // The message of a refused definition or a lost run, or null: AddEntry
  // refuses every entry while there is one.
  const std::string* EntryRefusal() const noexcept;
  std::optional<std::string> UnwritableIdentifierValue(std::span<const std::string_view> values) const;
  void StopAddEntryTimer() noexcept;
  // The date an entry gets when it does not depend on a slot not yet worked out.
  bool KnownDate(bool forStart, std::optional<double> given, double& out) const noexcept;
  void ResolveDates(std::optional<double> start, std::optional<double> end, double& outStart,
                    double& outEnd);
  void ForgetResolvedDates() noexcept {
    resolvedDates_.reset();
    ++keyGeneration_;
  }
  void BuildKey(std::string& key, std::span<const std::string_view> identifierValues, double start,
                double end);
  bool TableMayGrow();
  bool MakeRoom(std::int64_t entryNumber);
  std::int32_t AddKeyed(std::string_view key, std::uint32_t keyHash,
                        std::span<const std::string_view> identifierValues,
                        std::span<const Decimal> values, double entryStart, double entryEnd);
  std::int32_t HandOff(std::string_view key, std::uint32_t keyHash,
                       std::span<const std::string_view> identifierValues,
                       std::span<const Decimal> values, double start, double end);
  void PrefetchEntryOf(std::uint32_t keyHash) const noexcept;
  // Adds the key with a new entry; false when the key map has no id left.
  // Throws std::bad_alloc (nothing added) when memory runs out.
  bool CreateEntry(std::string_view key, std::uint32_t keyHash,
                   std::span<const std::string_view> identifierValues, std::span<const Decimal> values,
                   double start, double end);
  // Adds the values to the entry's sums, or answers the first resource that
  // would need more than kMaximumResourceSets sets and changes nothing.
  std::optional<std::size_t> AddValues(Entry& entry, std::span<const Decimal> values);
  std::optional<std::size_t> ResourceNeedingTooManySets(const Entry& entry,
                                                        std::span<const Decimal> values) const;
  void AddValue(Entry& entry, std::size_t resource, const Decimal& value);
  std::string TooManySetsMessage(std::span<const Decimal> values, std::size_t resource) const;
  const std::shared_ptr<const Layout>& CurrentLayout();
  void ClearTable();
  bool WriteEntry(const Entry& entry);
  // Writes the table and the external passes into the open output; false
  // with the message. `consumed` becomes true once work-file records are read.
  bool WriteAggregates(bool& consumed);
  // Writes what the output buffers; false with the message.
  bool FlushOutput();
  bool RunExternalPass();
  void RedefineFromRecord(const WorkLayout& layout);
  std::int32_t DecimalPositionsAt(std::size_t resource) const noexcept;

  std::vector<Entry, TableAllocator<Entry>> table_;
  std::int32_t tableCapacity_ = 0;
  CValueIdMap keyMap_;
  std::int32_t dateAggregation_ = EDateAggregation_Both;
  bool dataValidation_ = false;
  std::string dateKeyword_;
  double dateEnd_ = kNoDate;
  double dateStart_ = kNoDate;
  CDebugCounters counters_;
  bool enableDebugCounters_ = false;
  CRejectProcessor rejects_;
  std::vector<std::int32_t> identifierIds_;
  std::vector<std::string> identifierNames_;  // texts of identifierIds_, for the work files
  CValueIdMap identifierNameMap_;
  std::int32_t identifierRedefinitions_ = 0;
  std::string lastErrorMessage_;
  std::int32_t maxEntries_ = 0;
  std::int32_t memoryMinimum_ = 16;
  std::int32_t memoryMaximum_ = 0;
  COSMemoryInfo memory_;
  CResourceFile outputFile_;
  std::int32_t processPriorityClass_ = 0;
  std::string header_ = "NONE";
  std::vector<std::int32_t> rateCodeIds_;
  std::vector<std::string> rateCodes_;  // texts of rateCodeIds_, for the work files
  std::vector<Decimal> conversionFactors_;
  std::vector<std::size_t> convertedResources_;  // positions whose factor is not 1, ascending
  std::vector<std::int32_t> decimalPositions_;
  CValueIdMap rateCodeMap_;
  std::int32_t resourceRedefinitions_ = 0;
  CWin32Process process_;
  bool writing_ = false;
  std::array<std::string, 3> refusedDefinitions_;  // by Definition; empty when none
  bool definitionRefused_ = false;                   // any of them
  std::string lostRun_;  // why the aggregates of a failed write are gone

  // Working state of the calls.
  // The keyword's or today's start and end, worked out by the first entry of
  // a run that needs them.
  struct ResolvedDates {
    double Start = 0;
    double End = 0;
  };
  std::optional<ResolvedDates> resolvedDates_;
  std::function<double()> localToday_;
  std::string key_;
  // Keys built ahead by PrefetchKey, valid while the generation of the key
  // inputs is theirs.
  static constexpr std::uint64_t kNoGeneration = ~std::uint64_t{0};
  struct LookaheadKey {
    std::string Text;
    std::uint32_t Hash = 0;
    std::uint64_t Generation = kNoGeneration;
  };
  std::array<LookaheadKey, kLookaheadBatch> lookahead_;
  std::size_t nextLookahead_ = 0;
  std::uint64_t keyGeneration_ = 0;
  // The day number of a date as key text, kept for the next date of the
  // same day (most records of a file share their days).
  struct DayText {
    std::int64_t Day = 0;
    char Digits[24] {};
    std::size_t Length = 0;
    std::string_view Of(double date) noexcept;
  };
  DayText startDay_;
  DayText endDay_;
  std::vector<Decimal> converted_;
  std::vector<Decimal> stagedSums_;  // sums of a merge before they are stored
  std::vector<Decimal> textValues_;
  std::shared_ptr<const Layout> layout_;  // shared by entries created under the same definitions
  std::uint64_t layoutSerials_ = 0;
  std::int32_t newKeyRequests_ = 0;
  bool lastGrowthAnswer_ = true;
  std::unique_ptr<EventReporter> reporter_;
  std::function<std::int32_t()> memoryUsedProbe_;
  std::vector<WorkEntry> passBatch_;
  std::vector<Decimal> rounded_;
  std::vector<std::string> writeNames_;
  std::vector<std::string> writeRateCodes_;
  const Layout* writeLayout_ = nullptr;  // the layout writeNames_/writeRateCodes_ hold
};

}  // namespace quax::agg
