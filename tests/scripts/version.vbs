' The version methods as a VBScript host calls them, late bound through the ProgID.
Option Explicit
Dim z, platform, major
Set z = CreateObject("ZorvaneLib.Zorvane")

Sub Check(ok, what)
    If ok Then WScript.Echo "ok " & what Else WScript.Echo "FAIL " & what
End Sub

platform = z.WindowsPlatform
Check platform = "Windows NT(XP)", "WindowsPlatform is " & platform
major = z.WindowsMajorVersion
Check IsNumeric(major) And TypeName(major) = "String", "WindowsMajorVersion is the text " & major
Check IsNumeric(z.WindowsMinorVersion), "WindowsMinorVersion " & z.WindowsMinorVersion
Check CLng(z.WindowsBuildNumber) > 0, "WindowsBuildNumber " & z.WindowsBuildNumber
Check InStr(z.WindowsCSDVersion, Chr(0)) = 0, "WindowsCSDVersion '" & z.WindowsCSDVersion & "'"
Check Trim(z.WindowsCSDVersion) = z.WindowsCSDVersion, "WindowsCSDVersion is trimmed"
WScript.Echo "done"
