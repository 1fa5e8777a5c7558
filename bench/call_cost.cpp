// How much a call costs through each surface a host can use, measured side by side in one run:
//   - a cheap method (WindowsMajorVersion) through the vtable entry early-bound clients use,
//   - the same method through IDispatch::Invoke,
//   - a property get through the Invoke of a peer object whose IDispatch is also driven by its type library,
//   - a cold start: LoadLibrary + class factory + first call + release + FreeLibrary, for us and for the peer.
// Prints times per call and the ratios; it asserts nothing.
#include "bench_support.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace zvbench;

const CLSID clsid_zorvane = {0xBFEF386B, 0xED41, 0x4B26, {0xB3, 0x02, 0xB4, 0xC3, 0x05, 0x4E, 0x25, 0xC5}};
// The peer: the scripting runtime's dictionary, a typelib-driven dual object that every Windows carries.
const CLSID clsid_dictionary = {0xEE09B103, 0x97E0, 0x11CF, {0x97, 0x8F, 0x00, 0xA0, 0x24, 0x63, 0xE0, 0x6F}};

DISPID major_version_dispid = DISPID_UNKNOWN;

using bstr_method = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, BSTR*);

// Best of several rounds, in nanoseconds per call: the least disturbed measurement.
double per_call_ns(long calls, const std::function<void()>& call) {
    for (long i = 0; i < calls / 10; ++i) call();
    double best = 1e300;
    for (int round = 0; round < 5; ++round) {
        const double start = now_seconds();
        for (long i = 0; i < calls; ++i) call();
        best = std::min(best, (now_seconds() - start) / calls * 1e9);
    }
    return best;
}

void invoke(IDispatch* object, DISPID id, WORD flags) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, &result, nullptr, nullptr);
    if (FAILED(hr)) fail("Invoke", hr);
    VariantClear(&result);
}

void call_vtable(IDispatch* object, size_t offset) {
    auto* table = *reinterpret_cast<void***>(object);
    auto method = reinterpret_cast<bstr_method>(table[offset / sizeof(void*)]);
    BSTR text = nullptr;
    const HRESULT hr = method(object, &text);
    if (FAILED(hr)) fail("vtable call", hr);
    SysFreeString(text);
}

std::wstring system_file(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}

long file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<long>(data.nFileSizeLow);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    long calls = 200000;
    if (argc > 1) calls = std::max(1000L, std::wcstol(argv[1], nullptr, 10));
    const long cold_starts = std::max(20L, calls / 2000);
    CoInitialize(nullptr);

    const std::wstring ocx = beside_me(L"ZorvaneLib.ocx");
    const std::wstring peer_dll = system_file(L"scrrun.dll");
    std::printf("ZorvaneLib call cost, %ld-bit, %ld calls per round, best of 5 rounds\n",
                static_cast<long>(sizeof(void*) * 8), calls);
    std::printf("OCX size: %ld bytes\n\n", file_size(ocx));

    double vtable = 0, ours = 0, peer = 0;
    {
        loaded_server zorvane(ocx, clsid_zorvane);
        loaded_server dictionary(peer_dll, clsid_dictionary);
        const DISPID count = dispid_of(dictionary.object, L"Count");
        major_version_dispid = dispid_of(zorvane.object, L"WindowsMajorVersion");
        const size_t offset = vtable_offset(zorvane.object, major_version_dispid);
        std::printf("WindowsMajorVersion: DISPID 0x%08lX, vtable entry %u\n\n",
                    static_cast<unsigned long>(major_version_dispid), static_cast<unsigned>(offset / sizeof(void*)));
        vtable = per_call_ns(calls, [&] { call_vtable(zorvane.object, offset); });
        ours = per_call_ns(calls, [&] { invoke(zorvane.object, major_version_dispid, DISPATCH_METHOD); });
        peer = per_call_ns(calls, [&] { invoke(dictionary.object, count, DISPATCH_PROPERTYGET); });
    }
    std::printf("%-52s %10.0f ns\n", "WindowsMajorVersion through the vtable", vtable);
    std::printf("%-52s %10.0f ns\n", "WindowsMajorVersion through IDispatch::Invoke", ours);
    std::printf("%-52s %10.0f ns\n", "peer Dictionary.Count through IDispatch::Invoke", peer);
    std::printf("  Invoke / vtable:        %6.2f\n", ours / vtable);
    std::printf("  our Invoke / peer's:    %6.2f\n", ours / peer);
    std::printf("  Invoke overhead / peer: %6.2f  (our Invoke minus the method's own work, against the peer's)\n\n",
                (ours - vtable) / peer);

    auto cold = [&](const std::wstring& path, const CLSID& clsid, bool ours_first_call) {
        return per_call_ns(cold_starts, [&] {
            loaded_server server(path, clsid);
            if (ours_first_call) {
                invoke(server.object, major_version_dispid, DISPATCH_METHOD);
            } else {
                invoke(server.object, dispid_of(server.object, L"Count"), DISPATCH_PROPERTYGET);
            }
        });
    };
    const double load_only = per_call_ns(cold_starts, [&] { FreeLibrary(LoadLibraryW(ocx.c_str())); });
    const double load_create = per_call_ns(cold_starts, [&] { loaded_server server(ocx, clsid_zorvane); });
    const double cold_ours = cold(ocx, clsid_zorvane, true);
    const double cold_peer = cold(peer_dll, clsid_dictionary, false);
    std::printf("%-52s %10.1f us\n", "cold start: ZorvaneLib load + create + first call", cold_ours / 1000);
    std::printf("%-52s %10.1f us\n", "  of which LoadLibrary + FreeLibrary", load_only / 1000);
    std::printf("%-52s %10.1f us\n", "  of which load + create + release", load_create / 1000);
    std::printf("%-52s %10.1f us\n", "cold start: peer load + create + first call", cold_peer / 1000);
    std::printf("  ours / peer's:          %6.2f\n", cold_ours / cold_peer);
    CoUninitialize();
    return 0;
}
