// Throughput of quaxagg.dll's COM paths, each on the same data in the same
// run, printed as a table (a program that prints its figures, not a test):
//   - VTXAggregator.AggregateFile from a C++ client and from a VBScript,
//     against quaxaggregate.exe on the same generated file (best of three
//     runs each; the outputs must be identical);
//   - ScriptingEngine.AddEntry called 100,000 times through IDispatch from
//     C++ (by DISPID, arguments by reference as a script passes them) and
//     from a VBScript, and AddEntries with the same entries in one call.
// The server must be registered (scripts/bench-com does that).
//   com_bench.exe [RECORDS] [KEYS]     (default 2,000,000 records, 100,000 keys)
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "com/interfaces.h"
#include "test_support.h"
#include "unique_com.h"

namespace {

using quax::unique_bstr;
using quax::unique_com;
using quax::unique_variant;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 3;
constexpr long kCalls = 100000;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "com_bench: %s\n", what.c_str());
  std::exit(1);
}

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) Fail(std::string(what) + " failed, hr 0x" + [&] {
                         char text[16];
                         std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(hr));
                         return std::string(text);
                       }());
}

unique_bstr Bstr(const std::string& text) {
  const std::wstring wide(text.begin(), text.end());
  return unique_bstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Records of 4 identifiers and 3 resources (about 150 bytes a line), KEYS
// distinct keys picked by a fixed pseudo-random sequence.
void Generate(const std::string& path, long long records, long long keys) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) Fail("cannot write " + path);
  unsigned long long state = 7;
  const auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<long long>(state >> 33);
  };
  for (long long i = 0; i < records; ++i) {
    const long long k = next() % keys;
    std::fprintf(out,
                 "USAGE,20240131,20240131,00:00:00,23:59:59,,4,\"USER\",\"user%05lld\",\"HOST\",\"host%04lld\","
                 "\"PROJECT\",\"proj%04lld\",\"IMAGE\",\"image%05lld\",3,CPU,%lld.%03lld,IO,%lld,MEM,%lld.%lld\r\n",
                 k % 1000, k / 1000, k % 7, k % 11, next() % 100, next() % 1000, next() % 5000, next() % 900,
                 next() % 10);
  }
  std::fclose(out);
}

std::string ProcessorName() {
  char name[256] = {};
  DWORD size = sizeof name - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", "ProcessorNameString",
                   RRF_RT_REG_SZ, nullptr, name, &size) != ERROR_SUCCESS) {
    return "unknown processor";
  }
  return name;
}

std::string WineVersion() {
  using Version = const char*(CDECL*)();
  const auto version = reinterpret_cast<Version>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
  return version != nullptr ? std::string("Wine ") + version() : "Windows";
}

LONG LongOf(const unique_variant& value) {
  const VARIANT v = value.get();
  return V_I4(&v);
}

double Best(const std::function<double()>& run) {
  double best = 1e300;
  for (int k = 0; k < kRuns; ++k) best = std::min(best, run());
  return best;
}

// The value after "name " in a script's output.
double ScriptFigure(const std::string& output, const std::string& name) {
  const std::size_t at = output.find(name + " ");
  if (at == std::string::npos) Fail("the script printed no " + name + ": " + output);
  return std::atof(output.c_str() + at + name.size() + 1);
}

std::string Script(const std::string& name) {
  std::string path = std::string("Z:") + QUAX_SOURCE_DIR + "/aggregation/com/bench/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

unique_com<IDispatch> Create(const wchar_t* progId) {
  CLSID classId {};
  Check(CLSIDFromProgID(progId, &classId), "CLSIDFromProgID (is quaxagg.dll registered?)");
  unique_com<IDispatch> object;
  Check(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                         reinterpret_cast<void**>(object.put())),
        "CoCreateInstance");
  return object;
}

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  Check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), "GetIDsOfNames");
  return id;
}

// Calls a method by DISPID as a script host does; arguments last first.
unique_variant InvokeMethod(IDispatch* object, DISPID id, VARIANT* arguments, UINT count) {
  DISPPARAMS parameters {arguments, nullptr, count, 0};
  unique_variant result;
  EXCEPINFO exception {};
  Check(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, result.put(), &exception,
                       nullptr),
        "Invoke");
  return result;
}

void PutText(IDispatch* object, const wchar_t* name, const std::string& text) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = Bstr(text).release();
  unique_variant owned(value);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS parameters {&value, &put, 1, 1};
  Check(object->Invoke(IdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &parameters,
                       nullptr, nullptr, nullptr),
        "property put");
}

unique_variant Text(const std::string& text) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = Bstr(text).release();
  return unique_variant(value);
}

// A ScriptingEngine with the layout of the AddEntry figures.
unique_com<IDispatch> NewEngine(const std::string& folder) {
  unique_com<IDispatch> engine = Create(L"quaxagg.ScriptingEngine");
  PutText(engine.get(), L"WorkFilePath", folder);
  InvokeMethod(engine.get(), IdOf(engine.get(), L"Initialize"), nullptr, 0);
  for (const auto& [member, text] : {std::pair {L"DefineResourceRecordHeader", "BENCH"},
                                     std::pair {L"DefineIdentifier", "USER"}, std::pair {L"DefineIdentifier", "HOST"},
                                     std::pair {L"DefineResource", "CPU"}, std::pair {L"DefineResource", "IO"}}) {
    unique_variant argument = Text(text);
    InvokeMethod(engine.get(), IdOf(engine.get(), member), argument.address(), 1);
  }
  return engine;
}

unique_variant Vector(VARTYPE type, LONG count) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = static_cast<VARTYPE>(VT_ARRAY | type);
  V_ARRAY(&value) = SafeArrayCreateVector(type, 0, static_cast<ULONG>(count));
  return unique_variant(value);
}

double CallsOfAddEntry(const std::string& folder) {
  unique_com<IDispatch> engine = NewEngine(folder);
  const DISPID addEntry = IdOf(engine.get(), L"AddEntry");
  unique_variant ids = Vector(VT_VARIANT, 2);
  unique_variant values = Vector(VT_VARIANT, 2);
  const unique_variant start = Text("20240131 08:00:00");
  const unique_variant end = Text("20240131 09:00:00");
  auto* idCells = static_cast<VARIANT*>(ids.address()->parray->pvData);
  auto* valueCells = static_cast<VARIANT*>(values.address()->parray->pvData);
  V_VT(&idCells[1]) = VT_BSTR;
  V_BSTR(&idCells[1]) = Bstr("host").release();
  V_VT(&valueCells[0]) = VT_R8;
  V_R8(&valueCells[0]) = 1.25;
  V_VT(&valueCells[1]) = VT_I4;
  V_I4(&valueCells[1]) = 7;
  const auto started = Clock::now();
  for (long k = 0; k < kCalls; ++k) {
    VariantClear(&idCells[0]);
    V_VT(&idCells[0]) = VT_BSTR;
    V_BSTR(&idCells[0]) = Bstr("user" + std::to_string(k % 1000)).release();
    // Last first: DateEnd, DateStart, then the lists by reference.
    VARIANT arguments[4];
    arguments[0] = end.get();
    arguments[1] = start.get();
    V_VT(&arguments[2]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&arguments[2]) = values.address();
    V_VT(&arguments[3]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&arguments[3]) = ids.address();
    const unique_variant result = InvokeMethod(engine.get(), addEntry, arguments, 4);
    if (LongOf(result) != 0) Fail("AddEntry returned non-zero");
  }
  return kCalls / Seconds(started);
}

double EntriesOfAddEntries(const std::string& folder) {
  unique_com<IDispatch> engine = NewEngine(folder);
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {static_cast<ULONG>(kCalls), 0}};
  VARIANT idValue;
  VariantInit(&idValue);
  V_VT(&idValue) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&idValue) = SafeArrayCreate(VT_VARIANT, 2, bounds);
  unique_variant ids(idValue);
  VARIANT valueValue;
  VariantInit(&valueValue);
  V_VT(&valueValue) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&valueValue) = SafeArrayCreate(VT_VARIANT, 2, bounds);
  unique_variant values(valueValue);
  unique_variant starts = Vector(VT_VARIANT, kCalls);
  unique_variant ends = Vector(VT_VARIANT, kCalls);
  auto* idCells = static_cast<VARIANT*>(V_ARRAY(&idValue)->pvData);
  auto* valueCells = static_cast<VARIANT*>(V_ARRAY(&valueValue)->pvData);
  auto* startCells = static_cast<VARIANT*>(starts.address()->parray->pvData);
  auto* endCells = static_cast<VARIANT*>(ends.address()->parray->pvData);
  for (long k = 0; k < kCalls; ++k) {
    V_VT(&idCells[2 * k]) = VT_BSTR;
    V_BSTR(&idCells[2 * k]) = Bstr("user" + std::to_string(k % 1000)).release();
    V_VT(&idCells[2 * k + 1]) = VT_BSTR;
    V_BSTR(&idCells[2 * k + 1]) = Bstr("host").release();
    V_VT(&valueCells[2 * k]) = VT_R8;
    V_R8(&valueCells[2 * k]) = 1.25;
    V_VT(&valueCells[2 * k + 1]) = VT_I4;
    V_I4(&valueCells[2 * k + 1]) = 7;
    V_VT(&startCells[k]) = VT_BSTR;
    V_BSTR(&startCells[k]) = Bstr("20240131 08:00:00").release();
    V_VT(&endCells[k]) = VT_BSTR;
    V_BSTR(&endCells[k]) = Bstr("20240131 09:00:00").release();
  }
  VARIANT arguments[5];
  for (VARIANT& argument : arguments) V_VT(&argument) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&arguments[0]) = ends.address();
  V_VARIANTREF(&arguments[1]) = starts.address();
  V_VARIANTREF(&arguments[2]) = values.address();
  V_VARIANTREF(&arguments[3]) = ids.address();
  V_VT(&arguments[4]) = VT_I4;
  V_I4(&arguments[4]) = kCalls;
  const auto started = Clock::now();
  const unique_variant result = InvokeMethod(engine.get(), IdOf(engine.get(), L"AddEntries"), arguments, 5);
  const double seconds = Seconds(started);
  if (LongOf(result) != 0) Fail("AddEntries returned non-zero");
  return kCalls / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const long long records = argc > 1 ? std::atoll(argv[1]) : 2000000;
  const long long keys = argc > 2 ? std::atoll(argv[2]) : 100000;
  if (records < 1 || keys < 1) Fail("usage: com_bench.exe [RECORDS] [KEYS]");
  Check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx");
  SYSTEM_INFO system {};
  GetNativeSystemInfo(&system);
  std::printf("machine: %s, %lu processors, %s\n", ProcessorName().c_str(), system.dwNumberOfProcessors,
              WineVersion().c_str());

  const quax::test::ScratchDirectory folder("com-bench");
  const std::string input = folder.Path() + "\\input.txt";
  Generate(input, records, keys);
  std::printf("data: %lld records, %lld keys, %.0f MB\n\n", records, keys,
              static_cast<double>(ReadText(input).size()) / 1048576.0);
  const std::string bin = quax::test::BinaryDirectory();

  // ---- AggregateFile against the command line ----
  std::string output;
  const std::string cliOutput = folder.Path() + "\\cli.txt";
  const double cli = Best([&] {
    DeleteFileA(cliOutput.c_str());
    const auto started = Clock::now();
    if (quax::test::RunAndCapture("\"" + bin + "\\quaxaggregate.exe\" \"" + input + "\" \"" + cliOutput + "\"",
                                  &output) != 0) {
      Fail("quaxaggregate: " + output);
    }
    return Seconds(started);
  });

  const std::string comOutput = folder.Path() + "\\com.txt";
  const double com = Best([&] {
    DeleteFileA(comOutput.c_str());
    const auto started = Clock::now();
    unique_com<IDispatch> object = Create(L"quaxagg.VTXAggregator");
    unique_com<_VTXAggregator> aggregator;
    Check(object.get()->QueryInterface(__uuidof(_VTXAggregator), reinterpret_cast<void**>(aggregator.put())),
          "QueryInterface");
    const unique_bstr work = Bstr(folder.Path());
    Check(aggregator.get()->put_WorkFilePath(work.get()), "WorkFilePath");
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    unique_variant initialized;
    Check(aggregator.get()->Initialize(missing, initialized.put()), "Initialize");
    const unique_variant inputName = Text(input);
    Check(aggregator.get()->put_InputFileName(inputName.get()), "InputFileName");
    const unique_bstr outputName = Bstr(comOutput);
    Check(aggregator.get()->put_OutputFileName(outputName.get()), "OutputFileName");
    VARIANT_BOOL succeeded = VARIANT_FALSE;
    Check(aggregator.get()->AggregateFile(&succeeded), "AggregateFile");
    if (succeeded == VARIANT_FALSE) Fail("AggregateFile returned false");
    return Seconds(started);
  });

  const std::string vbsOutput = folder.Path() + "\\vbs.txt";
  double vbsWall = 1e300;
  const double vbs = Best([&] {
    DeleteFileA(vbsOutput.c_str());
    const auto started = Clock::now();
    if (quax::test::RunAndCapture("cscript.exe //nologo \"" + Script("aggregate_file_bench.vbs") + "\" \"" + input +
                                      "\" \"" + vbsOutput + "\" \"" + folder.Path() + "\"",
                                  &output) != 0) {
      Fail("aggregate_file_bench.vbs: " + output);
    }
    vbsWall = std::min(vbsWall, Seconds(started));
    return ScriptFigure(output, "seconds");
  });
  const std::string expected = ReadText(cliOutput);
  if (expected.empty() || ReadText(comOutput) != expected || ReadText(vbsOutput) != expected) {
    Fail("the three outputs differ");
  }

  const auto row = [records, cli](const char* path, double seconds) {
    std::printf("%-58s %8.2f s %12.0f rec/s %6.1f %%\n", path, seconds, static_cast<double>(records) / seconds,
                100.0 * cli / seconds);
  };
  std::printf("AggregateFile, best of %d (%% of quaxaggregate.exe's throughput)\n", kRuns);
  row("quaxaggregate.exe (process start included)", cli);
  row("VTXAggregator.AggregateFile from C++ (object included)", com);
  row("VTXAggregator.AggregateFile from VBScript (the call)", vbs);
  row("VTXAggregator.AggregateFile from VBScript (cscript run)", vbsWall);

  // ---- AddEntry and AddEntries ----
  const double cppCalls = CallsOfAddEntry(folder.Path());
  const double cppEntries = EntriesOfAddEntries(folder.Path());
  if (quax::test::RunAndCapture("cscript.exe //nologo \"" + Script("add_entry_bench.vbs") + "\" " +
                                    std::to_string(kCalls) + " \"" + folder.Path() + "\"",
                                &output) != 0) {
    Fail("add_entry_bench.vbs: " + output);
  }
  const double vbsCalls = kCalls / ScriptFigure(output, "addentry");
  const double vbsEntries = kCalls / ScriptFigure(output, "addentries");
  std::printf("\nScriptingEngine, %ld entries\n", kCalls);
  std::printf("%-58s %12.0f calls/s\n", "AddEntry from C++ through IDispatch::Invoke", cppCalls);
  std::printf("%-58s %12.0f calls/s\n", "AddEntry from VBScript", vbsCalls);
  std::printf("%-58s %12.0f entries/s\n", "AddEntries in one call from C++", cppEntries);
  std::printf("%-58s %12.0f entries/s\n", "AddEntries in one call from VBScript", vbsEntries);
  CoUninitialize();
  return 0;
}
