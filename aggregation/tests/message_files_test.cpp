#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "diagnostics.h"
#include "test_support.h"
#include "unique_handle.h"

namespace quax {
namespace {

// The text the event viewer shows: the message of the identifier from the
// file, with the event's insertion strings.
std::string FormatFromFile(const char* fileName, DWORD id, const char* insertion) {
  const std::string path = test::BinaryDirectory() + "\\" + fileName;
  unique_module file(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!file) return "<cannot load " + path + ">";
  const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(insertion)};
  char text[512];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, file.get(), id,
                                      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text,
                                      reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
  if (length == 0) return "<no message " + std::to_string(id) + ": error " + std::to_string(GetLastError()) + ">";
  return std::string(text, length);
}

TEST(MessageFiles, EachEventShowsItsInsertionString) {
  for (const DWORD id : {kEventIdInformation, kEventIdWarning, kEventIdError}) {
    EXPECT_EQ(FormatFromFile("QuaxEventMsgs.dll", id, "QUAX: run ended"), "QUAX: run ended\r\n") << std::hex << id;
  }
  EXPECT_EQ(FormatFromFile("QuaxEventMsgs.dll", 0x60000002, "x").rfind("<no message", 0), 0u);
}

TEST(MessageFiles, CategoriesHaveTheirNames) {
  EXPECT_EQ(FormatFromFile("QuaxCategoryMsgs.dll", 1, ""), "Administration\r\n");
  EXPECT_EQ(FormatFromFile("QuaxCategoryMsgs.dll", 2, ""), "Processing\r\n");
  EXPECT_EQ(FormatFromFile("QuaxCategoryMsgs.dll", 3, ""), "Reporting\r\n");
  EXPECT_EQ(FormatFromFile("QuaxCategoryMsgs.dll", kCollectorCategory, ""), "Collector\r\n");
}

}  // namespace
}  // namespace quax
