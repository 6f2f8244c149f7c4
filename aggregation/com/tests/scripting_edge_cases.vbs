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

' ---- Texts a record cannot hold, dates beyond 9999, stale messages ------
e.Initialize
e.DefineResourceRecordHeader "HDR"
e.DefineIdentifier "USER"
e.DefineResource "CPU"
e.OutputFileName = folder & "names.txt"
e.DateStart = "20240131 00:00:00"
e.DateEnd = "20240131 23:59:59"
Step "define the names layout"
' Wine's script host has no ChrW: the names come from a UTF-16 file, one a
' line: M-a-macron-ller, Japanese, Chinese, M-u-umlaut-ller. The test
' prefix's ANSI code page is the Western 1252: it holds u-umlaut (U+00FC),
' not a-macron (U+0101) nor Chinese or Japanese characters.
Dim names, macron, japanese, chinese, umlaut
Set names = fso.OpenTextFile(folder & "names-utf16.txt", 1, False, -1)
macron = names.ReadLine : japanese = names.ReadLine : chinese = names.ReadLine : umlaut = names.ReadLine
names.Close
Step "read the names"
r = e.AddEntry(Array(macron), Array(1))
Expect "a name the code page cannot hold is refused", r, 16
text = "Identifier value 0 holds the character U+0101 (character 2), which the ANSI code page "
Expect "the refusal names the character", Left(e.LastErrorMessage, Len(text)), text
r = e.AddEntry(Array(japanese), Array(1))
Expect "Japanese is refused, not summed as ??", r, 16
r = e.AddEntry(Array(chinese), Array(1))
Expect "Chinese is refused", r, 16
r = e.AddEntry(Array("??"), Array(1)) + e.AddEntry(Array("Maller"), Array(2)) + _
  e.AddEntry(Array(umlaut), Array(4))
Expect "texts the code page holds are added", r, 0
r = e.AddEntry(Array("mallory"",""Dept"",""X"), Array(8))
Expect "a value with quotes is refused", r, 16
Expect "and the quote named", e.LastErrorMessage, _
  "The identifier value 'mallory"",""Dept"",""X' holds a double quote, which a resource record cannot hold; the entry was not added."
e.DefineResourceRecordHeader "H,X"
Expect "a header with a comma is refused when defined", e.LastErrorMessage, _
  "The record header 'H,X' holds a comma, which a resource record cannot hold."
r = e.AddEntry(Array("u"), Array(1))
Expect "and refuses every entry while it is defined", r, 16
e.DefineResourceRecordHeader "HDR"
e.DateStart = "99991232 00:00:00"
Expect "a day past 9999 is no date", e.LastErrorMessage, "Unable to convert date string '99991232 00:00:00' to a date."
r = e.AddEntry(Array("u"), Array(1), "99991232 00:00:00")
Expect "nor an entry's start", r, 16
e.DataValidation = True
r = e.AddEntry(Array("u", "v"), Array(1))
Expect "after the facade's refusal the engine's shows", e.LastErrorMessage, _
  "Expected 1 identifiers; received 2 identifiers"
e.DataValidation = False
r = e.WriteResourceFile()
Step "write the names"
Expect "distinct texts stay distinct, in the code page's bytes", ReadFile(folder & "names.txt"), _
  "HDR,20240131,20240131,00:00:00,23:59:59,,1,""USER"",""??"",1,CPU,1" & vbCrLf & _
  "HDR,20240131,20240131,00:00:00,23:59:59,,1,""USER"",""Maller"",1,CPU,2" & vbCrLf & _
  "HDR,20240131,20240131,00:00:00,23:59:59,,1,""USER"",""" & umlaut & """,1,CPU,4" & vbCrLf

' ---- A full disk, a retry, a name cut short -------------------------------
e.Initialize
e.DefineResourceRecordHeader "HDR"
e.DefineIdentifier "USER"
e.DefineResource "CPU"
r = e.AddEntry(Array("u"), Array(1), "20240131 08:00:00", "20240131 09:00:00") + _
  e.AddEntry(Array("v"), Array(2), "20240131 08:00:00", "20240131 09:00:00")
e.OutputFileName = "Z:\dev\full"
r = e.WriteResourceFile()
Step "write to a full disk"
Expect "a full disk fails the write", r, 16
Expect "and says so", e.LastErrorMessage, "Unable to write file 'Z:\dev\full': Error #61: Disk full"
Expect "nothing counts as written", InStr(e.ResultsMessage, vbCrLf & "Output Records: 0" & vbCrLf) > 0, True
e.OutputFileName = folder & "retry.txt"
r = e.WriteResourceFile()
Step "write again"
Expect "the aggregates stay for a retry", r, 0
Expect "and reach the good file", ReadFile(folder & "retry.txt"), _
  "HDR,20240131,20240131,08:00:00,09:00:00,,1,""USER"",""u"",1,CPU,1" & vbCrLf & _
  "HDR,20240131,20240131,08:00:00,09:00:00,,1,""USER"",""v"",1,CPU,2" & vbCrLf
Expect "counted as written", InStr(e.ResultsMessage, vbCrLf & "Output Records: 2" & vbCrLf) > 0, True
e.OutputFileName = folder & "cut" & Chr(0) & "short.txt"
ExpectError "a file name holding a NUL is refused"

a.Initialize
WriteFile folder & "same.txt", lineB & vbCrLf
a.InputFileName = folder & "same.txt"
a.OutputFileName = folder & "SAME.TXT"
r = a.AggregateFile()
Step "AggregateFile into its own input"
Expect "an input that is the output is refused", r, False
Expect "as the same file", a.LastErrorMessage, _
  "Input file '" & folder & "same.txt' and output file '" & folder & "SAME.TXT' are the same file."
Expect "and left as it was", ReadFile(folder & "same.txt"), lineB & vbCrLf

' ---- ExceptionFile --------------------------------------------------------
Dim x
Set x = CreateObject("quaxagg.ExceptionFile")
x.FileName = folder & "no such folder\exceptions.txt"
r = x.FileOpen()
Step "ExceptionFile in a missing folder"
Expect "an exception file that cannot be opened fails", r, False
Expect "with a message that ends without a line end", Right(x.LastErrorMessage, 1) <> vbLf, True
x.FileName = folder & "cut" & Chr(0) & "short.txt"
ExpectError "an exception file name holding a NUL is refused"

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
