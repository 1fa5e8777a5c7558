// The version methods and an error as a JScript host sees them.
var z = new ActiveXObject("ZorvaneLib.Zorvane");
function check(ok, what) { WScript.Echo((ok ? "ok " : "FAIL ") + what); }

check(z.WindowsPlatform() === "Windows NT(XP)", "WindowsPlatform " + z.WindowsPlatform());
check(typeof z.WindowsMajorVersion() === "string", "WindowsMajorVersion is a string");
check(/^[0-9]+$/.test(z.WindowsBuildNumber()), "WindowsBuildNumber " + z.WindowsBuildNumber());
check(z.WindowsCSDVersion().indexOf("\u0000") < 0, "WindowsCSDVersion has no NUL");
try {
    z.SetCursorPosition("abc", "1");
    check(false, "letters for X should fail");
} catch (e) {
    check((e.number >>> 0) === 0x800A000D, "error number " + (e.number >>> 0).toString(16));
    check(e.description === "Type mismatch", "description " + e.description);
}
WScript.Echo("done");
