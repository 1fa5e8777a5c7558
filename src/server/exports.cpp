// The entry point and the exports of the in-process server.
#include "library/module.h"
#include "library/registration.h"
#include "library/runtime_state.h"
#include "server/class_factory.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        zorvane::module::loaded(instance);
        return zorvane::runtime_state::library_loaded();
    case DLL_THREAD_DETACH:
        zorvane::runtime_state::thread_ended();
        break;
    case DLL_PROCESS_DETACH:
        // At process exit the other threads are gone and Windows takes everything back.
        if (reserved) break;
        zorvane::module::unloading();
        zorvane::runtime_state::library_unloaded();
        break;
    }
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return zorvane::get_class_object(clsid, iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    if (zorvane::module::in_use()) return S_FALSE;
    zorvane::module::unused();  // the caches go now, not only when the library is unloaded
    return S_OK;
}

HRESULT STDAPICALLTYPE DllRegisterServer() { return zorvane::registration::register_server(); }

HRESULT STDAPICALLTYPE DllUnregisterServer() { return zorvane::registration::unregister_server(); }

// regsvr32 /n /i:user: registration for the current user only; no argument: for the machine.
HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR command_line) {
    using zorvane::registration::scope;
    scope where = scope::machine;
    if (command_line && *command_line) {
        if (CompareStringOrdinal(command_line, -1, L"user", -1, TRUE) != CSTR_EQUAL) return E_INVALIDARG;
        where = scope::user;
    }
    return install ? zorvane::registration::register_server(where)
                   : zorvane::registration::unregister_server(where);
}

} // extern "C"
