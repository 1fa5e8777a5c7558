// The type library embedded in the DLL (resource TYPELIB 1), loaded without registration.
#pragma once

#include "library/raii.h"

#include <oaidl.h>

namespace zorvane::type_library {

// The library itself; loaded on first use, kept until release().
com_ptr<ITypeLib> get();

// The type description to call through: for a dual interface its table-of-functions view.
com_ptr<ITypeInfo> interface_info(REFGUID iid);

// The type description registered under a GUID, as the library holds it (coclass, dispinterface...).
com_ptr<ITypeInfo> info_of(REFGUID guid);

void release() noexcept;

} // namespace zorvane::type_library
