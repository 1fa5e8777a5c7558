// HideFocus, ShowFocus, StopResizeForm, ShowDesktop and HideDesktop.
#include "control/window_handle.h"
#include "control/zorvane.h"
#include "windows/desktop.h"
#include "windows/subclass.h"

#include <oleauto.h>

namespace zorvane {

void control::HideFocus(const LONG* hWnd) { win_module::hide_focus(window_of(*hWnd)); }

void control::ShowFocus(const LONG* hWnd) { win_module::show_focus(window_of(*hWnd)); }

void control::StopResizeForm(const LONG* FormHwnd, const VARIANT* MinWidth, const SHORT* MinHeight) {
    // The width is converted now, so the window procedure never meets a value that cannot be converted;
    // one that does not convert leaves the window as it is.
    VARIANT width;
    VariantInit(&width);
    if (FAILED(VariantChangeTypeEx(&width, const_cast<VARIANT*>(MinWidth), LOCALE_USER_DEFAULT, 0, VT_I4))) return;
    win_module::stop_resize(window_of(*FormHwnd), V_I4(&width), *MinHeight);
}

void control::ShowDesktop() {
    if (HWND view = desktop::FindProgmanWindow()) desktop::ShowOrHideWindow(view, false);
}

void control::HideDesktop() {
    if (HWND view = desktop::FindProgmanWindow()) desktop::ShowOrHideWindow(view, true);
}

} // namespace zorvane
