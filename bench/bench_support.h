// What the benchmarks share: where they run from, a clock, and the OCX loaded straight from its file.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

namespace zvbench {

[[noreturn]] inline void fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "bench: %s failed (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    std::exit(2);
}

// `name` in the benchmark program's own folder.
inline std::wstring beside_me(const wchar_t* name) {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + name;
}

inline double now_seconds() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

using get_class_object_fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// A server loaded by LoadLibrary and one object of `clsid` made by its class factory, both let go at the end.
struct loaded_server {
    HMODULE module = nullptr;
    IDispatch* object = nullptr;

    loaded_server(const std::wstring& path, const CLSID& clsid) {
        module = LoadLibraryW(path.c_str());
        if (!module) fail("LoadLibrary", HRESULT_FROM_WIN32(GetLastError()));
        auto get = reinterpret_cast<get_class_object_fn>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        if (!get) fail("DllGetClassObject export", E_FAIL);
        IClassFactory* factory = nullptr;
        HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (FAILED(hr)) fail("DllGetClassObject", hr);
        hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
        factory->Release();
        if (FAILED(hr)) fail("CreateInstance", hr);
    }
    ~loaded_server() {
        if (object) object->Release();
        FreeLibrary(module);
    }
    loaded_server(const loaded_server&) = delete;
    loaded_server& operator=(const loaded_server&) = delete;
};

inline DISPID dispid_of(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) fail("GetIDsOfNames", hr);
    return id;
}

// The description of the object's dual interface as early-bound clients see it: its table of functions.
inline ITypeInfo* vtable_type_info(IDispatch* object) {
    ITypeInfo* dispatch = nullptr;
    HRESULT hr = object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &dispatch);
    if (FAILED(hr)) fail("GetTypeInfo", hr);
    HREFTYPE twin_ref = 0;
    ITypeInfo* twin = nullptr;
    hr = dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &twin_ref);
    if (SUCCEEDED(hr)) hr = dispatch->GetRefTypeInfo(twin_ref, &twin);
    dispatch->Release();
    if (FAILED(hr)) fail("vtable type info", hr);
    return twin;
}

// The vtable offset that the type library gives an early-bound client for the method `id`.
inline size_t vtable_offset(IDispatch* object, DISPID id) {
    ITypeInfo* twin = vtable_type_info(object);
    TYPEATTR* attr = nullptr;
    twin->GetTypeAttr(&attr);
    size_t offset = 0;
    for (UINT i = 0; i < attr->cFuncs && !offset; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(twin->GetFuncDesc(i, &desc))) continue;
        if (desc->memid == id) offset = static_cast<size_t>(desc->oVft);
        twin->ReleaseFuncDesc(desc);
    }
    twin->ReleaseTypeAttr(attr);
    twin->Release();
    if (!offset) fail("finding the vtable entry", E_FAIL);
    return offset;
}

} // namespace zvbench
