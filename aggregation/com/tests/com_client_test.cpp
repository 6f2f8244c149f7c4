// quaxagg.dll as its clients use it: every class created by its ProgID
// through CoCreateInstance, every member called by name through
// IDispatch::Invoke (arguments by value and by reference, as a script host
// passes them) and through the typed interfaces; results, return codes,
// LastErrorMessage texts and the error objects of failures.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <cstring>

#include "com/connection_point.h"
#include "com/interfaces.h"
#include "com_test_support.h"
#include "test_support.h"

namespace quax::com {
namespace {

using namespace testing;  // NOLINT: the test helpers
using test::ReadFile;

constexpr double kNoDate = -657434.0;

std::string Line(const std::string& header, const std::string& identifiers, const std::string& resources) {
  return header + ",20240131,20240131,08:00:00,09:00:00,," + identifiers + "," + resources + "\r\n";
}

VARTYPE TypeOf(const unique_variant& value) {
  const VARIANT v = value.get();
  return V_VT(&v);
}

double DateValue(const unique_variant& value) {
  const VARIANT v = value.get();
  EXPECT_EQ(V_VT(&v), VT_DATE);
  return V_DATE(&v);
}

bool BoolValue(const unique_variant& value) {
  const VARIANT v = value.get();
  EXPECT_EQ(V_VT(&v), VT_BOOL);
  return V_BOOL(&v) != VARIANT_FALSE;
}

// ---- The library as a whole -------------------------------------------------------

struct ClassMembers {
  const wchar_t* ProgId;
  std::vector<std::string> Members;
};

TEST(ComServer, EveryClassIsCreatedByItsProgIdWithItsMembersInTheirOrder) {
  const std::vector<ClassMembers> classes = {
      {L"quaxagg.TypedEngine",
       {"DefineResourceRecordHeader", "ClearIdentifierList", "DefineIdentifier", "ClearResourceList",
        "DefineResource", "DataValidation", "EnableDebugCounters", "DateAggregation", "DateStart", "DateEnd",
        "DateKeyword", "MemoryMinimum", "MemoryMaximum", "ProcessPriorityClass", "OutputFileName", "WorkFilePath",
        "LastErrorMessage", "Initialize", "AddEntry", "WriteResourceFile", "AggregationList", "m_RoundAsymetric",
        "ResultsMessage", "DebugMessage"}},
      {L"quaxagg.ScriptingEngine",
       {"AggregationList", "DataValidation", "DateAggregation", "DateKeyword", "DateEnd", "DateStart",
        "DebugMessage", "EnableDebugCounters", "MemoryMinimum", "MemoryMaximum", "WorkFilePath", "LastErrorMessage",
        "OutputFileName", "ProcessPriorityClass", "ResultsMessage", "ClearIdentifierList", "ClearResourceList",
        "DefineIdentifier", "DefineResource", "DefineResourceRecordHeader", "Initialize", "AddEntry", "AddEntries",
        "WriteResourceFile"}},
      {L"quaxagg.VTXAggregator",
       {"DataValidation", "DebugMessage", "EnableDebugCounters", "InputFileName", "LastErrorMessage",
        "MemoryMinimum", "MemoryMaximum", "OutputFileName", "ProcessPriorityClass", "ResultsMessage", "WorkFilePath",
        "AddIdentifierToRemove", "AddResourceToRemove", "AggregateFile", "Initialize"}},
      {L"quaxagg.CStringBuilder",
       {"HashValue", "Length", "Value", "Append", "AppendString", "Clear", "CSVSplit", "GetDate", "GetDecimal",
        "GetDouble", "GetLongFromRange", "GetLong", "SetFromByteBuffer", "SetBufferSize"}},
      {L"quaxagg.ExceptionFile",
       {"FileName", "IsFileOpen", "LastErrorMessage", "MaxExceptions", "MaxExceptionsReached", "ExceptionCount",
        "AddException", "FileClose", "FileOpen", "Initialize"}},
      {L"quaxagg.CWinEventLog",
       {"ApplicationName", "EventMessageFile", "LastErrorMessage", "MachineName", "AddString", "ClearStrings",
        "LogStrings", "LogEvent", "ReadEvents", "RegisterCategoryMessageFile", "RegisterEventMessageFile"}},
      {L"quaxagg.CQuaxEventLog",
       {"LastErrorMessage", "MachineName", "MessageFilePath", "Clear", "AddString", "WriteInformationEvent",
        "WriteWarningEvent", "WriteErrorEvent", "ReadInformationEvents", "ReadWarningEvents", "ReadErrorEvents",
        "ReadAllEvents", "RegisterMessageFiles"}},
      {L"quaxagg.CWin32Process",
       {"Class_Initialize", "Id", "IsValidPriorityClass", "PriorityClass", "PriorityClassAsString", "Sleep",
        "Yield"}},
  };
  for (const ClassMembers& c : classes) {
    Client client(c.ProgId);
    ASSERT_NE(client.Object(), nullptr) << Narrow(c.ProgId);
    EXPECT_EQ(MemberNames(client.Object()), c.Members) << Narrow(c.ProgId);
    unique_com<ISupportErrorInfo> errors = client.As<ISupportErrorInfo>();
    ASSERT_TRUE(errors);
    unique_com<ITypeInfo> info;
    ASSERT_EQ(client.Object()->GetTypeInfo(0, 0, info.put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info.get()->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(errors.get()->InterfaceSupportsErrorInfo(attributes->guid), S_OK);
    info.get()->ReleaseTypeAttr(attributes);
    // The class's own description, for hosts that look up its events.
    unique_com<IProvideClassInfo> classInfo = client.As<IProvideClassInfo>();
    unique_com<ITypeInfo> coclass;
    ASSERT_EQ(classInfo.get()->GetClassInfo(coclass.put()), S_OK);
    unique_bstr name;
    coclass.get()->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
    EXPECT_EQ("quaxagg." + Narrow(name.get()), Narrow(c.ProgId));
  }
}

// ---- TypedEngine ---------------------------------------------------------------------

class ServerTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch_.Path() + "\\" + name; }
  test::ScratchDirectory scratch_ {"com"};
};

using TypedEngineByName = ServerTest;

TEST_F(TypedEngineByName, DefinesAddsRoundsAndWritesThroughEveryMember) {
  Client engine(L"quaxagg.TypedEngine");
  EXPECT_TRUE(BoolValue(engine.Call(L"Initialize", {Long(0)})));
  engine.Put(L"WorkFilePath", Text(scratch_.Path()));
  EXPECT_EQ(engine.GetText(L"WorkFilePath"), scratch_.Path() + "\\");
  engine.Put(L"OutputFileName", Text(Path("out.txt")));
  EXPECT_EQ(engine.GetText(L"OutputFileName"), Path("out.txt"));
  engine.Call(L"DefineResourceRecordHeader", {Text(L"HDR")});
  engine.Call(L"ClearIdentifierList");
  engine.Call(L"DefineIdentifier", {Text(L"USER")});
  engine.Call(L"ClearResourceList");
  engine.Call(L"DefineResource", {Text(L"MINUTES"), Double(60), Long(2)});
  engine.Put(L"DataValidation", Bool(true));
  EXPECT_TRUE(engine.GetBool(L"DataValidation"));
  engine.Put(L"EnableDebugCounters", Bool(true));
  EXPECT_TRUE(engine.GetBool(L"EnableDebugCounters"));
  engine.Put(L"DateAggregation", Long(1));
  EXPECT_EQ(engine.GetLong(L"DateAggregation"), 1);
  EXPECT_EQ(DateValue(engine.Get(L"DateStart")), kNoDate);
  EXPECT_EQ(DateValue(engine.Get(L"DateEnd")), kNoDate);
  engine.Put(L"DateKeyword", Text(L"**curmon"));
  EXPECT_EQ(engine.GetText(L"DateKeyword"), "**CURMON");
  engine.Put(L"DateKeyword", Text(L"TOMORROW"));
  EXPECT_EQ(engine.GetText(L"LastErrorMessage"), "TOMORROW is not a valid date keyword.");
  engine.Put(L"DateKeyword", Text(L""));
  engine.Put(L"DateStart", Date(45322));
  engine.Put(L"DateEnd", Date(45322.5));
  engine.Put(L"MemoryMinimum", Long(0));
  engine.Put(L"MemoryMaximum", Long(0));
  EXPECT_EQ(engine.GetLong(L"MemoryMinimum"), 0);
  EXPECT_EQ(engine.GetLong(L"MemoryMaximum"), 0);
  engine.Put(L"ProcessPriorityClass", Long(64));
  EXPECT_EQ(engine.GetLong(L"ProcessPriorityClass"), 64);

  // Identifier and resource values arrive in variables (by reference) and
  // as any numeric type: 90 minutes and 30 minutes in hours, exactly.
  const unique_variant user = Text(L"alice");
  const unique_variant ninety = DecimalOf(L"90");
  const unique_variant thirty = Text(L"30");
  unique_variant ids = Array({&user});
  unique_variant first = Array({&ninety});
  unique_variant second = Array({&thirty});
  EXPECT_EQ(engine.CallLong(L"AddEntry", {ByRef(ids), ByRef(first)}), 0);
  EXPECT_EQ(engine.CallLong(L"AddEntry", {ByRef(ids), ByRef(second), Date(45322), Date(45322.25)}), 0);
  const unique_variant list = engine.Get(L"AggregationList");
  ASSERT_EQ(TypeOf(list), VT_ARRAY | VT_VARIANT);
  LONG cell[2] = {8, 0};  // the first sum: after header, dates, 1 identifier pair, count and rate code
  unique_variant sum;
  const VARIANT listValue = list.get();
  ASSERT_EQ(SafeArrayGetElement(V_ARRAY(&listValue), cell, sum.put()), S_OK);
  EXPECT_EQ(TypeOf(sum), VT_DECIMAL);
  EXPECT_EQ(TextOf(sum.get()), L"2");

  const unique_variant rounded = engine.Call(L"m_RoundAsymetric", {DecimalOf(L"-2.345"), Long(2)});
  EXPECT_EQ(TypeOf(rounded), VT_DECIMAL);
  EXPECT_EQ(TextOf(rounded.get()), L"-2.34");
  EXPECT_EQ(TextOf(engine.Call(L"m_RoundAsymetric", {Text(L"2.345"), Long(2)}).get()), L"2.35");

  EXPECT_EQ(engine.CallLong(L"WriteResourceFile", {Bool(false)}), 0);
  EXPECT_EQ(ReadFile(Path("out.txt")),
            "HDR,20240131,20240131,00:00:00,12:00:00,,1,\"USER\",\"alice\",1,MINUTES,2\r\n");
  const std::string results = engine.GetText(L"ResultsMessage");
  EXPECT_EQ(results.rfind("Input Records: 2\r\nOutput Records: 1\r\n", 0), 0u) << results;
  EXPECT_EQ(engine.GetText(L"DebugMessage").rfind(results + "\r\n\r\nInternal Statistics:", 0), 0u);
  engine.Put(L"ProcessPriorityClass", Long(32));
}

TEST_F(TypedEngineByName, ConversionFailuresReachTheCallerAsTypeMismatchWithAnErrorObject) {
  Client engine(L"quaxagg.TypedEngine");
  engine.Call(L"Initialize");
  engine.Call(L"DefineIdentifier", {Text(L"USER")});
  engine.Call(L"DefineResource", {Text(L"CPU"), Double(1), Long(-1)});
  const unique_variant user = Text(L"alice");
  const unique_variant word = Text(L"abc");
  unique_variant ids = Array({&user});
  unique_variant values = Array({&word});
  Outcome outcome = engine.Invoke(L"AddEntry", DISPATCH_METHOD, {ByRef(ids), ByRef(values)});
  EXPECT_EQ(outcome.Result, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(outcome.Description, "Type mismatch: resource value 0 ('abc') is not a number.");
  EXPECT_EQ(outcome.Source, "quaxagg.TypedEngine");
  // With DataValidation the engine reports it itself.
  engine.Put(L"DataValidation", Bool(true));
  EXPECT_EQ(engine.CallLong(L"AddEntry", {ByRef(ids), ByRef(values)}), 16);
  EXPECT_EQ(engine.GetText(L"LastErrorMessage"), "Resource value 'abc is not numeric.");
  outcome = engine.Invoke(L"AddEntry", DISPATCH_METHOD, {ByRef(ids), ByRef(values), Text(L"not a date")});
  EXPECT_EQ(outcome.Result, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(outcome.Source, "quaxagg.TypedEngine");
}

TEST_F(TypedEngineByName, TheTypedInterfaceReportsFailuresThroughTheThreadsErrorObject) {
  Client client(L"quaxagg.TypedEngine");
  unique_com<_TypedEngine> engine = client.As<_TypedEngine>();
  ASSERT_TRUE(engine);
  VARIANT_BOOL initialized = VARIANT_FALSE;
  ASSERT_EQ(engine.get()->Initialize(0, &initialized), S_OK);
  EXPECT_EQ(initialized, VARIANT_TRUE);
  unique_bstr header = Bstr("HDR");
  ASSERT_EQ(engine.get()->DefineResourceRecordHeader(header.get()), S_OK);
  unique_bstr name = Bstr("USER");
  ASSERT_EQ(engine.get()->DefineIdentifier(name.get()), S_OK);
  for (const char* code : {"CPU", "IO"}) {
    unique_bstr rate = Bstr(code);
    ASSERT_EQ(engine.get()->DefineResource(rate.get(), 1.0, -1), S_OK);
  }
  unique_bstr output = Bstr(Path("typed.txt"));
  ASSERT_EQ(engine.get()->put_OutputFileName(output.get()), S_OK);

  const unique_variant user = Text(L"bob");
  const unique_variant value = DecimalOf(L"0.1");
  unique_variant ids = Array({&user});
  unique_variant values = Array({&value, &value});
  const unique_variant missing = Missing();
  LONG result = -1;
  ASSERT_EQ(engine.get()->AddEntry(ids.address(), values.address(), missing.get(), missing.get(), &result), S_OK);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(engine.get()->WriteResourceFile(VARIANT_FALSE, &result), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_NE(ReadFile(Path("typed.txt")).find(",1,\"USER\",\"bob\",2,CPU,0.100000,IO,0.100000\r\n"), std::string::npos)
      << ReadFile(Path("typed.txt"));

  const unique_variant word = Text(L"x");
  unique_variant bad = Array({&word});
  EXPECT_EQ(engine.get()->AddEntry(ids.address(), bad.address(), missing.get(), missing.get(), &result),
            DISP_E_TYPEMISMATCH);
  const ErrorObject error = TakeErrorObject();
  EXPECT_EQ(error.Source, "quaxagg.TypedEngine");
  EXPECT_EQ(error.Description, "Type mismatch: resource value 0 ('x') is not a number.");
  EXPECT_EQ(engine.get()->get_LastErrorMessage(nullptr), E_POINTER);
}

// ---- ScriptingEngine --------------------------------------------------------------

using ScriptingEngineByName = ServerTest;

TEST_F(ScriptingEngineByName, EveryMemberTakesAndGivesVariants) {
  Client engine(L"quaxagg.ScriptingEngine");
  EXPECT_TRUE(BoolValue(engine.Call(L"Initialize")));  // MaxEntries omitted: -1
  engine.Put(L"WorkFilePath", Text(scratch_.Path()));
  EXPECT_EQ(engine.GetText(L"WorkFilePath"), scratch_.Path() + "\\");
  engine.Put(L"OutputFileName", Text(Path("out.txt")));
  EXPECT_EQ(engine.GetText(L"OutputFileName"), Path("out.txt"));
  engine.Call(L"DefineResourceRecordHeader", {Text(L"HDR")});
  engine.Call(L"ClearIdentifierList");
  engine.Call(L"DefineIdentifier", {Text(L"USER")});
  engine.Call(L"ClearResourceList");
  engine.Call(L"DefineResource", {Text(L"CPU")});  // factor 1, no rounding
  engine.Call(L"DefineResource", {Text(L"IO"), Long(1), Long(0)});
  engine.Put(L"DataValidation", Text(L"True"));
  EXPECT_TRUE(engine.GetBool(L"DataValidation"));
  engine.Put(L"DataValidation", Bool(false));
  engine.Put(L"EnableDebugCounters", Long(1));
  EXPECT_TRUE(engine.GetBool(L"EnableDebugCounters"));
  engine.Put(L"DateAggregation", Text(L"1"));
  const unique_variant aggregation = engine.Get(L"DateAggregation");
  EXPECT_EQ(TypeOf(aggregation), VT_I4);
  EXPECT_EQ(TextOf(aggregation.get()), L"1");
  engine.Put(L"DateKeyword", Text(L"previous"));
  EXPECT_EQ(engine.GetText(L"DateKeyword"), "PREVIOUS");
  engine.Put(L"DateKeyword", Text(L""));
  engine.Put(L"MemoryMinimum", Double(0));
  engine.Put(L"MemoryMaximum", Text(L"0"));
  EXPECT_EQ(engine.GetLong(L"MemoryMinimum"), 0);
  EXPECT_EQ(engine.GetLong(L"MemoryMaximum"), 0);
  engine.Put(L"ProcessPriorityClass", Long(16384));
  EXPECT_EQ(engine.GetLong(L"ProcessPriorityClass"), 16384);
  engine.Put(L"DateStart", Text(L"20240131 08:00:00"));
  EXPECT_EQ(engine.GetText(L"LastErrorMessage"), "");
  EXPECT_EQ(TypeOf(engine.Get(L"DateStart")), VT_DATE);
  engine.Put(L"DateStart", Date(kNoDate));
  engine.Put(L"DateEnd", Text(L"2024-01-31"));
  EXPECT_EQ(engine.GetText(L"LastErrorMessage"), "Unable to convert date string '2024-01-31' to a date.");
  EXPECT_EQ(DateValue(engine.Get(L"DateEnd")), kNoDate);

  // Exact decimals of every kind in; 0.1 + 0.2 stays 0.3.
  const unique_variant user = Text(L"alice");
  const unique_variant tenth = Double(0.1);
  const unique_variant fifth = Double(0.2);
  const unique_variant io = DecimalOf(L"2.5");
  unique_variant ids = Array({&user});
  unique_variant first = Array({&tenth, &io});
  unique_variant second = Array({&fifth, &io});
  const unique_variant start = Text(L"20240131 08:00:00");
  const unique_variant end = Text(L"20240131 09:00:00");
  EXPECT_EQ(engine.CallLong(L"AddEntry", {ByRef(ids), ByRef(first), start, end}), 0);
  EXPECT_EQ(engine.CallLong(L"AddEntry", {ByRef(ids), ByRef(second), start, end}), 0);
  unique_variant columnIds = Columns({{L"bob"}, {L"carol"}});
  unique_variant columnValues = Columns({{L"1", L"1"}, {L"2", L"2"}});
  unique_variant starts = Array({&start, &start});
  unique_variant ends = Array({&end, &end});
  EXPECT_EQ(engine.CallLong(L"AddEntries", {Long(2), ByRef(columnIds), ByRef(columnValues), ByRef(starts), ByRef(ends)}),
            0);
  const unique_variant list = engine.Get(L"AggregationList");
  const VARIANT listValue = list.get();
  LONG cell[2] = {8, 0};
  unique_variant sum;
  ASSERT_EQ(SafeArrayGetElement(V_ARRAY(&listValue), cell, sum.put()), S_OK);
  EXPECT_EQ(TypeOf(sum), VT_DECIMAL);
  EXPECT_EQ(TextOf(sum.get()), L"0.3");

  EXPECT_EQ(engine.CallLong(L"WriteResourceFile"), 0);  // AppendToResourceFile omitted: false
  EXPECT_EQ(ReadFile(Path("out.txt")),
            "HDR,20240131,20240131,08:00:00,09:00:00,,1,\"USER\",\"alice\",2,CPU,0.300000,IO,5\r\n"
            "HDR,20240131,20240131,08:00:00,09:00:00,,1,\"USER\",\"bob\",2,CPU,1,IO,1\r\n"
            "HDR,20240131,20240131,08:00:00,09:00:00,,1,\"USER\",\"carol\",2,CPU,2,IO,2\r\n");
  EXPECT_EQ(engine.GetText(L"ResultsMessage").rfind("Input Records: 4\r\n", 0), 0u);
  EXPECT_NE(engine.GetText(L"DebugMessage").find("AddEntry Call Count: 4"), std::string::npos);
  engine.Put(L"ProcessPriorityClass", Long(32));
}

TEST_F(ScriptingEngineByName, AddEntriesDateListsAreOptionalAndMalformedListsAreRefused) {
  Client engine(L"quaxagg.ScriptingEngine");
  engine.Call(L"Initialize", {Long(0)});
  engine.Call(L"DefineIdentifier", {Text(L"USER")});
  engine.Call(L"DefineResource", {Text(L"CPU")});
  unique_variant ids = Columns({{L"a"}, {L"b"}});
  unique_variant values = Columns({{L"1"}, {L"2"}});
  const unique_variant first = Text(L"20240101 00:00:00");
  unique_variant starts = Array({&first, &first});
  EXPECT_EQ(engine.CallLong(L"AddEntries", {Long(2), ByRef(ids), ByRef(values), ByRef(starts)}), 0);
  EXPECT_EQ(engine.CallLong(L"AddEntries", {Long(0), ByRef(ids), ByRef(values)}), 0);
  EXPECT_EQ(engine.CallLong(L"AddEntries", {Long(3), ByRef(ids), ByRef(values)}), 16);
  EXPECT_EQ(engine.GetText(L"LastErrorMessage"), "The identifier value list holds 2 entries; 3 were requested.");
  unique_variant flat = Array({&first});
  EXPECT_EQ(engine.CallLong(L"AddEntries", {Long(1), ByRef(flat), ByRef(values)}), 16);
  EXPECT_EQ(engine.GetText(L"LastErrorMessage"), "The identifier value list is not a two-dimensional array of variants.");
  EXPECT_EQ(engine.Get(L"AggregationList").get().parray->rgsabound[0].cElements, 2u);  // rows
}

TEST_F(ScriptingEngineByName, TypeMismatchesAndUnconvertibleDatesCarryTheirErrorObject) {
  Client engine(L"quaxagg.ScriptingEngine");
  engine.Call(L"Initialize");
  Outcome outcome = engine.Invoke(L"MemoryMaximum", DISPATCH_PROPERTYPUT, {Text(L"abc")});
  EXPECT_EQ(outcome.Result, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(outcome.Source, "quaxagg.ScriptingEngine");
  EXPECT_EQ(outcome.Description, "Type mismatch: the value is not a whole number.");
  outcome = engine.Invoke(L"DateStart", DISPATCH_PROPERTYPUT, {Text(L"2003013a 23:59:30")});
  EXPECT_EQ(outcome.Result, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(outcome.Description, "Type mismatch: the date text '2003013a 23:59:30' holds a piece that is not a number.");
  outcome = engine.Invoke(L"Initialize", DISPATCH_METHOD, {Text(L"many")});
  EXPECT_EQ(outcome.Result, DISP_E_TYPEMISMATCH);

  unique_com<_ScriptingEngine> typed = Client(L"quaxagg.ScriptingEngine").As<_ScriptingEngine>();
  ASSERT_TRUE(typed);
  const unique_variant big = Double(1e300);
  EXPECT_EQ(typed.get()->put_MemoryMinimum(big.get()), DISP_E_OVERFLOW);
  const ErrorObject error = TakeErrorObject();
  EXPECT_EQ(error.Source, "quaxagg.ScriptingEngine");
  EXPECT_EQ(error.Description, "Overflow");
}

// ---- VTXAggregator -------------------------------------------------------------------

using VTXAggregatorByName = ServerTest;

TEST_F(VTXAggregatorByName, AggregatesAFileWithRemovalsAndLayoutChangesThroughEveryMember) {
  const std::string a = Line("A", "2,\"USER\",\"u\",\"HOST\",\"h\"", "2,CPU,1.5,IO,7");
  const std::string b = Line("B", "1,\"USER\",\"u\"", "1,CPU,2");
  WriteText(Path("in.txt"), a + a + b + a);
  Client aggregator(L"quaxagg.VTXAggregator");
  aggregator.Put(L"WorkFilePath", Text(scratch_.Path()));
  EXPECT_EQ(aggregator.GetText(L"WorkFilePath"), scratch_.Path() + "\\");
  EXPECT_TRUE(BoolValue(aggregator.Call(L"Initialize")));
  aggregator.Put(L"InputFileName", Text(Path("in.txt")));
  EXPECT_EQ(aggregator.GetText(L"InputFileName"), Path("in.txt"));
  aggregator.Put(L"OutputFileName", Text(Path("out.txt")));
  EXPECT_EQ(aggregator.GetText(L"OutputFileName"), Path("out.txt"));
  aggregator.Put(L"MemoryMinimum", Long(0));
  EXPECT_EQ(aggregator.GetLong(L"MemoryMinimum"), 0);
  aggregator.Put(L"MemoryMaximum", Text(L"12"));
  const unique_variant maximum = aggregator.Get(L"MemoryMaximum");
  EXPECT_EQ(TypeOf(maximum), VT_I4);
  EXPECT_EQ(TextOf(maximum.get()), L"12");
  aggregator.Put(L"ProcessPriorityClass", Long(64));
  EXPECT_EQ(aggregator.GetLong(L"ProcessPriorityClass"), 64);
  aggregator.Put(L"DataValidation", Bool(true));
  EXPECT_TRUE(aggregator.GetBool(L"DataValidation"));
  aggregator.Put(L"EnableDebugCounters", Bool(true));
  EXPECT_TRUE(aggregator.GetBool(L"EnableDebugCounters"));
  aggregator.Call(L"AddIdentifierToRemove", {Text(L"host")});
  aggregator.Call(L"AddResourceToRemove", {Text(L"Io")});
  const Outcome duplicate = aggregator.Invoke(L"AddIdentifierToRemove", DISPATCH_METHOD, {Text(L"HOST")});
  EXPECT_EQ(duplicate.Result, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 457));
  EXPECT_EQ(duplicate.Description, "This key is already associated with an element of this collection");
  EXPECT_EQ(duplicate.Source, "quaxagg.VTXAggregator");

  EXPECT_TRUE(BoolValue(aggregator.Call(L"AggregateFile")));
  EXPECT_EQ(aggregator.GetText(L"LastErrorMessage"), "");
  EXPECT_EQ(ReadFile(Path("out.txt")),
            "A,20240131,20240131,08:00:00,09:00:00,,1,\"USER\",\"u\",1,CPU,3\r\n"
            "B,20240131,20240131,08:00:00,09:00:00,,1,\"USER\",\"u\",1,CPU,2\r\n"
            "A,20240131,20240131,08:00:00,09:00:00,,1,\"USER\",\"u\",1,CPU,1.500000\r\n");
  const std::string results = aggregator.GetText(L"ResultsMessage");
  EXPECT_EQ(results,
            "Input Records: 4\r\nOutput Records: 3\r\nNumber of Aggregates: 3\r\nExternal Passes Count: 0\r\n"
            "External Passes Record Count: 0");
  EXPECT_NE(aggregator.GetText(L"DebugMessage").find("Internal Statistics:"), std::string::npos);
  aggregator.Put(L"ProcessPriorityClass", Long(32));
}

TEST_F(VTXAggregatorByName, AnUnreadableLineReachesTheCallerWithTheReadersMessage) {
  WriteText(Path("in.txt"), Line("A", "1,\"USER\",\"u\"", "1,CPU,1") + "A,20240131,broken\r\n");
  Client aggregator(L"quaxagg.VTXAggregator");
  aggregator.Put(L"WorkFilePath", Text(scratch_.Path()));
  aggregator.Call(L"Initialize", {Long(0)});
  aggregator.Put(L"InputFileName", Text(Path("in.txt")));
  aggregator.Put(L"OutputFileName", Text(Path("out.txt")));
  const Outcome outcome = aggregator.Invoke(L"AggregateFile", DISPATCH_METHOD);
  EXPECT_EQ(outcome.Result, E_FAIL);
  EXPECT_EQ(outcome.Source, "quaxagg.VTXAggregator");
  EXPECT_NE(outcome.Description.find("in.txt"), std::string::npos) << outcome.Description;
  EXPECT_NE(outcome.Description.find("2"), std::string::npos) << outcome.Description;  // the line
  EXPECT_EQ(ReadFile(Path("out.txt")), "");

  // The typed interface: the same failure, the same sentence in the error object.
  unique_com<_VTXAggregator> typed = aggregator.As<_VTXAggregator>();
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(typed.get()->AggregateFile(&result), E_FAIL);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(TakeErrorObject().Description, outcome.Description);

  aggregator.Put(L"InputFileName", Text(Path("missing.txt")));
  EXPECT_FALSE(BoolValue(aggregator.Call(L"AggregateFile")));
  EXPECT_EQ(aggregator.GetText(L"LastErrorMessage").rfind("Unable to open input file '" + Path("missing.txt") + "': ", 0),
            0u);
  EXPECT_EQ(aggregator.Invoke(L"Initialize", DISPATCH_METHOD, {Text(L"all")}).Result, DISP_E_TYPEMISMATCH);
}

// ---- CStringBuilder ------------------------------------------------------------------

TEST(StringBuilderByName, HoldsSplitsAndParsesSingleByteText) {
  Client builder(L"quaxagg.CStringBuilder");
  builder.Put(L"Value", Text(L"abc"));
  EXPECT_EQ(builder.GetText(L"Value"), "abc");
  EXPECT_EQ(builder.GetLong(L"HashValue"), 751);
  EXPECT_EQ(builder.GetLong(L"Length"), 3);
  builder.Put(L"Length", Long(5));
  EXPECT_EQ(builder.GetText(L"Value"), "abc  ");
  builder.Call(L"Clear");
  EXPECT_EQ(builder.GetLong(L"Length"), 0);
  unique_variant number = Long(12);
  builder.Call(L"Append", {ByRef(number)});
  builder.Call(L"AppendString", {Text(L"-3")});
  EXPECT_EQ(builder.GetText(L"Value"), "12-3");
  EXPECT_EQ(builder.CallLong(L"GetLong"), -123);

  builder.Put(L"Value", Text(L"20240131"));
  EXPECT_EQ(builder.CallLong(L"GetLongFromRange", {Long(4), Long(2)}), 1);
  const unique_variant date = builder.Call(L"GetDate");
  EXPECT_EQ(TypeOf(date), VT_DATE);
  EXPECT_EQ(DateValue(date), 45322.0);
  const Outcome outside = builder.Invoke(L"GetLongFromRange", DISPATCH_METHOD, {Long(6), Long(5)});
  EXPECT_EQ(outside.Result, E_FAIL);
  EXPECT_EQ(outside.Description, "Subscript out of range");
  EXPECT_EQ(outside.Source, "quaxagg.CStringBuilder");

  builder.Put(L"Value", Text(L"1,234.50"));
  const unique_variant decimal = builder.Call(L"GetDecimal");
  EXPECT_EQ(TypeOf(decimal), VT_DECIMAL);
  EXPECT_EQ(TextOf(decimal.get()), L"1234.5");
  EXPECT_EQ(TextOf(builder.Call(L"GetDouble").get()), L"1234.5");

  builder.Put(L"Value", Text(L"a,,\"b,c\",d"));
  unique_variant fields = Empty();
  builder.Call(L"CSVSplit", {ByRef(fields)});
  ASSERT_EQ(TypeOf(fields), VT_ARRAY | VT_VARIANT);
  const auto field = [&fields](LONG index) {
    const VARIANT array = fields.get();
    unique_variant element;
    EXPECT_EQ(SafeArrayGetElement(V_ARRAY(&array), &index, element.put()), S_OK);
    const VARIANT object = element.get();
    IDispatch* dispatch = V_DISPATCH(&object);
    dispatch->AddRef();
    return Client(unique_com<IDispatch>(dispatch));
  };
  std::vector<std::string> texts;
  for (LONG k = 0; k < 4; ++k) texts.push_back(field(k).GetText(L"Value"));
  EXPECT_EQ(texts, (std::vector<std::string> {"a", "", "b,c", "d"}));
  // A second split reuses the builders already in the array.
  IDispatch* firstBuilder = field(0).Object();
  builder.Put(L"Value", Text(L"x,y"));
  builder.Call(L"CSVSplit", {ByRef(fields)});
  EXPECT_EQ(fields.get().parray->rgsabound[0].cElements, 2u);
  EXPECT_EQ(field(0).Object(), firstBuilder);
  EXPECT_EQ(field(1).GetText(L"Value"), "y");

  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 1, 5);
  std::memcpy(bytes->pvData, "hello", 5);
  VARIANT bytesValue;
  VariantInit(&bytesValue);
  V_VT(&bytesValue) = VT_ARRAY | VT_UI1;
  V_ARRAY(&bytesValue) = bytes;
  unique_variant buffer(bytesValue);
  builder.Call(L"SetFromByteBuffer", {ByRef(buffer), Long(2), Long(3)});  // indices 2 to 4 of 1 to 5
  EXPECT_EQ(builder.GetText(L"Value"), "ell");
  builder.Call(L"SetBufferSize", {Long(4096), Bool(true)});
  EXPECT_EQ(builder.GetLong(L"Length"), 0);
  EXPECT_EQ(builder.Invoke(L"SetFromByteBuffer", DISPATCH_METHOD, {ByRef(number), Long(0), Long(1)}).Result,
            DISP_E_TYPEMISMATCH);
}

// ---- ExceptionFile -------------------------------------------------------------------

using ExceptionFileByName = ServerTest;

TEST_F(ExceptionFileByName, KeepsRecordsUpToItsLimit) {
  Client file(L"quaxagg.ExceptionFile");
  EXPECT_EQ(file.GetText(L"FileName"), "QUAXExceptionFile.txt");
  file.Put(L"FileName", Text(Path("exceptions.txt")));
  file.Put(L"MaxExceptions", Long(2));
  EXPECT_EQ(file.GetLong(L"MaxExceptions"), 2);
  EXPECT_TRUE(BoolValue(file.Call(L"AddException", {Text(L"first")})));
  EXPECT_TRUE(file.GetBool(L"IsFileOpen"));
  EXPECT_TRUE(BoolValue(file.Call(L"AddException", {Text(L"second")})));
  EXPECT_FALSE(BoolValue(file.Call(L"AddException", {Text(L"third")})));
  EXPECT_EQ(file.GetText(L"LastErrorMessage"), "Maximum number of exceptions (2 has been reached.");
  EXPECT_TRUE(file.GetBool(L"MaxExceptionsReached"));
  EXPECT_EQ(file.GetLong(L"ExceptionCount"), 2);
  EXPECT_EQ(ReadFile(Path("exceptions.txt")), "first\r\nsecond\r\n");
  EXPECT_TRUE(BoolValue(file.Call(L"FileOpen")));
  EXPECT_EQ(file.GetLong(L"ExceptionCount"), 0);
  file.Call(L"FileClose");
  EXPECT_FALSE(file.GetBool(L"IsFileOpen"));
  file.Call(L"Initialize");
  EXPECT_EQ(file.GetLong(L"MaxExceptions"), -1);
  file.Put(L"FileName", Text(L""));
  EXPECT_FALSE(BoolValue(file.Call(L"AddException", {Text(L"x")})));
  EXPECT_EQ(file.GetText(L"LastErrorMessage"), "FileName not specified.");
}

// ---- CWin32Process -------------------------------------------------------------------

TEST(Win32ProcessByName, ReadsAndSetsThePriorityClassOfThisProcess) {
  Client process(L"quaxagg.CWin32Process");
  process.Put(L"Id", Long(0));
  process.Call(L"Class_Initialize");
  EXPECT_EQ(process.GetLong(L"Id"), static_cast<LONG>(GetCurrentProcessId()));
  EXPECT_FALSE(BoolValue(process.Get(L"IsValidPriorityClass", {Long(256)})));
  EXPECT_TRUE(BoolValue(process.Get(L"IsValidPriorityClass", {Long(32)})));
  process.Put(L"PriorityClass", Long(64));
  EXPECT_EQ(process.GetLong(L"PriorityClass"), 64);
  EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), static_cast<DWORD>(IDLE_PRIORITY_CLASS));
  process.Put(L"PriorityClassAsString", Text(L"Realtime"));
  EXPECT_EQ(process.GetText(L"PriorityClassAsString"), "Below Normal");
  process.Put(L"PriorityClass", Long(256));
  EXPECT_EQ(process.GetLong(L"PriorityClass"), 16384);
  const DWORD before = GetTickCount();
  process.Call(L"Sleep", {Long(-1)});
  process.Call(L"Sleep", {Long(30)});
  EXPECT_GE(GetTickCount() - before, 20u);
  process.Call(L"Yield");
  process.Put(L"PriorityClassAsString", Text(L"normal"));
  EXPECT_EQ(process.GetText(L"PriorityClassAsString"), "Normal");
}

// ---- CWinEventLog and CQuaxEventLog --------------------------------------------------

constexpr char kSourcesKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

TEST(EventLogByName, WritesReadsAndRegistersThroughEveryMember) {
  const std::string source = "QUAXComTest-" + std::to_string(GetCurrentProcessId());
  Client log(L"quaxagg.CWinEventLog");
  log.Put(L"ApplicationName", Text(source));
  EXPECT_EQ(log.GetText(L"ApplicationName"), source);
  log.Call(L"AddString", {Text(L"a")});
  log.Call(L"AddString", {Text(L"b")});
  EXPECT_TRUE(BoolValue(log.Call(L"LogStrings", {Long(2), Long(4), Long(0x60000001)})));
  log.Call(L"ClearStrings");
  EXPECT_FALSE(BoolValue(log.Call(L"LogStrings", {Long(2), Long(4), Long(1)})));
  EXPECT_EQ(log.GetText(L"LastErrorMessage"), "There are no strings to log.");
  EXPECT_TRUE(BoolValue(log.Call(L"LogEvent", {Text(L"one text"), Long(2), Long(2), Long(2)})));
  EXPECT_FALSE(BoolValue(log.Call(L"LogEvent", {Text(L""), Long(2), Long(2), Long(2)})));
  EXPECT_EQ(log.GetText(L"LastErrorMessage"), "The message string is empty.");

  // Wine keeps no event log: the scan ends at once with no events.
  unique_variant list = Text(L"old value");
  unique_variant count = Long(99);
  EXPECT_TRUE(BoolValue(log.Call(L"ReadEvents", {Long(-1), Long(-1), Long(-1), Bool(true), Date(0), ByRef(list),
                                                 ByRef(count)})));
  EXPECT_EQ(TextOf(count.get()), L"0");
  ASSERT_EQ(TypeOf(list), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(list.get().parray->rgsabound[0].cElements, 0u);

  const unique_variant registered = log.Call(L"RegisterCategoryMessageFile", {Text(L"%SystemRoot%\\cats.dll"), Long(4)});
  EXPECT_EQ(TypeOf(registered), VT_BOOL);
  EXPECT_TRUE(BoolValue(registered));
  EXPECT_TRUE(BoolValue(log.Call(L"RegisterEventMessageFile", {Text(L"%SystemRoot%\\events.dll"), Long(7)})));
  char systemRoot[MAX_PATH];
  ASSERT_GT(GetEnvironmentVariableA("SystemRoot", systemRoot, sizeof systemRoot), 0u);
  EXPECT_EQ(log.GetText(L"EventMessageFile"), std::string(systemRoot) + "\\events.dll");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kSourcesKey + source).c_str());
  log.Put(L"MachineName", Text(L"\\\\QUAXNOSUCHMACHINE"));
  EXPECT_EQ(log.GetText(L"MachineName"), "\\\\QUAXNOSUCHMACHINE");

  Client quax(L"quaxagg.CQuaxEventLog");
  quax.Call(L"AddString", {Text(L"from the COM tests")});
  EXPECT_TRUE(BoolValue(quax.Call(L"WriteInformationEvent", {Long(2)})));
  EXPECT_TRUE(BoolValue(quax.Call(L"WriteWarningEvent", {Long(2)})));
  EXPECT_TRUE(BoolValue(quax.Call(L"WriteErrorEvent", {Long(2)})));
  quax.Call(L"Clear");
  EXPECT_FALSE(BoolValue(quax.Call(L"WriteErrorEvent", {Long(2)})));
  EXPECT_EQ(quax.GetText(L"LastErrorMessage"), "There are no strings to log.");
  for (const wchar_t* read : {L"ReadInformationEvents", L"ReadWarningEvents", L"ReadErrorEvents", L"ReadAllEvents"}) {
    unique_variant events = Empty();
    unique_variant found = Empty();
    EXPECT_TRUE(BoolValue(quax.Call(read, {Long(-1), Bool(false), Date(0), ByRef(events), ByRef(found)})))
        << Narrow(read);
    EXPECT_EQ(TextOf(found.get()), L"0");
  }
  // The registry of an unreachable machine: nothing of this prefix's QUAX
  // source is touched.
  quax.Put(L"MachineName", Text(L"\\\\QUAXNOSUCHMACHINE"));
  EXPECT_EQ(quax.GetText(L"MachineName"), "\\\\QUAXNOSUCHMACHINE");
  EXPECT_FALSE(BoolValue(quax.Call(L"RegisterMessageFiles", {Text(L"C:\\App")})));
  EXPECT_EQ(quax.GetText(L"LastErrorMessage").rfind("Unable to update the CategoryFile registry entry; SubKey='", 0), 0u);
  EXPECT_EQ(quax.GetText(L"MessageFilePath"), "");
}

// A listener of ReadProgress, as a host connects one.
class ProgressSink final : public IDispatch {
 public:
  explicit ProgressSink(bool cancel) : cancel_(cancel) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, DIID___CQuaxEventLog)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    Calls.push_back({member, V_I4(&parameters->rgvarg[3]), V_I4(&parameters->rgvarg[2]), V_I4(&parameters->rgvarg[1])});
    *V_BOOLREF(&parameters->rgvarg[0]) = cancel_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  ULONG References() const { return references_; }

  struct Call {
    DISPID Member;
    LONG Read, Matched, Total;
  };
  std::vector<Call> Calls;

 private:
  bool cancel_;
  ULONG references_ = 1;
};

TEST(EventLogEvents, ListenersConnectThroughTheConnectionPointAndCanCancel) {
  Client quax(L"quaxagg.CQuaxEventLog");
  unique_com<IConnectionPointContainer> container = quax.As<IConnectionPointContainer>();
  ASSERT_TRUE(container);
  unique_com<IConnectionPoint> point;
  EXPECT_EQ(container.get()->FindConnectionPoint(DIID___CWinEventLog, point.put()), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(container.get()->FindConnectionPoint(DIID___CQuaxEventLog, point.put()), S_OK);
  IID events {};
  ASSERT_EQ(point.get()->GetConnectionInterface(&events), S_OK);
  EXPECT_TRUE(IsEqualIID(events, DIID___CQuaxEventLog));
  // The enumerator gives that one point, once, again after Reset, and so
  // does its clone.
  unique_com<IEnumConnectionPoints> points;
  ASSERT_EQ(container.get()->EnumConnectionPoints(points.put()), S_OK);
  for (int round = 0; round < 2; ++round) {
    IConnectionPoint* got[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(points.get()->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(got[0], point.get());
    got[0]->Release();
    EXPECT_EQ(points.get()->Next(1, got, nullptr), S_FALSE);
    EXPECT_EQ(points.get()->Reset(), S_OK);
    unique_com<IEnumConnectionPoints> clone;
    ASSERT_EQ(points.get()->Clone(clone.put()), S_OK);
    EXPECT_EQ(clone.get()->Skip(1), S_OK);
    EXPECT_EQ(clone.get()->Skip(1), S_FALSE);
  }
  ProgressSink sink(true);
  DWORD cookie = 0;
  ASSERT_EQ(point.get()->Advise(&sink, &cookie), S_OK);
  EXPECT_EQ(sink.References(), 2u);  // the point holds it
  // Wine has no event log whose scan would raise the event: it is fired
  // by the connection point's own test below.
  unique_variant list = Empty();
  unique_variant count = Empty();
  EXPECT_TRUE(BoolValue(quax.Call(L"ReadAllEvents", {Long(-1), Bool(true), Date(0), ByRef(list), ByRef(count)})));
  EXPECT_EQ(point.get()->Unadvise(cookie), S_OK);
  EXPECT_EQ(point.get()->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(sink.References(), 1u);
}

TEST(EventLogEvents, EveryListenerGetsTheProgressAndAnyOfThemCancels) {
  Client quax(L"quaxagg.CQuaxEventLog");
  unique_com<IConnectionPointContainer> container = quax.As<IConnectionPointContainer>();
  EventConnectionPoint point(*container.get(), DIID___CQuaxEventLog);
  ProgressSink watching(false);
  ProgressSink cancelling(true);
  DWORD first = 0;
  DWORD second = 0;
  ASSERT_EQ(point.Advise(&watching, &first), S_OK);
  ASSERT_EQ(point.Advise(&cancelling, &second), S_OK);
  EXPECT_NE(first, second);
  bool cancel = false;
  point.FireReadProgress(10, 3, 50, cancel);
  EXPECT_TRUE(cancel);
  ASSERT_EQ(watching.Calls.size(), 1u);
  EXPECT_EQ(watching.Calls[0].Member, 1);
  EXPECT_EQ(watching.Calls[0].Read, 10);
  EXPECT_EQ(watching.Calls[0].Matched, 3);
  EXPECT_EQ(watching.Calls[0].Total, 50);
  ASSERT_EQ(point.Unadvise(second), S_OK);
  cancel = false;
  point.FireReadProgress(20, 4, 50, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(watching.Calls.size(), 2u);
  EXPECT_EQ(cancelling.Calls.size(), 1u);
  ASSERT_EQ(point.Unadvise(first), S_OK);
}

// ---- Typed clients of the other classes -------------------------------------------

TEST(TypedClients, EveryClassServesItsTypedInterfaceWithErrorObjects) {
  unique_com<_CStringBuilder> builder = Client(L"quaxagg.CStringBuilder").As<_CStringBuilder>();
  ASSERT_TRUE(builder);
  const unique_bstr abc = Bstr("abc");
  ASSERT_EQ(builder.get()->put_Value(abc.get()), S_OK);
  LONG number = 0;
  ASSERT_EQ(builder.get()->get_HashValue(&number), S_OK);
  EXPECT_EQ(number, 751);
  EXPECT_EQ(builder.get()->GetLongFromRange(2, 5, &number), E_FAIL);
  ErrorObject error = TakeErrorObject();
  EXPECT_EQ(error.Description, "Subscript out of range");
  EXPECT_EQ(error.Source, "quaxagg.CStringBuilder");

  unique_com<_ExceptionFile> file = Client(L"quaxagg.ExceptionFile").As<_ExceptionFile>();
  ASSERT_TRUE(file);
  ASSERT_EQ(file.get()->put_MaxExceptions(0), S_OK);
  VARIANT_BOOL answer = VARIANT_TRUE;
  const unique_bstr record = Bstr("record");
  ASSERT_EQ(file.get()->AddException(record.get(), &answer), S_OK);
  EXPECT_EQ(answer, VARIANT_FALSE);
  unique_bstr message;
  ASSERT_EQ(file.get()->get_LastErrorMessage(message.put()), S_OK);
  EXPECT_EQ(Narrow(message.get()), "Maximum number of exceptions (0 has been reached.");

  unique_com<_CWin32Process> process = Client(L"quaxagg.CWin32Process").As<_CWin32Process>();
  ASSERT_TRUE(process);
  ASSERT_EQ(process.get()->get_IsValidPriorityClass(EPriorityClass_High, &answer), S_OK);
  EXPECT_EQ(answer, VARIANT_TRUE);
  ASSERT_EQ(process.get()->get_Id(&number), S_OK);
  EXPECT_EQ(number, static_cast<LONG>(GetCurrentProcessId()));

  unique_com<_CWinEventLog> log = Client(L"quaxagg.CWinEventLog").As<_CWinEventLog>();
  ASSERT_TRUE(log);
  const unique_bstr empty = Bstr("");
  ASSERT_EQ(log.get()->LogEvent(empty.get(), 2, WINEVENTLOG_ERROR, 3, &answer), S_OK);
  EXPECT_EQ(answer, VARIANT_FALSE);

  unique_com<_CQuaxEventLog> quax = Client(L"quaxagg.CQuaxEventLog").As<_CQuaxEventLog>();
  ASSERT_TRUE(quax);
  const unique_bstr text = Bstr("typed");
  ASSERT_EQ(quax.get()->AddString(text.get()), S_OK);
  ASSERT_EQ(quax.get()->WriteWarningEvent(EQuaxCategoryType_Reporting, &answer), S_OK);
  EXPECT_EQ(answer, VARIANT_TRUE);
  unique_variant list = Empty();
  unique_variant count = Empty();
  ASSERT_EQ(quax.get()->ReadWarningEvents(-1, VARIANT_TRUE, 0, list.address(), count.address(), &answer), S_OK);
  EXPECT_EQ(answer, VARIANT_TRUE);
  EXPECT_EQ(TypeOf(count), VT_I4);
  EXPECT_EQ(quax.get()->ReadWarningEvents(-1, VARIANT_TRUE, 0, nullptr, count.address(), &answer), E_POINTER);

  unique_com<_ScriptingEngine> engine = Client(L"quaxagg.ScriptingEngine").As<_ScriptingEngine>();
  ASSERT_TRUE(engine);
  unique_variant result;
  const unique_variant missing = Missing();
  ASSERT_EQ(engine.get()->Initialize(missing.get(), result.put()), S_OK);
  const unique_variant user = Text(L"USER");
  ASSERT_EQ(engine.get()->DefineIdentifier(user.get()), S_OK);
  unique_variant ids = Columns({{L"a"}, {L"b"}});
  unique_variant values = Columns({{L"1"}, {L"x"}});
  unique_variant noDates = Missing();
  EXPECT_EQ(engine.get()->AddEntries(2, ids.address(), values.address(), noDates.address(), noDates.address(),
                                     result.put()),
            DISP_E_TYPEMISMATCH);
  error = TakeErrorObject();
  EXPECT_EQ(error.Description, "Type mismatch: resource value 0 ('x') is not a number.");
  EXPECT_EQ(error.Source, "quaxagg.ScriptingEngine");
}

}  // namespace
}  // namespace quax::com
