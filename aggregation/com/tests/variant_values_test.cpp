// Automation values into and out of the library, checked against oleaut32's
// own conversions on the same values: exact decimals in (text, integers,
// currency, doubles) and out (VT_DECIMAL), ANSI text, the fixed-layout date
// text, and the array views with their shape checks.
#include "com/variant_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "com/com_error.h"
#include "com/engine_variants.h"
#include "com/event_records.h"
#include "com/scripting_engine.h"
#include "com/value_list.h"
#include "com_test_support.h"

namespace quax::com {
namespace {

using testing::Array;
using testing::Narrow;

VARTYPE TypeOf(const unique_variant& value) {
  const VARIANT v = value.get();
  return V_VT(&v);
}

HRESULT ThrownResult(const std::function<void()>& action) {
  try {
    action();
  } catch (const ComError& error) {
    return error.Result();
  } catch (const agg::DecimalOverflow&) {
    return DISP_E_OVERFLOW;
  }
  return S_OK;
}

agg::Decimal PlatformDecimal(const VARIANT& value) {
  DECIMAL d {};
  VARIANT converted;
  VariantInit(&converted);
  EXPECT_EQ(VariantChangeTypeEx(&converted, const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0, VT_DECIMAL), S_OK);
  d = V_DECIMAL(&converted);
  return FromPlatformDecimal(d);
}

TEST(VariantValues, NumericTextReadsAsVarDecFromStrReadsIt) {
  for (const wchar_t* text : {L"0", L"1", L"-1", L"12.50", L"0.000001", L"-0.25", L"123456789012.3456",
                              L"79228162514264337593543950335", L"-79228162514264337593543950335",
                              L"1.2345678901234567890123456789", L"0.0000000000000000000000000001", L" 42 ",
                              L"99999999999", L"-0.0000001"}) {
    DECIMAL platform {};
    ASSERT_EQ(VarDecFromStr(const_cast<wchar_t*>(text), LOCALE_INVARIANT, 0, &platform), S_OK) << Narrow(text);
    const agg::Decimal ours = ToDecimal(testing::Text(text).get());
    EXPECT_EQ(ours, FromPlatformDecimal(platform)) << Narrow(text) << " read as " << ours.ToString();
  }
}

TEST(VariantValues, DecimalsLeaveAsVtDecimalThatOleautReadsBackExactly) {
  for (const char* text : {"0", "1.5", "-2.345", "99999999999", "12345678901234567890.12345678",
                           "-0.0000000000000000000000000001", "79228162514264337593543950335"}) {
    const agg::Decimal value = agg::Decimal::Parse(text);
    VARIANT out;
    VariantInit(&out);
    SetDecimal(&out, value);
    ASSERT_EQ(V_VT(&out), VT_DECIMAL);
    unique_bstr platformText;
    ASSERT_EQ(VarBstrFromDec(&V_DECIMAL(&out), LOCALE_INVARIANT, 0, platformText.put()), S_OK);
    DECIMAL back {};
    ASSERT_EQ(VarDecFromStr(platformText.get(), LOCALE_INVARIANT, 0, &back), S_OK);
    EXPECT_EQ(FromPlatformDecimal(back), value) << text << " came back as " << Narrow(platformText.get());
    EXPECT_EQ(FromPlatformDecimal(V_DECIMAL(&out)).ToString(), value.ToString());
  }
}

TEST(VariantValues, NumbersOfEveryAutomationTypeConvertAsThePlatformDoes) {
  std::vector<VARIANT> values;
  const auto add = [&values](VARTYPE type, auto set) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    set(v);
    values.push_back(v);
  };
  add(VT_I4, [](VARIANT& v) { V_I4(&v) = -7; });
  add(VT_I2, [](VARIANT& v) { V_I2(&v) = 32000; });
  add(VT_UI1, [](VARIANT& v) { V_UI1(&v) = 255; });
  add(VT_I8, [](VARIANT& v) { V_I8(&v) = -9007199254740993LL; });
  add(VT_UI8, [](VARIANT& v) { V_UI8(&v) = 18446744073709551615ULL; });
  add(VT_R8, [](VARIANT& v) { V_R8(&v) = 0.1; });
  add(VT_R8, [](VARIANT& v) { V_R8(&v) = 1234.5678; });
  add(VT_R8, [](VARIANT& v) { V_R8(&v) = -3.0e-12; });
  add(VT_CY, [](VARIANT& v) { V_CY(&v).int64 = 15000; });
  add(VT_CY, [](VARIANT& v) { V_CY(&v).int64 = -922337203685477LL; });
  for (const VARIANT& value : values) {
    EXPECT_TRUE(IsNumeric(value)) << "vt " << V_VT(&value);
    EXPECT_EQ(ToDecimal(value), PlatformDecimal(value)) << "vt " << V_VT(&value);
  }
  VARIANT empty;
  VariantInit(&empty);
  EXPECT_TRUE(IsNumeric(empty));
  EXPECT_EQ(ToDecimal(empty), agg::Decimal(0));
  // True is -1, as the script functions and VarR8FromBool take it.
  double platformTrue = 0;
  ASSERT_EQ(VarR8FromBool(VARIANT_TRUE, &platformTrue), S_OK);
  EXPECT_EQ(ToDecimal(testing::Bool(true).get()), agg::Decimal::FromDouble(platformTrue));
  EXPECT_EQ(ToDecimal(testing::Bool(false).get()), agg::Decimal(0));
  VARIANT single;
  VariantInit(&single);
  V_VT(&single) = VT_R4;
  V_R4(&single) = 0.1f;  // seven significant digits, as VarDecFromR4 takes them
  EXPECT_EQ(ToDecimal(single).ToString(), "0.1");
  // A script variable arrives by reference.
  VARIANT referenced = values[0];
  VARIANT reference;
  V_VT(&reference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&reference) = &referenced;
  EXPECT_EQ(ToDecimal(reference), agg::Decimal(-7));
}

TEST(VariantValues, WhatIsNotANumberIsATypeMismatchAndTooLargeAnOverflow) {
  VARIANT null;
  VariantInit(&null);
  V_VT(&null) = VT_NULL;
  VARIANT date;
  VariantInit(&date);
  V_VT(&date) = VT_DATE;
  V_DATE(&date) = 37000;
  for (const wchar_t* text : {L"abc", L"", L"1,234", L"12a", L"--1"}) {
    const unique_variant value = testing::Text(text);
    EXPECT_FALSE(IsNumeric(value.get())) << Narrow(text);
    EXPECT_EQ(ThrownResult([&] { ToDecimal(value.get()); }), DISP_E_TYPEMISMATCH) << Narrow(text);
  }
  EXPECT_FALSE(IsNumeric(null));
  EXPECT_FALSE(IsNumeric(date));
  EXPECT_EQ(ThrownResult([&] { ToDecimal(null); }), DISP_E_TYPEMISMATCH);
  try {
    ToDecimal(testing::Text(L"x1").get());
    FAIL() << "no error";
  } catch (const ComError& error) {
    EXPECT_STREQ(error.what(), "Type mismatch: 'x1' is not a number.");
  }
  EXPECT_EQ(ThrownResult([] { ToDecimal(testing::Text(L"1e30").get()); }), DISP_E_OVERFLOW);
  EXPECT_EQ(ThrownResult([] { ToDecimal(testing::Double(1e300).get()); }), DISP_E_OVERFLOW);
  EXPECT_EQ(ThrownResult([] { ToLong(testing::Text(L"abc").get()); }), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(ThrownResult([] { ToLong(testing::Double(1e12).get()); }), DISP_E_OVERFLOW);
}

TEST(VariantValues, TextTravelsAsAnsiBothWays) {
  const std::string ansi = "M\xFCller, 100%";  // code page 1252
  const unique_bstr wide = BstrFromAnsi(ansi);
  EXPECT_EQ(SysStringLen(wide.get()), ansi.size());
  EXPECT_EQ(wide.get()[1], L'\u00FC');
  EXPECT_EQ(AnsiFromBstr(wide.get()), ansi);
  EXPECT_EQ(AnsiFromBstr(nullptr), "");
  EXPECT_EQ(ToText(testing::Long(42).get()), "42");
  EXPECT_EQ(ToText(testing::Empty().get()), "");
  EXPECT_EQ(ToText(testing::Bool(true).get()), "True");
}

// Exactly or not at all: what the code page holds keeps its bytes, the
// first character it lacks is named by its code point, a pair of surrogates
// as one (the test prefix's code page is 1252).
TEST(VariantValues, ExactTextIsTheCodePagesBytesOrNamesWhatItLacks) {
  const auto exact = [](const wchar_t* text) {
    return ExactTextOf(unique_bstr(SysAllocString(text)).get());
  };
  EXPECT_EQ(exact(L"M\u00FCller").Text, "M\xFCller");
  EXPECT_EQ(exact(L"M\u00FCller").Unheld, "");
  EXPECT_EQ(exact(L"??").Text, "??");
  const ExactText macron = exact(L"Ma\u0101ller");
  EXPECT_EQ(macron.Text, "");
  EXPECT_EQ(macron.Unheld,
            "holds the character U+0101 (character 3), which the ANSI code page " + std::to_string(GetACP()) +
                " cannot hold");
  EXPECT_EQ(exact(L"ok \U0001F600").Unheld.rfind("holds the character U+1F600 (character 4)", 0), 0u);
  // Before a file name reaches the system: a NUL would cut it short.
  EXPECT_EQ(ThrownResult([] { FileNameFromBstr(unique_bstr(SysAllocStringLen(L"a\0b", 3)).get(), "file name"); }),
            E_INVALIDARG);
  EXPECT_EQ(FileNameFromBstr(unique_bstr(SysAllocString(L"C:\\out.txt")).get(), "file name"), "C:\\out.txt");
}

TEST(VariantValues, FixedLayoutDateTextIsWhatVarDateFromUdateMakesOfItsPieces) {
  UDATE calendar {};
  calendar.st.wYear = 2003;
  calendar.st.wMonth = 1;
  calendar.st.wDay = 31;
  calendar.st.wHour = 23;
  calendar.st.wMinute = 59;
  calendar.st.wSecond = 30;
  DATE expected = 0;
  ASSERT_EQ(VarDateFromUdate(&calendar, 0, &expected), S_OK);
  EXPECT_EQ(DateFromText("20030131 23:59:30", false), expected);
  EXPECT_EQ(DateFromText("20030131-23.59.30", true), expected);
  EXPECT_FALSE(DateFromText("2003-01-31", false).has_value());
  EXPECT_FALSE(DateFromText("2003013a 23:59:30", true).has_value());
  EXPECT_EQ(ThrownResult([] { DateFromText("2003013a 23:59:30", false); }), DISP_E_TYPEMISMATCH);
  EXPECT_FALSE(DateFromText("99991232 00:00:00", true).has_value());  // rolled past 9999
  EXPECT_TRUE(DateFromText("99991231 23:59:59", true).has_value());
}

TEST(VariantValues, ValueListsViewArraysInPlace) {
  const unique_variant a = testing::Text(L"a");
  const unique_variant b = testing::Long(2);
  const unique_variant list = Array({&a, &b}, 1);
  const ValueList view = ValueList::Of(list.get(), "list");
  ASSERT_EQ(view.Count(), 2u);
  EXPECT_EQ(view.LowerBound(), 1);
  EXPECT_EQ(ToText(view.At(0)), "a");
  EXPECT_EQ(ToDecimal(view.At(1)), agg::Decimal(2));
  // Locked while viewed: the array cannot be destroyed under the view.
  const VARIANT held = list.get();
  EXPECT_EQ(SafeArrayDestroy(V_ARRAY(&held)), DISP_E_ARRAYISLOCKED);

  try {
    ValueList::Of(testing::Long(1).get(), "identifier value list");
    FAIL() << "a number taken for a list";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Result(), DISP_E_TYPEMISMATCH);
    EXPECT_STREQ(error.what(), "Type mismatch: the identifier value list is not a one-dimensional array of values.");
  }
  const unique_variant table = testing::Columns({{L"x", L"y"}, {L"z", L"w"}});
  EXPECT_EQ(ThrownResult([&] { ValueList::Of(table.get(), "list"); }), DISP_E_TYPEMISMATCH);
  SAFEARRAY* array = ArrayOf(table.get());
  const ArrayShape shape = ShapeOf(array);
  const safearray_lock lock = LockSafeArray(array);
  const ValueList second = ValueList::Column(array, shape, 1);
  ASSERT_EQ(second.Count(), 2u);
  EXPECT_EQ(ToText(second.At(0)), "z");
  EXPECT_EQ(ToText(second.At(1)), "w");
}

TEST(VariantValues, EntryListsThatCannotServeTheEntriesAreNamed) {
  const unique_variant table = testing::Columns({{L"a"}, {L"b"}, {L"c"}});
  const ArrayShape good = ShapeOf(ArrayOf(table.get()));
  EXPECT_EQ(EntryValueListProblem(good, "resource value list", 3), "");
  EXPECT_EQ(EntryValueListProblem(good, "resource value list", 4),
            "The resource value list holds 3 entries; 4 were requested.");
  const unique_variant one = testing::Long(1);
  const unique_variant vector = Array({&one, &one});
  const ArrayShape flat = ShapeOf(ArrayOf(vector.get()));
  EXPECT_EQ(EntryValueListProblem(flat, "identifier value list", 1),
            "The identifier value list is not a two-dimensional array of variants.");
  EXPECT_EQ(EntryValueListProblem(ShapeOf(nullptr), "identifier value list", 1),
            "The identifier value list is not a two-dimensional array of variants.");
  SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
  const unique_safearray texts(SafeArrayCreate(VT_BSTR, 2, bounds));
  EXPECT_EQ(EntryValueListProblem(ShapeOf(texts.get()), "identifier value list", 1),
            "The identifier value list is not a two-dimensional array of variants.");
  EXPECT_EQ(EntryDateListProblem(flat, "start date list", 2), "");
  EXPECT_EQ(EntryDateListProblem(flat, "start date list", 3), "The start date list holds 2 dates; 3 were requested.");
  EXPECT_EQ(EntryDateListProblem(good, "end date list", 1), "The end date list is not a one-dimensional array of dates.");
}

TEST(VariantValues, AggregationListIsATwoDimensionalArrayOfTypedCells) {
  agg::AggregationListView list;
  list.Columns = 3;
  list.Rows = 2;
  list.Cells = {std::string("HDR"), 37000.5, agg::Decimal::Parse("1.25"),
                std::int32_t {4}, std::monostate {}, std::string("x")};
  VARIANT out;
  VariantInit(&out);
  SetAggregationList(&out, list);
  unique_variant owned(out);
  ASSERT_EQ(V_VT(&out), VT_ARRAY | VT_VARIANT);
  const ArrayShape shape = ShapeOf(V_ARRAY(&out));
  ASSERT_EQ(shape.Dimensions, 2u);
  EXPECT_EQ(shape.Count[0], 3);  // columns first
  EXPECT_EQ(shape.Count[1], 2);
  const auto cell = [&out](LONG column, LONG row) {
    LONG indices[2] = {column, row};
    unique_variant value;
    EXPECT_EQ(SafeArrayGetElement(V_ARRAY(&out), indices, value.put()), S_OK);
    return value;
  };
  EXPECT_EQ(testing::TextOf(cell(0, 0).get()), L"HDR");
  EXPECT_EQ(TypeOf(cell(1, 0)), VT_DATE);
  EXPECT_EQ(TypeOf(cell(2, 0)), VT_DECIMAL);
  EXPECT_EQ(testing::TextOf(cell(2, 0).get()), L"1.25");
  EXPECT_EQ(TypeOf(cell(0, 1)), VT_I4);
  EXPECT_EQ(TypeOf(cell(1, 1)), VT_EMPTY);

  VARIANT none;
  VariantInit(&none);
  SetAggregationList(&none, agg::AggregationListView {});
  EXPECT_EQ(V_VT(&none), VT_EMPTY);
}

TEST(VariantValues, EventRecordsBecomeArraysOfFieldsIndexedFromOne) {
  std::vector<WinEventLogRecord> records(2);
  records[0].RecordNumber = 1;
  records[0].TimeGenerated = 45000.25;
  records[0].EventID = 3;
  records[0].EventType = WINEVENTLOG_ERROR;
  records[0].NumStrings = 2;
  records[0].EventCategory = 2;
  records[0].StringList = {"first", "second"};
  records[1].RecordNumber = 2;
  VARIANT out;
  VariantInit(&out);
  SetEventRecordList(&out, records);
  unique_variant owned(out);
  const ValueList list = ValueList::Of(out, "list");
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.LowerBound(), 1);
  const ValueList first = ValueList::Of(list.At(0), "record");
  ASSERT_EQ(first.Count(), static_cast<std::size_t>(kEventRecordFieldCount));
  EXPECT_EQ(ToLong(first.At(0)), 1);
  double generated = 0;
  EXPECT_TRUE(DateOf(first.At(1), &generated));
  EXPECT_EQ(generated, 45000.25);
  EXPECT_EQ(ToLong(first.At(3)), 3);
  EXPECT_EQ(V_VT(&Dereferenced(first.At(4))), VT_I2);
  EXPECT_EQ(ToLong(first.At(4)), WINEVENTLOG_ERROR);
  const ValueList strings = ValueList::Of(first.At(7), "strings");
  ASSERT_EQ(strings.Count(), 2u);
  EXPECT_EQ(strings.LowerBound(), 1);
  EXPECT_EQ(ToText(strings.At(1)), "second");
  const ValueList noStrings = ValueList::Of(ValueList::Of(list.At(1), "record").At(7), "strings");
  EXPECT_EQ(noStrings.Count(), 0u);

  VARIANT empty;
  VariantInit(&empty);
  SetEventRecordList(&empty, {});
  unique_variant ownedEmpty(empty);
  EXPECT_EQ(ValueList::Of(empty, "list").Count(), 0u);
}

}  // namespace
}  // namespace quax::com
