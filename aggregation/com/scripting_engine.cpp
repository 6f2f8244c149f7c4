#include "com/scripting_engine.h"

#include "com/com_error.h"
#include "com/variant_values.h"
#include "record/date_text.h"
#include "record/date_time.h"

namespace quax::com {
namespace {

constexpr const char* kNumericValueMissing = "Numeric value not specified at resource value index";
constexpr const char* kDateTypeNotRecognized = "Date data type specified was not recognized.";

std::string DateTextRefused(const char* which, std::string_view text) {
  return std::string("Unable to convert ") + which + "date string '" + std::string(text) + "' to a date.";
}

// A VARIANT that stands for an omitted date.
VARIANT MissingDate() noexcept {
  VARIANT missing;
  VariantInit(&missing);
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  return missing;
}

}  // namespace

std::optional<double> DateFromText(std::string_view text, bool validate) {
  agg::DateTextPieces pieces;
  switch (agg::SplitDateText(text, pieces)) {
    case agg::DateTextResult::TooShort: return std::nullopt;
    case agg::DateTextResult::NotNumeric:
      if (validate) return std::nullopt;
      ThrowTypeMismatch("Type mismatch: the date text '" + std::string(text) + "' holds a piece that is not a number.");
    case agg::DateTextResult::Split: break;
  }
  UDATE calendar {};
  calendar.st.wYear = static_cast<WORD>(pieces.Year);
  calendar.st.wMonth = static_cast<WORD>(pieces.Month);
  calendar.st.wDay = static_cast<WORD>(pieces.Day);
  calendar.st.wHour = static_cast<WORD>(pieces.Hour);
  calendar.st.wMinute = static_cast<WORD>(pieces.Minute);
  calendar.st.wSecond = static_cast<WORD>(pieces.Second);
  DATE date = 0;
  if (FAILED(VarDateFromUdate(&calendar, 0, &date))) return std::nullopt;
  // The platform rolls a day past the end of 9999 over into the year 10000,
  // which no resource record can hold.
  if (!agg::IsWritableDateTime(date)) return std::nullopt;
  return date;
}

void ScriptingEngine::SetDataValidation(bool value) {
  lastErrorMessage_.clear();
  dataValidation_ = value;
  engine_.SetDataValidation(value);
}

bool ScriptingEngine::Initialize(std::int32_t maxEntries) {
  lastErrorMessage_.clear();
  dataValidation_ = false;
  return engine_.Initialize(maxEntries);
}

void ScriptingEngine::SetDate(const VARIANT& value, bool start) {
  lastErrorMessage_.clear();
  const auto set = [this, start](double date) {
    if (start) {
      engine_.SetDateStart(date);
    } else {
      engine_.SetDateEnd(date);
    }
  };
  if (IsText(value)) {
    const std::string ansi = AnsiFromBstr(TextOf(value));
    if (const std::optional<double> date = DateFromText(ansi, dataValidation_)) {
      set(*date);
    } else {
      lastErrorMessage_ = DateTextRefused("", ansi);
    }
    return;
  }
  double date = 0;
  if (DateOf(value, &date)) {
    set(date);
    return;
  }
  set(ToDate(value));
  lastErrorMessage_ = kDateTypeNotRecognized;
}

bool ScriptingEngine::EntryDate(const VARIANT& value, bool start, double& out) {
  const char* which = start ? "Start " : "End ";
  if (IsMissing(value)) {
    out = agg::kNoDate;
    return true;
  }
  if (IsText(value)) {
    const std::string ansi = AnsiFromBstr(TextOf(value));
    if (const std::optional<double> date = DateFromText(ansi, dataValidation_)) {
      out = *date;
      return true;
    }
    lastErrorMessage_ = DateTextRefused(which, ansi);
    return false;
  }
  if (DateOf(value, &out)) return true;
  lastErrorMessage_ = std::string(which) + "date data type specified was not recognized.";
  return false;
}

std::int32_t ScriptingEngine::Refuse(std::string message) {
  lastErrorMessage_ = std::move(message);
  return agg::EQUAX_RETURN_CODE_ERROR;
}

std::int32_t ScriptingEngine::AddEntry(const VARIANT& identifierValueList,
                                       const VARIANT& resourceValueList, const VARIANT& dateStart,
                                       const VARIANT& dateEnd) {
  lastErrorMessage_.clear();  // else an older refusal would hide the engine's message
  double start = 0;
  double end = 0;
  if (!EntryDates(dateStart, dateEnd, start, end)) return agg::EQUAX_RETURN_CODE_ERROR;
  const ValueList resources = ValueList::Of(resourceValueList, "resource value list");
  const ValueList identifiers = ValueList::Of(identifierValueList, "identifier value list");
  return AddEntryFrom(identifiers, resources, start, end);
}

bool ScriptingEngine::EntryDates(const VARIANT& dateStart, const VARIANT& dateEnd, double& start,
                                 double& end) {
  return EntryDate(dateStart, true, start) && EntryDate(dateEnd, false, end);
}

std::int32_t ScriptingEngine::AddEntryFrom(const ValueList& identifierValues,
                                           const ValueList& resourceValues, double start, double end) {
  if (dataValidation_) {
    for (std::size_t k = 0; k < resourceValues.Count(); ++k) {
      if (IsNumeric(resourceValues.At(k))) continue;
      return Refuse(kNumericValueMissing +
                    std::to_string(resourceValues.LowerBound() + static_cast<LONG>(k)));
    }
  }
  return feeder_.Add(engine_, identifierValues, resourceValues, start, end);
}

std::int32_t ScriptingEngine::AddEntries(std::int32_t numberOfEntries,
                                         const VARIANT& identifierValueList,
                                         const VARIANT& resourceValueList,
                                         const VARIANT* dateStartList, const VARIANT* dateEndList) {
  lastErrorMessage_.clear();
  if (numberOfEntries == 0) return agg::EQUAX_RETURN_CODE_OK;
  if (numberOfEntries < 0) {
    return Refuse("The number of entries must not be negative; received " +
                  std::to_string(numberOfEntries) + ".");
  }
  SAFEARRAY* identifierArray = ArrayOf(identifierValueList);
  SAFEARRAY* resourceArray = ArrayOf(resourceValueList);
  const ArrayShape identifierShape = ShapeOf(identifierArray);
  const ArrayShape resourceShape = ShapeOf(resourceArray);
  std::string problem = EntryValueListProblem(identifierShape, "identifier value list", numberOfEntries);
  if (problem.empty()) problem = EntryValueListProblem(resourceShape, "resource value list", numberOfEntries);
  const bool startsGiven = dateStartList != nullptr && !IsMissing(*dateStartList);
  const bool endsGiven = dateEndList != nullptr && !IsMissing(*dateEndList);
  if (problem.empty() && startsGiven) {
    problem = EntryDateListProblem(ShapeOf(ArrayOf(*dateStartList)), "start date list", numberOfEntries);
  }
  if (problem.empty() && endsGiven) {
    problem = EntryDateListProblem(ShapeOf(ArrayOf(*dateEndList)), "end date list", numberOfEntries);
  }
  if (!problem.empty()) return Refuse(std::move(problem));

  // Locked for the whole call: a listener cannot free or resize them.
  const safearray_lock identifierLock = LockSafeArray(identifierArray);
  const safearray_lock resourceLock = LockSafeArray(resourceArray);
  if (!identifierLock || !resourceLock) return Refuse("The value lists cannot be read.");
  const ValueList starts = startsGiven ? ValueList::Of(*dateStartList, "start date list") : ValueList();
  const ValueList ends = endsGiven ? ValueList::Of(*dateEndList, "end date list") : ValueList();
  const VARIANT missing = MissingDate();
  for (std::int32_t k = 0; k < numberOfEntries; ++k) {
    const auto entry = static_cast<std::size_t>(k);
    double start = 0;
    double end = 0;
    if (!EntryDates(startsGiven ? starts.At(entry) : missing, endsGiven ? ends.At(entry) : missing,
                    start, end) ||
        AddEntryFrom(ValueList::Column(identifierArray, identifierShape, k),
                     ValueList::Column(resourceArray, resourceShape, k), start,
                     end) != agg::EQUAX_RETURN_CODE_OK) {
      return agg::EQUAX_RETURN_CODE_ERROR;
    }
  }
  return agg::EQUAX_RETURN_CODE_OK;
}

}  // namespace quax::com
