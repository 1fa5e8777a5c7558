// Crossing between BSTR and std::wstring at the control's edge.
#pragma once

#include "library/errors.h"

#include <oleauto.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace zorvane {

// A BSTR argument as text: null, and the stand-in an omitted optional BSTR arrives as (a pointer
// whose low 32 bits are DISP_E_PARAMNOTFOUND), are the empty string and are never read.
inline std::wstring_view text_of(BSTR b) noexcept {
    const auto bits = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(b));
    if (!b || bits == static_cast<std::uint32_t>(DISP_E_PARAMNOTFOUND)) return {};
    return {b, SysStringLen(b)};
}

// A new BSTR holding `text`; throws Out of memory.
inline BSTR make_bstr(std::wstring_view text) {
    BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!b) throw error(err::out_of_memory);
    return b;
}

} // namespace zorvane
