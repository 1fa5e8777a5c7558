' CaptureDesktop from VBScript: the picture comes back and the named file is written.
' usage: cscript capture.vbs <file.bmp> [<file.png>]
Option Explicit
Dim z, p, file
Set z = CreateObject("ZorvaneLib.Zorvane")
file = WScript.Arguments(0)
Set p = z.CaptureDesktop(file)
If p Is Nothing Then WScript.Echo "FAIL no picture" Else WScript.Echo "ok picture " & p.Width & " x " & p.Height
If WScript.Arguments.Count > 1 Then
    Set p = z.CaptureDesktop(WScript.Arguments(1))
    If p Is Nothing Then WScript.Echo "FAIL no picture for the PNG" Else WScript.Echo "ok PNG capture"
End If
Set p = z.CaptureDesktop()
If TypeName(p) = "Picture" Or TypeName(p) = "IPictureDisp" Then WScript.Echo "ok omitted file name" _
    Else WScript.Echo "FAIL omitted file name gives " & TypeName(p)
WScript.Echo "done"
