#include "win32/registry.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace quax {
namespace {

using namespace std::string_literals;

// A private key under HKEY_CURRENT_USER, removed with everything below it.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, subKey.c_str());
    value.SetKey(HKEY_CURRENT_USER);
    value.SetSubKey(subKey);
  }
  void TearDown() override {
    // As the owner the test may always give every right back (to the keys
    // a test has not deleted).
    for (const std::string& path : restricted_) {
      unique_hkey key;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, READ_CONTROL, key.put()) != ERROR_SUCCESS) continue;
      ASSERT_NO_FATAL_FAILURE(SetAccess(path, KEY_ALL_ACCESS));
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, testKey.c_str());
  }

  // Lets everyone (the test's account included) use the key with these
  // rights only, as a key an administrator set up looks to a plain user.
  void Restrict(const std::string& path, DWORD rights) {
    restricted_.push_back(path);
    SetAccess(path, rights);
  }

  // The stored bytes and type, read past the classes.
  std::string RawData(const char* name, DWORD* type = nullptr) {
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
      return "<no key>";
    }
    char data[256];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key.get(), name, nullptr, type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) {
      return "<no value>";
    }
    return std::string(data, size);
  }

  void Write(const char* name, DWORD type, RegData data) {
    value.SetValueName(name);
    value.SetDataType(type);
    value.SetValue(std::move(data));
    ASSERT_TRUE(value.Update()) << value.LastErrorMessage();
  }

  const std::string testKey = "Software\\QUAXTest-" + std::to_string(GetCurrentProcessId());
  const std::string subKey = testKey + "\\Values";
  CRegValue value;

 private:
  static void SetAccess(const std::string& path, DWORD rights) {
    const std::string sddl = "D:P(A;;" + std::to_string(rights | READ_CONTROL) + ";;;WD)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    unique_local_memory owner(descriptor);
    unique_hkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, key.put()), ERROR_SUCCESS) << path;
    ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS) << path;
  }

  std::vector<std::string> restricted_;
};

TEST(SysMessage, KnownCodeKeepsTheSystemLineEnd) {
  const std::string text = CSysMessage::GetMessage(ERROR_FILE_NOT_FOUND);
  ASSERT_GT(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(SysMessage, UnknownCodeIsNamedDirectlyAfterTheHash) {
  EXPECT_EQ(CSysMessage::GetMessage(99999), "Unknown Win32 Error#99999");
}

TEST(TargetMachine, GetsTwoLeadingBackslashes) {
  EXPECT_EQ(NormalizeTargetMachine("SERVER1"), "\\\\SERVER1");
  EXPECT_EQ(NormalizeTargetMachine("\\SERVER1"), "\\\\SERVER1");
  EXPECT_EQ(NormalizeTargetMachine("\\\\SERVER1"), "\\\\SERVER1");
  EXPECT_EQ(NormalizeTargetMachine(""), "");
  CRegValue regValue;
  regValue.SetTargetMachine("\\SERVER1");
  EXPECT_EQ(regValue.TargetMachine(), "\\\\SERVER1");
  CRegKey regKey;
  regKey.SetTargetMachine("SERVER1");
  EXPECT_EQ(regKey.TargetMachine(), "\\\\SERVER1");
}

TEST_F(RegistryTest, TextIsStoredWithOneZeroAndReadBack) {
  Write("Name", REG_SZ, "QUAX value"s);
  DWORD type = 0;
  EXPECT_EQ(RawData("Name", &type), "QUAX value\0"s);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  CRegValue reader;
  reader.SetKey(HKEY_CURRENT_USER);
  reader.SetSubKey(subKey);
  reader.SetValueName("Name");
  reader.SetDataType(REG_DWORD);
  ASSERT_TRUE(reader.Refresh()) << reader.LastErrorMessage();
  EXPECT_EQ(reader.DataType(), static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(reader.Value(), RegData("QUAX value"s));
}

TEST_F(RegistryTest, ExpandableTextStaysUnexpanded) {
  Write("Path", REG_EXPAND_SZ, "%SystemRoot%\\QuaxEventMsgs.dll"s);
  ASSERT_TRUE(value.Refresh());
  EXPECT_EQ(value.DataType(), static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(value.Value(), RegData("%SystemRoot%\\QuaxEventMsgs.dll"s));
}

TEST_F(RegistryTest, NumbersAreStoredAsFourBytesFromNumbersOrText) {
  Write("Count", REG_DWORD, std::uint32_t{7});
  ASSERT_TRUE(value.Refresh());
  EXPECT_EQ(value.Value(), RegData(std::uint32_t{7}));

  Write("Count", REG_DWORD, " 42 "s);
  EXPECT_EQ(RawData("Count"), std::string("\x2a\0\0\0", 4));
  Write("Count", REG_DWORD, "-1"s);
  ASSERT_TRUE(value.Refresh());
  EXPECT_EQ(value.Value(), RegData(std::uint32_t{0xFFFFFFFF}));
}

TEST_F(RegistryTest, TextThatIsNotANumberIsNotWrittenAsNumber) {
  Write("Count", REG_DWORD, std::uint32_t{3});
  value.SetValue("twelve"s);
  EXPECT_FALSE(value.Update());
  EXPECT_EQ(value.LastErrorMessage(),
            "CRegValue::Update(): Error setting registry value: " + CSysMessage::GetMessage(ERROR_INVALID_DATA));
  value.SetValue("4294967296"s);
  EXPECT_FALSE(value.Update());
  EXPECT_EQ(RawData("Count"), std::string("\3\0\0\0", 4));
}

TEST_F(RegistryTest, MultiStringRoundTrip) {
  {
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    const std::string stored("a\0b\0\0", 5);
    ASSERT_EQ(RegSetValueExA(key.get(), "List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(stored.data()),
                             static_cast<DWORD>(stored.size())),
              ERROR_SUCCESS);
  }
  value.SetValueName("List");
  ASSERT_TRUE(value.Refresh());
  EXPECT_EQ(value.DataType(), static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(value.Value(), RegData(std::string("a\0b\0", 4)));

  value.SetValue(std::get<std::string>(value.Value()));
  ASSERT_TRUE(value.Update());
  EXPECT_EQ(RawData("List"), std::string("a\0b\0\0\0", 6));
  ASSERT_TRUE(value.Refresh());
  EXPECT_EQ(value.Value(), RegData(std::string("a\0b\0", 4)));
}

TEST_F(RegistryTest, TextsWithoutTheirZerosAreReadToTheirEnd) {
  Write("Name", REG_SZ, "x"s);
  {
    unique_hkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_SET_VALUE, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>("a\0b"), 3),
              ERROR_SUCCESS);
  }
  ASSERT_TRUE(value.Refresh());
  EXPECT_EQ(value.Value(), RegData("abc"s));
  // Without a pair of zeros the list is all the data the platform gives.
  value.SetValueName("List");
  ASSERT_TRUE(value.Refresh());
  const std::string data = RawData("List");
  EXPECT_EQ(data.find(std::string("\0\0", 2)), std::string::npos);
  EXPECT_EQ(value.Value(), RegData(data));
}

TEST_F(RegistryTest, UnhandledTypeRefreshesToEmptyAndIsNotWritten) {
  Write("Blob", REG_SZ, "x"s);
  {
    unique_hkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_SET_VALUE, key.put()), ERROR_SUCCESS);
    const BYTE bytes[] = {1, 2, 3};
    ASSERT_EQ(RegSetValueExA(key.get(), "Blob", 0, REG_BINARY, bytes, sizeof bytes), ERROR_SUCCESS);
  }
  ASSERT_TRUE(value.Refresh());
  EXPECT_EQ(value.DataType(), static_cast<DWORD>(REG_BINARY));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(value.Value()));
  value.SetValue("ignored"s);
  EXPECT_TRUE(value.Update());
  EXPECT_EQ(RawData("Blob"), "\1\2\3");
}

TEST_F(RegistryTest, MissingKeyAndValueLeaveValueEmptyWithTheirMessages) {
  value.SetValueName("Missing");
  value.SetValue("stale"s);
  EXPECT_FALSE(value.Refresh());
  EXPECT_EQ(value.LastErrorMessage(),
            "CRegValue::Refresh(): Unable to open key: " + CSysMessage::GetMessage(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(value.Value()));

  Write("Present", REG_SZ, "x"s);
  value.SetValueName("Missing");
  value.SetReadOnly(true);
  EXPECT_FALSE(value.Refresh());
  EXPECT_EQ(value.LastErrorMessage(),
            "CRegValue::Refresh(): Unable to query key: " + CSysMessage::GetMessage(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(value.Value()));
}

TEST_F(RegistryTest, UpdateWithoutAChangeWritesNothing) {
  Write("Name", REG_SZ, "first"s);
  ASSERT_TRUE(value.Refresh());
  {
    unique_hkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_SET_VALUE, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(key.get(), "Name"), ERROR_SUCCESS);
  }
  EXPECT_TRUE(value.Update());
  EXPECT_EQ(RawData("Name"), "<no value>");
}

TEST_F(RegistryTest, UpdateKeepsAnEarlierMessageWhenNothingChanged) {
  value.SetValueName("Missing");
  ASSERT_FALSE(value.Refresh());
  EXPECT_FALSE(value.Update());
  EXPECT_FALSE(value.LastErrorMessage().empty());
}

TEST_F(RegistryTest, DeleteRemovesTheValueAndNamesWhatIsMissing) {
  Write("Name", REG_SZ, "x"s);
  EXPECT_TRUE(value.Delete());
  EXPECT_EQ(RawData("Name"), "<no value>");
  EXPECT_FALSE(value.Delete());
  EXPECT_EQ(value.LastErrorMessage(),
            "CRegValue::Delete(): Unable to delete value: " + CSysMessage::GetMessage(ERROR_FILE_NOT_FOUND));
  value.SetSubKey(subKey + "\\Missing");
  EXPECT_FALSE(value.Delete());
  EXPECT_EQ(value.LastErrorMessage(),
            "CRegValue::Delete(): Unable to open key: " + CSysMessage::GetMessage(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryTest, RemoteMachineThatCannotBeReachedIsNamedInTheMessage) {
  value.SetTargetMachine("QUAXNOSUCHMACHINE");
  value.SetValueName("Name");
  EXPECT_FALSE(value.Refresh());
  // Wine answers any machine other than its own with ERROR_BAD_NETPATH at
  // once; Windows asks the network and may answer with an RPC error instead.
  const std::string wineExpectation = "CRegValue::ConnectToRegistry(): Unable to connect to registry: " +
                                      CSysMessage::GetMessage(ERROR_BAD_NETPATH);
  EXPECT_EQ(value.LastErrorMessage(), wineExpectation);
  value.SetValue("x"s);
  EXPECT_FALSE(value.Update());
  EXPECT_EQ(value.LastErrorMessage(), wineExpectation);
}

// ---- Each operation asks for the access it needs -------------------------

TEST_F(RegistryTest, ReadingNeedsOnlyTheRightToQueryValues) {
  Write("Name", REG_SZ, "readable"s);
  Restrict(subKey, KEY_QUERY_VALUE);
  CRegValue reader;
  reader.SetKey(HKEY_CURRENT_USER);
  reader.SetSubKey(subKey);
  reader.SetValueName("Name");
  EXPECT_TRUE(reader.Refresh()) << reader.LastErrorMessage();
  EXPECT_EQ(reader.Value(), RegData("readable"s));
  CAdminRegValue admin;
  admin.SetKey(HKEY_CURRENT_USER);
  admin.SetSubKey(subKey);
  admin.SetValueName("Name");
  EXPECT_TRUE(admin.Refresh());
  EXPECT_EQ(admin.Value(), RegData("readable"s));
}

TEST_F(RegistryTest, WritingAndDeletingAValueNeedOnlyTheRightToSetValues) {
  Write("Old", REG_SZ, "x"s);
  Restrict(subKey, KEY_QUERY_VALUE | KEY_SET_VALUE);
  value.SetValueName("New");
  value.SetValue("written"s);
  EXPECT_TRUE(value.Update()) << value.LastErrorMessage();
  EXPECT_EQ(RawData("New"), "written\0"s);
  value.SetValueName("Old");
  EXPECT_TRUE(value.Delete()) << value.LastErrorMessage();
  EXPECT_EQ(RawData("Old"), "<no value>");
}

TEST_F(RegistryTest, AWriteTheKeyRefusesIsReportedAsBefore) {
  Write("Name", REG_SZ, "kept"s);
  Restrict(subKey, KEY_QUERY_VALUE);
  value.SetValue("refused"s);
  EXPECT_FALSE(value.Update());
  EXPECT_EQ(value.LastErrorMessage(),
            "CRegValue::Update(): Error calling RegCreateKeyEx: " + CSysMessage::GetMessage(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(value.Delete());
  EXPECT_EQ(value.LastErrorMessage(),
            "CRegValue::Delete(): Unable to open key: " + CSysMessage::GetMessage(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RawData("Name"), "kept\0"s);
}

TEST_F(RegistryTest, KeysAreCreatedAndDeletedWithoutFullAccessToTheirParent) {
  Write("Name", REG_SZ, "parent exists"s);
  CRegKey key;
  key.SetKey(HKEY_CURRENT_USER);
  key.SetParentKey(subKey);
  key.SetSubKey("Child");
  ASSERT_TRUE(key.Create());
  Restrict(subKey, KEY_QUERY_VALUE);
  Restrict(subKey + "\\Child", KEY_QUERY_VALUE | DELETE);
  EXPECT_TRUE(key.Exists());
  EXPECT_TRUE(key.Create());  // already there: opened, not refused
  EXPECT_TRUE(key.Delete());
  EXPECT_FALSE(key.Exists());
}

// ---- The administration programs' variant ------------------------------

std::vector<std::pair<std::string, std::string>> g_boxes;
void CollectBox(const char* text, const char* caption) { g_boxes.emplace_back(text, caption); }

class AdminRegistryTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    g_boxes.clear();
    SetMessageBoxSink(&CollectBox);
    admin.SetKey(HKEY_CURRENT_USER);
    admin.SetSubKey(subKey);
  }
  void TearDown() override {
    SetMessageBoxSink(nullptr);
    RegistryTest::TearDown();
  }
  CAdminRegValue admin;
};

TEST_F(AdminRegistryTest, ReadsAndWritesLikeTheLibrary) {
  admin.SetValueName("Name");
  admin.SetValue("admin"s);
  ASSERT_TRUE(admin.Update());
  EXPECT_EQ(RawData("Name"), "admin\0"s);
  ASSERT_TRUE(admin.Refresh());
  EXPECT_EQ(admin.Value(), RegData("admin"s));
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(AdminRegistryTest, UnreadableValueIsEmptyWithoutAnyMessage) {
  admin.SetValueName("Missing");
  EXPECT_FALSE(admin.Refresh());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(admin.Value()));
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(AdminRegistryTest, UpdateFailureIsShownInAMessageBox) {
  admin.SetValueName("Count");
  admin.SetDataType(REG_DWORD);
  admin.SetValue("many"s);
  EXPECT_FALSE(admin.Update());
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].second, "CRegValue");
  EXPECT_EQ(g_boxes[0].first, "Error setting registry value. Error #13: " + CSysMessage::GetMessage(ERROR_INVALID_DATA));

  admin.SetSubKey(std::string(300, 'k'));
  admin.SetValue(std::uint32_t{1});
  EXPECT_FALSE(admin.Update());
  ASSERT_EQ(g_boxes.size(), 2u);
  EXPECT_EQ(g_boxes[1].second, "CRegValue");
  EXPECT_EQ(g_boxes[1].first.rfind("Error calling RegCreateKeyEx. Error #", 0), 0u) << g_boxes[1].first;
}

// ---- CRegKey -------------------------------------------------------------

TEST_F(RegistryTest, KeyIsCreatedFoundAndDeletedBelowItsParent) {
  Write("Name", REG_SZ, "parent exists"s);
  CRegKey key;
  key.SetKey(HKEY_CURRENT_USER);
  key.SetParentKey(subKey);
  key.SetSubKey("Child");
  EXPECT_FALSE(key.Exists());
  ASSERT_TRUE(key.Create());
  EXPECT_TRUE(key.Exists());
  EXPECT_TRUE(key.Delete());
  EXPECT_FALSE(key.Exists());
  EXPECT_FALSE(key.Delete());
}

TEST_F(RegistryTest, KeyWithoutParentAsksForAPathWithALeadingBackslash) {
  CRegKey key;
  key.SetKey(HKEY_CURRENT_USER);
  key.SetSubKey("QUAXTest-NoParent");
  EXPECT_FALSE(key.Create());
  EXPECT_FALSE(key.Exists());
  RegDeleteKeyA(HKEY_CURRENT_USER, "QUAXTest-NoParent");
}

}  // namespace
}  // namespace quax
