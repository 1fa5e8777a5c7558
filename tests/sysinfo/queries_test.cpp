// The read-only queries of the control, fed exact system answers through the OCX's own imports,
// and checked against the real answers of the throwaway prefix.
#include "support/dispatch_call.h"
#include "support/iat_hook.h"
#include "support/control_fixture.h"
#include "support/ocx.h"
#include "support/published.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

// Places of the queries among the 58 methods of _Zorvane.
enum place : int {
    windows_dir = 2, system_dir = 3, temp_dir = 4, cursor_x = 28, cursor_y = 29, reg_key = 35,
    total_memory = 36, free_memory = 37, total_virtual = 38, available_virtual = 39, screen_x = 40,
    screen_y = 41, processor = 42, drive_label = 43, drive_serial = 44, drive_file_system = 45,
};

template <typename F>
const void* fn(F f) {
    return reinterpret_cast<const void*>(f);
}

struct queries : zvtest::control_fixture {

    // A method without arguments, through its table entry.
    std::wstring ask(int which) {
        using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*);
        zvtest::bstr out;
        EXPECT_EQ(S_OK, reinterpret_cast<method>(entry(which))(dual, out.address()));
        return out.text();
    }
    // A drive method; `path` must come back unchanged.
    std::wstring ask_drive(int which, const std::wstring& path) {
        using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*, BSTR*);
        zvtest::bstr argument(path);
        const BSTR passed = argument.get();
        zvtest::bstr out;
        EXPECT_EQ(S_OK, reinterpret_cast<method>(entry(which))(dual, argument.address(), out.address()));
        EXPECT_EQ(passed, argument.get());
        EXPECT_EQ(path, argument.text());
        return out.text();
    }
    void* entry(int which) { return (*reinterpret_cast<void***>(dual))[489 + which]; }

};

// ---- Registry -------------------------------------------------------------------------------------------------

const wchar_t current_version[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

// The value lives in the system's own (64-bit) view, which the control reads from a 32-bit host as well.
void set_product_key(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, current_version, 0, nullptr, 0,
                                             KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"ProductKey", 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void set_product_key(const std::wstring& text, bool with_nul = true) {
    set_product_key(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + (with_nul ? 1 : 0)) * sizeof(wchar_t)));
}

void delete_product_key() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, current_version, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"ProductKey");
    RegCloseKey(key);
}

struct registry_spy {
    REGSAM access = 0;
    std::wstring path;
    int opened = 0, closed = 0, queries = 0;
    DWORD grow_by = 0;  // bytes the value grows by between the size query and the read, once
} spy;
zvtest::iat_hook* open_hook = nullptr;
zvtest::iat_hook* query_hook = nullptr;
zvtest::iat_hook* close_hook = nullptr;

LONG WINAPI spy_open(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY out) {
    spy.access = access;
    spy.path = path ? path : L"";
    const LONG result = open_hook->original<decltype(&spy_open)>()(root, path, options, access, out);
    if (result == ERROR_SUCCESS) ++spy.opened;
    return result;
}

LONG WINAPI spy_query(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    ++spy.queries;
    if (!data && spy.grow_by) {
        // Report the old size, then let the value grow before the read.
        const LONG result = query_hook->original<decltype(&spy_query)>()(key, name, reserved, type, data, size);
        set_product_key(L"grown to a longer text than before");
        spy.grow_by = 0;
        return result;
    }
    return query_hook->original<decltype(&spy_query)>()(key, name, reserved, type, data, size);
}

LONG WINAPI spy_close(HKEY key) {
    ++spy.closed;
    return close_hook->original<decltype(&spy_close)>()(key);
}

struct registry : queries {
    void SetUp() override {
        queries::SetUp();
        spy = registry_spy{};
        HMODULE ocx = zvtest::ocx();
        open.emplace(ocx, "advapi32.dll", "RegOpenKeyExW", fn(&spy_open));
        query.emplace(ocx, "advapi32.dll", "RegQueryValueExW", fn(&spy_query));
        close.emplace(ocx, "advapi32.dll", "RegCloseKey", fn(&spy_close));
        open_hook = &*open;
        query_hook = &*query;
        close_hook = &*close;
    }
    void TearDown() override {
        close.reset();
        query.reset();
        open.reset();
        delete_product_key();
        queries::TearDown();
    }
    std::optional<zvtest::iat_hook> open, query, close;
};

TEST_F(registry, product_key_text_as_stored) {
    delete_product_key();
    EXPECT_EQ(L"", ask(reg_key));
    EXPECT_EQ(0, spy.opened - spy.closed);

    set_product_key(L"ABCDE-12345-FGHIJ-67890-KLMNO");
    EXPECT_EQ(L"ABCDE-12345-FGHIJ-67890-KLMNO", ask(reg_key));
    EXPECT_EQ(0x19 | KEY_WOW64_64KEY, spy.access);  // never KEY_READ; the system's own view
    EXPECT_EQ(current_version, spy.path);

    set_product_key(L"Ключ продукта 製品キー");
    EXPECT_EQ(L"Ключ продукта 製品キー", ask(reg_key));

    // Only a terminating NUL is dropped: a value stored without one keeps every character.
    set_product_key(L"NO-TERMINATOR", false);
    EXPECT_EQ(L"NO-TERMINATOR", ask(reg_key));
    set_product_key(std::wstring(L"a\0b", 3));
    EXPECT_EQ(std::wstring(L"a\0b", 3), ask(reg_key));
    set_product_key(L"");
    EXPECT_EQ(L"", ask(reg_key));
    set_product_key(REG_SZ, L"", 0);
    EXPECT_EQ(L"", ask(reg_key));

    // Only REG_SZ is text here.
    set_product_key(REG_EXPAND_SZ, L"%SystemRoot%", 26);
    EXPECT_EQ(L"", ask(reg_key));
    set_product_key(REG_MULTI_SZ, L"a\0b\0", 10);
    EXPECT_EQ(L"", ask(reg_key));
    const DWORD number = 42;
    set_product_key(REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(L"", ask(reg_key));

    // Every call closes what it opened.
    for (int i = 0; i < 20; ++i) ask(reg_key);
    EXPECT_GT(spy.opened, 20);
    EXPECT_EQ(spy.opened, spy.closed);
}

TEST_F(registry, a_value_that_grows_between_the_queries_is_read_again) {
    set_product_key(L"short");
    spy.grow_by = 1;
    EXPECT_EQ(L"grown to a longer text than before", ask(reg_key));
    EXPECT_GE(spy.queries, 4);
    EXPECT_EQ(spy.opened, spy.closed);
}

// ---- Memory ---------------------------------------------------------------------------------------------------

struct fake_memory {
    MEMORYSTATUSEX status{};
    int calls = 0;
    bool fails = false;
} memory;

BOOL WINAPI fake_memory_status(MEMORYSTATUSEX* status) {
    ++memory.calls;
    if (memory.fails || status->dwLength != sizeof(MEMORYSTATUSEX)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    *status = memory.status;
    return TRUE;
}

struct memory_texts : queries {
    void SetUp() override {
        queries::SetUp();
        memory = fake_memory{};
        memory.status.dwLength = sizeof(MEMORYSTATUSEX);
        hook.emplace(zvtest::ocx(), "kernel32.dll", "GlobalMemoryStatusEx", fn(&fake_memory_status));
    }
    void TearDown() override {
        hook.reset();
        queries::TearDown();
    }
    std::optional<zvtest::iat_hook> hook;
};

TEST_F(memory_texts, whole_kilobytes_grouped_by_threes) {
    struct row {
        DWORDLONG bytes;
        const wchar_t* text;
    };
    const row rows[] = {
        {0, L"0"}, {1023, L"0"}, {1024, L"1"}, {1024 * 999, L"999"}, {1024 * 1000, L"1,000"},
        {536870912, L"524,288"}, {0x80000000ull, L"2,097,152"}, {0xFFFFFFFFull, L"4,194,303"},
        {6ull << 30, L"6,291,456"}, {1ull << 47, L"137,438,953,472"},
        {0xFFFFFFFFFFFFFFFFull, L"18,014,398,509,481,983"},
    };
    for (const auto& r : rows) {
        memory.status.ullTotalPhys = r.bytes;
        EXPECT_EQ(r.text, ask(total_memory)) << r.bytes;
    }
}

TEST_F(memory_texts, the_user_locale_separates_the_groups) {
    wchar_t original[8] = {};
    ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, original, 8), 0);
    memory.status.ullTotalPhys = 6ull << 30;
    for (const wchar_t* separator : {L".", L"\u00A0", L"'", L" "}) {
        ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, separator));
        EXPECT_EQ(std::wstring(L"6") + separator + L"291" + separator + L"456", ask(total_memory));
    }
    ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, original));
    EXPECT_EQ(std::wstring(L"6") + original + L"291" + original + L"456", ask(total_memory));
}

TEST_F(memory_texts, each_method_reads_its_own_figure_afresh) {
    memory.status.ullTotalPhys = 8ull << 30;
    memory.status.ullAvailPhys = 3ull << 30;
    memory.status.ullTotalVirtual = 2ull << 30;
    memory.status.ullAvailVirtual = 1ull << 30;
    EXPECT_EQ(L"8,388,608", ask(total_memory));
    EXPECT_EQ(L"3,145,728", ask(free_memory));
    EXPECT_EQ(L"2,097,152", ask(total_virtual));
    EXPECT_EQ(L"1,048,576", ask(available_virtual));

    // Free memory that changes is reported as it changes.
    memory.status.ullAvailPhys = 5ull << 20;
    EXPECT_EQ(L"5,120", ask(free_memory));
    const int before = memory.calls;
    ask(total_memory);
    ask(free_memory);
    EXPECT_EQ(before + 2, memory.calls);

    // A refused reading is the system's failure, raised as such: never a figure of zero, stale or random.
    memory.fails = true;
    using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*);
    zvtest::bstr out;
    EXPECT_EQ(static_cast<HRESULT>(0x800A0007), reinterpret_cast<method>(entry(free_memory))(dual, out.address()));
    EXPECT_EQ(nullptr, out.get());
    EXPECT_EQ(L"Out of memory", zvtest::take_error_description());
}

// ---- Volumes --------------------------------------------------------------------------------------------------

struct fake_volume {
    BOOL ok = TRUE;
    std::wstring label, file_system, root_seen;
    DWORD serial = 0;
    DWORD label_size = 0, file_system_size = 0;
    int calls = 0;
} volume;

BOOL WINAPI fake_volume_information(LPCWSTR root, LPWSTR label, DWORD label_size, LPDWORD serial, LPDWORD length,
                                    LPDWORD flags, LPWSTR file_system, DWORD file_system_size) {
    ++volume.calls;
    volume.root_seen = root ? root : L"(null)";
    volume.label_size = label_size;
    volume.file_system_size = file_system_size;
    if (!volume.ok) {
        // Whatever a failing system leaves in the buffers must not show.
        if (label && label_size) wcsncpy(label, L"junk", label_size);
        return FALSE;
    }
    if (label_size <= volume.label.size() || file_system_size <= volume.file_system.size()) return FALSE;
    wcscpy(label, volume.label.c_str());
    wcscpy(file_system, volume.file_system.c_str());
    if (serial) *serial = volume.serial;
    if (length) *length = 255;
    if (flags) *flags = 0;
    return TRUE;
}

struct volumes : queries {
    void SetUp() override {
        queries::SetUp();
        volume = fake_volume{};
        hook.emplace(zvtest::ocx(), "kernel32.dll", "GetVolumeInformationW", fn(&fake_volume_information));
    }
    void TearDown() override {
        hook.reset();
        queries::TearDown();
    }
    std::optional<zvtest::iat_hook> hook;
};

TEST_F(volumes, serial_number_as_two_groups_of_four_digits) {
    const std::pair<DWORD, const wchar_t*> rows[] = {
        {0x1234FEDC, L"1234-FEDC"}, {0x0001FFFF, L"0001-FFFF"}, {0xFFFFFFFF, L"FFFF-FFFF"},
        {0x000A0001, L"000A-0001"}, {0x0012ABCD, L"0012-ABCD"}, {0, L"0000-0000"},
    };
    volume.file_system = L"NTFS";
    for (const auto& r : rows) {
        volume.serial = r.first;
        EXPECT_EQ(r.second, ask_drive(drive_serial, L"C:\\"));
    }
}

TEST_F(volumes, label_and_file_system_texts) {
    struct row {
        const wchar_t* label;
        const wchar_t* file_system;
        const wchar_t* label_text;
        const wchar_t* file_system_text;
    };
    const row rows[] = {
        {L"SYSTEM", L"NTFS", L"SYSTEM", L"(NTFS)"},
        {L"", L"FAT32", L"", L"(FAT32)"},
        {L"     ", L"", L"", L"()"},
        {L" My Disk  ", L"exFAT", L" My Disk  ", L"(exFAT)"},
        {L"A LABEL OF 32 CHARACTERS, LONG!!", L"NTFS", L"A LABEL OF 32 CHARACTERS, LONG!!", L"(NTFS)"},
        {L"Диск Д 磁盘", L"UDF", L"Диск Д 磁盘", L"(UDF)"},
    };
    for (const auto& r : rows) {
        volume.label = r.label;
        volume.file_system = r.file_system;
        EXPECT_EQ(r.label_text, ask_drive(drive_label, L"D:\\"));
        EXPECT_EQ(r.file_system_text, ask_drive(drive_file_system, L"D:\\"));
    }
    EXPECT_GT(volume.label_size, 32u);  // room for any label Windows allows
    EXPECT_GT(volume.file_system_size, 31u);
}

TEST_F(volumes, one_query_sets_all_three_and_failure_keeps_the_known_texts) {
    volume.label = L"DATA";
    volume.file_system = L"NTFS";
    volume.serial = 0xCAFE0001;
    EXPECT_EQ(L"DATA", ask_drive(drive_label, L"E:\\"));
    EXPECT_EQ(1, volume.calls);
    EXPECT_EQ(L"E:\\", volume.root_seen);

    volume.ok = FALSE;
    EXPECT_EQ(std::wstring(14, L' '), ask_drive(drive_label, L"Q:\\"));
    EXPECT_EQ(std::wstring(32, L' '), ask_drive(drive_file_system, L"Q:\\"));
    EXPECT_EQ(L"", ask_drive(drive_serial, L"Q:\\"));  // not the serial of E:

    // Paths go to the system as they are, and come back unchanged.
    volume.ok = TRUE;
    for (const wchar_t* path : {L"F:", L"\\\\server\\share\\", L"Z:\\Папка\\", L""}) {
        ask_drive(drive_serial, path);
        EXPECT_EQ(path, volume.root_seen);
    }
}

TEST(volumes_real, the_prefix_drive) {
    IUnknown* object = zvtest::new_control();
    IDispatch* dual = nullptr;
    ASSERT_EQ(S_OK, object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&dual)));
    object->Release();
    using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*, BSTR*);
    auto call = [&](int which, const wchar_t* path) {
        zvtest::bstr argument(path), out;
        EXPECT_EQ(S_OK, reinterpret_cast<method>((*reinterpret_cast<void***>(dual))[489 + which])(
                            dual, argument.address(), out.address()));
        return out.text();
    };
    wchar_t label[MAX_PATH + 1], file_system[MAX_PATH + 1];
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumeInformationW(L"C:\\", label, MAX_PATH + 1, &serial, nullptr, nullptr, file_system,
                                      MAX_PATH + 1));
    EXPECT_EQ(L"(" + std::wstring(file_system) + L")", call(drive_file_system, L"C:\\"));
    wchar_t serial_text[10];
    swprintf(serial_text, 10, L"%04X-%04X", serial >> 16, serial & 0xFFFF);
    EXPECT_EQ(serial_text, call(drive_serial, L"C:\\"));
    EXPECT_EQ(std::wstring(14, L' '), call(drive_label, L"C:\\no such folder\\"));
    dual->Release();
}

// ---- Folders --------------------------------------------------------------------------------------------------

std::wstring long_temp;
bool temp_fails = false;
DWORD WINAPI fake_temp_path(DWORD size, LPWSTR buffer) {
    if (temp_fails) return 0;
    if (size <= long_temp.size()) return static_cast<DWORD>(long_temp.size() + 1);
    wcscpy(buffer, long_temp.c_str());
    return static_cast<DWORD>(long_temp.size());
}

TEST_F(queries, folders_as_the_system_gives_them) {
    wchar_t expected[MAX_PATH];
    GetWindowsDirectoryW(expected, MAX_PATH);
    EXPECT_EQ(expected, ask(windows_dir));
    EXPECT_NE(L'\\', ask(windows_dir).back());
    GetSystemDirectoryW(expected, MAX_PATH);
    EXPECT_EQ(expected, ask(system_dir));
    GetTempPathW(MAX_PATH, expected);
    EXPECT_EQ(expected, ask(temp_dir));
    EXPECT_EQ(L'\\', ask(temp_dir).back());

    zvtest::iat_hook hook(zvtest::ocx(), "kernel32.dll", "GetTempPathW", fn(&fake_temp_path));
    for (size_t length : {254u, 255u, 256u, 300u, 1000u}) {
        long_temp = L"C:\\" + std::wstring(length - 4, L'д') + L"\\";
        EXPECT_EQ(long_temp, ask(temp_dir)) << length;  // whole, never a 256-character buffer
    }
    temp_fails = true;
    EXPECT_EQ(L"", ask(temp_dir));
    temp_fails = false;
}

// ---- Screen, cursor, processor --------------------------------------------------------------------------------

POINT cursor{};
BOOL cursor_ok = TRUE;
BOOL WINAPI fake_cursor_pos(POINT* point) {
    if (!cursor_ok) return FALSE;
    *point = cursor;
    return TRUE;
}
int WINAPI fake_metrics(int index) { return index == SM_CXSCREEN ? 12345 : index == SM_CYSCREEN ? 1024 : 0; }
DWORD processor_type = 0;
void WINAPI fake_system_info(SYSTEM_INFO* info) {
    std::memset(info, 0, sizeof(*info));
    info->dwProcessorType = processor_type;
}

TEST_F(queries, numbers_without_grouping) {
    EXPECT_EQ(std::to_wstring(GetSystemMetrics(SM_CXSCREEN)), ask(screen_x));
    EXPECT_EQ(std::to_wstring(GetSystemMetrics(SM_CYSCREEN)), ask(screen_y));
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(std::to_wstring(info.dwProcessorType), ask(processor));

    HMODULE ocx = zvtest::ocx();
    {
        zvtest::iat_hook metrics(ocx, "user32.dll", "GetSystemMetrics", fn(&fake_metrics));
        EXPECT_EQ(L"12345", ask(screen_x));
        EXPECT_EQ(L"1024", ask(screen_y));
    }
    {
        zvtest::iat_hook position(ocx, "user32.dll", "GetCursorPos", fn(&fake_cursor_pos));
        cursor = {-5, -2147483647 - 1};
        EXPECT_EQ(L"-5", ask(cursor_x));
        EXPECT_EQ(L"-2147483648", ask(cursor_y));
        cursor = {1920, 1080};
        EXPECT_EQ(L"1920", ask(cursor_x));
        cursor_ok = FALSE;
        EXPECT_EQ(L"0", ask(cursor_x));
        EXPECT_EQ(L"0", ask(cursor_y));
        cursor_ok = TRUE;
    }
    {
        zvtest::iat_hook system(ocx, "kernel32.dll", "GetSystemInfo", fn(&fake_system_info));
        processor_type = 586;
        EXPECT_EQ(L"586", ask(processor));
        processor_type = 8664;
        EXPECT_EQ(L"8664", ask(processor));
    }
}

TEST_F(queries, cursor_where_it_really_is) {
    ASSERT_TRUE(SetCursorPos(37, 21));
    POINT point{};
    GetCursorPos(&point);
    EXPECT_EQ(std::to_wstring(point.x), ask(cursor_x));
    EXPECT_EQ(std::to_wstring(point.y), ask(cursor_y));
}

} // namespace
