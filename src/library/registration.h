// Self-registration: the rows DllRegisterServer writes and DllUnregisterServer removes.
#pragma once

#include <windows.h>

namespace zorvane::registration {

HRESULT register_server() noexcept;
HRESULT unregister_server() noexcept;

} // namespace zorvane::registration
