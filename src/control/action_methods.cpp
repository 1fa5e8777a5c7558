// Applets, shutdown and restart, the Run key, shell requests, wallpaper, folders and the cursor.
#include "actions/actions.h"
#include "control/bstr.h"
#include "control/zorvane.h"

namespace zorvane {
namespace {

constexpr WORD show = SW_SHOW;
constexpr WORD minimized = SW_SHOWMINIMIZED;

// Every applet line starts the system's rundll32, whatever the line names first.
void applet(const wchar_t* command_line, WORD show_window = show) {
    actions::start_system_program(L"rundll32.exe", command_line, show_window);
}

void set_bool(VARIANT* result, bool value) noexcept {
    VariantInit(result);
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

} // namespace

// clang-format off
void control::ShowRegionalSettings()     { applet(L"rundll32.exe shell32.dll,Control_RunDLL intl.cpl,,0"); }
void control::ShowHardwareWizard()       { applet(L"rundll32.exe shell32.dll,Control_RunDLL sysdm.cpl @1"); }
void control::ShowProgramsDialog()       { applet(L"rundll32.exe shell32.dll,Control_RunDLL appwiz.cpl,,1"); }
void control::ShowPowerProperties()      { applet(L"rundll32.exe shell32.dll,Control_RunDLL powercfg.cpl,,1"); }
void control::ShowDateTimeProperties()   { applet(L"rundll32.exe shell32.dll,Control_RunDLL timedate.cpl"); }
void control::ShowDisplayProperties()    { applet(L"rundll32.exe shell32.dll,Control_RunDLL desk.cpl,,0"); }
void control::ShowInternetProperties()   { applet(L"rundll32.exe shell32.dll,Control_RunDLL inetcpl.cpl,,0"); }
void control::ShowThemesProperties()     { applet(L"rundll32.exe shell32.dll,Control_RunDLL themes.cpl,,0"); }
void control::ShowGameControllers()      { applet(L"rundll32.exe shell32.dll,Control_RunDLL joy.cpl"); }
void control::ShowKeyboardProperties()   { applet(L"rundll32.exe shell32.dll,Control_RunDLL main.cpl @1"); }
void control::ShowModemProperties()      { applet(L"rundll32.exe shell32.dll,Control_RunDLL modem.cpl"); }
void control::ShowMouseProperties()      { applet(L"rundll32.exe shell32.dll,Control_RunDLL main.cpl @0"); }
void control::ShowMultimediaProperties() { applet(L"rundll32.exe shell32.dll,Control_RunDLL mmsys.cpl,,0"); }
void control::ShowNetworkProperties()    { applet(L"rundll32.exe shell32.dll,Control_RunDLL netcpl.cpl"); }
void control::ShowPasswordProperties()   { applet(L"rundll32.exe shell32.dll,Control_RunDLL password.cpl"); }
void control::ShowSoundsProperties()     { applet(L"rundll32.exe shell32.dll,Control_RunDLL mmsys.cpl @1"); }
void control::ShowSystemProperties()     { applet(L"rundll32.exe shell32.dll,Control_RunDLL sysdm.cpl,,0"); }
void control::ShowScanCam()              { applet(L"rundll32.exe shell32.dll,Control_RunDLL sticpl.cpl,,0"); }
void control::MouseDisable()             { applet(L"rundll32 mouse,disable", minimized); }
void control::KeyboardDisable()          { applet(L"rundll32 keyboard,disable", minimized); }
// clang-format on

void control::WinShutDown() { actions::exit_windows(EWX_SHUTDOWN); }

void control::WinRestart() { actions::exit_windows(EWX_REBOOT); }

void control::AddToStartup(BSTR ProgName, BSTR ProgPath, VARIANT* result) {
    VariantInit(result);
    set_bool(result, actions::add_to_startup(text_of(ProgName), text_of(ProgPath)));
}

void control::DeleteAtStartup(BSTR ProgName, VARIANT* result) {
    VariantInit(result);
    set_bool(result, actions::delete_at_startup(text_of(ProgName)));
}

void control::ShellWeb(const BSTR* WebAddress) { actions::shell_open(std::wstring(text_of(*WebAddress)), L"c:\\"); }

void control::ShellEmail(const BSTR* MailAddress, BSTR SubjectMail) {
    actions::shell_open(actions::mailto(text_of(*MailAddress), text_of(SubjectMail)), L"");
}

void control::SetWallpaper(const BSTR* BMPFileName) { actions::set_wallpaper(std::wstring(text_of(*BMPFileName))); }

void control::MakePath(BSTR Path) { actions::make_path(text_of(Path)); }

void control::SetCursorPosition(const VARIANT* X, const BSTR* Y) {
    // Y is converted first: when both are bad, its error is the one the caller sees.
    VARIANT y_text;
    V_VT(&y_text) = VT_BSTR;
    V_BSTR(&y_text) = *Y;
    const LONG y = actions::to_long(y_text);
    const LONG x = actions::to_long(*X);
    SetCursorPos(x, y);
}

} // namespace zorvane
