// What the benchmarks share: where they run from, a clock, interleaved rounds and their medians, and the OCX
// loaded straight from its file.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

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

// ---- rounds ----------------------------------------------------------------------------------------------------

// The middle of a set of rounds and how far they spread: the median and the quartiles (linear interpolation
// between the sorted values), and the extremes.
struct spread {
    double median = 0, q1 = 0, q3 = 0, low = 0, high = 0;
    double width() const noexcept { return q3 - q1; }
};

inline spread spread_of(std::vector<double> values) {
    spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    auto at = [&](double fraction) {
        const double position = fraction * static_cast<double>(values.size() - 1);
        const size_t below = static_cast<size_t>(position);
        const size_t above = std::min(below + 1, values.size() - 1);
        return values[below] + (values[above] - values[below]) * (position - static_cast<double>(below));
    };
    s.median = at(0.5);
    s.q1 = at(0.25);
    s.q3 = at(0.75);
    s.low = values.front();
    s.high = values.back();
    return s;
}

// "median [q1..q3]" with `decimals` decimals.
inline std::string shown(const spread& s, int decimals) {
    char text[96];
    std::snprintf(text, sizeof(text), "%.*f [%.*f..%.*f]", decimals, s.median, decimals, s.q1, decimals, s.q3);
    return text;
}

// A contender: runs its batch of calls once and answers the seconds per call.
using batch = std::function<double()>;

// A batch of `calls` calls of `call`, timed as a whole; the call is inlined into the loop.
template <typename Call>
batch timed(long calls, Call call) {
    return [calls, call]() mutable {
        const double start = now_seconds();
        for (long i = 0; i < calls; ++i) call();
        return (now_seconds() - start) / static_cast<double>(calls);
    };
}

// Rounds in which every contender runs its batch once, one after the other, in an order reversed every other
// round so that none always goes first: whatever the machine does meanwhile falls on all of them alike. Each
// contender runs one batch beforehand, untimed. Answers each contender's seconds per call, one value a round.
inline std::vector<std::vector<double>> interleaved(int rounds, const std::vector<batch>& contenders) {
    for (const batch& b : contenders) b();
    std::vector<std::vector<double>> times(contenders.size(), std::vector<double>(static_cast<size_t>(rounds)));
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < contenders.size(); ++k) {
            const size_t which = round % 2 ? contenders.size() - 1 - k : k;
            times[which][static_cast<size_t>(round)] = contenders[which]();
        }
    }
    return times;
}

// `f` of the two contenders' values of each round: a ratio or a difference taken within the round.
template <typename F>
std::vector<double> per_round(const std::vector<double>& a, const std::vector<double>& b, F f) {
    std::vector<double> out(a.size());
    for (size_t i = 0; i < a.size(); ++i) out[i] = f(a[i], b[i]);
    return out;
}

inline std::vector<double> scaled(std::vector<double> values, double factor) {
    for (double& v : values) v *= factor;
    return values;
}

// How many calls make a batch of about `seconds`, within [least, most].
template <typename Call>
long calls_for(double seconds, long least, long most, Call call) {
    call();
    long trial = 1;
    double each = 0;
    for (;;) {  // until the trial takes a millisecond: the clock's granularity does not matter then
        const double start = now_seconds();
        for (long i = 0; i < trial; ++i) call();
        each = (now_seconds() - start) / static_cast<double>(trial);
        if (each * static_cast<double>(trial) > 1e-3 || trial >= most) break;
        trial *= 4;
    }
    return std::clamp(static_cast<long>(seconds / std::max(each, 1e-10)), least, most);
}

// ---- the server ------------------------------------------------------------------------------------------------

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
