' Prints "created" when the control can be created and called from this host.
On Error Resume Next
Set z = CreateObject("ZorvaneLib.Zorvane")
v = z.WindowsMajorVersion
If Err.Number = 0 Then WScript.Echo "created" Else WScript.Echo "error " & Hex(Err.Number) & " " & Err.Description
