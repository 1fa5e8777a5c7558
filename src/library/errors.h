// Runtime errors of the library: classic error numbers, their descriptions and their HRESULTs.
#pragma once

#include <windows.h>

#include <exception>
#include <string>
#include <string_view>

namespace zorvane {

// Classic error numbers that callers test for.
namespace err {
constexpr long invalid_call = 5;
constexpr long overflow = 6;
constexpr long out_of_memory = 7;
constexpr long type_mismatch = 13;
constexpr long bad_file_name = 52;
constexpr long file_not_found = 53;
constexpr long file_exists = 58;
constexpr long disk_full = 61;
constexpr long permission_denied = 70;
constexpr long path_file_access = 75;
constexpr long path_not_found = 76;
constexpr long object_not_set = 91;
constexpr long invalid_property = 380;
constexpr long object_required = 424;
constexpr long not_supported = 438;
constexpr long action_not_supported = 445;
constexpr long invalid_picture = 481;
constexpr long dll_not_loaded = 48;
constexpr long dll_function_not_found = 453;
} // namespace err

// A failure as callers see it: the number and description they read, and the HRESULT of the call.
struct failure {
    long number = 0;
    std::wstring description;
    HRESULT hresult = E_FAIL;
};

// The one exception type the operations throw.
class error final : public std::exception {
public:
    explicit error(long number);                       // classic number, classic description
    error(long number, std::wstring description);      // classic number, own description
    static error from_hresult(HRESULT hr);             // a failed COM call
    static error from_win32(DWORD code);               // a failed Windows call, as the nearest classic number
    // The failed Windows call's last error as from_win32 makes it; classic number `if_none` when it set none.
    static error from_last_error(long if_none);

    const failure& details() const noexcept { return failure_; }
    const char* what() const noexcept override { return "zorvane::error"; }

private:
    explicit error(failure f) : failure_(std::move(f)) {}
    failure failure_;
};

// Text of a classic error number; "Application-defined or object-defined error" for unknown ones.
std::wstring_view classic_description(long number) noexcept;

// 0x800A0000 | number: the HRESULT of a classic error.
constexpr HRESULT classic_hresult(long number) noexcept {
    return static_cast<HRESULT>(0x800A0000u | (static_cast<unsigned long>(number) & 0xFFFFu));
}

// Whatever was thrown, as a failure (std::bad_alloc is error 7, anything unknown error 5... see errors.cpp).
failure describe(std::exception_ptr thrown) noexcept;

// Throws error::from_hresult when hr failed.
inline void check(HRESULT hr) {
    if (FAILED(hr)) throw error::from_hresult(hr);
}

// For Windows calls that fail with a null handle or pointer, FALSE or zero and say why in the last error: the
// value when it is set, else throws that error (error::from_win32), or classic number `if_none` when the call
// set none (error::from_last_error).
template <typename T>
T check_win32(T value) {
    if (!value) throw error::from_win32(GetLastError());
    return value;
}
template <typename T>
T check_win32(T value, long if_none) {
    if (!value) throw error::from_last_error(if_none);
    return value;
}

} // namespace zorvane
