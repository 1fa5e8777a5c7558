// Self-registration: the rows DllRegisterServer writes and DllUnregisterServer removes.
#pragma once

#include <windows.h>

namespace zorvane::registration {

// machine: HKEY_CLASSES_ROOT and the machine's type-library keys (administrator rights);
// user: the user's own classes and type-library registration, as regsvr32 /n /i:user asks.
enum class scope { machine, user };

HRESULT register_server(scope where = scope::machine) noexcept;
HRESULT unregister_server(scope where = scope::machine) noexcept;

} // namespace zorvane::registration
