#include "com/engine_variants.h"

#include <new>
#include <type_traits>
#include <variant>

#include "com/com_error.h"
#include "com/variant_values.h"

namespace quax::com {

std::optional<double> OptionalDate(const VARIANT& value) {
  if (IsMissing(value)) return std::nullopt;
  return ToDate(value);
}

void SetAggregationList(VARIANT* out, const agg::AggregationListView& list) {
  VariantClear(out);
  if (list.Rows == 0) return;
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(list.Columns), 0}, {static_cast<ULONG>(list.Rows), 0}};
  unique_safearray array(SafeArrayCreate(VT_VARIANT, 2, bounds));
  if (!array) throw std::bad_alloc();
  {
    const safearray_lock lock = LockSafeArray(array.get());
    if (!lock) throw std::bad_alloc();
    // The first index varies fastest: cell (column, row) follows the
    // view's row-major order.
    auto* cells = static_cast<VARIANT*>(array.get()->pvData);
    for (std::size_t k = 0; k < list.Cells.size(); ++k) {
      VARIANT* cell = &cells[k];
      std::visit(
          [cell](const auto& value) {
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, std::string>) {
              SetText(cell, value);
            } else if constexpr (std::is_same_v<Value, double>) {
              SetDate(cell, value);
            } else if constexpr (std::is_same_v<Value, std::int32_t>) {
              SetLong(cell, value);
            } else if constexpr (std::is_same_v<Value, agg::Decimal>) {
              SetDecimal(cell, value);
            }
          },
          list.Cells[k]);
    }
  }
  V_VT(out) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(out) = array.release();
}

namespace {

std::string IdentifierValueRefusal(const ValueList& identifierValues, std::size_t k, const std::string& unheld) {
  return "Identifier value " + std::to_string(identifierValues.LowerBound() + static_cast<LONG>(k)) + " " + unheld +
         "; the entry was not added.";
}

}  // namespace

std::int32_t VariantEntryFeeder::Add(agg::TypedEngine& engine, const ValueList& identifierValues,
                                     const ValueList& resourceValues, std::optional<double> start,
                                     std::optional<double> end) {
  // All identifier texts in one buffer, viewed once it stops growing. A
  // text the code page cannot hold is refused: as a look-alike or '?' it
  // would be summed with other texts.
  identifierBytes_.clear();
  identifierEnds_.clear();
  std::string unheld;
  for (std::size_t k = 0; k < identifierValues.Count(); ++k) {
    const VARIANT element = identifierValues.At(k);
    if (const BSTR text = TextOf(element); text != nullptr) {
      if (!AppendExactAnsi(identifierBytes_, text, SysStringLen(text), unheld)) {
        return engine.RefuseEntry(IdentifierValueRefusal(identifierValues, k, unheld));
      }
    } else {
      const ExactText converted = ToExactText(element);
      if (!converted.Unheld.empty()) {
        return engine.RefuseEntry(IdentifierValueRefusal(identifierValues, k, converted.Unheld));
      }
      identifierBytes_ += converted.Text;
    }
    identifierEnds_.push_back(identifierBytes_.size());
  }
  identifiers_.resize(identifierEnds_.size());
  std::size_t from = 0;
  for (std::size_t k = 0; k < identifierEnds_.size(); ++k) {
    identifiers_[k] = std::string_view(identifierBytes_).substr(from, identifierEnds_[k] - from);
    from = identifierEnds_[k];
  }

  resources_.resize(resourceValues.Count());
  for (std::size_t k = 0; k < resourceValues.Count(); ++k) {
    const VARIANT element = resourceValues.At(k);
    if (!TryToDecimal(element, resources_[k])) return AddAsTexts(engine, resourceValues, start, end);
  }
  return engine.AddEntry(identifiers_, resources_, start, end);
}

// A value that is not a number: the engine's text intake reports it (with
// DataValidation) after its other checks, or refuses it with a type
// mismatch. The numbers keep their exact digits as text.
std::int32_t VariantEntryFeeder::AddAsTexts(agg::TypedEngine& engine, const ValueList& resourceValues,
                                            std::optional<double> start, std::optional<double> end) {
  resourceTexts_.resize(resourceValues.Count());
  resourceTextViews_.resize(resourceValues.Count());
  for (std::size_t k = 0; k < resourceValues.Count(); ++k) {
    const VARIANT element = resourceValues.At(k);
    std::string& text = resourceTexts_[k];
    if (IsNumeric(element)) {
      text = ToDecimal(element).ToString();
    } else {
      try {
        text = ToText(element);
      } catch (const agg::Error&) {
        text.clear();  // Null, objects: no text, still not a number
      }
    }
    resourceTextViews_[k] = text;
  }
  try {
    return engine.AddEntryText(identifiers_, resourceTextViews_, start, end);
  } catch (const agg::DecimalTypeMismatch&) {
    for (std::size_t k = 0; k < resourceValues.Count(); ++k) {
      if (IsNumeric(resourceValues.At(k))) continue;
      ThrowTypeMismatch("Type mismatch: resource value " +
                        std::to_string(resourceValues.LowerBound() + static_cast<LONG>(k)) +
                        " ('" + resourceTexts_[k] + "') is not a number.");
    }
    throw;
  }
}

}  // namespace quax::com
