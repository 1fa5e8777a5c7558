// By-reference coercion. ITypeInfo::Invoke refuses a VARIANT* (VT_BYREF|VT_VARIANT, as VBScript passes its
// variables) or a plain value where a typed by-reference parameter (BSTR*, long*, short*) is declared. Such an
// argument is converted into a temporary of the declared type, the call gets a reference to the temporary, and a
// changed value is written back into the caller's variable.
#include "control/dispatch_table.h"

#include "library/errors.h"
#include "library/raii.h"

#include <algorithm>
#include <vector>

namespace zorvane::dispatch {
namespace {

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

} // namespace

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

} // namespace zorvane::dispatch
