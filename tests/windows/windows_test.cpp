// HideFocus, ShowFocus, StopResizeForm, HideDesktop and ShowDesktop on real windows under the test display.
#include "support/dispatch_call.h"
#include "support/ocx.h"
#include "support/published.h"
#include "support/window_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

enum place : int { hide_focus = 46, show_focus = 47, show_desktop = 48, hide_desktop = 49, stop_resize = 50 };

using zvtest::id_of;
using zvtest::pump;

// Counts WM_SETFOCUS reaching a window's own procedure (installed before the control's).
struct focus_spy {
    HWND window;
    WNDPROC original;
    int seen = 0;
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<focus_spy*>(GetPropW(window, L"zv spy"));
        if (message == WM_SETFOCUS) ++self->seen;
        return CallWindowProcW(self->original, window, message, w, l);
    }
    explicit focus_spy(HWND w) : window(w) {
        SetPropW(window, L"zv spy", this);
        original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&procedure)));
    }
    ~focus_spy() { DestroyWindow(window); }  // while the spy it calls still exists
};

struct windows : ::testing::Test {
    void SetUp() override {
        IUnknown* object = zvtest::new_control();
        ASSERT_EQ(S_OK, object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&dual)));
        object->Release();
        form = CreateWindowExW(0, L"STATIC", L"form", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 300, nullptr,
                               nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        if (form) DestroyWindow(form);
        pump();
        if (dual) dual->Release();
        EXPECT_EQ(S_OK, zvtest::can_unload_now());  // every subclassed window is gone
    }
    HRESULT window_call(int which, HWND window) {
        using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, LONG*);
        LONG handle = id_of(window);
        const HRESULT hr = reinterpret_cast<method>(entry(which))(dual, &handle);
        EXPECT_EQ(id_of(window), handle);
        return hr;
    }
    HRESULT resize(HWND window, VARIANT width, SHORT height) {
        using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, LONG*, VARIANT*, SHORT*);
        LONG handle = id_of(window);
        const HRESULT hr = reinterpret_cast<method>(entry(stop_resize))(dual, &handle, &width, &height);
        VariantClear(&width);
        return hr;
    }
    HRESULT plain(int which) {
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*)>(entry(which))(dual);
    }
    void* entry(int which) { return (*reinterpret_cast<void***>(dual))[489 + which]; }

    HWND child(const wchar_t* cls, int x, bool ansi = false) {
        if (ansi)
            return CreateWindowExA(0, "BUTTON", "ansi", WS_CHILD | WS_VISIBLE | WS_TABSTOP, x, 10, 80, 30, form, nullptr,
                                   nullptr, nullptr);
        return CreateWindowExW(0, cls, L"x", WS_CHILD | WS_VISIBLE | WS_TABSTOP, x, 10, 80, 30, form, nullptr,
                               nullptr, nullptr);
    }

    IDispatch* dual = nullptr;
    HWND form = nullptr;
};

TEST_F(windows, hidden_focus_moves_without_the_window_being_told) {
    HWND first = child(L"BUTTON", 10), second = child(L"BUTTON", 100), edit = child(L"EDIT", 200);
    focus_spy spy_first(first), spy_edit(edit);
    SetForegroundWindow(form);
    SetFocus(second);

    EXPECT_EQ(S_OK, window_call(hide_focus, first));
    EXPECT_EQ(S_OK, window_call(hide_focus, first));  // twice is harmless
    EXPECT_EQ(S_OK, window_call(hide_focus, edit));   // another class at the same time
    SetFocus(first);
    EXPECT_EQ(first, GetFocus());
    EXPECT_EQ(0, spy_first.seen);
    SetFocus(edit);
    EXPECT_EQ(edit, GetFocus());
    EXPECT_EQ(0, spy_edit.seen);
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"still works"));
    wchar_t text[32] = {};
    GetWindowTextW(edit, text, 32);
    EXPECT_STREQ(L"still works", text);

    EXPECT_EQ(S_OK, window_call(show_focus, first));
    SetFocus(second);
    SetFocus(first);
    EXPECT_EQ(1, spy_first.seen);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&focus_spy::procedure), GetWindowLongPtrW(first, GWLP_WNDPROC));

    // A window that was never hidden keeps its procedure.
    const LONG_PTR before = GetWindowLongPtrW(second, GWLP_WNDPROC);
    EXPECT_EQ(S_OK, window_call(show_focus, second));
    EXPECT_EQ(before, GetWindowLongPtrW(second, GWLP_WNDPROC));
    EXPECT_EQ(S_OK, window_call(show_focus, nullptr));
    EXPECT_EQ(S_OK, window_call(hide_focus, reinterpret_cast<HWND>(static_cast<LONG_PTR>(0x1234567))));
}

TEST_F(windows, each_window_keeps_its_character_set) {
    HWND ansi = child(nullptr, 10, true), wide = child(L"BUTTON", 100);
    ASSERT_FALSE(IsWindowUnicode(ansi));
    window_call(hide_focus, ansi);
    window_call(hide_focus, wide);
    EXPECT_FALSE(IsWindowUnicode(ansi));
    EXPECT_TRUE(IsWindowUnicode(wide));
    SendMessageA(ansi, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("abc"));
    char text[8] = {};
    GetWindowTextA(ansi, text, 8);
    EXPECT_STREQ("abc", text);
}

TEST_F(windows, subclassed_windows_keep_the_library_loaded) {
    HWND button = child(L"BUTTON", 10);
    window_call(hide_focus, button);
    dual->Release();
    dual = nullptr;
    EXPECT_EQ(S_FALSE, zvtest::can_unload_now());
    DestroyWindow(button);  // the subclass goes with the window
    EXPECT_EQ(S_OK, zvtest::can_unload_now());
    IUnknown* object = zvtest::new_control();
    object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&dual));
    object->Release();
}

VARIANT number(double d) {
    VARIANT v;
    V_VT(&v) = VT_R8;
    V_R8(&v) = d;
    return v;
}

POINT min_track(HWND window) {
    MINMAXINFO info{};
    info.ptMaxSize = {1111, 2222};
    info.ptMaxTrackSize = {3333, 4444};
    info.ptMinTrackSize = {7, 8};
    SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(1111, info.ptMaxSize.x);  // the other fields as Windows put them
    EXPECT_EQ(4444, info.ptMaxTrackSize.y);
    return info.ptMinTrackSize;
}

TEST_F(windows, minimum_size_per_form) {
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 300, nullptr,
                                 nullptr, nullptr, nullptr);
    EXPECT_EQ(S_OK, resize(form, number(300), 200));
    EXPECT_EQ(S_OK, resize(other, zvtest::text_value(L"150"), 120));
    POINT m = min_track(form);
    EXPECT_EQ(300, m.x);
    EXPECT_EQ(200, m.y);
    m = min_track(other);
    EXPECT_EQ(150, m.x);  // each form its own minimum
    EXPECT_EQ(120, m.y);

    // The system's own sizing of a resizable window stops at the minimum; larger sizes are unaffected.
    SetWindowPos(form, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
    RECT now;
    GetWindowRect(form, &now);
    EXPECT_EQ(300, now.right - now.left);
    EXPECT_EQ(200, now.bottom - now.top);
    SetWindowPos(form, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(form, &now);
    EXPECT_EQ(640, now.right - now.left);

    EXPECT_EQ(S_OK, resize(form, number(299.5), 50));
    EXPECT_EQ(300, min_track(form).x);  // halves go to the even neighbour
    EXPECT_EQ(S_OK, resize(form, number(300.5), 50));
    EXPECT_EQ(300, min_track(form).x);
    VARIANT empty;
    VariantInit(&empty);
    EXPECT_EQ(S_OK, resize(form, empty, 50));
    EXPECT_EQ(0, min_track(form).x);
    EXPECT_EQ(S_OK, resize(form, number(320), 210));
    EXPECT_EQ(S_OK, resize(form, zvtest::text_value(L"abc"), 99));  // does not convert: nothing changes
    EXPECT_EQ(S_OK, resize(form, number(1e12), 99));
    m = min_track(form);
    EXPECT_EQ(320, m.x);
    EXPECT_EQ(210, m.y);
    EXPECT_EQ(S_OK, resize(reinterpret_cast<HWND>(static_cast<LONG_PTR>(0x7654321)), number(5), 5));

    // With the focus hidden as well, both hold, and showing the focus leaves the minimum.
    EXPECT_EQ(S_OK, window_call(hide_focus, form));
    EXPECT_EQ(S_OK, window_call(show_focus, form));
    EXPECT_EQ(320, min_track(form).x);
    DestroyWindow(other);
}

// ---- Desktop icons --------------------------------------------------------------------------------------------

struct standin {
    PROCESS_INFORMATION process{};
    explicit standin(const wchar_t* mode) {
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring line(path, length);
        line = L"\"" + line.substr(0, line.find_last_of(L'\\') + 1) + L"progman_standin.exe\" " + mode;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
    }
    HWND wait(const wchar_t* cls, bool with_view = true) {
        for (int i = 0; i < 500; ++i) {
            // Ready once it is shown and holds the icon view (the stand-in creates that last).
            HWND w = FindWindowW(cls, nullptr);
            if (w && IsWindowVisible(w) && (!with_view || FindWindowExW(w, nullptr, L"SHELLDLL_DefView", nullptr)))
                return w;
            Sleep(10);
        }
        return nullptr;
    }
    ~standin() {
        if (HWND w = FindWindowW(L"Progman", nullptr)) PostMessageW(w, WM_CLOSE, 0, 0);
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
    }
};

TEST_F(windows, desktop_icons_in_progman) {
    EXPECT_EQ(S_OK, plain(hide_desktop));  // no such window: nothing happens
    EXPECT_EQ(S_OK, plain(show_desktop));
    standin shell(L"progman");
    HWND progman = shell.wait(L"Progman");
    ASSERT_NE(nullptr, progman);
    EXPECT_TRUE(IsWindowVisible(progman));
    EXPECT_EQ(S_OK, plain(hide_desktop));
    EXPECT_FALSE(IsWindowVisible(progman));
    EXPECT_EQ(S_OK, plain(hide_desktop));
    EXPECT_FALSE(IsWindowVisible(progman));
    EXPECT_EQ(S_OK, plain(show_desktop));
    EXPECT_TRUE(IsWindowVisible(progman));
    EXPECT_EQ(S_OK, plain(show_desktop));
    EXPECT_TRUE(IsWindowVisible(progman));
}

TEST_F(windows, desktop_icons_in_a_worker_window) {
    standin shell(L"workerw");
    HWND worker = shell.wait(L"WorkerW");
    ASSERT_NE(nullptr, worker);
    HWND progman = FindWindowW(L"Progman", nullptr);
    ASSERT_NE(nullptr, progman);
    EXPECT_EQ(S_OK, plain(hide_desktop));
    EXPECT_FALSE(IsWindowVisible(worker));  // the window that holds the icons
    EXPECT_TRUE(IsWindowVisible(progman));
    EXPECT_EQ(S_OK, plain(show_desktop));
    EXPECT_TRUE(IsWindowVisible(worker));
}

TEST_F(windows, desktop_icons_in_progman_before_a_worker_window) {
    standin shell(L"both");
    HWND worker = shell.wait(L"WorkerW");
    ASSERT_NE(nullptr, worker);
    HWND progman = FindWindowW(L"Progman", nullptr);
    ASSERT_NE(nullptr, progman);
    HWND first = GetTopWindow(nullptr);
    while (first && first != worker && first != progman) first = GetWindow(first, GW_HWNDNEXT);
    EXPECT_EQ(worker, first);  // a search of the top-level windows meets the worker first
    EXPECT_EQ(S_OK, plain(hide_desktop));
    EXPECT_FALSE(IsWindowVisible(progman));
    EXPECT_TRUE(IsWindowVisible(worker));
    EXPECT_EQ(S_OK, plain(show_desktop));
    EXPECT_TRUE(IsWindowVisible(progman));
}

TEST_F(windows, desktop_icons_beside_the_wallpaper_in_progman) {
    // Windows 11 24H2: hiding Progman would hide the wallpaper its WorkerW child draws; the icon view goes alone.
    standin shell(L"wallpaper");
    HWND progman = shell.wait(L"Progman");
    ASSERT_NE(nullptr, progman);
    HWND view = FindWindowExW(progman, nullptr, L"SHELLDLL_DefView", nullptr);
    HWND wallpaper = FindWindowExW(progman, nullptr, L"WorkerW", nullptr);
    ASSERT_NE(nullptr, wallpaper);
    for (int round = 0; round < 2; ++round) {  // twice alike: nothing is remembered between calls
        EXPECT_EQ(S_OK, plain(hide_desktop));
        EXPECT_FALSE(IsWindowVisible(view));
        EXPECT_TRUE(IsWindowVisible(progman));
        EXPECT_TRUE(IsWindowVisible(wallpaper));
        EXPECT_EQ(S_OK, plain(show_desktop));
        EXPECT_TRUE(IsWindowVisible(view));
    }
}

TEST_F(windows, desktop_icons_without_a_view_use_progman) {
    standin shell(L"bare");
    HWND progman = shell.wait(L"Progman", false);
    ASSERT_NE(nullptr, progman);
    EXPECT_EQ(S_OK, plain(hide_desktop));
    EXPECT_FALSE(IsWindowVisible(progman));
    EXPECT_EQ(S_OK, plain(show_desktop));
    EXPECT_TRUE(IsWindowVisible(progman));

    // A window of another process is never subclassed: the library is not held by it (see TearDown).
    EXPECT_EQ(S_OK, window_call(hide_focus, progman));
    EXPECT_EQ(S_OK, resize(progman, number(300), 200));
}

// ---- Records are the library's own ---------------------------------------------------------------------------

// A window counts as subclassed only by the library's own record: a property under the name the library once kept
// its records in, put on a window by another program, is never read.
TEST_F(windows, forged_records_are_never_read) {
    const auto forged = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x414141414140ull));
    const wchar_t name[] = L"ZorvaneLib.Subclass";

    // A window of another process: all three methods leave it alone.
    standin other(L"bare");
    HWND foreign = other.wait(L"Progman", false);
    ASSERT_NE(nullptr, foreign);
    ASSERT_TRUE(SetPropW(foreign, name, forged));
    EXPECT_EQ(S_OK, window_call(show_focus, foreign));
    EXPECT_EQ(S_OK, window_call(hide_focus, foreign));
    EXPECT_EQ(S_OK, resize(foreign, number(300), 200));
    EXPECT_EQ(S_OK, window_call(show_focus, foreign));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(other.process.hProcess, 0));

    // A window of this process that was never subclassed: ShowFocus gives nothing back.
    HWND own = child(L"BUTTON", 10);
    const LONG_PTR own_procedure = GetWindowLongPtrW(own, GWLP_WNDPROC);
    ASSERT_TRUE(SetPropW(own, name, forged));
    EXPECT_EQ(S_OK, window_call(show_focus, own));
    EXPECT_EQ(own_procedure, GetWindowLongPtrW(own, GWLP_WNDPROC));

    // Subclassed, then the property forged: messages still reach the window, and ShowFocus restores it.
    EXPECT_EQ(S_OK, window_call(hide_focus, own));
    EXPECT_NE(own_procedure, GetWindowLongPtrW(own, GWLP_WNDPROC));
    ASSERT_TRUE(SetPropW(own, name, forged));
    SendMessageW(own, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"still answers"));
    wchar_t text[32] = {};
    GetWindowTextW(own, text, 32);
    EXPECT_STREQ(L"still answers", text);
    EXPECT_EQ(S_OK, window_call(show_focus, own));
    EXPECT_EQ(own_procedure, GetWindowLongPtrW(own, GWLP_WNDPROC));
    RemovePropW(own, name);
    RemovePropW(foreign, name);
}

} // namespace
