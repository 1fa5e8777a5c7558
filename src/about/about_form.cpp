// The About box: layout in twips at the form's DPI, Cyrillic fonts, the load handler and the three buttons.
#include "about/about_form.h"

#include "library/errors.h"
#include "library/module.h"
#include "library/raii.h"
#include "library/resource_ids.h"
#include "library/resource_picture.h"

#include <oaidl.h>
#include <objbase.h>

#include <array>
#include <iterator>
#include <string>
#include <vector>

namespace zorvane {
namespace {

const wchar_t form_class[] = L"ZorvaneLibAboutForm";
constexpr DWORD form_style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
constexpr DWORD form_ex_style = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr UINT help_command = 15;

enum element : int { pic_logo = 100, logo_1, logo_0, logo_3, btn_close, btn_help, btn_mailto };

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
    {pic_logo, L"STATIC", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 90, 105, 1560, 2505, L"", 0, 0},
    {logo_1, L"STATIC", label, 1695, 75, 3330, 330, L"Quelm Zorvane ActiveX", 1, 0x00800000},
    {logo_0, L"STATIC", label, 2130, 435, 2250, 195, L"Автор - Quelm", 2, 0x00000080},
    {logo_3, L"STATIC", label, 1860, 855, 2895, 540,
     L"Ваши пожелания и замечания по улучшению контрола присылайте на e-mail автора.", 3, 0x00808080},
    {btn_close, L"BUTTON", button, 3735, 2190, 1305, 405, L"Закрыть", 4, 0},
    {btn_help, L"BUTTON", button, 3315, 2190, 435, 405, L"?", 4, 0},
    {btn_mailto, L"BUTTON", button, 2265, 1575, 2250, 405, about_form::contact_address, 4, 0},
};

// Top-level windows of this thread that the modal form disables while it is open.
BOOL CALLBACK collect_enabled(HWND window, LPARAM list) {
    if (!IsWindowEnabled(window) || !IsWindowVisible(window)) return TRUE;
    try {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
    } catch (...) {
        return FALSE;  // no memory for the list: the windows after it stay enabled
    }
}

// Whether this thread entered an apartment itself (the process's MTA, joined implicitly, does not count:
// objects made there would live on another thread).
bool thread_in_apartment() noexcept {
    using get_type = HRESULT(WINAPI*)(APTTYPE*, APTTYPEQUALIFIER*);
    const auto get = reinterpret_cast<get_type>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ole32.dll"), "CoGetApartmentType")));
    if (!get) return true;  // older systems: CoCreateInstance tells
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    return SUCCEEDED(get(&type, &qualifier)) && qualifier != APTTYPEQUALIFIER_IMPLICIT_MTA;
}

// Kelb: the form's own instance of the control, made by its ProgID as a form would make it; made by this
// library itself where the thread has no apartment or the class is not registered.
com_ptr<IDispatch> make_kelb(const about_form::control_maker& maker) noexcept {
    com_ptr<IDispatch> kelb;
    CLSID clsid{};
    if (thread_in_apartment() && SUCCEEDED(CLSIDFromProgID(maker.prog_id, &clsid)) &&
        SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, kelb.put_void())))
        return kelb;
    maker.create(IID_IDispatch, kelb.put_void());
    return kelb;
}

// Help.hlp beside the library, named in full; "" when there is none there. WinHelp would look for a bare name in
// the host's current folder (and start its viewer by a bare name too), and a help file's macros can run programs.
std::wstring help_file() noexcept {
    try {
        std::wstring path = module::file_name();
        const size_t slash = path.find_last_of(L"\\/");
        if (slash == std::wstring::npos) return {};
        path.resize(slash + 1);
        path += L"Help.hlp";
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
        return path;
    } catch (...) {
        return {};
    }
}

void unregister_form_class() noexcept { UnregisterClassW(form_class, module::instance()); }

BOOL CALLBACK find_form(HWND window, LPARAM found) {
    wchar_t name[std::size(form_class) + 1] = {};
    if (GetClassNameW(window, name, static_cast<int>(std::size(name))) && lstrcmpW(name, form_class) == 0 &&
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)) == module::instance()) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

// The thread's form is open while its window exists: from before the load handler until the modal loop ends.
bool open_on_this_thread() noexcept {
    bool found = false;
    EnumThreadWindows(GetCurrentThreadId(), &find_form, reinterpret_cast<LPARAM>(&found));
    return found;
}

// One showing of the form: the window, its elements, fonts, banner and Kelb.
class opening final {
public:
    explicit opening(const about_form::control_maker& maker);  // the form and its elements, loaded; throws when
                                                               // the window cannot be created
    opening(const opening&) = delete;
    opening& operator=(const opening&) = delete;
    ~opening();

    void run_load_handler() noexcept;
    void run_modal() noexcept;  // returns when the form is gone

private:
    HFONT make_font(const wchar_t* face, int hundredths_of_points, int weight) const noexcept;
    void create_elements() noexcept;
    void enable_others() noexcept;
    void close() noexcept;
    void click(int id) noexcept;
    HRESULT call_kelb(const wchar_t* method, VARIANT argument) noexcept;
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT handle(HWND window, UINT message, WPARAM w, LPARAM l);

    HWND window_ = nullptr;
    int dpi_x_ = 96, dpi_y_ = 96;
    std::array<unique_hfont, 5> fonts_;
    com_ptr<IPicture> banner_;
    com_ptr<IDispatch> kelb_;  // released with the window
    std::vector<HWND> disabled_;
    HWND previous_active_ = nullptr;
};

opening::opening(const about_form::control_maker& maker) {
    // Registered by the first opening after each load (later ones find it), unregistered at unload.
    WNDCLASSW c{};
    c.lpfnWndProc = &procedure;
    c.hInstance = module::instance();
    c.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    c.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    c.lpszClassName = form_class;
    if (RegisterClassW(&c)) module::at_unload(&unregister_form_class);

    if (const unique_window_dc screen = window_dc()) {
        dpi_x_ = GetDeviceCaps(screen.get(), LOGPIXELSX);
        dpi_y_ = GetDeviceCaps(screen.get(), LOGPIXELSY);
    }

    fonts_ = {unique_hfont(make_font(L"Tahoma", 825, FW_NORMAL)), unique_hfont(make_font(L"Arial", 1425, FW_NORMAL)),
              unique_hfont(make_font(L"Verdana", 825, FW_BOLD)), unique_hfont(make_font(L"Verdana", 675, FW_NORMAL)),
              unique_hfont(make_font(L"Tahoma", 825, FW_BOLD))};
    banner_ = picture_from_resource(ZV_BANNER_JPEG);
    kelb_ = make_kelb(maker);

    RECT frame{0, 0, MulDiv(5130, dpi_x_, 1440), MulDiv(2685, dpi_y_, 1440)};
    AdjustWindowRectEx(&frame, form_style, FALSE, form_ex_style);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    check_win32(CreateWindowExW(form_ex_style, form_class, L"О контроле...", form_style, x, y, width, height,
                                nullptr, nullptr, module::instance(), this));
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[0].get()), FALSE);
    create_elements();
}

opening::~opening() {
    enable_others();
    if (window_) DestroyWindow(window_);
}

HFONT opening::make_font(const wchar_t* face, int hundredths_of_points, int weight) const noexcept {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(hundredths_of_points, dpi_y_, 7200);
    font.lfWeight = weight;
    font.lfCharSet = RUSSIAN_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

void opening::create_elements() noexcept {
    // Created in tab order, which is also the order Tab walks.
    for (const auto& row : layout) {
        HWND element = CreateWindowExW(0, row.cls, row.text, row.style, MulDiv(row.left, dpi_x_, 1440),
                                       MulDiv(row.top, dpi_y_, 1440), MulDiv(row.width, dpi_x_, 1440),
                                       MulDiv(row.height, dpi_y_, 1440), window_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), module::instance(),
                                       nullptr);
        if (element) SendMessageW(element, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[row.font].get()), FALSE);
    }
}

HRESULT opening::call_kelb(const wchar_t* method, VARIANT argument) noexcept {
    if (!kelb_) return E_POINTER;
    auto* name = const_cast<LPOLESTR>(method);
    DISPID member = DISPID_UNKNOWN;
    const HRESULT found = kelb_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &member);
    if (FAILED(found)) return found;
    DISPPARAMS params{&argument, nullptr, 1, 0};
    return kelb_->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

void opening::run_load_handler() noexcept {
    // Each step on its own: a failure skips only that button.
    for (int id : {btn_mailto, btn_close, btn_help}) {
        VARIANT handle;
        V_VT(&handle) = VT_I4;
        V_I4(&handle) = static_cast<LONG>(reinterpret_cast<LONG_PTR>(GetDlgItem(window_, id)));
        call_kelb(L"HideFocus", handle);
    }
}

void opening::run_modal() noexcept {
    previous_active_ = GetActiveWindow();
    EnumThreadWindows(GetCurrentThreadId(), &collect_enabled, reinterpret_cast<LPARAM>(&disabled_));
    for (HWND w : disabled_)
        if (w != window_) EnableWindow(w, FALSE);
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    SetFocus(GetDlgItem(window_, btn_close));

    // Until the form is gone: a window destroyed without its procedure hearing of it (the system failing to hand
    // it its data) ends the loop as well, at the latest when the thread's queue is next empty.
    MSG message{};
    while (window_ && IsWindow(window_)) {
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 250, QS_ALLINPUT);
            continue;
        }
        if (message.message == WM_QUIT) break;
        if (IsDialogMessageW(window_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (window_ && IsWindow(window_)) DestroyWindow(window_);  // a quit message ended the loop
    window_ = nullptr;
    kelb_.reset();
    enable_others();
    if (previous_active_ && IsWindow(previous_active_) && IsWindowVisible(previous_active_) &&
        IsWindowEnabled(previous_active_))
        SetActiveWindow(previous_active_);
    if (message.message == WM_QUIT) PostQuitMessage(static_cast<int>(message.wParam));  // for the host's loop
}

void opening::enable_others() noexcept {
    for (HWND w : disabled_)
        if (w != window_ && IsWindow(w)) EnableWindow(w, TRUE);
    disabled_.clear();
}

void opening::close() noexcept {
    enable_others();  // before the form goes, so that activation can return to them
    if (window_) DestroyWindow(window_);
}

void opening::click(int id) noexcept {
    switch (id) {
    case btn_close:
        close();
        break;
    case btn_help: {
        // No help file is shipped: the answer does not matter.
        const std::wstring help = help_file();
        if (!help.empty()) WinHelpW(window_, help.c_str(), help_command, 0);
        break;
    }
    case btn_mailto: {
        const unique_bstr text(SysAllocString(about_form::contact_address));
        VARIANT address;
        V_VT(&address) = VT_BSTR;
        V_BSTR(&address) = text.get();
        if (text) call_kelb(L"ShellEmail", address);
        break;
    }
    }
}

LRESULT CALLBACK opening::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<opening*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        SetLastError(0);
        if (!SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form)) && GetLastError())
            return FALSE;  // a form that cannot find its data is not made
        form->window_ = window;
    }
    auto* form = reinterpret_cast<opening*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form || form->window_ != window) return DefWindowProcW(window, message, w, l);
    return form->handle(window, message, w, l);
}

LRESULT opening::handle(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(w) != BN_CLICKED) break;
        switch (LOWORD(w)) {
        case IDOK: {
            // Enter where no button is the default: the focused button, or Close.
            HWND focus = GetFocus();
            const int id = focus && GetParent(focus) == window ? GetDlgCtrlID(focus) : 0;
            click(id == btn_help || id == btn_mailto ? id : btn_close);
            return 0;
        }
        case IDCANCEL:  // Esc
            close();
            return 0;
        default:
            click(LOWORD(w));
            return 0;
        }
    case WM_CLOSE:
        close();
        return 0;
    case WM_NCDESTROY:
        // However the window goes, the modal loop ends and Kelb goes with it.
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        window_ = nullptr;
        kelb_.reset();
        break;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(fonts_[0].get());  // the form's own font
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

} // namespace

void about_form::show_modal(const control_maker& maker) {
    if (open_on_this_thread()) return;  // its own modal loop is running
    opening form(maker);
    form.run_load_handler();  // as a form's load event: before it is shown
    form.run_modal();
}

} // namespace zorvane
