// Events read from the event log as script clients receive them: ListRet is
// a one-dimensional array of VARIANT indexed from 1 (the RecordNumber of the
// first match), each element an array of VARIANT indexed from 0 holding the
// record's fields in their order: RecordNumber (VT_I4), TimeGenerated and
// TimeWritten (VT_DATE), EventID (VT_I4), EventType, NumStrings and
// EventCategory (VT_I2), StringList (an array of BSTR indexed from 1, empty
// when the event has no strings). Script hosts cannot read arrays of records,
// so the fields travel as an array of values. No events: an empty array.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <vector>

#include "win32/win_event_log.h"

namespace quax::com {

inline constexpr LONG kEventRecordFieldCount = 8;

// Replaces *out (cleared first) with the list.
void SetEventRecordList(VARIANT* out, const std::vector<WinEventLogRecord>& records);

}  // namespace quax::com
