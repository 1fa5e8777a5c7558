' System actions from VBScript that leave no trace outside the test prefix.
Option Explicit
Dim z, fso, folder, x, y
Set z = CreateObject("ZorvaneLib.Zorvane")
Set fso = CreateObject("Scripting.FileSystemObject")

Sub Check(ok, what)
    If ok Then WScript.Echo "ok " & what Else WScript.Echo "FAIL " & what
End Sub

Check z.AddToStartup("ZvScript", "C:\Program Files\App\app.exe") = True, "AddToStartup gives True"
Check z.DeleteAtStartup("ZvScript") = True, "DeleteAtStartup gives True"
Check z.DeleteAtStartup("ZvScript") = False, "deleting again gives False"

folder = fso.GetSpecialFolder(2) & "\zv script\A\B\"
z.MakePath folder & "file.txt"
Check fso.FolderExists(folder), "MakePath created " & folder
Check Not fso.FolderExists(folder & "file.txt"), "and no folder for the file name"
fso.DeleteFolder fso.GetSpecialFolder(2) & "\zv script", True

x = 200: y = "150"
z.SetCursorPosition x, y
Check z.GetCursorPositionX = "200" And z.GetCursorPositionY = "150", "cursor at " & z.GetCursorPositionX & ", " & z.GetCursorPositionY
x = z.GetCursorPositionX: y = z.GetCursorPositionY
z.SetCursorPosition x, y
Check x = "200" And y = "150", "by-reference arguments unchanged"
WScript.Echo "done"
