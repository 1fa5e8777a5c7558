' Variables passed to by-reference parameters (String*, Long*, Integer*) reach the method.
Option Explicit
Dim z, d, h, w, mh
Set z = CreateObject("ZorvaneLib.Zorvane")

Sub Check(ok, what)
    If ok Then WScript.Echo "ok " & what Else WScript.Echo "FAIL " & what
End Sub

' Error 13 (Type mismatch) would mean the variable never reached the method.
Sub Reaches(what)
    Check Err.Number <> 13 And Err.Number <> &H800A000D And Err.Number <> &H80020005, what & " (Err " & Hex(Err.Number) & " " & Err.Description & ")"
    Err.Clear
End Sub

On Error Resume Next
d = "C:\"
z.GetDriveLabel d
Reaches "GetDriveLabel(d)"
Check d = "C:\", "PathDrive comes back unchanged"
z.GetDriveLabel "C:\"
Reaches "GetDriveLabel with a literal"
h = 0
z.HideFocus h
Reaches "HideFocus(h)"
z.ShowFocus h
Reaches "ShowFocus(h)"
w = 100 : mh = 50
z.StopResizeForm h, w, mh
Reaches "StopResizeForm(h, w, mh)"
z.GetDriveSerialNo d
Reaches "GetDriveSerialNo(d)"
WScript.Echo "done"
