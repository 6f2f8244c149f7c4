#include "engine/file_aggregator.h"

#include <algorithm>
#include <span>

#include "platform/platform_files.h"
#include "record/byte_copy.h"

namespace quax::agg {
namespace {

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

void AddToRemovalSet(std::set<std::string, std::less<>>& set, std::string_view name) {
  if (!set.insert(UpperCase(name)).second) throw Error(CFileAggregator::kDuplicateKey);
}

// The values at the kept positions: the record's own when the layout drops
// none, else a copy in `scratch`.
template <class Value>
std::span<const Value> KeptValues(const std::vector<std::size_t>& kept, bool dropsSome,
                                  std::span<const Value> values, std::vector<Value>& scratch) {
  if (!dropsSome && kept.size() == values.size()) return values;
  scratch.resize(kept.size());
  std::size_t count = 0;
  for (const std::size_t position : kept) {
    if (position < values.size()) scratch[count++] = values[position];
  }
  return std::span<const Value>(scratch).first(count);
}

}  // namespace

void CFileAggregator::AddIdentifierToRemove(std::string_view identifier) {
  AddToRemovalSet(identifiersToRemove_, identifier);
}

void CFileAggregator::AddResourceToRemove(std::string_view rateCode) {
  AddToRemovalSet(resourcesToRemove_, rateCode);
}

bool CFileAggregator::Initialize(std::int32_t maxEntries) {
  lastErrorMessage_.clear();
  engine_.SetDataValidation(false);
  identifiersToRemove_.clear();
  resourcesToRemove_.clear();
  return engine_.Initialize(maxEntries);
}

// The layout is the header and the identifier and rate-code names: records
// whose names differ at equal counts must not be summed under the names of
// the records before them.
bool CFileAggregator::SameLayout(const ResourceRecordView& record) const {
  const auto same = [](std::string_view a, std::string_view b) { return SameBytes(a, b); };
  return SameBytes(record.Header, previousHeader_) &&
         std::ranges::equal(record.IdentifierNames, previousIdentifierNames_, same) &&
         std::ranges::equal(record.RateCodes, previousRateCodes_, same);
}

void CFileAggregator::Redefine(const ResourceRecordView& record) {
  engine_.ClearIdentifierList();
  engine_.ClearResourceList();
  engine_.DefineResourceRecordHeader(record.Header);
  keptIdentifiers_.clear();
  keptResources_.clear();
  for (std::size_t i = 0; i < record.IdentifierNames.size(); ++i) {
    if (identifiersToRemove_.contains(UpperCase(record.IdentifierNames[i]))) continue;
    engine_.DefineIdentifier(record.IdentifierNames[i]);
    keptIdentifiers_.push_back(i);
  }
  for (std::size_t j = 0; j < record.RateCodes.size(); ++j) {
    if (resourcesToRemove_.contains(UpperCase(record.RateCodes[j]))) continue;
    engine_.DefineResource(record.RateCodes[j], 1.0, -1);
    keptResources_.push_back(j);
  }
  dropsIdentifiers_ = keptIdentifiers_.size() != record.IdentifierNames.size();
  dropsResources_ = keptResources_.size() != record.RateCodes.size();
  previousHeader_ = record.Header;
  previousIdentifierNames_.assign(record.IdentifierNames.begin(), record.IdentifierNames.end());
  previousRateCodes_.assign(record.RateCodes.begin(), record.RateCodes.end());
}

bool CFileAggregator::Flush() {
  if (engine_.WriteResourceFile(true) == EQUAX_RETURN_CODE_OK) return true;
  lastErrorMessage_ = "Aggregation failed: " + engine_.LastErrorMessage();
  return false;
}

std::span<const std::string_view> CFileAggregator::KeptIdentifiers(
    const ResourceRecordView& record, std::vector<std::string_view>& scratch) const {
  return KeptValues<std::string_view>(keptIdentifiers_, dropsIdentifiers_, record.IdentifierValues,
                                      scratch);
}

std::span<const Decimal> CFileAggregator::KeptResources(const ResourceRecordView& record) {
  return KeptValues<Decimal>(keptResources_, dropsResources_, record.ResourceValues, resourceValues_);
}

// Records are added in file order, the engine looking a few records ahead.
bool CFileAggregator::AggregateFile() {
  lastErrorMessage_.clear();
  previousHeader_.clear();
  previousIdentifierNames_.clear();
  previousRateCodes_.clear();
  keptIdentifiers_.clear();
  keptResources_.clear();
  dropsIdentifiers_ = dropsResources_ = false;

  CResourceFile reader;
  reader.SetFileName(inputFileName_);
  if (!reader.FileOpen(CResourceFile::kModeRead)) {
    lastErrorMessage_ = "Unable to open input file '" + inputFileName_ + "': " + reader.LastErrorMessage();
    return false;
  }
  // An input that is the output under any name would never end: every
  // flush would append to the file being read.
  platform::FileIdentity output;
  platform::FileIdentity input;
  if (platform::IdentifyFile(engine_.OutputFileName(), output) && platform::IdentifyFile(inputFileName_, input) &&
      input == output) {
    lastErrorMessage_ = "Input file '" + inputFileName_ + "' and output file '" + engine_.OutputFileName() +
                        "' are the same file.";
    return false;
  }
  const bool added = engine_.AddRecordsAhead(
      batch_,
      [&reader](ResourceRecordView& record) { return !reader.AtEOF() && reader.FileRead(record); },
      [&reader](ResourceRecordView& record) { return reader.FileReadBuffered(record); },
      [this](const ResourceRecordView& record) { return KeptIdentifiers(record, lookaheadValues_); },
      [this](const ResourceRecordView& record, std::size_t keyTicket) { return AddRecord(record, keyTicket); });
  reader.FileClose();
  return added && Flush();
}

bool CFileAggregator::AddRecord(const ResourceRecordView& record, std::size_t keyTicket) {
  if (!SameLayout(record)) {
    if (!previousHeader_.empty() && !previousIdentifierNames_.empty() && !previousRateCodes_.empty() &&
        !Flush()) {
      return false;
    }
    Redefine(record);
  }
  const std::span<const std::string_view> identifiers = KeptIdentifiers(record, identifierValues_);
  if (identifiers.empty()) {
    lastErrorMessage_ = "You are attempting to write out a record with no identifiers";
    return false;
  }
  const std::span<const Decimal> resources = KeptResources(record);
  if (resources.empty()) {
    lastErrorMessage_ = "You are attempting to write out a record with no resources";
    return false;
  }
  if (engine_.AddEntry(identifiers, resources, record.Start, record.End, keyTicket) !=
      EQUAX_RETURN_CODE_OK) {
    lastErrorMessage_ = "Unable to add aggregate: " + engine_.LastErrorMessage();
    return false;
  }
  return true;
}

}  // namespace quax::agg
