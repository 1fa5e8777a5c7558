// The desktop's icon view: finding the top-level window that holds it, hiding and showing it.
#pragma once

#include <windows.h>

namespace zorvane::desktop {

// "Progman" when it holds the icon view ("SHELLDLL_DefView") or nothing does; otherwise the top-level
// window that holds it (a "WorkerW" on newer systems). Null when there is neither.
HWND FindProgmanWindow() noexcept;

// SW_HIDE when `hide`, SW_SHOW otherwise.
void ShowOrHideWindow(HWND window, bool hide) noexcept;

} // namespace zorvane::desktop
