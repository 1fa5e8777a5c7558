// A stand-in program: writes its command line, the show-window state it was started with, its own path and its
// current folder to %TEMP%\<its own name>.record (UTF-16, a line each), then exits. The tests put it where the
// system's rundll32.exe is, plant it in folders where no program may be looked for, and register it as the mail
// program of the prefix.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring self(path, length);
    std::wstring name = self.substr(self.find_last_of(L"\\/") + 1);
    name = name.substr(0, name.find_last_of(L'.'));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const std::wstring record = std::wstring(GetCommandLineW()) + L"\n" +
                                std::to_wstring((startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1) +
                                L"\n" + self + L"\n" + current;
    // Written under a temporary name, then renamed: a reader never sees half a record.
    const std::wstring target = std::wstring(temp) + name + L".record";
    const std::wstring partial = target + L".part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    return 0;
}
