// Since Windows 8 the icon view can sit in a top-level "WorkerW" window instead of "Progman", and since Windows 11
// 24H2 "Progman" holds it beside the window that draws the wallpaper.
#include "windows/desktop.h"

namespace zorvane::desktop {
namespace {

const wchar_t icon_view_class[] = L"SHELLDLL_DefView";

bool holds_icon_view(HWND window) noexcept { return FindWindowExW(window, nullptr, icon_view_class, nullptr); }

BOOL CALLBACK find_holder(HWND window, LPARAM found) {
    if (!holds_icon_view(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

} // namespace

HWND FindProgmanWindow() noexcept {
    HWND progman = FindWindowExW(nullptr, nullptr, L"Progman", nullptr);
    HWND holder = progman && holds_icon_view(progman) ? progman : nullptr;
    if (!holder) EnumWindows(&find_holder, reinterpret_cast<LPARAM>(&holder));
    if (!holder) return progman;
    // Hiding a holder that shows more than the icons would hide that too: then the icon view alone.
    HWND view = FindWindowExW(holder, nullptr, icon_view_class, nullptr);
    for (HWND child = GetWindow(holder, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (child != view) return view;
    return holder;
}

void ShowOrHideWindow(HWND window, bool hide) noexcept { ShowWindow(window, hide ? SW_HIDE : SW_SHOW); }

} // namespace zorvane::desktop
