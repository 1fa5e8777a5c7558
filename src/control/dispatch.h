// IDispatch for the library's dual interfaces, driven by the embedded type library.
#pragma once

#include <oaidl.h>

namespace zorvane::dispatch {

// The four IDispatch methods of an object whose dual interface is `iid`; `self` is that interface.
HRESULT get_type_info(REFIID iid, UINT index, ITypeInfo** info) noexcept;
HRESULT get_ids_of_names(REFIID iid, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) noexcept;
HRESULT invoke(REFIID iid, void* self, DISPID member, REFIID riid, WORD flags, DISPPARAMS* params,
               VARIANT* result, EXCEPINFO* exception, UINT* arg_error) noexcept;

// Drops the cached descriptions (when the module is about to be unloaded).
void release_cache() noexcept;

} // namespace zorvane::dispatch
