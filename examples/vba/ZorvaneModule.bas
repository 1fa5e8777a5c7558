Attribute VB_Name = "ZorvaneModule"
' VBA (Office, 32-bit or 64-bit): late-bound use of the control from a standard module.
' To place the control on a UserForm instead: register the OCX of Office's bitness (64-bit Office needs the
' x86_64 build), then in the VBA editor choose Tools > Additional Controls, tick "Zorvane", and drag it from the
' toolbox onto the form; it shows its face at design time and nothing at run time.
Option Explicit

' A UserForm's window: VBA gives UserForms no hWnd property, so it is found by its class ("ThunderDFrame") and
' caption. In 64-bit Office (VBA7) window handles are LongPtr and the declaration must be PtrSafe.
#If VBA7 Then
Private Declare PtrSafe Function FindWindow Lib "user32" Alias "FindWindowA" _
    (ByVal lpClassName As String, ByVal lpWindowName As String) As LongPtr
#Else
Private Declare Function FindWindow Lib "user32" Alias "FindWindowA" _
    (ByVal lpClassName As String, ByVal lpWindowName As String) As Long
#End If

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

' Call from the UserForm, e.g. in UserForm_Activate: KeepFormAtLeast Me
Public Sub KeepFormAtLeast(ByVal frm As Object)
    Dim z As Object, w As Variant, h As Integer, form As Long
    Set z = CreateObject("ZorvaneLib.Zorvane")
    ' Window handles fit in 32 bits on 64-bit Windows too (the system keeps them so for 32-bit programs), so the
    ' LongPtr converts to the Long the method's parameter is. Late-bound (As Object) a LongPtr variable could be
    ' passed as it is; with a reference to the type library (Dim z As ZorvaneLib.Zorvane) the ByRef Long parameter
    ' takes only a Long variable, as here.
    form = CLng(FindWindow("ThunderDFrame", frm.Caption))
    w = 400: h = 300
    z.StopResizeForm form, w, h
End Sub
