"""Python on Windows: the control through pywin32 (pip install pywin32), late-bound by name.

Run a Python of the bitness of the OCX that is registered: a 64-bit Python finds only the 64-bit OCX's
registration (HKCR seen from a 64-bit process), a 32-bit Python only the 32-bit one.
"""
import win32com.client

z = win32com.client.Dispatch("ZorvaneLib.Zorvane")
print("Platform:", z.WindowsPlatform())
print("Version: %s.%s build %s" % (z.WindowsMajorVersion(), z.WindowsMinorVersion(), z.WindowsBuildNumber()))
print("Memory: %s KB free of %s KB" % (z.GetFreeMemory(), z.GetTotalMemory()))
print("Screen: %s x %s" % (z.ResolutionScreenX(), z.ResolutionScreenY()))
print("Processor type:", z.GetProcessorType())
print("Startup entry written:", z.AddToStartup("ZorvaneDemo", r"C:\Tools\demo.exe"))
print("Startup entry removed:", z.DeleteAtStartup("ZorvaneDemo"))
