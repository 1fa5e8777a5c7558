// IDispatch written once: names, DISPIDs and calls all go through the type library's ITypeInfo.
//
// ITypeInfo::Invoke refuses a VARIANT* (VT_BYREF|VT_VARIANT, as VBScript passes its variables)
// or a plain value where a typed by-reference parameter (BSTR*, long*, short*) is declared. Such an
// argument is converted into a temporary of the declared type, the call gets a reference to the
// temporary, and a changed value is written back into the caller's variable.
//
// A call without arguments to a method that takes none (or only returns a value) is made here,
// through the vtable entry the type library names, exactly as ITypeInfo::Invoke makes it: the most
// frequent late-bound call then costs a table lookup instead of a general argument marshaller.
#include "control/dispatch.h"

#include "library/errors.h"
#include "library/module.h"
#include "library/raii.h"
#include "library/text.h"
#include "library/type_library.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace zorvane::dispatch {
namespace {

struct byref_param {
    UINT index;   // position in the parameter list
    VARTYPE type; // the type the parameter points to
};

// How a call without arguments is made directly; `none` leaves it to ITypeInfo::Invoke.
enum class direct_call : unsigned char { none, no_result, bstr, i4, i2, boolean };

struct function {
    MEMBERID member;
    INVOKEKIND kind;
    std::vector<byref_param> byref;  // typed by-reference parameters
    direct_call direct;
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

direct_call direct_call_of(const FUNCDESC& desc) {
    if (desc.elemdescFunc.tdesc.vt != VT_HRESULT || desc.callconv != CC_STDCALL) return direct_call::none;
    if (desc.funckind != FUNC_PUREVIRTUAL && desc.funckind != FUNC_VIRTUAL) return direct_call::none;
    if (desc.cParamsOpt != 0) return direct_call::none;
    if (desc.cParams == 0) return direct_call::no_result;
    if (desc.cParams != 1) return direct_call::none;
    const ELEMDESC& e = desc.lprgelemdescParam[0];
    if (!(e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) || e.tdesc.vt != VT_PTR) return direct_call::none;
    switch (e.tdesc.lptdesc->vt) {
    case VT_BSTR: return direct_call::bstr;
    case VT_I4: return direct_call::i4;
    case VT_I2: return direct_call::i2;
    case VT_BOOL: return direct_call::boolean;
    default: return direct_call::none;
    }
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
        function f{desc->memid, desc->invkind, {}, direct_call_of(*desc), desc->oVft};
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
    module::at_unload(&release_cache);  // a host may free the library without asking DllCanUnloadNow
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

// The call ITypeInfo::Invoke would make for a function without parameters: the result goes into
// the VARIANT; a failure becomes DISP_E_EXCEPTION with the thread's error information in EXCEPINFO.
HRESULT invoke_direct(const function& f, void* self, VARIANT* result, EXCEPINFO* exception) {
    void* method = (*static_cast<void***>(self))[f.entry / static_cast<SHORT>(sizeof(void*))];
    HRESULT hr;
    VARIANT value;
    VariantInit(&value);
    if (f.direct == direct_call::no_result) {
        hr = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*)>(method)(self);
    } else {
        V_BSTR(&value) = nullptr;  // the widest of the results: every one starts out zero
        hr = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(void*, void*)>(method)(self, &V_I4(&value));
        switch (f.direct) {
        case direct_call::bstr: V_VT(&value) = VT_BSTR; break;
        case direct_call::i4: V_VT(&value) = VT_I4; break;
        case direct_call::i2: V_VT(&value) = VT_I2; break;
        default: V_VT(&value) = VT_BOOL; break;
        }
    }
    // Like ITypeInfo::Invoke, the typed result reaches the caller even from a failed call (our
    // methods leave it empty then), and a method without a result leaves the caller's VARIANT alone.
    if (f.direct != direct_call::no_result) {
        if (result) {
            *result = value;
        } else {
            VariantClear(&value);
        }
    }
    if (FAILED(hr)) {
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
    return S_OK;
}

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
    try {
        const table& t = table_for(iid);
        const function* f = find_function(t, member, flags);
        if (f && params->cArgs == 0 && f->direct != direct_call::none)
            return invoke_direct(*f, self, result, exception);
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
