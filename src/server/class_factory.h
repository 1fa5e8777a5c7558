// The class table and the one class factory that serves it.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace zorvane {

// The factory for `clsid` when the library serves that class, else CLASS_E_CLASSNOTAVAILABLE.
HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out) noexcept;

} // namespace zorvane
