// The desktop's icon view: finding the window that shows it, hiding and showing it.
#pragma once

#include <windows.h>

namespace zorvane::desktop {

// The window that shows the desktop's icons, found afresh at each call: the top-level window that holds the icon
// view ("SHELLDLL_DefView"): "Progman", or a "WorkerW" on Windows 8 to 11; the icon view itself where its holder
// shows more than the icons (on Windows 11 24H2 "Progman" also holds the "WorkerW" that draws the wallpaper);
// "Progman" when nothing holds an icon view. Null when there is no such window.
HWND FindProgmanWindow() noexcept;

// SW_HIDE when `hide`, SW_SHOW otherwise.
void ShowOrHideWindow(HWND window, bool hide) noexcept;

} // namespace zorvane::desktop
