// How much a call costs through each surface a host can use, measured side by side in one run:
//   - a cheap method (WindowsMajorVersion) through the vtable entry early-bound clients use,
//   - the same method through IDispatch::Invoke,
//   - a property get through the Invoke of a peer object whose IDispatch is also driven by its type library,
//   - every method with parameters, through its vtable entry and through Invoke with each shape of argument a
//     host passes (by value, VARIANT references, typed references, optional arguments left out), against the
//     peers' Invoke with as many arguments,
//   - a cold start: LoadLibrary + class factory + name lookup + first call + release + FreeLibrary, for us and
//     for the peer.
// What is compared runs in interleaved rounds (bench_support.h), in passes spread over the run that each measure
// everything; every figure is the median of all its rounds with their interquartile range, and every ratio is
// taken within each round before its median. It asserts nothing.
#include "bench_support.h"

#include "support/iat_hook.h"
#include "support/published.h"

#include <windows.h>
#include <shellapi.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zvbench;

// The peer: the scripting runtime's dictionary, a typelib-driven dual object that every Windows carries.
const CLSID clsid_dictionary = {0xEE09B103, 0x97E0, 0x11CF, {0x97, 0x8F, 0x00, 0xA0, 0x24, 0x63, 0xE0, 0x6F}};
// And its file system object, for a method of two arguments without side effects (BuildPath).
const CLSID clsid_file_system = {0x0D43FE01, 0xF093, 0x11CF, {0x89, 0x40, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x28}};

DISPID major_version_dispid = DISPID_UNKNOWN;

using bstr_method = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, BSTR*);

// How long each batch of calls lasts: short enough that most batches run undisturbed on a shared machine and that
// the batches of one round see the same machine (a method slower than that makes one call a batch). A batch of
// cold starts is two of them.
const double batch_seconds = 0.00005;
const long cold_starts_per_batch = 2;
const int rounds_per_pass = 60;
int passes = 12;

// The method names are ASCII.
std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

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

// ---- calls with arguments --------------------------------------------------------------------------------------

// A parameter as the type library declares it.
enum class parameter { long_ref, short_ref, bstr_ref, variant_ref, bstr_in, bstr_optional, unknown };

// How a host passes an argument: a literal by value, a script variable as a VARIANT reference, an early-bound
// minded host's typed reference, or an optional argument left out.
enum class shape { by_value, variant_ref, typed_ref, omitted };
const char* const shape_names[] = {"by value", "VARIANT ref", "typed ref", "omitted opt"};

struct method_info {
    std::wstring name;
    DISPID id;
    size_t offset;
    std::vector<parameter> params;
    std::vector<std::wstring> param_names;
    VARTYPE result;  // what the [out, retval] points to; VT_EMPTY for none
};

parameter parameter_of(const ELEMDESC& e) {
    const TYPEDESC& t = e.tdesc;
    if (t.vt == VT_BSTR) return e.paramdesc.wParamFlags & PARAMFLAG_FOPT ? parameter::bstr_optional : parameter::bstr_in;
    if (t.vt != VT_PTR) return parameter::unknown;
    switch (t.lptdesc->vt) {
    case VT_I4: return parameter::long_ref;
    case VT_I2: return parameter::short_ref;
    case VT_BSTR: return parameter::bstr_ref;
    case VT_VARIANT: return parameter::variant_ref;
    default: return parameter::unknown;
    }
}

std::vector<method_info> methods_with_parameters(IDispatch* object) {
    ITypeInfo* twin = vtable_type_info(object);
    TYPEATTR* attr = nullptr;
    twin->GetTypeAttr(&attr);
    std::vector<method_info> methods;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(twin->GetFuncDesc(i, &desc))) continue;
        method_info m{{}, desc->memid, static_cast<size_t>(desc->oVft), {}, {}, VT_EMPTY};
        BSTR names[8] = {};
        UINT count = 0;
        twin->GetNames(desc->memid, names, 8, &count);
        for (UINT n = 0; n < count; ++n) {
            if (n == 0)
                m.name = names[n];
            else
                m.param_names.emplace_back(names[n]);
            SysFreeString(names[n]);
        }
        for (SHORT p = 0; p < desc->cParams; ++p) {
            const ELEMDESC& e = desc->lprgelemdescParam[p];
            if (e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL)
                m.result = e.tdesc.lptdesc->vt == VT_PTR ? VARTYPE{VT_DISPATCH} : e.tdesc.lptdesc->vt;
            else
                m.params.push_back(parameter_of(e));
        }
        twin->ReleaseFuncDesc(desc);
        if (!m.params.empty()) methods.push_back(std::move(m));
    }
    twin->ReleaseTypeAttr(attr);
    twin->Release();
    return methods;
}

// Harmless values: the window handle 0, the bench's own Run key entry, a cursor position on its own X server.
std::wstring text_for(const std::wstring& name) {
    static const std::map<std::wstring, std::wstring> texts = {
        {L"PathDrive", L"C:\\"},       {L"BMPFileName", L"C:\\none.bmp"}, {L"Path", L""},
        {L"ProgName", L"ZorvaneBench"}, {L"ProgPath", L"C:\\bench.exe"},   {L"WebAddress", L"https://example.org"},
        {L"MailAddress", L"x@example.org"}, {L"SubjectMail", L"Hi"},      {L"Y", L"20"},
    };
    const auto found = texts.find(name);
    return found == texts.end() ? L"" : found->second;
}

LONG number_for(const std::wstring& name) {
    if (name == L"MinWidth") return 300;
    if (name == L"MinHeight") return 100;
    if (name == L"X") return 10;
    return 0;  // window handles
}

// The arguments of one method in one shape, as Invoke receives them, and the same values for its vtable entry.
class arguments final {
public:
    arguments(const method_info& m, shape s) : values_(m.params.size()), args_(m.params.size()) {
        longs_.resize(m.params.size());
        shorts_.resize(m.params.size());
        texts_.resize(m.params.size());
        for (size_t i = 0; i < m.params.size(); ++i) {
            const std::wstring& name = m.param_names[i];
            VARIANT& value = values_[i];
            VariantInit(&value);
            longs_[i] = number_for(name);
            shorts_[i] = static_cast<SHORT>(number_for(name));
            switch (m.params[i]) {
            case parameter::long_ref: V_VT(&value) = VT_I4; V_I4(&value) = longs_[i]; break;
            case parameter::short_ref: V_VT(&value) = VT_I2; V_I2(&value) = shorts_[i]; break;
            case parameter::variant_ref: V_VT(&value) = VT_I4; V_I4(&value) = longs_[i]; break;
            default:
                texts_[i] = SysAllocString(text_for(name).c_str());
                V_VT(&value) = VT_BSTR;
                V_BSTR(&value) = SysAllocString(texts_[i]);
                break;
            }
            if (s == shape::omitted && m.params[i] == parameter::bstr_optional) {
                omitted_ = true;
                continue;
            }
            ++passed_;
            VARIANT& arg = args_[m.params.size() - 1 - i];  // rgvarg runs backwards
            if (s == shape::variant_ref) {
                V_VT(&arg) = VT_BYREF | VT_VARIANT;
                V_VARIANTREF(&arg) = &value;
            } else if (s == shape::typed_ref) {
                switch (m.params[i]) {
                case parameter::long_ref: V_VT(&arg) = VT_BYREF | VT_I4; V_I4REF(&arg) = &longs_[i]; break;
                case parameter::short_ref: V_VT(&arg) = VT_BYREF | VT_I2; V_I2REF(&arg) = &shorts_[i]; break;
                case parameter::bstr_ref: V_VT(&arg) = VT_BYREF | VT_BSTR; V_BSTRREF(&arg) = &texts_[i]; break;
                case parameter::variant_ref: V_VT(&arg) = VT_BYREF | VT_VARIANT; V_VARIANTREF(&arg) = &value; break;
                default: arg = value; break;  // by value is how the type library declares these
                }
            } else {
                arg = value;  // a shallow copy: the values own what they hold
            }
        }
        // Left-out optional arguments are the last ones: the arguments passed are the last rgvarg entries.
        params_ = {args_.data() + (args_.size() - passed_), nullptr, static_cast<UINT>(passed_), 0};
    }
    arguments(const arguments&) = delete;
    arguments& operator=(const arguments&) = delete;
    ~arguments() {
        for (auto& v : values_) VariantClear(&v);
        for (BSTR t : texts_) SysFreeString(t);
    }

    bool omits() const noexcept { return omitted_; }
    size_t passed() const noexcept { return passed_; }
    DISPPARAMS* params() noexcept { return &params_; }

    // The entry's own arguments: pointers to the values, BSTRs themselves, the stand-in for a left-out BSTR.
    std::vector<void*> for_vtable(const method_info& m, shape s) {
        std::vector<void*> out;
        for (size_t i = 0; i < m.params.size(); ++i) {
            switch (m.params[i]) {
            case parameter::long_ref: out.push_back(&longs_[i]); break;
            case parameter::short_ref: out.push_back(&shorts_[i]); break;
            case parameter::bstr_ref: out.push_back(&texts_[i]); break;
            case parameter::variant_ref: out.push_back(&values_[i]); break;
            case parameter::bstr_optional:
                if (s == shape::omitted) {
                    out.push_back(reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x80020004u)));
                    break;
                }
                [[fallthrough]];
            default: out.push_back(texts_[i]); break;
            }
        }
        return out;
    }

private:
    std::vector<VARIANT> values_;
    std::vector<VARIANTARG> args_;
    std::vector<LONG> longs_;
    std::vector<SHORT> shorts_;
    std::vector<BSTR> texts_;
    DISPPARAMS params_{};
    size_t passed_ = 0;
    bool omitted_ = false;
};

// One call of a vtable entry with pointer-sized arguments and an optional [out, retval], its result let go.
void call_entry(IDispatch* object, const method_info& m, const std::vector<void*>& args) {
    void* entry = (*reinterpret_cast<void***>(object))[m.offset / sizeof(void*)];
    VARIANT result;
    VariantInit(&result);
    void* all[4] = {};
    size_t count = 0;
    for (void* a : args) all[count++] = a;
    if (m.result == VT_VARIANT) all[count++] = &result;
    else if (m.result != VT_EMPTY) all[count++] = &V_I4(&result);  // BSTR* or IDispatch**: the union
    using p = void*;
    HRESULT hr = E_FAIL;
    switch (count) {
    case 1: hr = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, p)>(entry)(object, all[0]); break;
    case 2: hr = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, p, p)>(entry)(object, all[0], all[1]); break;
    case 3:
        hr = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, p, p, p)>(entry)(object, all[0], all[1], all[2]);
        break;
    default: fail("a vtable call with more arguments than the bench makes", E_FAIL);
    }
    if (FAILED(hr)) fail("vtable call", hr);
    if (m.result == VT_BSTR) SysFreeString(V_BSTR(&result));
    if (m.result == VT_DISPATCH && V_DISPATCH(&result)) V_DISPATCH(&result)->Release();
    if (m.result == VT_VARIANT) VariantClear(&result);
}

void invoke_with(IDispatch* object, DISPID id, WORD flags, DISPPARAMS* params) {
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, &result, nullptr, nullptr);
    if (FAILED(hr)) fail("Invoke with arguments", hr);
    VariantClear(&result);
}

// Stand-ins for the Windows calls that cost far more than a dispatch (a volume query, the registry, the X server,
// a whole-screen capture): with them every method's own work is small enough for the overhead to show.
BOOL WINAPI no_shell(SHELLEXECUTEINFOW*) { return TRUE; }
BOOL WINAPI no_parameters(UINT, UINT, PVOID, UINT) { return TRUE; }
BOOL WINAPI no_move(int, int) { return TRUE; }
LSTATUS WINAPI no_key(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) { return ERROR_ACCESS_DENIED; }
BOOL WINAPI blank_volume(LPCWSTR, LPWSTR label, DWORD, LPDWORD serial, LPDWORD length, LPDWORD flags, LPWSTR system,
                         DWORD) {
    if (label) *label = 0;
    if (system) *system = 0;
    if (serial) *serial = 0;
    if (length) *length = 255;
    if (flags) *flags = 0;
    return TRUE;
}
HWND small_desktop = nullptr;
HWND WINAPI small_desktop_window() { return small_desktop; }

// A batch of about batch_seconds of `call`.
template <typename Call>
batch batch_of(Call call) {
    return timed(calls_for(batch_seconds, 20, 1000000, call), call);
}

// The peers' Invoke with one and two arguments, by value or through VARIANT references: Dictionary.Exists(key) and
// FileSystemObject.BuildPath(path, name). Three arguments are measured against the peer's two (which costs less
// than three would).
class peer_calls final {
public:
    peer_calls(IDispatch* dictionary, IDispatch* file_system)
        : dictionary_(dictionary), file_system_(file_system), exists_(dispid_of(dictionary, L"Exists")),
          build_path_(dispid_of(file_system, L"BuildPath")) {
        for (int by_ref = 0; by_ref < 2; ++by_ref) {
            for (int i = 0; i < 2; ++i) {
                VARIANT& value = values_[by_ref][i];
                V_VT(&value) = VT_BSTR;
                V_BSTR(&value) = SysAllocString(i ? L"k" : L"folder");
                VARIANT& arg = args_[by_ref][i];
                if (by_ref) {
                    V_VT(&arg) = VT_BYREF | VT_VARIANT;
                    V_VARIANTREF(&arg) = &value;
                } else {
                    arg = value;
                }
            }
            params_[by_ref][0] = {&args_[by_ref][1], nullptr, 1, 0};
            params_[by_ref][1] = {args_[by_ref], nullptr, 2, 0};
        }
    }
    peer_calls(const peer_calls&) = delete;
    peer_calls& operator=(const peer_calls&) = delete;
    ~peer_calls() {
        for (auto& pair : values_)
            for (auto& v : pair) VariantClear(&v);
    }

    // The peer's call with `count` arguments (1 to 3), by value or through VARIANT references.
    batch call(size_t count, bool by_ref) {
        DISPPARAMS* params = &params_[by_ref][count > 1 ? 1 : 0];
        IDispatch* object = count > 1 ? file_system_ : dictionary_;
        const DISPID id = count > 1 ? build_path_ : exists_;
        return batch_of([=] { invoke_with(object, id, DISPATCH_METHOD, params); });
    }

private:
    IDispatch* dictionary_;
    IDispatch* file_system_;
    DISPID exists_, build_path_;
    VARIANT values_[2][2];
    VARIANTARG args_[2][2];
    DISPPARAMS params_[2][2];
};

// Each contender's time per call in every round of every pass, in ns (us for cold starts).
using gathered = std::vector<std::vector<double>>;

void append(gathered& into, const gathered& pass, size_t from, size_t count, double factor) {
    into.resize(count);
    for (size_t k = 0; k < count; ++k)
        for (double v : pass[from + k]) into[k].push_back(v * factor);
}

// One method with parameters in one shape of argument: the vtable call, Invoke and the peer's Invoke with as many
// arguments in the same shape.
struct row {
    std::string name;
    shape form;
    size_t passed;
    gathered times;  // [vtable, Invoke, peer][round]
};

// Everything the calls measure, over all passes.
struct call_results {
    gathered cheap;  // WindowsMajorVersion through the vtable and through Invoke, the peer's Dictionary.Count
    gathered peers;  // Exists by value and by VARIANT reference, BuildPath by value and by VARIANT references
    std::vector<row> rows;
};

// One pass of the calls: the OCX loaded with its stand-ins, then the cheap method, the peers and every method with
// parameters in every shape it takes, all in the same interleaved rounds, so that each is measured alongside all
// the others and every pass adds to every one of them.
void call_pass(const std::wstring& ocx, const std::wstring& peer_dll, int rounds, call_results& results) {
    loaded_server zorvane(ocx, zvtest::clsid_zorvane);
    loaded_server dictionary(peer_dll, clsid_dictionary);
    loaded_server file_system(peer_dll, clsid_file_system);
    // Held by the bench as GUI hosts hold it: each shell request then only counts one more reference.
    const HMODULE shell32 = LoadLibraryW(L"shell32.dll");
    small_desktop = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 2, 2, nullptr, nullptr, nullptr,
                                    nullptr);
    auto fn = [](auto f) { return reinterpret_cast<const void*>(f); };
    zvtest::procedure_hook shell(zorvane.module, "ShellExecuteExW", fn(&no_shell));
    zvtest::iat_hook wallpaper(zorvane.module, "user32.dll", "SystemParametersInfoW", fn(&no_parameters));
    zvtest::iat_hook cursor(zorvane.module, "user32.dll", "SetCursorPos", fn(&no_move));
    zvtest::iat_hook desktop(zorvane.module, "user32.dll", "GetDesktopWindow", fn(&small_desktop_window));
    zvtest::iat_hook run_key(zorvane.module, "advapi32.dll", "RegOpenKeyExW", fn(&no_key));
    zvtest::iat_hook volume(zorvane.module, "kernel32.dll", "GetVolumeInformationW", fn(&blank_volume));

    IDispatch* object = zorvane.object;
    IDispatch* peer_object = dictionary.object;
    const DISPID count = dispid_of(peer_object, L"Count");
    const size_t offset = vtable_offset(object, major_version_dispid);
    peer_calls peers(dictionary.object, file_system.object);
    std::vector<batch> contenders = {
        batch_of([=] { call_vtable(object, offset); }),
        batch_of([=] { invoke(object, major_version_dispid, DISPATCH_METHOD); }),
        batch_of([=] { invoke(peer_object, count, DISPATCH_PROPERTYGET); }),
        peers.call(1, false), peers.call(1, true), peers.call(2, false), peers.call(2, true)};

    struct setup {
        const method_info* method;
        shape form;
        std::unique_ptr<arguments> args;
        std::vector<void*> direct;
    };
    const std::vector<method_info> methods = methods_with_parameters(object);
    std::vector<setup> setups;
    for (const method_info& m : methods) {
        const bool by_reference = std::any_of(m.params.begin(), m.params.end(), [](parameter p) {
            return p != parameter::bstr_in && p != parameter::bstr_optional;
        });
        for (shape s : {shape::by_value, shape::variant_ref, shape::typed_ref, shape::omitted}) {
            if (s == shape::typed_ref && !by_reference) continue;  // the same as by value
            auto args = std::make_unique<arguments>(m, s);
            if (s == shape::omitted && !args->omits()) continue;
            std::vector<void*> direct = args->for_vtable(m, s);
            setups.push_back({&m, s, std::move(args), std::move(direct)});
        }
    }
    for (const setup& row : setups) {
        const method_info& m = *row.method;
        DISPPARAMS* params = row.args->params();
        const std::vector<void*>* direct = &row.direct;
        auto by_invoke = [object, &m, params] { invoke_with(object, m.id, DISPATCH_METHOD, params); };
        // The vtable call and Invoke make as many calls a batch: their difference is taken per call anyway.
        const long n = calls_for(batch_seconds, 1, 1000000, by_invoke);
        const size_t passed = std::min<size_t>(std::max<size_t>(1, row.args->passed()), 3);
        contenders.push_back(timed(n, [object, &m, direct] { call_entry(object, m, *direct); }));
        contenders.push_back(timed(n, by_invoke));
        contenders.push_back(peers.call(passed, row.form == shape::variant_ref));
    }

    const gathered t = interleaved(rounds, contenders);
    append(results.cheap, t, 0, 3, 1e9);
    append(results.peers, t, 3, 4, 1e9);
    results.rows.resize(setups.size());
    for (size_t i = 0; i < setups.size(); ++i) {
        row& r = results.rows[i];
        r.name = narrow(setups[i].method->name);
        r.form = setups[i].form;
        r.passed = setups[i].args->passed();
        append(r.times, t, 7 + 3 * i, 3, 1e9);
    }
    DestroyWindow(small_desktop);
    FreeLibrary(shell32);
}

// A host's first use, for us and for the peer: load, class factory, object, the method's name looked up, the call,
// release, unload; and the first steps of ours alone.
void cold_pass(const std::wstring& ocx, const std::wstring& peer_dll, int rounds, gathered& results) {
    auto cold = [](const std::wstring& path, const CLSID& clsid, const wchar_t* member, WORD flags) {
        return [&path, &clsid, member, flags] {
            loaded_server server(path, clsid);
            invoke(server.object, dispid_of(server.object, member), flags);
        };
    };
    auto cold_batch = [](auto call) { return timed(cold_starts_per_batch, call); };
    const gathered t = interleaved(
        rounds, {cold_batch(cold(ocx, zvtest::clsid_zorvane, L"WindowsMajorVersion", DISPATCH_METHOD)),
                 cold_batch(cold(peer_dll, clsid_dictionary, L"Count", DISPATCH_PROPERTYGET)),
                 cold_batch([&] { FreeLibrary(LoadLibraryW(ocx.c_str())); }),
                 cold_batch([&] { loaded_server server(ocx, zvtest::clsid_zorvane); })});
    append(results, t, 0, 4, 1e6);
}

double quotient(double a, double b) { return a / b; }
double difference(double a, double b) { return a - b; }

void print_cheap(const gathered& t) {
    const std::vector<double>&vtable = t[0], &ours = t[1], &peer = t[2];
    std::printf("%-52s %24s ns\n", "WindowsMajorVersion through the vtable", shown(spread_of(vtable), 0).c_str());
    std::printf("%-52s %24s ns\n", "WindowsMajorVersion through IDispatch::Invoke", shown(spread_of(ours), 0).c_str());
    std::printf("%-52s %24s ns\n", "peer Dictionary.Count through IDispatch::Invoke", shown(spread_of(peer), 0).c_str());
    std::printf("  Invoke / vtable:        %s\n", shown(spread_of(per_round(ours, vtable, quotient)), 2).c_str());
    std::printf("  our Invoke / peer's:    %s\n", shown(spread_of(per_round(ours, peer, quotient)), 3).c_str());
    std::printf("  Invoke overhead / peer: %s  (our Invoke minus the method's own work, against the peer's)\n\n",
                shown(spread_of(per_round(per_round(ours, vtable, difference), peer, quotient)), 2).c_str());
}

// Every row: the dispatch overhead (Invoke minus the vtable call) and the overhead against the peer's Invoke, each
// taken within its round. A row whose overhead spreads more between rounds than the overhead itself cannot tell
// that overhead and stays out of the headline.
void print_rows(const call_results& results) {
    const gathered& p = results.peers;
    std::printf("peer Dictionary.Exists(key) through Invoke, ns: %s by value, %s through a VARIANT reference\n",
                shown(spread_of(p[0]), 0).c_str(), shown(spread_of(p[1]), 0).c_str());
    std::printf("peer FileSystemObject.BuildPath(path, name) through Invoke, ns: %s by value, %s through "
                "VARIANT references\n\n",
                shown(spread_of(p[2]), 0).c_str(), shown(spread_of(p[3]), 0).c_str());
    std::printf("%-18s %-11s %4s %20s %8s %20s %20s\n", "method", "shape", "args", "vtable ns", "Invoke",
                "overhead ns", "overhead / peer");
    std::string worst_name = "none";
    spread worst;
    int in_headline = 0, kept_out = 0;
    for (const row& r : results.rows) {
        const std::vector<double>&vtable = r.times[0], &through_invoke = r.times[1], &peer = r.times[2];
        const std::vector<double> overhead = per_round(through_invoke, vtable, difference);
        const spread own = spread_of(vtable), over = spread_of(overhead),
                     against = spread_of(per_round(overhead, peer, quotient));
        const char* shape_name = shape_names[static_cast<int>(r.form)];
        std::printf("%-18s %-11s %4zu %20s %8.0f %20s %20s\n", r.name.c_str(), shape_name, r.passed,
                    shown(own, 0).c_str(), spread_of(through_invoke).median, shown(over, 0).c_str(),
                    shown(against, 2).c_str());
        // The round-to-round spread of the overhead: how much the method's own time (which both calls include)
        // and the dispatch move between rounds, against the overhead being measured.
        if (over.width() >= over.median) {
            ++kept_out;
            std::printf("    not in the headline: its own spread (%.0f ns between the quartiles of its rounds' "
                        "overhead; its own time %.0f ns between them) exceeds the overhead (%.0f ns)\n",
                        over.width(), own.width(), over.median);
            continue;
        }
        ++in_headline;
        if (worst_name == "none" || against.median > worst.median) {
            worst_name = r.name + ", " + shape_name;
            worst = against;
        }
    }
    std::printf("  worst dispatch overhead / peer's Invoke, where it shows: %s  (%s; %d rows in it, %d kept out)\n\n",
                shown(worst, 3).c_str(), worst_name.c_str(), in_headline, kept_out);
}

void print_cold(const gathered& t) {
    std::printf("%-52s %24s us\n", "cold start: ZorvaneLib load + create + first call", shown(spread_of(t[0]), 0).c_str());
    std::printf("%-52s %24s us\n", "  of which LoadLibrary + FreeLibrary", shown(spread_of(t[2]), 0).c_str());
    std::printf("%-52s %24s us\n", "  of which load + create + release", shown(spread_of(t[3]), 0).c_str());
    std::printf("%-52s %24s us\n", "cold start: peer load + create + first call", shown(spread_of(t[1]), 0).c_str());
    std::printf("  ours / peer's:          %s\n", shown(spread_of(per_round(t[0], t[1], quotient)), 3).c_str());
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
    if (argc > 1) passes = std::max(1, static_cast<int>(std::wcstol(argv[1], nullptr, 10)));
    CoInitialize(nullptr);

    const std::wstring ocx = beside_me(L"ZorvaneLib.ocx");
    const std::wstring peer_dll = system_file(L"scrrun.dll");
    std::printf("ZorvaneLib call cost, %ld-bit, %d passes of %d interleaved rounds; batches of %.2f ms of calls or "
                "%ld cold starts\n", static_cast<long>(sizeof(void*) * 8), passes, rounds_per_pass,
                batch_seconds * 1000, cold_starts_per_batch);
    std::printf("each figure: the median [interquartile range] of its rounds; ratios taken within each round\n");
    std::printf("OCX size: %ld bytes\n\n", file_size(ocx));
    {
        loaded_server zorvane(ocx, zvtest::clsid_zorvane);
        major_version_dispid = dispid_of(zorvane.object, L"WindowsMajorVersion");
        std::printf("WindowsMajorVersion: DISPID 0x%08lX, vtable entry %u\n\n",
                    static_cast<unsigned long>(major_version_dispid),
                    static_cast<unsigned>(vtable_offset(zorvane.object, major_version_dispid) / sizeof(void*)));
    }

    // The passes spread every measurement's rounds over the whole run, so that a busy spell of the machine falls
    // on all of them rather than on a few.
    call_results calls;
    gathered cold;
    for (int pass = 0; pass < passes; ++pass) {
        call_pass(ocx, peer_dll, rounds_per_pass, calls);
        cold_pass(ocx, peer_dll, rounds_per_pass, cold);
    }
    print_cheap(calls.cheap);
    print_rows(calls);
    print_cold(cold);
    CoUninitialize();
    return 0;
}
