' What every VBScript suite shares: VBScript includes no file, so each suite runs with this in front.
Option Explicit

Const kFail = &H80004005
Const kUnexpected = &H8000FFFF

Dim passed, failed
passed = 0
failed = 0

' Same type and value; arrays by shape and values.
Sub Check(label, actual, expected)
  If Show(actual) = Show(expected) Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & label & ": got " & Show(actual) & ", expected " & Show(expected)
  End If
End Sub

' The error that the statement before left (under On Error Resume Next), then cleared.
Sub CheckError(label, number, description)
  Check label, Err.Number & " " & Err.Description, number & " " & description
  Err.Clear
End Sub

Function Show(v)
  Dim i, j, text
  If IsObject(v) Then
    Show = "object"
  ElseIf Not IsArray(v) Then
    Show = TypeName(v) & " " & v
  ElseIf Rank(v) = 1 Then
    For i = 0 To UBound(v)
      text = text & Left(", ", 2 * Sgn(i)) & v(i)
    Next
    Show = "(" & text & ")"
  Else
    For i = 0 To UBound(v, 1)
      For j = 0 To UBound(v, 2)
        If i + j > 0 Then text = text & Mid("; , ", 1 + 2 * Sgn(j), 2)  ' ", " in a row, "; " before the next
        text = text & v(i, j)
      Next
    Next
    Show = "(" & text & ")"
  End If
End Function

Function Rank(v)
  On Error Resume Next
  Rank = 1 + Sgn(UBound(v, 2) + 1)
  If Err.Number <> 0 Then Rank = 1
  Err.Clear
End Function

Function NewObject(className)
  Dim o
  Set o = CreateObject("Zul.Object")
  o.Init className
  Set NewObject = o
End Function

' After a group (under On Error Resume Next): one that raised unexpectedly stopped and counts as one failure.
Sub Stopped(group)
  If Err.Number <> 0 Then Check group & " stopped", Err.Number & " " & Err.Description, ""
  Err.Clear
End Sub

' The end of a suite: every Zul.Object is gone and nothing else keeps the module loaded.
Sub Finish()
  Check "Zul.Object instances and server locks left", CreateObject("Zul.Object").ModuleUsers, CLng(0)
  WScript.Echo passed & " passed, " & failed & " failed"
End Sub
