// Which Windows runs: the version record and the texts made from it.
#pragma once

#include <windows.h>

#include <string>

namespace zorvane::sysinfo {

// Refreshes `info` with the version Windows really has (RtlGetVersion), or with GetVersionExW's
// answer where RtlGetVersion is missing or fails. A query that fails leaves the fields as they were.
void query_version(OSVERSIONINFOW& info) noexcept;

// "Windows NT(XP)", "Windows 95", "Windows 98", "Windows 3.1", or the platform number itself.
std::wstring platform_name(const OSVERSIONINFOW& info);

// A version field as a signed 32-bit decimal number.
std::wstring decimal(DWORD field);

// The service-pack text: up to its first NUL, without leading and trailing spaces.
std::wstring service_pack(const OSVERSIONINFOW& info);

} // namespace zorvane::sysinfo
