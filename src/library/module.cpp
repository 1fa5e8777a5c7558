// The module's instance, its count of live objects and factory locks, and its cleanups at unload.
#include "library/module.h"

#include "library/errors.h"

#include <atomic>
#include <cstdlib>

namespace zorvane::module {
namespace {
HINSTANCE the_instance = nullptr;
std::atomic<long> users{0};

// Constant-initialised: nothing here may need the C++ runtime's once-only initialisation, whose thread
// support would itself stay behind after an unload.
using cleanup_function = void (*)();
constexpr int cleanup_capacity = 8;
using cleanup_table = std::atomic<cleanup_function>[cleanup_capacity];
cleanup_table cleanups = {};
cleanup_table releases = {};

void add(cleanup_table& table, cleanup_function cleanup) noexcept {
    for (auto& slot : table) {
        cleanup_function seen = nullptr;
        if (slot.compare_exchange_strong(seen, cleanup) || seen == cleanup) return;
    }
    std::abort();  // more kinds of cleanup than the table holds: raise cleanup_capacity
}
} // namespace

HINSTANCE instance() noexcept { return the_instance; }

std::wstring file_name() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(the_instance, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) throw error::from_last_error(err::out_of_memory);
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

void at_unload(cleanup_function cleanup) noexcept { add(cleanups, cleanup); }

void at_unused(cleanup_function release) noexcept {
    add(releases, release);
    add(cleanups, release);
}

void loaded(HINSTANCE instance) noexcept { the_instance = instance; }

void unused() noexcept {
    for (int i = cleanup_capacity - 1; i >= 0; --i)
        if (cleanup_function release = releases[i].load()) release();
}

void unloading() noexcept {
    for (int i = cleanup_capacity - 1; i >= 0; --i)
        if (cleanup_function cleanup = cleanups[i].exchange(nullptr)) cleanup();
}

} // namespace zorvane::module
