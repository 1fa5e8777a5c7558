// Focus hiding and minimum size on windows of the test's own classes: both at once, a later subclass, ANSI
// windows, calls as scripts make them, and a real drag of a form's border.
#include "support/dispatch_call.h"
#include "support/ocx.h"
#include "support/published.h"
#include "support/window_messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

enum place : int { hide_focus = 46, show_focus = 47, stop_resize = 50 };
enum dispid : DISPID { id_hide_focus = 0x6003002F, id_show_focus = 0x60030030, id_stop_resize = 0x60030033 };

using zvtest::id_of;
using zvtest::pump;

// What the forms' own class procedure told the watched window.
struct told {
    HWND watched = nullptr;
    int set_focus = 0;
    int min_max = 0;
    std::string ansi_text;
};
told seen;

void watch(HWND window) {
    seen = {};
    seen.watched = window;
}

// The system's size loop starting and ending (in whichever form).
std::atomic<int> entered_size_loop{0}, left_size_loop{0};

LRESULT CALLBACK wide_form(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_ENTERSIZEMOVE) ++entered_size_loop;
    if (message == WM_EXITSIZEMOVE) ++left_size_loop;
    if (message == WM_SETFOCUS && window == seen.watched) ++seen.set_focus;
    if (message == WM_GETMINMAXINFO && window == seen.watched) ++seen.min_max;
    return DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK ansi_form(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_SETFOCUS && window == seen.watched) ++seen.set_focus;
    if (message == WM_GETMINMAXINFO && window == seen.watched) ++seen.min_max;
    if (message == WM_SETTEXT && l) seen.ansi_text = reinterpret_cast<const char*>(l);
    return DefWindowProcA(window, message, w, l);
}

// A subclass the test installs after the control's, counting what passes through it.
struct later_subclass {
    static inline WNDPROC next = nullptr;
    static inline int set_focus = 0;
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_SETFOCUS) ++set_focus;
        return CallWindowProcW(next, window, message, w, l);
    }
    explicit later_subclass(HWND window) {
        set_focus = 0;
        next = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&procedure)));
    }
};

POINT min_track(HWND window, bool ansi = false) {
    MINMAXINFO info{};
    info.ptReserved = {11, 12};
    info.ptMaxSize = {1111, 2222};
    info.ptMaxPosition = {5, 6};
    info.ptMaxTrackSize = {3333, 4444};
    info.ptMinTrackSize = {7, 8};
    if (ansi)
        SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    else
        SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(1111, info.ptMaxSize.x);  // everything else as it was put
    EXPECT_EQ(2222, info.ptMaxSize.y);
    EXPECT_EQ(5, info.ptMaxPosition.x);
    EXPECT_EQ(6, info.ptMaxPosition.y);
    EXPECT_EQ(3333, info.ptMaxTrackSize.x);
    EXPECT_EQ(4444, info.ptMaxTrackSize.y);
    return info.ptMinTrackSize;
}

struct subclassing : ::testing::Test {
    static void SetUpTestSuite() {
        WNDCLASSW wide{};
        wide.lpfnWndProc = &wide_form;
        wide.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wide.lpszClassName = L"zv wide form";
        RegisterClassW(&wide);
        WNDCLASSA ansi{};
        ansi.lpfnWndProc = &ansi_form;
        ansi.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        ansi.lpszClassName = "zv ansi form";
        RegisterClassA(&ansi);
    }
    void SetUp() override {
        seen = {};
        open_control();
    }
    void TearDown() override {
        for (HWND w : made)
            if (IsWindow(w)) DestroyWindow(w);
        pump();
        if (dual) dual->Release();
        EXPECT_EQ(S_OK, zvtest::can_unload_now());  // every subclassed window is gone
    }
    void open_control() {
        IUnknown* object = zvtest::new_control();
        ASSERT_EQ(S_OK, object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&dual)));
        object->Release();
    }
    HWND form(bool ansi = false, int x = 100, int y = 100, int width = 400, int height = 300) {
        const DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
        HWND w = ansi ? CreateWindowExA(0, "zv ansi form", "ansi", style, x, y, width, height, nullptr, nullptr,
                                        nullptr, nullptr)
                      : CreateWindowExW(0, L"zv wide form", L"wide", style, x, y, width, height, nullptr, nullptr,
                                        nullptr, nullptr);
        made.push_back(w);
        pump();
        return w;
    }

    void* entry(int which) { return (*reinterpret_cast<void***>(dual))[489 + which]; }
    HRESULT window_call(int which, HWND window) {
        LONG handle = id_of(window);
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, LONG*)>(entry(which))(dual, &handle);
    }
    HRESULT resize(HWND window, VARIANT* width, SHORT height) {
        using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, LONG*, VARIANT*, SHORT*);
        LONG handle = id_of(window);
        return reinterpret_cast<method>(entry(stop_resize))(dual, &handle, width, &height);
    }
    HRESULT resize(HWND window, LONG width, SHORT height) {
        VARIANT v;
        V_VT(&v) = VT_I4;
        V_I4(&v) = width;
        return resize(window, &v, height);
    }

    // IDispatch::Invoke with every argument a variable, as VBScript passes them (VT_BYREF | VT_VARIANT).
    HRESULT invoke(DISPID id, std::initializer_list<VARIANT*> variables) {
        zvtest::dispatch_call call;
        for (VARIANT* v : variables) call.ref(v);
        const HRESULT hr = call.invoke(dual, id);
        EXPECT_EQ(VT_EMPTY, V_VT(&call.result));
        return hr;
    }

    IDispatch* dual = nullptr;
    std::vector<HWND> made;
};

TEST_F(subclassing, focus_hidden_and_minimum_on_one_form) {
    HWND one = form(), other = form(false, 520, 100);
    SetForegroundWindow(one);
    EXPECT_EQ(S_OK, resize(one, 300, 200));
    EXPECT_EQ(S_OK, window_call(hide_focus, one));
    EXPECT_EQ(S_OK, resize(one, 310, 210));  // again: only the minimum changes
    watch(one);

    SetFocus(other);
    SetFocus(one);
    EXPECT_EQ(one, GetFocus());
    EXPECT_EQ(0, seen.set_focus);
    POINT m = min_track(one);
    EXPECT_EQ(310, m.x);
    EXPECT_EQ(210, m.y);
    EXPECT_EQ(0, seen.min_max);  // the form's own procedure never sees the minimum asked for

    EXPECT_EQ(S_OK, window_call(show_focus, one));
    SetFocus(other);
    SetFocus(one);
    EXPECT_EQ(1, seen.set_focus);
    m = min_track(one);  // the minimum outlives the focus subclass
    EXPECT_EQ(310, m.x);
    EXPECT_EQ(210, m.y);

    // A window that is only sized keeps the library loaded until it goes.
    dual->Release();
    dual = nullptr;
    EXPECT_EQ(S_FALSE, zvtest::can_unload_now());
    DestroyWindow(one);
    EXPECT_EQ(S_OK, zvtest::can_unload_now());
    open_control();
}

TEST_F(subclassing, a_later_subclass_keeps_working_when_the_focus_is_shown) {
    HWND one = form(), other = form(false, 520, 100);
    SetForegroundWindow(one);
    EXPECT_EQ(S_OK, window_call(hide_focus, one));
    later_subclass later(one);
    SetFocus(other);
    watch(one);
    SetFocus(one);
    EXPECT_EQ(1, later_subclass::set_focus);  // it sits before the control's procedure
    EXPECT_EQ(0, seen.set_focus);

    // The control's procedure cannot be taken out of the chain; it stays and lets WM_SETFOCUS through.
    EXPECT_EQ(S_OK, window_call(show_focus, one));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&later_subclass::procedure), GetWindowLongPtrW(one, GWLP_WNDPROC));
    SetFocus(other);
    SetFocus(one);
    EXPECT_EQ(2, later_subclass::set_focus);
    EXPECT_EQ(1, seen.set_focus);

    EXPECT_EQ(S_OK, window_call(hide_focus, one));  // and hides again
    SetFocus(other);
    SetFocus(one);
    EXPECT_EQ(1, seen.set_focus);
    EXPECT_EQ(S_OK, resize(one, 250, 150));
    EXPECT_EQ(250, min_track(one).x);

    dual->Release();
    dual = nullptr;
    EXPECT_EQ(S_FALSE, zvtest::can_unload_now());
    DestroyWindow(one);
    EXPECT_EQ(S_OK, zvtest::can_unload_now());
    open_control();
}

TEST_F(subclassing, ansi_forms_stay_ansi) {
    HWND ansi = form(true), wide = form(false, 520, 100);
    ASSERT_FALSE(IsWindowUnicode(ansi));
    ASSERT_TRUE(IsWindowUnicode(wide));
    EXPECT_EQ(S_OK, resize(ansi, 320, 220));
    EXPECT_EQ(S_OK, window_call(hide_focus, ansi));
    EXPECT_EQ(S_OK, resize(wide, 330, 230));
    EXPECT_FALSE(IsWindowUnicode(ansi));
    EXPECT_TRUE(IsWindowUnicode(wide));

    SendMessageW(ansi, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"through the chain"));
    EXPECT_EQ("through the chain", seen.ansi_text);
    char text[32] = {};
    GetWindowTextA(ansi, text, 32);
    EXPECT_STREQ("through the chain", text);
    POINT m = min_track(ansi, true);
    EXPECT_EQ(320, m.x);
    EXPECT_EQ(220, m.y);
    m = min_track(ansi);
    EXPECT_EQ(320, m.x);
    m = min_track(wide);
    EXPECT_EQ(330, m.x);
    EXPECT_EQ(230, m.y);

    EXPECT_EQ(S_OK, window_call(show_focus, ansi));
    EXPECT_FALSE(IsWindowUnicode(ansi));
    EXPECT_EQ(320, min_track(ansi, true).x);
}

TEST_F(subclassing, calls_as_scripts_make_them) {
    HWND one = form(), other = form(false, 520, 100);
    SetForegroundWindow(one);
    VARIANT handle;
    V_VT(&handle) = VT_I4;
    V_I4(&handle) = id_of(one);
    EXPECT_EQ(S_OK, invoke(id_hide_focus, {&handle}));
    SetFocus(other);
    watch(one);
    SetFocus(one);
    EXPECT_EQ(one, GetFocus());
    EXPECT_EQ(0, seen.set_focus);
    EXPECT_EQ(S_OK, invoke(id_show_focus, {&handle}));
    SetFocus(other);
    SetFocus(one);
    EXPECT_EQ(1, seen.set_focus);

    // Width as Double, Integer height as a Long variable.
    VARIANT width, height;
    V_VT(&width) = VT_R8;
    V_R8(&width) = 300.5;
    V_VT(&height) = VT_I4;
    V_I4(&height) = 200;
    EXPECT_EQ(S_OK, invoke(id_stop_resize, {&handle, &width, &height}));
    POINT m = min_track(one);
    EXPECT_EQ(300, m.x);
    EXPECT_EQ(200, m.y);
    EXPECT_EQ(VT_R8, V_VT(&width));  // the variables are left as they were
    EXPECT_EQ(300.5, V_R8(&width));
    EXPECT_EQ(VT_I4, V_VT(&handle));

    V_VT(&width) = VT_BSTR;
    V_BSTR(&width) = SysAllocString(L"275");
    EXPECT_EQ(S_OK, invoke(id_stop_resize, {&handle, &width, &height}));
    EXPECT_EQ(275, min_track(one).x);
    SysFreeString(V_BSTR(&width));
    V_BSTR(&width) = SysAllocString(L"wide");
    EXPECT_EQ(S_OK, invoke(id_stop_resize, {&handle, &width, &height}));  // no number: nothing changes
    EXPECT_EQ(275, min_track(one).x);
    VariantClear(&width);

    // A Variant variable handed straight to the early-bound entry.
    VARIANT inner, outer;
    V_VT(&inner) = VT_R8;
    V_R8(&inner) = 299.5;
    V_VT(&outer) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&outer) = &inner;
    EXPECT_EQ(S_OK, resize(one, &outer, 180));
    m = min_track(one);
    EXPECT_EQ(300, m.x);
    EXPECT_EQ(180, m.y);
}

TEST_F(subclassing, windows_that_cannot_be_subclassed) {
    HWND gone = form();
    DestroyWindow(gone);
    EXPECT_EQ(S_OK, window_call(hide_focus, gone));
    EXPECT_EQ(S_OK, resize(gone, 300, 200));
    EXPECT_EQ(S_OK, window_call(show_focus, gone));
    EXPECT_EQ(S_OK, window_call(hide_focus, nullptr));
    EXPECT_EQ(S_OK, resize(nullptr, 300, 200));
    EXPECT_EQ(S_OK, window_call(hide_focus, reinterpret_cast<HWND>(static_cast<LONG_PTR>(-2))));

    // A window of another thread of this process is subclassed like any other.
    HWND elsewhere = nullptr;
    HANDLE made_it = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([&] {
        elsewhere = CreateWindowExW(0, L"zv wide form", L"elsewhere", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, nullptr,
                                    nullptr, nullptr, nullptr);
        SetEvent(made_it);
        while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) pump();
        DestroyWindow(elsewhere);
    });
    WaitForSingleObject(made_it, INFINITE);
    EXPECT_EQ(S_OK, resize(elsewhere, 280, 190));
    EXPECT_EQ(280, min_track(elsewhere).x);
    SetEvent(done);
    owner.join();
    CloseHandle(made_it);
    CloseHandle(done);
}

// ---- A drag of the border ---------------------------------------------------------------------------------------

void mouse(DWORD flags, POINT at) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof(input));
}

bool wait_for(const std::atomic<int>& counter, int value) {
    for (int i = 0; i < 500 && counter < value; ++i) Sleep(10);
    return counter >= value;
}

// Presses the left button at `from`, moves to `to` in steps and lets go, while this thread runs the size loop.
RECT drag(HWND window, POINT from, POINT to) {
    std::atomic<bool> finished{false};
    const int loops = entered_size_loop;
    std::thread hand([&] {
        mouse(0, from);
        Sleep(50);
        mouse(MOUSEEVENTF_LEFTDOWN, from);
        if (wait_for(entered_size_loop, loops + 1)) {
            for (int step = 1; step <= 10; ++step) {
                mouse(0, {from.x + (to.x - from.x) * step / 10, from.y + (to.y - from.y) * step / 10});
                Sleep(20);
            }
        }
        mouse(MOUSEEVENTF_LEFTUP, to);
        wait_for(left_size_loop, loops + 1);
        finished = true;
    });
    while (!finished) {
        pump();
        Sleep(5);
    }
    hand.join();
    pump();
    EXPECT_EQ(loops + 1, entered_size_loop);
    EXPECT_EQ(loops + 1, left_size_loop);
    RECT now{};
    GetWindowRect(window, &now);
    return now;
}

TEST_F(subclassing, dragging_the_border_stops_at_the_minimum) {
    HWND one = form(false, 100, 100, 400, 300);
    SetForegroundWindow(one);
    EXPECT_EQ(S_OK, resize(one, 300, 200));
    RECT before;
    GetWindowRect(one, &before);
    const POINT corner{before.right - 2, before.bottom - 2};
    ASSERT_EQ(HTBOTTOMRIGHT, SendMessageW(one, WM_NCHITTEST, 0, MAKELPARAM(corner.x, corner.y)));

    RECT after = drag(one, corner, {before.left + 50, before.top + 50});
    EXPECT_EQ(300, after.right - after.left);
    EXPECT_EQ(200, after.bottom - after.top);
    EXPECT_EQ(before.left, after.left);

    // Above the minimum the border follows the mouse.
    const POINT now{after.right - 2, after.bottom - 2};
    after = drag(one, now, {now.x + 60, now.y + 40});
    EXPECT_EQ(360, after.right - after.left);
    EXPECT_EQ(240, after.bottom - after.top);
}

} // namespace
