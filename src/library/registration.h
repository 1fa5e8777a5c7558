// Self-registration: the rows DllRegisterServer writes and DllUnregisterServer removes.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace zorvane::registration {

// machine: HKEY_CLASSES_ROOT and the machine's type-library keys (administrator rights);
// user: the user's own classes and type-library registration, as regsvr32 /n /i:user asks.
enum class scope { machine, user };

HRESULT register_server(scope where = scope::machine) noexcept;
HRESULT unregister_server(scope where = scope::machine) noexcept;

// What register_server writes, for the OCX at `path` whose type library is `library`: register_server passes
// the loaded OCX's own, the package generator (tools/package_rows.cpp) another file's.
HRESULT register_file(ITypeLib* library, const std::wstring& path, scope where) noexcept;

} // namespace zorvane::registration
