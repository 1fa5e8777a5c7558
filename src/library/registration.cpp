// Registration as data: names and GUIDs come from the embedded type library, the rest from one table.
#include "library/registration.h"

#include "library/errors.h"
#include "library/module.h"
#include "library/raii.h"
#include "library/resource_ids.h"
#include "library/text.h"
#include "library/type_library.h"

#include "zorvane_idl.h"

#include <cwchar>
#include <string>
#include <vector>

#if defined(__MINGW32__)
// Present in oleaut32 since Windows Vista; mingw-w64's headers do not declare them.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* help_folder);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
}
#endif

namespace zorvane::registration {
namespace {

// Everything the rows are made of.
struct facts {
    std::wstring path, clsid, libid, version, class_name, prog_id;
    SYSKIND syskind = SYS_WIN32;
    WORD major = 0, minor = 0;
};

struct row {
    std::wstring key;   // under the classes root: HKEY_CLASSES_ROOT, or the user's own classes
    const wchar_t* name; // value name; nullptr for the key's default value
    std::wstring value;
};

std::wstring guid_text(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring name_of(ITypeLib* library, INT index) {
    unique_bstr name;
    check(library->GetDocumentation(index, name.put(), nullptr, nullptr, nullptr));
    return std::wstring(view_of(name.get()));
}

facts gather(ITypeLib* library, const std::wstring& path) {
    facts f;
    TLIBATTR* attr = nullptr;
    check(library->GetLibAttr(&attr));
    f.libid = guid_text(attr->guid);
    f.syskind = attr->syskind;
    f.major = attr->wMajorVerNum;
    f.minor = attr->wMinorVerNum;
    library->ReleaseTLibAttr(attr);

    com_ptr<ITypeInfo> coclass;
    check(library->GetTypeInfoOfGuid(CLSID_Zorvane, coclass.put()));
    com_ptr<ITypeLib> owner;
    UINT index = 0;
    check(coclass->GetContainingTypeLib(owner.put(), &index));

    f.path = path;
    f.clsid = guid_text(CLSID_Zorvane);
    f.version = decimal(f.major) + L"." + decimal(f.minor);
    f.class_name = name_of(library, static_cast<INT>(index));
    f.prog_id = name_of(library, -1) + L"." + f.class_name;
    return f;
}

std::vector<row> rows_of(const facts& f) {
    const std::wstring clsid_key = L"CLSID\\" + f.clsid;
    return {
        {clsid_key, nullptr, f.class_name},
        {clsid_key + L"\\InprocServer32", nullptr, f.path},
        {clsid_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {clsid_key + L"\\ProgID", nullptr, f.prog_id},
        {clsid_key + L"\\Control", nullptr, L""},
        {clsid_key + L"\\ToolboxBitmap32", nullptr, f.path + L", " + decimal(toolbox_bitmap_id)},
        {clsid_key + L"\\MiscStatus", nullptr, L"0"},
        {clsid_key + L"\\MiscStatus\\1", nullptr, decimal(control_misc_status)},
        {clsid_key + L"\\TypeLib", nullptr, f.libid},
        {clsid_key + L"\\Version", nullptr, f.version},
        {f.prog_id, nullptr, f.class_name},
        {f.prog_id + L"\\CLSID", nullptr, f.clsid},
    };
}

void write(HKEY root, const row& r) {
    unique_hkey key;
    LSTATUS status = RegCreateKeyExW(root, r.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                     key.put(), nullptr);
    if (status == ERROR_SUCCESS) {
        const auto bytes = static_cast<DWORD>((r.value.size() + 1) * sizeof(wchar_t));
        status = RegSetValueExW(key.get(), r.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(r.value.c_str()), bytes);
    }
    if (status != ERROR_SUCCESS) throw error::from_hresult(HRESULT_FROM_WIN32(status));
}

void check_status(LSTATUS status) {
    if (status != ERROR_SUCCESS) throw error::from_hresult(HRESULT_FROM_WIN32(status));
}

// Deletes the key when it holds neither subkeys nor values (RegDeleteKeyW alone refuses only subkeys), and says
// whether it did. A key shared with others, such as CLSID, is never empty while anyone else uses it. Throws
// when the registry refuses.
bool delete_if_empty(HKEY root, const std::wstring& path) {
    unique_hkey probe;
    DWORD subkeys = 0, values = 0;
    const LSTATUS opened = RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, probe.put());
    if (opened == ERROR_FILE_NOT_FOUND) return false;
    check_status(opened);
    check_status(RegQueryInfoKeyW(probe.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                  nullptr, nullptr, nullptr, nullptr));
    probe.reset();
    if (subkeys || values) return false;
    check_status(RegDeleteKeyW(root, path.c_str()));
    return true;
}

// Removes the row's value, then every key of its path that is left empty, deepest first. Throws when the
// registry refuses.
void remove(HKEY root, const row& r) {
    unique_hkey key;
    const LSTATUS opened = RegOpenKeyExW(root, r.key.c_str(), 0, KEY_SET_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) return;  // nothing of the row is there
    check_status(opened);
    const LSTATUS deleted = RegDeleteValueW(key.get(), r.name);
    if (deleted != ERROR_FILE_NOT_FOUND) check_status(deleted);
    key.reset();
    std::wstring path = r.key;
    while (delete_if_empty(root, path)) {
        const auto slash = path.rfind(L'\\');
        if (slash == std::wstring::npos) return;
        path.resize(slash);
    }
}

// True when the other registry view (32-bit beside 64-bit) still registers the class: the ProgID key is
// shared by both views and must stay for it.
bool other_view_registers(HKEY root, const facts& f) {
    constexpr REGSAM other_view = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    unique_hkey key;
    const std::wstring server = L"CLSID\\" + f.clsid + L"\\InprocServer32";
    return RegOpenKeyExW(root, server.c_str(), 0, KEY_QUERY_VALUE | other_view, key.put()) ==
           ERROR_SUCCESS;
}

// Where the rows go: the machine's classes, or the user's own (HKEY_CURRENT_USER\Software\Classes), which
// needs no administrator rights.
struct classes_root {
    unique_hkey user;
    HKEY get() const noexcept { return user ? user.get() : HKEY_CLASSES_ROOT; }
};

const wchar_t user_classes[] = L"Software\\Classes";

classes_root open_root(scope where) {
    classes_root root;
    if (where == scope::user) {
        const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, user_classes, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                               nullptr, root.user.put(), nullptr);
        if (status != ERROR_SUCCESS) throw error::from_hresult(HRESULT_FROM_WIN32(status));
    }
    return root;
}

// The user's own classes as they were before registration made them: never created just to be emptied, and
// gone again once the last row has left (where the system keeps them, they are never empty).
bool user_classes_exist() {
    unique_hkey key;
    const LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, user_classes, 0, KEY_QUERY_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) return false;
    check_status(opened);
    return true;
}

// The default value of `path` under `root` ("" when there is none).
std::wstring default_value(HKEY root, const std::wstring& path) {
    unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return {};
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

// A registered file name as one text to compare: quotes gone, environment strings expanded, full and long.
std::wstring comparable(std::wstring path) {
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
    auto grown = [](std::wstring& text, auto&& ask) {
        std::wstring out(MAX_PATH, L'\0');
        for (int attempt = 0; attempt < 4; ++attempt) {
            const DWORD length = ask(text.c_str(), out.data(), static_cast<DWORD>(out.size()));
            if (length == 0) return;  // the system cannot say: the text stays as it is
            if (length < out.size()) {
                out.resize(wcsnlen(out.c_str(), length));
                text = out;
                return;
            }
            out.assign(length + 1, L'\0');
        }
    };
    grown(path, [](const wchar_t* in, wchar_t* out, DWORD size) { return ExpandEnvironmentStringsW(in, out, size); });
    grown(path, [](const wchar_t* in, wchar_t* out, DWORD size) { return GetFullPathNameW(in, size, out, nullptr); });
    grown(path, [](const wchar_t* in, wchar_t* out, DWORD size) { return GetLongPathNameW(in, out, size); });
    return path;
}

// Whose a registration is: nobody's (nothing registered), this file's, a file's that is gone, or another file's that
// still exists at another path. Only the last is left alone: a fresh copy's unregistration cleans up after a
// deleted one.
enum class registered_file { none, ours, gone, another };

registered_file owner_of(const std::wstring& registered, const std::wstring& ours) {
    if (registered.empty()) return registered_file::none;
    const std::wstring theirs = comparable(registered);
    const std::wstring mine = comparable(ours);
    const int order = CompareStringOrdinal(theirs.c_str(), static_cast<int>(theirs.size()), mine.c_str(),
                                           static_cast<int>(mine.size()), TRUE);
    if (order == 0) throw error::from_last_error(err::invalid_call);
    if (order == CSTR_EQUAL) return registered_file::ours;
    if (GetFileAttributesW(theirs.c_str()) != INVALID_FILE_ATTRIBUTES) return registered_file::another;
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME ||
        code == ERROR_BAD_PATHNAME || code == ERROR_INVALID_DRIVE || code == ERROR_BAD_NETPATH)
        return registered_file::gone;
    throw error::from_win32(code);  // whether the file is there cannot be told: nothing is removed
}

// The key of the type library's file for this architecture, as RegisterTypeLib writes it (versions in hex).
std::wstring type_library_file_key(const facts& f) {
    auto hex = [](WORD value) { return hex_digits(value, value > 0xFFF ? 4 : value > 0xFF ? 3 : value > 0xF ? 2 : 1); };
    return L"TypeLib\\" + f.libid + L"\\" + hex(f.major) + L"." + hex(f.minor) + L"\\0\\" +
           (f.syskind == SYS_WIN64 ? L"win64" : L"win32");
}

// What a registration names: the class's server and the type library's file, as registered ("" for none).
struct registered {
    std::wstring server, library_file;
};

registered read_registration(HKEY root, scope where, const facts& f) {
    registered r{default_value(root, L"CLSID\\" + f.clsid + L"\\InprocServer32"),
                 default_value(root, type_library_file_key(f))};
    // The user's type library may sit in the machine's classes (some systems register it there).
    if (r.library_file.empty() && where == scope::user)
        r.library_file = default_value(HKEY_CLASSES_ROOT, type_library_file_key(f));
    return r;
}

// Removes what registers this file: the class and ProgID rows only where the class's server is this file (or one
// that is gone), the type library's registration by the same rule for its file. Throws at the first step the
// registry refuses.
void remove_all(HKEY root, scope where, const facts& f, const registered& now, ITypeLib* library) {
    if (owner_of(now.server, f.path) != registered_file::another) {
        auto rows = rows_of(f);
        for (auto r = rows.rbegin(); r != rows.rend(); ++r)
            if (r->key.rfind(L"CLSID\\", 0) == 0) remove(root, *r);
        if (!other_view_registers(root, f))
            for (auto r = rows.rbegin(); r != rows.rend(); ++r)
                if (r->key.rfind(L"CLSID\\", 0) != 0) remove(root, *r);
    }
    const registered_file owner = owner_of(now.library_file, f.path);
    if (owner == registered_file::another) return;
    auto* file = const_cast<wchar_t*>(f.path.c_str());
    if (owner == registered_file::gone && library) {
        // The system's unregistration reads the registered file to find its interfaces: this file, which
        // describes the same ones, takes its place first.
        check(where == scope::user ? RegisterTypeLibForUser(library, file, nullptr)
                                   : RegisterTypeLib(library, file, const_cast<wchar_t*>(L"")));
    }
    GUID libid{};
    check(CLSIDFromString(f.libid.c_str(), &libid));
    const HRESULT hr = where == scope::user ? UnRegisterTypeLibForUser(libid, f.major, f.minor, 0, f.syskind)
                                            : UnRegisterTypeLib(libid, f.major, f.minor, 0, f.syskind);
    if (owner != registered_file::none) check(hr);  // nothing registered: nothing to refuse
}

} // namespace

HRESULT register_file(ITypeLib* library, const std::wstring& path, scope where) noexcept {
    facts f;
    try {
        f = gather(library, path);
        const classes_root root = open_root(where);
        try {
            for (const row& r : rows_of(f)) write(root.get(), r);
            auto* file = const_cast<wchar_t*>(f.path.c_str());
            if (where == scope::user)
                check(RegisterTypeLibForUser(library, file, nullptr));
            else
                check(RegisterTypeLib(library, file, const_cast<wchar_t*>(L"")));
            return S_OK;
        } catch (...) {
            const HRESULT hr = describe(std::current_exception()).hresult;
            try {  // what was written goes again, as far as the registry lets it
                remove_all(root.get(), where, f, {f.path, {}}, nullptr);
                if (where == scope::user) delete_if_empty(HKEY_CURRENT_USER, user_classes);
            } catch (...) {
            }
            return hr;
        }
    } catch (...) {
        return describe(std::current_exception()).hresult;
    }
}

HRESULT register_server(scope where) noexcept {
    try {
        return register_file(type_library::get().get(), module::file_name(), where);
    } catch (...) {
        return describe(std::current_exception()).hresult;
    }
}

HRESULT unregister_server(scope where) noexcept {
    try {
        const com_ptr<ITypeLib> library = type_library::get();
        const facts f = gather(library.get(), module::file_name());
        if (where == scope::user && !user_classes_exist()) return S_OK;  // nothing of ours can be there
        const classes_root root = open_root(where);
        const registered now = read_registration(root.get(), where, f);
        try {
            remove_all(root.get(), where, f, now, library.get());
            if (where == scope::user) delete_if_empty(HKEY_CURRENT_USER, user_classes);
            return S_OK;
        } catch (...) {
            // Refused midway: what was removed is written again, naming what it named, and the caller hears why.
            const HRESULT hr = describe(std::current_exception()).hresult;
            try {
                if (!now.server.empty() && owner_of(now.server, f.path) != registered_file::another)
                    register_file(library.get(), now.server, where);
            } catch (...) {
            }
            return hr;
        }
    } catch (...) {
        return describe(std::current_exception()).hresult;
    }
}

} // namespace zorvane::registration
