' Creates quaxagg.TypedEngine by its ProgID and sums three entries of two
' users into the resource record file named by the argument. Wine's script
' host ends a failing script silently with exit code 0, so every step is
' checked and a failure quits with 1 and says which step failed.
'   cscript //nologo typed_engine.vbs OUTPUT
Option Explicit
On Error Resume Next

Dim engine, result
Set engine = CreateObject("quaxagg.TypedEngine")
Check "create quaxagg.TypedEngine"
engine.OutputFileName = WScript.Arguments(0)
engine.DefineResourceRecordHeader "USAGE"
engine.DefineIdentifier "USER"
engine.DefineResource "CPU", 1, 2
Check "define the record layout"
Add "alice", 1.25
Add "alice", 1.5
Add "bob", 2
result = engine.WriteResourceFile(False)
Check "write " & WScript.Arguments(0)
If result <> 0 Then
  WScript.Echo "WriteResourceFile answered " & result & ": " & engine.LastErrorMessage
  WScript.Quit 1
End If
WScript.Quit 0

Sub Add(user, seconds)
  result = engine.AddEntry(Array(user), Array(seconds))
  Check "add an entry of " & user
  If result <> 0 Then
    WScript.Echo "AddEntry answered " & result & ": " & engine.LastErrorMessage
    WScript.Quit 1
  End If
End Sub

Sub Check(stepName)
  If Err.Number <> 0 Then
    WScript.Echo "Failed to " & stepName & ": " & Err.Description & " (" & Hex(Err.Number) & ")"
    WScript.Quit 1
  End If
End Sub
