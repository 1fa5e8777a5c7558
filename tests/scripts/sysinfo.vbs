' Every system query from VBScript: prints what the control answers and checks its shape.
Option Explicit
Dim z, re, d, text
Set z = CreateObject("ZorvaneLib.Zorvane")
Set re = New RegExp

Sub Check(ok, what)
    If ok Then WScript.Echo "ok " & what Else WScript.Echo "FAIL " & what
End Sub

Function Shaped(value, pattern)
    re.Pattern = pattern
    Shaped = re.Test(value)
End Function

WScript.Echo "WindowsRegKey = [" & z.WindowsRegKey & "]"
Check VarType(z.WindowsRegKey) = vbString, "WindowsRegKey is a String"

' Memory in whole kilobytes, grouped with the locale's separator.
Sub Grouped(name, text)
    Check Shaped(text, "^[0-9]{1,3}([^0-9][0-9]{3})*$"), name & " = " & text
End Sub
Grouped "GetTotalMemory", z.GetTotalMemory
Grouped "GetFreeMemory", z.GetFreeMemory
Grouped "GetTotalVirtualMemory", z.GetTotalVirtualMemory
Grouped "GetAvailableVirtualMemory", z.GetAvailableVirtualMemory
Check Len(z.GetTotalMemory) >= 5, "total memory is at least 10,000 KB"

' Volumes: the variable passed by reference comes back unchanged.
d = "C:\"
text = z.GetDriveSerialNo(d)
Check Shaped(text, "^[0-9A-F]{4}-[0-9A-F]{4}$"), "GetDriveSerialNo = " & text
Check d = "C:\", "PathDrive unchanged: " & d
text = z.GetDriveFileSystem(d)
Check Shaped(text, "^\(.*\)$"), "GetDriveFileSystem = " & text
WScript.Echo "GetDriveLabel = [" & z.GetDriveLabel(d) & "]"
d = "Q:\nowhere\"
Check z.GetDriveLabel(d) = Space(14), "a failed query gives 14 spaces for the label"
Check z.GetDriveFileSystem(d) = Space(32), "and 32 spaces for the file system"
Check z.GetDriveSerialNo(d) = "", "and no serial"

' Folders as the system gives them.
text = z.GetWindowsDir
Check Len(text) > 2 And Right(text, 1) <> "\", "GetWindowsDir = " & text
Check InStr(1, z.GetSystemDir, text, vbTextCompare) = 1, "GetSystemDir = " & z.GetSystemDir
Check Right(z.GetTempDir, 1) = "\", "GetTempDir = " & z.GetTempDir

' Numbers without grouping.
Check Shaped(z.ResolutionScreenX, "^[0-9]+$"), "ResolutionScreenX = " & z.ResolutionScreenX
Check Shaped(z.ResolutionScreenY, "^[0-9]+$"), "ResolutionScreenY = " & z.ResolutionScreenY
Check Shaped(z.GetProcessorType, "^[0-9]+$"), "GetProcessorType = " & z.GetProcessorType
Check Shaped(z.GetCursorPositionX, "^-?[0-9]+$"), "GetCursorPositionX = " & z.GetCursorPositionX
Check Shaped(z.GetCursorPositionY, "^-?[0-9]+$"), "GetCursorPositionY = " & z.GetCursorPositionY
WScript.Echo "done"
