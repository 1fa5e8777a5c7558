// The version record from the system, the platform decision and the service-pack text.
#include "sysinfo/windows_version.h"

#include "library/text.h"

#include <algorithm>
#include <iterator>

// Exported by ntdll on every Windows NT; the SDK only declares it for drivers.
extern "C" __declspec(dllimport) LONG WINAPI RtlGetVersion(OSVERSIONINFOW* info);

namespace zorvane::sysinfo {

void query_version(OSVERSIONINFOW& info) noexcept {
    // RtlGetVersion tells the version Windows really has; GetVersionExW answers what the host's
    // manifest declares, and is only asked when the true query fails.
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (RtlGetVersion(&info) >= 0) return;
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
    GetVersionExW(&info);
}

std::wstring decimal(DWORD field) { return zorvane::decimal(static_cast<LONG>(field)); }

std::wstring platform_name(const OSVERSIONINFOW& info) {
    const std::wstring platform = decimal(info.dwPlatformId);
    if (platform == L"2") return L"Windows NT(XP)";
    if (platform == L"1") return info.dwMinorVersion == 0 ? L"Windows 95" : L"Windows 98";
    if (platform == L"0") return L"Windows 3.1";
    return platform;
}

std::wstring service_pack(const OSVERSIONINFOW& info) {
    const wchar_t* begin = info.szCSDVersion;
    const wchar_t* end = std::find(begin, begin + std::size(info.szCSDVersion), L'\0');
    while (begin != end && *begin == L' ') ++begin;
    while (end != begin && end[-1] == L' ') --end;
    return std::wstring(begin, end);
}

} // namespace zorvane::sysinfo
