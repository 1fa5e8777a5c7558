// A stand-in for the shell's desktop windows, which Wine does not have.
//   progman_standin progman   a visible top-level "Progman" that holds a "SHELLDLL_DefView" child
//   progman_standin workerw   an empty "Progman" and a top-level "WorkerW" that holds the icon view
//   progman_standin both      both of them hold an icon view
//   progman_standin bare      only an empty "Progman"
//   progman_standin wallpaper "Progman" holds the icon view and a "WorkerW" child that draws the wallpaper
// Runs until one of its windows is closed, and never longer than a minute.
#include <windows.h>

#include <cwchar>

namespace {

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

HWND make(const wchar_t* cls, HWND parent, int x) {
    WNDCLASSW c{};
    c.lpfnWndProc = &procedure;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = cls;
    RegisterClassW(&c);
    const DWORD style = parent ? WS_CHILD | WS_VISIBLE : WS_POPUP | WS_VISIBLE;
    return CreateWindowExW(0, cls, L"", style, x, 0, 50, 50, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
    const bool worker = std::wcsstr(command_line, L"workerw") != nullptr;
    const bool both = std::wcsstr(command_line, L"both") != nullptr;
    const bool bare = std::wcsstr(command_line, L"bare") != nullptr;
    const bool wallpaper = std::wcsstr(command_line, L"wallpaper") != nullptr;
    HWND progman = make(L"Progman", nullptr, 0);
    if (wallpaper) make(L"WorkerW", progman, 0);  // before the icon view, which tells the tests all is made
    if (!bare && !worker) make(L"SHELLDLL_DefView", progman, 0);
    if (worker || both) make(L"SHELLDLL_DefView", make(L"WorkerW", nullptr, 60), 0);  // above "Progman"
    SetTimer(nullptr, 0, 60000, nullptr);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_TIMER) break;
        DispatchMessageW(&m);
    }
    DestroyWindow(progman);
    return 0;
}
