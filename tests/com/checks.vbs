' What every VBScript suite shares: VBScript includes no file, so each suite runs with this in front.
Option Explicit

Const kFail = &H80004005
Const kAccessDenied = &H80070005
Const kInvalidArg = &H80070057
Const kUnexpected = &H8000FFFF

Dim passed, failed
passed = 0
failed = 0

Sub Check(label, actual, expected)
  If Same(actual, expected) Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & label & ": got " & Show(actual) & ", expected " & Show(expected)
  End If
End Sub

' The error that the statement before left (under On Error Resume Next), then cleared.
Sub CheckError(label, number, description)
  Dim gotNumber, gotDescription
  gotNumber = Err.Number
  gotDescription = Err.Description
  Err.Clear
  Check label & " (Err.Number)", gotNumber, number
  Check label & " (Err.Description)", gotDescription, description
End Sub

' Same type and value; arrays by shape and values.
Function Same(a, b)
  Same = False
  If IsArray(a) <> IsArray(b) Then Exit Function
  If IsArray(a) Then
    Same = Show(a) = Show(b)
  ElseIf TypeName(a) = TypeName(b) Then
    Same = a = b
  End If
End Function

Function Show(v)
  Dim i, j, text
  If IsObject(v) Then
    Show = "object"
  ElseIf Not IsArray(v) Then
    Show = TypeName(v) & " " & v
  ElseIf Rank(v) = 1 Then
    For i = 0 To UBound(v)
      If i > 0 Then text = text & ", "
      text = text & v(i)
    Next
    Show = "(" & text & ")"
  Else
    For i = 0 To UBound(v, 1)
      If i > 0 Then text = text & "; "
      For j = 0 To UBound(v, 2)
        If j > 0 Then text = text & ", "
        text = text & v(i, j)
      Next
    Next
    Show = "(" & text & ")"
  End If
End Function

Function Rank(v)
  Dim ignored
  On Error Resume Next
  ignored = UBound(v, 2)
  Rank = 2
  If Err.Number <> 0 Then Rank = 1
  Err.Clear
End Function

Function NewObject(className)
  Dim o
  Set o = CreateObject("Zul.Object")
  o.Init className
  Set NewObject = o
End Function

' A group that raises unexpectedly stops and counts as one failure.
Sub Stopped(group)
  If Err.Number <> 0 Then
    failed = failed + 1
    WScript.Echo "FAIL " & group & " stopped: " & Err.Number & " " & Err.Description
    Err.Clear
  End If
End Sub
