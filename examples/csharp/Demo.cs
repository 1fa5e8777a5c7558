// C#: late binding through dynamic (build for the OCX's bitness: x86 or x64).
using System;

static class Demo
{
    // The control lives in a single-threaded apartment, as every ActiveX control does.
    [STAThread]
    static void Main()
    {
        dynamic z = Activator.CreateInstance(Type.GetTypeFromProgID("ZorvaneLib.Zorvane"));
        Console.WriteLine("Windows {0}.{1} build {2}", z.WindowsMajorVersion(), z.WindowsMinorVersion(), z.WindowsBuildNumber());
        Console.WriteLine("Memory: {0} KB free of {1} KB", z.GetFreeMemory(), z.GetTotalMemory());
        Console.WriteLine("System folder: {0}", z.GetSystemDir());
        string drive = @"C:\";
        Console.WriteLine("C: is {0}", z.GetDriveFileSystem(ref drive));
        z.CaptureDesktop(System.IO.Path.Combine(System.IO.Path.GetTempPath(), "zorvane.bmp"));
    }
}
