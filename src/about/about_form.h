// frmAbout: the library's About box, opened modally by ShowAbout. One form object per thread.
#pragma once

#include <windows.h>

namespace zorvane {

class about_form final {
public:
    constexpr about_form() noexcept = default;
    about_form(const about_form&) = delete;
    about_form& operator=(const about_form&) = delete;

    // The calling thread's form object. It owns nothing while the form is closed and needs no destructor,
    // so a thread that once showed the box never keeps the library loaded.
    static about_form& of_this_thread() noexcept;

    // Loads the form afresh, runs its load handler and shows it modally; returns when it is closed.
    // Throws when the form cannot be created. Does nothing while this thread's form is already open.
    void show_modal();

    // The author's contact address, on btnMailto and in the mail it starts.
    static constexpr wchar_t contact_address[] = L"support@example.com";

    // Unregisters the form's window class; called when the library is unloaded.
    static void unregister_class() noexcept;

private:
    class opening;  // one showing: the window, its elements, fonts, banner and Kelb

    opening* open_ = nullptr;
};

} // namespace zorvane
