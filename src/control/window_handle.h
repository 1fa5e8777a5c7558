// Window handles as callers pass them: 32-bit Long values.
#pragma once

#include <windows.h>

namespace zorvane {

// Window handles carry 32 significant bits; 64-bit Windows sign-extends them.
inline HWND window_of(LONG handle) noexcept { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle)); }

} // namespace zorvane
