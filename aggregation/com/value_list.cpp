#include "com/value_list.h"

#include "com/com_error.h"
#include "com/variant_values.h"

namespace quax::com {

SAFEARRAY* ArrayOf(const VARIANT& value) noexcept {
  const VARIANT& v = Dereferenced(value);
  if ((V_VT(&v) & VT_ARRAY) == 0) return nullptr;
  if ((V_VT(&v) & VT_BYREF) != 0) return V_ARRAYREF(&v) != nullptr ? *V_ARRAYREF(&v) : nullptr;
  return V_ARRAY(&v);
}

ArrayShape ShapeOf(SAFEARRAY* array) noexcept {
  ArrayShape shape;
  if (array == nullptr) return shape;
  VARTYPE type = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &type))) return shape;
  shape.Dimensions = SafeArrayGetDim(array);
  shape.ElementType = type;
  shape.ElementBytes = SafeArrayGetElemsize(array);
  for (UINT d = 0; d < shape.Dimensions && d < 2; ++d) {
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(array, d + 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, d + 1, &upper))) {
      return ArrayShape {};
    }
    shape.LowerBound[d] = lower;
    shape.Count[d] = upper >= lower ? upper - lower + 1 : 0;
  }
  return shape;
}

bool IsViewableElementType(VARTYPE type) noexcept {
  switch (type) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR:
    case VT_BOOL: case VT_DECIMAL: case VT_ERROR: case VT_VARIANT:
      return true;
    default:
      return false;
  }
}

ValueList ValueList::Of(const VARIANT& value, std::string_view what) {
  SAFEARRAY* array = ArrayOf(value);
  const ArrayShape shape = ShapeOf(array);
  if (shape.Dimensions != 1 || !IsViewableElementType(shape.ElementType)) {
    ThrowTypeMismatch("Type mismatch: the " + std::string(what) +
                      " is not a one-dimensional array of values.");
  }
  ValueList list;
  list.lock_ = LockSafeArray(array);
  if (!list.lock_) ThrowTypeMismatch("Type mismatch: the " + std::string(what) + " cannot be read.");
  list.data_ = static_cast<char*>(array->pvData);
  list.elementType_ = shape.ElementType;
  list.elementBytes_ = shape.ElementBytes;
  list.count_ = static_cast<std::size_t>(shape.Count[0]);
  list.lowerBound_ = shape.LowerBound[0];
  return list;
}

ValueList ValueList::Column(SAFEARRAY* array, const ArrayShape& shape, LONG column) noexcept {
  ValueList list;
  list.elementType_ = shape.ElementType;
  list.elementBytes_ = shape.ElementBytes;
  list.count_ = static_cast<std::size_t>(shape.Count[0]);
  list.lowerBound_ = shape.LowerBound[0];
  list.data_ = static_cast<char*>(array->pvData) +
               static_cast<std::size_t>(column) * list.count_ * shape.ElementBytes;
  return list;
}

VARIANT ValueList::At(std::size_t k) const noexcept {
  VARIANT element;
  VariantInit(&element);
  V_VT(&element) = static_cast<VARTYPE>(VT_BYREF | elementType_);
  V_BYREF(&element) = data_ + k * elementBytes_;
  return element;
}

std::string EntryValueListProblem(const ArrayShape& shape, std::string_view name, std::int32_t entries) {
  const std::string list(name);
  if (shape.Dimensions != 2 || shape.ElementType != VT_VARIANT || shape.ElementBytes != sizeof(VARIANT)) {
    return "The " + list + " is not a two-dimensional array of variants.";
  }
  if (shape.Count[1] < entries) {
    return "The " + list + " holds " + std::to_string(shape.Count[1]) + " entries; " +
           std::to_string(entries) + " were requested.";
  }
  return std::string();
}

std::string EntryDateListProblem(const ArrayShape& shape, std::string_view name, std::int32_t entries) {
  const std::string list(name);
  if (shape.Dimensions != 1 || !IsViewableElementType(shape.ElementType)) {
    return "The " + list + " is not a one-dimensional array of dates.";
  }
  if (shape.Count[0] < entries) {
    return "The " + list + " holds " + std::to_string(shape.Count[0]) + " dates; " +
           std::to_string(entries) + " were requested.";
  }
  return std::string();
}

}  // namespace quax::com
