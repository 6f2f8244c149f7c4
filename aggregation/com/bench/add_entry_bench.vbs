' Times ScriptingEngine.AddEntry called COUNT times from a script, then
' AddEntries with the same COUNT entries in one call (building the arrays is
' not timed). Prints "addentry SECONDS" and "addentries SECONDS".
'   cscript //nologo add_entry_bench.vbs COUNT WORKFOLDER
Option Explicit
On Error Resume Next
Dim engine, count, k, ids, values, started, result, idList, valueList
count = CLng(WScript.Arguments(0))
Set engine = CreateObject("quaxagg.ScriptingEngine")
engine.WorkFilePath = WScript.Arguments(1)
DefineLayout
If Err.Number <> 0 Then
  WScript.Echo "setup failed: " & Err.Description
  WScript.Quit 1
End If

ids = Array("", "host")
values = Array(1.25, 7)
started = Timer
For k = 0 To count - 1
  ids(0) = "user" & (k Mod 1000)
  result = engine.AddEntry(ids, values, "20240131 08:00:00", "20240131 09:00:00")
  If result <> 0 Then Exit For
Next
If Err.Number <> 0 Or result <> 0 Then
  WScript.Echo "AddEntry failed: " & Err.Description & engine.LastErrorMessage
  WScript.Quit 1
End If
WScript.Echo "addentry " & (Timer - started)

DefineLayout
ReDim idList(1, count - 1)
ReDim valueList(1, count - 1)
Dim starts, ends
ReDim starts(count - 1)
ReDim ends(count - 1)
For k = 0 To count - 1
  idList(0, k) = "user" & (k Mod 1000)
  idList(1, k) = "host"
  valueList(0, k) = 1.25
  valueList(1, k) = 7
  starts(k) = "20240131 08:00:00"
  ends(k) = "20240131 09:00:00"
Next
started = Timer
result = engine.AddEntries(count, idList, valueList, starts, ends)
If Err.Number <> 0 Or result <> 0 Then
  WScript.Echo "AddEntries failed: " & Err.Description & engine.LastErrorMessage
  WScript.Quit 1
End If
WScript.Echo "addentries " & (Timer - started)
WScript.Quit 0

Sub DefineLayout
  engine.Initialize
  engine.DefineResourceRecordHeader "BENCH"
  engine.DefineIdentifier "USER"
  engine.DefineIdentifier "HOST"
  engine.DefineResource "CPU"
  engine.DefineResource "IO"
End Sub
