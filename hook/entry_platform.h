// What the library hands the collector from its platform. The shipped
// library uses the real platform; the test build of the library links a
// version that observes events, shortens the log writer's retry pause and
// can hold the worker at the start reference's hand-over.
#pragma once

#include "process_logger.h"

namespace quax {

// Prepares the platform at attach; the result replaces the log writer's
// clock and pause (null: the real ones).
const LogWriterPlatform* EntryWriterPlatform() noexcept;

// Called on the worker just before and just after it starts the thread that
// drops the start reference, which may unload the library. The test build
// holds the worker at these points so that an unload arrives there.
void BeforeStartReferenceHandover() noexcept;
void AfterStartReferenceHandover() noexcept;

}  // namespace quax
