// frmAbout: the library's About box, opened modally by ShowAbout. One form object per thread.
#pragma once

#include "library/raii.h"

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <array>

namespace zorvane {

class about_form final {
public:
    about_form() = default;
    about_form(const about_form&) = delete;
    about_form& operator=(const about_form&) = delete;
    ~about_form();

    // The calling thread's form object, created on its first use.
    static about_form& of_this_thread();

    // Loads the form afresh, runs its load handler and shows it modally; returns when it is closed.
    // Throws when the form cannot be created.
    void show_modal();

    // The author's contact address, on btnMailto and in the mail it starts.
    static constexpr wchar_t contact_address[] = L"support@example.com";

private:
    enum element : int { pic_logo = 100, logo_1, logo_0, logo_3, btn_close, btn_help, btn_mailto, element_end };

    void load();
    void unload() noexcept;
    void run_load_handler() noexcept;
    void create_elements();
    HFONT make_font(const wchar_t* face, int tenths_of_points, int weight);
    HRESULT call_kelb(DISPID member, VARIANT argument) noexcept;
    void show_help(const wchar_t* help_file) noexcept;
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT handle(HWND window, UINT message, WPARAM w, LPARAM l);

    HWND window_ = nullptr;
    int dpi_x_ = 96, dpi_y_ = 96;
    std::array<HFONT, 5> fonts_{};
    com_ptr<IDispatch> kelb_;
    com_ptr<IPicture> banner_;
};

} // namespace zorvane
