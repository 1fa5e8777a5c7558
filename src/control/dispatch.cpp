// IDispatch written once: names, DISPIDs and calls all go through the type library's ITypeInfo.
//
// ITypeInfo::Invoke refuses a VARIANT* (VT_BYREF|VT_VARIANT, as VBScript passes its variables)
// or a plain value where a typed by-reference parameter (BSTR*, long*, short*) is declared. Such an
// argument is converted into a temporary of the declared type, the call gets a reference to the
// temporary, and a changed value is written back into the caller's variable.
//
// The calls hosts make most are made here, through the vtable entry the type library names, exactly as
// that path would make them: positional arguments of the shapes scripts and hosts pass (values, VARIANT
// references, typed references, optional ones left out) whose conversion is exact and simple, to a method
// whose parameters and result are of the kinds below. A late-bound call then costs a table lookup instead of
// a general argument marshaller. Everything else (named arguments, missing or extra ones, a value that
// does not convert, objects, arrays) goes the general way. The methods never change their inputs (they are
// declared read-only), so a call made here hands them the caller's own values without copies, and nothing
// needs writing back.
#include "control/dispatch.h"

#include "library/errors.h"
#include "library/module.h"
#include "library/raii.h"
#include "library/text.h"
#include "library/type_library.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

namespace zorvane::dispatch {
namespace {

struct byref_param {
    UINT index;   // position in the parameter list
    VARTYPE type; // the type the parameter points to
};

// A parameter of a call made here.
enum class parameter : unsigned char {
    long_ref,       // [in, out] long*
    short_ref,      // [in, out] short*
    bstr_ref,       // [in, out] BSTR*
    variant_ref,    // [in, out] VARIANT*
    bstr,           // [in] BSTR
    bstr_optional,  // [in, optional] BSTR
};

// What the [out, retval] parameter of a call made here points to. `object`: an interface pointer, delivered as
// VT_DISPATCH when its interface is dispatchable, which is found out at its first call (the interface may live
// in another type library, and loading that one is no part of making the first call of another method).
enum class result : unsigned char { none, bstr, i4, i2, boolean, dispatch, variant, object };

// Whether an `object` result's interface is dispatchable: not yet known, yes, or no (calls go the general way).
enum class dispatchable : unsigned char { unknown, yes, no };

constexpr size_t most_parameters = 4;  // besides the result

struct function {
    MEMBERID member;
    INVOKEKIND kind;
    std::vector<byref_param> byref;  // typed by-reference parameters
    bool direct;                     // calls can be made here
    unsigned char count, required;   // parameters besides the result; how many a caller must pass
    std::array<parameter, most_parameters> params;
    result returns;
    HREFTYPE interface_type;         // an `object` result's interface
    mutable dispatchable object;     // and whether it is dispatchable; read and written through atomic_ref
    SHORT entry;                     // vtable offset in bytes
};

struct table {
    IID iid;
    com_ptr<ITypeInfo> info;
    std::vector<function> functions;  // by member, in type-library order within a member
    table* next;
};

// Tables are only added while objects live and only freed when none is left, so readers walk the
// list without a lock.
slim_lock creation_lock;
std::atomic<table*> tables{nullptr};

// What an [out, retval] pointer points to, as ITypeInfo::Invoke delivers it; `none` when not one of ours.
result result_of(const TYPEDESC& pointee) {
    switch (pointee.vt) {
    case VT_BSTR: return result::bstr;
    case VT_I4: return result::i4;
    case VT_I2: return result::i2;
    case VT_BOOL: return result::boolean;
    case VT_VARIANT: return result::variant;
    case VT_PTR: return pointee.lptdesc->vt == VT_USERDEFINED ? result::object : result::none;
    default: return result::none;
    }
}

// Whether `type` is a dispatchable interface, aliases (IPictureDisp names Picture) followed.
bool is_dispatchable(ITypeInfo* info, HREFTYPE type) {
    com_ptr<ITypeInfo> target;
    if (FAILED(info->GetRefTypeInfo(type, target.put()))) return false;
    for (int depth = 0; depth < 8; ++depth) {
        TYPEATTR* attr = nullptr;
        if (FAILED(target->GetTypeAttr(&attr))) return false;
        const TYPEKIND kind = attr->typekind;
        const bool dispatch = kind == TKIND_DISPATCH ||
                              (kind == TKIND_INTERFACE && (attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE));
        const bool alias = kind == TKIND_ALIAS && attr->tdescAlias.vt == VT_USERDEFINED;
        const HREFTYPE aliased = alias ? attr->tdescAlias.hreftype : 0;
        target->ReleaseTypeAttr(attr);
        if (!alias) return dispatch;
        com_ptr<ITypeInfo> next;
        if (FAILED(target->GetRefTypeInfo(aliased, next.put()))) return false;
        target = std::move(next);
    }
    return false;
}

// The result kind a call of `f` is made with, finding out once whether an interface result is dispatchable;
// `none` sends the call the general way.
result result_kind(const function& f, ITypeInfo* info) {
    if (f.returns != result::object) return f.returns;
    std::atomic_ref<dispatchable> known(f.object);
    dispatchable seen = known.load(std::memory_order_acquire);
    if (seen == dispatchable::unknown) {
        seen = is_dispatchable(info, f.interface_type) ? dispatchable::yes : dispatchable::no;
        known.store(seen, std::memory_order_release);
    }
    return seen == dispatchable::yes ? result::dispatch : result::none;
}

bool parameter_of(const ELEMDESC& e, parameter& kind) {
    const USHORT flags = e.paramdesc.wParamFlags;
    if (!(flags & PARAMFLAG_FIN) || (flags & (PARAMFLAG_FLCID | PARAMFLAG_FHASDEFAULT))) return false;
    if (e.tdesc.vt == VT_BSTR) {
        kind = flags & PARAMFLAG_FOPT ? parameter::bstr_optional : parameter::bstr;
        return true;
    }
    if (e.tdesc.vt != VT_PTR || (flags & PARAMFLAG_FOPT)) return false;
    switch (e.tdesc.lptdesc->vt) {
    case VT_I4: kind = parameter::long_ref; return true;
    case VT_I2: kind = parameter::short_ref; return true;
    case VT_BSTR: kind = parameter::bstr_ref; return true;
    case VT_VARIANT: kind = parameter::variant_ref; return true;
    default: return false;
    }
}

// Whether calls of `desc` can be made here, and how: a virtual stdcall member returning an HRESULT, not a
// property put, whose parameters are of the kinds above (optional ones last) and whose result, if any, is last.
void describe_call(const FUNCDESC& desc, function& f) {
    f.direct = false;
    f.returns = result::none;
    if (desc.elemdescFunc.tdesc.vt != VT_HRESULT || desc.callconv != CC_STDCALL || desc.cParamsOpt < 0) return;
    if (desc.funckind != FUNC_PUREVIRTUAL && desc.funckind != FUNC_VIRTUAL) return;
    if (desc.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) return;
    unsigned count = 0, required = 0;
    for (SHORT p = 0; p < desc.cParams; ++p) {
        const ELEMDESC& e = desc.lprgelemdescParam[p];
        if (e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) {
            if (p != desc.cParams - 1 || e.tdesc.vt != VT_PTR) return;
            f.returns = result_of(*e.tdesc.lptdesc);
            if (f.returns == result::none) return;
            if (f.returns == result::object) f.interface_type = e.tdesc.lptdesc->lptdesc->hreftype;
            continue;
        }
        parameter kind;
        if (count == most_parameters || !parameter_of(e, kind)) return;
        if (kind != parameter::bstr_optional) {
            if (required != count) return;  // a required parameter after an optional one
            ++required;
        }
        f.params[count++] = kind;
    }
    f.count = static_cast<unsigned char>(count);
    f.required = static_cast<unsigned char>(required);
    f.direct = true;
}

std::vector<function> describe_functions(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    check(info->GetTypeAttr(&attr));
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);

    std::vector<function> functions;
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        check(info->GetFuncDesc(i, &desc));
        function f{desc->memid, desc->invkind, {}, false, 0, 0, {}, result::none, 0, dispatchable::unknown,
                   desc->oVft};
        describe_call(*desc, f);
        for (SHORT p = 0; p < desc->cParams; ++p) {
            const ELEMDESC& e = desc->lprgelemdescParam[p];
            const USHORT flags = e.paramdesc.wParamFlags;
            if (e.tdesc.vt != VT_PTR || (flags & PARAMFLAG_FRETVAL) || !(flags & PARAMFLAG_FIN)) continue;
            const VARTYPE target = e.tdesc.lptdesc->vt;
            if (target == VT_VARIANT || target == VT_PTR || target == VT_USERDEFINED) continue;
            f.byref.push_back({static_cast<UINT>(p), target});
        }
        info->ReleaseFuncDesc(desc);
        functions.push_back(std::move(f));
    }
    std::stable_sort(functions.begin(), functions.end(),
                     [](const function& a, const function& b) { return a.member < b.member; });
    return functions;
}

const table* find_table(REFIID iid) noexcept {
    for (const table* t = tables.load(std::memory_order_acquire); t; t = t->next)
        if (IsEqualIID(t->iid, iid)) return t;
    return nullptr;
}

const table& table_for(REFIID iid) {
    if (const table* t = find_table(iid)) return *t;
    std::lock_guard guard(creation_lock);
    if (const table* t = find_table(iid)) return *t;
    auto info = type_library::interface_info(iid);
    auto functions = describe_functions(info.get());
    auto* t = new table{iid, std::move(info), std::move(functions), tables.load(std::memory_order_relaxed)};
    tables.store(t, std::memory_order_release);
    module::at_unused(&release_cache);
    return *t;
}

// The first function of `member` that `flags` can call, as ITypeInfo::Invoke chooses it.
const function* find_function(const table& t, DISPID member, WORD flags) noexcept {
    auto f = std::lower_bound(t.functions.begin(), t.functions.end(), member,
                              [](const function& candidate, DISPID id) { return candidate.member < id; });
    for (; f != t.functions.end() && f->member == member; ++f)
        if (f->kind & flags) return &*f;
    return nullptr;
}

// ---- calls made here -------------------------------------------------------------------------------------------

// The types whose conversion the OLE rules make plainly: integers (and Empty, and Boolean as 0 or -1) keep their
// value or overflow; these and the other numbers convert to text as VariantChangeType makes it.
bool integer_of(const VARIANT& v, LONGLONG& value) noexcept {
    switch (V_VT(&v)) {
    case VT_EMPTY: value = 0; return true;
    case VT_I1: value = V_I1(&v); return true;
    case VT_UI1: value = V_UI1(&v); return true;
    case VT_I2: value = V_I2(&v); return true;
    case VT_UI2: value = V_UI2(&v); return true;
    case VT_BOOL: value = V_BOOL(&v); return true;
    case VT_I4: value = V_I4(&v); return true;
    case VT_INT: value = V_INT(&v); return true;
    case VT_UI4: value = V_UI4(&v); return true;
    case VT_UINT: value = V_UINT(&v); return true;
    default: return false;
    }
}

bool plain_number(VARTYPE type) noexcept {
    switch (type) {
    case VT_EMPTY: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_BOOL: case VT_I4: case VT_INT:
    case VT_UI4: case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
        return true;
    default:
        return false;
    }
}

// The value a script variable holds (one VARIANT reference followed); null for a reference to nothing.
const VARIANT* value_of(const VARIANT& arg) noexcept {
    return V_VT(&arg) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&arg) : &arg;
}

// What a call made here needs besides the caller's arguments: converted numbers, texts and the result.
struct call_frame {
    std::array<void*, most_parameters + 1> args;
    std::array<LONG, most_parameters> longs;
    std::array<SHORT, most_parameters> shorts;
    std::array<BSTR, most_parameters> texts;
    std::array<BSTR, most_parameters> made;  // texts converted from numbers for this call, freed after it
    size_t made_count = 0;
    VARIANT value;                           // the result

    call_frame() noexcept {
        V_VT(&value) = VT_EMPTY;
        V_I8(&value) = 0;  // what a failed method leaves in a result it never wrote
    }
    call_frame(const call_frame&) = delete;
    call_frame& operator=(const call_frame&) = delete;
    ~call_frame() {
        for (size_t i = 0; i < made_count; ++i) SysFreeString(made[i]);
    }
};

// The text for a BSTR parameter: the caller's own, or one made from a number. False: not made here.
bool text_argument(const VARIANT& arg, call_frame& frame, size_t i) {
    const VARIANT* v = value_of(arg);
    if (!v) return false;
    if (V_VT(v) == (VT_BYREF | VT_BSTR)) {
        if (!V_BSTRREF(v)) return false;
        frame.texts[i] = *V_BSTRREF(v);
        return true;
    }
    if (V_VT(v) == VT_BSTR) {
        frame.texts[i] = V_BSTR(v);
        return true;
    }
    if (!plain_number(V_VT(v))) return false;
    unique_variant text;
    if (FAILED(VariantChangeType(text.get(), const_cast<VARIANT*>(v), 0, VT_BSTR))) return false;
    frame.texts[i] = frame.made[frame.made_count++] = V_BSTR(text.get());
    V_VT(text.get()) = VT_EMPTY;
    return true;
}

// A long or short parameter: the caller's own typed reference, or a number that fits, held in the frame.
template <typename Number>
bool number_argument(const VARIANT& arg, VARTYPE typed, Number& held, void*& passed) {
    if (V_VT(&arg) == (VT_BYREF | typed)) {
        passed = V_BYREF(&arg);
        return true;
    }
    const VARIANT* v = value_of(arg);
    LONGLONG number = 0;
    if (!v || !integer_of(*v, number) || number < std::numeric_limits<Number>::min() ||
        number > std::numeric_limits<Number>::max())
        return false;
    held = static_cast<Number>(number);
    passed = &held;
    return true;
}

// One argument as the method receives it. False: the call is not made here.
bool prepare(parameter kind, const VARIANT* arg, call_frame& frame, size_t i) {
    if (kind == parameter::bstr_optional &&
        (!arg || (V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND))) {
        // Left out: the method receives the pointer-sized VT_ERROR value, as ITypeInfo::Invoke passes it.
        frame.args[i] = reinterpret_cast<void*>(static_cast<ULONG_PTR>(static_cast<ULONG>(DISP_E_PARAMNOTFOUND)));
        return true;
    }
    if (!arg) return false;
    switch (kind) {
    case parameter::long_ref: return number_argument(*arg, VT_I4, frame.longs[i], frame.args[i]);
    case parameter::short_ref: return number_argument(*arg, VT_I2, frame.shorts[i], frame.args[i]);
    case parameter::bstr_ref:
        if (V_VT(arg) == (VT_BYREF | VT_BSTR)) {
            frame.args[i] = V_BSTRREF(arg);
            return true;
        }
        if (!text_argument(*arg, frame, i)) return false;
        frame.args[i] = &frame.texts[i];
        return true;
    case parameter::variant_ref:
        // A script variable is handed over as it is; a number by value too (ITypeInfo::Invoke hands over a copy
        // and writes it back into the argument afterwards, which for a number the method did not change is the
        // same number). A text or an object by value is left to it.
        if (V_VT(arg) == (VT_BYREF | VT_VARIANT)) {
            frame.args[i] = V_VARIANTREF(arg);
            return true;
        }
        if (!plain_number(V_VT(arg)) && V_VT(arg) != VT_NULL) return false;
        frame.args[i] = const_cast<VARIANT*>(arg);
        return true;
    case parameter::bstr:
    case parameter::bstr_optional:
        if (!text_argument(*arg, frame, i)) return false;
        frame.args[i] = frame.texts[i];
        return true;
    }
    return false;
}

HRESULT call_entry(void* self, SHORT entry, const void* const* a, size_t count) {
    void* method = (*static_cast<void***>(self))[entry / static_cast<SHORT>(sizeof(void*))];
    using p = const void*;
    switch (count) {
    case 0: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*)>(method)(self);
    case 1: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, p)>(method)(self, a[0]);
    case 2: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, p, p)>(method)(self, a[0], a[1]);
    case 3: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, p, p, p)>(method)(self, a[0], a[1], a[2]);
    case 4:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, p, p, p, p)>(method)(self, a[0], a[1], a[2], a[3]);
    default:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, p, p, p, p, p)>(method)(self, a[0], a[1], a[2],
                                                                                        a[3], a[4]);
    }
}

// The result as ITypeInfo::Invoke delivers it: typed, even from a failed call (our methods leave it empty
// then); the caller's VARIANT untouched by a method without one.
void deliver(result kind, VARIANT& value, VARIANT* to) {
    switch (kind) {
    case result::none:
    case result::object:  // never made here before it is known to be a dispatch result
        return;
    case result::bstr:
        V_VT(&value) = VT_BSTR;
        if (!V_BSTR(&value) && to) {
            // No text (a failed method leaves none): the system's own copy decides what the caller gets (Wine's
            // is an empty string).
            VARIANT reference;
            V_VT(&reference) = VT_BYREF | VT_BSTR;
            V_BSTRREF(&reference) = &V_BSTR(&value);
            VariantInit(to);
            VariantCopyInd(to, &reference);
            return;
        }
        break;
    case result::i4: V_VT(&value) = VT_I4; break;
    case result::i2: V_VT(&value) = VT_I2; break;
    case result::boolean: V_VT(&value) = VT_BOOL; break;
    case result::dispatch: V_VT(&value) = VT_DISPATCH; break;
    case result::variant:
        if (V_VT(&value) & (VT_BYREF | VT_ARRAY)) {
            // What the method left is copied with its references followed, as ITypeInfo::Invoke copies it.
            VARIANT reference;
            V_VT(&reference) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&reference) = &value;
            unique_variant copy;
            VariantCopyInd(copy.get(), &reference);
            VariantClear(&value);
            value = copy.release();
        }
        break;
    }
    if (to) {
        *to = value;
    } else {
        VariantClear(&value);
    }
}

// A failed method becomes DISP_E_EXCEPTION with the thread's error information in EXCEPINFO.
HRESULT exception_from(HRESULT hr, EXCEPINFO* exception) {
    if (exception) {
        std::memset(exception, 0, sizeof(*exception));
        IErrorInfo* error = nullptr;
        if (GetErrorInfo(0, &error) == S_OK && error) {
            error->GetDescription(&exception->bstrDescription);
            error->GetHelpFile(&exception->bstrHelpFile);
            error->GetHelpContext(&exception->dwHelpContext);
            error->GetSource(&exception->bstrSource);
            error->Release();
        }
        exception->scode = hr;
    }
    return DISP_E_EXCEPTION;
}

// Makes the call here when its arguments allow; false leaves it, untouched, to the general way.
bool invoke_direct(const table& t, const function& f, void* self, const DISPPARAMS& params, VARIANT* out,
                   EXCEPINFO* exception, HRESULT& hr) {
    if (!f.direct || params.cNamedArgs || params.cArgs > f.count || params.cArgs < f.required) return false;
    const bool has_result = f.returns != result::none;
    const result kind = result_kind(f, t.info.get());
    if (has_result && kind == result::none) return false;
    call_frame frame;
    for (size_t i = 0; i < f.count; ++i) {
        const VARIANT* arg = i < params.cArgs ? &params.rgvarg[params.cArgs - 1 - i] : nullptr;
        if (!prepare(f.params[i], arg, frame, i)) return false;
    }
    size_t count = f.count;
    if (kind == result::variant) frame.args[count++] = &frame.value;
    else if (has_result) frame.args[count++] = &V_I4(&frame.value);  // the union's storage
    const HRESULT called = call_entry(self, f.entry, frame.args.data(), count);
    deliver(kind, frame.value, out);
    hr = FAILED(called) ? exception_from(called, exception) : S_OK;
    return true;
}

// ---- the general way ------------------------------------------------------------------------------------------

// Where parameter `index` stands in rgvarg, or -1 when the caller left it out.
int slot_of(const DISPPARAMS& params, UINT index) {
    for (UINT i = 0; i < params.cNamedArgs; ++i)
        if (params.rgdispidNamedArgs[i] == static_cast<DISPID>(index)) return static_cast<int>(i);
    const UINT positional = params.cArgs - params.cNamedArgs;
    return index < positional ? static_cast<int>(params.cArgs - 1 - index) : -1;
}

// Stores `value` (of type `type`) into the typed variable a VT_BYREF argument points to.
void store_into(VARIANTARG& target, VARIANT& value) {
    const VARTYPE type = V_VT(&target) & ~VT_BYREF;
    unique_variant converted;
    if (FAILED(VariantChangeType(converted.get(), &value, 0, type))) return;
    void* slot = V_BYREF(&target);
    switch (type) {
    case VT_BSTR:
        SysFreeString(*static_cast<BSTR*>(slot));
        *static_cast<BSTR*>(slot) = V_BSTR(converted.get());
        V_VT(converted.get()) = VT_EMPTY;
        break;
    case VT_I1: case VT_UI1: *static_cast<BYTE*>(slot) = V_UI1(converted.get()); break;
    case VT_I2: case VT_UI2: case VT_BOOL: *static_cast<SHORT*>(slot) = V_I2(converted.get()); break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR:
        *static_cast<LONG*>(slot) = V_I4(converted.get());
        break;
    case VT_R4: *static_cast<FLOAT*>(slot) = V_R4(converted.get()); break;
    case VT_R8: case VT_DATE: *static_cast<DOUBLE*>(slot) = V_R8(converted.get()); break;
    case VT_CY: case VT_I8: case VT_UI8: *static_cast<LONGLONG*>(slot) = V_I8(converted.get()); break;
    default: break;
    }
}

HRESULT invoke_coerced(const table& t, const function& f, void* self, DISPID member, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* arg_error) {
    std::vector<VARIANTARG> args(params->rgvarg, params->rgvarg + params->cArgs);
    struct coerced {
        int slot = -1;
        unique_variant before;
        unique_variant value;
    };
    std::vector<coerced> temps(f.byref.size());  // never reallocated: args point into it
    size_t used = 0;

    for (const byref_param& p : f.byref) {
        const int slot = slot_of(*params, p.index);
        if (slot < 0 || V_VT(&args[slot]) == (VT_BYREF | p.type)) continue;
        const VARIANT* source = &args[slot];
        if (V_VT(source) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(source)) source = V_VARIANTREF(source);
        auto& temp = temps[used++];
        temp.slot = slot;
        // A reference to nothing has no value to convert.
        const bool null_reference = (V_VT(source) & VT_BYREF) && !V_BYREF(source);
        const HRESULT hr = null_reference ? DISP_E_TYPEMISMATCH
                                          : VariantChangeType(temp.value.get(), const_cast<VARIANT*>(source), 0, p.type);
        if (FAILED(hr)) {
            if (arg_error) *arg_error = static_cast<UINT>(slot);
            return DISP_E_TYPEMISMATCH;
        }
        check(VariantCopy(temp.before.get(), temp.value.get()));
        V_VT(&args[slot]) = VT_BYREF | p.type;
        V_BYREF(&args[slot]) = &V_I4(temp.value.get());  // the union's storage, whatever its type
    }

    DISPPARAMS coerced_params = *params;
    coerced_params.rgvarg = args.data();
    const HRESULT hr = t.info->Invoke(self, member, flags, &coerced_params, result, exception, arg_error);
    // Whatever the call wrote into the other arguments (Wine writes [in, out] values back by position, also into
    // a named argument that stands there, freeing what it held) goes back to the caller, never left in the copy.
    for (UINT i = 0; i < params->cArgs; ++i) {
        const bool converted = std::any_of(temps.begin(), temps.begin() + used,
                                           [&](const coerced& c) { return c.slot == static_cast<int>(i); });
        if (!converted) params->rgvarg[i] = args[i];
    }
    if (FAILED(hr)) return hr;

    for (size_t i = 0; i < used; ++i) {
        auto& temp = temps[i];
        if (VarCmp(temp.before.get(), temp.value.get(), LOCALE_INVARIANT, 0) == static_cast<HRESULT>(VARCMP_EQ))
            continue;
        VARIANTARG& original = params->rgvarg[temp.slot];
        if (V_VT(&original) == (VT_BYREF | VT_VARIANT)) {
            VARIANT* target = V_VARIANTREF(&original);
            VariantClear(target);
            *target = temp.value.release();
        } else if (V_VT(&original) & VT_BYREF) {
            store_into(original, *temp.value.get());
        }
    }
    return hr;
}

} // namespace

HRESULT get_type_info(REFIID iid, UINT index, ITypeInfo** info) noexcept {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    const module::count busy;  // see invoke
    try {
        *info = type_library::info_of(iid).detach();
        return S_OK;
    } catch (...) {
        return describe(std::current_exception()).hresult;
    }
}

HRESULT get_ids_of_names(REFIID iid, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    const module::count busy;  // see invoke
    try {
        return table_for(iid).info->GetIDsOfNames(names, count, ids);
    } catch (...) {
        return describe(std::current_exception()).hresult;
    }
}

HRESULT invoke(REFIID iid, void* self, DISPID member, REFIID riid, WORD flags, DISPPARAMS* params,
               VARIANT* result, EXCEPINFO* exception, UINT* arg_error) noexcept {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_POINTER;
    if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
    if (params->cNamedArgs > params->cArgs || (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    // The descriptions read here stay until the call is over, whatever the host frees while it runs.
    const module::count busy;
    try {
        const table& t = table_for(iid);
        const function* f = find_function(t, member, flags);
        HRESULT hr = S_OK;
        if (f && invoke_direct(t, *f, self, *params, result, exception, hr)) return hr;
        if (!f || f->byref.empty())
            return t.info->Invoke(self, member, flags, params, result, exception, arg_error);
        return invoke_coerced(t, *f, self, member, flags, params, result, exception, arg_error);
    } catch (...) {
        return describe(std::current_exception()).hresult;
    }
}

void release_cache() noexcept {
    std::lock_guard guard(creation_lock);
    for (table* t = tables.exchange(nullptr); t;) delete std::exchange(t, t->next);
}

} // namespace zorvane::dispatch
