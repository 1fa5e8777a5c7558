// Wide Windows calls for the control's system actions.
#include "actions/actions.h"

#include "library/errors.h"
#include "library/raii.h"

#include <shellapi.h>

#include <vector>

namespace zorvane::actions {
namespace {

const wchar_t run_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

void enable_shutdown_privilege() noexcept {
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

} // namespace

void start_process(std::wstring_view command_line, WORD show) {
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(L'\0');  // CreateProcessW may write into its command line
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        throw error::from_win32(GetLastError());
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void exit_windows(UINT flags) noexcept {
    enable_shutdown_privilege();
    ExitWindowsEx(flags, 0);
}

bool add_to_startup(const std::wstring& name, const std::wstring& command_line) noexcept {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, run_key, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return false;
    const auto size = static_cast<DWORD>((command_line.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command_line.c_str()),
                          size) == ERROR_SUCCESS;
}

bool delete_at_startup(const std::wstring& name) noexcept {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, run_key, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return false;
    return RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS;
}

// shell32 is the slowest of the library's imports to load and only shell requests need it: each request
// loads it (a count more where the host has it already) and lets it go when ShellExecuteW has returned.
// It is one of the system's known DLLs, so it always comes from the system folder.
void shell_open(const std::wstring& file, const wchar_t* directory) noexcept {
    const unique_hmodule shell(LoadLibraryW(L"shell32.dll"));
    if (!shell) return;
    const auto execute = reinterpret_cast<decltype(&ShellExecuteW)>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell.get(), "ShellExecuteW")));
    if (execute) execute(nullptr, L"Open", file.c_str(), L"", directory, SW_SHOWNORMAL);
}

std::wstring mailto(std::wstring_view address, std::wstring_view subject) {
    std::wstring text = L"mailto:";
    text += address;
    text += L"?Subject=";
    text += subject;
    return text;
}

void set_wallpaper(const std::wstring& file) noexcept {
    std::vector<wchar_t> name(file.begin(), file.end());
    name.push_back(L'\0');
    SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, name.data(), 0xFFFFFFFFu);
}

void make_path(std::wstring_view path) noexcept {
    // No folder name is longer than the longest path Windows accepts; each folder is the path cut short in place.
    constexpr size_t longest_path = 32767;
    try {
        std::wstring folder(path.substr(0, longest_path));
        size_t next = folder.find(L'\\');
        next = next == std::wstring::npos ? 0 : next + 1;
        while (next < folder.size()) {
            const size_t slash = folder.find(L'\\', next);
            if (slash == std::wstring::npos) return;
            next = slash + 1;
            if (next == folder.size()) {
                CreateDirectoryW(folder.c_str(), nullptr);
                return;
            }
            const wchar_t kept = folder[next];
            folder[next] = L'\0';
            CreateDirectoryW(folder.c_str(), nullptr);
            folder[next] = kept;
        }
    } catch (...) {
        // Out of memory for a folder name: the remaining folders are skipped.
    }
}

LONG to_long(const VARIANT& value) {
    unique_variant converted;
    const HRESULT hr =
        VariantChangeTypeEx(converted.get(), const_cast<VARIANT*>(&value), LOCALE_USER_DEFAULT, 0, VT_I4);
    // Too large is Overflow; a value of no convertible type, or a malformed one, is a Type mismatch.
    if (hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY) throw error::from_hresult(hr);
    if (FAILED(hr)) throw error(err::type_mismatch);
    return V_I4(converted.get());
}

} // namespace zorvane::actions
