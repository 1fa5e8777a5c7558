// JScript: what the control knows, and a capture of the screen to a PNG file in the temp folder.
var z = new ActiveXObject("ZorvaneLib.Zorvane");
WScript.Echo("Windows " + z.WindowsMajorVersion() + "." + z.WindowsMinorVersion() + " build " + z.WindowsBuildNumber());
WScript.Echo("Free memory: " + z.GetFreeMemory() + " KB of " + z.GetTotalMemory() + " KB");
var drive = "C:\\";
WScript.Echo("C: serial " + z.GetDriveSerialNo(drive) + ", file system " + z.GetDriveFileSystem(drive));
WScript.Echo("Screen " + z.ResolutionScreenX() + " x " + z.ResolutionScreenY());
var file = z.GetTempDir() + "zorvane-demo.png";
var picture = z.CaptureDesktop(file);
WScript.Echo("Captured " + picture.Width + " x " + picture.Height + " (HIMETRIC) to " + file);
