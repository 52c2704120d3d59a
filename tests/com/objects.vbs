' Zul.Object as an object: members, lifetime, references, processes, commands, output, jobs and errors.

Sub Members()
  Dim e, x, u, r, name
  Set e = NewObject("Echo")
  Set x = NewObject("Echo")
  Check "Cookie, ClassName, VariableName", TypeName(e.Cookie) & (e.Cookie <> x.Cookie) & e.ClassName & x.VariableName, _
    "LongTrueEchoecho2"
  Check "names ignore case", e.ECHO(CLng(5)) + e.echo(CLng(1)) + e.cOOKIE - e.Cookie, CLng(6)
  Set u = CreateObject("Zul.Object")
  On Error Resume Next
  r = u.Echo(1)
  CheckError "a member before Init", &H80070057, "Invalid cookie.  Object has not been created."
  u.Init "Plot"
  CheckError "Init with an unknown class", kFail, "Unknown class 'Plot'; the classes are Matrix, Text, Echo and Worker."
  u.Init "Echo"
  u.Init "Echo"
  CheckError "Init after a failed one, and again", kUnexpected, "Init has already been called on this Zul.Object."
  ' The final Release destroys the object: ZUL forgets its variable.
  name = u.VariableName
  Set u = Nothing
  x.Execute "print, " & name
  CheckError "object gone after the last Release", kFail, "Undefined variable '" & name & "' at column 8."
End Sub

Sub References()
  Dim e, d, calc, r
  Set e = NewObject("Echo")
  Set d = CreateObject("Scripting.Dictionary")
  Set calc = CreateObject("Zul.Object")
  calc.ProcName = "calc"
  calc.Init "Echo"
  Check "ProcName, objects named per process, objects in an array", calc.ProcName & " " & calc.VariableName & " " & _
    calc.TypeName(Array(calc, calc)), "calc echo1 OBJREF[2]"
  On Error Resume Next
  r = e.TypeName(d)
  CheckError "a foreign object", kFail, "Object reference must be another ZUL COM wrapper object."
  r = calc.TypeName(e)
  CheckError "an object of another process", kFail, "Wrapper " & e.Cookie & _
    " belongs to the default ZUL process, not to ZUL process 'calc'."
  calc.ProcName = "other"
  CheckError "ProcName after Init", kUnexpected, "ProcName can be set only before Init."
End Sub

Sub Variables()
  Dim e, x, r
  Set e = NewObject("Echo")
  Set x = NewObject("Echo")
  e.SetVariable "v", Array(1.5, 2.5)
  e.Execute "w = v * 2"
  Check "a variable set by a command", x.GetVariable("W"), Array(3, 5)
  e.Execute "print, 'caf" & Chr(233) & "', w"
  e.Execute "print"
  e.Execute "notify, 'ready', 1"
  Check "Output, blank lines dropped", e.Output, "caf" & Chr(233) & " [3, 5]" & vbCrLf
  Check "Output is read once, by the object that ran the command", e.Output & x.Output, ""
  Check "Notifications", e.Notifications, "ready" & vbTab & "1" & vbCrLf
  On Error Resume Next
  r = e.GetVariable(e.VariableName)
  CheckError "an object's variable", kFail, "Object references must be in-only (constant).  They cannot be returned."
  e.Execute "z = 1 / 0"
  CheckError "a command that fails", kFail, "Division by zero at column 7."
End Sub

' A background job holds its process: calls are refused until it ends; releasing its object aborts it.
Sub Jobs()
  Dim w, x, r, start
  Set w = CreateObject("Zul.Object")
  w.ProcName = "jobs"
  w.Init "Worker"
  Set x = CreateObject("Zul.Object")
  x.ProcName = "jobs"
  x.Init "Echo"
  w.Start 5000
  On Error Resume Next
  r = x.Echo(1)
  CheckError "busy object", &H80070005, "ZUL process 'jobs' is busy with a background job of worker1."
  w.Abort
  CheckError "Abort of the job", 0, ""
  On Error GoTo 0
  start = Timer  ' Wine has no WScript.Sleep; the notice comes once the process is free
  Do  ' after any progress notices
    r = r & w.Notifications
  Loop While InStr(r, "aborted") = 0 And Timer - start < 5
  Check "the job's notice", Mid(r, InStr(r, "aborted")) & x.Echo(2), "aborted" & vbTab & "worker1" & vbCrLf & "2"
  w.Start 5000
  Set w = Nothing
  Check "the job of a released object ended", x.Echo(3), 3
End Sub

On Error Resume Next
Members : Stopped "Members"
References : Stopped "References"
Variables : Stopped "Variables"
Jobs : Stopped "Jobs"
Finish
