// Seeded hostile caller of IDispatch on the control and on clsMemorySnapshot: random members, arguments, flags and
// pointers; checks that every call returns, with an HRESULT OLE Automation allows, and leaves its arguments valid.
// A call to a method of the control with positional arguments is made a second time, with an identical set of
// arguments named in their own order, which Invoke leaves to ITypeInfo::Invoke: both must answer exactly alike.
//
//   zorvane_fuzz.exe <seed> <calls> [trace-from]
//
// Prints one line "checksum <hex>" over the sequence of HRESULTs (equal for equal seeds) and exits 0 when every
// call passed. With trace-from, every call from that index on is described before it is made (for replays).
#include "control/memory_snapshot.h"
#include "support/call_outcome.h"
#include "support/neutralised.h"
#include "support/ocx.h"
#include "support/published.h"
#include "support/random_source.h"
#include "support/surface.h"
#include "support/window_closer.h"

#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using zvtest::random_source;

// ---- the state a call may touch -----------------------------------------------------------------------------------

std::atomic<std::uint64_t> call_number{0};
std::atomic<DWORD> call_started{0};
std::atomic<bool> call_running{false};
std::uint64_t run_seed = 0;
DWORD watchdog_ms = 30000;
std::uint64_t only_call = ~0ull;  // ZV_FUZZ_ONLY: make only this call of the sequence

LONG WINAPI on_crash(EXCEPTION_POINTERS* e) {
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(e->ExceptionRecord->ExceptionAddress), &module))
        GetModuleFileNameA(module, name, MAX_PATH);
    std::printf("CRASH in call %llu (seed %llu): exception %08lx at %p (%s+%llx), data %p\n",
                static_cast<unsigned long long>(call_number.load()), static_cast<unsigned long long>(run_seed),
                e->ExceptionRecord->ExceptionCode, e->ExceptionRecord->ExceptionAddress, name,
                static_cast<unsigned long long>(static_cast<BYTE*>(e->ExceptionRecord->ExceptionAddress) -
                                                reinterpret_cast<BYTE*>(module)),
                e->ExceptionRecord->NumberParameters > 1
                    ? reinterpret_cast<void*>(e->ExceptionRecord->ExceptionInformation[1])
                    : nullptr);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

void watchdog() {
    for (;;) {
        Sleep(250);
        if (!call_running) continue;
        const std::uint64_t number = call_number;
        if (GetTickCount() - call_started > watchdog_ms && call_running && number == call_number) {
            std::printf("HANG in call %llu (seed %llu): no return within %lu ms\n",
                        static_cast<unsigned long long>(number), static_cast<unsigned long long>(run_seed),
                        watchdog_ms);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

struct call_guard {
    explicit call_guard(std::uint64_t number) {
        call_number = number;
        call_started = GetTickCount();
        call_running = true;
    }
    ~call_guard() { call_running = false; }
};

int failures = 0;
std::uint64_t checksum = 0xcbf29ce484222325ull;  // FNV-1a over the HRESULT sequence

void mix(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        checksum ^= (value >> (8 * i)) & 0xFF;
        checksum *= 0x100000001b3ull;
    }
}

void fail(std::uint64_t number, const char* what, HRESULT hr, const std::string& detail = {}) {
    ++failures;
    if (failures <= 25)
        std::printf("FAIL call %llu: %s (hr %08lx) %s\n", static_cast<unsigned long long>(number), what,
                    static_cast<unsigned long>(hr), detail.c_str());
}

std::string hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08x", v);
    return text;
}

// ---- pools of hostile values --------------------------------------------------------------------------------------

struct pools {
    std::vector<std::wstring> texts;
    std::vector<LONG> longs;
    std::vector<double> doubles;
    std::vector<double> dates;
};

std::wstring scratch_folder() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring folder = std::wstring(temp) + L"zorvane_fuzz\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

pools make_pools(const std::wstring& scratch, HWND window) {
    pools p;
    p.texts = {
        L"", L"12", L"-5", L"0", L"2147483648", L"-2147483649", L"32768", L"1e400", L"&H10", L"  7 ", L"1.5",
        L"abc", L"True", L"C:\\", L"C:", L"\\", L"..\\..\\", L"\\\\?\\C:\\", L"\\\\.\\NUL", L"NUL", L"CON",
        L"https://example.org", L"x@example.org", L"mailto:x@example.org?Subject=a&b",
        L"Привет, мир", L"Ошибка", L"日本語のテキスト", L"漢字\\かな\\カナ",
        std::wstring(L"\xD800"), std::wstring(L"x\xDC00y"), std::wstring(L"\xDFFF\xD800"),
        std::wstring(L"a\0b", 3), std::wstring(1, L'\0'), L"%s%n%x", L"\x202E\xFEFF",
        scratch + L"fuzz.bmp", scratch + L"fuzz.PNG", scratch + L"Снимок.bmp", scratch + L"missing\\x.bmp",
        scratch + L"made\\deeper\\file.txt", scratch + L"made\\" + std::wstring(300, L'd') + L"\\x",
        scratch, L"C:\\no_such_folder\\shot.bmp", L"shot.bmp", L"rel\\sub\\",
        std::wstring(1 << 20, L'A'), std::wstring(1 << 20, L'Я'),
    };
    std::wstring slashes;
    while (slashes.size() < (1u << 20)) slashes += L"a\\";
    p.texts.push_back(scratch + slashes);
    p.longs = {0, 1, -1, 7, 0x7FFFFFFF, static_cast<LONG>(0x80000000u), 65536, -65536, 1024, 0xFFFF,
               static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)),
               static_cast<LONG>(reinterpret_cast<LONG_PTR>(GetDesktopWindow())), 0x00010010};
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    p.doubles = {0.0, -0.0, 1.5, 2.5, -2.5, 2147483647.5, 2147483648.0, -2147483648.5, 1e308, -1e308, 4.9e-324,
                 inf, -inf, nan, 32767.5, -32768.5};
    p.dates = {-657434.0, 2958465.99999, -657435.0, 2958466.0, 0.0, 1e308, -1e308, nan, inf, -inf};
    return p;
}

// ---- arguments ----------------------------------------------------------------------------------------------------

// One argument of a call and what the caller keeps to check and free it afterwards.
struct argument {
    enum class kind { value, reference, variant_reference, null_reference, bogus };
    kind how = kind::value;
    VARIANT given{};   // what rgvarg holds
    VARIANT saved{};   // a bitwise copy of `given` before the call
    VARIANT holder{};  // the storage a typed reference points into (its vt is the referenced type)
    VARIANT inner{};   // what a VARIANT reference points to
    VARIANT inner_saved{};
};

// The object passed as VT_DISPATCH and VT_UNKNOWN arguments: every IDispatch call goes on to the current control
// (conversions call back into it), while its own references are counted apart from the control's, so that a
// reference the system keeps to an argument is seen as such and not as a leak of the control.
struct forwarder final : IDispatch {
    IDispatch** target = nullptr;
    ULONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return (*target)->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return (*target)->GetTypeInfo(index, lcid, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override {
        return (*target)->GetIDsOfNames(riid, names, count, lcid, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override {
        return (*target)->Invoke(id, riid, lcid, flags, params, result, exception, arg_error);
    }
};

struct objects {
    IDispatch* control = nullptr;
    IDispatch* snapshot = nullptr;
    forwarder* argument = nullptr;  // stands for the control in arguments
};

BSTR new_bstr(const std::wstring& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

SAFEARRAY* new_array(random_source& r, const pools& p, VARTYPE element) {
    if (r.one_in(6)) {
        SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
        SAFEARRAY* a = SafeArrayCreate(element, 2, bounds);
        return a;
    }
    const ULONG count = r.below(4);
    SAFEARRAY* a = SafeArrayCreateVector(element, static_cast<LONG>(r.below(3)) - 1, count);
    if (!a) return nullptr;
    for (ULONG i = 0; i < count; ++i) {
        LONG index = a->rgsabound[0].lLbound + static_cast<LONG>(i);
        if (element == VT_I4) {
            LONG v = r.pick(p.longs);
            SafeArrayPutElement(a, &index, &v);
        } else if (element == VT_BSTR) {
            BSTR b = r.one_in(3) ? nullptr : new_bstr(r.pick(p.texts).substr(0, 64));
            SafeArrayPutElement(a, &index, b);
            SysFreeString(b);
        } else if (element == VT_VARIANT) {
            VARIANT v;
            VariantInit(&v);
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = new_bstr(L"12");
            SafeArrayPutElement(a, &index, &v);
            VariantClear(&v);
        }
    }
    return a;
}

// Types an owned value can take (everything VariantClear accepts).
const VARTYPE value_types[] = {VT_EMPTY, VT_NULL, VT_I2,   VT_I4,  VT_R4,  VT_R8,   VT_CY,      VT_DATE,
                               VT_BSTR,  VT_BSTR, VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL, VT_UNKNOWN, VT_DECIMAL,
                               VT_I1,    VT_UI1,  VT_UI2,  VT_UI4, VT_I8,  VT_UI8,  VT_INT,     VT_UINT,
                               VT_I4,    VT_I4,   VT_ARRAY | VT_I4, VT_ARRAY | VT_BSTR, VT_ARRAY | VT_VARIANT};

// An owned value of type `type` (VariantClear frees it).
void make_value(random_source& r, const pools& p, const objects& o, VARTYPE type, VARIANT& v) {
    VariantInit(&v);
    switch (type) {
    case VT_EMPTY: case VT_NULL: break;
    case VT_I2: V_I2(&v) = static_cast<SHORT>(r.one_in(2) ? r.pick(p.longs) : static_cast<LONG>(r.next())); break;
    case VT_I4: V_I4(&v) = r.one_in(4) ? static_cast<LONG>(r.next()) : r.pick(p.longs); break;
    case VT_R4: V_R4(&v) = static_cast<float>(r.pick(p.doubles)); break;
    case VT_R8: V_R8(&v) = r.pick(p.doubles); break;
    case VT_DATE: V_DATE(&v) = r.pick(p.dates); break;
    case VT_CY: V_CY(&v).int64 = r.one_in(2) ? std::numeric_limits<LONGLONG>::min() + static_cast<LONGLONG>(r.below(2))
                                             : static_cast<LONGLONG>(r.next()); break;
    case VT_BSTR: V_BSTR(&v) = r.one_in(12) ? nullptr : new_bstr(r.pick(p.texts)); break;
    case VT_DISPATCH: {
        const std::uint32_t which = r.below(3);
        IDispatch* d = which == 0 ? nullptr : which == 1 ? static_cast<IDispatch*>(o.argument) : o.snapshot;
        if (d) d->AddRef();
        V_DISPATCH(&v) = d;
        break;
    }
    case VT_UNKNOWN: {
        IUnknown* u = r.one_in(2) ? nullptr : static_cast<IUnknown*>(o.argument);
        if (u) u->AddRef();
        V_UNKNOWN(&v) = u;
        break;
    }
    case VT_ERROR: V_ERROR(&v) = r.one_in(4) ? E_FAIL : DISP_E_PARAMNOTFOUND; break;
    case VT_BOOL: V_BOOL(&v) = static_cast<VARIANT_BOOL>(r.pick(std::vector<int>{VARIANT_TRUE, VARIANT_FALSE, 5})); break;
    case VT_DECIMAL: {
        DECIMAL d{};
        d.scale = static_cast<BYTE>(r.pick(std::vector<int>{0, 28, 29}));  // Wine's oleaut32 crashes converting 255
        d.sign = r.one_in(2) ? DECIMAL_NEG : 0;
        d.Hi32 = r.one_in(2) ? 0xFFFFFFFFu : 0;
        d.Lo64 = r.next();
        V_DECIMAL(&v) = d;
        break;
    }
    case VT_I1: V_I1(&v) = static_cast<CHAR>(r.next()); break;
    case VT_UI1: V_UI1(&v) = static_cast<BYTE>(r.next()); break;
    case VT_UI2: V_UI2(&v) = static_cast<USHORT>(r.next()); break;
    case VT_UI4: case VT_UINT: V_UI4(&v) = static_cast<ULONG>(r.next()); break;
    case VT_INT: V_INT(&v) = r.pick(p.longs); break;
    case VT_I8: V_I8(&v) = r.one_in(2) ? std::numeric_limits<LONGLONG>::max() - static_cast<LONGLONG>(r.below(2))
                                       : static_cast<LONGLONG>(r.next()); break;
    case VT_UI8: V_UI8(&v) = r.next(); break;
    default:
        if (type & VT_ARRAY) V_ARRAY(&v) = r.one_in(8) ? nullptr : new_array(r, p, type & VT_TYPEMASK);
        break;
    }
    V_VT(&v) = type;  // last: a DECIMAL fills the whole VARIANT
}

// Types no VARIANT may have, or that no Automation parameter takes.
const VARTYPE bogus_types[] = {0x00FF, VT_VOID, VT_HRESULT, VT_PTR, VT_LPWSTR, VT_BLOB, 0x7FFF, VT_VECTOR | VT_I4,
                               VT_BYREF | VT_EMPTY, VT_BYREF | VT_NULL};

VARTYPE random_value_type(random_source& r) {
    return value_types[r.below(sizeof(value_types) / sizeof(value_types[0]))];
}

void make_argument(random_source& r, const pools& p, const objects& o, argument& a, VARTYPE preferred) {
    const std::uint32_t roll = r.below(100);
    if (roll < 4) {
        a.how = argument::kind::bogus;
        V_VT(&a.given) = bogus_types[r.below(sizeof(bogus_types) / sizeof(bogus_types[0]))];
    } else if (roll < 7) {
        a.how = argument::kind::null_reference;
        const VARTYPE targets[] = {VT_I4, VT_I2, VT_BSTR, VT_VARIANT, VT_DISPATCH};
        V_VT(&a.given) = VT_BYREF | targets[r.below(5)];
        V_BYREF(&a.given) = nullptr;
    } else if (roll < 30) {
        a.how = argument::kind::variant_reference;
        make_value(r, p, o, preferred && r.one_in(2) ? preferred : random_value_type(r), a.inner);
        a.inner_saved = a.inner;
        V_VT(&a.given) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&a.given) = &a.inner;
    } else if (roll < 55) {
        a.how = argument::kind::reference;
        const VARTYPE type = preferred && r.one_in(2) ? preferred : random_value_type(r);
        make_value(r, p, o, type, a.holder);
        V_VT(&a.given) = VT_BYREF | type;
        V_BYREF(&a.given) = type == VT_DECIMAL ? static_cast<void*>(&V_DECIMAL(&a.holder))
                                               : static_cast<void*>(&V_I4(&a.holder));
    } else {
        a.how = argument::kind::value;
        make_value(r, p, o, preferred && r.one_in(2) ? preferred : random_value_type(r), a.given);
    }
    a.saved = a.given;
}

// Frees what `a` owns after the call, checking that the call left it valid. False when it did not.
bool release_argument(argument& a, std::string& why) {
    bool good = true;
    switch (a.how) {
    case argument::kind::bogus:
    case argument::kind::null_reference:
        break;
    case argument::kind::value:
        if (VariantClear(&a.saved) != S_OK) why += " by-value argument invalid;", good = false;
        break;
    case argument::kind::reference: {
        if (V_VT(&a.given) != V_VT(&a.saved) || V_BYREF(&a.given) != V_BYREF(&a.saved))
            why += " reference moved;", good = false;
        const VARTYPE type = V_VT(&a.holder);
        if (type == VT_DECIMAL) {
            VariantInit(&a.holder);  // the referenced DECIMAL covers the vt; nothing to free
            break;
        }
        if (type == VT_BSTR && V_BSTR(&a.holder)) {
            // Every character of a returned string is readable and the length is even in bytes.
            volatile wchar_t sum = 0;
            const UINT length = SysStringLen(V_BSTR(&a.holder));
            for (UINT i = 0; i < length; ++i) sum = sum + V_BSTR(&a.holder)[i];
            if (SysStringByteLen(V_BSTR(&a.holder)) % 2) why += " odd string;", good = false;
        }
        if (VariantClear(&a.holder) != S_OK) why += " referenced value invalid;", good = false;
        break;
    }
    case argument::kind::variant_reference:
        if (V_VT(&a.given) != V_VT(&a.saved) || V_BYREF(&a.given) != V_BYREF(&a.saved))
            why += " reference moved;", good = false;
        if (VariantClear(&a.inner) != S_OK) why += " referenced variant invalid;", good = false;
        break;
    }
    return good;
}

// ---- the members called -------------------------------------------------------------------------------------------

struct member {
    DISPID id;
    std::vector<VARTYPE> params;  // the type each declared parameter takes best
    bool expensive;               // opens a window or captures the screen
    bool repeatable;              // a second call answers as the first (DeleteAtStartup's deletes the value)
};

std::vector<member> control_members() {
    std::vector<member> out;
    for (const auto& m : zvtest::zorvane_methods()) {
        member row{m.dispid, {}, false, std::wcscmp(m.name, L"DeleteAtStartup") != 0};
        for (const auto& p : m.params) {
            switch (p.second) {
            case 'L': row.params.push_back(VT_I4); break;
            case 'I': row.params.push_back(VT_I2); break;
            case 'V': row.params.push_back(VT_VARIANT); break;
            default: row.params.push_back(VT_BSTR); break;
            }
        }
        row.expensive = m.dispid == DISPID_ABOUTBOX || m.result == 'P';
        out.push_back(row);
    }
    return out;
}

std::vector<member> snapshot_members(IDispatch* snapshot) {
    std::vector<member> out;
    for (const wchar_t* name : {L"FreeMemory", L"TotalMemory", L"TotalVirtualMemory", L"AvailableVirtualMemory",
                                L"Refresh"}) {
        LPOLESTR n = const_cast<LPOLESTR>(name);
        DISPID id = 0;
        if (snapshot->GetIDsOfNames(IID_NULL, &n, 1, 0, &id) == S_OK) out.push_back({id, {}, false, true});
    }
    return out;
}

// ---- result rules -------------------------------------------------------------------------------------------------

// What OLE Automation lets IDispatch::Invoke return (DISP_E_NOTACOLLECTION: arguments to a property that is no
// collection). E_NOTIMPL and E_FAIL are not among them: the library's Invoke
// never needs them, since every failure of a method travels as DISP_E_EXCEPTION.
bool invoke_result_allowed(HRESULT hr) {
    switch (hr) {
    case S_OK: case DISP_E_BADPARAMCOUNT: case DISP_E_BADVARTYPE: case DISP_E_EXCEPTION:
    case DISP_E_MEMBERNOTFOUND: case DISP_E_NONAMEDARGS: case DISP_E_OVERFLOW: case DISP_E_PARAMNOTFOUND:
    case DISP_E_TYPEMISMATCH: case DISP_E_UNKNOWNINTERFACE: case DISP_E_UNKNOWNLCID: case DISP_E_PARAMNOTOPTIONAL:
    case DISP_E_NOTACOLLECTION: case E_INVALIDARG: case E_POINTER: case E_OUTOFMEMORY:
        return true;
    default:
        return false;
    }
}

// The failure a method reports: a classic error 0x800A0000 | number, or E_POINTER for a null reference.
bool exception_code_allowed(SCODE code) {
    if ((static_cast<std::uint32_t>(code) & 0xFFFF0000u) == 0x800A0000u && (code & 0xFFFF) != 0) return true;
    return code == E_POINTER;
}

// ---- one call -----------------------------------------------------------------------------------------------------

// A call's answer and what its arguments hold afterwards, as text: the value each entry of rgvarg or its reference
// holds. (Whether a by-value string was replaced does not show: the system may give the new copy the old one's
// address.)
std::string outcome(HRESULT hr, const VARIANT* result, const EXCEPINFO* exception, const UINT* arg_error,
                    const std::vector<argument>& args, const std::vector<VARIANTARG>& rgvarg) {
    std::string out = zvtest::describe_call(hr, result, exception, arg_error);
    for (size_t i = 0; i < args.size(); ++i) {
        const argument& a = args[i];
        out += "; arg ";
        out += std::to_string(i);
        out += ' ';
        switch (a.how) {
        case argument::kind::value: out += zvtest::describe(rgvarg[i]); break;
        case argument::kind::reference: out += zvtest::describe(a.holder); break;
        case argument::kind::variant_reference: out += zvtest::describe(a.inner); break;
        default: out += std::to_string(V_VT(&rgvarg[i])); break;
        }
    }
    return out;
}

struct fuzzer {
    random_source r;
    pools p;
    objects o;
    std::vector<member> control_list;
    std::vector<member> snapshot_list;
    std::uint64_t trace_from = ~0ull;
    std::uint64_t counts[4] = {};  // Invoke, GetIDsOfNames, GetTypeInfo, new objects
    std::uint64_t rewritten_by_value = 0;
    std::uint64_t compared = 0;    // calls also made the general way and compared

    void renew_control() {
        if (o.control) o.control->Release();
        o.control = nullptr;
        IUnknown* unknown = zvtest::new_control();
        unknown->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&o.control));
        unknown->Release();
        ++counts[3];
    }
    void renew_snapshot() {
        if (o.snapshot) o.snapshot->Release();
        auto created = zorvane::memory_snapshot::create();
        o.snapshot = nullptr;
        created->QueryInterface(zvtest::iid_snapshot, reinterpret_cast<void**>(&o.snapshot));
        ++counts[3];
    }

    DISPID pick_member(const std::vector<member>& list, const member** chosen) {
        *chosen = nullptr;
        const std::uint32_t roll = r.below(100);
        if (roll < 62) {
            const member* m = &r.pick(list);
            // Windows and screen captures cost milliseconds: most picks of them become another member.
            while (m->expensive && !r.one_in(m->id == DISPID_ABOUTBOX ? 150 : 12)) m = &r.pick(list);
            *chosen = m;
            return m->id;
        }
        if (roll < 80) {
            const DISPID base = r.pick(list).id;
            const DISPID offsets[] = {-2, -1, 1, 2};
            return base + offsets[r.below(4)];
        }
        const DISPID special[] = {DISPID_VALUE, DISPID_ABOUTBOX, DISPID_NEWENUM, DISPID_PROPERTYPUT, DISPID_UNKNOWN,
                                  DISPID_EVALUATE, 0x60030006, 0x60030036, 0x60030037, 0x7FFFFFFF,
                                  static_cast<DISPID>(0x80000000u)};
        if (roll < 92) return special[r.below(sizeof(special) / sizeof(special[0]))];
        return static_cast<DISPID>(r.next());
    }

    void invoke(std::uint64_t number) {
        const bool on_control = !r.one_in(6);
        IDispatch* target = on_control ? o.control : o.snapshot;
        const member* m = nullptr;
        const DISPID id = pick_member(on_control ? control_list : snapshot_list, &m);

        WORD flags;
        const std::uint32_t flag_roll = r.below(10);
        if (flag_roll < 5) flags = DISPATCH_METHOD;
        else if (flag_roll < 7) flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
        else if (flag_roll < 9) flags = static_cast<WORD>(r.below(16));
        else flags = static_cast<WORD>(r.next());

        // Arguments: shaped like the member's parameters half the time, any count and type otherwise.
        UINT count;
        const bool shaped = m && r.one_in(2);
        if (shaped) {
            count = static_cast<UINT>(m->params.size());
            if (count && r.one_in(4)) --count;  // an omitted trailing (optional) parameter
        } else {
            count = r.below(5);
        }
        auto make_arguments = [&](random_source& source, std::vector<argument>& made, std::vector<VARIANTARG>& list) {
            made.resize(count);
            list.resize(count);
            for (UINT i = 0; i < count; ++i) {
                // rgvarg runs backwards: the last entry is the first parameter.
                const UINT param = count - 1 - i;
                const VARTYPE preferred = shaped && param < m->params.size() ? m->params[param] : VARTYPE(0);
                make_argument(source, p, o, made[i], preferred == VT_VARIANT ? VARTYPE(VT_I4) : preferred);
                list[i] = made[i].given;
            }
        };
        const random_source before_arguments = r;
        std::vector<argument> args;
        std::vector<VARIANTARG> rgvarg;
        make_arguments(r, args, rgvarg);

        // Named arguments: real parameter positions, DISPID_PROPERTYPUT, duplicates and nonsense.
        UINT named = 0;
        if (count && r.one_in(5)) named = 1 + r.below(count);
        if (r.one_in(60)) named = count + 1 + r.below(3);  // more names than arguments
        std::vector<DISPID> names(named + 1);
        for (UINT i = 0; i < named; ++i) {
            const DISPID choices[] = {0, 1, 2, 3, DISPID_PROPERTYPUT, DISPID_UNKNOWN, 7, 1000,
                                      static_cast<DISPID>(r.next())};
            names[i] = choices[r.below(sizeof(choices) / sizeof(choices[0]))];
        }

        DISPPARAMS params{count ? rgvarg.data() : nullptr, named ? names.data() : nullptr, count, named};
        if (count && r.one_in(80)) params.rgvarg = nullptr;
        if (named && r.one_in(40)) params.rgdispidNamedArgs = nullptr;
        DISPPARAMS* params_pointer = r.one_in(100) ? nullptr : &params;

        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception{};
        UINT arg_error = 0xDEADu;
        VARIANT* result_pointer = r.one_in(5) ? nullptr : &result;
        EXCEPINFO* exception_pointer = r.one_in(5) ? nullptr : &exception;
        UINT* arg_error_pointer = r.one_in(5) ? nullptr : &arg_error;
        IID riid = IID_NULL;
        if (r.one_in(100)) riid = IID_IDispatch;
        const LCID lcids[] = {0, LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT, 0x0419, 0x0411, 0xFFFFFFFFu};
        const LCID lcid = lcids[r.below(6)];

        if (number >= trace_from) {
            std::printf("call %llu: Invoke %s %08lx flags %04x args %u named %u%s%s%s%s [",
                        static_cast<unsigned long long>(number), on_control ? "control" : "snapshot",
                        static_cast<unsigned long>(id), flags, count, named, params_pointer ? "" : " no-params",
                        result_pointer ? "" : " no-result", exception_pointer ? "" : " no-excepinfo",
                        arg_error_pointer ? "" : " no-argerr");
            for (UINT i = 0; i < count; ++i) {
                std::printf(" %04x", V_VT(&args[i].given));
                if (V_VT(&args[i].given) == (VT_BYREF | VT_VARIANT)) std::printf("->%04x", V_VT(&args[i].inner));
            }
            for (UINT i = 0; i < named; ++i) std::printf(" name:%ld", static_cast<long>(names[i]));
            std::printf(" ]\n");
            std::fflush(stdout);
        }

        HRESULT hr = S_OK;
        if (only_call != ~0ull && number != only_call) {
            // Replaying one call: the others are made up, as always, but not made.
            for (UINT i = 0; i < count; ++i) {
                std::string ignored;
                release_argument(args[i], ignored);
            }
            return;
        }
        {
            call_guard guard(number);
            hr = target->Invoke(id, riid, lcid, flags, params_pointer, result_pointer, exception_pointer,
                                arg_error_pointer);
        }
        ++counts[0];
        mix(static_cast<std::uint32_t>(hr));

        const std::string where = std::string(on_control ? "control " : "snapshot ") + hex(id) + " flags " +
                                  hex(flags) + " args " + std::to_string(count);
        if (hr == DISP_E_EXCEPTION && exception_pointer && exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        const bool compare = on_control && m && !m->params.empty() && m->repeatable && !named &&
                             params_pointer && params.rgvarg && count <= m->params.size() &&
                             (flags & DISPATCH_METHOD) && IsEqualIID(riid, IID_NULL);
        if (compare) {
            const std::string ours = outcome(hr, result_pointer, exception_pointer, arg_error_pointer, args, rgvarg);
            random_source again = before_arguments;
            std::vector<argument> twin;
            std::vector<VARIANTARG> twin_rgvarg;
            make_arguments(again, twin, twin_rgvarg);
            std::vector<DISPID> in_order(count);
            for (UINT i = 0; i < count; ++i) in_order[i] = static_cast<DISPID>(count - 1 - i);
            DISPPARAMS twin_params{twin_rgvarg.data(), in_order.data(), count, count};
            VARIANT twin_result;
            VariantInit(&twin_result);
            EXCEPINFO twin_exception{};
            UINT twin_arg_error = 0xDEADu;
            HRESULT general;
            {
                call_guard guard(number);
                general = target->Invoke(id, riid, lcid, flags, &twin_params, result_pointer ? &twin_result : nullptr,
                                         exception_pointer ? &twin_exception : nullptr,
                                         arg_error_pointer ? &twin_arg_error : nullptr);
            }
            if (general == DISP_E_EXCEPTION && exception_pointer && twin_exception.pfnDeferredFillIn)
                twin_exception.pfnDeferredFillIn(&twin_exception);
            const std::string theirs = outcome(general, result_pointer ? &twin_result : nullptr,
                                               exception_pointer ? &twin_exception : nullptr,
                                               arg_error_pointer ? &twin_arg_error : nullptr, twin, twin_rgvarg);
            ++compared;
            if (ours != theirs) fail(number, "the general way answered otherwise", hr, where + "\n  positional: " +
                                                                                        ours + "\n  named: " + theirs);
            SysFreeString(twin_exception.bstrSource);
            SysFreeString(twin_exception.bstrDescription);
            SysFreeString(twin_exception.bstrHelpFile);
            VariantClear(&twin_result);
            for (UINT i = 0; i < count; ++i) {
                twin[i].given = twin_rgvarg[i];
                if (std::memcmp(&twin_rgvarg[i], &twin[i].saved, sizeof(VARIANT)) != 0) twin[i].saved = twin_rgvarg[i];
                std::string why;
                if (!release_argument(twin[i], why)) fail(number, "argument of the general way left invalid", general,
                                                          where + why);
            }
        }
        if (!invoke_result_allowed(hr)) fail(number, "Invoke returned an HRESULT outside OLE Automation", hr, where);
        if (hr == DISP_E_EXCEPTION && exception_pointer) {
            const SCODE code = exception.scode ? exception.scode : static_cast<SCODE>(exception.wCode);
            mix(static_cast<std::uint32_t>(code));
            if (!exception_code_allowed(code))
                fail(number, "exception code outside the library's convention", code, where);
        } else if (exception_pointer && (exception.bstrDescription || exception.bstrSource || exception.bstrHelpFile)) {
            fail(number, "EXCEPINFO filled without DISP_E_EXCEPTION", hr, where);
        }
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        // Wine's ITypeInfo::Invoke never sets puArgErr; where it is set it must name an argument.
        if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) && arg_error_pointer && arg_error != 0xDEADu &&
            arg_error >= count)
            fail(number, "puArgErr outside the arguments", hr, where + " puArgErr " + std::to_string(arg_error));
        // A failed call may leave a typed result behind (Wine's ITypeInfo::Invoke hands over an empty BSTR): it
        // must still be valid to free.
        if (VariantClear(&result) != S_OK) fail(number, "result invalid", hr, where);
        for (UINT i = 0; i < count; ++i) {
            if (std::memcmp(&rgvarg[i], &args[i].saved, sizeof(VARIANT)) != 0) {
                // Wine's ITypeInfo::Invoke writes [in, out] values back by position, also into a by-value argument
                // named for another parameter, freeing what it held: the new value is the caller's to free.
                if (args[i].how == argument::kind::value && V_VT(&rgvarg[i]) == V_VT(&args[i].saved)) {
                    ++rewritten_by_value;
                    args[i].saved = rgvarg[i];
                } else {
                    fail(number, "rgvarg entry changed", hr, where + " arg " + std::to_string(i));
                }
            }
            args[i].given = rgvarg[i];
            std::string why;
            if (!release_argument(args[i], why)) fail(number, "argument left invalid", hr, where + why);
        }
        SetErrorInfo(0, nullptr);
    }

    void get_ids_of_names(std::uint64_t number) {
        const bool on_control = !r.one_in(6);
        IDispatch* target = on_control ? o.control : o.snapshot;
        const auto& methods = zvtest::zorvane_methods();
        std::vector<std::wstring> texts;
        const UINT count = r.below(6);
        std::vector<bool> null_name(count, false);
        for (UINT i = 0; i < count; ++i) {
            const std::uint32_t roll = r.below(10);
            std::wstring name;
            if (roll < 4) name = r.pick(methods).name;
            else if (roll < 5) name = L"PathDrive";
            else if (roll < 6) name = L"NoSuchMethod";
            else if (roll < 7) name = L"";
            else if (roll < 8) name = r.pick(p.texts).substr(0, r.one_in(20) ? std::wstring::npos : 40);
            else if (roll < 9) name = L"FreeMemory";
            else null_name[i] = true;
            for (auto& c : name)  // oddly cased
                if (c < 128 && r.one_in(3)) c = static_cast<wchar_t>(r.one_in(2) ? towupper(c) : towlower(c));
            texts.push_back(name);
        }
        std::vector<LPOLESTR> names(count + 1, nullptr);
        for (UINT i = 0; i < count; ++i)
            names[i] = null_name[i] ? nullptr : const_cast<LPOLESTR>(texts[i].c_str());
        std::vector<DISPID> ids(count + 1, 12345);
        LPOLESTR* names_pointer = r.one_in(20) ? nullptr : names.data();
        DISPID* ids_pointer = r.one_in(20) ? nullptr : ids.data();
        const IID riid = r.one_in(10) ? IID_IDispatch : IID_NULL;
        const LCID lcid = r.one_in(4) ? LCID(0xFFFFFFFFu) : LCID(LOCALE_USER_DEFAULT);
        if (number >= trace_from) {
            std::printf("call %llu: GetIDsOfNames %s count %u%s%s\n", static_cast<unsigned long long>(number),
                        on_control ? "control" : "snapshot", count, names_pointer ? "" : " no-names",
                        ids_pointer ? "" : " no-ids");
            std::fflush(stdout);
        }
        HRESULT hr;
        {
            call_guard guard(number);
            hr = target->GetIDsOfNames(riid, names_pointer, count, lcid, ids_pointer);
        }
        ++counts[1];
        mix(static_cast<std::uint32_t>(hr));
        switch (hr) {
        case S_OK: case DISP_E_UNKNOWNNAME: case DISP_E_UNKNOWNINTERFACE: case DISP_E_UNKNOWNLCID:
        case E_INVALIDARG: case E_POINTER: case E_OUTOFMEMORY:
            break;
        default:
            fail(number, "GetIDsOfNames returned an HRESULT outside OLE Automation", hr);
        }
        if (hr == S_OK && count && on_control && names_pointer && ids_pointer) {
            for (const auto& m : methods)
                if (!null_name[0] && _wcsicmp(m.name, texts[0].c_str()) == 0 && ids[0] != m.dispid)
                    fail(number, "GetIDsOfNames gave another DISPID", hr, hex(ids[0]));
        }
    }

    void get_type_info(std::uint64_t number) {
        IDispatch* target = r.one_in(3) ? o.snapshot : o.control;
        const UINT indexes[] = {0, 0, 1, 2, 0xFFFFFFFFu, 0x7FFFFFFF, static_cast<UINT>(r.next())};
        const UINT index = indexes[r.below(7)];
        ITypeInfo* info = nullptr;
        ITypeInfo** info_pointer = r.one_in(8) ? nullptr : &info;
        UINT type_infos = 7;
        HRESULT hr, count_hr;
        {
            call_guard guard(number);
            hr = target->GetTypeInfo(index, r.one_in(2) ? 0 : 0xFFFFFFFFu, info_pointer);
            count_hr = target->GetTypeInfoCount(r.one_in(8) ? nullptr : &type_infos);
        }
        ++counts[2];
        mix(static_cast<std::uint32_t>(hr));
        mix(static_cast<std::uint32_t>(count_hr));
        const HRESULT expected = !info_pointer ? E_POINTER : index == 0 ? S_OK : DISP_E_BADINDEX;
        if (hr != expected) fail(number, "GetTypeInfo", hr, "index " + std::to_string(index));
        if (count_hr != S_OK && count_hr != E_POINTER) fail(number, "GetTypeInfoCount", count_hr);
        if (hr == S_OK && !info) fail(number, "GetTypeInfo gave no type description", hr);
        if (info) info->Release();
    }

    void step(std::uint64_t number) {
        if (r.one_in(3000)) renew_control();
        if (r.one_in(1500)) renew_snapshot();
        const std::uint32_t roll = r.below(100);
        if (roll < 90) invoke(number);
        else if (roll < 97) get_ids_of_names(number);
        else get_type_info(number);
    }
};

BOOL CALLBACK find_subclassed(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    if (GetPropW(window, L"ZorvaneLib.Subclass")) {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        reinterpret_cast<std::vector<std::wstring>*>(found)->push_back(name);
    }
    EnumChildWindows(window, &find_subclassed, found);
    return TRUE;
}

// Classes of this process's windows the library still subclasses (each keeps the library loaded, by design).
std::vector<std::wstring> subclassed_windows() {
    std::vector<std::wstring> found;
    EnumWindows(&find_subclassed, reinterpret_cast<LPARAM>(&found));
    for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
         w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr))
        find_subclassed(w, reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: zorvane_fuzz <seed> <calls> [trace-from]\n");
        return 2;
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(&on_crash);
    run_seed = std::strtoull(argv[1], nullptr, 0);
    const std::uint64_t calls = std::strtoull(argv[2], nullptr, 0);
    if (const char* only = std::getenv("ZV_FUZZ_ONLY")) only_call = std::strtoull(only, nullptr, 0);
    if (const char* limit = std::getenv("ZV_FUZZ_WATCHDOG_MS")) watchdog_ms = std::strtoul(limit, nullptr, 0);
    std::thread(watchdog).detach();

    CoInitialize(nullptr);
    // Files and folders the calls make land in a scratch folder of the prefix; relative names too.
    const std::wstring scratch = scratch_folder();
    SetCurrentDirectoryW(scratch.c_str());
    // A real window of this thread for the window methods to subclass, resize and capture.
    HWND window = CreateWindowExW(0, L"STATIC", L"zorvane fuzz target", WS_OVERLAPPEDWINDOW, 10, 10, 200, 150,
                                  nullptr, nullptr, nullptr, nullptr);
    const DWORD start = GetTickCount();
    int status = 0;
    {
        zvtest::neutralised hooks(scratch);
        zvtest::window_closer error_boxes(L"Ошибка");
        zvtest::window_closer about_boxes(L"О контроле...");

        static forwarder argument_object;
        fuzzer f{random_source{run_seed}, make_pools(scratch, window), {}, {}, {}};
        argument_object.target = &f.o.control;
        f.o.argument = &argument_object;
        if (argc > 3) f.trace_from = std::strtoull(argv[3], nullptr, 0);
        f.renew_control();
        f.renew_snapshot();
        f.control_list = control_members();
        f.snapshot_list = snapshot_members(f.o.snapshot);
        if (f.snapshot_list.size() != 5) fail(0, "clsMemorySnapshot names", E_FAIL);

        for (std::uint64_t i = 0; i < calls; ++i) {
            f.step(i);
            if (i && i % 100000 == 0) {
                std::printf("... %llu calls, %.1f s\n", static_cast<unsigned long long>(i),
                            (GetTickCount() - start) / 1000.0);
                std::fflush(stdout);
            }
            MSG msg;
            if (i % 64 == 0)
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        f.o.control->Release();
        f.o.snapshot->Release();
        // Wine's ITypeInfo::Invoke keeps a reference to an object argument copied for a VARIANT* parameter when
        // it then fails with DISP_E_BADPARAMCOUNT: counted here, not a fault of the library.
        std::printf("references to the argument object the system kept: %lu\n", argument_object.references - 1);
        std::printf("calls %llu (Invoke %llu, GetIDsOfNames %llu, GetTypeInfo %llu, objects %llu); message boxes "
                    "closed %d, About boxes closed %d; by-value arguments rewritten by the system %llu; calls also "
                    "made the general way and compared %llu\n",
                    static_cast<unsigned long long>(calls), static_cast<unsigned long long>(f.counts[0]),
                    static_cast<unsigned long long>(f.counts[1]), static_cast<unsigned long long>(f.counts[2]),
                    static_cast<unsigned long long>(f.counts[3]), error_boxes.closed(), about_boxes.closed(),
                    static_cast<unsigned long long>(f.rewritten_by_value), static_cast<unsigned long long>(f.compared));
    }
    DestroyWindow(window);  // a subclassed window keeps the library loaded until it goes
    const HRESULT unload = zvtest::can_unload_now();
    const auto still_subclassed = subclassed_windows();
    for (const auto& name : still_subclassed)
        std::printf("a window of class %ls hit by a random handle is still subclassed\n", name.c_str());
    if (unload != S_OK && still_subclassed.empty())
        fail(calls, "DllCanUnloadNow after every object was released", unload);
    std::printf("seed %llu time %.1f s\n", static_cast<unsigned long long>(run_seed),
                (GetTickCount() - start) / 1000.0);
    std::printf("checksum %016llx\n", static_cast<unsigned long long>(checksum));
    std::printf("%s: %d failing checks\n", failures ? "FAILED" : "PASSED", failures);
    std::fflush(stdout);
    if (failures) status = 1;
    CoUninitialize();
    return status;
}
