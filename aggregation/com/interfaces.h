// The interfaces, enums and GUIDs of the type library, as widl generates
// them from quaxagg.idl.
#pragma once

#include <windows.h>
// winbase.h defines an empty Yield() macro (a 16-bit leftover) that would
// erase the member CWin32Process::Yield.
#undef Yield

#include "quaxagg.h"
