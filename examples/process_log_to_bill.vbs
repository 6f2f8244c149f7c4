' From collection to a bill: turns the collectors' daily process log files
' into resource records as quaxlog2rr does, then sums them per user and
' project per day, ready for quaxbill.
'
' Step 1 writes RECORDS from every log file (PREFIX*.txt) of LOGFOLDER and of
' its subfolders (one per machine): one resource record per usage that must
' be billed, with the header PROCESS, the identifiers Machine, User, Project
' ((none) without a project) and Process, and the rate codes CPUSEC, KERNSEC,
' USERSEC, ELAPSSEC (seconds), KBREAD and KBWRITE (kilobytes). Billed are the
' start and interval records of a process, and its end record only when it
' has none (a collector without interval accounting): a start record from
' the process's creation to the collector's look (creation plus elapsed
' seconds), an interval record over its interval, an end record from
' creation to exit. A process is known by machine, process id and creation
' time; a line read twice (a day copied into two folders) is billed once;
' each line is split at its own delimiter (the character after its record
' type letter); a last line without its line end is still being written and
' is not billed.
' Step 2 aggregates RECORDS into BILL with quaxagg.VTXAggregator, dropping
' Machine and Process: one record per user, project and period, which
' quaxbill turns into the bill (quaxbill --period day BILL bill.csv).
'
' What quaxlog2rr does and this script does not: it bills a start record
' written after a collector restart only beyond the usage known before it
' (this script bills it whole); of a process both collectors recorded it
' bills the collector whose records reach later (this script always the
' service's); it bills the in-process collector's usage between its last
' interval record and its end record; it bills one of two records of the
' same process and time that differ (this script both); it checks that start
' and interval records add up to the end record, lists every line it could
' not bill and exits with 4 then; it writes the usage of system accounts as
' EXCLUDED; it takes --from/--to. Use quaxlog2rr for bills; this script
' shows the library at work.
'
' Run:  cscript //nologo examples\process_log_to_bill.vbs LOGFOLDER RECORDS BILL [PREFIX]
' PREFIX: the log file name prefix (default QUAXProcessLog-). RECORDS and
' BILL are replaced when they exist. Exit code 0 on success, 1 otherwise.
Option Explicit
On Error Resume Next

Const HEADER = "PROCESS"
Dim arguments, fso, prefix, logFiles, fileCount, lineCount, skipped
Dim records, recordCount, seen, hasPeriods, hasService
Set arguments = WScript.Arguments
If arguments.Count < 3 Then
  WScript.Echo "Usage: cscript //nologo process_log_to_bill.vbs LOGFOLDER RECORDS BILL [PREFIX]"
  WScript.Quit 1
End If
prefix = "QUAXProcessLog-"
If arguments.Count > 3 Then prefix = arguments(3)
Set fso = CreateObject("Scripting.FileSystemObject")

' ---- Step 1: process log files to resource records ----
' Every usage line once, then two passes: which processes have start or
' interval records, and which the service recorded; then the billing.
Set seen = CreateObject("Scripting.Dictionary")
Set hasPeriods = CreateObject("Scripting.Dictionary")
Set hasService = CreateObject("Scripting.Dictionary")
Set logFiles = CreateObject("Scripting.Dictionary")
Dim folder, subFolder
Set folder = fso.GetFolder(arguments(0))
Check "open the log folder " & arguments(0)
AddLogFiles folder
For Each subFolder In folder.SubFolders
  AddLogFiles subFolder
Next
Check "list the log folder " & arguments(0)
fileCount = logFiles.Count
lineCount = 0
skipped = 0
Dim path
For Each path In logFiles.Keys
  ReadLogFile path
Next

Set records = fso.CreateTextFile(arguments(1), True)
Check "create " & arguments(1)
recordCount = 0
Dim usageLine
For Each usageLine In seen.Keys
  BillLine usageLine, seen(usageLine)
Next
records.Close
Check "write " & arguments(1)
WScript.Echo recordCount & " records from " & lineCount & " usage lines of " & fileCount & " log files (" & _
  skipped & " lines not read)"

' ---- Step 2: sum per user and project per period ----
Dim aggregator, bill, succeeded
bill = fso.GetAbsolutePathName(arguments(2))
If fso.FileExists(bill) Then fso.DeleteFile bill
Check "remove the old " & bill
Set aggregator = CreateObject("quaxagg.VTXAggregator")
Check "create quaxagg.VTXAggregator"
aggregator.WorkFilePath = fso.GetParentFolderName(bill)
aggregator.Initialize
aggregator.InputFileName = fso.GetAbsolutePathName(arguments(1))
aggregator.OutputFileName = bill
aggregator.AddIdentifierToRemove "Machine"
aggregator.AddIdentifierToRemove "Process"
Check "set up the aggregator"
succeeded = aggregator.AggregateFile()
Check "aggregate " & arguments(1)
If Not succeeded Then
  WScript.Echo "Aggregation failed: " & aggregator.LastErrorMessage
  WScript.Quit 1
End If
WScript.Echo aggregator.ResultsMessage
WScript.Quit 0

' Notes the daily log files of a folder.
Sub AddLogFiles(logFolder)
  Dim file
  For Each file In logFolder.Files
    If LCase(Left(file.Name, Len(prefix))) = LCase(prefix) And LCase(Right(file.Name, 4)) = ".txt" Then
      logFiles(file.Path) = True
    End If
  Next
End Sub

' Reads the usage lines of one log: each with the columns of the header
' before it. A line read before is not kept again.
Sub ReadLogFile(logPath)
  Dim stream, text, lines, k, n, line, names, column, fields, usage, key
  Set stream = fso.OpenTextFile(logPath, 1)
  Check "open " & logPath
  text = ""
  If Not stream.AtEndOfStream Then text = stream.ReadAll
  stream.Close
  Check "read " & logPath
  lines = Split(text, vbLf)
  Set column = Nothing
  ' The last piece is empty when the file ends with its line end; else it is
  ' a line still being written.
  For k = 0 To UBound(lines) - 1
    line = lines(k)
    If Right(line, 1) = vbCr Then line = Left(line, Len(line) - 1)
    If Left(line, Len("RecordType")) = "RecordType" Then
      names = Split(line, Mid(line, Len("RecordType") + 1, 1))
      Set column = CreateObject("Scripting.Dictionary")
      For n = 0 To UBound(names)
        column(names(n)) = n
      Next
    ElseIf line <> "" Then
      fields = Empty
      If Not column Is Nothing And Len(line) > 1 Then fields = Split(line, Mid(line, 2, 1))
      If ReadableLine(fields, column) Then
        lineCount = lineCount + 1
        usage = UsageOf(fields, column)
        If Not seen.Exists(line) Then seen.Add line, usage
        key = ProcessKey(usage)
        If usage(0) <> "E" Then hasPeriods(key & "|" & usage(10)) = True
        If usage(10) = "service" Then hasService(key) = True
      Else
        skipped = skipped + 1
      End If
    End If
    Check "read line " & (k + 1) & " of " & logPath
  Next
  If lines(UBound(lines)) <> "" Then skipped = skipped + 1
End Sub

' Whether a line split at its delimiter has the columns of its header, or
' one fewer or more (the other collector's form, which differs in the
' project column).
Function ReadableLine(fields, column)
  ReadableLine = False
  If IsEmpty(fields) Then Exit Function
  If Abs(UBound(fields) + 1 - column.Count) > 1 Then Exit Function
  If UBound(fields) < column("KBytesWritten") Then Exit Function
  ReadableLine = (fields(0) = "S" Or fields(0) = "I" Or fields(0) = "E")
End Function

' What billing needs of a line: type, machine, process id, creation, user,
' project, process name, the period's start and end, the six figures (as an
' array of texts), and which collector wrote it.
Function UsageOf(fields, column)
  Dim project, source
  source = "in-process"
  project = ""
  If UBound(fields) > column("AffinityMask") Then
    source = "service"
    project = fields(UBound(fields))
  End If
  UsageOf = Array(fields(0), Field(fields, column, "MachineName"), Field(fields, column, "ProcessId"), _
    Field(fields, column, "CreateDateTime"), Field(fields, column, "UserName"), project, _
    Field(fields, column, "ProcessName"), Field(fields, column, "IntervalStartDateTime"), _
    Field(fields, column, "IntervalEndDateTime"), Field(fields, column, "ExitDateTime"), source, _
    Array(Field(fields, column, "CPUTimeSecs"), Field(fields, column, "KernelCPUTimeSecs"), _
      Field(fields, column, "UserCPUTimeSecs"), Field(fields, column, "ElapsedTimeSecs"), _
      Field(fields, column, "KBytesRead"), Field(fields, column, "KBytesWritten")))
End Function

Function ProcessKey(usage)
  ProcessKey = usage(1) & "|" & usage(2) & "|" & usage(3)
End Function

' Writes the record of one usage line when the billing rules want it.
Sub BillLine(line, usage)
  Dim key, figures, startTime, endTime, k, anyUsage
  key = ProcessKey(usage)
  figures = usage(11)
  ' Of a process both collectors recorded, the service's records.
  If usage(10) = "in-process" And hasService.Exists(key) Then Exit Sub
  Select Case usage(0)
    Case "S"
      startTime = usage(3)
      endTime = LaterBy(usage(3), figures(3))
    Case "I"
      startTime = usage(7)
      endTime = usage(8)
    Case "E"
      If hasPeriods.Exists(key & "|" & usage(10)) Then Exit Sub
      startTime = usage(3)
      endTime = usage(9)
      If endTime = "-" Then endTime = LaterBy(usage(3), figures(3))
  End Select
  anyUsage = False
  For k = 0 To 5
    If CDbl(Replace(figures(k), ".", Mid(CStr(1.5), 2, 1))) <> 0 Then anyUsage = True
  Next
  If Not anyUsage Then Exit Sub
  If usage(5) = "" Then usage(5) = "(none)"
  records.WriteLine HEADER & "," & Left(startTime, 8) & "," & Left(endTime, 8) & "," & Mid(startTime, 10, 8) & "," & _
    Mid(endTime, 10, 8) & ",,4," & Pair("Machine", usage(1)) & "," & Pair("User", usage(4)) & "," & _
    Pair("Project", usage(5)) & "," & Pair("Process", usage(6)) & ",6," & _
    "CPUSEC," & figures(0) & ",KERNSEC," & figures(1) & ",USERSEC," & figures(2) & ",ELAPSSEC," & figures(3) & _
    ",KBREAD," & figures(4) & ",KBWRITE," & figures(5)
  Check "write a record"
  recordCount = recordCount + 1
End Sub

' A log date-time ("YYYYMMDD HH:MM:SS.mmm") plus elapsed seconds (as the
' log writes them), to the millisecond, as a log date-time.
Function LaterBy(logTime, seconds)
  Dim whole, places, milliseconds, moment
  whole = seconds
  places = "000"
  If InStr(seconds, ".") > 0 Then
    whole = Left(seconds, InStr(seconds, ".") - 1)
    places = Left(Mid(seconds, InStr(seconds, ".") + 1) & "000", 3)
  End If
  milliseconds = CLng(Right(logTime, 3)) + CLng(places)
  moment = DateSerial(CInt(Left(logTime, 4)), CInt(Mid(logTime, 5, 2)), CInt(Mid(logTime, 7, 2))) + _
    TimeSerial(CInt(Mid(logTime, 10, 2)), CInt(Mid(logTime, 13, 2)), CInt(Mid(logTime, 16, 2))) + _
    (CDbl(whole) + milliseconds \ 1000) / 86400
  LaterBy = Year(moment) & Two(Month(moment)) & Two(Day(moment)) & " " & Two(Hour(moment)) & ":" & _
    Two(Minute(moment)) & ":" & Two(Second(moment)) & "." & Right("00" & (milliseconds Mod 1000), 3)
End Function

Function Two(number)
  Two = Right("0" & number, 2)
End Function

' The field of the named column; "-" when the line or the file lacks it.
Function Field(fields, column, name)
  Field = "-"
  If column.Exists(name) Then
    If column(name) <= UBound(fields) Then Field = fields(column(name))
  End If
End Function

' An identifier name and value as a resource record holds them: quoted, a
' quote inside the value written as an apostrophe.
Function Pair(name, value)
  Pair = """" & name & """,""" & Replace(value, """", "'") & """"
End Function

' Ends the script when the step before raised an error (the script host
' would otherwise go on silently).
Sub Check(stepName)
  If Err.Number <> 0 Then
    WScript.Echo "Failed to " & stepName & ": " & Err.Description & " (" & Err.Source & ", " & Hex(Err.Number) & ")"
    WScript.Quit 1
  End If
End Sub
