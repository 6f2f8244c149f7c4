// Conversions between automation values and the library's C++ types: text
// between BSTR and the ANSI code page, VARIANT to whole numbers, Booleans,
// dates, texts and exact decimals and back. Reading follows VT_BYREF.
// Failures throw ComError (type mismatch) or the decimal's own errors.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "record/decimal.h"
#include "unique_com.h"

namespace quax::com {

// ---- Text ------------------------------------------------------------------

// A BSTR as ANSI bytes; a null BSTR is the empty text.
std::string AnsiFromBstr(BSTR text);
// Appends the ANSI bytes of UTF-16 text.
void AppendAnsi(std::string& out, const wchar_t* text, std::size_t length);
// Appends the ANSI bytes of UTF-16 text only when the ANSI code page holds
// every character as it is (no look-alike, no '?'); otherwise appends
// nothing and answers false, `unheld` saying which character it cannot hold
// ("holds the character U+0101 (character 2), which the ANSI code page 1252
// cannot hold"). Distinct texts so stay distinct.
bool AppendExactAnsi(std::string& out, const wchar_t* text, std::size_t length, std::string& unheld);

// A client's text in ANSI, exactly or not at all.
struct ExactText {
  std::string Text;
  std::string Unheld;  // empty when Text is exact; else what AppendExactAnsi says
};
ExactText ExactTextOf(BSTR text);
// Any value as ToText converts it, exactly or not at all.
ExactText ToExactText(const VARIANT& value);

// A file name as the system must be given it: a character the ANSI code
// page cannot hold, or a NUL (the system would read the name up to it),
// throws ComError (E_INVALIDARG) naming `what`, so that no other file is
// opened than the one named.
std::string FileNameFromBstr(BSTR text, std::string_view what);
std::string ToFileName(const VARIANT& value, std::string_view what);

// A new BSTR of ANSI text; throws std::bad_alloc when none can be allocated.
unique_bstr BstrFromAnsi(std::string_view text);
// The same for an out-parameter.
void SetBstr(BSTR* out, std::string_view text);

// ---- Reading VARIANT values ---------------------------------------------------

// The value a VARIANT holds, through VT_BYREF|VT_VARIANT (one level or more).
const VARIANT& Dereferenced(const VARIANT& value) noexcept;
// An optional parameter the caller left out.
bool IsMissing(const VARIANT& value) noexcept;
// VT_BSTR, also by reference.
bool IsText(const VARIANT& value) noexcept;
// The text of IsText values (null stands for the empty text); else null.
BSTR TextOf(const VARIANT& value) noexcept;
// VT_DATE (also by reference): the date in *out.
bool DateOf(const VARIANT& value, double* out) noexcept;

// The automation conversions (as CLng, CDbl, CBool, CDate, CStr do).
std::int32_t ToLong(const VARIANT& value);
double ToDouble(const VARIANT& value);
bool ToBool(const VARIANT& value);
double ToDate(const VARIANT& value);
std::string ToText(const VARIANT& value);

// Numeric: any number, Empty, a Boolean (-1 or 0), or text that reads as a
// number ("." as the decimal point, optional sign, blanks and exponent).
bool IsNumeric(const VARIANT& value) noexcept;
// The exact decimal of a numeric value: integers, currency and decimals
// exactly; doubles to 15 and singles to 7 significant digits (as
// VarDecFromR8/VarDecFromR4). Not numeric: ComError (type mismatch); too
// large: agg::DecimalOverflow.
agg::Decimal ToDecimal(const VARIANT& value);
// The same answering false (out unchanged) for a value that is not numeric.
bool TryToDecimal(const VARIANT& value, agg::Decimal& out);

// ---- Writing VARIANT values ---------------------------------------------------

// Each clears *out first.
void SetLong(VARIANT* out, std::int32_t value) noexcept;
void SetBool(VARIANT* out, bool value) noexcept;
void SetDate(VARIANT* out, double value) noexcept;
void SetText(VARIANT* out, std::string_view text);
void SetDecimal(VARIANT* out, const agg::Decimal& value) noexcept;
DECIMAL ToPlatformDecimal(const agg::Decimal& value) noexcept;
agg::Decimal FromPlatformDecimal(const DECIMAL& value);

inline VARIANT_BOOL ToVariantBool(bool value) noexcept { return value ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace quax::com
