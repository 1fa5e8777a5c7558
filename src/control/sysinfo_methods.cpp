// Registry, memory, volume, folder, screen, cursor and processor queries of the control.
#include "control/bstr.h"
#include "control/memory_snapshot.h"
#include "control/zorvane.h"
#include "sysinfo/machine.h"
#include "sysinfo/memory.h"
#include "sysinfo/registry.h"
#include "sysinfo/volume.h"
#include "sysinfo/windows_version.h"

namespace zorvane {

void control::WindowsRegKey(BSTR* result) {
    *result = make_bstr(
        sysinfo::get_reg_string(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProductKey"));
}

const MEMORYSTATUSEX& control::memory_reading() {
    if (memory_)
        memory_->refresh();
    else
        memory_ = memory_snapshot::create();
    return memory_->reading();
}

void control::GetTotalMemory(BSTR* result) {
    *result = make_bstr(sysinfo::kilobytes_text(memory_reading().ullTotalPhys));
}

void control::GetFreeMemory(BSTR* result) {
    *result = make_bstr(sysinfo::kilobytes_text(memory_reading().ullAvailPhys));
}

void control::GetTotalVirtualMemory(BSTR* result) {
    *result = make_bstr(sysinfo::kilobytes_text(memory_reading().ullTotalVirtual));
}

void control::GetAvailableVirtualMemory(BSTR* result) {
    *result = make_bstr(sysinfo::kilobytes_text(memory_reading().ullAvailVirtual));
}

void control::get_volume_info(const BSTR* path_drive) {
    // The path goes to the system as it is and comes back to the caller untouched.
    const std::wstring root(text_of(*path_drive));
    sysinfo::get_volume_info(root.c_str(), drive_label_, drive_serial_, drive_file_system_);
}

void control::GetDriveLabel(const BSTR* PathDrive, BSTR* result) {
    get_volume_info(PathDrive);
    *result = make_bstr(drive_label_);
}

void control::GetDriveSerialNo(const BSTR* PathDrive, BSTR* result) {
    get_volume_info(PathDrive);
    *result = make_bstr(drive_serial_);
}

void control::GetDriveFileSystem(const BSTR* PathDrive, BSTR* result) {
    get_volume_info(PathDrive);
    *result = make_bstr(drive_file_system_);
}

void control::GetWindowsDir(BSTR* result) { *result = make_bstr(sysinfo::folder_path(sysinfo::folder::windows)); }

void control::GetSystemDir(BSTR* result) { *result = make_bstr(sysinfo::folder_path(sysinfo::folder::system)); }

void control::GetTempDir(BSTR* result) { *result = make_bstr(sysinfo::folder_path(sysinfo::folder::temp)); }

void control::ResolutionScreenX(BSTR* result) {
    *result = make_bstr(sysinfo::decimal(static_cast<DWORD>(GetSystemMetrics(SM_CXSCREEN))));
}

void control::ResolutionScreenY(BSTR* result) {
    *result = make_bstr(sysinfo::decimal(static_cast<DWORD>(GetSystemMetrics(SM_CYSCREEN))));
}

void control::GetCursorPositionX(BSTR* result) {
    POINT point{};
    GetCursorPos(&point);
    *result = make_bstr(sysinfo::decimal(static_cast<DWORD>(point.x)));
}

void control::GetCursorPositionY(BSTR* result) {
    POINT point{};
    GetCursorPos(&point);
    *result = make_bstr(sysinfo::decimal(static_cast<DWORD>(point.y)));
}

void control::GetProcessorType(BSTR* result) {
    GetSystemInfo(&sys_info_);
    *result = make_bstr(sysinfo::decimal(sys_info_.dwProcessorType));
}

} // namespace zorvane
