// Wide Windows calls for the control's system actions.
#include "actions/actions.h"

#include "library/errors.h"
#include "library/raii.h"
#include "sysinfo/machine.h"

#include <shellapi.h>

#include <vector>

namespace zorvane::actions {
namespace {

const wchar_t run_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The system folder, as the system names it.
std::wstring system_folder() {
    std::wstring folder = sysinfo::folder_path(sysinfo::folder::system);
    if (folder.empty()) {
        const DWORD code = GetLastError();
        throw error::from_win32(code ? code : ERROR_PATH_NOT_FOUND);
    }
    return folder;
}

bool holds_nul(std::wstring_view text) noexcept { return text.find(L'\0') != std::wstring_view::npos; }

} // namespace

std::wstring system_file(const wchar_t* file) {
    std::wstring path = system_folder();
    if (path.back() != L'\\') path += L'\\';
    return path + file;
}

void start_system_program(const wchar_t* program, std::wstring_view command_line, WORD show) {
    const std::wstring folder = system_folder();
    const std::wstring application = system_file(program);
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(L'\0');  // CreateProcessW may write into its command line
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    PROCESS_INFORMATION process{};
    check_win32(CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                               &startup, &process));
    const unique_handle thread(process.hThread), started(process.hProcess);
}

void exit_windows(UINT flags) noexcept {
    unique_handle token;
    TOKEN_PRIVILEGES previous{};
    DWORD previous_size = 0;
    bool adjusted = false;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        TOKEN_PRIVILEGES wanted{};
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &wanted.Privileges[0].Luid))
            adjusted = AdjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof(previous), &previous,
                                             &previous_size) != FALSE;
    }
    ExitWindowsEx(flags, 0);
    // The previous state lists only what the adjustment changed: nothing when the privilege was enabled already
    // or the token does not hold it.
    if (adjusted && previous.PrivilegeCount) AdjustTokenPrivileges(token.get(), FALSE, &previous, 0, nullptr, nullptr);
}

bool add_to_startup(std::wstring_view name, std::wstring_view command_line) noexcept {
    if (holds_nul(name) || holds_nul(command_line)) return false;
    try {
        const std::wstring value_name(name), data(command_line);
        unique_hkey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, run_key, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return false;
        const auto size = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
        return RegSetValueExW(key.get(), value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              size) == ERROR_SUCCESS;
    } catch (...) {
        return false;  // no memory for the texts: nothing written
    }
}

bool delete_at_startup(std::wstring_view name) noexcept {
    if (holds_nul(name)) return false;
    try {
        const std::wstring value_name(name);
        unique_hkey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, run_key, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return false;
        return RegDeleteValueW(key.get(), value_name.c_str()) == ERROR_SUCCESS;
    } catch (...) {
        return false;
    }
}

// shell32 is the slowest of the library's imports to load and only shell requests need it: each request
// loads it (a count more where the host has it already) from the system folder, and lets it go when
// ShellExecuteW has returned.
//
// The request is made in a single-threaded apartment (borrowed where the thread has none), as shell extensions may
// need, and finishes before the call returns (SEE_MASK_NOASYNC): nothing of it runs on in shell32 once the library
// lets shell32 go, and a host that ends right afterwards (a short script) still gets its page or mail opened. The
// shell's own messages stay (no SEE_MASK_FLAG_NO_UI): it tells the user what it cannot open.
void shell_open(const std::wstring& file, const wchar_t* directory) {
    const unique_hmodule shell(check_win32(LoadLibraryW(system_file(L"shell32.dll").c_str()), err::dll_not_loaded));
    const auto execute = reinterpret_cast<decltype(&ShellExecuteExW)>(reinterpret_cast<void (*)()>(
        check_win32(GetProcAddress(shell.get(), "ShellExecuteExW"), err::dll_function_not_found)));
    const borrowed_apartment apartment;
    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof(request);
    request.fMask = SEE_MASK_NOASYNC;
    request.lpVerb = L"Open";
    request.lpFile = file.c_str();
    request.lpParameters = L"";
    request.lpDirectory = directory;
    request.nShow = SW_SHOWNORMAL;
    execute(&request);  // its answer is not the caller's
}

std::wstring mailto(std::wstring_view address, std::wstring_view subject) {
    std::wstring text = L"mailto:";
    text += address;
    text += L"?Subject=";
    text += subject;
    return text;
}

void set_wallpaper(const std::wstring& file) {
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
