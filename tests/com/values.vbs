' Values between VBScript and ZUL through Zul.Object: scalars, strings, by-reference arguments,
' arrays written back in place or replaced, and a Matrix built from a two-dimensional array.

' Echo hands a value back as ZUL holds it; arguments in parentheses travel by value.
Sub EchoCase(e, label, value, expected, zulType)
  Check label & " as ZUL sees it", e.TypeName((value)), zulType
  Check label & " back", e.Echo((value)), expected
End Sub

Sub Scalars()
  Dim e, d, text, lower, i, wide
  Set e = NewObject("Echo")
  EchoCase e, "Integer", CInt(-32768), CInt(-32768), "INT"
  EchoCase e, "Long", CLng("-2147483648"), CLng("-2147483648"), "LONG"
  EchoCase e, "Single", CSng(1.5), CSng(1.5), "FLOAT"
  EchoCase e, "Double", 0.1 + 0.2, 0.1 + 0.2, "DOUBLE"
  EchoCase e, "Currency", CCur("-12.3456"), CDbl(CCur("-12.3456")), "DOUBLE"
  d = #2024-02-29 13:45:30#
  EchoCase e, "Date", d, CDbl(d), "DOUBLE"
  EchoCase e, "True", True, CByte(1), "BYTE"
  EchoCase e, "False", False, CByte(0), "BYTE"
  EchoCase e, "Byte", CByte(255), CByte(255), "BYTE"

  ' Every character of Windows-1252 from the space up crosses as one byte and comes back.
  For i = 32 To 255
    text = text & Chr(i)
  Next
  EchoCase e, "String", text, text, "STRING"
  Check "empty String back", e.Echo(""), ""
  Dim t
  Set t = NewObject("Text")
  Check "Windows-1252 bytes counted by ZUL", t.Length(text), CLng(224)
  lower = "caf" & Chr(233) & " " & Chr(128) & Chr(156) & " xyz"
  Check "ZUL upper-cases only a to z", t.Upper(lower), "CAF" & Chr(233) & " " & Chr(128) & Chr(156) & " XYZ"

  ' Whole numbers beyond 32 bits: a Long where they fit, else a Double.
  e.Execute "wide = [2147483648 - 1, -9007199254740992, 2147483648 + 1]"
  wide = e.GetVariable("wide")
  Check "64-bit whole numbers", Show(wide) & " " & TypeName(wide(0)) & " " & TypeName(wide(2)), _
    Show(Array(2147483647, -2^53, 2147483649)) & " Long Double"
  e.Execute "wide = 2147483648 + 1"
  Check "64-bit whole number", e.GetVariable("wide"), CDbl(2147483649)
End Sub

Sub ByReference()
  Dim e, a, b, v, r, g
  Set e = NewObject("Echo")
  a = 12
  b = "twelve"
  Check "Swap result", e.Swap(a, b), CLng(0)
  Check "Swap first variable", a, "twelve"
  Check "Swap second variable", b, 12
  e.Swap a, b
  Check "Swap as a statement", a & "/" & b, "12/twelve"

  On Error Resume Next
  e.Swap 1, b
  CheckError "Swap of a value", kFail, "Echo.Swap: argument 1 must be passed by reference (flag 0x0002)."
  On Error GoTo 0
  Check "Swap of a value leaves the variable", b, "twelve"

  ' A variable that ZUL only read keeps its type; a reference into an array is written before the array.
  v = True
  r = e.Echo(v)
  Check "Boolean variable that ZUL did not change", v, True
  g = Array(3, 2, 1)
  Check "Resize with a reference into the array", e.Resize(g, g(0)), CLng(3)
  Check "the resized array", g, Array(3, 2, 1)
  g = Array(3, 2, 1)
  Check "Swap with a reference into the array", e.Swap(g, g(1)), CLng(0)
  Check "the swapped variable", g, 2

  ' A typed array written back becomes an array of VARIANTs, as results do.
  a = Array(1.5, 2.5, 3.5)
  b = 0
  r = e.Swap(a, b)
  Check "typed array written back", Show(b) & " " & TypeName(b(2)), "(1.5, 2.5, 3.5) Double"
End Sub

Sub Arrays()
  Dim e, t, g, h, r
  Set e = NewObject("Echo")
  Dim f(2)
  f(0) = 0
  f(1) = 0
  f(2) = 0
  Check "Fill on a fixed array", e.Fill(f, 7), CLng(3)
  Check "fixed array overwritten in place", f, Array(7, 7, 7)
  Check "fixed array keeps its element type", TypeName(f(1)), "Integer"

  Dim f2(1, 2), i, j
  For i = 0 To 1
    For j = 0 To 2
      f2(i, j) = 0.5
    Next
  Next
  Check "Fill on a fixed 2x3 array", e.Fill(f2, 2.25), CLng(6)
  Check "fixed 2x3 array overwritten", f2(1, 2) + f2(0, 1), 4.5

  g = Array(0, 0, 0, 0)
  Check "Fill on a dynamic array", e.Fill(g, 9), CLng(4)
  Check "dynamic array filled", g, Array(9, 9, 9, 9)

  On Error Resume Next
  r = e.Fill(f, 2.5)
  CheckError "Fill that ZUL cannot store exactly", kFail, "Echo.Fill: 2.5 cannot be stored in a INT array."
  r = e.Resize(f, 5)
  CheckError "Resize on a fixed array", kFail, _
    "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked."
  On Error GoTo 0
  Check "refused Resize leaves the fixed array", f, Array(7, 7, 7)

  g = Array(1, 2, 3)
  Check "Resize on a dynamic array", e.Resize(g, 5), CLng(3)
  Check "dynamic array replaced", g, Array(1, 2, 3, 0, 0)
  h = Array("a", "b")
  Check "Resize a string array", e.Resize(h, 3), CLng(2)
  Check "string array replaced", h, Array("a", "b", "")
  Check "Fill the replaced string array", e.Fill(h, "z"), CLng(3)
  Check "string array filled", h, Array("z", "z", "z")

  ' Array(1, 100000) holds an Integer and a Long; the first element sets the type.
  On Error Resume Next
  r = e.TypeName(Array(1, 100000))
  CheckError "Long that does not fit the Integer array", kFail, "Element (1) of the array of variants in argument 1 is " & _
    "VT_I4, which does not convert exactly to the array's element type VT_I2."
  On Error GoTo 0
  Check "Integer that fits the Long array", e.TypeName(Array(100000, 1)), "LONG[2]"

  Set t = NewObject("Text")
  Check "string array from ZUL", t.Split("a,,b", ","), Array("a", "", "b")
  Check "string array to ZUL", t.Join(Array("x", "y"), "+"), "x+y"
End Sub

' A client's a(2 rows, 3 columns) reaches ZUL as its transpose: 3 rows, 2 columns.
Sub Matrices()
  Dim m, t, i, j, r
  Dim a(1, 2)
  For i = 0 To 1
    For j = 0 To 2
      a(i, j) = i * 10 + j + 0.5
    Next
  Next
  Set m = CreateObject("Zul.Object")
  m.Init "Matrix", a
  Check "Rows", m.Rows, CLng(3)
  Check "Cols", m.Cols, CLng(2)
  Check "Shape()", m.Shape(), Array(3, 2)
  Check "Total()", m.Total(), CDbl(39)
  t = m.Transpose()
  Check "Transpose() declared 3 by 2", UBound(t, 1) & "x" & UBound(t, 2), "2x1"
  Check "Transpose() holds the client's transpose", Show(t), "(0.5, 10.5; 1.5, 11.5; 2.5, 12.5)"
  Check "Transpose() elements", TypeName(t(2, 1)), "Double"
  Check "Data returns the client's array", m.Data, a
  Check "constructor argument unchanged", a(1, 2), 12.5

  Dim b(1, 1)
  b(0, 0) = 1
  b(0, 1) = 2
  b(1, 0) = 3
  b(1, 1) = 4
  m.Data = b
  Check "Data set", m.Data, b
  Check "Total() after Data set", m.Total(), CDbl(10)
  On Error Resume Next
  m.Rows = 4
  CheckError "read-only property set", kFail, "Matrix.Rows is read-only."
  On Error GoTo 0
End Sub

On Error Resume Next
Scalars
Stopped "Scalars"
ByReference
Stopped "ByReference"
Arrays
Stopped "Arrays"
Matrices
Stopped "Matrices"
WScript.Echo passed & " passed, " & failed & " failed"
