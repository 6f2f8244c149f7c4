#include "entry_platform.h"

namespace quax {

const LogWriterPlatform* EntryWriterPlatform() noexcept { return nullptr; }

}  // namespace quax
