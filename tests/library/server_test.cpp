// The exports: class objects, unloading, registration for the machine and for the user.
#include "support/ocx.h"
#include "support/published.h"
#include "support/version_text.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <string>

namespace {

using zvtest::clsid_snapshot;
using zvtest::clsid_zorvane;
using zvtest::prog_id;
const std::wstring clsid_key = std::wstring(L"CLSID\\") + zvtest::clsid_zorvane_text;
const std::wstring prog_id_clsid = std::wstring(prog_id) + L"\\CLSID";

TEST(server, class_objects) {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              zvtest::get_class_object(clsid_snapshot, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(nullptr, factory);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              zvtest::get_class_object(IID_IDispatch, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(E_POINTER, zvtest::get_class_object(clsid_zorvane, IID_IClassFactory, nullptr));

    ASSERT_EQ(S_OK, zvtest::get_class_object(clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    IUnknown* object = nullptr;
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(nullptr, object);
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)));
    factory->Release();
    EXPECT_EQ(S_FALSE, zvtest::can_unload_now());
    object->Release();
    EXPECT_EQ(S_OK, zvtest::can_unload_now());
}

TEST(server, factory_locks_keep_the_library) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, zvtest::get_class_object(clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(S_FALSE, zvtest::can_unload_now());
    ASSERT_EQ(S_OK, zvtest::get_class_object(clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(S_OK, zvtest::can_unload_now());
}

std::wstring value_of(const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t data[1024] = {};
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

bool key_exists(const std::wstring& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

void expect_registered() {
    const std::wstring clsid = clsid_key;
    const std::wstring path = zvtest::ocx_path();
    EXPECT_EQ(path, value_of(clsid + L"\\InprocServer32"));
    EXPECT_EQ(L"Apartment", value_of(clsid + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(prog_id, value_of(clsid + L"\\ProgID"));
    EXPECT_TRUE(key_exists(clsid + L"\\Control"));
    EXPECT_EQ(path + L", 30000", value_of(clsid + L"\\ToolboxBitmap32"));
    EXPECT_EQ(L"132497", value_of(clsid + L"\\MiscStatus\\1"));
    EXPECT_EQ(zvtest::libid_zorvane_text, value_of(clsid + L"\\TypeLib"));
    EXPECT_EQ(L"1.0", value_of(clsid + L"\\Version"));
    EXPECT_EQ(zvtest::clsid_zorvane_text, value_of(prog_id_clsid));

    const std::wstring library = std::wstring(L"TypeLib\\") + zvtest::libid_zorvane_text + L"\\1.0";
    EXPECT_EQ(zvtest::product_title(), value_of(library));
    const std::wstring flags = value_of(library + L"\\FLAGS");  // Wine also writes FHASDISKIMAGE (8)
    EXPECT_TRUE(flags == L"2" || flags == L"10") << std::string(flags.begin(), flags.end());
    EXPECT_EQ(path, value_of(library + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32")));
    // Dual interfaces are marshalled by the automation marshaller.
    EXPECT_EQ(L"{00020424-0000-0000-C000-000000000046}",
              value_of(std::wstring(L"Interface\\") + zvtest::iid_zorvane_text + L"\\ProxyStubClsid32"));

    CLSID from_prog_id{};
    EXPECT_EQ(S_OK, CLSIDFromProgID(prog_id, &from_prog_id));
    EXPECT_TRUE(IsEqualCLSID(clsid_zorvane, from_prog_id));
    ITypeLib* registered = nullptr;
    EXPECT_EQ(S_OK, LoadRegTypeLib(zvtest::libid_zorvane, 1, 0, 0, &registered));
    if (registered) registered->Release();
}

// Runs in a throwaway prefix where the test bench registered the OCX; leaves it registered.
TEST(server, registration_writes_and_removes_exactly_its_rows) {
    ASSERT_EQ(S_OK, CoInitialize(nullptr) >= 0 ? S_OK : E_FAIL);
    ASSERT_EQ(S_OK, zvtest::register_server());
    expect_registered();

    IDispatch* created = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid_zorvane, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(&created)));
    created->Release();

    // Someone else's value under the class key survives unregistration; ours do not.
    HKEY extra = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (clsid_key + L"\\Implemented Categories").c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &extra, nullptr));
    RegCloseKey(extra);
    ASSERT_EQ(S_OK, zvtest::unregister_server());
    EXPECT_FALSE(key_exists(clsid_key + L"\\InprocServer32"));
    EXPECT_FALSE(key_exists(clsid_key + L"\\ProgID"));
    EXPECT_FALSE(key_exists(prog_id));
    EXPECT_FALSE(key_exists(std::wstring(L"TypeLib\\") + zvtest::libid_zorvane_text));
    EXPECT_TRUE(key_exists(clsid_key + L"\\Implemented Categories"));
    RegDeleteKeyW(HKEY_CLASSES_ROOT, (clsid_key + L"\\Implemented Categories").c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, clsid_key.c_str());
    CLSID none{};
    EXPECT_NE(S_OK, CLSIDFromProgID(prog_id, &none));

    // Unregistering twice is harmless; registering again restores everything.
    EXPECT_EQ(S_OK, zvtest::unregister_server());
    ASSERT_EQ(S_OK, zvtest::register_server());
    expect_registered();
    EXPECT_EQ(S_OK, zvtest::can_unload_now());
    CoUninitialize();
}

std::wstring user_value(const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value);
    const std::wstring path = L"Software\\Classes\\" + key;
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"(none)";
    return value;
}

bool machine_has(const std::wstring& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

void run_regsvr32(const std::wstring& arguments) {
    std::wstring line = L"regsvr32.exe /s " + arguments + L" \"" + zvtest::ocx_path() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

TEST(server, per_user_registration_without_administrator_rights) {
    using install_fn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    auto install = reinterpret_cast<install_fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(zvtest::ocx(), "DllInstall")));
    ASSERT_NE(nullptr, install);
    EXPECT_EQ(E_INVALIDARG, install(TRUE, L"everyone"));

    const std::wstring inproc = clsid_key + L"\\InprocServer32";
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way ? "regsvr32 /n /i:user" : "DllInstall");
        if (way)
            run_regsvr32(L"/n /i:user");
        else
            ASSERT_EQ(S_OK, install(TRUE, L"user"));
        EXPECT_EQ(zvtest::ocx_path(), user_value(inproc));
        EXPECT_EQ(L"Apartment", user_value(inproc, L"ThreadingModel"));
        EXPECT_EQ(zvtest::clsid_zorvane_text, user_value(prog_id_clsid));
        EXPECT_EQ(prog_id, user_value(clsid_key + L"\\ProgID"));
        EXPECT_EQ(L"132497", user_value(clsid_key + L"\\MiscStatus\\1"));

        // A value someone else keeps under the class survives the removal.
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + clsid_key).c_str(),
                                                 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
        RegSetValueExW(key, L"Foreign", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
        RegCloseKey(key);
        if (way)
            run_regsvr32(L"/u /n /i:user");
        else
            ASSERT_EQ(S_OK, install(FALSE, L"user"));
        EXPECT_EQ(L"(none)", user_value(inproc));
        EXPECT_EQ(L"(none)", user_value(prog_id_clsid));
        EXPECT_EQ(L"x", user_value(clsid_key, L"Foreign"));
        RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + clsid_key).c_str());
        // The machine's registration of the test prefix is untouched.
        EXPECT_TRUE(machine_has(inproc));
        EXPECT_TRUE(machine_has(prog_id_clsid));
    }
}

TEST(server, version_resource) {
    const std::wstring path = zvtest::ocx_path();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    // The project's version, major.minor.patch.0, in both.
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(ZV_VERSION_MINOR, ZV_VERSION_MAJOR)), fixed->dwFileVersionMS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(0, ZV_VERSION_PATCH)), fixed->dwFileVersionLS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(ZV_VERSION_MINOR, ZV_VERSION_MAJOR)), fixed->dwProductVersionMS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(0, ZV_VERSION_PATCH)), fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);

    auto text = [&](const wchar_t* name) {
        wchar_t* value = nullptr;
        UINT chars = 0;
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars)) return std::wstring(L"(missing)");
        return std::wstring(value, chars ? chars - 1 : 0);
    };
    EXPECT_EQ(zvtest::short_version_text(), text(L"FileVersion"));
    EXPECT_EQ(zvtest::short_version_text(), text(L"ProductVersion"));
    EXPECT_EQ(zvtest::product_title(), text(L"FileDescription"));
    EXPECT_EQ(zvtest::product_title(), text(L"ProductName"));
    EXPECT_EQ(L"ZorvaneLib", text(L"InternalName"));
    EXPECT_EQ(L"ZorvaneLib.ocx", text(L"OriginalFilename"));
    EXPECT_EQ(L"", text(L"OLESelfRegister"));
    EXPECT_EQ(L"Quelm", text(L"CompanyName"));
    EXPECT_EQ(L"В этот контрол запихано почти всё, что связано с работой в WINDOWS.", text(L"Comments"));

    // The toolbox picture: 16 by 15 pixels, 24 bits per pixel.
    HMODULE ocx = zvtest::ocx();
    HRSRC resource = FindResourceW(ocx, MAKEINTRESOURCEW(30000), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    ASSERT_NE(nullptr, resource);
    auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(ocx, resource)));
    EXPECT_EQ(16, header->biWidth);
    EXPECT_EQ(15, header->biHeight);
    EXPECT_EQ(24, header->biBitCount);
}

} // namespace
