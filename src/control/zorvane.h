// The control object Zorvane: its interfaces, its state and one member per method of _Zorvane.
#pragma once

#include "control/ole_object.h"
#include "library/com_object.h"
#include "library/raii.h"

#include <windows.h>
#include <ocidl.h>

#include <string>

namespace zorvane {

class control;
class memory_snapshot;

// What a _Zorvane pointer points at: the laid-out table of functions and the way back to the object.
struct dual_face {
    const void* const* vtable;
    control* owner;
};

class control final : public com_object<control, ISupportErrorInfo, IProvideClassInfo2> {
public:
    static HRESULT create(REFIID iid, void** out) noexcept;

    // What QueryInterface answers, for every interface of the object (its IUnknown is the dual interface's).
    static std::span<const interface_entry<control>> interface_table() noexcept;

    // ISupportErrorInfo (support_error_info.cpp)
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    // IProvideClassInfo2 (provide_class_info.cpp)
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) noexcept override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) noexcept override;

    IUnknown* identity() noexcept { return reinterpret_cast<IUnknown*>(&dual_); }

    // _Zorvane, in interface order; bound to the table of functions in method_table.cpp. Inputs passed by
    // reference are read-only (late-bound calls hand the methods the caller's own values, without copies); the
    // one writable pointer, last, is the result.
    void WinShutDown();
    void WinRestart();
    void GetWindowsDir(BSTR* result);
    void GetSystemDir(BSTR* result);
    void GetTempDir(BSTR* result);
    void CaptureHwnd(const LONG* ControlHwnd, BSTR FileName, IPictureDisp** result);
    void CaptureDesktop(BSTR FileName, IPictureDisp** result);
    void ShowRegionalSettings();
    void ShowHardwareWizard();
    void ShowProgramsDialog();
    void ShowPowerProperties();
    void ShowDateTimeProperties();
    void ShowDisplayProperties();
    void ShowInternetProperties();
    void ShowThemesProperties();
    void ShowGameControllers();
    void ShowKeyboardProperties();
    void ShowModemProperties();
    void ShowMouseProperties();
    void ShowMultimediaProperties();
    void ShowNetworkProperties();
    void ShowPasswordProperties();
    void ShowSoundsProperties();
    void ShowSystemProperties();
    void ShowScanCam();
    void SetCursorPosition(const VARIANT* X, const BSTR* Y);
    void MouseDisable();
    void KeyboardDisable();
    void GetCursorPositionX(BSTR* result);
    void GetCursorPositionY(BSTR* result);
    void WindowsPlatform(BSTR* result);
    void WindowsBuildNumber(BSTR* result);
    void WindowsMajorVersion(BSTR* result);
    void WindowsMinorVersion(BSTR* result);
    void WindowsCSDVersion(BSTR* result);
    void WindowsRegKey(BSTR* result);
    void GetTotalMemory(BSTR* result);
    void GetFreeMemory(BSTR* result);
    void GetTotalVirtualMemory(BSTR* result);
    void GetAvailableVirtualMemory(BSTR* result);
    void ResolutionScreenX(BSTR* result);
    void ResolutionScreenY(BSTR* result);
    void GetProcessorType(BSTR* result);
    void GetDriveLabel(const BSTR* PathDrive, BSTR* result);
    void GetDriveSerialNo(const BSTR* PathDrive, BSTR* result);
    void GetDriveFileSystem(const BSTR* PathDrive, BSTR* result);
    void HideFocus(const LONG* hWnd);
    void ShowFocus(const LONG* hWnd);
    void ShowDesktop();
    void HideDesktop();
    void StopResizeForm(const LONG* FormHwnd, const VARIANT* MinWidth, const SHORT* MinHeight);
    void MakePath(BSTR Path);
    void SetWallpaper(const BSTR* BMPFileName);
    void AddToStartup(BSTR ProgName, BSTR ProgPath, VARIANT* result);
    void DeleteAtStartup(BSTR ProgName, VARIANT* result);
    void ShellWeb(const BSTR* WebAddress);
    void ShellEmail(const BSTR* MailAddress, BSTR SubjectMail);
    void ShowAbout();

private:
    friend com_object;  // deletes it
    control() noexcept;
    ~control();

    // A row of the interface table for an interface of the OLE part.
    template <typename Interface>
    static void* ole_as(control& c) noexcept {
        return static_cast<Interface*>(&c.ole_);
    }

    // Fills OSInfo from the system (version_methods.cpp).
    const OSVERSIONINFOW& refresh_version();
    // A fresh reading through objMemory, created by the first memory method (sysinfo_methods.cpp).
    const MEMORYSTATUSEX& memory_reading();
    // GetVolumeInfo: one query that sets all three drive texts.
    void get_volume_info(const BSTR* path_drive);

    dual_face dual_;

    OSVERSIONINFOW os_info_{};  // OSInfo: the last version record the system gave
    com_ptr<memory_snapshot> memory_;  // objMemory
    std::wstring drive_label_;        // strDriveLabel
    std::wstring drive_serial_;       // strDriveSerial
    std::wstring drive_file_system_;  // strDriveFileSystem
    SYSTEM_INFO sys_info_{};          // SysInfo: the last processor record
    ole_object ole_{*this};           // what containers see: siting, face, persistence
};

// The laid-out table of functions of _Zorvane (method_table.cpp).
const void* const* dual_vtable() noexcept;

} // namespace zorvane
