// IProvideClassInfo2: the coclass description and the source interface __Zorvane for containers.
#include "control/zorvane.h"

#include "library/errors.h"
#include "library/type_library.h"

#include "zorvane_idl.h"

namespace zorvane {

HRESULT control::GetClassInfo(ITypeInfo** info) noexcept {
    if (!info) return E_POINTER;
    *info = nullptr;
    try {
        *info = type_library::info_of(CLSID_Zorvane).detach();
        return S_OK;
    } catch (...) {
        return describe(std::current_exception()).hresult;
    }
}

HRESULT control::GetGUID(DWORD kind, GUID* guid) noexcept {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID___Zorvane;
    return S_OK;
}

} // namespace zorvane
