// One record per subclassed window, kept in a window property and removed with the window.
#include "windows/subclass.h"

#include "library/module.h"

#include <new>

namespace zorvane::win_module {
namespace {

const wchar_t record_property[] = L"ZorvaneLib.Subclass";

struct record {
    WNDPROC previous = nullptr;
    bool unicode = true;
    bool hide_focus = false;
    bool min_size = false;
    LONG min_width = 0;
    LONG min_height = 0;
};

record* record_of(HWND window) noexcept { return static_cast<record*>(GetPropW(window, record_property)); }

LRESULT pass_on(const record& r, HWND window, UINT message, WPARAM w, LPARAM l) {
    return r.unicode ? CallWindowProcW(r.previous, window, message, w, l)
                     : CallWindowProcA(r.previous, window, message, w, l);
}

LRESULT CALLBACK subclass_procedure(HWND window, UINT message, WPARAM w, LPARAM l);

WNDPROC current_procedure(HWND window, bool unicode) noexcept {
    return reinterpret_cast<WNDPROC>(unicode ? GetWindowLongPtrW(window, GWLP_WNDPROC)
                                             : GetWindowLongPtrA(window, GWLP_WNDPROC));
}

WNDPROC set_procedure(HWND window, bool unicode, WNDPROC procedure) noexcept {
    const auto value = reinterpret_cast<LONG_PTR>(procedure);
    return reinterpret_cast<WNDPROC>(unicode ? SetWindowLongPtrW(window, GWLP_WNDPROC, value)
                                             : SetWindowLongPtrA(window, GWLP_WNDPROC, value));
}

// The window's record, subclassing it first when it has none; null for a window we cannot subclass.
record* attach(HWND window) noexcept {
    if (!window || !IsWindow(window)) return nullptr;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return nullptr;
    if (record* existing = record_of(window)) return existing;

    auto* fresh = new (std::nothrow) record;
    if (!fresh) return nullptr;
    fresh->unicode = IsWindowUnicode(window) != FALSE;
    if (!SetPropW(window, record_property, fresh)) {
        delete fresh;
        return nullptr;
    }
    SetLastError(0);
    fresh->previous = set_procedure(window, fresh->unicode, &subclass_procedure);
    if (!fresh->previous && GetLastError()) {
        RemovePropW(window, record_property);
        delete fresh;
        return nullptr;
    }
    module::add_ref();  // the library stays loaded while a window runs its code
    return fresh;
}

// Gives the window back its procedure when ours is still the one installed, and forgets the record.
bool detach(HWND window, record* r, bool destroying) noexcept {
    if (current_procedure(window, r->unicode) != &subclass_procedure && !destroying) return false;
    if (current_procedure(window, r->unicode) == &subclass_procedure) set_procedure(window, r->unicode, r->previous);
    RemovePropW(window, record_property);
    delete r;
    module::release();
    return true;
}

LRESULT CALLBACK subclass_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    record* r = record_of(window);
    if (!r) return DefWindowProcW(window, message, w, l);
    if (message == WM_NCDESTROY) {
        const record last = *r;
        detach(window, r, true);
        return pass_on(last, window, message, w, l);
    }
    if (message == WM_SETFOCUS && r->hide_focus) return FocusWindowProc(window, message, w, l);
    if (message == WM_GETMINMAXINFO && r->min_size) return MinSizeWindowProc(window, message, w, l);
    return pass_on(*r, window, message, w, l);
}

} // namespace

LRESULT CALLBACK FocusWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_SETFOCUS) return 0;  // the window takes the focus but is not told so
    const record* r = record_of(window);
    return r ? pass_on(*r, window, message, w, l) : DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK MinSizeWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    const record* r = record_of(window);
    if (!r) return DefWindowProcW(window, message, w, l);
    if (message != WM_GETMINMAXINFO) return pass_on(*r, window, message, w, l);
    if (auto* info = reinterpret_cast<MINMAXINFO*>(l)) {
        info->ptMinTrackSize.x = r->min_width;
        info->ptMinTrackSize.y = r->min_height;
    }
    return r->unicode ? DefWindowProcW(window, message, w, l) : DefWindowProcA(window, message, w, l);
}

void hide_focus(HWND window) noexcept {
    if (record* r = attach(window)) r->hide_focus = true;
}

void show_focus(HWND window) noexcept {
    record* r = window ? record_of(window) : nullptr;
    if (!r || !r->hide_focus) return;  // never hidden: nothing to give back
    r->hide_focus = false;
    if (!r->min_size) detach(window, r, false);  // stays installed, passing all on, if someone came after us
}

void stop_resize(HWND window, LONG min_width, LONG min_height) noexcept {
    if (record* r = attach(window)) {
        r->min_width = min_width;
        r->min_height = min_height;
        r->min_size = true;
    }
}

} // namespace zorvane::win_module
