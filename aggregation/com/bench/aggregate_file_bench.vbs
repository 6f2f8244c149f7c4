' Times VTXAggregator.AggregateFile called from a script: prints the seconds
' of the call alone (the script host's start and the object's creation are
' not in it).
'   cscript //nologo aggregate_file_bench.vbs INPUT OUTPUT WORKFOLDER
Option Explicit
On Error Resume Next
Dim aggregator, started, succeeded
Set aggregator = CreateObject("quaxagg.VTXAggregator")
aggregator.WorkFilePath = WScript.Arguments(2)
aggregator.Initialize
aggregator.InputFileName = WScript.Arguments(0)
aggregator.OutputFileName = WScript.Arguments(1)
If Err.Number <> 0 Then
  WScript.Echo "setup failed: " & Err.Description
  WScript.Quit 1
End If
started = Timer
succeeded = aggregator.AggregateFile()
If Err.Number <> 0 Or Not succeeded Then
  WScript.Echo "AggregateFile failed: " & Err.Description & aggregator.LastErrorMessage
  WScript.Quit 1
End If
WScript.Echo "seconds " & (Timer - started)
WScript.Quit 0
