// Automation arrays seen without copying. A ValueList is a run of values
// inside a SAFEARRAY: a one-dimensional array, or one column of a
// two-dimensional one (the first index varies fastest, so a column is
// contiguous). Element k is handed out as a by-reference VARIANT pointing into
// the array; the array is locked while a ValueList made by Of() lives, so it
// can be neither freed nor resized under the view.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "unique_com.h"

namespace quax::com {

struct ArrayShape {
  UINT Dimensions = 0;  // 0: not an array
  VARTYPE ElementType = VT_EMPTY;
  ULONG ElementBytes = 0;
  // Element count and lower bound of the first and the second index.
  LONG Count[2] {};
  LONG LowerBound[2] {};
};

// The SAFEARRAY a VARIANT holds, directly or by reference; null otherwise.
SAFEARRAY* ArrayOf(const VARIANT& value) noexcept;
ArrayShape ShapeOf(SAFEARRAY* array) noexcept;
// Element types a view can point at (no records, no nested arrays).
bool IsViewableElementType(VARTYPE type) noexcept;

class ValueList {
 public:
  ValueList() = default;
  // The one-dimensional array `value` holds; anything else throws ComError
  // (type mismatch) naming `what`.
  static ValueList Of(const VARIANT& value, std::string_view what);
  // Column `column` (0 = the first, whatever the lower bound) of a locked
  // two-dimensional array whose shape the caller checked.
  static ValueList Column(SAFEARRAY* array, const ArrayShape& shape, LONG column) noexcept;

  std::size_t Count() const noexcept { return count_; }
  LONG LowerBound() const noexcept { return lowerBound_; }
  VARTYPE ElementType() const noexcept { return elementType_; }
  const void* Data() const noexcept { return data_; }
  // Element k (0-based) as a by-reference VARIANT; never to be cleared.
  VARIANT At(std::size_t k) const noexcept;

 private:
  safearray_lock lock_;
  char* data_ = nullptr;
  VARTYPE elementType_ = VT_EMPTY;
  ULONG elementBytes_ = 0;
  std::size_t count_ = 0;
  LONG lowerBound_ = 0;
};

// Why a two-dimensional list (identifiers or resources by entry) cannot
// serve `entries` entries; empty when it can.
std::string EntryValueListProblem(const ArrayShape& shape, std::string_view name, std::int32_t entries);
// The same for a one-dimensional date list.
std::string EntryDateListProblem(const ArrayShape& shape, std::string_view name, std::int32_t entries);

}  // namespace quax::com
