// A library planted where a program might look for an applet or module by its bare name: when anything loads it,
// it leaves %TEMP%\zv_planted_applet.loaded behind.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 32];
    const DWORD length = GetTempPathW(MAX_PATH, path);
    lstrcpyW(path + length, L"zv_planted_applet.loaded");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return FALSE;  // and goes again: the loader reports that it could not be loaded
}
