// What a screen capture with a file costs through CaptureDesktop, against the capture a developer would
// write by hand with GDI alone: blit the screen into a bitmap, hand the bitmap to the clipboard and
// write the same 24-bit BMP. Both run in interleaved rounds in one process, on the same screen and into the same
// folder; it prints the medians of the rounds, their interquartile ranges and the ratio taken within each round,
// and asserts nothing.
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

// The hand-written capture: the whole primary screen, to the clipboard and into a bottom-up 24-bit BMP.
void capture_by_hand(const std::wstring& path) {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);

    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = stride * static_cast<DWORD>(height);
    std::vector<BYTE> pixels(info.biSizeImage);
    GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(header) + sizeof(info);
    header.bfSize = header.bfOffBits + info.biSizeImage;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) fail("CreateFile", HRESULT_FROM_WIN32(GetLastError()));
    DWORD written = 0;
    WriteFile(file, &header, sizeof(header), &written, nullptr);
    WriteFile(file, &info, sizeof(info), &written, nullptr);
    WriteFile(file, pixels.data(), info.biSizeImage, &written, nullptr);
    CloseHandle(file);

    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        if (SetClipboardData(CF_BITMAP, bitmap)) bitmap = nullptr;  // the clipboard owns it now
        CloseClipboard();
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
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
    auto by_hand = [&] { capture_by_hand(hand_file); };
    const auto t = interleaved(rounds, {timed(captures, ours), timed(captures, by_hand)});
    const std::vector<double> ours_ms = scaled(t[0], 1e3), hand_ms = scaled(t[1], 1e3);

    WIN32_FILE_ATTRIBUTE_DATA a{}, b{};
    GetFileAttributesExW(ours_file.c_str(), GetFileExInfoStandard, &a);
    GetFileAttributesExW(hand_file.c_str(), GetFileExInfoStandard, &b);
    std::printf("ZorvaneLib capture cost, %d-bit, screen %dx%d, %d interleaved rounds of %d captures each\n",
                static_cast<int>(sizeof(void*) * 8), GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                rounds, captures);
    std::printf("each figure: the median [interquartile range] of its rounds; the ratio taken within each round\n");
    std::printf("%-44s %24s ms  (file %lu bytes)\n", "CaptureDesktop with a BMP file", shown(spread_of(ours_ms), 2).c_str(),
                a.nFileSizeLow);
    std::printf("%-44s %24s ms  (file %lu bytes)\n", "hand-written GDI capture, clipboard and BMP", shown(spread_of(hand_ms), 2).c_str(),
                b.nFileSizeLow);
    std::printf("  ours / hand-written:    %s\n",
                shown(spread_of(per_round(ours_ms, hand_ms, [](double o, double h) { return o / h; })), 2).c_str());

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
