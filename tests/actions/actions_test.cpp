// The system actions through the OCX: process starts recorded by a stand-in program, the shutdown,
// shell, wallpaper and cursor calls checked at the OCX's imports, the Run key and folders in the prefix.
#include "support/iat_hook.h"
#include "support/control_fixture.h"
#include "support/dispatch_call.h"
#include "support/ocx.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// Places among the 58 methods of _Zorvane.
enum place : int {
    win_shutdown = 0, win_restart = 1, first_applet = 7, set_cursor_position = 25, mouse_disable = 26,
    keyboard_disable = 27, cursor_x = 28, cursor_y = 29, make_path = 51, set_wallpaper = 52, add_to_startup = 53,
    delete_at_startup = 54, shell_web = 55, shell_email = 56,
};

template <typename F>
const void* fn(F f) {
    return reinterpret_cast<const void*>(f);
}

std::wstring temp_folder() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

struct actions : zvtest::control_fixture {
    template <typename Method, typename... Args>
    HRESULT call(int which, Args... args) {
        return reinterpret_cast<Method>((*reinterpret_cast<void***>(dual))[489 + which])(dual, args...);
    }
    HRESULT call0(int which) { return call<HRESULT(STDMETHODCALLTYPE*)(IDispatch*)>(which); }

};

// ---- Applets --------------------------------------------------------------------------------------------------

// What a stand-in named `name` wrote: how it was started, where it ran from and in which current folder.
struct record {
    std::wstring command_line;
    int show = -1;
    std::wstring program, current_folder;
};

// The record of the stand-in named `name`, waiting for it up to five seconds.
std::optional<record> take_record(const wchar_t* name) {
    const std::wstring path = temp_folder() + name + L".record";
    for (int i = 0; i < 500; ++i) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::wstring text(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
            DWORD read = 0;
            ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
            CloseHandle(file);
            DeleteFileW(path.c_str());
            std::vector<std::wstring> lines;
            for (size_t at = 0; at <= text.size();) {
                const size_t end = std::min(text.find(L'\n', at), text.size());
                lines.push_back(text.substr(at, end - at));
                at = end + 1;
            }
            lines.resize(4);
            return record{lines[0], std::stoi(lines[1]), lines[2], lines[3]};
        }
        Sleep(10);
    }
    return std::nullopt;
}

bool same_path(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

std::wstring program_folder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring system_folder() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

// A folder of documents as the host's current folder, holding a program and an applet planted there (the
// recording stand-in as rundll32.exe, a library that leaves a mark when loaded as password.cpl). The host's own
// folder already holds a stand-in rundll32.exe: the tests' program folder.
struct planted_current_folder {
    const std::wstring folder = temp_folder() + L"zv documents\\";
    const std::wstring loaded_mark = temp_folder() + L"zv_planted_applet.loaded";
    wchar_t previous[MAX_PATH] = {};
    planted_current_folder() {
        CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_TRUE(CopyFileW((program_folder() + L"rundll32.exe").c_str(), (folder + L"rundll32.exe").c_str(), FALSE));
        EXPECT_TRUE(CopyFileW((program_folder() + L"zv_planted_applet.dll").c_str(), (folder + L"password.cpl").c_str(),
                              FALSE));
        DeleteFileW(loaded_mark.c_str());
        GetCurrentDirectoryW(MAX_PATH, previous);
        EXPECT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    }
    ~planted_current_folder() {
        SetCurrentDirectoryW(previous);
        DeleteFileW((folder + L"rundll32.exe").c_str());
        DeleteFileW((folder + L"password.cpl").c_str());
        RemoveDirectoryW(folder.c_str());
        DeleteFileW(loaded_mark.c_str());
    }
};

// The recording stand-in in the place of the system's rundll32.exe (in the throwaway prefix), run as a program
// of its own rather than Wine's built-in one; everything as it was afterwards.
struct system_rundll32_standin {
    const std::wstring real = system_folder() + L"\\rundll32.exe", saved = real + L".zv-saved";
    const wchar_t* overrides = L"Software\\Wine\\DllOverrides";
    system_rundll32_standin() {
        EXPECT_TRUE(MoveFileExW(real.c_str(), saved.c_str(), MOVEFILE_REPLACE_EXISTING));
        EXPECT_TRUE(CopyFileW((program_folder() + L"rundll32.exe").c_str(), real.c_str(), FALSE));
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, overrides, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        RegSetValueExW(key, L"rundll32.exe", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"native"), sizeof(L"native"));
        RegCloseKey(key);
    }
    ~system_rundll32_standin() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, overrides, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"rundll32.exe");
            RegCloseKey(key);
        }
        DeleteFileW(real.c_str());
        MoveFileExW(saved.c_str(), real.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
};

TEST_F(actions, each_applet_starts_the_system_rundll32_with_its_command_line_and_show_state) {
    const std::wstring applet = L"rundll32.exe shell32.dll,Control_RunDLL ";
    const std::vector<std::pair<std::wstring, int>> rows = {
        {applet + L"intl.cpl,,0", 5},     {applet + L"sysdm.cpl @1", 5},  {applet + L"appwiz.cpl,,1", 5},
        {applet + L"powercfg.cpl,,1", 5}, {applet + L"timedate.cpl", 5},  {applet + L"desk.cpl,,0", 5},
        {applet + L"inetcpl.cpl,,0", 5},  {applet + L"themes.cpl,,0", 5}, {applet + L"joy.cpl", 5},
        {applet + L"main.cpl @1", 5},     {applet + L"modem.cpl", 5},     {applet + L"main.cpl @0", 5},
        {applet + L"mmsys.cpl,,0", 5},    {applet + L"netcpl.cpl", 5},    {applet + L"password.cpl", 5},
        {applet + L"mmsys.cpl @1", 5},    {applet + L"sysdm.cpl,,0", 5},  {applet + L"sticpl.cpl,,0", 5},
        {L"rundll32 mouse,disable", 2},   {L"rundll32 keyboard,disable", 2},
    };
    const system_rundll32_standin standin;
    const planted_current_folder planted;
    DeleteFileW((temp_folder() + L"rundll32.record").c_str());
    for (size_t i = 0; i < rows.size(); ++i) {
        const int which = i < 18 ? first_applet + static_cast<int>(i) : mouse_disable + static_cast<int>(i - 18);
        SCOPED_TRACE(testing::Message() << "method " << which);
        ASSERT_EQ(S_OK, call0(which));
        const auto seen = take_record(L"rundll32");
        ASSERT_TRUE(seen.has_value()) << "no rundll32 was started";
        EXPECT_EQ(rows[i].first, seen->command_line);
        EXPECT_EQ(rows[i].second, seen->show);
        // The system's program, never the one in the host's folder or the planted one, and the system folder as
        // its current folder, so that the applet and module names are not looked for among the documents.
        EXPECT_TRUE(same_path(standin.real, seen->program)) << std::string(seen->program.begin(), seen->program.end());
        EXPECT_TRUE(same_path(system_folder(), seen->current_folder))
            << std::string(seen->current_folder.begin(), seen->current_folder.end());
    }
}

// The process a start made, kept to wait for.
HANDLE started_process = nullptr;
BOOL WINAPI keep_started(LPCWSTR application, LPWSTR line, LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread,
                         BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR folder, LPSTARTUPINFOW startup,
                         LPPROCESS_INFORMATION info) {
    const BOOL started =
        CreateProcessW(application, line, process, thread, inherit, flags, environment, folder, startup, info);
    if (started)
        DuplicateHandle(GetCurrentProcess(), info->hProcess, GetCurrentProcess(), &started_process, SYNCHRONIZE, FALSE,
                        0);
    return started;
}

TEST_F(actions, the_system_rundll32_loads_no_applet_planted_in_the_current_folder) {
    // Wine's own rundll32 and shell32, asked for an applet that is not in the system folder.
    const planted_current_folder planted;
    zvtest::iat_hook hook(zvtest::ocx(), "kernel32.dll", "CreateProcessW", fn(&keep_started));
    started_process = nullptr;
    ASSERT_EQ(S_OK, call0(first_applet + 14));  // ShowPasswordProperties
    ASSERT_NE(nullptr, started_process);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started_process, 20000));
    CloseHandle(started_process);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(planted.loaded_mark.c_str()))
        << "the applet planted among the documents was loaded";
    EXPECT_FALSE(take_record(L"rundll32").has_value());
}

DWORD start_error = ERROR_FILE_NOT_FOUND;
BOOL WINAPI failing_start(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                          LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
    SetLastError(start_error);
    return FALSE;
}

TEST_F(actions, a_start_that_fails_is_an_untrapped_error) {
    zvtest::iat_hook hook(zvtest::ocx(), "kernel32.dll", "CreateProcessW", fn(&failing_start));
    start_error = ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(static_cast<HRESULT>(0x800A0035), call0(first_applet));  // 53
    EXPECT_EQ(L"File not found", zvtest::take_error_description());
    start_error = ERROR_ACCESS_DENIED;
    EXPECT_EQ(static_cast<HRESULT>(0x800A004B), call0(mouse_disable));  // 75
    EXPECT_EQ(L"Path/File access error", zvtest::take_error_description());
}

// ---- Shutdown and restart -------------------------------------------------------------------------------------

struct shutdown_spy {
    std::vector<std::wstring> steps;
    UINT flags = 0;
    DWORD reserved = 1;
    bool holds_privilege = true;
} shutdown;

BOOL WINAPI spy_open_token(HANDLE process, DWORD access, PHANDLE token) {
    shutdown.steps.push_back(L"open " + std::to_wstring(access & (TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY)));
    EXPECT_EQ(GetCurrentProcess(), process);
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token);
}
BOOL WINAPI spy_lookup(LPCWSTR system, LPCWSTR name, PLUID luid) {
    shutdown.steps.push_back(std::wstring(L"lookup ") + name);
    return LookupPrivilegeValueW(system, name, luid);
}
BOOL WINAPI spy_adjust(HANDLE, BOOL disable_all, PTOKEN_PRIVILEGES privileges, DWORD size, PTOKEN_PRIVILEGES previous,
                       PDWORD previous_size) {
    shutdown.steps.push_back(L"adjust " + std::to_wstring(disable_all) + L" " +
                             std::to_wstring(privileges->PrivilegeCount) + L" " +
                             std::to_wstring(privileges->Privileges[0].Attributes));
    // As the system answers: the previous state lists what the adjustment changed, here the disabled privilege.
    if (previous && size >= sizeof(TOKEN_PRIVILEGES)) {
        previous->PrivilegeCount = shutdown.holds_privilege ? 1 : 0;
        previous->Privileges[0] = {privileges->Privileges[0].Luid, 0};
        if (previous_size) *previous_size = sizeof(TOKEN_PRIVILEGES);
    }
    SetLastError(shutdown.holds_privilege ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}
BOOL WINAPI spy_exit(UINT flags, DWORD reserved) {
    shutdown.steps.push_back(L"exit");
    shutdown.flags = flags;
    shutdown.reserved = reserved;
    return FALSE;  // refused: the call still succeeds
}

TEST_F(actions, shutdown_and_restart_enable_the_privilege_ask_with_exact_flags_and_restore_it) {
    HMODULE ocx = zvtest::ocx();
    zvtest::iat_hook open(ocx, "advapi32.dll", "OpenProcessToken", fn(&spy_open_token));
    zvtest::iat_hook lookup(ocx, "advapi32.dll", "LookupPrivilegeValueW", fn(&spy_lookup));
    zvtest::iat_hook adjust(ocx, "advapi32.dll", "AdjustTokenPrivileges", fn(&spy_adjust));
    zvtest::iat_hook exit(ocx, "user32.dll", "ExitWindowsEx", fn(&spy_exit));
    const std::vector<std::wstring> steps = {L"open 40", L"lookup SeShutdownPrivilege", L"adjust 0 1 2", L"exit",
                                             L"adjust 0 1 0"};

    for (auto [which, flags] : {std::pair{win_shutdown, 1u}, std::pair{win_restart, 2u}}) {
        shutdown = shutdown_spy{};
        EXPECT_EQ(S_OK, call0(which));
        EXPECT_EQ(flags, shutdown.flags);  // no force, no power-off
        EXPECT_EQ(0u, shutdown.reserved);
        EXPECT_EQ(steps, shutdown.steps);  // and the privilege is disabled again, as it was
    }
    // A token without the privilege: the request is still made, the call still succeeds, nothing is put back.
    shutdown = shutdown_spy{};
    shutdown.holds_privilege = false;
    EXPECT_EQ(S_OK, call0(win_shutdown));
    EXPECT_EQ(1u, shutdown.flags);
    EXPECT_EQ(std::vector<std::wstring>(steps.begin(), steps.begin() + 4), shutdown.steps);
}

// ---- Run key --------------------------------------------------------------------------------------------------

const wchar_t run_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct run_value {
    bool present = false;
    DWORD type = 0;
    std::wstring data;
    DWORD size = 0;
};

run_value read_run(const wchar_t* name) {
    run_value out;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, run_key, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return out;
    wchar_t buffer[1024] = {};
    out.size = sizeof(buffer);
    out.present = RegQueryValueExW(key, name, nullptr, &out.type, reinterpret_cast<BYTE*>(buffer), &out.size) ==
                  ERROR_SUCCESS;
    out.data = buffer;
    RegCloseKey(key);
    return out;
}

LONG WINAPI refuse_open(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) { return ERROR_ACCESS_DENIED; }

TEST_F(actions, startup_values_with_a_boolean_result) {
    using add = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR, BSTR, VARIANT*);
    using remove = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR, VARIANT*);
    HKEY created = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, run_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &created, nullptr));
    RegCloseKey(created);
    auto added = [&](std::wstring_view name, std::wstring_view path) {
        const zvtest::bstr n(name), p(path);
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(S_OK, call<add>(add_to_startup, n.get(), p.get(), &result));
        EXPECT_EQ(VT_BOOL, V_VT(&result));
        EXPECT_EQ(name, n.text());  // the host's strings are never changed
        EXPECT_EQ(path, p.text());
        return V_BOOL(&result) == VARIANT_TRUE;
    };
    auto deleted = [&](std::wstring_view name) {
        const zvtest::bstr n(name);
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(S_OK, call<remove>(delete_at_startup, n.get(), &result));
        EXPECT_EQ(VT_BOOL, V_VT(&result));
        return V_BOOL(&result) == VARIANT_TRUE;
    };

    const wchar_t path[] = L"C:\\Program Files\\Моя программа\\app.exe /tray";
    EXPECT_TRUE(added(L"ZvTest Программа", path));
    run_value v = read_run(L"ZvTest Программа");
    ASSERT_TRUE(v.present);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), v.type);
    EXPECT_EQ(path, v.data);  // no quotes added
    EXPECT_EQ((wcslen(path) + 1) * sizeof(wchar_t), v.size);

    EXPECT_TRUE(added(L"ZvTest Программа", L"second"));
    EXPECT_EQ(L"second", read_run(L"ZvTest Программа").data);
    EXPECT_TRUE(deleted(L"ZvTest Программа"));
    EXPECT_FALSE(read_run(L"ZvTest Программа").present);
    EXPECT_FALSE(deleted(L"ZvTest Программа"));  // nothing left to delete

    // The empty name is the key's default value.
    EXPECT_TRUE(added(L"", L"default.exe"));
    EXPECT_EQ(L"default.exe", read_run(L"").data);
    EXPECT_TRUE(deleted(L""));
    EXPECT_FALSE(read_run(L"").present);

    // A text holding a NUL would be cut there by the registry, the rest hidden in the data: False, nothing written.
    using namespace std::string_view_literals;
    EXPECT_TRUE(added(L"ZvTest", L"C:\\ok.exe"));
    EXPECT_FALSE(added(L"ZvTest\0Hidden"sv, L"C:\\other.exe"));
    EXPECT_FALSE(added(L"ZvTest"sv, L"C:\\ok.exe\0C:\\evil.exe"sv));
    EXPECT_FALSE(deleted(L"ZvTest\0Hidden"sv));
    v = read_run(L"ZvTest");
    EXPECT_EQ(L"C:\\ok.exe", v.data);
    EXPECT_EQ(sizeof(L"C:\\ok.exe"), v.size);
    EXPECT_TRUE(deleted(L"ZvTest"));

    // A key that cannot be opened: False, and nothing written.
    zvtest::iat_hook hook(zvtest::ocx(), "advapi32.dll", "RegOpenKeyExW", fn(&refuse_open));
    EXPECT_FALSE(added(L"ZvTest refused", L"x.exe"));
    EXPECT_FALSE(read_run(L"ZvTest refused").present);
    EXPECT_FALSE(deleted(L"ZvTest refused"));
}

// ---- Shell requests, wallpaper, cursor ------------------------------------------------------------------------

struct shell_call {
    std::wstring verb, file, parameters, directory;
    bool null_parameters = false, null_directory = false;
    INT show = -1;
    bool has_owner = true;
    ULONG mask = 0;
    APTTYPE apartment = APTTYPE_CURRENT;  // the calling thread's during the request
    int calls = 0;
} shell;

BOOL WINAPI spy_shell(SHELLEXECUTEINFOW* request) {
    shell.has_owner = request->hwnd != nullptr;
    shell.verb = request->lpVerb ? request->lpVerb : L"(null)";
    shell.file = request->lpFile ? request->lpFile : L"(null)";
    shell.null_parameters = !request->lpParameters;
    shell.parameters = request->lpParameters ? request->lpParameters : L"";
    shell.null_directory = !request->lpDirectory;
    shell.directory = request->lpDirectory ? request->lpDirectory : L"";
    shell.show = request->nShow;
    shell.mask = request->fMask;
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(CoGetApartmentType(&shell.apartment, &qualifier))) shell.apartment = APTTYPE_CURRENT;
    ++shell.calls;
    request->hInstApp = reinterpret_cast<HINSTANCE>(2);  // "file not found": still no error for the caller
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

TEST_F(actions, shell_requests_with_their_verb_folder_and_show_state) {
    zvtest::procedure_hook hook(zvtest::ocx(), "ShellExecuteExW", fn(&spy_shell));
    using web = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*);
    using email = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*, BSTR);

    zvtest::bstr address(L"https://example.org/путь?q=日本");
    const BSTR passed = address.get();
    EXPECT_EQ(S_OK, call<web>(shell_web, address.address()));
    EXPECT_EQ(passed, address.get());
    EXPECT_STREQ(L"https://example.org/путь?q=日本", address.get());
    EXPECT_FALSE(shell.has_owner);
    EXPECT_EQ(L"Open", shell.verb);
    EXPECT_EQ(L"https://example.org/путь?q=日本", shell.file);
    EXPECT_FALSE(shell.null_parameters);
    EXPECT_EQ(L"", shell.parameters);
    EXPECT_EQ(L"c:\\", shell.directory);
    EXPECT_EQ(SW_SHOWNORMAL, shell.show);
    // Finished before the call returns, the shell's own messages kept, in a single-threaded apartment.
    EXPECT_EQ(static_cast<ULONG>(SEE_MASK_NOASYNC), shell.mask);
    EXPECT_TRUE(shell.apartment == APTTYPE_STA || shell.apartment == APTTYPE_MAINSTA) << shell.apartment;

    zvtest::bstr mail(L"x");
    const zvtest::bstr subject(L"Hi there");
    EXPECT_EQ(S_OK, call<email>(shell_email, mail.address(), subject.get()));
    EXPECT_EQ(L"mailto:x?Subject=Hi there", shell.file);
    EXPECT_FALSE(shell.null_directory);
    EXPECT_EQ(L"", shell.directory);
    EXPECT_EQ(L"", shell.parameters);
    EXPECT_EQ(SW_SHOWNORMAL, shell.show);
    // An omitted subject arrives as the DISP_E_PARAMNOTFOUND stand-in.
    EXPECT_EQ(S_OK,
              call<email>(shell_email, mail.address(), reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0x80020004u))));
    EXPECT_EQ(L"mailto:x?Subject=", shell.file);
    EXPECT_STREQ(L"x", mail.get());

    // A thread without COM borrows a single-threaded apartment for the request and leaves it again; a thread of
    // the multithreaded apartment keeps its own.
    for (const bool multithreaded : {false, true}) {
        std::thread caller([&] {
            if (multithreaded) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            zvtest::bstr there(L"https://example.org");
            EXPECT_EQ(S_OK, call<web>(shell_web, there.address()));
            if (multithreaded)
                EXPECT_EQ(APTTYPE_MTA, shell.apartment);
            else
                EXPECT_TRUE(shell.apartment == APTTYPE_STA || shell.apartment == APTTYPE_MAINSTA) << shell.apartment;
            APTTYPE after{};
            APTTYPEQUALIFIER qualifier{};
            EXPECT_EQ(multithreaded ? S_OK : CO_E_NOTINITIALIZED, CoGetApartmentType(&after, &qualifier));
            if (multithreaded) CoUninitialize();
        });
        caller.join();
    }
}

TEST_F(actions, mail_request_reaches_the_program_registered_for_mailto) {
    // The prefix's mail program is the recording stand-in (the shell reads HKCR for URL protocols).
    HKEY command = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"mailto\\shell\\open\\command", 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &command, nullptr));
    const std::wstring line = L"\"" + program_folder() + L"zv_mail_recorder.exe\" \"%1\"";
    RegSetValueExW(command, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(line.c_str()),
                   static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(command);
    HKEY protocol = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"mailto", 0, KEY_SET_VALUE, &protocol));
    RegSetValueExW(protocol, L"URL Protocol", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    RegCloseKey(protocol);
    DeleteFileW((temp_folder() + L"zv_mail_recorder.record").c_str());

    using email = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*, BSTR);
    zvtest::bstr mail(L"someone@example.org");
    const zvtest::bstr subject(L"Hi there");
    EXPECT_EQ(S_OK, call<email>(shell_email, mail.address(), subject.get()));
    const auto record = take_record(L"zv_mail_recorder");
    ASSERT_TRUE(record.has_value()) << "the registered mail program was not started";
    EXPECT_NE(std::wstring::npos, record->command_line.find(L"mailto:someone@example.org?Subject=Hi there"))
        << std::string(record->command_line.begin(), record->command_line.end());
    EXPECT_EQ(SW_SHOWNORMAL, record->show);
}

struct wallpaper_call {
    UINT action = 0, ui = 1, win_ini = 0;
    std::wstring file;
} wallpaper;

BOOL WINAPI spy_parameters(UINT action, UINT ui, PVOID pv, UINT win_ini) {
    wallpaper = {action, ui, win_ini, pv ? static_cast<const wchar_t*>(pv) : L"(null)"};
    return FALSE;
}

TEST_F(actions, wallpaper_request_as_given) {
    zvtest::iat_hook hook(zvtest::ocx(), "user32.dll", "SystemParametersInfoW", fn(&spy_parameters));
    using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*);
    zvtest::bstr file(L"C:\\Обои\\fond.bmp");
    EXPECT_EQ(S_OK, call<method>(set_wallpaper, file.address()));
    EXPECT_EQ(static_cast<UINT>(SPI_SETDESKWALLPAPER), wallpaper.action);
    EXPECT_EQ(0u, wallpaper.ui);
    EXPECT_EQ(0xFFFFFFFFu, wallpaper.win_ini);
    EXPECT_EQ(L"C:\\Обои\\fond.bmp", wallpaper.file);
    EXPECT_STREQ(L"C:\\Обои\\fond.bmp", file.get());
}

std::vector<POINT> moves;
BOOL WINAPI spy_move(int x, int y) {
    moves.push_back({x, y});
    return TRUE;
}

TEST_F(actions, cursor_position_from_ole_conversions) {
    using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, VARIANT*, BSTR*);
    auto move = [&](VARIANT x, const wchar_t* y) {
        zvtest::bstr text(y);
        const HRESULT hr = call<method>(set_cursor_position, &x, text.address());
        EXPECT_STREQ(y, text.get());
        VariantClear(&x);
        return hr;
    };
    auto number = [](double d) {
        VARIANT v;
        V_VT(&v) = VT_R8;
        V_R8(&v) = d;
        return v;
    };
    {
        zvtest::iat_hook hook(zvtest::ocx(), "user32.dll", "SetCursorPos", fn(&spy_move));
        moves.clear();
        EXPECT_EQ(S_OK, move(number(299.5), L"100.5"));
        EXPECT_EQ(S_OK, move(number(300.5), L"101.5"));
        EXPECT_EQ(S_OK, move(zvtest::text_value(L" -5 "), L"&H10"));
        VARIANT empty;
        VariantInit(&empty);
        EXPECT_EQ(S_OK, move(empty, L"0"));
        ASSERT_EQ(4u, moves.size());
        EXPECT_EQ(300, moves[0].x);
        EXPECT_EQ(100, moves[0].y);
        EXPECT_EQ(300, moves[1].x);
        EXPECT_EQ(102, moves[1].y);
        EXPECT_EQ(-5, moves[2].x);
        EXPECT_EQ(16, moves[2].y);
        EXPECT_EQ(0, moves[3].x);

        VARIANT null;
        V_VT(&null) = VT_NULL;
        EXPECT_EQ(static_cast<HRESULT>(0x800A000D), move(null, L"1"));  // 13 Type mismatch
        EXPECT_EQ(L"Type mismatch", zvtest::take_error_description());
        EXPECT_EQ(static_cast<HRESULT>(0x800A000D), move(number(1), L"abc"));
        EXPECT_EQ(static_cast<HRESULT>(0x800A0006), move(number(1e20), L"1"));  // 6 Overflow
        EXPECT_EQ(L"Overflow", zvtest::take_error_description());
        EXPECT_EQ(static_cast<HRESULT>(0x800A0006), move(zvtest::text_value(L"abc"), L"3000000000"));  // Y first
        // Values of no convertible type or malformed ones are type mismatches too, never another kind of failure.
        VARIANT bogus;
        VariantInit(&bogus);
        V_VT(&bogus) = 0x00FF;
        EXPECT_EQ(static_cast<HRESULT>(0x800A000D), move(bogus, L"1"));
        VARIANT decimal;
        V_DECIMAL(&decimal) = DECIMAL{};
        V_DECIMAL(&decimal).scale = 29;
        V_DECIMAL(&decimal).Lo64 = 5;
        V_VT(&decimal) = VT_DECIMAL;
        EXPECT_EQ(static_cast<HRESULT>(0x800A000D), move(decimal, L"1"));
        VARIANT nothing;
        V_VT(&nothing) = VT_DISPATCH;
        V_DISPATCH(&nothing) = nullptr;
        EXPECT_EQ(static_cast<HRESULT>(0x800A000D), move(nothing, L"1"));
        EXPECT_EQ(4u, moves.size());  // no failed call moved the cursor
    }
    // For real, under the test display: a position read back can be set again unchanged.
    ASSERT_EQ(S_OK, move(number(123), L"45"));
    using read = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*);
    zvtest::bstr x, y;
    ASSERT_EQ(S_OK, call<read>(cursor_x, x.address()));
    ASSERT_EQ(S_OK, call<read>(cursor_y, y.address()));
    EXPECT_STREQ(L"123", x.get());
    EXPECT_STREQ(L"45", y.get());
    EXPECT_EQ(S_OK, move(zvtest::text_value(x.text()), y.get()));
}

// ---- MakePath -------------------------------------------------------------------------------------------------

std::vector<std::wstring> folders_asked;
BOOL WINAPI spy_create_directory(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    folders_asked.push_back(path);
    SetLastError(ERROR_BAD_NETPATH);
    return FALSE;
}

bool is_folder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(actions, make_path_creates_the_folders_before_each_backslash) {
    using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR);
    auto make = [&](const std::wstring& path) {
        const zvtest::bstr p(path);
        return call<method>(make_path, p.get());
    };
    const std::wstring root = temp_folder() + L"zv make Путь\\";
    const std::wstring a = root + L"A\\", b = a + L"B\\";
    RemoveDirectoryW(b.c_str());
    RemoveDirectoryW(a.c_str());
    RemoveDirectoryW(root.c_str());

    EXPECT_EQ(S_OK, make(b + L"name.txt"));
    EXPECT_TRUE(is_folder(b));
    EXPECT_FALSE(is_folder(b + L"name.txt"));
    EXPECT_EQ(S_OK, make(b));  // again: nothing changes
    EXPECT_EQ(S_OK, make(a + L"C"));
    EXPECT_FALSE(is_folder(a + L"C"));

    zvtest::iat_hook hook(zvtest::ocx(), "kernel32.dll", "CreateDirectoryW", fn(&spy_create_directory));
    folders_asked.clear();
    for (const wchar_t* nothing : {L"", L"noslash", L"C:/a/b/", L"C:\\"}) EXPECT_EQ(S_OK, make(nothing));
    EXPECT_TRUE(folders_asked.empty());
    EXPECT_EQ(S_OK, make(L"\\\\server\\share\\dir\\"));
    const std::vector<std::wstring> unc = {L"\\\\", L"\\\\server\\", L"\\\\server\\share\\",
                                           L"\\\\server\\share\\dir\\"};
    EXPECT_EQ(unc, folders_asked);
    folders_asked.clear();
    EXPECT_EQ(S_OK, make(L"C:\\A\\B"));
    EXPECT_EQ(std::vector<std::wstring>{L"C:\\A\\"}, folders_asked);

    RemoveDirectoryW(b.c_str());
    RemoveDirectoryW(a.c_str());
    RemoveDirectoryW(root.c_str());
}

size_t folders_counted = 0;
size_t longest_folder = 0;
BOOL WINAPI count_create_directory(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    ++folders_counted;
    longest_folder = std::max(longest_folder, wcslen(path));
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
}

// A megabyte of "a\" used to copy the path once per backslash: hours of work for one call.
TEST_F(actions, make_path_of_a_megabyte_of_folders_returns_at_once) {
    using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR);
    std::wstring path;
    while (path.size() < (1u << 20)) path += L"a\\";
    const zvtest::bstr p(path);
    zvtest::iat_hook hook(zvtest::ocx(), "kernel32.dll", "CreateDirectoryW", fn(&count_create_directory));
    folders_counted = longest_folder = 0;
    const DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, call<method>(make_path, p.get()));
    EXPECT_LT(GetTickCount() - start, 5000u);
    // Only folders a path can name: none longer than 32767 characters.
    EXPECT_EQ(16382u, folders_counted);  // each backslash after the first, in 32767 characters
    EXPECT_LE(longest_folder, 32767u);
}

} // namespace
