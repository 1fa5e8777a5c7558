// The DLL itself: its instance, its file name, and the count of live objects and factory locks.
#pragma once

#include <windows.h>

#include <string>

namespace zorvane::module {

HINSTANCE instance() noexcept;
std::wstring file_name();  // full path of the loaded DLL

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

} // namespace zorvane::module
