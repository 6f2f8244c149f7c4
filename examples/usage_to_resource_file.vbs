' Feeds a ScriptingEngine line by line and writes a resource record file:
' one input line per piece of usage, summed per user and project per day.
'
' Input lines (a line starting with # is a comment):
'   YYYYMMDD HH:MM:SS,user,project,CPU seconds,kilobytes read
' for example
'   20240131 08:15:00,alice,payroll,90,2048
' Output: resource records with header USAGE, identifiers USER and PROJECT,
' resources CPUMIN (CPU minutes, 2 decimals) and MBREAD (megabytes, 3
' decimals).
'
' Run:  cscript //nologo examples\usage_to_resource_file.vbs INPUT OUTPUT
' Exit code 0 when every line was added and the file written, 1 otherwise.
Option Explicit
On Error Resume Next

Dim arguments, fso, engine, stream, line, fields, ids, resources, result, lineNumber
Set arguments = WScript.Arguments
If arguments.Count <> 2 Then
  WScript.Echo "Usage: cscript //nologo usage_to_resource_file.vbs INPUT OUTPUT"
  WScript.Quit 1
End If
Set fso = CreateObject("Scripting.FileSystemObject")

Set engine = CreateObject("quaxagg.ScriptingEngine")
Check "create quaxagg.ScriptingEngine"
engine.WorkFilePath = fso.GetParentFolderName(fso.GetAbsolutePathName(arguments(1)))
engine.Initialize
engine.OutputFileName = fso.GetAbsolutePathName(arguments(1))
' Wrong input is reported by line instead of being summed as zero.
engine.DataValidation = True
engine.DefineResourceRecordHeader "USAGE"
engine.DefineIdentifier "USER"
engine.DefineIdentifier "PROJECT"
engine.DefineResource "CPUMIN", 60, 2
engine.DefineResource "MBREAD", 1024, 3
Check "define the record layout"

Set stream = fso.OpenTextFile(arguments(0), 1)
Check "open " & arguments(0)
lineNumber = 0
Do Until stream.AtEndOfStream
  line = stream.ReadLine
  lineNumber = lineNumber + 1
  If Len(line) > 0 And Left(line, 1) <> "#" Then
    fields = Split(line, ",")
    If UBound(fields) <> 4 Then
      WScript.Echo "Line " & lineNumber & " does not have five fields: " & line
      WScript.Quit 1
    End If
    ids = Array(fields(1), fields(2))
    resources = Array(fields(3), fields(4))
    ' The usage happened at one moment: it starts and ends then. Entries
    ' of the same day merge (the engine keys on the start and end days);
    ' the aggregate spans the first to the last moment of that day.
    result = engine.AddEntry(ids, resources, fields(0), fields(0))
    Check "add line " & lineNumber
    If result <> 0 Then
      WScript.Echo "Line " & lineNumber & " was not added: " & engine.LastErrorMessage
      WScript.Quit 1
    End If
  End If
Loop
stream.Close

result = engine.WriteResourceFile(False)
Check "write " & arguments(1)
If result <> 0 Then
  WScript.Echo "Writing failed: " & engine.LastErrorMessage
  WScript.Quit 1
End If
WScript.Echo engine.ResultsMessage
WScript.Quit 0

' Ends the script when the step before raised an error (the script host
' would otherwise go on silently).
Sub Check(stepName)
  If Err.Number <> 0 Then
    WScript.Echo "Failed to " & stepName & ": " & Err.Description & " (" & Err.Source & ", " & Hex(Err.Number) & ")"
    WScript.Quit 1
  End If
End Sub
