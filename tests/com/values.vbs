' Values between VBScript and ZUL through Zul.Object: scalars, text, variables by reference, arrays, a Matrix.

Sub Scalars()
  Dim e, t, c, text, i, wide
  Set e = NewObject("Echo")
  Set t = NewObject("Text")
  ' Each value as ZUL sees it and back; arguments in parentheses travel by value.
  For Each c In Array(Array(CInt(-32768), "INT", CInt(-32768)), Array(CLng(-2147483647), "LONG", CLng(-2147483647)), _
                      Array(CSng(1.5), "FLOAT", CSng(1.5)), Array(0.1 + 0.2, "DOUBLE", 0.1 + 0.2), _
                      Array(CCur("-12.3456"), "DOUBLE", CDbl(CCur("-12.3456"))), Array(True, "BYTE", CByte(1)), _
                      Array(#2024-02-29 13:45:30#, "DOUBLE", CDbl(#2024-02-29 13:45:30#)), Array(CByte(255), "BYTE", CByte(255)))
    Check TypeName(c(0)) & " as ZUL sees it and back", e.TypeName((c(0))) & " " & Show(e.Echo((c(0)))), c(1) & " " & Show(c(2))
  Next
  For i = 32 To 255
    text = text & Chr(i)
  Next
  Check "Windows-1252 text, one byte a character in ZUL", Show(e.Echo(text)) & t.Length(text), Show(text) & "224"
  e.Execute "wide = [2147483648 - 1, -9007199254740992, 2147483648 + 1]"
  wide = e.GetVariable("wide")
  Check "64-bit whole numbers", Show(wide) & " " & TypeName(wide(0)) & " " & TypeName(wide(2)), _
    Show(Array(2147483647, -2^53, 2147483649)) & " Long Double"
End Sub

' What ZUL only read keeps its type, what it changed takes a script's form; array elements before the array.
Sub ByReference()
  Dim e, a, b, v, r, g
  Set e = NewObject("Echo")
  a = 12
  b = "twelve"
  Check "Swap", e.Swap(a, b) & " " & Show(a) & " " & Show(b), "0 String twelve Integer 12"
  On Error Resume Next
  e.Swap 1, b
  CheckError "Swap of a value", kFail, "Echo.Swap: argument 1 must be passed by reference (flag 0x0002)."
  On Error GoTo 0
  v = True
  r = e.Echo(v)
  Check "a Boolean that ZUL only read", v, True
  g = Array(3, 2, 1)
  Check "Resize with a reference into the array", e.Resize(g, g(0)) & " " & Show(g), "3 (3, 2, 1)"
  g = Array(3, 2, 1)
  Check "Swap with a reference into the array", e.Swap(g, g(1)) & " " & Show(g), "0 Integer 2"
  a = Array(1.5, 2.5, 3.5)
  b = 0
  r = e.Swap(a, b)
  Check "a typed array written back", Show(b) & " " & TypeName(b(2)), "(1.5, 2.5, 3.5) Double"
End Sub

Sub Arrays()
  Dim e, g, r, i, j
  Dim f(2), f2(1, 2)
  Set e = NewObject("Echo")
  For i = 0 To 2
    f(i) = 0
    For j = 0 To 1
      f2(j, i) = 0.5
    Next
  Next
  Check "Fill on a fixed array, in place", e.Fill(f, 7) & " " & Show(f) & " " & TypeName(f(1)), "3 (7, 7, 7) Integer"
  Check "Fill on a fixed 2x3 array", e.Fill(f2, 2.25) & " " & (f2(1, 2) + f2(0, 1)), "6 4.5"
  On Error Resume Next
  r = e.Fill(f, 2.5)
  CheckError "Fill that ZUL cannot store exactly", kFail, "Echo.Fill: 2.5 cannot be stored in a INT array."
  r = e.Resize(f, 5)
  CheckError "Resize on a fixed array", kFail, _
    "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked."
  On Error GoTo 0
  Check "refused Resize leaves the fixed array", f, Array(7, 7, 7)
  g = Array(1, 2, 3)
  Check "Resize on a dynamic array", e.Resize(g, 5) & " " & Show(g), "3 (1, 2, 3, 0, 0)"
End Sub

' A client's a(2 rows, 3 columns) reaches ZUL as its transpose: 3 rows, 2 columns.
Sub Matrices()
  Dim m, n, t, r, i, j
  Dim a(1, 2)
  For i = 0 To 1
    For j = 0 To 2
      a(i, j) = i * 10 + j + 0.5
    Next
  Next
  Set m = CreateObject("Zul.Object")
  m.Init "Matrix", a
  Check "Rows, Cols, Shape()", m.Rows & "x" & m.Cols & " " & Show(m.Shape()), "3x2 (3, 2)"
  t = m.Transpose()
  Check "Transpose() is the client's transpose", Show(t) & " " & TypeName(t(2, 1)), _
    "(0.5, 10.5; 1.5, 11.5; 2.5, 12.5) Double"
  Check "Data returns the client's array", m.Data, a
  Set n = CreateObject("Zul.Object")
  n.Init "Matrix", t
  r = m.Multiply(n)
  Check "Multiply by another Zul.Object", UBound(r, 1) & " " & r(0, 0) & " " & r(2, 1), "2 110.5 147.5"
  m.Data = t
  Check "Data set", m.Data, t
End Sub

On Error Resume Next
Scalars : Stopped "Scalars"
ByReference : Stopped "ByReference"
Arrays : Stopped "Arrays"
Matrices : Stopped "Matrices"
Finish
