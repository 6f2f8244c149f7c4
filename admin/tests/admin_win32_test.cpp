// The Win32 pieces of the administration programs that need no window.
#include <gtest/gtest.h>

#include "registry_store.h"
#include "service_control.h"
#include "shell_components.h"
#include "test_support.h"

namespace quax {
namespace {

TEST(AdminWin32, Placeholder) { SUCCEED(); }

}  // namespace
}  // namespace quax
