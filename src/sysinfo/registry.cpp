// GetRegString: a REG_SZ value read with a size query, then a read of exactly that size.
#include "sysinfo/registry.h"

#include "library/raii.h"

#include <vector>

namespace zorvane::sysinfo {

std::wstring get_reg_string(HKEY root, const wchar_t* key, const wchar_t* value) {
    constexpr REGSAM access = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;  // 0x19, not KEY_READ
    unique_hkey handle;
    if (RegOpenKeyExW(root, key, 0, access | KEY_WOW64_64KEY, handle.put()) != ERROR_SUCCESS) return {};

    std::vector<BYTE> data;
    for (;;) {
        DWORD type = 0, size = 0;
        const LONG asked = RegQueryValueExW(handle.get(), value, nullptr, &type, nullptr, &size);
        if ((asked != ERROR_SUCCESS && asked != ERROR_MORE_DATA) || type != REG_SZ || size == 0) return {};
        // Room for one more character, so a value stored without its NUL still fits whole.
        data.assign(size + sizeof(wchar_t), 0);
        DWORD read = size;
        const LONG got = RegQueryValueExW(handle.get(), value, nullptr, &type, data.data(), &read);
        if (got == ERROR_MORE_DATA) continue;  // the value grew between the two queries
        if (got != ERROR_SUCCESS || type != REG_SZ) return {};
        size_t length = read / sizeof(wchar_t);
        const auto* text = reinterpret_cast<const wchar_t*>(data.data());
        if (length && text[length - 1] == L'\0') --length;  // only the terminating NUL goes
        return std::wstring(text, length);
    }
}

} // namespace zorvane::sysinfo
