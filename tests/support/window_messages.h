// Small helpers of the tests that drive windows: the thread's message queue and 32-bit window handles.
#pragma once

#include <windows.h>

namespace zvtest {

// Dispatches every message waiting in the calling thread's queue.
inline void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

// A window handle as the control's Long parameters carry it.
inline LONG id_of(HWND window) { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)); }

} // namespace zvtest
