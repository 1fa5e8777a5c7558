// Number texts and a lock, written here so the library does not carry the C runtime's formatted
// printing or the threads library's mutex for them.
#pragma once

#include <windows.h>

#include <string>

namespace zorvane {

// Decimal digits of `value`.
inline std::wstring decimal_unsigned(unsigned long long value) {
    wchar_t digits[24];
    wchar_t* const end = digits + 24;
    wchar_t* p = end;
    do {
        *--p = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value);
    return std::wstring(p, end);
}

// Decimal digits of `value`, with a leading '-' when negative.
inline std::wstring decimal(long long value) {
    if (value >= 0) return decimal_unsigned(static_cast<unsigned long long>(value));
    return L"-" + decimal_unsigned(0ull - static_cast<unsigned long long>(value));
}

// `width` upper-case hexadecimal digits of the low bits of `value`.
inline std::wstring hex_digits(unsigned long value, int width) {
    std::wstring text(static_cast<size_t>(width), L'0');
    for (int i = width - 1; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = L"0123456789ABCDEF"[value & 0xF];
    return text;
}

// An exclusive lock that needs no initialisation and never fails.
class slim_lock {
public:
    void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
    void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

} // namespace zorvane
