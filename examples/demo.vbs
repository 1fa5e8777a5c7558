' What the control knows about this Windows.
Dim z, drive
Set z = CreateObject("ZorvaneLib.Zorvane")
WScript.Echo "Platform:     " & z.WindowsPlatform
WScript.Echo "Version:      " & z.WindowsMajorVersion & "." & z.WindowsMinorVersion & " build " & z.WindowsBuildNumber
WScript.Echo "Service pack: " & z.WindowsCSDVersion
WScript.Echo "Product key:  " & z.WindowsRegKey
WScript.Echo "Memory:       " & z.GetFreeMemory & " KB free of " & z.GetTotalMemory & " KB"
WScript.Echo "Addresses:    " & z.GetAvailableVirtualMemory & " KB free of " & z.GetTotalVirtualMemory & " KB"
drive = "C:\"
WScript.Echo "Drive C:      label [" & z.GetDriveLabel(drive) & "], serial " & z.GetDriveSerialNo(drive) & _
             ", file system " & z.GetDriveFileSystem(drive)
WScript.Echo "Windows:      " & z.GetWindowsDir
WScript.Echo "System:       " & z.GetSystemDir
WScript.Echo "Temp:         " & z.GetTempDir
WScript.Echo "Screen:       " & z.ResolutionScreenX & " x " & z.ResolutionScreenY
WScript.Echo "Cursor:       " & z.GetCursorPositionX & ", " & z.GetCursorPositionY
WScript.Echo "Processor:    " & z.GetProcessorType
