// Requests the control hands to Windows: processes, shutdown, the Run key, the shell, wallpaper, folders, cursor.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace zorvane::actions {

// The full path of `file` in the system folder; throws the classic error when the system cannot name its folder.
std::wstring system_file(const wchar_t* file);

// Starts `command_line` as a new process of `program`, a program of the system folder named in full, with the
// system folder as its current folder: nothing it starts or loads by a bare name is looked for in the host's
// folder or in the host's current folder (where the documents are). Asks for `show` as its first window's state;
// does not wait. Throws the classic error for a start that fails (53 File not found, ...).
void start_system_program(const wchar_t* program, std::wstring_view command_line, WORD show);

// Enables the shutdown privilege of this process's token where the token holds it, asks ExitWindowsEx for
// exactly `flags`, then puts the privilege back as it was. What Windows answers is not reported.
void exit_windows(UINT flags) noexcept;

// The machine-wide Run key: true when the value was written (or deleted). The key is opened, never created.
// A name or command line holding a NUL is refused (false, nothing written): the registry would keep only the
// text before it, and the rest would hide in the value's data.
bool add_to_startup(std::wstring_view name, std::wstring_view command_line) noexcept;
bool delete_at_startup(std::wstring_view name) noexcept;

// ShellExecuteEx with the verb "Open", empty parameters, the given directory and SW_SHOWNORMAL; shell32 is loaded
// from the system folder for the request and let go afterwards. What the shell answers is not reported; throws
// when the request cannot be made (no memory, no shell32).
void shell_open(const std::wstring& file, const wchar_t* directory);

// "mailto:" address ?Subject= subject, nothing escaped.
std::wstring mailto(std::wstring_view address, std::wstring_view subject);

// SPI_SETDESKWALLPAPER with the file name as it is, stored in the profile and broadcast.
// What the system answers is not reported; throws Out of memory when the name cannot be copied.
void set_wallpaper(const std::wstring& file);

// Creates the folder ending at each backslash after the first; the text after the last one is not a folder.
void make_path(std::wstring_view path) noexcept;

// The OLE Automation conversion of a value to a 32-bit integer in the user's locale: throws 13 Type
// mismatch or 6 Overflow.
LONG to_long(const VARIANT& value);

} // namespace zorvane::actions
