// Helpers of the quaxagg.dll tests: the server registered into the test
// prefix for the whole run, a script-like IDispatch client (members called
// by name, arguments by value or by reference as a script host passes them,
// failures with their error object), and VARIANT builders.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "test_support.h"
#include "unique_com.h"

namespace quax::com::testing {

// quaxagg.dll beside the test binary.
std::string ServerDllPath();
// regsvr32 [/u] /s on it; the exit code.
DWORD RunRegsvr32(bool unregister);

// A file made of the given bytes (test::ReadFile reads one back).
void WriteText(const std::string& path, const std::string& text);

// ---- VARIANT builders ---------------------------------------------------------
unique_variant Text(const std::wstring& text);
unique_variant Text(const std::string& text);  // ASCII
unique_bstr Bstr(const std::string& text);     // ASCII
// An omitted optional argument (VT_ERROR, DISP_E_PARAMNOTFOUND).
unique_variant Missing();
unique_variant Long(LONG value);
unique_variant Double(double value);
unique_variant Bool(bool value);
unique_variant Date(double value);
unique_variant DecimalOf(const wchar_t* text);  // through VarDecFromStr
unique_variant Empty();
// A one-dimensional array of VARIANT indexed from `lowerBound`.
unique_variant Array(std::initializer_list<const unique_variant*> values, LONG lowerBound = 0);
// A two-dimensional array of VARIANT: columns[k] is column k (entry k).
unique_variant Columns(const std::vector<std::vector<std::wstring>>& columns);
// The text of a VARIANT through VariantChangeType (for comparisons).
std::wstring TextOf(const VARIANT& value);
std::string Narrow(const std::wstring& text);

// One argument as a script passes it: by value, or by reference to a variable.
struct Arg {
  Arg(const unique_variant& value, bool byReference = false) : Value(&value), ByReference(byReference) {}  // NOLINT
  const unique_variant* Value;
  bool ByReference;
};
inline Arg ByRef(unique_variant& variable) { return Arg(variable, true); }

struct Outcome {
  HRESULT Result = E_FAIL;
  unique_variant Value;
  std::string Description;  // of the EXCEPINFO, when the call failed
  std::string Source;
};

class Client {
 public:
  // CLSIDFromProgID and CoCreateInstance; fails the test when that fails.
  explicit Client(const wchar_t* progId);
  explicit Client(unique_com<IDispatch> object) : object_(std::move(object)) {}

  IDispatch* Object() const noexcept { return object_.get(); }
  template <class Interface>
  unique_com<Interface> As() const {
    unique_com<Interface> typed;
    EXPECT_EQ(object_.get()->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(typed.put())), S_OK);
    return typed;
  }

  // Invokes a member by name; arguments in their order.
  Outcome Invoke(const wchar_t* name, WORD flags, std::initializer_list<Arg> args = {});
  // The same expecting success (the test fails otherwise, naming the
  // member, the HRESULT and the error description).
  unique_variant Call(const wchar_t* name, std::initializer_list<Arg> args = {});
  unique_variant Get(const wchar_t* name, std::initializer_list<Arg> args = {});
  void Put(const wchar_t* name, const unique_variant& value);
  // Shortcuts for the common result types.
  LONG CallLong(const wchar_t* name, std::initializer_list<Arg> args = {});
  std::string GetText(const wchar_t* name);
  LONG GetLong(const wchar_t* name);
  bool GetBool(const wchar_t* name);

 private:
  unique_com<IDispatch> object_;
};

// The names of an interface's members in declaration order (a property's
// name once), read from the server's type library.
std::vector<std::string> MemberNames(IDispatch* object);

// The thread's error object after a failed typed call.
struct ErrorObject {
  std::string Description;
  std::string Source;
};
ErrorObject TakeErrorObject();

}  // namespace quax::com::testing
