// Label, serial number and file system of a volume, as the drive methods return them.
#pragma once

#include <windows.h>

#include <string>

namespace zorvane::sysinfo {

// What callers of a failed query have always been given.
inline constexpr size_t failed_label_length = 14;
inline constexpr size_t failed_file_system_length = 32;

inline WORD hi_word(DWORD value) noexcept { return static_cast<WORD>(value >> 16); }
inline WORD lo_word(DWORD value) noexcept { return static_cast<WORD>(value & 0xFFFF); }

// "1234-FEDC": high then low 16 bits, four upper-case hexadecimal digits each.
std::wstring serial_text(DWORD serial);

// GetVolumeInfo: asks the system once about the volume at `root` and writes the three texts.
// Success: the label cut at its NUL ("" when only spaces), the serial text, "(" file system ")".
// Failure: 14 spaces, "" and 32 spaces.
void get_volume_info(const wchar_t* root, std::wstring& label, std::wstring& serial, std::wstring& file_system);

} // namespace zorvane::sysinfo
