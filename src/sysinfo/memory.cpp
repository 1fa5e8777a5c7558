// GlobalMemoryStatusEx readings as kilobyte texts and as 32-bit properties.
#include "sysinfo/memory.h"

#include "library/errors.h"
#include "library/text.h"

#include <algorithm>
#include <climits>

namespace zorvane::sysinfo {

MEMORYSTATUSEX read_memory() {
    // A reading without the total of physical memory is none: Wine hands a thread that asks while another
    // thread's first reading is still being made a copy of its empty cache. Asked again once that one is done.
    for (int attempt = 0; attempt < 100; ++attempt) {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof(status);
        check_win32(GlobalMemoryStatusEx(&status), err::out_of_memory);
        if (status.ullTotalPhys != 0) return status;
        Sleep(1);
    }
    MEMORYSTATUSEX none{};
    none.dwLength = sizeof(none);
    return none;
}

LONG saturated(DWORDLONG bytes) noexcept {
    return static_cast<LONG>(std::min<DWORDLONG>(bytes, static_cast<DWORDLONG>(LONG_MAX)));
}

std::wstring thousands_separator() {
    wchar_t separator[8] = {};
    const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8);
    if (length <= 1) return L",";
    return std::wstring(separator, static_cast<size_t>(length - 1));
}

std::wstring grouped(DWORDLONG number, const std::wstring& separator) {
    std::wstring digits = decimal_unsigned(number);
    std::wstring out;
    out.reserve(digits.size() + digits.size() / 3 * separator.size());
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += separator;
        out += digits[i];
    }
    return out;
}

std::wstring kilobytes_text(DWORDLONG bytes) { return grouped(bytes / 1024, thousands_separator()); }

} // namespace zorvane::sysinfo
