' The typed classes of the reference bridge by ProgID: members bound from the type library.

Const kBadParamCount = 450  ' what the script engine makes of DISP_E_BADPARAMCOUNT

' The client's a(1, 2) holding 1 to 6, row by row.
Function OneToSix()
  Dim v(1, 2), i
  For i = 0 To 5
    v(i \ 3, i Mod 3) = i + 1
  Next
  OneToSix = v
End Function

Sub Members()
  Dim t, m, p, e, a, b
  Set t = CreateObject("Zul.Text")
  Set e = CreateObject("Zul.Echo")
  Set m = CreateObject("Zul.Matrix")
  m.Create OneToSix()
  Check "TypeName is the class", TypeName(t) & TypeName(e) & TypeName(m), "TextEchoMatrix"
  Check "scalars in and out", t.Upper("abc") & t.Length("hello") & m.Rows & m.Cols & m.Total(), _
    "ABC53221"
  ' ZUL sees the client's a(1, 2) as 3 rows of 2: [1, 4], [2, 5], [3, 6].
  Check "typed arrays out, in the library's order", e.TypeName(m.Transpose()) & e.TypeName(m.Shape()) & _
    e.TypeName(t.Split("a,,c", ",")), "DOUBLE[2,3]LONG[2]STRING[3]"
  Check "a string array back in", t.Join(t.Split("a,,c", ","), "|"), "a||c"
  Set p = CreateObject("Zul.Matrix")
  p.Create m.Transpose()
  Check "an object argument passes its wrapper", e.TypeName(m) & " " & CreateProduct(m, p).Total(), "OBJREF 261"
  a = 1
  b = "x"
  e.Swap a, b
  Check "by reference, written back", TypeName(a) & " " & a & " " & TypeName(b) & " " & b, "String x Integer 1"
End Sub

Function CreateProduct(m, p)
  Set CreateProduct = CreateObject("Zul.Matrix")
  CreateProduct.Create m.Multiply(p)
End Function

Sub Refusals()
  Dim t, m, e, r, a, v(0, 0)
  Set t = CreateObject("Zul.Text")
  Set e = CreateObject("Zul.Echo")
  Set m = CreateObject("Zul.Matrix")
  On Error Resume Next
  r = t.Upper()
  CheckError "too few arguments", kBadParamCount, "Wrong number of arguments or invalid property assignment"
  r = t.Upper("a", "b")
  CheckError "too many arguments", kBadParamCount, "Wrong number of arguments or invalid property assignment"
  r = e.Swap(a)
  CheckError "a by-reference argument missing", kBadParamCount, "Wrong number of arguments or invalid property assignment"
  r = m.Rows
  CheckError "a member before Create", kFail, "Wrapper " & m.Cookie & " (Matrix) has no object: call ZUL_QEL_CreateObject first."
  v(0, 0) = 1
  m.Create v
  m.Create v
  CheckError "Create twice", kUnexpected, "Create has already been called on this Matrix."
  r = e.TypeName(CreateObject("Scripting.Dictionary"))
  CheckError "a foreign object", kFail, "Object reference must be another ZUL COM wrapper object."
  r = e.TypeName(CreateObject("Scripting.Dictionary"))
  Check "the source of an error", Err.Source, "Zul.Echo"
  Err.Clear
End Sub

' The same classes declared with other result types: the server converts what the library hands out.
Sub Conversions()
  Dim m, t, e, r
  Set m = CreateObject("ZulConversions.Matrix")
  Set t = CreateObject("ZulConversions.Text")
  Set e = CreateObject("Zul.Echo")
  m.Create OneToSix()
  Check "scalars", TypeName(m.Rows) & " " & m.Rows & " " & TypeName(m.Total()) & " " & m.Total() & " " & _
    TypeName(t.Length("hello")), "Double 3 String 21 String"
  r = m.Transpose()
  Check "a typed array as variants, bounds kept", Show(r) & " " & TypeName(r(2, 1)), "(1, 4; 2, 5; 3, 6) Double"
  Check "strings as variants", t.Split("a,,c", ","), Array("a", "", "c")
  Check "longs as doubles", e.TypeName(m.Shape()), "DOUBLE[2]"
End Sub

On Error Resume Next
Conversions : Stopped "Conversions"
Members : Stopped "Members"
Refusals : Stopped "Refusals"
Finish
