#include "com/variant_values.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "com/com_error.h"

namespace quax::com {
namespace {

constexpr VARTYPE kByReferenceVariant = VT_BYREF | VT_VARIANT;

// The platform's conversion of a value to `type`, as the script functions
// do it (user locale, Booleans as True/False).
unique_variant Converted(const VARIANT& value, VARTYPE type, const char* what) {
  unique_variant result;
  const HRESULT hr = VariantChangeTypeEx(result.put(), const_cast<VARIANT*>(&value),
                                         LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL, type);
  if (hr == DISP_E_OVERFLOW) throw agg::DecimalOverflow();
  if (FAILED(hr)) ThrowTypeMismatch(std::string("Type mismatch: the value is not ") + what + ".");
  return result;
}

// Where the value of a scalar VARIANT is: the pointed-at element for
// VT_BYREF, the DECIMAL (which overlays the whole VARIANT) or the union.
const void* ValueAddress(const VARIANT& v) noexcept {
  if ((V_VT(&v) & VT_BYREF) != 0) return V_BYREF(&v);
  if (V_VT(&v) == VT_DECIMAL) return &V_DECIMAL(&v);
  return &V_I8(&v);
}

template <class T>
T Read(const void* at) noexcept {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// VT_R4 as VarDecFromR4 reads it: 7 significant digits, trailing zeros of
// the fraction dropped.
agg::Decimal DecimalFromSingle(float value) {
  if (!std::isfinite(value)) throw agg::DecimalOverflow();
  if (value == 0.0f) return agg::Decimal();
  char text[48];
  const int n = std::snprintf(text, sizeof text, "%.6e", static_cast<double>(value));
  for (int i = 0; i < n; ++i) {
    if (text[i] == ',') text[i] = '.';
  }
  agg::Decimal d = agg::Decimal::Parse(std::string_view(text, static_cast<std::size_t>(n)));
  while (d.Scale() > 0 && d.Round(d.Scale() - 1) == d) d = d.Round(d.Scale() - 1);
  return d;
}

// Appends UTF-16 text that is all ASCII (which every code page holds as it
// is); false, and nothing appended, for any other.
bool AppendAscii(std::string& out, const wchar_t* text, std::size_t length) {
  const std::size_t start = out.size();
  out.resize(start + length);
  for (std::size_t k = 0; k < length; ++k) {
    if (text[k] >= 0x80) {
      out.resize(start);
      return false;
    }
    out[start + k] = static_cast<char>(text[k]);
  }
  return true;
}

bool TextIsNumeric(BSTR text) {
  agg::Decimal ignored;
  return agg::Decimal::TryParse(AnsiFromBstr(text), ignored);
}

}  // namespace

// ---- Text ------------------------------------------------------------------

void AppendAnsi(std::string& out, const wchar_t* text, std::size_t length) {
  if (AppendAscii(out, text, length)) return;
  // Beyond ASCII: the code page decides the bytes.
  const std::size_t start = out.size();
  const int wide = static_cast<int>(length);
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  out.resize(start + static_cast<std::size_t>(bytes));
  WideCharToMultiByte(CP_ACP, 0, text, wide, out.data() + start, bytes, nullptr, nullptr);
}

bool AppendExactAnsi(std::string& out, const wchar_t* text, std::size_t length, std::string& unheld) {
  if (AppendAscii(out, text, length)) return true;
  const std::size_t start = out.size();
  // Neither a look-alike nor the default character: a character the code
  // page lacks is reported. A UTF-8 code page holds every character; only
  // broken UTF-16 fails there (the flags and the default-character test
  // are not allowed with it).
  const UINT codePage = GetACP();
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const auto convert = [&](const wchar_t* from, int count, char* to, int room) {
    BOOL usedDefault = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, flags, from, count, to, room, nullptr, utf8 ? nullptr : &usedDefault);
    return usedDefault ? 0 : bytes;
  };
  const int wide = static_cast<int>(length);
  const int bytes = convert(text, wide, nullptr, 0);
  if (bytes > 0) {
    out.resize(start + static_cast<std::size_t>(bytes));
    if (convert(text, wide, out.data() + start, bytes) == bytes) return true;
    out.resize(start);
  }
  // Which character: one code point (a surrogate pair counts as one) at a time.
  for (std::size_t i = 0; i < length;) {
    std::size_t units = 1;
    std::uint32_t codePoint = text[i];
    if (codePoint >= 0xD800 && codePoint < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      units = 2;
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
    }
    if (convert(text + i, static_cast<int>(units), nullptr, 0) <= 0) {
      char shown[16];
      std::snprintf(shown, sizeof shown, "U+%04X", static_cast<unsigned>(codePoint));
      unheld = std::string("holds the character ") + shown + " (character " + std::to_string(i + 1) +
               "), which the ANSI code page " + std::to_string(codePage) + " cannot hold";
      return false;
    }
    i += units;
  }
  unheld = "cannot be held by the ANSI code page " + std::to_string(codePage);
  return false;
}

ExactText ExactTextOf(BSTR text) {
  ExactText exact;
  if (text != nullptr && !AppendExactAnsi(exact.Text, text, SysStringLen(text), exact.Unheld)) exact.Text.clear();
  return exact;
}

ExactText ToExactText(const VARIANT& value) {
  const VARIANT& v = Dereferenced(value);
  if (V_VT(&v) == VT_EMPTY) return ExactText {};
  if (IsText(v)) return ExactTextOf(TextOf(v));
  const unique_variant converted = Converted(v, VT_BSTR, "a text");
  const VARIANT result = converted.get();
  return ExactTextOf(V_BSTR(&result));
}

namespace {

std::string FileName(const ExactText& name, std::string_view what) {
  if (!name.Unheld.empty()) throw ComError(E_INVALIDARG, "The " + std::string(what) + " " + name.Unheld + ".");
  if (const std::size_t nul = name.Text.find('\0'); nul != std::string::npos) {
    throw ComError(E_INVALIDARG, "The " + std::string(what) + " holds a NUL character (character " +
                                     std::to_string(nul + 1) + "), which would cut it short.");
  }
  return name.Text;
}

}  // namespace

std::string FileNameFromBstr(BSTR text, std::string_view what) { return FileName(ExactTextOf(text), what); }

std::string ToFileName(const VARIANT& value, std::string_view what) { return FileName(ToExactText(value), what); }

std::string AnsiFromBstr(BSTR text) {
  std::string out;
  if (text != nullptr) AppendAnsi(out, text, SysStringLen(text));
  return out;
}

unique_bstr BstrFromAnsi(std::string_view text) {
  const int bytes = static_cast<int>(text.size());
  const int wide = bytes == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
  unique_bstr result(SysAllocStringLen(nullptr, static_cast<UINT>(wide)));
  if (!result) throw std::bad_alloc();
  if (wide > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, result.get(), wide);
  return result;
}

void SetBstr(BSTR* out, std::string_view text) { *out = BstrFromAnsi(text).release(); }

// ---- Reading -----------------------------------------------------------------

const VARIANT& Dereferenced(const VARIANT& value) noexcept {
  const VARIANT* v = &value;
  while (V_VT(v) == kByReferenceVariant && V_VARIANTREF(v) != nullptr) v = V_VARIANTREF(v);
  return *v;
}

bool IsMissing(const VARIANT& value) noexcept {
  const VARIANT& v = Dereferenced(value);
  return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND;
}

bool IsText(const VARIANT& value) noexcept {
  return (V_VT(&Dereferenced(value)) & ~VT_BYREF) == VT_BSTR;
}

BSTR TextOf(const VARIANT& value) noexcept {
  const VARIANT& v = Dereferenced(value);
  if (V_VT(&v) == VT_BSTR) return V_BSTR(&v);
  if (V_VT(&v) == (VT_BYREF | VT_BSTR) && V_BSTRREF(&v) != nullptr) return *V_BSTRREF(&v);
  return nullptr;
}

bool DateOf(const VARIANT& value, double* out) noexcept {
  const VARIANT& v = Dereferenced(value);
  if (V_VT(&v) == VT_DATE) {
    *out = V_DATE(&v);
    return true;
  }
  if (V_VT(&v) == (VT_BYREF | VT_DATE) && V_DATEREF(&v) != nullptr) {
    *out = *V_DATEREF(&v);
    return true;
  }
  return false;
}

std::int32_t ToLong(const VARIANT& value) {
  const VARIANT& v = Dereferenced(value);
  if (V_VT(&v) == VT_I4) return V_I4(&v);
  if (V_VT(&v) == VT_I2) return V_I2(&v);
  const unique_variant converted = Converted(v, VT_I4, "a whole number");
  const VARIANT result = converted.get();
  return V_I4(&result);
}

double ToDouble(const VARIANT& value) {
  const VARIANT& v = Dereferenced(value);
  if (V_VT(&v) == VT_R8) return V_R8(&v);
  const unique_variant converted = Converted(v, VT_R8, "a number");
  const VARIANT result = converted.get();
  return V_R8(&result);
}

bool ToBool(const VARIANT& value) {
  const VARIANT& v = Dereferenced(value);
  if (V_VT(&v) == VT_BOOL) return V_BOOL(&v) != VARIANT_FALSE;
  const unique_variant converted = Converted(v, VT_BOOL, "a Boolean");
  const VARIANT result = converted.get();
  return V_BOOL(&result) != VARIANT_FALSE;
}

double ToDate(const VARIANT& value) {
  double date = 0;
  if (DateOf(value, &date)) return date;
  const unique_variant converted = Converted(Dereferenced(value), VT_DATE, "a date");
  const VARIANT result = converted.get();
  return V_DATE(&result);
}

std::string ToText(const VARIANT& value) {
  const VARIANT& v = Dereferenced(value);
  if (V_VT(&v) == VT_EMPTY) return std::string();
  if (IsText(v)) return AnsiFromBstr(TextOf(v));
  const unique_variant converted = Converted(v, VT_BSTR, "a text");
  const VARIANT result = converted.get();
  return AnsiFromBstr(V_BSTR(&result));
}

bool IsNumeric(const VARIANT& value) noexcept {
  const VARIANT& v = Dereferenced(value);
  switch (V_VT(&v) & ~VT_BYREF) {
    case VT_EMPTY:
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: case VT_BOOL:
      return true;
    case VT_BSTR:
      try {
        return TextIsNumeric(TextOf(v));
      } catch (...) {
        return false;
      }
    default:
      return false;
  }
}

bool TryToDecimal(const VARIANT& value, agg::Decimal& out) {
  const VARIANT& v = Dereferenced(value);
  const void* at = ValueAddress(v);
  if (at == nullptr) return false;
  switch (V_VT(&v) & ~VT_BYREF) {
    case VT_EMPTY: out = agg::Decimal(); return true;
    case VT_I1: out = agg::Decimal(Read<CHAR>(at)); return true;
    case VT_I2: out = agg::Decimal(Read<SHORT>(at)); return true;
    case VT_I4: out = agg::Decimal(Read<LONG>(at)); return true;
    case VT_INT: out = agg::Decimal(Read<INT>(at)); return true;
    case VT_I8: out = agg::Decimal::FromInt64(Read<LONGLONG>(at)); return true;
    case VT_UI1: out = agg::Decimal(Read<BYTE>(at)); return true;
    case VT_UI2: out = agg::Decimal(Read<USHORT>(at)); return true;
    case VT_UI4: out = agg::Decimal::FromUInt64(Read<ULONG>(at)); return true;
    case VT_UINT: out = agg::Decimal::FromUInt64(Read<UINT>(at)); return true;
    case VT_UI8: out = agg::Decimal::FromUInt64(Read<ULONGLONG>(at)); return true;
    case VT_R4: out = DecimalFromSingle(Read<FLOAT>(at)); return true;
    case VT_R8: out = agg::Decimal::FromDouble(Read<DOUBLE>(at)); return true;
    case VT_BOOL: out = agg::Decimal(Read<VARIANT_BOOL>(at) != VARIANT_FALSE ? -1 : 0); return true;
    case VT_CY: {
      const LONGLONG units = Read<CY>(at).int64;
      const std::uint64_t magnitude =
          units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
      out = agg::Decimal::FromMantissa64(magnitude, 4, units < 0);
      return true;
    }
    case VT_DECIMAL: out = FromPlatformDecimal(Read<DECIMAL>(at)); return true;
    case VT_BSTR:
      // Digits that do not fit are an overflow (thrown), anything else that
      // does not read as a number is not numeric.
      try {
        out = agg::Decimal::Parse(AnsiFromBstr(Read<BSTR>(at)));
        return true;
      } catch (const agg::DecimalTypeMismatch&) {
        return false;
      }
    default: return false;
  }
}

agg::Decimal ToDecimal(const VARIANT& value) {
  agg::Decimal result;
  if (!TryToDecimal(value, result)) {
    const BSTR text = TextOf(value);
    ThrowTypeMismatch(text != nullptr ? "Type mismatch: '" + AnsiFromBstr(text) + "' is not a number."
                                      : std::string("Type mismatch: the value is not a number."));
  }
  return result;
}

// ---- Writing -----------------------------------------------------------------

void SetLong(VARIANT* out, std::int32_t value) noexcept {
  VariantClear(out);
  V_VT(out) = VT_I4;
  V_I4(out) = value;
}

void SetBool(VARIANT* out, bool value) noexcept {
  VariantClear(out);
  V_VT(out) = VT_BOOL;
  V_BOOL(out) = ToVariantBool(value);
}

void SetDate(VARIANT* out, double value) noexcept {
  VariantClear(out);
  V_VT(out) = VT_DATE;
  V_DATE(out) = value;
}

void SetText(VARIANT* out, std::string_view text) {
  unique_bstr bstr = BstrFromAnsi(text);
  VariantClear(out);
  V_VT(out) = VT_BSTR;
  V_BSTR(out) = bstr.release();
}

DECIMAL ToPlatformDecimal(const agg::Decimal& value) noexcept {
  DECIMAL d {};
  d.scale = static_cast<BYTE>(value.Scale());
  d.sign = value.IsNegative() && !value.IsZero() ? DECIMAL_NEG : 0;
  d.Hi32 = value.Hi32();
  d.Lo32 = value.Lo32();
  d.Mid32 = value.Mid32();
  return d;
}

agg::Decimal FromPlatformDecimal(const DECIMAL& value) {
  return agg::Decimal::FromParts(value.Lo32, value.Mid32, value.Hi32, value.scale,
                                 (value.sign & DECIMAL_NEG) != 0);
}

void SetDecimal(VARIANT* out, const agg::Decimal& value) noexcept {
  VariantClear(out);
  // The DECIMAL overlays the whole VARIANT, its type field included: the
  // type is set after the value.
  V_DECIMAL(out) = ToPlatformDecimal(value);
  V_VT(out) = VT_DECIMAL;
}

}  // namespace quax::com
