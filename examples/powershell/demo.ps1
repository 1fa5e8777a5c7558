# PowerShell: the control through New-Object -ComObject (use the PowerShell of the OCX's bitness).
$z = New-Object -ComObject ZorvaneLib.Zorvane
"Windows {0}.{1} build {2}" -f $z.WindowsMajorVersion(), $z.WindowsMinorVersion(), $z.WindowsBuildNumber()
"Memory: {0} KB free of {1} KB" -f $z.GetFreeMemory(), $z.GetTotalMemory()
"Temp folder: {0}" -f $z.GetTempDir()
"Cursor at {0}, {1}" -f $z.GetCursorPositionX(), $z.GetCursorPositionY()
$picture = $z.CaptureDesktop((Join-Path $env:TEMP 'zorvane.png'))
[System.Runtime.InteropServices.Marshal]::ReleaseComObject($z) | Out-Null
