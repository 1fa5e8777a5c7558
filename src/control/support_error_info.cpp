// ISupportErrorInfo: failures of _Zorvane's methods carry IErrorInfo.
#include "control/zorvane.h"

#include "zorvane_idl.h"

namespace zorvane {

HRESULT control::InterfaceSupportsErrorInfo(REFIID iid) noexcept {
    return IsEqualIID(iid, IID__Zorvane) ? S_OK : S_FALSE;
}

} // namespace zorvane
