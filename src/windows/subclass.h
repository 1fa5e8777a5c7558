// WinModule: the window procedures that hide a window's focus and hold a form to a minimum size.
//
// The library keeps a record for each window it subclassed: the procedure the window had before, its character
// set and what the control asked of it. Hiding twice, showing a window that was never hidden, windows of
// different classes and forms with different minimums therefore all behave. Only windows of this process are
// subclassed, and a window counts as subclassed only by the library's own record of it.
#pragma once

#include <windows.h>

namespace zorvane::win_module {

// The window receives no WM_SETFOCUS until show_focus; everything else reaches it as before.
void hide_focus(HWND window) noexcept;
void show_focus(HWND window) noexcept;

// The window's whole size can no longer be dragged below min_width x min_height pixels. Lasts until the
// window is destroyed; a second call replaces the minimum.
void stop_resize(HWND window, LONG min_width, LONG min_height) noexcept;

// The two behaviours, for the window procedure that serves every subclassed window.
LRESULT CALLBACK FocusWindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
LRESULT CALLBACK MinSizeWindowProc(HWND window, UINT message, WPARAM w, LPARAM l);

} // namespace zorvane::win_module
