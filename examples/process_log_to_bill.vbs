' From collection to a bill: turns the collector's daily process log files
' into resource records, then sums them per user and project per day.
'
' Step 1 writes RECORDS: one resource record per end record (E) of every
' process log file in LOGFOLDER, with header QUAXPROC, the identifiers
' MachineName, UserName, ProjectName and ProcessName, and the resources
' CPUSECS (CPU seconds), ELAPSED (elapsed seconds), KBREAD and KBWRITE
' (kilobytes read and written). Each record is dated on the day the process
' ended (from 00:00:00 to its exit time; a process still running when the
' collector stopped is dated on the day of its log file).
' Step 2 aggregates RECORDS into BILL with quaxagg.VTXAggregator, dropping
' MachineName and ProcessName: one record per user, project and day.
'
' Run:  cscript //nologo examples\process_log_to_bill.vbs LOGFOLDER RECORDS BILL [PREFIX]
' PREFIX: the log file name prefix (default QUAXProcessLog-). RECORDS and
' BILL are replaced when they exist. Exit code 0 on success, 1 otherwise.
Option Explicit
On Error Resume Next

Const HEADER = "QUAXPROC"
Dim arguments, fso, prefix, folder, file, records, recordCount, fileCount
Set arguments = WScript.Arguments
If arguments.Count < 3 Then
  WScript.Echo "Usage: cscript //nologo process_log_to_bill.vbs LOGFOLDER RECORDS BILL [PREFIX]"
  WScript.Quit 1
End If
prefix = "QUAXProcessLog-"
If arguments.Count > 3 Then prefix = arguments(3)
Set fso = CreateObject("Scripting.FileSystemObject")

' ---- Step 1: process log files to resource records ----
Set folder = fso.GetFolder(arguments(0))
Check "open the log folder " & arguments(0)
Set records = fso.CreateTextFile(arguments(1), True)
Check "create " & arguments(1)
recordCount = 0
fileCount = 0
For Each file In folder.Files
  If LCase(Left(file.Name, Len(prefix))) = LCase(prefix) Then
    recordCount = recordCount + ConvertLogFile(file, Mid(file.Name, Len(prefix) + 1, 8))
    fileCount = fileCount + 1
  End If
Next
records.Close
Check "write " & arguments(1)
WScript.Echo recordCount & " end records from " & fileCount & " log files"

' ---- Step 2: sum per user and project per day ----
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
aggregator.AddIdentifierToRemove "MachineName"
aggregator.AddIdentifierToRemove "ProcessName"
Check "set up the aggregator"
succeeded = aggregator.AggregateFile()
Check "aggregate " & arguments(1)
If Not succeeded Then
  WScript.Echo "Aggregation failed: " & aggregator.LastErrorMessage
  WScript.Quit 1
End If
WScript.Echo aggregator.ResultsMessage
WScript.Quit 0

' Writes one resource record per end record of a log file; returns how many.
' The header line names the columns; the character after its first name is
' the field delimiter.
Function ConvertLogFile(logFile, fileDay)
  Dim stream, line, delimiter, names, fields, column, k, written
  Dim machine, user, project, process, ended, day, time
  written = 0
  Set stream = logFile.OpenAsTextStream(1)
  Check "open " & logFile.Path
  If stream.AtEndOfStream Then
    ConvertLogFile = 0
    Exit Function
  End If
  line = stream.ReadLine
  delimiter = Mid(line, Len("RecordType") + 1, 1)
  names = Split(line, delimiter)
  Set column = CreateObject("Scripting.Dictionary")
  For k = 0 To UBound(names)
    column(names(k)) = k
  Next
  Do Until stream.AtEndOfStream
    line = stream.ReadLine
    Check "read " & logFile.Path
    fields = Split(line, delimiter)
    If UBound(fields) >= column("AffinityMask") And fields(0) = "E" Then
      machine = Field(fields, column, "MachineName")
      user = Field(fields, column, "UserName")
      ' Lines of the in-process collector have no project column.
      project = Field(fields, column, "QUAXUProjectName")
      process = Field(fields, column, "ProcessName")
      ended = Field(fields, column, "ExitDateTime")
      If ended = "-" Then
        day = fileDay
        time = "23:59:59"
      Else
        day = Left(ended, 8)
        time = Mid(ended, 10, 8)
      End If
      records.WriteLine HEADER & "," & day & "," & day & ",00:00:00," & time & ",,4," & _
        Pair("MachineName", machine) & "," & Pair("UserName", user) & "," & _
        Pair("ProjectName", project) & "," & Pair("ProcessName", process) & ",4," & _
        "CPUSECS," & Field(fields, column, "CPUTimeSecs") & "," & _
        "ELAPSED," & Field(fields, column, "ElapsedTimeSecs") & "," & _
        "KBREAD," & Field(fields, column, "KBytesRead") & "," & _
        "KBWRITE," & Field(fields, column, "KBytesWritten")
      Check "write a record"
      written = written + 1
    End If
  Loop
  stream.Close
  ConvertLogFile = written
End Function

' The field of the named column; "-" when the line or the file lacks it.
Function Field(fields, column, name)
  Field = "-"
  If column.Exists(name) Then
    If column(name) <= UBound(fields) Then Field = fields(column(name))
  End If
End Function

' An identifier name and value as a resource record holds them: quoted, the
' value without quotes of its own.
Function Pair(name, value)
  Pair = """" & name & """,""" & Replace(value, """", "") & """"
End Function

' Ends the script when the step before raised an error (the script host
' would otherwise go on silently).
Sub Check(stepName)
  If Err.Number <> 0 Then
    WScript.Echo "Failed to " & stepName & ": " & Err.Description & " (" & Err.Source & ", " & Hex(Err.Number) & ")"
    WScript.Quit 1
  End If
End Sub
