' A VBScript client of Zul.Object: objects of the reference bridge, driven late-bound.
'
' Once, from an administrator's prompt, register the server with the 64-bit regsvr32 (the package's bin\):
'   C:\Windows\System32\regsvr32.exe C:\zul\bin\zul_automation.dll
' Then run the script with the 64-bit cscript; ZUL_BIN_DIR names the bridge's directory, since the library
' finds no bridge beside cscript.exe:
'   set ZUL_BIN_DIR=C:\zul\bin\reference
'   C:\Windows\System32\cscript.exe //nologo client.vbs
Option Explicit

Dim a(1, 2), m, t, parts, i, shown
a(0, 0) = 1 : a(0, 1) = 2 : a(0, 2) = 3
a(1, 0) = 4 : a(1, 1) = 5 : a(1, 2) = 6

' One Zul.Object is one ZUL object: Init names its class, then the constructor's arguments.
Set m = CreateObject("Zul.Object")
m.Init "Matrix", a
' The bridge sees the array declared (2, 3) with its dimensions turned: 3 rows, 2 columns.
WScript.Echo "Matrix: " & m.Rows & " rows, " & m.Cols & " columns, total " & m.Total()

Set t = CreateObject("Zul.Object")
t.Init "Text"
parts = t.Split("red,green,blue", ",")
For i = 0 To UBound(parts)
  shown = shown & " [" & parts(i) & "]"
Next
WScript.Echo "Split:" & shown & ", " & (UBound(parts) + 1) & " parts"

' Commands run in the object's ZUL process; their output arrives through the Output member.
m.Execute "x = 6 * 7"
m.Execute "print, 'x is', x"
WScript.Echo "Output: " & Replace(m.Output, vbCrLf, "")
WScript.Echo "x = " & m.GetVariable("x")

' A failing call raises a script error whose description is the library's or the bridge's text.
On Error Resume Next
m.Invert
WScript.Echo "Invert: error " & Hex(Err.Number) & ": " & Err.Description
Err.Clear
On Error Goto 0
