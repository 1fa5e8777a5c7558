// package_rows <ocx> <machine|user> <file id> <folder id> <out.wxi>: the registry rows that registering the
// OCX writes (DllRegisterServer, or DllInstall for the user), for the file Windows Installer knows as
// <file id> in the folder <folder id>, as WiX RegistryValue elements that a package writes and removes itself.
//
// The rows come from running the library's own registration (registration::register_file, the code
// DllRegisterServer runs, with oleaut32's RegisterTypeLib for the type library and its interfaces) with the
// classes roots of this process redirected into a scratch key, and a stand-in path that becomes [#<file id>].
// oleaut32 also writes the interfaces into the other registry view, past the redirection: run it in a
// throwaway prefix. Each package's component writes its own view.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "library/raii.h"
#include "library/registration.h"

namespace {

using zorvane::com_ptr;
using zorvane::unique_hkey;
namespace registration = zorvane::registration;

// Where the rows are written while they are read; removed again afterwards.
const wchar_t scratch_key[] = L"Software\\ZorvaneLib package rows";
// A path no registration writes for another reason; every value that holds it refers to the file.
const std::wstring stand_in = L"C:\\ZorvaneLib package stand-in\\ZorvaneLib.ocx";

[[noreturn]] void fail(const std::string& what, long code) {
    char text[32];
    std::snprintf(text, sizeof text, " (0x%08lX)", static_cast<unsigned long>(code));
    throw std::runtime_error(what + text);
}

void check(LSTATUS status, const char* what) {
    if (status != ERROR_SUCCESS) fail(what, status);
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Text for an XML attribute.
std::wstring xml(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// Where the OCX is installed, as Windows Installer formatted strings name it.
struct references {
    std::wstring file, folder;
};

// Literal text as a Windows Installer formatted string (a Registry value): brackets escaped, the stand-in path
// as the reference to the installed file, and the stand-in's folder (the help folder that registering for the
// user writes) as the reference to its folder, which ends in a backslash where the registration writes none.
std::wstring formatted(const std::wstring& text, const references& to) {
    const std::wstring folder = stand_in.substr(0, stand_in.rfind(L'\\'));
    if (text == folder) return L"[" + to.folder + L"]";
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, stand_in.size(), stand_in) == 0) {
            out += L"[#" + to.file + L"]";
            i += stand_in.size();
            continue;
        }
        if (text[i] == L'[') out += L"[\\[]";
        else if (text[i] == L']') out += L"[\\]]";
        else out += text[i];
        ++i;
    }
    // Anything else of the stand-in would name a place that does not exist on the target.
    if (out.find(folder) != std::wstring::npos)
        throw std::runtime_error("a value names the OCX's folder in a way no row can express: " + utf8(text));
    // A leading '#' marks a number or an expandable string in the Registry table.
    if (!out.empty() && out[0] == L'#') out.insert(0, 1, L'#');
    return out;
}

struct row {
    std::wstring key, name, value;
};

// Every value below `key` (a path below `root`), keys in the order the registry lists them.
void collect(HKEY root, const std::wstring& key, std::vector<row>& rows) {
    unique_hkey handle;
    check(RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()), "opening a written key");
    DWORD subkeys = 0, values = 0;
    check(RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                           nullptr, nullptr, nullptr),
          "reading a written key");
    if (!subkeys && !values) throw std::runtime_error("an empty key, which no row can express: \\" + utf8(key));
    for (DWORD i = 0; i < values; ++i) {
        wchar_t name[256];
        DWORD name_size = 256, type = 0, bytes = 0;
        check(RegEnumValueW(handle.get(), i, name, &name_size, nullptr, &type, nullptr, &bytes), "sizing a value");
        std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
        name_size = 256;
        bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        check(RegEnumValueW(handle.get(), i, name, &name_size, nullptr, &type,
                            reinterpret_cast<BYTE*>(data.data()), &bytes),
              "reading a value");
        if (type != REG_SZ) throw std::runtime_error("a value that is not a string: " + utf8(key));
        data.resize(wcsnlen(data.c_str(), bytes / sizeof(wchar_t)));
        rows.push_back({key, name, data});
    }
    for (DWORD i = 0; i < subkeys; ++i) {
        wchar_t name[256];
        DWORD name_size = 256;
        check(RegEnumKeyExW(handle.get(), i, name, &name_size, nullptr, nullptr, nullptr, nullptr), "listing keys");
        collect(root, key.empty() ? std::wstring(name) : key + L"\\" + name, rows);
    }
}

// The classes roots of this process, HKEY_CLASSES_ROOT and HKEY_CURRENT_USER, redirected into the scratch
// key for as long as this lives: what registration writes for the machine or for the user lands below
// <scratch>\Software\Classes.
class redirected_roots final {
public:
    redirected_roots() {
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch_key);
        check(RegCreateKeyExW(HKEY_CURRENT_USER, scratch_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, scratch_.put(),
                              nullptr),
              "creating the scratch key");
        check(RegCreateKeyExW(scratch_.get(), L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              classes_.put(), nullptr),
              "creating the scratch classes key");
        check(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_.get()), "redirecting HKEY_CLASSES_ROOT");
        check(RegOverridePredefKey(HKEY_CURRENT_USER, scratch_.get()), "redirecting HKEY_CURRENT_USER");
        // Since Windows Vista SP1 RegisterTypeLib writes past a redirected HKEY_CLASSES_ROOT into the real machine
        // keys unless the process asks it to follow the redirection first. Wine's oleaut32 has no such function
        // (and follows the redirection anyway).
        using enable = void(WINAPI*)();
        if (const auto follow = reinterpret_cast<enable>(reinterpret_cast<void (*)()>(
                GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "OaEnablePerUserTLibRegistration"))))
            follow();
    }
    redirected_roots(const redirected_roots&) = delete;
    redirected_roots& operator=(const redirected_roots&) = delete;
    ~redirected_roots() {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        classes_.reset();
        scratch_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch_key);
    }

    HKEY classes() const noexcept { return classes_.get(); }

private:
    unique_hkey scratch_, classes_;
};

void generate(const std::wstring& ocx, const std::wstring& where, const references& to,
              const std::wstring& out_path) {
    com_ptr<ITypeLib> library;
    const HRESULT loaded = LoadTypeLibEx(ocx.c_str(), REGKIND_NONE, library.put());
    if (FAILED(loaded)) fail("cannot read the type library of " + utf8(ocx), loaded);
    if (where != L"machine" && where != L"user") throw std::runtime_error("the scope is machine or user");
    const auto scope = where == L"user" ? registration::scope::user : registration::scope::machine;

    std::vector<row> rows;
    {
        redirected_roots roots;
        const HRESULT hr = registration::register_file(library.get(), stand_in, scope);
        if (FAILED(hr)) fail("registration failed", hr);
        collect(roots.classes(), L"", rows);
    }

    std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                        L"<!-- Generated by tools/package_rows: what registering " +
                        xml(ocx.substr(ocx.find_last_of(L"\\/") + 1)) + L" for the " + where +
                        L" writes, for the file [#" + to.file + L"]. -->\n<Include>\n";
    const std::wstring root = scope == registration::scope::user ? L"HKCU" : L"HKLM";
    for (const row& r : rows) {
        text += L"  <RegistryValue Root=\"" + root + L"\" Key=\"Software\\Classes\\" + xml(r.key) + L"\"";
        if (!r.name.empty()) text += L" Name=\"" + xml(r.name) + L"\"";
        text += L" Value=\"" + xml(formatted(r.value, to)) + L"\" Type=\"string\" />\n";
    }
    text += L"</Include>\n";

    const std::string bytes = utf8(text);
    FILE* out = _wfopen(out_path.c_str(), L"wb");
    if (!out) throw std::runtime_error("cannot write " + utf8(out_path));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) throw std::runtime_error("cannot write " + utf8(out_path));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        std::fputs("usage: package_rows <ocx> <machine|user> <file id> <folder id> <out.wxi>\n", stderr);
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int status = 0;
    try {
        generate(argv[1], argv[2], {argv[3], argv[4]}, argv[5]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "package_rows: %s\n", e.what());
        status = 1;
    }
    CoUninitialize();
    return status;
}
