#include "entry_platform.h"

namespace quax {

const LogWriterPlatform* EntryWriterPlatform() noexcept { return nullptr; }

void BeforeStartReferenceHandover() noexcept {}

void AfterStartReferenceHandover() noexcept {}

}  // namespace quax
