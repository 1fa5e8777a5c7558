// GetVolumeInformationW with buffers large enough for any label and file-system name.
#include "sysinfo/volume.h"

#include "library/text.h"

namespace zorvane::sysinfo {

std::wstring serial_text(DWORD serial) {
    return hex_digits(hi_word(serial), 4) + L"-" + hex_digits(lo_word(serial), 4);
}

void get_volume_info(const wchar_t* root, std::wstring& label, std::wstring& serial, std::wstring& file_system) {
    wchar_t label_buffer[MAX_PATH + 1] = {};
    wchar_t file_system_buffer[MAX_PATH + 1] = {};
    DWORD number = 0, component_length = 0, flags = 0;
    if (!GetVolumeInformationW(root, label_buffer, MAX_PATH + 1, &number, &component_length, &flags,
                               file_system_buffer, MAX_PATH + 1)) {
        label.assign(failed_label_length, L' ');
        serial.clear();
        file_system.assign(failed_file_system_length, L' ');
        return;
    }
    label_buffer[MAX_PATH] = file_system_buffer[MAX_PATH] = L'\0';
    label = label_buffer;
    if (label.find_first_not_of(L' ') == std::wstring::npos) label.clear();
    file_system = L"(" + std::wstring(file_system_buffer) + L")";
    serial = serial_text(number);
}

} // namespace zorvane::sysinfo
