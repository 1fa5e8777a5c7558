// The five version methods, fed exact records through the OCX's own imports.
#include "support/dispatch_call.h"
#include "support/iat_hook.h"
#include "support/ocx.h"
#include "support/published.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

// What the hooked system answers.
struct fake_system {
    bool rtl_fails = false;
    bool legacy_fails = false;
    OSVERSIONINFOW rtl{};
    OSVERSIONINFOW legacy{};
    DWORD size_seen = 0;
    int rtl_calls = 0, legacy_calls = 0;
} fake;

LONG WINAPI fake_rtl_get_version(OSVERSIONINFOW* info) {
    ++fake.rtl_calls;
    fake.size_seen = info->dwOSVersionInfoSize;
    if (fake.rtl_fails) return static_cast<LONG>(0xC0000001);
    std::memcpy(reinterpret_cast<BYTE*>(info) + sizeof(DWORD), reinterpret_cast<BYTE*>(&fake.rtl) + sizeof(DWORD),
                sizeof(OSVERSIONINFOW) - sizeof(DWORD));
    return 0;
}

BOOL WINAPI fake_get_version_ex(OSVERSIONINFOW* info) {
    ++fake.legacy_calls;
    fake.size_seen = info->dwOSVersionInfoSize;
    if (fake.legacy_fails) return FALSE;
    std::memcpy(reinterpret_cast<BYTE*>(info) + sizeof(DWORD),
                reinterpret_cast<BYTE*>(&fake.legacy) + sizeof(DWORD), sizeof(OSVERSIONINFOW) - sizeof(DWORD));
    return TRUE;
}

OSVERSIONINFOW record(DWORD platform, DWORD major, DWORD minor, DWORD build, const wchar_t* csd = L"") {
    OSVERSIONINFOW r{};
    r.dwOSVersionInfoSize = sizeof(r);
    r.dwPlatformId = platform;
    r.dwMajorVersion = major;
    r.dwMinorVersion = minor;
    r.dwBuildNumber = build;
    wcsncpy(r.szCSDVersion, csd, 128);
    return r;
}

struct windows_version : ::testing::Test {
    void SetUp() override {
        fake = fake_system{};
        HMODULE ocx = zvtest::ocx();
        rtl.emplace(ocx, "ntdll.dll", "RtlGetVersion", reinterpret_cast<const void*>(&fake_rtl_get_version));
        get_version.emplace(ocx, "kernel32.dll", "GetVersionExW", reinterpret_cast<const void*>(&fake_get_version_ex));
        renew();
    }
    void TearDown() override {
        if (dual) dual->Release();
        get_version.reset();
        rtl.reset();
        EXPECT_EQ(S_OK, zvtest::can_unload_now());
    }

    void renew() {
        if (dual) dual->Release();
        IUnknown* object = zvtest::new_control();
        object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&dual));
        object->Release();
    }

    // One of the five methods (0 platform, 1 build, 2 major, 3 minor, 4 service pack) through its entry.
    std::wstring ask(int which) {
        using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*);
        auto* table = *reinterpret_cast<void***>(dual);
        zvtest::bstr out;
        const HRESULT hr = reinterpret_cast<method>(table[489 + 30 + which])(dual, out.address());
        EXPECT_EQ(S_OK, hr);
        return out.text();
    }
    std::wstring platform() { return ask(0); }

    std::optional<zvtest::iat_hook> rtl, get_version;
    IDispatch* dual = nullptr;
};

TEST_F(windows_version, platform_decision_depends_on_platform_and_minor_only) {
    struct row {
        DWORD platform, major, minor;
        const wchar_t* expected;
    };
    const row rows[] = {
        {2, 4, 0, L"Windows NT(XP)"}, {2, 5, 1, L"Windows NT(XP)"}, {2, 10, 0, L"Windows NT(XP)"},
        {2, 99, 7, L"Windows NT(XP)"}, {1, 4, 0, L"Windows 95"},    {1, 4, 10, L"Windows 98"},
        {1, 4, 90, L"Windows 98"},     {1, 9, 0, L"Windows 95"},    {0, 3, 10, L"Windows 3.1"},
        {3, 5, 0, L"3"},               {17, 1, 1, L"17"},           {0xFFFFFFFF, 1, 1, L"-1"},
    };
    for (const auto& r : rows) {
        fake.rtl = record(r.platform, r.major, r.minor, 1234);
        EXPECT_EQ(r.expected, platform()) << r.platform << "/" << r.major << "." << r.minor;
    }
}

TEST_F(windows_version, numbers_are_the_whole_signed_fields) {
    fake.rtl = record(2, 10, 0, 0x12345678);
    EXPECT_EQ(L"305419896", ask(1));  // high 16 bits kept
    EXPECT_EQ(L"10", ask(2));
    EXPECT_EQ(L"0", ask(3));
    fake.rtl = record(2, 0xFFFFFFFE, 4294967295u, 0x80000001);
    EXPECT_EQ(L"-2147483647", ask(1));
    EXPECT_EQ(L"-2", ask(2));
    EXPECT_EQ(L"-1", ask(3));
    EXPECT_EQ(sizeof(OSVERSIONINFOW), fake.size_seen);
}

TEST_F(windows_version, service_pack_text_is_trimmed_of_spaces_only) {
    struct row {
        const wchar_t* field;
        const wchar_t* expected;
    };
    const row rows[] = {
        {L"", L""},
        {L"Service Pack 3", L"Service Pack 3"},
        {L"   Service Pack 2  ", L"Service Pack 2"},
        {L"\tSP1\t", L"\tSP1\t"},
        {L"      ", L""},
        {L"Пакет обновления 1", L"Пакет обновления 1"},
    };
    for (const auto& r : rows) {
        fake.rtl = record(2, 5, 1, 2600, r.field);
        EXPECT_EQ(r.expected, ask(4));
    }
    // Whatever follows the first NUL is not part of the text.
    fake.rtl = record(2, 5, 1, 2600, L"SP1");
    wcscpy(fake.rtl.szCSDVersion + 4, L"left over");
    EXPECT_EQ(L"SP1", ask(4));
    fake.rtl.szCSDVersion[0] = L'\0';
    EXPECT_EQ(L"", ask(4));
    // A field with no NUL at all gives all 128 characters.
    for (auto& c : fake.rtl.szCSDVersion) c = L'x';
    EXPECT_EQ(std::wstring(128, L'x'), ask(4));
}

TEST_F(windows_version, true_version_first_then_the_legacy_answer) {
    fake.rtl = record(2, 10, 0, 19045);
    fake.legacy = record(2, 6, 2, 9200);  // what an unmanifested host is told
    EXPECT_EQ(L"10", ask(2));
    EXPECT_EQ(0, fake.legacy_calls);

    fake.rtl_fails = true;
    EXPECT_EQ(L"6", ask(2));
    EXPECT_EQ(L"2", ask(3));
    EXPECT_EQ(L"9200", ask(1));
    EXPECT_EQ(sizeof(OSVERSIONINFOW), fake.size_seen);
}

TEST_F(windows_version, a_failed_query_answers_from_the_last_record) {
    fake.rtl_fails = true;
    fake.legacy_fails = true;
    // Never filled: zero fields and an empty text.
    EXPECT_EQ(L"Windows 3.1", platform());
    EXPECT_EQ(L"0", ask(1));
    EXPECT_EQ(L"0", ask(2));
    EXPECT_EQ(L"0", ask(3));
    EXPECT_EQ(L"", ask(4));

    fake.rtl_fails = false;
    fake.rtl = record(1, 4, 10, 2222, L" A ");
    EXPECT_EQ(L"Windows 98", platform());
    fake.rtl_fails = true;
    EXPECT_EQ(L"Windows 98", platform());
    EXPECT_EQ(L"2222", ask(1));
    EXPECT_EQ(L"A", ask(4));

    // Each control keeps its own record.
    renew();
    EXPECT_EQ(L"Windows 3.1", platform());
}

TEST(windows_version_real, matches_what_the_system_reports) {
    using rtl_get_version = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto get = reinterpret_cast<rtl_get_version>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(nullptr, get);
    OSVERSIONINFOW truth{};
    truth.dwOSVersionInfoSize = sizeof(truth);
    ASSERT_EQ(0, get(&truth));

    IUnknown* object = zvtest::new_control();
    IDispatch* dual = nullptr;
    ASSERT_EQ(S_OK, object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&dual)));
    object->Release();
    auto* table = *reinterpret_cast<void***>(dual);
    using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*);
    auto text = [&](int which) {
        zvtest::bstr out;
        EXPECT_EQ(S_OK, reinterpret_cast<method>(table[489 + 30 + which])(dual, out.address()));
        return out.text();
    };
    EXPECT_EQ(L"Windows NT(XP)", text(0));
    EXPECT_EQ(std::to_wstring(truth.dwBuildNumber), text(1));
    EXPECT_EQ(std::to_wstring(truth.dwMajorVersion), text(2));
    EXPECT_EQ(std::to_wstring(truth.dwMinorVersion), text(3));
    dual->Release();
    EXPECT_EQ(S_OK, zvtest::can_unload_now());
}

} // namespace
