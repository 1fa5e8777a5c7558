// WindowsPlatform, WindowsBuildNumber, WindowsMajorVersion, WindowsMinorVersion, WindowsCSDVersion.
#include "control/bstr.h"
#include "control/zorvane.h"
#include "sysinfo/windows_version.h"

namespace zorvane {

const OSVERSIONINFOW& control::refresh_version() {
    sysinfo::query_version(os_info_);
    return os_info_;
}

void control::WindowsPlatform(BSTR* result) { *result = make_bstr(sysinfo::platform_name(refresh_version())); }

void control::WindowsBuildNumber(BSTR* result) {
    *result = make_bstr(sysinfo::decimal(refresh_version().dwBuildNumber));
}

void control::WindowsMajorVersion(BSTR* result) {
    *result = make_bstr(sysinfo::decimal(refresh_version().dwMajorVersion));
}

void control::WindowsMinorVersion(BSTR* result) {
    *result = make_bstr(sysinfo::decimal(refresh_version().dwMinorVersion));
}

void control::WindowsCSDVersion(BSTR* result) { *result = make_bstr(sysinfo::service_pack(refresh_version())); }

} // namespace zorvane
