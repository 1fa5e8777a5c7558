// ShowAbout's box under the test display: opened through Invoke of -552 on a thread of its own, driven and
// inspected from the test's thread, closed by the test.
#include "support/iat_hook.h"
#include "support/ocx.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

const IID iid_zorvane = {0x8003362e, 0x8df0, 0x4fc8, {0xb2, 0xbb, 0x2f, 0xb0, 0x20, 0x2a, 0x52, 0xa3}};
enum element : int { pic_logo = 100, logo_1, logo_0, logo_3, btn_close, btn_help, btn_mailto };

template <typename F>
const void* fn(F f) {
    return reinterpret_cast<const void*>(f);
}

std::wstring shell_file;
std::atomic<int> shell_calls{0};
HINSTANCE WINAPI spy_shell(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    shell_file = file ? file : L"(null)";
    ++shell_calls;
    return reinterpret_cast<HINSTANCE>(42);
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

// The About box opened on a thread of its own, as a host's form would.
struct opened_box {
    std::atomic<HRESULT> result{E_PENDING};
    std::atomic<bool> done{false};
    std::thread thread;
    HWND form = nullptr;

    opened_box() {
        thread = std::thread([this] {
            CoInitialize(nullptr);
            IUnknown* object = zvtest::new_control();
            IDispatch* dual = nullptr;
            object->QueryInterface(iid_zorvane, reinterpret_cast<void**>(&dual));
            object->Release();
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            for (int opening = 0; opening < 2 && !stop; ++opening) {
                result = dual->Invoke(-552, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
                openings = opening + 1;
                while (!reopen && !stop) Sleep(5);
                reopen = false;
            }
            dual->Release();
            CoUninitialize();
            done = true;
        });
        form = wait_for_form();
    }
    ~opened_box() {
        stop = true;
        if (HWND w = FindWindowW(L"ZorvaneLibAboutForm", nullptr)) PostMessageW(w, WM_CLOSE, 0, 0);
        thread.join();
    }
    static HWND wait_for_form() {
        for (int i = 0; i < 500; ++i) {
            HWND w = FindWindowW(L"ZorvaneLibAboutForm", L"О контроле...");
            if (w && IsWindowVisible(w) && GetDlgItem(w, btn_mailto)) return w;
            Sleep(10);
        }
        return nullptr;
    }
    bool wait_closed() {
        for (int i = 0; i < 500 && result == E_PENDING; ++i) Sleep(10);
        return result != E_PENDING;
    }
    std::atomic<bool> stop{false}, reopen{false};
    std::atomic<int> openings{0};
};

int px(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

struct about : ::testing::Test {
    void SetUp() override {
        HDC screen = GetDC(nullptr);
        dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
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
        HWND element = GetDlgItem(box.form, r.id);
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
        if (!r.face) continue;
        LOGFONTW font{};
        ASSERT_TRUE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(element, WM_GETFONT, 0, 0)), sizeof(font), &font));
        EXPECT_STREQ(r.face, font.lfFaceName);
        EXPECT_EQ(-MulDiv(r.hundredths, dpi, 7200), font.lfHeight);
        EXPECT_EQ(r.weight, font.lfWeight);
        EXPECT_EQ(RUSSIAN_CHARSET, font.lfCharSet);
        if (r.id <= logo_3) {
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
    EXPECT_EQ(RUSSIAN_CHARSET, form_font.lfCharSet);

    // Tab order: the buttons follow the labels in the order close, help, mail.
    EXPECT_EQ(GetDlgItem(box.form, btn_help), GetNextDlgTabItem(box.form, GetDlgItem(box.form, btn_close), FALSE));
    EXPECT_EQ(GetDlgItem(box.form, btn_mailto), GetNextDlgTabItem(box.form, GetDlgItem(box.form, btn_help), FALSE));

    // The banner's blue ground inside the picture box.
    HWND picture = GetDlgItem(box.form, pic_logo);
    RedrawWindow(picture, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Sleep(100);
    HDC dc = GetDC(picture);
    const COLORREF ground = GetPixel(dc, 8, 8);
    ReleaseDC(picture, dc);
    EXPECT_LT(std::abs(GetBValue(ground) - 0xbf), 30) << std::hex << ground;
    EXPECT_LT(std::abs(GetRValue(ground) - 0x1f), 30) << std::hex << ground;

    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"ZV_SCREENSHOT_DIR", folder, MAX_PATH)) {
        // scripts/screenshots.sh: the box through the library's own capture.
        IUnknown* object = zvtest::new_control();
        IDispatch* dual = nullptr;
        object->QueryInterface(iid_zorvane, reinterpret_cast<void**>(&dual));
        object->Release();
        VARIANT args[2];
        V_VT(&args[0]) = VT_BSTR;
        V_BSTR(&args[0]) = SysAllocString((std::wstring(folder) + L"\\about.bmp").c_str());
        V_VT(&args[1]) = VT_I4;
        V_I4(&args[1]) = static_cast<LONG>(reinterpret_cast<LONG_PTR>(box.form));
        DISPPARAMS params{args, nullptr, 2, 0};
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(S_OK, dual->Invoke(0x60030005, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr));
        VariantClear(&result);
        VariantClear(&args[0]);
        dual->Release();
    }

    PostMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_close, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.form, btn_close)));
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());
    EXPECT_FALSE(IsWindow(box.form));
}

TEST_F(about, buttons_hide_their_focus_help_and_mail_and_every_opening_loads_again) {
    HMODULE ocx = zvtest::ocx();
    zvtest::iat_hook shell(ocx, "shell32.dll", "ShellExecuteW", fn(&spy_shell));
    zvtest::iat_hook winhelp(ocx, "user32.dll", "WinHelpW", fn(&spy_help));
    shell_calls = 0;
    help_calls = 0;

    opened_box box;
    ASSERT_NE(nullptr, box.form);
    DWORD thread = GetWindowThreadProcessId(box.form, nullptr);
    auto focused = [&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(thread, &info);
        return info.hwndFocus;
    };
    // The load handler subclassed the three buttons: WM_SETFOCUS no longer reaches the button's own code.
    for (int id : {btn_close, btn_help, btn_mailto}) {
        HWND b = GetDlgItem(box.form, id);
        EXPECT_NE(GetClassLongPtrW(b, GCLP_WNDPROC), GetWindowLongPtrW(b, GWLP_WNDPROC)) << id;
    }
    // Tab walks the buttons.
    for (int i = 0; i < 100 && focused() != GetDlgItem(box.form, btn_close); ++i) Sleep(10);
    EXPECT_EQ(GetDlgItem(box.form, btn_close), focused());
    PostMessageW(focused(), WM_KEYDOWN, VK_TAB, 0);
    for (int i = 0; i < 100 && focused() != GetDlgItem(box.form, btn_help); ++i) Sleep(10);
    EXPECT_EQ(GetDlgItem(box.form, btn_help), focused());

    PostMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_help, BN_CLICKED), 0);
    for (int i = 0; i < 200 && !help_calls; ++i) Sleep(10);
    EXPECT_EQ(1, help_calls.load());
    EXPECT_EQ(box.form, help.window);
    EXPECT_EQ(L"Help.hlp", help.file);
    EXPECT_EQ(15u, help.command);
    EXPECT_EQ(0u, help.data);
    EXPECT_TRUE(IsWindow(box.form));  // no help file: the box stays and works

    PostMessageW(box.form, WM_COMMAND, MAKEWPARAM(btn_mailto, BN_CLICKED), 0);
    for (int i = 0; i < 200 && !shell_calls; ++i) Sleep(10);
    EXPECT_EQ(L"mailto:support@example.com?Subject=", shell_file);

    PostMessageW(box.form, WM_CLOSE, 0, 0);
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(S_OK, box.result.load());

    // A second opening builds new windows and runs the load handler on them.
    box.result = E_PENDING;
    box.reopen = true;
    HWND second = opened_box::wait_for_form();
    ASSERT_NE(nullptr, second);
    HWND b = GetDlgItem(second, btn_mailto);
    EXPECT_NE(GetClassLongPtrW(b, GCLP_WNDPROC), GetWindowLongPtrW(b, GWLP_WNDPROC));
    PostMessageW(second, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(second, WM_COMMAND, MAKEWPARAM(btn_close, BN_CLICKED), 0);
    ASSERT_TRUE(box.wait_closed());
    EXPECT_EQ(2, box.openings.load());
}

} // namespace
