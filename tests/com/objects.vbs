' Zul.Object as an object: its reserved members and lifetime, object references between objects,
' process variables and command strings with their output, and the errors a script sees.

Function NewMatrix(rows, cols, offset)
  Dim m, i, j, a
  ReDim a(rows - 1, cols - 1)  ' Wine's ReDim needs the variable declared first
  For i = 0 To rows - 1
    For j = 0 To cols - 1
      a(i, j) = i * 10 + j + offset
    Next
  Next
  Set m = CreateObject("Zul.Object")
  m.Init "Matrix", a
  Set NewMatrix = m
End Function

' Wine's WScript.Sleep is missing: polls until the object's process takes a call again.
Function SecondsUntilFree(o, limit)
  Dim start
  start = Timer
  On Error Resume Next
  Do
    Err.Clear
    o.Execute ""
  Loop While Err.Number <> 0 And Timer - start < limit
  SecondsUntilFree = Timer - start
  Err.Clear
End Function

' A job's notice comes on its own thread, after its process is free again.
Function NoticeOf(o, limit)
  Dim start
  start = Timer
  Do
    NoticeOf = o.Notifications
  Loop While NoticeOf = "" And Timer - start < limit
End Function

Sub Members()
  Dim e, x, u, r, name
  Set e = NewObject("Echo")
  Set x = NewObject("Echo")
  Check "Cookie is a Long", TypeName(e.Cookie), "Long"
  Check "each object its own Cookie", e.Cookie <> x.Cookie And e.Cookie > 0 And x.Cookie > 0, True
  Check "ClassName", e.ClassName, "Echo"
  Check "VariableName", x.VariableName, "echo2"
  Check "names ignore case", e.ECHO(CLng(5)) + e.echo(CLng(1)), CLng(6)
  Check "Cookie ignores case", e.cOOKIE, e.Cookie

  Set u = CreateObject("Zul.Object")
  Check "Cookie before Init", u.Cookie, CLng(0)
  On Error Resume Next
  r = u.Echo(1)
  CheckError "a member before Init", kInvalidArg, "Invalid cookie.  Object has not been created."
  u.Init "Plot"
  CheckError "Init with an unknown class", kFail, _
    "Unknown class 'Plot'; the classes are Matrix, Text, Echo and Worker."
  u.Init "Matrix", 5
  CheckError "Init with a bad constructor argument", kFail, "Matrix: argument 1 must be a two-dimensional " & _
    "numeric array with at least one row and one column, not INT."
  On Error GoTo 0
  u.Init "Echo"
  Check "Init after failed ones", u.ClassName, "Echo"
  On Error Resume Next
  u.Init "Echo"
  CheckError "second Init", kUnexpected, "Init has already been called on this Zul.Object."
  On Error GoTo 0

  ' The final Release destroys the object: ZUL forgets its variable.
  name = u.VariableName
  u.Execute "print, " & name
  Check "object alive in ZUL", Left(u.Output, 8), "<object "
  Set u = Nothing
  On Error Resume Next
  x.Execute "print, " & name
  CheckError "object gone after the last Release", kFail, "Undefined variable '" & name & "' at column 8."
  On Error GoTo 0
End Sub

Sub References()
  Dim a, b, c, t, d, u, r, calc
  Set a = NewMatrix(2, 3, 0)
  Set b = NewMatrix(2, 2, 1)
  ' ZUL multiplies the transposes, so the client sees b x a.
  Check "Multiply by another Zul.Object", Show(a.Multiply(b)), "(20, 23, 26; 120, 143, 166)"
  Check "the argument variable still holds its object", b.ClassName, "Matrix"

  Set d = CreateObject("Scripting.Dictionary")
  Set t = NewObject("Text")
  Set u = CreateObject("Zul.Object")
  On Error Resume Next
  r = a.Multiply(d)
  CheckError "Multiply by a foreign object", kFail, "Object reference must be another ZUL COM wrapper object."
  r = a.Multiply(u)
  CheckError "Multiply by an object without Init", kFail, "Object reference must be another ZUL COM wrapper object."
  r = a.Multiply(t)
  CheckError "Multiply by a Text", kFail, "Matrix.Multiply: argument 1 is " & t.VariableName & ", a Text, not a Matrix."
  On Error GoTo 0

  Set calc = CreateObject("Zul.Object")
  calc.ProcName = "calc"
  calc.Init "Echo"
  Check "ProcName", calc.ProcName, "calc"
  Check "objects counted per process", calc.VariableName, "echo1"
  On Error Resume Next
  calc.ProcName = "other"
  CheckError "ProcName after Init", kUnexpected, "ProcName can be set only before Init."
  r = calc.TypeName(b)
  CheckError "object of another process", kFail, "Wrapper " & b.Cookie & _
    " belongs to the default ZUL process, not to ZUL process 'calc'."
  On Error GoTo 0
  Set c = NewObject("Echo")
  Check "objects in an array of variants", c.TypeName(Array(a, b, t)), "OBJREF[3]"
End Sub

Sub Variables()
  Dim e, x, calc, w, r
  Set e = NewObject("Echo")
  Set x = NewObject("Echo")
  e.SetVariable "n", 5
  Check "GetVariable", e.GetVariable("n"), 5
  e.Execute "n2 = n * 3 + 0.5"
  Check "variable set by a command", x.GetVariable("N2"), 15.5
  e.SetVariable "v", Array(1.5, 2.5)
  e.Execute "w = v * 2"
  Check "array variable", x.GetVariable("w"), Array(3, 5)

  e.Execute "print, n2, 'caf" & Chr(233) & "', w"
  e.Execute "print"
  e.Execute "print, [1, 2] + 1"
  Check "Output of print, blank lines dropped", e.Output, _
    "15.5 caf" & Chr(233) & " [3, 5]" & vbCrLf & "[2, 3]" & vbCrLf
  Check "Output is read once", e.Output, ""
  Check "Output goes to the calling object", x.Output, ""

  Set calc = CreateObject("Zul.Object")
  calc.ProcName = "calc"
  calc.Init "Echo"
  On Error Resume Next
  r = calc.GetVariable("n")
  CheckError "processes keep their own variables", kFail, "Undefined variable 'n' in ZUL process 'calc'."
  r = e.GetVariable(e.VariableName)
  CheckError "an object's variable", kFail, "Object references must be in-only (constant).  They cannot be returned."
  e.SetVariable e.VariableName, 1
  CheckError "assigning an object's variable", kFail, "Variable '" & e.VariableName & _
    "' holds the object of a wrapper and cannot be assigned."
  e.Execute "x = 1 +"
  CheckError "command syntax error", kFail, "Syntax error at column 8: expected an expression."
  e.Execute "z = n / 0"
  CheckError "command evaluation error", kFail, "Division by zero at column 7."
  On Error GoTo 0

  Set w = NewObject("Worker")
  Check "Run", w.Run(30), CLng(30)
  Check "Run reports progress", w.Output, "worker1: 10 of 30 ms" & vbCrLf & "worker1: 20 of 30 ms" & vbCrLf & _
    "worker1: 30 of 30 ms" & vbCrLf
End Sub

Sub Errors()
  Dim e, w, x, r, seconds
  Set e = NewObject("Echo")
  On Error Resume Next
  r = e.Invert()
  CheckError "unknown method", kFail, "Echo has no method 'Invert'."
  e.Invert 1, 2
  CheckError "unknown method as a statement", kFail, "Echo has no method 'Invert'."
  r = e.Echo(1, 2)
  CheckError "wrong argument count", kFail, "Echo.Echo takes 1 argument, not 2."
  e.Abort
  CheckError "Abort with nothing running", kFail, "No ZUL activity to abort in the default ZUL process."
  On Error GoTo 0

  Set w = CreateObject("Zul.Object")
  w.ProcName = "jobs"
  w.Init "Worker"
  Set x = CreateObject("Zul.Object")
  x.ProcName = "jobs"
  x.Init "Echo"
  On Error Resume Next
  r = w.Run(-5)
  CheckError "bridge error", kFail, _
    "Worker.Run: argument 1 must be a whole number of milliseconds from 0 to 3600000, not -5."
  On Error GoTo 0

  ' A background job holds its process: calls from the script are refused until it ends.
  w.Start 5000
  On Error Resume Next
  r = x.Echo(1)
  CheckError "busy object", kAccessDenied, "ZUL process 'jobs' is busy with a background job of worker1."
  w.Start 10
  CheckError "second job", kAccessDenied, "ZUL process 'jobs' is busy with a background job of worker1."
  w.Abort
  CheckError "Abort of the job", CLng(0), ""
  On Error GoTo 0
  seconds = SecondsUntilFree(x, 20)
  Check "the aborted job ends early", seconds < 2.5, True
  Check "free again", x.Echo(2), 2
  Check "the job's notice", NoticeOf(w, 5), "aborted" & vbTab & "worker1" & vbCrLf

  ' Releasing a busy object aborts its job before it returns.
  w.Start 5000
  Set w = Nothing
  On Error Resume Next
  r = x.Echo(3)
  CheckError "job of a released object ended", CLng(0), ""
  On Error GoTo 0
End Sub

On Error Resume Next
Members
Stopped "Members"
References
Stopped "References"
Variables
Stopped "Variables"
Errors
Stopped "Errors"
WScript.Echo passed & " passed, " & failed & " failed"
