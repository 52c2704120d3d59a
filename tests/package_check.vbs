' Zul.Object registered from the unpacked package drives the packaged bridge, found through ZUL_BIN_DIR; the
' DLLs carry the package's version.
Sub Packaged()
  Dim environment, fso, bin, name
  Set environment = CreateObject("WScript.Shell").Environment("PROCESS")
  Set fso = CreateObject("Scripting.FileSystemObject")
  bin = fso.GetParentFolderName(environment("ZUL_BIN_DIR"))
  For Each name In Array("zul_pal_mscom.dll", "zul_automation.dll", "reference\zul_qel.dll")
    Check name & " version", fso.GetFileVersion(bin & "\" & name), environment("ZUL_PACKAGE_VERSION") & ".0"
  Next
  Check "Text.Upper", NewObject("Text").Upper("installed"), "INSTALLED"
End Sub

On Error Resume Next
Packaged : Stopped "Packaged"
Finish
