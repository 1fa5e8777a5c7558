// Loading the built OCX and reaching its four exports.
#include "support/ocx.h"
#include "support/published.h"

#include <cstdlib>
#include <stdexcept>

namespace zvtest {

std::wstring ocx_path() {
    wchar_t exe[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH * 2);
    std::wstring path(exe);
    path.resize(path.find_last_of(L"\\/") + 1);
    return path + L"ZorvaneLib.ocx";
}

std::wstring inspected_ocx_path() {
    wchar_t other[MAX_PATH * 2] = {};
    if (GetEnvironmentVariableW(L"ZV_OTHER_OCX", other, MAX_PATH * 2)) return other;
    return ocx_path();
}

unsigned inspected_ocx_bits() {
    wchar_t bits[8] = {};
    if (GetEnvironmentVariableW(L"ZV_OTHER_OCX", nullptr, 0) && GetEnvironmentVariableW(L"ZV_OTHER_OCX_BITS", bits, 8))
        return static_cast<unsigned>(_wtoi(bits));
    return static_cast<unsigned>(sizeof(void*) * 8);
}

HMODULE ocx() {
    static HMODULE module = LoadLibraryW(ocx_path().c_str());
    if (!module) throw std::runtime_error("ZorvaneLib.ocx could not be loaded");
    return module;
}

template <typename F>
F export_of(const char* name) {
    auto f = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(ocx(), name)));
    if (!f) throw std::runtime_error(std::string("missing export ") + name);
    return f;
}

HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out) {
    return export_of<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(clsid, iid, out);
}
HRESULT can_unload_now() { return export_of<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow")(); }
HRESULT register_server() { return export_of<HRESULT(STDAPICALLTYPE*)()>("DllRegisterServer")(); }
HRESULT unregister_server() { return export_of<HRESULT(STDAPICALLTYPE*)()>("DllUnregisterServer")(); }

IUnknown* new_control() {
    IClassFactory* factory = nullptr;
    if (FAILED(get_class_object(clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        throw std::runtime_error("no class factory");
    IUnknown* object = nullptr;
    HRESULT hr = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object));
    factory->Release();
    if (FAILED(hr)) throw std::runtime_error("CreateInstance failed");
    return object;
}

std::wstring take_error_description() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return L"";
    BSTR description = nullptr;
    info->GetDescription(&description);
    info->Release();
    std::wstring text = description ? description : L"";
    SysFreeString(description);
    return text;
}

} // namespace zvtest
