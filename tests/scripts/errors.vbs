' Failures reach a script as Err.Number and Err.Description; DISPID_ABOUTBOX and hidden names resolve.
Option Explicit
Dim z, n, text
Set z = CreateObject("ZorvaneLib.Zorvane")

Sub Check(ok, what)
    If ok Then WScript.Echo "ok " & what Else WScript.Echo "FAIL " & what
End Sub

On Error Resume Next
' Untrapped conversion errors of SetCursorPosition reach the script with their classic numbers.
Dim x, y
x = 10: y = "abc"
z.SetCursorPosition x, y
Check Err.Number = 13 And Err.Description = "Type mismatch", "letters for Y: " & Err.Number & " " & Err.Description
Err.Clear
x = 1E+20: y = "5"
z.SetCursorPosition x, y
Check Err.Number = 6 And Err.Description = "Overflow", "1E+20 for X: " & Err.Number & " " & Err.Description
Err.Clear
x = "abc": y = "1E+20"
z.SetCursorPosition x, y
Check Err.Number = 6, "Y is converted before X: " & Err.Number
Err.Clear

' A by-reference argument that cannot become a String is a Type mismatch.
text = z.GetDriveLabel(Array(1, 2))
Check Err.Number = 13, "an array for PathDrive is Type mismatch (" & Err.Number & ")"
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
