// What a screen capture with a file costs through CaptureDesktop, against the capture a developer would
// write by hand with GDI alone: blit the screen into a bitmap, hand the bitmap to the clipboard and
// write the same 24-bit BMP. Both run alternately in one process, on the same screen and into the same
// folder; it prints the times and their ratio and asserts nothing.
#include "bench_support.h"

#include "support/published.h"

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>

#include <algorithm>
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

// Both captures, `captures` times per round, and their times; the control goes before COM does.
void measure(int captures) {
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

    // Alternating rounds, best of each: the least disturbed measurement of both.
    ours();
    by_hand();
    double best_ours = 1e300, best_hand = 1e300;
    for (int round = 0; round < 5; ++round) {
        double start = now_seconds();
        for (int i = 0; i < captures; ++i) ours();
        best_ours = std::min(best_ours, (now_seconds() - start) / captures);
        start = now_seconds();
        for (int i = 0; i < captures; ++i) by_hand();
        best_hand = std::min(best_hand, (now_seconds() - start) / captures);
    }

    WIN32_FILE_ATTRIBUTE_DATA a{}, b{};
    GetFileAttributesExW(ours_file.c_str(), GetFileExInfoStandard, &a);
    GetFileAttributesExW(hand_file.c_str(), GetFileExInfoStandard, &b);
    std::printf("ZorvaneLib capture cost, %d-bit, screen %dx%d, %d captures per round, best of 5 rounds\n",
                static_cast<int>(sizeof(void*) * 8), GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                captures);
    std::printf("%-52s %10.2f ms  (file %lu bytes)\n", "CaptureDesktop with a BMP file", best_ours * 1000,
                a.nFileSizeLow);
    std::printf("%-52s %10.2f ms  (file %lu bytes)\n", "hand-written GDI capture, clipboard and BMP", best_hand * 1000,
                b.nFileSizeLow);
    std::printf("  ours / hand-written:    %6.2f\n", best_ours / best_hand);

    DeleteFileW(ours_file.c_str());
    DeleteFileW(hand_file.c_str());
    SysFreeString(ours_name);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int captures = argc > 1 ? std::max(3, static_cast<int>(std::wcstol(argv[1], nullptr, 10))) : 40;
    CoInitialize(nullptr);
    measure(captures);
    CoUninitialize();
    return 0;
}
