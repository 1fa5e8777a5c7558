Attribute VB_Name = "ZorvaneModule"
' VBA (Office, 32-bit or 64-bit): late-bound use of the control from a standard module.
' To place the control on a UserForm instead: register the OCX of Office's bitness (64-bit Office needs the
' x86_64 build), then in the VBA editor choose Tools > Additional Controls, tick "Zorvane", and drag it from the
' toolbox onto the form; it shows its face at design time and nothing at run time.
Option Explicit

Public Sub ShowWhatZorvaneKnows()
    Dim z As Object
    Set z = CreateObject("ZorvaneLib.Zorvane")
    Dim drive As String
    drive = "C:\"
    Debug.Print "Platform: "; z.WindowsPlatform
    Debug.Print "Version:  "; z.WindowsMajorVersion; "."; z.WindowsMinorVersion; " build "; z.WindowsBuildNumber
    Debug.Print "Memory:   "; z.GetFreeMemory; " KB free of "; z.GetTotalMemory; " KB"
    Debug.Print "Drive C:  "; z.GetDriveLabel(drive); " "; z.GetDriveSerialNo(drive); " "; z.GetDriveFileSystem(drive)
    Debug.Print "Folders:  "; z.GetWindowsDir; " "; z.GetSystemDir; " "; z.GetTempDir
End Sub

Public Sub KeepFormAtLeast(ByVal frm As Object, ByVal hwnd As Long)
    Dim z As Object, w As Variant, h As Integer
    Set z = CreateObject("ZorvaneLib.Zorvane")
    w = 400: h = 300
    z.StopResizeForm hwnd, w, h
End Sub
