// What a screen capture with a file costs through CaptureDesktop, against the capture a developer would
// write by hand with GDI alone: blit the screen into a bitmap, hand the bitmap to the clipboard and
// write the same 24-bit BMP. Both run alternately in one process, on the same screen and into the same
// folder; it prints the times and their ratio and asserts nothing.
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

const CLSID clsid_zorvane = {0xBFEF386B, 0xED41, 0x4B26, {0xB3, 0x02, 0xB4, 0xC3, 0x05, 0x4E, 0x25, 0xC5}};
const IID iid_zorvane = {0x8003362e, 0x8df0, 0x4fc8, {0xb2, 0xbb, 0x2f, 0xb0, 0x20, 0x2a, 0x52, 0xa3}};

using get_class_object_fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using capture_desktop_fn = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR, IPictureDisp**);

[[noreturn]] void fail(const char* what, unsigned long code) {
    std::fprintf(stderr, "bench: %s failed (0x%08lX)\n", what, code);
    std::exit(2);
}

double now_seconds() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

std::wstring beside_me(const wchar_t* name) {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + name;
}

// The vtable entry of `name`, as the type library gives it to early-bound clients.
size_t entry_of(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    ITypeInfo* dispatch = nullptr;
    ITypeInfo* dual = nullptr;
    HREFTYPE twin = 0;
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) ||
        FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &dispatch)) ||
        FAILED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &twin)) ||
        FAILED(dispatch->GetRefTypeInfo(twin, &dual)))
        fail("reading the type information", 0);
    dispatch->Release();
    TYPEATTR* attr = nullptr;
    dual->GetTypeAttr(&attr);
    size_t entry = 0;
    for (UINT i = 0; i < attr->cFuncs && !entry; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(dual->GetFuncDesc(i, &desc))) continue;
        if (desc->memid == id) entry = static_cast<size_t>(desc->oVft) / sizeof(void*);
        dual->ReleaseFuncDesc(desc);
    }
    dual->ReleaseTypeAttr(attr);
    dual->Release();
    if (!entry) fail("finding the vtable entry", 0);
    return entry;
}

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
    if (file == INVALID_HANDLE_VALUE) fail("CreateFile", GetLastError());
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

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int captures = argc > 1 ? std::max(3, static_cast<int>(std::wcstol(argv[1], nullptr, 10))) : 40;
    CoInitialize(nullptr);

    HMODULE module = LoadLibraryW(beside_me(L"ZorvaneLib.ocx").c_str());
    if (!module) fail("LoadLibrary", GetLastError());
    auto get = reinterpret_cast<get_class_object_fn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    IDispatch* control = nullptr;
    HRESULT hr = get(clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, iid_zorvane, reinterpret_cast<void**>(&control));
    if (factory) factory->Release();
    if (FAILED(hr)) fail("creating the control", static_cast<unsigned long>(hr));
    auto capture_desktop = reinterpret_cast<capture_desktop_fn>((*reinterpret_cast<void***>(control))[entry_of(control, L"CaptureDesktop")]);

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring ours_file = std::wstring(temp) + L"zv_bench_ours.bmp";
    const std::wstring hand_file = std::wstring(temp) + L"zv_bench_hand.bmp";
    BSTR ours_name = SysAllocString(ours_file.c_str());

    auto ours = [&] {
        IPictureDisp* picture = nullptr;
        const HRESULT result = capture_desktop(control, ours_name, &picture);
        if (FAILED(result) || !picture) fail("CaptureDesktop", static_cast<unsigned long>(result));
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
    control->Release();
    FreeLibrary(module);
    CoUninitialize();
    return 0;
}
