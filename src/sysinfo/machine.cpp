// Folder paths asked with a buffer first, then again with the size the system says it needs.
#include "sysinfo/machine.h"

namespace zorvane::sysinfo {
namespace {

UINT ask(folder which, wchar_t* buffer, UINT size) noexcept {
    switch (which) {
    case folder::windows: return GetWindowsDirectoryW(buffer, size);
    case folder::system: return GetSystemDirectoryW(buffer, size);
    case folder::temp: return GetTempPathW(size, buffer);
    }
    return 0;
}

} // namespace

std::wstring folder_path(folder which) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const UINT size = static_cast<UINT>(path.size());
        const UINT length = ask(which, path.data(), size);
        if (length == 0) return {};
        if (length < size) {
            path.resize(length);
            return path;
        }
        path.assign(length + 1, L'\0');  // the size needed, its NUL included
    }
    return {};
}

} // namespace zorvane::sysinfo
