// frmAbout: the library's About box, opened modally by ShowAbout. At most one is open on each thread.
#pragma once

#include <windows.h>

namespace zorvane::about_form {

// How the form makes its own instance of the control, which its buttons call through IDispatch by name.
struct control_maker {
    const wchar_t* prog_id;                              // as a form would make it, where the class is registered
    HRESULT (*create)(REFIID iid, void** out) noexcept;  // where the thread has no apartment or the class is not
};

// Loads the form afresh, runs its load handler and shows it modally; returns when it is closed.
// Throws when the form cannot be created. Does nothing while this thread's form is already open.
void show_modal(const control_maker& maker);

// The author's contact address, on btnMailto and in the mail it starts.
inline constexpr wchar_t contact_address[] = L"support@example.com";

} // namespace zorvane::about_form
