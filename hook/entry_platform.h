// What the library entry point hands the collector at attach. The shipped
// library uses the real platform; the test build of the library links a
// version that observes events and shortens the log writer's retry pause.
#pragma once

#include "process_logger.h"

namespace quax {

// Prepares the platform at attach; the result replaces the log writer's
// clock and pause (null: the real ones).
const LogWriterPlatform* EntryWriterPlatform() noexcept;

}  // namespace quax
