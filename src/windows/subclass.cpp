// One record per subclassed window, in a table of the library's own, removed with the window.
#include "windows/subclass.h"

#include "library/module.h"
#include "library/text.h"

#include <mutex>
#include <new>

namespace zorvane::win_module {
namespace {

// What the library asked of one window it subclassed. The records live here and nowhere else: never in
// anything another program can write, such as a window property, so a handle names a record only when this
// library made it.
struct record {
    HWND window = nullptr;
    WNDPROC previous = nullptr;
    bool unicode = true;
    bool hide_focus = false;
    bool min_size = false;
    LONG min_width = 0;
    LONG min_height = 0;
    record* next = nullptr;
};

// The table, newest first. The lock is never held while a window procedure runs: readers take a copy.
slim_lock table_lock;
record* table = nullptr;

record* find_locked(HWND window) noexcept {
    for (record* r = table; r; r = r->next)
        if (r->window == window) return r;
    return nullptr;
}

// A copy of the window's record; false when the library keeps none for it.
bool look_up(HWND window, record& copy) noexcept {
    std::lock_guard guard(table_lock);
    const record* r = find_locked(window);
    if (!r) return false;
    copy = *r;
    return true;
}

template <typename Change>
void change(HWND window, Change&& apply) noexcept {
    std::lock_guard guard(table_lock);
    if (record* r = find_locked(window)) apply(*r);
}

// Removes the window's record; the library's count goes with it.
void forget(HWND window) noexcept {
    record* gone = nullptr;
    {
        std::lock_guard guard(table_lock);
        for (record** at = &table; *at; at = &(*at)->next) {
            if ((*at)->window == window) {
                gone = *at;
                *at = gone->next;
                break;
            }
        }
    }
    if (!gone) return;
    delete gone;
    module::release();
}

bool owned_here(HWND window) noexcept {
    if (!window || !IsWindow(window)) return false;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

LRESULT pass_on(const record& r, HWND window, UINT message, WPARAM w, LPARAM l) {
    return r.unicode ? CallWindowProcW(r.previous, window, message, w, l)
                     : CallWindowProcA(r.previous, window, message, w, l);
}

LRESULT CALLBACK subclass_procedure(HWND window, UINT message, WPARAM w, LPARAM l);

WNDPROC current_procedure(HWND window, bool unicode) noexcept {
    return reinterpret_cast<WNDPROC>(unicode ? GetWindowLongPtrW(window, GWLP_WNDPROC)
                                             : GetWindowLongPtrA(window, GWLP_WNDPROC));
}

// Installs `procedure`; false when the system refused (the window keeps the one it had).
bool set_procedure(HWND window, bool unicode, WNDPROC procedure, WNDPROC* previous = nullptr) noexcept {
    const auto value = reinterpret_cast<LONG_PTR>(procedure);
    SetLastError(0);
    const auto before = reinterpret_cast<WNDPROC>(unicode ? SetWindowLongPtrW(window, GWLP_WNDPROC, value)
                                                          : SetWindowLongPtrA(window, GWLP_WNDPROC, value));
    if (!before && GetLastError()) return false;
    if (previous) *previous = before;
    return true;
}

// Subclasses a window of this process unless the library already has; false for a window it cannot subclass.
bool attach(HWND window) noexcept {
    if (!owned_here(window)) return false;
    auto* fresh = new (std::nothrow) record;
    if (!fresh) return false;
    fresh->window = window;
    fresh->unicode = IsWindowUnicode(window) != FALSE;
    fresh->previous = current_procedure(window, fresh->unicode);
    {
        std::lock_guard guard(table_lock);
        if (find_locked(window)) {
            delete fresh;
            return true;
        }
        // In the table before the procedure is installed: the first message it gets finds its record.
        fresh->next = table;
        table = fresh;
    }
    module::add_ref();  // the library stays loaded while a window runs its code
    WNDPROC previous = nullptr;
    if (!set_procedure(window, fresh->unicode, &subclass_procedure, &previous)) {
        forget(window);
        return false;
    }
    change(window, [&](record& r) { r.previous = previous; });
    return true;
}

LRESULT CALLBACK subclass_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    // Whatever the host does while a message is passed on (show the focus again, free the library), this code
    // stays loaded until the message has been handled.
    const module::count alive;
    record r;
    if (!look_up(window, r)) return DefWindowProcW(window, message, w, l);
    if (message == WM_NCDESTROY) {
        if (current_procedure(window, r.unicode) == &subclass_procedure) set_procedure(window, r.unicode, r.previous);
        forget(window);
        return pass_on(r, window, message, w, l);
    }
    if (message == WM_SETFOCUS && r.hide_focus) return FocusWindowProc(window, message, w, l);
    if (message == WM_GETMINMAXINFO && r.min_size) return MinSizeWindowProc(window, message, w, l);
    return pass_on(r, window, message, w, l);
}

} // namespace

LRESULT CALLBACK FocusWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_SETFOCUS) return 0;  // the window takes the focus but is not told so
    record r;
    return look_up(window, r) ? pass_on(r, window, message, w, l) : DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK MinSizeWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    record r;
    if (!look_up(window, r)) return DefWindowProcW(window, message, w, l);
    if (message != WM_GETMINMAXINFO) return pass_on(r, window, message, w, l);
    if (auto* info = reinterpret_cast<MINMAXINFO*>(l)) {
        info->ptMinTrackSize.x = r.min_width;
        info->ptMinTrackSize.y = r.min_height;
    }
    return r.unicode ? DefWindowProcW(window, message, w, l) : DefWindowProcA(window, message, w, l);
}

void hide_focus(HWND window) noexcept {
    if (attach(window)) change(window, [](record& r) { r.hide_focus = true; });
}

void show_focus(HWND window) noexcept {
    record r;
    if (!owned_here(window) || !look_up(window, r) || !r.hide_focus) return;  // never hidden: nothing to give back
    // The window gets its own procedure back when nothing else needs ours and ours is still the one installed;
    // when someone subclassed it after us, ours stays in the chain, passing everything on.
    if (!r.min_size && current_procedure(window, r.unicode) == &subclass_procedure) {
        if (!set_procedure(window, r.unicode, r.previous)) return;  // refused: everything stays as it was
        forget(window);
        return;
    }
    change(window, [](record& kept) { kept.hide_focus = false; });
}

void stop_resize(HWND window, LONG min_width, LONG min_height) noexcept {
    if (!attach(window)) return;
    change(window, [&](record& r) {
        r.min_width = min_width;
        r.min_height = min_height;
        r.min_size = true;
    });
}

} // namespace zorvane::win_module
