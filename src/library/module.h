// The DLL itself: its instance, its file name, the count of live objects and factory locks, and what it
// gives back when it is unloaded.
#pragma once

#include <windows.h>

#include <string>

namespace zorvane::module {

HINSTANCE instance() noexcept;
std::wstring file_name();  // full path of the loaded DLL; throws when the system cannot name it

// Every live object and every IClassFactory::LockServer(TRUE) holds one count.
void add_ref() noexcept;
void release() noexcept;
bool in_use() noexcept;

// Holds one module count for its lifetime.
class count final {
public:
    count() noexcept { add_ref(); }
    count(const count&) noexcept { add_ref(); }
    count& operator=(const count&) = default;
    ~count() { release(); }
};

// Runs `cleanup` when FreeLibrary unloads the library (not at process exit, when Windows takes everything
// back), newest first. Registering a function again does nothing. Cleanups run under the loader lock: they
// only give back what the library took (window classes, references it holds), and load nothing.
void at_unload(void (*cleanup)()) noexcept;

// Runs `release` whenever DllCanUnloadNow finds the library unused, and at unload: for caches that are built
// again on their next use. Registering a function again does nothing.
void at_unused(void (*release)()) noexcept;

// For the DLL's entry points.
void loaded(HINSTANCE instance) noexcept;
void unused() noexcept;  // DllCanUnloadNow, having found no object and no lock
void unloading() noexcept;

} // namespace zorvane::module
