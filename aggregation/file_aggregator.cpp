#include "file_aggregator.h"

#include <memory>

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
bool CFileAggregator::SameLayout(const ResourceRecord& record) const {
  return record.Header == previousHeader_ && record.IdentifierNames == previousIdentifierNames_ &&
         record.RateCodes == previousRateCodes_;
}

void CFileAggregator::Redefine(const ResourceRecord& record) {
  engine_.ClearIdentifierList();
  engine_.ClearResourceList();
  engine_.DefineResourceRecordHeader(record.Header);
  keepIdentifier_.assign(record.IdentifierNames.size(), false);
  keepResource_.assign(record.RateCodes.size(), false);
  std::size_t identifiersKept = 0;
  std::size_t resourcesKept = 0;
  for (std::size_t i = 0; i < record.IdentifierNames.size(); ++i) {
    if (identifiersToRemove_.contains(UpperCase(record.IdentifierNames[i]))) continue;
    engine_.DefineIdentifier(record.IdentifierNames[i]);
    keepIdentifier_[i] = true;
    ++identifiersKept;
  }
  for (std::size_t j = 0; j < record.RateCodes.size(); ++j) {
    if (resourcesToRemove_.contains(UpperCase(record.RateCodes[j]))) continue;
    engine_.DefineResource(record.RateCodes[j], 1.0, -1);
    keepResource_[j] = true;
    ++resourcesKept;
  }
  identifierValues_.resize(identifiersKept);
  resourceValues_.resize(resourcesKept);
  previousHeader_ = record.Header;
  previousIdentifierNames_ = record.IdentifierNames;
  previousRateCodes_ = record.RateCodes;
}

bool CFileAggregator::Flush() {
  if (engine_.WriteResourceFile(true) == EQUAX_RETURN_CODE_OK) return true;
  lastErrorMessage_ = "Aggregation failed: " + engine_.LastErrorMessage();
  return false;
}

bool CFileAggregator::AggregateFile() {
  lastErrorMessage_.clear();
  previousHeader_.clear();
  previousIdentifierNames_.clear();
  previousRateCodes_.clear();
  keepIdentifier_.clear();
  keepResource_.clear();

  auto reader = std::make_unique<CResourceFile>();
  reader->SetFileName(inputFileName_);
  if (!reader->FileOpen(CResourceFile::kModeRead)) {
    lastErrorMessage_ =
        "Unable to open input file '" + inputFileName_ + "': " + reader->LastErrorMessage();
    return false;
  }
  ResourceRecord record;
  std::int64_t recordsRead = 0;
  bool result = false;
  for (;;) {
    if (reader->AtEOF()) {
      reader->FileClose();
      result = Flush();
      break;
    }
    reader->FileRead(record);
    ++recordsRead;
    if (progress_ && progressInterval_ > 0 && recordsRead % progressInterval_ == 0) {
      progress_(recordsRead);
    }
    if (!SameLayout(record)) {
      if (!previousHeader_.empty() && !previousIdentifierNames_.empty() && !previousRateCodes_.empty() &&
          !Flush()) {
        break;
      }
      Redefine(record);
    }
    std::size_t slot = 0;
    for (std::size_t i = 0; i < record.IdentifierValues.size() && i < keepIdentifier_.size(); ++i) {
      if (keepIdentifier_[i]) identifierValues_[slot++] = record.IdentifierValues[i];
    }
    if (slot == 0) {
      lastErrorMessage_ = "You are attempting to write out a record with no identifiers";
      break;
    }
    slot = 0;
    for (std::size_t j = 0; j < record.ResourceValues.size() && j < keepResource_.size(); ++j) {
      if (keepResource_[j]) resourceValues_[slot++] = record.ResourceValues[j];
    }
    if (slot == 0) {
      lastErrorMessage_ = "You are attempting to write out a record with no resources";
      break;
    }
    if (engine_.AddEntry(identifierValues_, resourceValues_, record.Start, record.End) !=
        EQUAX_RETURN_CODE_OK) {
      lastErrorMessage_ = "Unable to add aggregate: " + engine_.LastErrorMessage();
      break;
    }
  }
  if (reader->IsFileOpen()) reader->FileClose();
  return result;
}

}  // namespace quax::agg
