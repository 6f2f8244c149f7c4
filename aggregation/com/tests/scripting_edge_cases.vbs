' The edge cases of ScriptingEngine and VTXAggregator as a script meets
' them. Every step is checked: an unexpected error or a wrong answer prints
' FAIL and ends the script with exit code 1 (Wine's script host would
' otherwise carry on silently). Each passed check prints one "ok:" line; the
' test compares the whole output.
'
' Run:  cscript //nologo scripting_edge_cases.vbs SCRATCHFOLDER
Option Explicit
On Error Resume Next

Dim fso, folder, e, a, r, ids, values, list, text
Set fso = CreateObject("Scripting.FileSystemObject")
folder = WScript.Arguments(0) & "\"

' ---- ScriptingEngine ----------------------------------------------------
Set e = CreateObject("quaxagg.ScriptingEngine")
Step "create the engine"
e.WorkFilePath = folder
r = e.Initialize()
Step "Initialize"
Expect "Initialize answers True", r, True

e.DateStart = "20030131 23:59:30"
Step "DateStart as text"
Expect "a date text sets the start date", FormatDate(e.DateStart), "2003-01-31 23:59:30"
e.DateStart = "2003-01-31"
Step "DateStart as a short text"
Expect "a short date text is refused", e.LastErrorMessage, "Unable to convert date string '2003-01-31' to a date."
Expect "the start date stays", FormatDate(e.DateStart), "2003-01-31 23:59:30"

e.DataValidation = True
e.DateEnd = "2003013a 23:59:30"
Step "DateEnd with a letter, validated"
Expect "with validation a letter fails the date", e.LastErrorMessage, "Unable to convert date string '2003013a 23:59:30' to a date."
e.DataValidation = False
e.DateEnd = "2003013a 23:59:30"
ExpectError "without validation a letter raises a type mismatch"

e.Initialize
e.DefineResourceRecordHeader "HDR"
e.DefineIdentifier "USER"
e.DefineResource "CPU"
e.DefineResource "IO", 1, 0
e.OutputFileName = folder & "engine.txt"
Step "define the layout"

e.DataValidation = True
r = e.AddEntry(Array("u1"), Array(1, "x"))
Step "AddEntry with a text among the values"
Expect "a value that is not a number refuses the entry", r, 16
Expect "the refusal names its index", e.LastErrorMessage, "Numeric value not specified at resource value index1"
r = e.AddEntry(Array("u1"), Array(1, 2), "2003-01-31")
Step "AddEntry with a short start date"
Expect "a short start date refuses the entry", r, 16
Expect "the start date is named", e.LastErrorMessage, "Unable to convert Start date string '2003-01-31' to a date."

r = e.AddEntries(0, Empty, Empty)
Step "AddEntries of nothing"
Expect "AddEntries with 0 entries adds nothing", r, 0

Dim idList : ReDim idList(0, 2)
Dim valueList : ReDim valueList(1, 2)
idList(0, 0) = "a" : valueList(0, 0) = 1.5 : valueList(1, 0) = 2.5
idList(0, 1) = "b" : valueList(0, 1) = "x" : valueList(1, 1) = 1
idList(0, 2) = "c" : valueList(0, 2) = 1 : valueList(1, 2) = 1
Dim starts, ends
starts = Array("20240130 10:00:00", "20240130 11:00:00", "20240130 12:00:00")
ends = Array("20240130 10:30:00", "20240130 11:30:00", "20240130 12:30:00")
r = e.AddEntries(3, idList, valueList, starts, ends)
Step "AddEntries with a failing entry"
Expect "AddEntries stops at the failing entry", r, 16
list = e.AggregationList
Step "AggregationList"
Expect "the entry before it stays added", UBound(list, 2), 0
Expect "its value is exact", list(8, 0), 1.5

r = e.AddEntries(1, Array("a", "b"), valueList)
Step "AddEntries with a one-dimensional list"
Expect "a one-dimensional list is refused", r, 16
Expect "the refusal names the list", e.LastErrorMessage, "The identifier value list is not a two-dimensional array of variants."
r = e.AddEntries(4, idList, valueList)
Step "AddEntries beyond the columns"
Expect "too few columns are refused", r, 16
Expect "the refusal counts the columns", e.LastErrorMessage, "The identifier value list holds 3 entries; 4 were requested."

r = e.AddEntry(Array("d"), Array(0.25, 2.5), "20240131 08:00:00", "20240131 09:00:00")
Step "AddEntry with dates"
r = e.WriteResourceFile()
Step "WriteResourceFile"
Expect "the engine writes", r, 0
text = ReadFile(folder & "engine.txt")
Expect "a rate code alone is not rounded, decimal positions 0 round half up", text, _
  "HDR,20240130,20240130,10:00:00,10:30:00,,1,""USER"",""a"",2,CPU,1.500000,IO,3" & vbCrLf & _
  "HDR,20240131,20240131,08:00:00,09:00:00,,1,""USER"",""d"",2,CPU,0.250000,IO,3" & vbCrLf

' ---- VTXAggregator --------------------------------------------------------
Dim lineA, lineB
lineA = "A,20240131,20240131,08:00:00,09:00:00,,2,""USER"",""u"",""HOST"",""h"",2,CPU,1,IO,2"
lineB = "B,20240131,20240131,08:00:00,09:00:00,,1,""USER"",""u"",1,CPU,5"
WriteFile folder & "aba.txt", lineA & vbCrLf & lineA & vbCrLf & lineB & vbCrLf & lineA & vbCrLf

Set a = CreateObject("quaxagg.VTXAggregator")
Step "create the aggregator"
a.WorkFilePath = folder
a.Initialize
a.InputFileName = folder & "aba.txt"
a.OutputFileName = folder & "aba-out.txt"
a.AddIdentifierToRemove "host"
a.AddResourceToRemove "Io"
Step "set up the aggregator"
a.AddIdentifierToRemove "HOST"
ExpectError "a name removed twice raises an error"
r = a.AggregateFile()
Step "AggregateFile over A, B, A"
Expect "the layouts A, B, A aggregate", r, True
Expect "three groups, each appended, removals matched ignoring case", ReadFile(folder & "aba-out.txt"), _
  "A,20240131,20240131,08:00:00,09:00:00,,1,""USER"",""u"",1,CPU,2" & vbCrLf & _
  "B,20240131,20240131,08:00:00,09:00:00,,1,""USER"",""u"",1,CPU,5" & vbCrLf & _
  "A,20240131,20240131,08:00:00,09:00:00,,1,""USER"",""u"",1,CPU,1" & vbCrLf

a.InputFileName = folder & "missing.txt"
r = a.AggregateFile()
Step "AggregateFile of a missing file"
Expect "a missing input fails", r, False
Expect "the input is named", Left(a.LastErrorMessage, Len("Unable to open input file '" & folder & "missing.txt': ")), _
  "Unable to open input file '" & folder & "missing.txt': "
r = a.DataValidation
Expect "after DataValidation the engine's message shows", a.LastErrorMessage, ""

WriteFile folder & "empty.txt", ""
a.InputFileName = folder & "empty.txt"
r = a.AggregateFile()
Step "AggregateFile of an empty file"
Expect "an empty input succeeds", r, True

a.Initialize
a.AddIdentifierToRemove "USER"
a.AddIdentifierToRemove "HOST"
a.InputFileName = folder & "aba.txt"
r = a.AggregateFile()
Step "AggregateFile removing every identifier"
Expect "a record without identifiers fails", r, False
Expect "and says so", a.LastErrorMessage, "You are attempting to write out a record with no identifiers"

WriteFile folder & "broken.txt", lineB & vbCrLf & "B,20240131,broken" & vbCrLf
a.Initialize
a.InputFileName = folder & "broken.txt"
r = a.AggregateFile()
ExpectError "an unreadable line raises the reader's error"

WScript.Echo "done"
WScript.Quit 0

' ---- Checks ---------------------------------------------------------------
Sub Step(name)
  If Err.Number <> 0 Then
    WScript.Echo "FAIL: " & name & ": " & Err.Description & " (" & Hex(Err.Number) & ")"
    WScript.Quit 1
  End If
End Sub

Sub Expect(name, actual, expected)
  If Err.Number <> 0 Then
    WScript.Echo "FAIL: " & name & ": " & Err.Description
    WScript.Quit 1
  End If
  If CStr(actual) <> CStr(expected) Then
    WScript.Echo "FAIL: " & name & ": got [" & actual & "], expected [" & expected & "]"
    WScript.Quit 1
  End If
  WScript.Echo "ok: " & name
End Sub

Sub ExpectError(name)
  If Err.Number = 0 Then
    WScript.Echo "FAIL: " & name & ": no error"
    WScript.Quit 1
  End If
  WScript.Echo "ok: " & name & " [" & Err.Source & ": " & Err.Description & "]"
  Err.Clear
End Sub

Function FormatDate(value)
  FormatDate = Year(value) & "-" & Right("0" & Month(value), 2) & "-" & Right("0" & Day(value), 2) & " " & _
    Right("0" & Hour(value), 2) & ":" & Right("0" & Minute(value), 2) & ":" & Right("0" & Second(value), 2)
End Function

Function ReadFile(path)
  Dim stream
  ReadFile = ""
  If Not fso.FileExists(path) Then Exit Function
  Set stream = fso.OpenTextFile(path, 1)
  If Not stream.AtEndOfStream Then ReadFile = stream.ReadAll
  stream.Close
End Function

Sub WriteFile(path, content)
  Dim stream
  Set stream = fso.CreateTextFile(path, True)
  stream.Write content
  stream.Close
End Sub
