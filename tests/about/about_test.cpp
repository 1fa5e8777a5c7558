// ShowAbout's box under the test display: opened through Invoke of -552 on a thread of its own, driven and
// inspected from the test's thread, closed by the test.
#include "support/dispatch_call.h"
#include "support/iat_hook.h"
#include "support/ocx.h"
#include "support/published.h"
#include "support/window_messages.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

enum element : int { pic_logo = 100, logo_1, logo_0, logo_3, btn_close, btn_help, btn_mailto };
const wchar_t form_class[] = L"ZorvaneLibAboutForm";
const wchar_t caption[] = L"О контроле...";

template <typename F>
const void* fn(F f) {
    return reinterpret_cast<const void*>(f);
}

std::wstring shell_file;
std::atomic<int> shell_calls{0};
BOOL WINAPI spy_shell(SHELLEXECUTEINFOW* request) {
    shell_file = request->lpFile ? request->lpFile : L"(null)";
    ++shell_calls;
    return TRUE;
}

struct help_call {
    HWND window = nullptr;
    std::wstring file;
    UINT command = 0;
    ULONG_PTR data = 1;
} help;
std::atomic<int> help_calls{0};
BOOL WINAPI spy_help(HWND window, LPCWSTR file, UINT command, ULONG_PTR data) {
    help = {window, file ? file : L"", command, data};
    ++help_calls;
    return FALSE;  // no help file: the box goes on
}

// The box looks for its help file when "?" is clicked (and asks WinHelp only when it is there).
std::atomic<int> help_lookups{0};
DWORD WINAPI spy_attributes(LPCWSTR name) {
    const std::wstring text = name ? name : L"";
    if (text.size() >= 9 && !lstrcmpiW(text.c_str() + text.size() - 9, L"\\Help.hlp")) ++help_lookups;
    return GetFileAttributesW(name);
}

HWND WINAPI failing_create_window(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE,
                                  LPVOID) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

template <typename Condition>
bool wait_until(Condition condition, int milliseconds = 3000) {
    for (int waited = 0; !condition(); waited += 10) {
        if (waited >= milliseconds) return false;
        Sleep(10);
    }
    return true;
}

// A new control from `module`'s own class factory, as its dual interface.
IDispatch* control_of(HMODULE module) {
    using get_class_object = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<get_class_object>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(zvtest::clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    IDispatch* dual = nullptr;
    factory->CreateInstance(nullptr, zvtest::iid_zorvane, reinterpret_cast<void**>(&dual));
    factory->Release();
    return dual;
}

HRESULT show_about(IDispatch* dual) { return zvtest::dispatch_call(zvtest::hand_nothing).invoke(dual, -552); }

bool is_form(HWND window) {
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    return !lstrcmpW(cls, form_class);
}

BOOL CALLBACK find_visible_form(HWND window, LPARAM out) {
    if (!is_form(window) || !IsWindowVisible(window)) return TRUE;
    wchar_t text[64] = {};
    GetWindowTextW(window, text, 64);  // asks the form's thread, which runs the box's modal loop
    if (lstrcmpW(text, caption)) return TRUE;
    *reinterpret_cast<HWND*>(out) = window;
    return FALSE;
}

BOOL CALLBACK close_form(HWND window, LPARAM) {
    if (is_form(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// The visible About form of `thread`, null when there is none.
HWND form_of(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(thread, &find_visible_form, reinterpret_cast<LPARAM>(&found));
    return found;
}

void close_forms_of(DWORD thread) { EnumThreadWindows(thread, &close_form, 0); }

struct box_options {
    bool com = true;           // CoInitialize on the box's thread
    bool host = false;         // a visible, active top-level window of that thread before ShowAbout
    HMODULE module = nullptr;  // the OCX whose class factory makes the control; the tests' one when null
    int openings = 2;          // how many times the thread may call ShowAbout (see open_again)
};

// The About box opened on a thread of its own, as a host's form would. Whatever a test asserts, the
// destructor closes every box of that thread before it returns.
struct opened_box {
    explicit opened_box(box_options o = {}) : opts(o) {
        thread = std::thread([this] { run(); });
        wait_until([this] { return thread_id.load() != 0; });
        form = wait_for_form();
    }
    ~opened_box() {
        stop = true;
        may_exit = true;
        while (!done) {
            close_forms_of(thread_id);
            Sleep(10);
        }
        thread.join();
    }

    void run() {
        thread_id = GetCurrentThreadId();
        if (opts.com) CoInitialize(nullptr);
        if (opts.host) {
            host = CreateWindowExW(0, L"STATIC", L"zv about host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 200,
                                   nullptr, nullptr, nullptr, nullptr);
            SetActiveWindow(host);
        }
        IDispatch* dual = opts.module ? control_of(opts.module) : nullptr;
        if (!opts.module) {
            IUnknown* object = zvtest::new_control();
            object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&dual));
            object->Release();
        }
        for (int opening = 0; dual && opening < opts.openings && !stop; ++opening) {
            result = show_about(dual);
            openings = opening + 1;
            while (opening + 1 < opts.openings && !reopen && !stop) idle();
            reopen = false;
        }
        if (dual) dual->Release();
        released = true;
        while (!may_exit) idle();
        if (host) DestroyWindow(host);
        if (opts.com) CoUninitialize();
        done = true;
    }

    // Between openings the box's thread still answers what is sent to its windows.
    static void idle() {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(5);
    }

    HWND wait_for_form() const {
        HWND found = nullptr;
        wait_until([&] {
            return ((found = form_of(thread_id)) && GetDlgItem(found, btn_mailto)) || result != E_PENDING;
        }, 5000);
        return found;
    }
    bool wait_closed() {
        return wait_until([this] { return result != E_PENDING; });
    }
    // Lets the thread call ShowAbout again; returns the new form.
    HWND open_again() {
        result = E_PENDING;
        reopen = true;
        return form = wait_for_form();
    }
    HWND item(int id) const { return GetDlgItem(form, id); }
    HWND focused() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(thread_id, &info);
        return info.hwndFocus;
    }
    HWND active() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(thread_id, &info);
        return info.hwndActive;
    }
    // Tab from the focused element, as the keyboard would; returns whether focus reached `id`.
    bool tab_to(int id) {
        PostMessageW(focused(), WM_KEYDOWN, VK_TAB, 0);
        return wait_until([&] { return focused() == item(id); }, 1000);
    }

    box_options opts;
    std::atomic<HRESULT> result{E_PENDING};
    std::atomic<bool> stop{false}, reopen{false}, released{false}, may_exit{false}, done{false};
    std::atomic<int> openings{0};
    std::atomic<DWORD> thread_id{0};
    std::atomic<HWND> host{nullptr};
    HWND form = nullptr;
    std::thread thread;
};

int px(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

struct about : ::testing::Test {
    void SetUp() override {
        HDC screen = GetDC(nullptr);
        dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        shell_calls = 0;
        help_calls = 0;
        shell_file.clear();
    }
    void TearDown() override { EXPECT_EQ(S_OK, zvtest::can_unload_now()); }
    int dpi = 96;
};

TEST_F(about, layout_texts_fonts_and_colours) {
    opened_box box;
    ASSERT_NE(nullptr, box.form) << "ShowAbout answered " << std::hex << box.result.load();
    RECT client;
    GetClientRect(box.form, &client);
    EXPECT_EQ(px(5130, dpi), client.right);
    EXPECT_EQ(px(2685, dpi), client.bottom);

    struct expected {
        int id;
        int left, top, width, height;
        const wchar_t* text;
        const wchar_t* face;
        int hundredths;
        int weight;
        COLORREF colour;
    };
    const expected rows[] = {
        {pic_logo, 90, 105, 1560, 2505, L"", nullptr, 0, 0, 0},
        {logo_1, 1695, 75, 3330, 330, L"Quelm Zorvane ActiveX", L"Arial", 1425, 400, 0x00800000},
        {logo_0, 2130, 435, 2250, 195, L"Автор - Quelm", L"Verdana", 825, 700, 0x00000080},
        {logo_3, 1860, 855, 2895, 540,
         L"Ваши пожелания и замечания по улучшению контрола присылайте на e-mail автора.", L"Verdana", 675, 400,
         0x00808080},
        {btn_close, 3735, 2190, 1305, 405, L"Закрыть", L"Tahoma", 825, 700, 0},
        {btn_help, 3315, 2190, 435, 405, L"?", L"Tahoma", 825, 700, 0},
        {btn_mailto, 2265, 1575, 2250, 405, L"support@example.com", L"Tahoma", 825, 700, 0},
    };
    HDC memory = CreateCompatibleDC(nullptr);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.id);
        HWND element = box.item(r.id);
        ASSERT_NE(nullptr, element);
        RECT area;
        GetWindowRect(element, &area);
        MapWindowPoints(nullptr, box.form, reinterpret_cast<POINT*>(&area), 2);
        EXPECT_EQ(px(r.left, dpi), area.left);
        EXPECT_EQ(px(r.top, dpi), area.top);
        EXPECT_EQ(px(r.width, dpi), area.right - area.left);
        EXPECT_EQ(px(r.height, dpi), area.bottom - area.top);
        wchar_t text[128] = {};
        GetWindowTextW(element, text, 128);
        EXPECT_STREQ(r.text, text);
        // Only the buttons are Tab stops.
        EXPECT_EQ(r.id >= btn_close, (GetWindowLongW(element, GWL_STYLE) & WS_TABSTOP) != 0);
        if (!r.face) continue;
        LOGFONTW font{};
        ASSERT_TRUE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(element, WM_GETFONT, 0, 0)), sizeof(font), &font));
        EXPECT_STREQ(r.face, font.lfFaceName);
        EXPECT_EQ(-MulDiv(r.hundredths, dpi, 7200), font.lfHeight);
        EXPECT_EQ(r.weight, font.lfWeight);
        EXPECT_EQ(RUSSIAN_CHARSET, font.lfCharSet);
        if (r.id <= logo_3) {
            wchar_t cls[16] = {};
            GetClassNameW(element, cls, 16);
            EXPECT_EQ(0, lstrcmpiW(L"STATIC", cls));
            EXPECT_EQ(SS_LEFT, GetWindowLongW(element, GWL_STYLE) & SS_TYPEMASK);
            SetTextColor(memory, RGB(1, 2, 3));
            SendMessageW(box.form, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(memory),
                         reinterpret_cast<LPARAM>(element));
            EXPECT_EQ(r.colour, GetTextColor(memory));
        }
    }
    DeleteDC(memory);
    LOGFONTW form_font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(box.form, WM_GETFONT, 0, 0)), sizeof(form_font), &form_font);
    EXPECT_STREQ(L"Tahoma", form_font.lfFaceName);
    EXPECT_EQ(-MulDiv(825, dpi, 7200), form_font.lfHeight);
    EXPECT_EQ(400, form_font.lfWeight);
    EXPECT_EQ(RUSSIAN_CHARSET, form_font.lfCharSet);

    // The children in tab order, first to last, and Tab going round the buttons.
    std::vector<int> order;
    for (HWND c = GetWindow(box.form, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) order.push_back(GetDlgCtrlID(c));
    EXPECT_EQ((std::vector<int>{pic_logo, logo_1, logo_0, logo_3, btn_close, btn_help, btn_mailto}), order);
    EXPECT_EQ(box.item(btn_help), GetNextDlgTabItem(box.form, box.item(btn_close), FALSE));
    EXPECT_EQ(box.item(btn_mailto), GetNextDlgTabItem(box.form, box.item(btn_help), FALSE));
    EXPECT_EQ(box.item(btn_close), GetNextDlgTabItem(box.form, box.item(btn_mailto), FALSE));

    // The banner's blue ground inside the picture box.
    HWND picture = box.item(pic_logo);
    RedrawWindow(picture, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Sleep(100);
    HDC dc = GetDC(picture);
    const COLORREF ground = GetPixel(dc, 8, 8);
    ReleaseDC(picture, dc);
    EXPECT_LT(std::abs(GetBValue(ground) - 0xbf), 30) << std::hex << ground;
    EXPECT_LT(std::abs(GetRValue(ground) - 0x1f), 30) << std::hex << ground;

    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"ZV_SCREENSHOT_DIR", folder, MAX_PATH)) {
        // scripts/screenshots.sh: the box through the library's own capture, once the screen shows it.
        ASSERT_TRUE(zvtest::wait_painted_on_screen(box.form));
        IDispatch* dual = control_of(zvtest::ocx());
        ASSERT_NE(nullptr, dual);
        {
            zvtest::dispatch_call capture(zvtest::hand_result);  // CaptureHwnd(window, file)
            capture.arg(static_cast<LONG>(reinterpret_cast<LONG_PTR>(box.form)));
            EXPECT_EQ(S_OK, capture.arg(std::wstring(folder) + L"\\about.bmp").invoke(dual, 0x60030005));
        }
        dual->Release();
    }

    PostMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_close, BN_CLICKED), reinterpret_cast<LPARAM>(box.item(btn_close)));
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());
    EXPECT_FALSE(IsWindow(box.form));
}

TEST_F(about, help_and_mail_buttons_and_every_opening_loads_again) {
    HMODULE ocx = zvtest::ocx();
    zvtest::procedure_hook shell(ocx, "ShellExecuteExW", fn(&spy_shell));
    zvtest::iat_hook winhelp(ocx, "user32.dll", "WinHelpW", fn(&spy_help));

    opened_box box;
    ASSERT_NE(nullptr, box.form);
    // The load handler gave the three buttons to the form's control (HideFocus subclasses them).
    for (int id : {btn_close, btn_help, btn_mailto})
        EXPECT_NE(GetClassLongPtrW(box.item(id), GCLP_WNDPROC), GetWindowLongPtrW(box.item(id), GWLP_WNDPROC)) << id;
    // Close has the focus first; Tab walks the buttons.
    EXPECT_TRUE(wait_until([&] { return box.focused() == box.item(btn_close); }, 1000));
    EXPECT_TRUE(box.tab_to(btn_help));

    // No help file beside the library: WinHelp is not asked at all (it would look for a bare name in the host's
    // current folder). Sent, so that the click has been handled when the call returns.
    SendMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_help, BN_CLICKED), 0);
    EXPECT_EQ(0, help_calls.load());
    EXPECT_TRUE(IsWindow(box.form));  // the box stays and works
    EXPECT_TRUE(box.tab_to(btn_mailto));

    PostMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_mailto, BN_CLICKED), 0);
    EXPECT_TRUE(wait_until([] { return shell_calls > 0; }));
    EXPECT_EQ(L"mailto:support@example.com?Subject=", shell_file);
    EXPECT_EQ(E_PENDING, box.result.load());

    PostMessageW(box.form, WM_CLOSE, 0, 0);
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());
    EXPECT_FALSE(IsWindow(box.form));

    // A second opening builds new windows and runs the load handler on them.
    const HWND first_mail = box.item(btn_mailto);
    ASSERT_NE(nullptr, box.open_again());
    HWND b = box.item(btn_mailto);
    EXPECT_NE(first_mail, b);
    EXPECT_NE(GetClassLongPtrW(b, GCLP_WNDPROC), GetWindowLongPtrW(b, GWLP_WNDPROC));
    EXPECT_EQ(L"support@example.com", [&] {
        wchar_t text[64] = {};
        GetWindowTextW(b, text, 64);
        return std::wstring(text);
    }());
    PostMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_close, BN_CLICKED), 0);
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());
    EXPECT_EQ(2, box.openings.load());
}

// HideFocus at work: the buttons take the focus without being told, so they never draw a focus rectangle.
// A button records being told in its state (BST_FOCUS); one on a window of our own shows that it does.
TEST_F(about, no_button_learns_it_has_the_focus) {
    HWND parent = CreateWindowExW(0, L"STATIC", L"zv focus witness", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                  nullptr, nullptr, nullptr, nullptr);
    HWND witness = CreateWindowExW(0, L"BUTTON", L"w", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 80, 30, parent,
                                   nullptr, nullptr, nullptr);
    SetFocus(witness);
    EXPECT_EQ(witness, GetFocus());
    EXPECT_EQ(BST_FOCUS, SendMessageW(witness, BM_GETSTATE, 0, 0) & BST_FOCUS);
    DestroyWindow(parent);

    opened_box box;
    ASSERT_NE(nullptr, box.form);
    ASSERT_TRUE(wait_until([&] { return box.focused() == box.item(btn_close); }, 1000));
    for (int id : {btn_help, btn_mailto, btn_close, btn_help}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(box.tab_to(id));
        for (int each : {btn_close, btn_help, btn_mailto})
            EXPECT_EQ(0, SendMessageW(box.item(each), BM_GETSTATE, 0, 0) & BST_FOCUS) << each;
    }
    PostMessageW(box.form, WM_CLOSE, 0, 0);
    ASSERT_TRUE(box.wait_closed());
}

TEST_F(about, enter_clicks_the_focused_button_and_escape_closes) {
    HMODULE ocx = zvtest::ocx();
    zvtest::procedure_hook shell(ocx, "ShellExecuteExW", fn(&spy_shell));
    zvtest::iat_hook winhelp(ocx, "user32.dll", "WinHelpW", fn(&spy_help));
    zvtest::iat_hook attributes(ocx, "kernel32.dll", "GetFileAttributesW", fn(&spy_attributes));
    help_lookups = 0;

    opened_box box({true, false, nullptr, 3});
    ASSERT_NE(nullptr, box.form);
    ASSERT_TRUE(wait_until([&] { return box.focused() == box.item(btn_close); }, 1000));
    ASSERT_TRUE(box.tab_to(btn_help));
    PostMessageW(box.focused(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(wait_until([] { return help_lookups > 0; }));  // "?" clicked: the help file looked for
    ASSERT_TRUE(box.tab_to(btn_mailto));
    PostMessageW(box.focused(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(wait_until([] { return shell_calls > 0; }));
    EXPECT_EQ(L"mailto:support@example.com?Subject=", shell_file);
    EXPECT_EQ(1, help_lookups.load());
    ASSERT_TRUE(box.tab_to(btn_close));
    PostMessageW(box.focused(), WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());
    EXPECT_EQ(1, shell_calls.load());

    // Enter before any Tab: Close, which has the focus when the box opens.
    ASSERT_NE(nullptr, box.open_again());
    ASSERT_TRUE(wait_until([&] { return box.focused() == box.item(btn_close); }, 1000));
    PostMessageW(box.focused(), WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());

    ASSERT_NE(nullptr, box.open_again());
    ASSERT_TRUE(wait_until([&] { return box.focused() == box.item(btn_close); }, 1000));
    PostMessageW(box.focused(), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());
    EXPECT_EQ(1, help_lookups.load());
    EXPECT_EQ(0, help_calls.load());  // none beside the library
    EXPECT_EQ(1, shell_calls.load());
}

TEST_F(about, the_thread_s_windows_are_disabled_while_the_box_is_open) {
    opened_box box({true, true});
    ASSERT_NE(nullptr, box.form);
    ASSERT_NE(nullptr, box.host.load());
    EXPECT_EQ(nullptr, GetWindow(box.form, GW_OWNER));
    EXPECT_FALSE(IsWindowEnabled(box.host));
    EXPECT_EQ(box.form, box.active());

    PostMessageW(box.form, WM_CLOSE, 0, 0);
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());
    EXPECT_TRUE(IsWindowEnabled(box.host));
    EXPECT_TRUE(wait_until([&] { return box.active() == box.host; }, 1000));
}

TEST_F(about, a_form_that_cannot_be_made_shows_nothing_and_succeeds) {
    zvtest::iat_hook create(zvtest::ocx(), "user32.dll", "CreateWindowExW", fn(&failing_create_window));
    opened_box box({true, true, nullptr, 1});
    EXPECT_EQ(nullptr, box.form);
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());
    EXPECT_EQ(nullptr, form_of(box.thread_id));
    EXPECT_TRUE(IsWindowEnabled(box.host));
    EXPECT_TRUE(wait_until([&] { return box.released.load(); }));
}

// A private copy of the OCX, on a thread where COM was never initialised: the form makes its control from the
// library itself, and once the box is closed and the control released the copy unloads while the thread
// lives on, its window class going with it.
TEST_F(about, without_com_the_box_works_and_afterwards_the_library_unloads) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring copy = std::wstring(temp) + L"zv_about_copy.ocx";
    ASSERT_TRUE(CopyFileW(zvtest::ocx_path().c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_NE(nullptr, module);
    ASSERT_NE(zvtest::ocx(), module);
    bool unloaded = false;
    {
        std::optional<zvtest::procedure_hook> shell;
        shell.emplace(module, "ShellExecuteExW", fn(&spy_shell));
        zvtest::procedure_hook shell_of_registered(zvtest::ocx(), "ShellExecuteExW", fn(&spy_shell));
        opened_box box({false, false, module, 1});
        ASSERT_NE(nullptr, box.form);
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(module), GetWindowLongPtrW(box.form, GWLP_HINSTANCE));
        for (int id : {btn_close, btn_help, btn_mailto})
            EXPECT_NE(GetClassLongPtrW(box.item(id), GCLP_WNDPROC), GetWindowLongPtrW(box.item(id), GWLP_WNDPROC))
                << id;
        PostMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_mailto, BN_CLICKED), 0);
        EXPECT_TRUE(wait_until([] { return shell_calls > 0; }));
        EXPECT_EQ(L"mailto:support@example.com?Subject=", shell_file);

        // A help file beside this copy: "?" asks WinHelp for it by its full path.
        const std::wstring help_file = std::wstring(temp) + L"Help.hlp";
        HANDLE file = CreateFileW(help_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        CloseHandle(file);
        {
            zvtest::iat_hook winhelp(module, "user32.dll", "WinHelpW", fn(&spy_help));
            help_calls = 0;
            SendMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_help, BN_CLICKED), 0);
        }
        DeleteFileW(help_file.c_str());
        EXPECT_EQ(1, help_calls.load());
        EXPECT_EQ(box.form, help.window);
        EXPECT_TRUE(lstrcmpiW(help_file.c_str(), help.file.c_str()) == 0)
            << std::string(help.file.begin(), help.file.end());
        EXPECT_EQ(15u, help.command);
        EXPECT_EQ(0u, help.data);

        PostMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_close, BN_CLICKED), 0);
        ASSERT_TRUE(box.wait_closed());
        EXPECT_EQ(S_OK, box.result.load());
        ASSERT_TRUE(wait_until([&] { return box.released.load(); }));

        using can_unload = HRESULT(STDAPICALLTYPE*)();
        auto unload_now =
            reinterpret_cast<can_unload>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
        EXPECT_EQ(S_OK, unload_now());
        // The box's thread is still alive (it waits for may_exit).
        EXPECT_FALSE(box.done.load());
        shell.reset();  // the import table goes with the copy
        FreeLibrary(module);
        unloaded = GetModuleHandleW(copy.c_str()) == nullptr;
        EXPECT_TRUE(unloaded) << "the copy stayed loaded";
        WNDCLASSEXW info{};
        info.cbSize = sizeof(info);
        EXPECT_FALSE(GetClassInfoExW(module, form_class, &info)) << "the form's class outlived its library";
    }
    if (unloaded) DeleteFileW(copy.c_str());
}

} // namespace
