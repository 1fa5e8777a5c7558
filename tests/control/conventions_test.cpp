// The report, skip and raise conventions, each run end to end through the library's code.
#include "control/bstr.h"
#include "control/conventions.h"
#include "support/message_box.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

std::wstring error_description() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return L"(none)";
    BSTR text = nullptr;
    info->GetDescription(&text);
    info->Release();
    std::wstring out = text ? text : L"";
    SysFreeString(text);
    return out;
}

TEST(conventions, report_shows_number_and_description_then_succeeds) {
    zvtest::message_box_watcher watcher(L"Ошибка");
    int steps = 0;
    const HRESULT hr = zorvane::run(zorvane::convention::report, [&] {
        ++steps;
        throw zorvane::error(zorvane::err::file_not_found);
    });
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(1, steps);
    const auto seen = watcher.wait();
    ASSERT_TRUE(seen.has_value()) << "no message box appeared";
    EXPECT_EQ(L"53File not found", seen->text);
    EXPECT_TRUE(seen->has_ok);
    EXPECT_FALSE(seen->has_cancel);
    EXPECT_EQ(L"(none)", error_description());
}

TEST(conventions, report_of_an_empty_description_is_the_number_alone) {
    zvtest::message_box_watcher watcher(L"Ошибка");
    EXPECT_EQ(S_OK, zorvane::run(zorvane::convention::report, [] { throw zorvane::error(75, L""); }));
    const auto seen = watcher.wait();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(L"75", seen->text);
}

TEST(conventions, skip_succeeds_silently) {
    zvtest::message_box_watcher watcher(L"Ошибка");
    EXPECT_EQ(S_OK, zorvane::run(zorvane::convention::skip, [] { throw zorvane::error(zorvane::err::overflow); }));
    EXPECT_FALSE(watcher.wait(300).has_value());
}

TEST(conventions, raise_fails_with_the_classic_hresult_and_error_info) {
    zvtest::message_box_watcher watcher(L"Ошибка");
    EXPECT_EQ(static_cast<HRESULT>(0x800A000D),
              zorvane::run(zorvane::convention::raise, [] { throw zorvane::error(zorvane::err::type_mismatch); }));
    EXPECT_EQ(L"Type mismatch", error_description());
    EXPECT_EQ(static_cast<HRESULT>(0x800A0006),
              zorvane::run(zorvane::convention::raise, [] { throw zorvane::error(zorvane::err::overflow); }));
    EXPECT_EQ(L"Overflow", error_description());
    // Out of memory and anything unknown still arrive as classic errors.
    EXPECT_EQ(static_cast<HRESULT>(0x800A0007), zorvane::run(zorvane::convention::raise, [] { throw std::bad_alloc(); }));
    EXPECT_EQ(static_cast<HRESULT>(0x800A0005),
              zorvane::run(zorvane::convention::raise, [] { throw std::runtime_error("?"); }));
    EXPECT_EQ(L"Invalid procedure call or argument", error_description());
    // A failed COM call keeps its own HRESULT.
    EXPECT_EQ(E_ACCESSDENIED, zorvane::run(zorvane::convention::raise, [] { zorvane::check(E_ACCESSDENIED); }));
    EXPECT_FALSE(watcher.wait(300).has_value());
}

TEST(conventions, windows_errors_become_classic_numbers) {
    auto number = [](DWORD code) { return zorvane::error::from_win32(code).details().number; };
    EXPECT_EQ(53, number(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(76, number(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(75, number(ERROR_ACCESS_DENIED));
    EXPECT_EQ(61, number(ERROR_DISK_FULL));
    EXPECT_EQ(static_cast<long>(HRESULT_FROM_WIN32(ERROR_CANCELLED)), number(ERROR_CANCELLED));
    EXPECT_EQ(13, zorvane::error::from_hresult(static_cast<HRESULT>(0x800A000D)).details().number);
}

TEST(bstr_arguments, null_and_omitted_optional_are_empty) {
    EXPECT_TRUE(zorvane::text_of(nullptr).empty());
    // An omitted optional BSTR arrives as DISP_E_PARAMNOTFOUND reinterpreted as a pointer; never read it.
    auto omitted = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0x80020004u));
    EXPECT_TRUE(zorvane::text_of(omitted).empty());
#ifdef _WIN64
    auto omitted_high = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0xFFFFFFFF80020004ull));
    EXPECT_TRUE(zorvane::text_of(omitted_high).empty());
#endif
    BSTR text = SysAllocStringLen(L"a\0b", 3);
    EXPECT_EQ(3u, zorvane::text_of(text).size());
    SysFreeString(text);
}

} // namespace
