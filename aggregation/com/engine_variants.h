// Automation values into and out of the engine: one entry given as
// VARIANT lists (identifier values as ANSI texts, resource values as exact
// decimals), optional date arguments, and the aggregation table as a
// two-dimensional VARIANT array.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com/value_list.h"
#include "com/variant_values.h"
#include "engine/typed_engine.h"

namespace quax::com {

// What file-name refusals call the names.
inline constexpr const char* kOutputFileName = "output file name";
inline constexpr const char* kInputFileName = "input file name";
inline constexpr const char* kWorkFilePath = "work file path";

// A date argument: nullopt when omitted, else its DATE (type mismatch when
// it is none).
std::optional<double> OptionalDate(const VARIANT& value);

// The table as AggregationList shows it: VT_EMPTY when it is empty, else a
// two-dimensional array of VARIANT indexed (column, row) from 0; exact
// decimals as VT_DECIMAL, dates as VT_DATE.
void SetAggregationList(VARIANT* out, const agg::AggregationListView& list);

// A definition made with a client's text: `define` gets its ANSI text when
// the code page holds it exactly, `refuse` (TypedEngine::RefuseDefinition)
// the message naming `what` otherwise, so that no look-alike is defined.
template <class Define, class Refuse>
void DefineExactly(const ExactText& text, const char* what, Define define, Refuse refuse) {
  if (text.Unheld.empty()) {
    define(text.Text);
  } else {
    refuse(std::string("The ") + what + " " + text.Unheld + ".");
  }
}

// Feeds entries; the scratch storage is reused from entry to entry.
class VariantEntryFeeder {
 public:
  // The engine's return code. A resource value that is not a number is the
  // engine's to judge (its message with DataValidation, else a type
  // mismatch thrown naming the value).
  std::int32_t Add(agg::TypedEngine& engine, const ValueList& identifierValues,
                   const ValueList& resourceValues, std::optional<double> start,
                   std::optional<double> end);

 private:
  std::int32_t AddAsTexts(agg::TypedEngine& engine, const ValueList& resourceValues,
                          std::optional<double> start, std::optional<double> end);

  std::string identifierBytes_;
  std::vector<std::size_t> identifierEnds_;
  std::vector<std::string_view> identifiers_;
  std::vector<agg::Decimal> resources_;
  std::vector<std::string> resourceTexts_;
  std::vector<std::string_view> resourceTextViews_;
};

}  // namespace quax::com
