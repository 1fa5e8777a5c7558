// DllMain, the module's instance and its count of live objects and factory locks.
#include "library/module.h"

#include "about/about_form.h"

#include <atomic>

namespace zorvane::module {
namespace {
HINSTANCE the_instance = nullptr;
std::atomic<long> users{0};
} // namespace

HINSTANCE instance() noexcept { return the_instance; }

std::wstring file_name() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(the_instance, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void add_ref() noexcept { ++users; }
void release() noexcept { --users; }
bool in_use() noexcept { return users.load() != 0; }

} // namespace zorvane::module

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        zorvane::module::the_instance = instance;
        DisableThreadLibraryCalls(instance);
    }
    // Unloaded by FreeLibrary (not at process exit): window classes are not unregistered for us.
    if (reason == DLL_PROCESS_DETACH && !reserved) zorvane::about_form::unregister_class();
    return TRUE;
}
