// Import hooks on the OCX so that nothing its methods ask of Windows acts on the machine: no process, shutdown,
// shell request, wallpaper or cursor move, and files and folders only inside one scratch folder of the prefix.
#pragma once

#include "support/iat_hook.h"
#include "support/ocx.h"

#include <windows.h>
#include <shellapi.h>

#include <cwctype>
#include <string>

namespace zvtest {

namespace neutralised_detail {

// The folder (full path with a trailing backslash) the OCX may create files and folders in.
inline std::wstring& scratch() {
    static std::wstring folder;
    return folder;
}

inline bool inside_scratch(LPCWSTR name) noexcept {
    if (!name || scratch().empty()) return false;
    wchar_t full[1024];
    const DWORD length = GetFullPathNameW(name, 1024, full, nullptr);
    if (length == 0 || length >= 1024) return false;
    const std::wstring& folder = scratch();
    if (length < folder.size()) return false;
    for (size_t i = 0; i < folder.size(); ++i)
        if (std::towlower(full[i]) != std::towlower(folder[i])) return false;
    return true;
}

inline BOOL WINAPI no_process(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                              LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION info) {
    info->hProcess = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    info->hThread = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return TRUE;
}
inline BOOL WINAPI no_exit(UINT, DWORD) { return TRUE; }
inline BOOL WINAPI no_shell(SHELLEXECUTEINFOW* request) {
    request->hInstApp = reinterpret_cast<HINSTANCE>(42);
    return TRUE;
}
inline BOOL WINAPI no_parameters(UINT, UINT, PVOID, UINT) { return TRUE; }
inline BOOL WINAPI no_move(int, int) { return TRUE; }

inline HANDLE WINAPI file_in_scratch(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                     DWORD disposition, DWORD flags, HANDLE model) {
    if (!inside_scratch(name)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(name, access, share, security, disposition, flags, model);
}
inline BOOL WINAPI folder_in_scratch(LPCWSTR name, LPSECURITY_ATTRIBUTES security) {
    if (!inside_scratch(name)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return CreateDirectoryW(name, security);
}

template <typename F>
const void* fn(F f) {
    return reinterpret_cast<const void*>(f);
}

} // namespace neutralised_detail

// While alive, the OCX's processes, shutdowns, shell requests, wallpaper changes and cursor moves succeed without
// happening, and its files and folders are refused outside `scratch_folder` (default: the prefix's temp folder).
struct neutralised {
    explicit neutralised(std::wstring scratch_folder = {}) {
        if (scratch_folder.empty()) {
            wchar_t temp[MAX_PATH + 1] = {};
            GetTempPathW(MAX_PATH + 1, temp);
            scratch_folder = temp;
        }
        if (!scratch_folder.empty() && scratch_folder.back() != L'\\') scratch_folder += L'\\';
        neutralised_detail::scratch() = scratch_folder;
    }

    iat_hook process{ocx(), "kernel32.dll", "CreateProcessW", neutralised_detail::fn(&neutralised_detail::no_process)};
    iat_hook exit{ocx(), "user32.dll", "ExitWindowsEx", neutralised_detail::fn(&neutralised_detail::no_exit)};
    procedure_hook shell{ocx(), "ShellExecuteExW", neutralised_detail::fn(&neutralised_detail::no_shell)};
    iat_hook parameters{ocx(), "user32.dll", "SystemParametersInfoW",
                        neutralised_detail::fn(&neutralised_detail::no_parameters)};
    iat_hook move{ocx(), "user32.dll", "SetCursorPos", neutralised_detail::fn(&neutralised_detail::no_move)};
    iat_hook file{ocx(), "kernel32.dll", "CreateFileW", neutralised_detail::fn(&neutralised_detail::file_in_scratch)};
    iat_hook folder{ocx(), "kernel32.dll", "CreateDirectoryW",
                    neutralised_detail::fn(&neutralised_detail::folder_in_scratch)};
};

} // namespace zvtest
