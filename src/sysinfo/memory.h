// Memory status readings and the kilobyte texts made from them.
#pragma once

#include <windows.h>

#include <string>

namespace zorvane::sysinfo {

// A fresh reading of the system's 64-bit memory status; throws the classic error when the system refuses.
MEMORYSTATUSEX read_memory();

// A byte count as a 32-bit signed property: counts of 2^31 bytes or more read as 2147483647.
LONG saturated(DWORDLONG bytes) noexcept;

// Whole kilobytes of `bytes`, digits grouped by threes with the user locale's thousands separator
// ("###,###,###,###,##0": 536870912 bytes give "524,288" in English locales, 1023 give "0").
std::wstring kilobytes_text(DWORDLONG bytes);

// `number` grouped by threes with `separator`.
std::wstring grouped(DWORDLONG number, const std::wstring& separator);

// The user locale's thousands separator.
std::wstring thousands_separator();

} // namespace zorvane::sysinfo
