// The three ways a method of the control deals with a failure, and the one place they are applied.
#pragma once

#include "library/errors.h"

#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <string>
#include <type_traits>

namespace zorvane {

enum class convention {
    report, // show "Ошибка" with number and description, then succeed
    skip,   // succeed silently; the operation skips its own failing steps
    raise,  // fail with the error's HRESULT and IErrorInfo
};

// Turns whatever `thrown` holds into the method's result under convention `c`.
HRESULT conclude(convention c, std::exception_ptr thrown) noexcept;

// Fails the call with `f`: sets IErrorInfo for the callers of interface `iid` (_Zorvane when not named), returns the
// HRESULT.
HRESULT raise_error(const failure& f) noexcept;
HRESULT raise_error(const failure& f, REFGUID iid) noexcept;

// The message box of the report convention ("53File not found", title "Ошибка", MB_OK | MB_ICONERROR).
void report_error(const failure& f) noexcept;

// Runs one method body under its convention. Every COM method of the control goes through here.
template <typename Body>
HRESULT run(convention c, Body&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (...) {
        return conclude(c, std::current_exception());
    }
}

// A null pointer where the method writes a result or reads a by-reference argument.
template <typename T>
bool is_null_pointer(T arg) noexcept {
    if constexpr (std::is_pointer_v<T> && !std::is_same_v<T, BSTR>)
        return arg == nullptr;
    else
        return false;
}

} // namespace zorvane
