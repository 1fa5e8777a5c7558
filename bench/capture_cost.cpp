// What a screen capture with a file costs through CaptureDesktop, against the same capture written by hand: the
// same Windows calls in the same order, without the control. Both run in interleaved rounds in one process, on the
// same screen and into the same folder; it prints the medians of the rounds, their interquartile ranges and the
// ratio taken within each round, and asserts nothing.
#include "bench_support.h"

#include "support/published.h"

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using namespace zvbench;

using capture_desktop_fn = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR, IPictureDisp**);

// The hand-written capture, call for call what CaptureDesktop does with a BMP file name:
//   - the desktop window's rectangle, read per-monitor DPI aware where the thread can be made so;
//   - a bitmap of it from a display DC, blackened first, with what lies on the screen copied in;
//   - a copy of that bitmap for the clipboard, put there by a message-only window that owns the clipboard meanwhile;
//   - a picture object (OleCreatePictureIndirect) that owns the bitmap;
//   - the file's bytes made in memory from the bitmap (a bottom-up 24-bit DIB at 96 dpi) and written into a new file
//     beside the target, which is then renamed over it, after the name is checked for a device's.
// The caller lets the picture go, and with it the bitmap.
void* const per_monitor_v2 = reinterpret_cast<void*>(static_cast<LONG_PTR>(-4));
void* const per_monitor = reinterpret_cast<void*>(static_cast<LONG_PTR>(-3));
using set_awareness_fn = void*(WINAPI*)(void*);

HBITMAP screen_bitmap() {
    const auto set = reinterpret_cast<set_awareness_fn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    void* previous = nullptr;
    if (set) {
        previous = set(per_monitor_v2);
        if (!previous) previous = set(per_monitor);
    }
    const HWND desktop = GetDesktopWindow();
    RECT area{};
    if (desktop && IsWindow(desktop) && !GetWindowRect(desktop, &area)) fail("GetWindowRect", E_FAIL);
    const LONG width = area.right - area.left, height = area.bottom - area.top;

    HDC screen = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    if (!screen || !memory || !bitmap) fail("the capture's DCs and bitmap", E_OUTOFMEMORY);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    PatBlt(memory, 0, 0, width, height, BLACKNESS);
    const RECT screen_area{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                           GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                           GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    RECT visible{};
    if (IntersectRect(&visible, &area, &screen_area) &&
        !BitBlt(memory, visible.left - area.left, visible.top - area.top, visible.right - visible.left,
                visible.bottom - visible.top, screen, visible.left, visible.top, SRCCOPY))
        fail("BitBlt", E_FAIL);
    GdiFlush();
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteDC(screen);
    if (set && previous) set(previous);
    return bitmap;
}

void copy_to_clipboard(HBITMAP bitmap) {
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen), to = CreateCompatibleDC(screen);
    HBITMAP copy = CreateCompatibleBitmap(screen, info.bmWidth, info.bmHeight);
    const HGDIOBJ old_from = SelectObject(from, bitmap), old_to = SelectObject(to, copy);
    BitBlt(to, 0, 0, info.bmWidth, info.bmHeight, from, 0, 0, SRCCOPY);
    SelectObject(to, old_to);
    SelectObject(from, old_from);

    const HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    bool opened = false;
    for (int attempt = 0; attempt < 20 && !(opened = OpenClipboard(owner)); ++attempt) Sleep(25);
    if (opened) {
        if (EmptyClipboard() && SetClipboardData(CF_BITMAP, copy)) copy = nullptr;  // the clipboard owns it now
        CloseClipboard();
    }
    DestroyWindow(owner);
    if (copy) DeleteObject(copy);
    DeleteDC(to);
    DeleteDC(from);
    ReleaseDC(nullptr, screen);
}

IPictureDisp* picture_of(HBITMAP bitmap) {
    PICTDESC description{};
    description.cbSizeofstruct = sizeof(description);
    description.picType = PICTYPE_BITMAP;
    description.bmp.hbitmap = bitmap;
    IPictureDisp* picture = nullptr;
    const HRESULT hr = OleCreatePictureIndirect(&description, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(&picture));
    if (FAILED(hr)) fail("OleCreatePictureIndirect", hr);
    return picture;
}

std::vector<BYTE> bmp_bytes(HBITMAP bitmap) {
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    const DWORD stride = (static_cast<DWORD>(info.bmWidth) * 3 + 3) & ~3u;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = info.bmWidth;
    format.bmiHeader.biHeight = info.bmHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biCompression = BI_RGB;
    format.bmiHeader.biSizeImage = stride * static_cast<DWORD>(info.bmHeight);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + format.bmiHeader.biSizeImage;
    std::vector<BYTE> file(header.bfSize);
    HDC screen = GetDC(nullptr);
    if (GetDIBits(screen, bitmap, 0, static_cast<UINT>(info.bmHeight), file.data() + header.bfOffBits, &format,
                  DIB_RGB_COLORS) != info.bmHeight)
        fail("GetDIBits", E_FAIL);
    ReleaseDC(nullptr, screen);
    format.bmiHeader.biXPelsPerMeter = format.bmiHeader.biYPelsPerMeter = 3780;
    std::memcpy(file.data(), &header, sizeof(header));
    std::memcpy(file.data() + sizeof(header), &format.bmiHeader, sizeof(BITMAPINFOHEADER));
    return file;
}

// The last component of `path` is no device name (CON, NUL, COM1...), and the path no device namespace.
bool names_device(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    std::transform(path.begin(), path.end(), path.begin(), [](wchar_t c) { return std::towlower(c); });
    if (path.rfind(L"\\\\.\\", 0) == 0) return true;
    const size_t last = path.find_last_of(L'\\');
    std::wstring base = last == std::wstring::npos ? path : path.substr(last + 1);
    base = base.substr(0, base.find_first_of(L".:"));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (const wchar_t* device : {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$", L"clock$"})
        if (base == device) return true;
    return base.size() == 4 && (base.rfind(L"com", 0) == 0 || base.rfind(L"lpt", 0) == 0) && std::iswdigit(base[3]);
}

void write_whole(const std::wstring& path, const std::vector<BYTE>& bytes) {
    static unsigned long files_made = 0;
    if (names_device(path)) fail("a device name", E_INVALIDARG);
    const DWORD existing = GetFileAttributesW(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY)) fail("a folder", E_INVALIDARG);
    wchar_t name[32];
    std::swprintf(name, 32, L"~zv%08lx%08lx.tmp", GetCurrentProcessId(), ++files_made);
    const std::wstring temporary = path.substr(0, path.find_last_of(L"\\/") + 1) + name;
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (file == INVALID_HANDLE_VALUE) fail("CreateFile", HRESULT_FROM_WIN32(GetLastError()));
    if (GetFileType(file) != FILE_TYPE_DISK) fail("GetFileType", E_FAIL);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written != bytes.size())
        fail("WriteFile", HRESULT_FROM_WIN32(GetLastError()));
    if (!CloseHandle(file)) fail("CloseHandle", HRESULT_FROM_WIN32(GetLastError()));
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        fail("MoveFileEx", HRESULT_FROM_WIN32(GetLastError()));
}

IPictureDisp* capture_by_hand(const std::wstring& path) {
    const HBITMAP bitmap = screen_bitmap();
    copy_to_clipboard(bitmap);
    IPictureDisp* picture = picture_of(bitmap);
    write_whole(path, bmp_bytes(bitmap));
    return picture;
}

std::vector<BYTE> contents(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::vector<BYTE> bytes(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

// Both captures in interleaved rounds of `captures` each; the control goes before COM does.
void measure(int rounds, int captures) {
    loaded_server zorvane(beside_me(L"ZorvaneLib.ocx"), zvtest::clsid_zorvane);
    IDispatch* control = zorvane.object;
    const size_t entry = vtable_offset(control, dispid_of(control, L"CaptureDesktop")) / sizeof(void*);
    auto capture_desktop = reinterpret_cast<capture_desktop_fn>((*reinterpret_cast<void***>(control))[entry]);

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring ours_file = std::wstring(temp) + L"zv_bench_ours.bmp";
    const std::wstring hand_file = std::wstring(temp) + L"zv_bench_hand.bmp";
    BSTR ours_name = SysAllocString(ours_file.c_str());

    auto ours = [&] {
        IPictureDisp* picture = nullptr;
        const HRESULT result = capture_desktop(control, ours_name, &picture);
        if (FAILED(result) || !picture) fail("CaptureDesktop", FAILED(result) ? result : E_POINTER);
        picture->Release();
    };
    auto by_hand = [&] { capture_by_hand(hand_file)->Release(); };
    const auto t = interleaved(rounds, {timed(captures, ours), timed(captures, by_hand)});
    const std::vector<double> ours_ms = scaled(t[0], 1e3), hand_ms = scaled(t[1], 1e3);

    const std::vector<BYTE> ours_bytes = contents(ours_file), hand_bytes = contents(hand_file);
    std::printf("ZorvaneLib capture cost, %d-bit, screen %dx%d, %d interleaved rounds of %d captures each\n",
                static_cast<int>(sizeof(void*) * 8), GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                rounds, captures);
    std::printf("each figure: the median [interquartile range] of its rounds; the ratio taken within each round\n");
    std::printf("%-44s %24s ms  (file %zu bytes)\n", "CaptureDesktop with a BMP file", shown(spread_of(ours_ms), 2).c_str(),
                ours_bytes.size());
    std::printf("%-44s %24s ms  (file %zu bytes, %s)\n", "the same capture written by hand",
                shown(spread_of(hand_ms), 2).c_str(), hand_bytes.size(),
                hand_bytes == ours_bytes ? "the same bytes as ours" : "NOT the same bytes as ours");
    std::printf("  ours / hand-written:    %s\n",
                shown(spread_of(per_round(ours_ms, hand_ms, [](double o, double h) { return o / h; })), 3).c_str());

    DeleteFileW(ours_file.c_str());
    DeleteFileW(hand_file.c_str());
    SysFreeString(ours_name);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? std::max(3, static_cast<int>(std::wcstol(argv[1], nullptr, 10))) : 61;
    const int captures = 2;
    CoInitialize(nullptr);
    measure(rounds, captures);
    CoUninitialize();
    return 0;
}
