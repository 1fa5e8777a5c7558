// The version methods and an error as a JScript host sees them.
var z = new ActiveXObject("ZorvaneLib.Zorvane");
function check(ok, what) { WScript.Echo((ok ? "ok " : "FAIL ") + what); }

check(z.WindowsPlatform() === "Windows NT(XP)", "WindowsPlatform " + z.WindowsPlatform());
check(typeof z.WindowsMajorVersion() === "string", "WindowsMajorVersion is a string");
check(/^[0-9]+$/.test(z.WindowsBuildNumber()), "WindowsBuildNumber " + z.WindowsBuildNumber());
check(z.WindowsCSDVersion().indexOf("\u0000") < 0, "WindowsCSDVersion has no NUL");
try {
    z.ShowAbout();
    check(false, "ShowAbout should fail in this version");
} catch (e) {
    check((e.number >>> 0) === 0x80004001, "error number " + (e.number >>> 0).toString(16));
    check(e.description.indexOf("ShowAbout") === 0, "description " + e.description);
}
WScript.Echo("done");
