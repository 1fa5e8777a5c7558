// Reading one text value from the registry.
#pragma once

#include <windows.h>

#include <string>

namespace zorvane::sysinfo {

// The text of the REG_SZ value `value` of `root`\`key`, or "" when the key cannot be opened, the value is
// missing, empty or of another type. The key is opened for query/enumerate/notify (0x19) in the system's
// own registry view, never the 32-bit copy a 32-bit process would otherwise be redirected to.
std::wstring get_reg_string(HKEY root, const wchar_t* key, const wchar_t* value);

} // namespace zorvane::sysinfo
