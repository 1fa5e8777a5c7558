// IDispatch written once: names, DISPIDs and calls all go through the type library's ITypeInfo, by the
// descriptions of dispatch_table.cpp; a call goes the direct way where it can (dispatch_direct.cpp), else through
// ITypeInfo::Invoke, with typed by-reference arguments coerced (dispatch_coercion.cpp).
#include "control/dispatch.h"
#include "control/dispatch_table.h"

#include "library/errors.h"
#include "library/module.h"
#include "library/type_library.h"

namespace zorvane::dispatch {

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

} // namespace zorvane::dispatch
