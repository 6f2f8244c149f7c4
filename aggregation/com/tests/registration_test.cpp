// Registration by regsvr32 (what it writes, that it can run twice, that
// unregistration leaves nothing of it) and the server's lifetime:
// DllCanUnloadNow, and 10,000 objects created and released leaving the
// process's handles and private bytes flat.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "com/interfaces.h"
#include "com/registration.h"
#include "com/server_classes.h"
#include "com_test_support.h"

namespace quax::com {
namespace {

using testing::RunRegsvr32;
using testing::ServerDllPath;

bool KeyExists(const std::string& path) {
  unique_hkey key;
  return RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// The text value, or "<missing>".
std::string ValueOf(const std::string& path, const std::string& name) {
  char data[1024] = {};
  DWORD size = sizeof data - 1;
  if (RegGetValueA(HKEY_CLASSES_ROOT, path.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_REG_SZ, nullptr,
                   data, &size) != ERROR_SUCCESS) {
    return "<missing>";
  }
  return data;
}

// Every key the type library's registration makes: the library and one
// per interface.
std::vector<std::string> TypeLibraryKeys() {
  std::vector<std::string> keys = {"TypeLib\\" + GuidText(LIBID_quaxagg)};
  for (const IID* iid : {&IID__TypedEngine, &IID__ScriptingEngine, &IID__VTXAggregator, &IID__CStringBuilder,
                         &IID__ExceptionFile, &IID__CWinEventLog, &IID__CQuaxEventLog, &IID__CWin32Process,
                         &DIID___CWinEventLog, &DIID___CQuaxEventLog}) {
    keys.push_back("Interface\\" + GuidText(*iid));
  }
  return keys;
}

void ExpectRegistered() {
  for (const RegistryEntry& entry : RegistrationEntries(ServerClasses(), ServerDllPath(), LIBID_quaxagg)) {
    EXPECT_EQ(ValueOf(entry.Key, entry.ValueName), entry.Value) << entry.Key << " " << entry.ValueName;
  }
  for (const std::string& key : TypeLibraryKeys()) EXPECT_TRUE(KeyExists(key)) << key;
  EXPECT_EQ(ValueOf("TypeLib\\" + GuidText(LIBID_quaxagg) + "\\1.0\\0\\" + (sizeof(void*) == 8 ? "win64" : "win32"), ""),
            ServerDllPath());
}

TEST(Registration, EntriesNameEveryClassByProgIdAndTheApartmentModel) {
  const std::vector<RegistryEntry> entries = RegistrationEntries(ServerClasses(), "C:\\Q\\quaxagg.dll", LIBID_quaxagg);
  ASSERT_EQ(ServerClasses().size(), 8u);
  EXPECT_EQ(entries.size(), 8u * 12u);
  const std::string engine = "CLSID\\{50887ACF-1500-44A6-B7FA-D05A133D95AC}";
  const auto has = [&entries](const std::string& key, const std::string& name, const std::string& value) {
    for (const RegistryEntry& entry : entries) {
      if (entry.Key == key && entry.ValueName == name) return entry.Value == value;
    }
    return false;
  };
  EXPECT_TRUE(has(engine + "\\InprocServer32", "", "C:\\Q\\quaxagg.dll"));
  EXPECT_TRUE(has(engine + "\\InprocServer32", "ThreadingModel", "Apartment"));
  EXPECT_TRUE(has(engine + "\\ProgID", "", "quaxagg.TypedEngine.1"));
  EXPECT_TRUE(has(engine + "\\VersionIndependentProgID", "", "quaxagg.TypedEngine"));
  EXPECT_TRUE(has(engine + "\\TypeLib", "", "{B1BD742C-3D2E-4B13-86D1-850AEEA76F02}"));
  EXPECT_TRUE(has("quaxagg.CWin32Process\\CurVer", "", "quaxagg.CWin32Process.1"));
  EXPECT_TRUE(has("quaxagg.VTXAggregator.1\\CLSID", "", "{258267BE-D640-4045-8C67-58652498A07C}"));
  const std::vector<std::string> roots = RegistrationRoots(ServerClasses());
  EXPECT_EQ(roots.size(), 24u);
  for (const RegistryEntry& entry : entries) {
    bool under = false;
    for (const std::string& root : roots) under = under || entry.Key.rfind(root, 0) == 0;
    EXPECT_TRUE(under) << entry.Key << " is not removed by unregistration";
  }
}

TEST(Registration, Regsvr32WritesEverythingTwiceHarmlesslyAndUnregistrationLeavesNothing) {
  ExpectRegistered();  // registered for the run
  ASSERT_EQ(RunRegsvr32(false), 0u);
  ExpectRegistered();

  ASSERT_EQ(RunRegsvr32(true), 0u);
  for (const std::string& root : RegistrationRoots(ServerClasses())) EXPECT_FALSE(KeyExists(root)) << root;
  for (const std::string& key : TypeLibraryKeys()) EXPECT_FALSE(KeyExists(key)) << key;
  EXPECT_EQ(RunRegsvr32(true), 0u);  // nothing left to remove is no failure

  ASSERT_EQ(RunRegsvr32(false), 0u);  // back for the other tests
  ExpectRegistered();
}

// ---- Lifetime --------------------------------------------------------------------------

class Lifetime : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(ServerDllPath().c_str());
    ASSERT_NE(module_, nullptr);
    canUnloadNow_ = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    getClassObject_ = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    ASSERT_NE(canUnloadNow_, nullptr);
    ASSERT_NE(getClassObject_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }

  HMODULE module_ = nullptr;
  HRESULT(STDAPICALLTYPE* canUnloadNow_)() = nullptr;
  HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
};

// The class factories live as long as the DLL, one per class, and keep
// nothing loaded: a host that never releases one (Wine's script host) leaks
// nothing and does not pin the server.
TEST_F(Lifetime, TheServerMayUnloadOnlyWhenNoObjectOrLockIsLeft) {
  EXPECT_EQ(canUnloadNow_(), S_OK);
  unique_com<IClassFactory> factory;
  ASSERT_EQ(getClassObject_(CLSID_ScriptingEngine, IID_IClassFactory, reinterpret_cast<void**>(factory.put())), S_OK);
  IClassFactory* leaked = nullptr;
  ASSERT_EQ(getClassObject_(CLSID_ScriptingEngine, IID_IClassFactory, reinterpret_cast<void**>(&leaked)), S_OK);
  EXPECT_EQ(leaked, factory.get());
  EXPECT_EQ(canUnloadNow_(), S_OK);
  unique_com<IDispatch> object;
  ASSERT_EQ(factory.get()->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object.put())), S_OK);
  unique_com<IUnknown> outer;
  EXPECT_EQ(factory.get()->CreateInstance(object.get(), IID_IUnknown, reinterpret_cast<void**>(outer.put())),
            CLASS_E_NOAGGREGATION);
  ASSERT_EQ(factory.get()->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(canUnloadNow_(), S_FALSE);  // the object and the lock
  object.reset();
  EXPECT_EQ(canUnloadNow_(), S_FALSE);  // the lock
  ASSERT_EQ(getClassObject_(CLSID_ScriptingEngine, IID_IClassFactory, reinterpret_cast<void**>(factory.put())), S_OK);
  factory.get()->LockServer(FALSE);
  factory.reset();
  EXPECT_EQ(canUnloadNow_(), S_OK);

  unique_com<IUnknown> unknown;
  EXPECT_EQ(getClassObject_(IID__TypedEngine, IID_IClassFactory, reinterpret_cast<void**>(unknown.put())),
            CLASS_E_CLASSNOTAVAILABLE);

  // Every class, through COM itself.
  for (const ServerClass* serverClass : ServerClasses()) {
    unique_com<IDispatch> created;
    ASSERT_EQ(CoCreateInstance(serverClass->ClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(created.put())),
              S_OK)
        << serverClass->ProgId;
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
  }
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

struct ProcessFigures {
  DWORD Handles = 0;
  unsigned long long PrivateBytes = 0;
};

// Wine 8 answers 0 from GetProcessHandleCount and for PrivateUsage, so both
// figures are taken in a way that Windows and Wine answer alike: the handle
// values that are open, and the committed private memory of the address
// space.
ProcessFigures Measure() {
  ProcessFigures figures;
  constexpr ULONG_PTR kHighestHandleProbed = 4 * 65536;
  for (ULONG_PTR value = 4; value <= kHighestHandleProbed; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++figures.Handles;
  }
  MEMORY_BASIC_INFORMATION region {};
  const char* at = nullptr;
  while (VirtualQuery(at, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) figures.PrivateBytes += region.RegionSize;
    at = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
  }
  return figures;
}

void CreateAndRelease(int count) {
  const auto classes = ServerClasses();
  for (int k = 0; k < count; ++k) {
    const ServerClass* serverClass = classes[static_cast<std::size_t>(k) % classes.size()];
    unique_com<IDispatch> object;
    ASSERT_EQ(CoCreateInstance(serverClass->ClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(object.put())),
              S_OK);
    // One call each, so that every object is used, not only built.
    unique_com<ITypeInfo> info;
    ASSERT_EQ(object.get()->GetTypeInfo(0, 0, info.put()), S_OK);
  }
}

TEST_F(Lifetime, TenThousandObjectsLeaveHandlesAndPrivateBytesFlat) {
  CreateAndRelease(800);  // caches of the system and of the server filled
  const ProcessFigures before = Measure();
  CreateAndRelease(10000);
  const ProcessFigures after = Measure();
  const long long handleGrowth = static_cast<long long>(after.Handles) - before.Handles;
  const long long byteGrowth = static_cast<long long>(after.PrivateBytes) - static_cast<long long>(before.PrivateBytes);
  std::printf("10,000 objects: handles %lu -> %lu, private bytes %llu -> %llu\n", before.Handles, after.Handles,
              before.PrivateBytes, after.PrivateBytes);
  ASSERT_GT(before.Handles, 0u);  // the measures see something
  ASSERT_GT(before.PrivateBytes, 0u);
  // One leaked handle or 100 leaked bytes per object would show as 10,000
  // handles or 1 MB.
  EXPECT_LT(handleGrowth, 10);
  EXPECT_LT(byteGrowth, 1 << 20);
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

}  // namespace
}  // namespace quax::com
