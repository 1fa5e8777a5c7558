// Folders, screen, cursor and processor: single answers from the system.
#pragma once

#include <windows.h>

#include <string>

namespace zorvane::sysinfo {

enum class folder { windows, system, temp };

// The folder's path exactly as the system gives it, whatever its length; "" when the system fails.
std::wstring folder_path(folder which);

} // namespace zorvane::sysinfo
