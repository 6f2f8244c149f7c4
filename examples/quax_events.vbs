' Lists the events of the QUAX event source (written by the collectors and
' by every aggregation run) of the last day, newest first.
'
' Run:  cscript //nologo examples\quax_events.vbs [MACHINE]
' MACHINE: whose Application log to read (default: this machine).
' Exit code 0 when the log was read, 1 otherwise.
Option Explicit
On Error Resume Next

Const ALL_CATEGORIES = -1
Dim log, events, count, succeeded, k, record, strings, text, n, typeName
Set log = CreateObject("quaxagg.CQuaxEventLog")
Check "create quaxagg.CQuaxEventLog"
If WScript.Arguments.Count > 0 Then log.MachineName = WScript.Arguments(0)

' Events written yesterday or today (the scan stops at the first event of
' an earlier day).
succeeded = log.ReadAllEvents(ALL_CATEGORIES, True, Now - 1, events, count)
Check "read the event log"
If Not succeeded Then
  WScript.Echo "Reading the event log failed: " & log.LastErrorMessage
  WScript.Quit 1
End If

WScript.Echo count & " QUAX events since " & FormatDateTime(Date - 1, 2)
' Each event is an array of its fields: RecordNumber, TimeGenerated,
' TimeWritten, EventID, EventType, NumStrings, EventCategory, StringList.
For k = 1 To count
  record = events(k)
  Select Case record(4)
    Case 1: typeName = "Error"
    Case 2: typeName = "Warning"
    Case 4: typeName = "Information"
    Case Else: typeName = "Type " & record(4)
  End Select
  strings = record(7)
  text = ""
  For n = 1 To record(5)
    text = text & " " & strings(n)
  Next
  WScript.Echo record(1) & "  " & typeName & " " & record(3) & " (category " & record(6) & "):" & text
Next
WScript.Quit 0

' Ends the script when the step before raised an error (the script host
' would otherwise go on silently).
Sub Check(stepName)
  If Err.Number <> 0 Then
    WScript.Echo "Failed to " & stepName & ": " & Err.Description & " (" & Err.Source & ", " & Hex(Err.Number) & ")"
    WScript.Quit 1
  End If
End Sub
