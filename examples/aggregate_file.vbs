' Aggregates a resource record file: records with the same header,
' identifier values and days are summed into one, and the sums are written
' to OUTPUT (replaced when it exists). Identifiers named on the command line
' after OUTPUT are dropped from every record before summing (for example
' HOST to sum a user's usage over all machines).
'
' Run:  cscript //nologo examples\aggregate_file.vbs INPUT OUTPUT [IDENTIFIER ...]
' Exit code 0 when the whole file was aggregated, 1 otherwise.
Option Explicit
On Error Resume Next

Dim arguments, fso, aggregator, inputFile, outputFile, k, succeeded
Set arguments = WScript.Arguments
If arguments.Count < 2 Then
  WScript.Echo "Usage: cscript //nologo aggregate_file.vbs INPUT OUTPUT [IDENTIFIER ...]"
  WScript.Quit 1
End If
Set fso = CreateObject("Scripting.FileSystemObject")
inputFile = fso.GetAbsolutePathName(arguments(0))
outputFile = fso.GetAbsolutePathName(arguments(1))

Set aggregator = CreateObject("quaxagg.VTXAggregator")
Check "create quaxagg.VTXAggregator"
' The aggregator appends to its output: start from an empty file.
If fso.FileExists(outputFile) Then fso.DeleteFile outputFile
Check "remove the old " & outputFile

' Work files (for more keys than memory holds) go beside the output.
aggregator.WorkFilePath = fso.GetParentFolderName(outputFile)
aggregator.Initialize
aggregator.InputFileName = inputFile
aggregator.OutputFileName = outputFile
Check "set up the aggregator"
For k = 2 To arguments.Count - 1
  aggregator.AddIdentifierToRemove arguments(k)
  Check "drop identifier " & arguments(k)
Next

succeeded = aggregator.AggregateFile()
Check "aggregate " & inputFile
If Not succeeded Then
  WScript.Echo "Aggregation failed: " & aggregator.LastErrorMessage
  WScript.Quit 1
End If
WScript.Echo aggregator.ResultsMessage
WScript.Quit 0

' Ends the script when the step before raised an error (the script host
' would otherwise go on silently).
Sub Check(stepName)
  If Err.Number <> 0 Then
    WScript.Echo "Failed to " & stepName & ": " & Err.Description & " (" & Err.Source & ", " & Hex(Err.Number) & ")"
    WScript.Quit 1
  End If
End Sub
