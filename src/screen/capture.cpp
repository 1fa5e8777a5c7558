// Screen capture into a bitmap of our own, from which the clipboard copy, the picture and the file are made.
#include "screen/capture.h"

#include "library/errors.h"

#include <wincodec.h>

#include <algorithm>
#include <climits>
#include <cwctype>
#include <string>
#include <vector>

namespace zorvane::screen {
namespace {

using set_thread_dpi_awareness = void*(WINAPI*)(void*);

set_thread_dpi_awareness dpi_function() noexcept {
    return reinterpret_cast<set_thread_dpi_awareness>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
}

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 and, before Windows 10 1703, PER_MONITOR_AWARE.
void* const per_monitor_v2 = reinterpret_cast<void*>(static_cast<LONG_PTR>(-4));
void* const per_monitor = reinterpret_cast<void*>(static_cast<LONG_PTR>(-3));

LONG edge_length(LONG from, LONG to) {
    const long long length = static_cast<long long>(to) - from;
    if (length > LONG_MAX || length < LONG_MIN) throw error(err::overflow);
    return static_cast<LONG>(length);
}

unique_hbitmap new_bitmap(HDC like, LONG width, LONG height) {
    unique_hbitmap bitmap(CreateCompatibleBitmap(like, width, height));
    if (!bitmap) throw error(err::out_of_memory);
    return bitmap;
}

} // namespace

dpi_aware_scope::dpi_aware_scope() noexcept {
    if (auto set = dpi_function()) {
        previous_ = set(per_monitor_v2);
        if (!previous_) previous_ = set(per_monitor);
    }
}

dpi_aware_scope::~dpi_aware_scope() {
    if (previous_) dpi_function()(previous_);
}

unique_hbitmap capture_screen_rect(LONG left, LONG top, LONG right, LONG bottom) {
    const LONG width = edge_length(left, right);
    const LONG height = edge_length(top, bottom);
    if (width <= 0 || height <= 0) return {};

    unique_hdc screen(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    if (!screen) throw error::from_win32(GetLastError());
    unique_hdc memory(CreateCompatibleDC(screen.get()));
    if (!memory) throw error(err::out_of_memory);
    unique_hbitmap bitmap = new_bitmap(screen.get(), width, height);
    selected_object selected(memory.get(), bitmap.get());
    PatBlt(memory.get(), 0, 0, width, height, BLACKNESS);

    // Only the part on the screen is copied: a copy from beyond its edge fails on some drivers and
    // would leave the whole bitmap black.
    const RECT wanted{left, top, static_cast<LONG>(left + static_cast<long long>(width)),
                      static_cast<LONG>(top + static_cast<long long>(height))};
    const RECT screen_area{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                           GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                           GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    RECT visible{};
    if (IntersectRect(&visible, &wanted, &screen_area)) {
        BitBlt(memory.get(), visible.left - left, visible.top - top, visible.right - visible.left,
               visible.bottom - visible.top, screen.get(), visible.left, visible.top, SRCCOPY);
    }
    GdiFlush();
    return bitmap;
}

bool put_on_clipboard(HBITMAP bitmap) noexcept {
    if (!bitmap) return false;
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof(info), &info)) return false;

    // The clipboard gets its own copy; the picture keeps the original.
    unique_window_dc screen(GetDC(nullptr));
    unique_hdc from(CreateCompatibleDC(screen.get()));
    unique_hdc to(CreateCompatibleDC(screen.get()));
    unique_hbitmap copy(CreateCompatibleBitmap(screen.get(), info.bmWidth, info.bmHeight));
    if (!from || !to || !copy) return false;
    {
        selected_object source(from.get(), bitmap);
        selected_object target(to.get(), copy.get());
        BitBlt(to.get(), 0, 0, info.bmWidth, info.bmHeight, from.get(), 0, 0, SRCCOPY);
    }

    bool opened = false;
    for (int attempt = 0; attempt < 20 && !(opened = OpenClipboard(nullptr)); ++attempt) Sleep(25);
    if (!opened) return false;
    bool placed = false;
    if (EmptyClipboard() && SetClipboardData(CF_BITMAP, copy.get())) {
        copy.release();  // the clipboard owns it now
        placed = true;
    }
    CloseClipboard();
    return placed;
}

com_ptr<IPictureDisp> make_picture(unique_hbitmap bitmap) {
    PICTDESC description{};
    description.cbSizeofstruct = sizeof(description);
    if (bitmap) {
        description.picType = PICTYPE_BITMAP;
        description.bmp.hbitmap = bitmap.get();
    } else {
        description.picType = PICTYPE_NONE;
    }
    com_ptr<IPictureDisp> picture;
    check(OleCreatePictureIndirect(&description, IID_IPictureDisp, TRUE, picture.put_void()));
    bitmap.release();  // the picture owns it now
    return picture;
}

void write_bmp(HBITMAP bitmap, std::wstring_view path) {
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof(info), &info)) throw error(err::invalid_picture);
    const LONG width = info.bmWidth, height = info.bmHeight;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD image_size = stride * static_cast<DWORD>(height);

    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = height;  // bottom-up, as every reader expects
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biCompression = BI_RGB;
    format.bmiHeader.biSizeImage = image_size;
    std::vector<BYTE> pixels(image_size);
    {
        unique_window_dc screen(GetDC(nullptr));
        if (GetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(height), pixels.data(), &format,
                      DIB_RGB_COLORS) != height)
            throw error(err::invalid_picture);
    }
    format.bmiHeader.biXPelsPerMeter = format.bmiHeader.biYPelsPerMeter = 3780;  // 96 dpi

    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + image_size;

    const std::wstring name(path);
    unique_handle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        file.release();
        throw error::from_win32(code);
    }
    auto write = [&](const void* data, DWORD size) {
        DWORD written = 0;
        if (!WriteFile(file.get(), data, size, &written, nullptr) || written != size)
            throw error::from_win32(GetLastError());
    };
    write(&header, sizeof(header));
    write(&format.bmiHeader, sizeof(BITMAPINFOHEADER));
    write(pixels.data(), image_size);
}

bool names_png(std::wstring_view path) noexcept {
    if (path.size() < 4) return false;
    std::wstring tail(path.substr(path.size() - 4));
    std::transform(tail.begin(), tail.end(), tail.begin(), [](wchar_t c) { return std::towlower(c); });
    return tail == L".png";
}

void write_png(HBITMAP bitmap, std::wstring_view path) {
    // The imaging component is a COM class: borrow an apartment when the calling thread has none.
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct leave {
        HRESULT joined;
        ~leave() {
            if (SUCCEEDED(joined)) CoUninitialize();
        }
    } guard{joined};

    com_ptr<IWICImagingFactory> factory;
    check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                           factory.put_void()));
    com_ptr<IWICBitmap> source;
    check(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, source.put()));
    UINT width = 0, height = 0;
    check(source->GetSize(&width, &height));

    com_ptr<IWICStream> stream;
    check(factory->CreateStream(stream.put()));
    const std::wstring name(path);
    const HRESULT opened = stream->InitializeFromFilename(name.c_str(), GENERIC_WRITE);
    if (HRESULT_FACILITY(opened) == FACILITY_WIN32) throw error::from_win32(HRESULT_CODE(opened));  // 76, 75, ...
    check(opened);
    com_ptr<IWICBitmapEncoder> encoder;
    check(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put()));
    check(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache));
    com_ptr<IWICBitmapFrameEncode> frame;
    check(encoder->CreateNewFrame(frame.put(), nullptr));
    check(frame->Initialize(nullptr));
    check(frame->SetSize(width, height));
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    check(frame->SetPixelFormat(&format));
    check(frame->WriteSource(source.get(), nullptr));
    check(frame->Commit());
    check(encoder->Commit());
}

} // namespace zorvane::screen
