// The About box: layout in twips at the form's DPI, Cyrillic fonts, the load handler and the three buttons.
#include "about/about_form.h"

#include "control/zorvane.h"
#include "library/errors.h"
#include "library/module.h"
#include "library/resource_ids.h"
#include "library/resource_picture.h"

#include "zorvane_idl.h"

#include <memory>
#include <vector>

namespace zorvane {
namespace {

const wchar_t form_class[] = L"ZorvaneLibAboutForm";
constexpr DWORD form_style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
constexpr DWORD form_ex_style = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr DISPID hide_focus_dispid = 0x6003002F;
constexpr DISPID shell_email_dispid = 0x6003003B;
constexpr UINT help_command = 15;

struct layout_row {
    int id;
    const wchar_t* cls;
    DWORD style;
    int left, top, width, height;  // twips in the client area
    const wchar_t* text;
    int font;  // index into the form's fonts
    COLORREF colour;
};

// Font indexes: 0 form (Tahoma 8.25), 1 Arial 14.25, 2 Verdana 8.25 bold, 3 Verdana 6.75, 4 Tahoma 8.25 bold.
constexpr DWORD label = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
constexpr DWORD button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

const layout_row layout[] = {
    {100, L"STATIC", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 90, 105, 1560, 2505, L"", 0, 0},
    {101, L"STATIC", label, 1695, 75, 3330, 330, L"Quelm Zorvane ActiveX", 1, 0x00800000},
    {102, L"STATIC", label, 2130, 435, 2250, 195, L"Автор - Quelm", 2, 0x00000080},
    {103, L"STATIC", label, 1860, 855, 2895, 540,
     L"Ваши пожелания и замечания по улучшению контрола присылайте на e-mail автора.", 3, 0x00808080},
    {104, L"BUTTON", button, 3735, 2190, 1305, 405, L"Закрыть", 4, 0},
    {105, L"BUTTON", button, 3315, 2190, 435, 405, L"?", 4, 0},
    {106, L"BUTTON", button, 2265, 1575, 2250, 405, about_form::contact_address, 4, 0},
};

// Top-level windows of this thread that the modal form disables while it is open.
BOOL CALLBACK collect_enabled(HWND window, LPARAM list) {
    if (IsWindowEnabled(window) && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

thread_local std::unique_ptr<about_form> thread_form;

} // namespace

about_form& about_form::of_this_thread() {
    if (!thread_form) thread_form = std::make_unique<about_form>();
    return *thread_form;
}

about_form::~about_form() { unload(); }

void about_form::show_modal() {
    if (window_) return;  // already open on this thread: its own modal loop is running
    std::vector<HWND> disabled;
    EnumThreadWindows(GetCurrentThreadId(), &collect_enabled, reinterpret_cast<LPARAM>(&disabled));
    load();
    run_load_handler();  // as a form's load event: before it is shown
    for (HWND w : disabled)
        if (w != window_) EnableWindow(w, FALSE);
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    SetFocus(GetDlgItem(window_, btn_close));

    MSG message;
    while (window_ && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window_ && IsDialogMessageW(window_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    for (HWND w : disabled)
        if (IsWindow(w)) EnableWindow(w, TRUE);
    if (message.message == WM_QUIT) PostQuitMessage(static_cast<int>(message.wParam));  // for the host's loop
    unload();
}

void about_form::load() {
    static const ATOM registered = [] {
        WNDCLASSW c{};
        c.lpfnWndProc = &procedure;
        c.hInstance = module::instance();
        c.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        c.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        c.lpszClassName = form_class;
        return RegisterClassW(&c);
    }();
    (void)registered;

    HDC screen = GetDC(nullptr);
    dpi_x_ = GetDeviceCaps(screen, LOGPIXELSX);
    dpi_y_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);

    fonts_ = {make_font(L"Tahoma", 825, FW_NORMAL), make_font(L"Arial", 1425, FW_NORMAL),
              make_font(L"Verdana", 825, FW_BOLD), make_font(L"Verdana", 675, FW_NORMAL),
              make_font(L"Tahoma", 825, FW_BOLD)};
    banner_ = picture_from_resource(ZV_BANNER_JPEG);

    // Kelb: the control's own instance on the form, by its ProgID, or from this library when the
    // class is not registered (or COM is not initialised on this thread).
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(L"ZorvaneLib.Zorvane", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, kelb_.put_void())))
        control::create(IID_IDispatch, kelb_.put_void());

    RECT frame{0, 0, MulDiv(5130, dpi_x_, 1440), MulDiv(2685, dpi_y_, 1440)};
    AdjustWindowRectEx(&frame, form_style, FALSE, form_ex_style);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    window_ = CreateWindowExW(form_ex_style, form_class, L"О контроле...", form_style, x, y, width, height, nullptr,
                              nullptr, module::instance(), this);
    if (!window_) {
        unload();
        throw error::from_win32(GetLastError());
    }
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[0]), FALSE);
    create_elements();
}

HFONT about_form::make_font(const wchar_t* face, int hundredths_of_points, int weight) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(hundredths_of_points, dpi_y_, 7200);
    font.lfWeight = weight;
    font.lfCharSet = RUSSIAN_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

void about_form::create_elements() {
    // Created in tab order, which is also the order Tab walks.
    for (const auto& row : layout) {
        HWND element = CreateWindowExW(0, row.cls, row.text, row.style, MulDiv(row.left, dpi_x_, 1440),
                                       MulDiv(row.top, dpi_y_, 1440), MulDiv(row.width, dpi_x_, 1440),
                                       MulDiv(row.height, dpi_y_, 1440), window_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), module::instance(),
                                       nullptr);
        if (element) SendMessageW(element, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[row.font]), FALSE);
    }
}

void about_form::unload() noexcept {
    if (window_) {
        HWND window = window_;
        window_ = nullptr;
        DestroyWindow(window);
    }
    kelb_.reset();
    banner_.reset();
    for (auto& font : fonts_) {
        if (font) DeleteObject(font);
        font = nullptr;
    }
}

HRESULT about_form::call_kelb(DISPID member, VARIANT argument) noexcept {
    if (!kelb_) return E_POINTER;
    DISPPARAMS params{&argument, nullptr, 1, 0};
    return kelb_->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

void about_form::run_load_handler() noexcept {
    // Each step on its own: a failure skips only that button.
    for (int id : {btn_mailto, btn_close, btn_help}) {
        VARIANT handle;
        V_VT(&handle) = VT_I4;
        V_I4(&handle) = static_cast<LONG>(reinterpret_cast<LONG_PTR>(GetDlgItem(window_, id)));
        call_kelb(hide_focus_dispid, handle);
    }
}

void about_form::show_help(const wchar_t* help_file) noexcept {
    WinHelpW(window_, help_file, help_command, 0);
}

LRESULT CALLBACK about_form::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
    auto* form = reinterpret_cast<about_form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form || (form->window_ != window && message != WM_NCCREATE && message != WM_CREATE))
        return DefWindowProcW(window, message, w, l);
    return form->handle(window, message, w, l);
}

LRESULT about_form::handle(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(w)) {
        case btn_close:
        case IDCANCEL:
            unload();
            return 0;
        case btn_help:
            show_help(L"Help.hlp");
            return 0;
        case btn_mailto: {
            VARIANT address;
            V_VT(&address) = VT_BSTR;
            V_BSTR(&address) = SysAllocString(contact_address);
            call_kelb(shell_email_dispid, address);
            SysFreeString(V_BSTR(&address));
            return 0;
        }
        }
        break;
    case WM_CLOSE:
        unload();
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(fonts_[0]);  // the form's own font
    case WM_CTLCOLORSTATIC: {
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(l));
        for (const auto& row : layout)
            if (row.id == id) SetTextColor(reinterpret_cast<HDC>(w), row.colour);
        SetBkMode(reinterpret_cast<HDC>(w), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
        if (item->CtlID != static_cast<UINT>(pic_logo)) break;
        FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_BTNFACE));
        // The box is 4 pixels larger each way than its 100 x 163 picture.
        const int inset_x = MulDiv(2, dpi_x_, 96), inset_y = MulDiv(2, dpi_y_, 96);
        render(banner_.get(), item->hDC, item->rcItem.left + inset_x, item->rcItem.top + inset_y,
               MulDiv(100, dpi_x_, 96), MulDiv(163, dpi_y_, 96));
        return TRUE;
    }
    }
    return DefWindowProcW(window, message, w, l);
}

} // namespace zorvane
