#include "com_test_support.h"

#include <algorithm>
#include <fstream>

namespace quax::com::testing {
namespace {

// COM for the test thread, and the server registered for the whole run.
class ServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(RunRegsvr32(false), 0u) << "regsvr32 " << ServerDllPath();
  }
  void TearDown() override {
    EXPECT_EQ(RunRegsvr32(true), 0u);
    CoUninitialize();
  }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

unique_variant Owned(VARIANT value) { return unique_variant(value); }

}  // namespace

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string ServerDllPath() { return test::BinaryDirectory() + "\\quaxagg.dll"; }

DWORD RunRegsvr32(bool unregister) {
  std::string output;
  return test::RunAndCapture(std::string("regsvr32.exe ") + (unregister ? "/u " : "") + "/s \"" +
                                 ServerDllPath() + "\"",
                             &output);
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (const wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

// A VARIANT of `type` whose value `set` fills (before the type: a DECIMAL
// overlays the type field).
template <class Set>
unique_variant Make(VARTYPE type, Set set) {
  VARIANT v;
  VariantInit(&v);
  set(v);
  V_VT(&v) = type;
  return Owned(v);
}

unique_variant Text(const std::wstring& text) {
  return Make(VT_BSTR, [&text](VARIANT& v) {
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  });
}

unique_variant Text(const std::string& text) { return Text(std::wstring(text.begin(), text.end())); }

unique_bstr Bstr(const std::string& text) {
  const std::wstring wide(text.begin(), text.end());
  return unique_bstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

unique_variant Missing() {
  return Make(VT_ERROR, [](VARIANT& v) { V_ERROR(&v) = DISP_E_PARAMNOTFOUND; });
}

unique_variant Long(LONG value) {
  return Make(VT_I4, [value](VARIANT& v) { V_I4(&v) = value; });
}

unique_variant Double(double value) {
  return Make(VT_R8, [value](VARIANT& v) { V_R8(&v) = value; });
}

unique_variant Bool(bool value) {
  return Make(VT_BOOL, [value](VARIANT& v) { V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE; });
}

unique_variant Date(double value) {
  return Make(VT_DATE, [value](VARIANT& v) { V_DATE(&v) = value; });
}

unique_variant DecimalOf(const wchar_t* text) {
  DECIMAL d {};
  EXPECT_EQ(VarDecFromStr(const_cast<wchar_t*>(text), LOCALE_INVARIANT, 0, &d), S_OK) << Narrow(text);
  return Make(VT_DECIMAL, [&d](VARIANT& v) { V_DECIMAL(&v) = d; });
}

unique_variant Empty() { return unique_variant(); }

unique_variant Array(std::initializer_list<const unique_variant*> values, LONG lowerBound) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, lowerBound, static_cast<ULONG>(values.size()));
  LONG index = lowerBound;
  for (const unique_variant* value : values) {
    VARIANT element = value->get();
    EXPECT_EQ(SafeArrayPutElement(array, &index, &element), S_OK);
    ++index;
  }
  return Make(VT_ARRAY | VT_VARIANT, [array](VARIANT& v) { V_ARRAY(&v) = array; });
}

unique_variant Columns(const std::vector<std::vector<std::wstring>>& columns) {
  const std::size_t rows = columns.empty() ? 0 : columns[0].size();
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), 0}, {static_cast<ULONG>(columns.size()), 0}};
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
  for (std::size_t k = 0; k < columns.size(); ++k) {
    for (std::size_t i = 0; i < rows; ++i) {
      LONG indices[2] = {static_cast<LONG>(i), static_cast<LONG>(k)};
      const unique_variant cell = Text(columns[k][i]);
      VARIANT element = cell.get();
      EXPECT_EQ(SafeArrayPutElement(array, indices, &element), S_OK);
    }
  }
  return Make(VT_ARRAY | VT_VARIANT, [array](VARIANT& v) { V_ARRAY(&v) = array; });
}

std::wstring TextOf(const VARIANT& value) {
  unique_variant text;
  if (FAILED(VariantChangeTypeEx(text.put(), const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0, VT_BSTR))) {
    return L"<not a text: vt " + std::to_wstring(V_VT(&value)) + L">";
  }
  const VARIANT v = text.get();
  return std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
}

Client::Client(const wchar_t* progId) {
  CLSID classId {};
  EXPECT_EQ(CLSIDFromProgID(progId, &classId), S_OK) << Narrow(progId);
  const HRESULT hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                      reinterpret_cast<void**>(object_.put()));
  EXPECT_EQ(hr, S_OK) << Narrow(progId) << " hr 0x" << std::hex << hr;
}

Outcome Client::Invoke(const wchar_t* name, WORD flags, std::initializer_list<Arg> args) {
  Outcome outcome;
  DISPID member = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  outcome.Result = object_.get()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
  if (FAILED(outcome.Result)) {
    outcome.Description = "no member " + Narrow(name);
    return outcome;
  }
  // Arguments go last first; by-reference ones point at the caller's variable.
  std::vector<VARIANT> arguments(args.size());
  std::size_t k = args.size();
  for (const Arg& arg : args) {
    VARIANT& argument = arguments[--k];
    VariantInit(&argument);
    if (arg.ByReference) {
      V_VT(&argument) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&argument) = const_cast<unique_variant*>(arg.Value)->address();
    } else {
      argument = arg.Value->get();
    }
  }
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS parameters {arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
  if (flags & DISPATCH_PROPERTYPUT) {
    parameters.rgdispidNamedArgs = &putId;
    parameters.cNamedArgs = 1;
  }
  EXCEPINFO exception {};
  UINT badArgument = 0;
  outcome.Result = object_.get()->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                                         outcome.Value.put(), &exception, &badArgument);
  if (outcome.Result == DISP_E_EXCEPTION) {
    if (exception.bstrDescription) outcome.Description = Narrow(exception.bstrDescription);
    if (exception.bstrSource) outcome.Source = Narrow(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    outcome.Result = exception.scode;
  }
  return outcome;
}

namespace {

unique_variant Expect(Outcome outcome, const wchar_t* name) {
  EXPECT_EQ(outcome.Result, S_OK) << Narrow(name) << ": hr 0x" << std::hex << outcome.Result << " "
                                  << outcome.Description;
  return std::move(outcome.Value);
}

}  // namespace

unique_variant Client::Call(const wchar_t* name, std::initializer_list<Arg> args) {
  return Expect(Invoke(name, DISPATCH_METHOD, args), name);
}

unique_variant Client::Get(const wchar_t* name, std::initializer_list<Arg> args) {
  return Expect(Invoke(name, DISPATCH_PROPERTYGET, args), name);
}

void Client::Put(const wchar_t* name, const unique_variant& value) {
  Expect(Invoke(name, DISPATCH_PROPERTYPUT, {value}), name);
}

LONG Client::CallLong(const wchar_t* name, std::initializer_list<Arg> args) {
  const unique_variant result = Call(name, args);
  VARIANT v = result.get();
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK) << Narrow(name);
  return V_I4(&v);
}

std::string Client::GetText(const wchar_t* name) { return Narrow(TextOf(Get(name).get())); }

LONG Client::GetLong(const wchar_t* name) {
  const unique_variant result = Get(name);
  VARIANT v = result.get();
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK) << Narrow(name);
  return V_I4(&v);
}

bool Client::GetBool(const wchar_t* name) {
  const unique_variant result = Get(name);
  const VARIANT v = result.get();
  EXPECT_EQ(V_VT(&v), VT_BOOL) << Narrow(name);
  return V_BOOL(&v) != VARIANT_FALSE;
}

std::vector<std::string> MemberNames(IDispatch* object) {
  static const std::vector<std::string> kInherited = {
      "QueryInterface", "AddRef", "Release", "GetTypeInfoCount", "GetTypeInfo", "GetIDsOfNames", "Invoke"};
  std::vector<std::string> names;
  unique_com<ITypeInfo> info;
  if (FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()))) return names;
  TYPEATTR* attributes = nullptr;
  if (FAILED(info.get()->GetTypeAttr(&attributes))) return names;
  for (UINT k = 0; k < attributes->cFuncs; ++k) {
    FUNCDESC* function = nullptr;
    if (FAILED(info.get()->GetFuncDesc(k, &function))) continue;
    unique_bstr name;
    info.get()->GetDocumentation(function->memid, name.put(), nullptr, nullptr, nullptr);
    info.get()->ReleaseFuncDesc(function);
    const std::string text = Narrow(name.get());
    if (std::find(kInherited.begin(), kInherited.end(), text) != kInherited.end()) continue;
    if (names.empty() || names.back() != text) names.push_back(text);
  }
  info.get()->ReleaseTypeAttr(attributes);
  return names;
}

ErrorObject TakeErrorObject() {
  ErrorObject error;
  unique_com<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return error;
  unique_bstr description;
  unique_bstr source;
  info.get()->GetDescription(description.put());
  info.get()->GetSource(source.put());
  if (description) error.Description = Narrow(description.get());
  if (source) error.Source = Narrow(source.get());
  return error;
}

}  // namespace quax::com::testing
