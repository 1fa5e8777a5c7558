// Screen capture into a bitmap of our own, from which the clipboard copy, the picture and the file are made.
#include "screen/capture.h"

#include "library/errors.h"
#include "library/text.h"

#include <wincodec.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <cwctype>
#include <string>

namespace zorvane::screen {
namespace {

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

// Selects `object` into `dc` for the scope; throws when the system refuses.
struct checked_selection {
    checked_selection(HDC dc, HGDIOBJ object) : selected(dc, object) {
        if (!selected.took()) throw error(err::out_of_memory);
    }
    selected_object selected;
};

std::wstring lower(std::wstring_view text) {
    std::wstring out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](wchar_t c) { return std::towlower(c); });
    return out;
}

bool starts_with(std::wstring_view text, std::wstring_view head) {
    return text.size() >= head.size() && lower(text.substr(0, head.size())) == head;
}

bool drive_path(std::wstring_view text) { return text.size() >= 3 && std::iswalpha(text[0]) && text[1] == L':' && text[2] == L'\\'; }

// A file name the system takes for a device in any folder: the reserved names, alone or before an extension
// (Microsoft's rules for naming files).
bool reserved_name(std::wstring_view component) {
    std::wstring base = lower(component.substr(0, component.find_first_of(L".:")));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    if (base == L"con" || base == L"prn" || base == L"aux" || base == L"nul" || base == L"conin$" ||
        base == L"conout$" || base == L"clock$")
        return true;
    if (base.size() == 4 && (base.rfind(L"com", 0) == 0 || base.rfind(L"lpt", 0) == 0)) {
        const wchar_t digit = base[3];
        return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
    }
    return false;
}

std::atomic<unsigned long> files_made{0};

// A name for the new file beside `target`, in its folder.
std::wstring beside(const std::wstring& target) {
    size_t folder = target.find_last_of(L"\\/");
    if (folder == std::wstring::npos) folder = target.size() >= 2 && target[1] == L':' ? 1 : std::wstring::npos;
    const std::wstring start = folder == std::wstring::npos ? std::wstring() : target.substr(0, folder + 1);
    return start + L"~zv" + hex_digits(GetCurrentProcessId(), 8) + hex_digits(++files_made, 8) + L".tmp";
}

} // namespace

dpi_aware_scope::dpi_aware_scope() noexcept {
    set_ = reinterpret_cast<setter>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    if (set_) {
        previous_ = set_(per_monitor_v2);
        if (!previous_) previous_ = set_(per_monitor);
    }
}

dpi_aware_scope::~dpi_aware_scope() {
    if (set_ && previous_) set_(previous_);
}

unique_hbitmap capture_screen_rect(LONG left, LONG top, LONG right, LONG bottom) {
    const LONG width = edge_length(left, right);
    const LONG height = edge_length(top, bottom);
    if (width <= 0 || height <= 0) return {};

    // GDI's failures set no error of their own: a DC or bitmap that cannot be made is out of memory.
    unique_hdc screen(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    if (!screen) throw error(err::out_of_memory);
    unique_hdc memory(CreateCompatibleDC(screen.get()));
    if (!memory) throw error(err::out_of_memory);
    unique_hbitmap bitmap = new_bitmap(screen.get(), width, height);
    {
        const checked_selection selected(memory.get(), bitmap.get());
        if (!PatBlt(memory.get(), 0, 0, width, height, BLACKNESS)) throw error(err::out_of_memory);

        // Only the part on the screen is copied: a copy from beyond its edge fails on some drivers and
        // would leave the whole bitmap black.
        const RECT wanted{left, top, static_cast<LONG>(left + static_cast<long long>(width)),
                          static_cast<LONG>(top + static_cast<long long>(height))};
        const RECT screen_area{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                               GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                               GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
        RECT visible{};
        if (IntersectRect(&visible, &wanted, &screen_area) &&
            !BitBlt(memory.get(), visible.left - left, visible.top - top, visible.right - visible.left,
                    visible.bottom - visible.top, screen.get(), visible.left, visible.top, SRCCOPY))
            throw error::from_last_error(err::out_of_memory);  // no pixels: no picture of them either
        GdiFlush();
    }
    return bitmap;
}

bool put_on_clipboard(HBITMAP bitmap) noexcept {
    if (!bitmap) return false;
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof(info), &info)) return false;

    // The clipboard gets its own copy; the picture keeps the original.
    const unique_window_dc screen = window_dc();
    if (!screen) return false;
    unique_hdc from(CreateCompatibleDC(screen.get()));
    unique_hdc to(CreateCompatibleDC(screen.get()));
    unique_hbitmap copy(CreateCompatibleBitmap(screen.get(), info.bmWidth, info.bmHeight));
    if (!from || !to || !copy) return false;
    {
        selected_object source(from.get(), bitmap);
        selected_object target(to.get(), copy.get());
        if (!source.took() || !target.took() ||
            !BitBlt(to.get(), 0, 0, info.bmWidth, info.bmHeight, from.get(), 0, 0, SRCCOPY))
            return false;
    }

    // The clipboard's owner while the copy goes onto it: with no owner, EmptyClipboard leaves the clipboard to nobody
    // and SetClipboardData fails (Microsoft's documentation of OpenClipboard). A message-only window of the system's
    // own STATIC class: its procedure is user32's, so nothing of the library runs for it, and it goes with the call.
    const unique_window owner(
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    if (!owner) return false;
    bool opened = false;
    for (int attempt = 0; attempt < 20 && !(opened = OpenClipboard(owner.get())); ++attempt) Sleep(25);
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

std::vector<BYTE> bmp_file_of(HBITMAP bitmap) {
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

    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + image_size;

    std::vector<BYTE> file(header.bfSize);
    {
        const unique_window_dc screen = window_dc();
        if (!screen) throw error(err::out_of_memory);
        if (GetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(height), file.data() + header.bfOffBits, &format,
                      DIB_RGB_COLORS) != height)
            throw error(err::out_of_memory);
    }
    format.bmiHeader.biXPelsPerMeter = format.bmiHeader.biYPelsPerMeter = 3780;  // 96 dpi
    std::memcpy(file.data(), &header, sizeof(header));
    std::memcpy(file.data() + sizeof(header), &format.bmiHeader, sizeof(BITMAPINFOHEADER));
    return file;
}

bool names_png(std::wstring_view path) noexcept {
    if (path.size() < 4) return false;
    std::wstring tail(path.substr(path.size() - 4));
    std::transform(tail.begin(), tail.end(), tail.begin(), [](wchar_t c) { return std::towlower(c); });
    return tail == L".png";
}

std::vector<BYTE> png_file_of(HBITMAP bitmap) {
    const borrowed_apartment apartment;  // the imaging component is a COM class

    com_ptr<IWICImagingFactory> factory;
    check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                           factory.put_void()));
    com_ptr<IWICBitmap> source;
    check(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, source.put()));
    UINT width = 0, height = 0;
    check(source->GetSize(&width, &height));

    // Encoded in memory; the file is written like any other.
    com_ptr<IStream> memory;
    check(CreateStreamOnHGlobal(nullptr, TRUE, memory.put()));
    com_ptr<IWICStream> stream;
    check(factory->CreateStream(stream.put()));
    check(stream->InitializeFromIStream(memory.get()));
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

    STATSTG stat{};
    check(memory->Stat(&stat, STATFLAG_NONAME));
    if (stat.cbSize.QuadPart > 0x7FFFFFFF) throw error(err::out_of_memory);
    std::vector<BYTE> file(static_cast<size_t>(stat.cbSize.QuadPart));
    const LARGE_INTEGER start{};
    check(memory->Seek(start, STREAM_SEEK_SET, nullptr));
    ULONG read = 0;
    check(memory->Read(file.data(), static_cast<ULONG>(file.size()), &read));
    if (read != file.size()) throw error(57);  // Device I/O error
    return file;
}

bool names_device(std::wstring_view path) {
    std::wstring name(path);
    std::replace(name.begin(), name.end(), L'/', L'\\');
    std::wstring_view rest = name;
    if (starts_with(rest, L"\\\\?\\") || starts_with(rest, L"\\\\.\\") || starts_with(rest, L"\\??\\")) {
        rest.remove_prefix(4);
        if (starts_with(rest, L"unc\\")) {
            name = L"\\\\" + std::wstring(rest.substr(4));
            rest = name;
        } else if (!drive_path(rest)) {
            return true;  // a device, a volume or anything else of the object namespace
        }
    }
    if (starts_with(rest, L"\\\\")) {
        // \\server\share\...: pipes and mailslots of any server are no files.
        const std::wstring_view after_server = rest.substr(std::min(rest.size(), rest.find(L'\\', 2)));
        const std::wstring share = lower(after_server.substr(1, after_server.find(L'\\', 1) - 1));
        if (share == L"pipe" || share == L"mailslot") return true;
    }
    size_t last = rest.find_last_of(L'\\');
    if (last == std::wstring_view::npos) last = rest.size() >= 2 && rest[1] == L':' ? 1 : std::wstring_view::npos;
    return reserved_name(last == std::wstring_view::npos ? rest : rest.substr(last + 1));
}

void write_file(std::wstring_view path, const std::vector<BYTE>& bytes) {
    if (names_device(path)) throw error(err::path_file_access);
    const std::wstring target(path);
    const DWORD existing = GetFileAttributesW(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY))
        throw error(err::path_file_access);

    // SECURITY_IDENTIFICATION: whatever answers the name can learn who the caller is, never act as the caller.
    std::wstring temporary;
    unique_file opened;
    for (int attempt = 0; attempt < 8 && !opened; ++attempt) {
        temporary = beside(target);
        opened = unique_file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                         nullptr));
        if (!opened && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (!opened) throw error::from_last_error(err::path_file_access);
    // Whatever fails from here, the new file goes (after its handle, declared below, is closed).
    struct discard {
        const std::wstring& name;
        bool keep = false;
        ~discard() {
            if (!keep) DeleteFileW(name.c_str());
        }
    } unfinished{temporary};
    unique_file file(std::move(opened));

    if (GetFileType(file.get()) != FILE_TYPE_DISK) throw error(err::path_file_access);
    DWORD written = 0;
    check_win32(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr),
                err::disk_full);
    if (written != bytes.size()) throw error(err::disk_full);
    // Closed here, where a failure can still be told: a network file may fail only when it is closed.
    check_win32(CloseHandle(file.release()), err::disk_full);
    check_win32(MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING), err::path_file_access);
    unfinished.keep = true;
}

} // namespace zorvane::screen
