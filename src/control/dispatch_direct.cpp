// The direct call path. The calls hosts make most are made here, through the vtable entry the type library names,
// exactly as ITypeInfo::Invoke would make them: positional arguments of the shapes scripts and hosts pass (values,
// VARIANT references, typed references, optional ones left out) whose conversion is exact and simple, to a method
// whose parameters and result are of the kinds dispatch_table.h names. A late-bound call then costs a table lookup
// instead of a general argument marshaller. Everything else (named arguments, missing or extra ones, a value that
// does not convert, objects, arrays) goes the general way. The methods never change their inputs (they are
// declared read-only), so a call made here hands them the caller's own values without copies, and nothing needs
// writing back.
#include "control/dispatch_table.h"

#include "library/raii.h"

#include <cstring>
#include <limits>

namespace zorvane::dispatch {
namespace {

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

} // namespace

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

} // namespace zorvane::dispatch
