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

// Waits (up to `ms`, dispatching messages) until the screen shows more than one colour where `window` is: the window
// has been painted and the X server shows it. Screenshots taken before that are a single colour.
inline bool wait_painted_on_screen(HWND window, DWORD ms = 5000) {
    const DWORD start = GetTickCount();
    do {
        UpdateWindow(window);
        pump();
        RECT r{};
        GetWindowRect(window, &r);
        HDC screen = GetDC(nullptr);
        const COLORREF first = GetPixel(screen, r.left + 1, r.top + 1);
        bool varied = false;
        for (int y = r.top; y < r.bottom && !varied; y += 3)
            for (int x = r.left; x < r.right && !varied; x += 3) varied = GetPixel(screen, x, y) != first;
        ReleaseDC(nullptr, screen);
        if (varied) return true;
        Sleep(50);
    } while (GetTickCount() - start < ms);
    return false;
}

// A window handle as the control's Long parameters carry it.
inline LONG id_of(HWND window) { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)); }

} // namespace zvtest
