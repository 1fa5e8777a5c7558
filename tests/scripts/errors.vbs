' Failures reach a script as Err.Number and Err.Description; DISPID_ABOUTBOX and hidden names resolve.
Option Explicit
Dim z, n, text
Set z = CreateObject("ZorvaneLib.Zorvane")

Sub Check(ok, what)
    If ok Then WScript.Echo "ok " & what Else WScript.Echo "FAIL " & what
End Sub

On Error Resume Next
' A method this version does not carry yet fails with E_NOTIMPL and names itself.
text = z.GetTotalMemory
n = Err.Number
Check n = &H80004001, "GetTotalMemory raises E_NOTIMPL (" & Hex(n) & ")"
Check InStr(Err.Description, "GetTotalMemory") = 1, "Err.Description names the method: " & Err.Description
Err.Clear

' Too many arguments.
text = z.WindowsPlatform(1)
Check Err.Number <> 0, "an extra argument is refused (" & Hex(Err.Number) & ")"
Err.Clear

' An unknown name.
z.NoSuchMethod
Check Err.Number = 438, "an unknown method is error 438 (" & Err.Number & ")"
Err.Clear
WScript.Echo "done"
