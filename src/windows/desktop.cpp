// Since Windows 8 the icon view can sit in a top-level "WorkerW" window instead of "Progman".
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
    if (progman && holds_icon_view(progman)) return progman;
    HWND holder = nullptr;
    EnumWindows(&find_holder, reinterpret_cast<LPARAM>(&holder));
    return holder ? holder : progman;
}

void ShowOrHideWindow(HWND window, bool hide) noexcept { ShowWindow(window, hide ? SW_HIDE : SW_SHOW); }

} // namespace zorvane::desktop
