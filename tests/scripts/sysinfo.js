// The system queries from JScript: by-reference drive paths and the texts' shapes.
var z = new ActiveXObject("ZorvaneLib.Zorvane");
function check(ok, what) { WScript.Echo((ok ? "ok " : "FAIL ") + what); }
var d = "C:\\";
check(/^[0-9A-F]{4}-[0-9A-F]{4}$/.test(z.GetDriveSerialNo(d)), "GetDriveSerialNo " + z.GetDriveSerialNo(d));
check(/^\(.*\)$/.test(z.GetDriveFileSystem(d)), "GetDriveFileSystem " + z.GetDriveFileSystem(d));
check(/\\$/.test(z.GetTempDir()), "GetTempDir " + z.GetTempDir());
check(/^[0-9]+$/.test(z.ResolutionScreenX()), "ResolutionScreenX " + z.ResolutionScreenX());
check(/^-?[0-9]+$/.test(z.GetCursorPositionY()), "GetCursorPositionY " + z.GetCursorPositionY());
check(/^[0-9]+$/.test(z.GetProcessorType()), "GetProcessorType " + z.GetProcessorType());
check(/^[0-9]/.test(z.GetFreeMemory()), "GetFreeMemory " + z.GetFreeMemory());
check(typeof z.WindowsRegKey() === "string", "WindowsRegKey is a string");
WScript.Echo("done");
