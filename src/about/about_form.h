// frmAbout: the library's About box, opened modally by ShowAbout. At most one is open on each thread.
#pragma once

#include <windows.h>

namespace zorvane::about_form {

// Loads the form afresh, runs its load handler and shows it modally; returns when it is closed.
// Throws when the form cannot be created. Does nothing while this thread's form is already open.
void show_modal();

// The author's contact address, on btnMailto and in the mail it starts.
inline constexpr wchar_t contact_address[] = L"support@example.com";

} // namespace zorvane::about_form
