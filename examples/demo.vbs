' What the control knows about this Windows.
Dim z
Set z = CreateObject("ZorvaneLib.Zorvane")
WScript.Echo "Platform:     " & z.WindowsPlatform
WScript.Echo "Version:      " & z.WindowsMajorVersion & "." & z.WindowsMinorVersion & " build " & z.WindowsBuildNumber
WScript.Echo "Service pack: " & z.WindowsCSDVersion
