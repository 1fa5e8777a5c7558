// CaptureHwnd and CaptureDesktop on a real screen (Xvfb): pixels, sizes, the clipboard and the file.
#include "support/iat_hook.h"
#include "support/message_box.h"
#include "support/control_fixture.h"
#include "support/dispatch_call.h"
#include "support/ocx.h"

#include <gtest/gtest.h>

#include <olectl.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int capture_hwnd = 5, capture_desktop = 6;
constexpr COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255), green = RGB(0, 255, 0);

// A borderless top-level window painted left half in one colour, right half in another.
struct painted_window {
    HWND handle = nullptr;

    painted_window(int x, int y, int width, int height, COLORREF left, COLORREF right) {
        static const ATOM registered = [] {
            WNDCLASSW c{};
            c.lpfnWndProc = &procedure;
            c.hInstance = GetModuleHandleW(nullptr);
            c.lpszClassName = L"zv_painted";
            c.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
            return RegisterClassW(&c);
        }();
        (void)registered;
        colours_[0] = left;
        colours_[1] = right;
        handle = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"zv_painted", L"", WS_POPUP | WS_VISIBLE, x, y,
                                 width, height, nullptr, nullptr, GetModuleHandleW(nullptr), colours_);
        UpdateWindow(handle);
        settle();
    }
    ~painted_window() { DestroyWindow(handle); }
    painted_window(const painted_window&) = delete;
    painted_window& operator=(const painted_window&) = delete;

    LONG id() const { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(handle)); }

    static void settle() {
        for (int i = 0; i < 20; ++i) {
            MSG m;
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
            Sleep(10);
        }
    }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
        if (message == WM_PAINT) {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            const auto* colours = reinterpret_cast<const COLORREF*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            RECT area;
            GetClientRect(window, &area);
            RECT half = area;
            half.right = area.right / 2;
            HBRUSH brush = CreateSolidBrush(colours[0]);
            FillRect(dc, &half, brush);
            DeleteObject(brush);
            half.left = half.right;
            half.right = area.right;
            brush = CreateSolidBrush(colours[1]);
            FillRect(dc, &half, brush);
            DeleteObject(brush);
            EndPaint(window, &ps);
            return 0;
        }
        return DefWindowProcW(window, message, w, l);
    }
    COLORREF colours_[2] = {};
};

// The pixels of a bitmap, top-down, as COLORREF values.
struct pixels {
    LONG width = 0, height = 0;
    std::vector<COLORREF> values;
    COLORREF at(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
};

pixels read_bitmap(HBITMAP bitmap) {
    pixels out;
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof(info), &info)) return out;
    out.width = info.bmWidth;
    out.height = info.bmHeight;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = out.width;
    format.bmiHeader.biHeight = -out.height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    std::vector<DWORD> raw(static_cast<size_t>(out.width) * out.height);
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bitmap, 0, static_cast<UINT>(out.height), raw.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    for (DWORD p : raw) out.values.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
    return out;
}

pixels read_picture(IPictureDisp* picture) {
    IPicture* p = nullptr;
    if (!picture || FAILED(picture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&p)))) return {};
    OLE_HANDLE handle = 0;
    p->get_Handle(&handle);
    pixels out = read_bitmap(reinterpret_cast<HBITMAP>(static_cast<ULONG_PTR>(handle)));
    p->Release();
    return out;
}

pixels read_clipboard() {
    pixels out;
    if (!OpenClipboard(nullptr)) return out;
    if (HANDLE bitmap = GetClipboardData(CF_BITMAP)) out = read_bitmap(static_cast<HBITMAP>(bitmap));
    CloseClipboard();
    return out;
}

// A BMP file read back by hand: header fields and top-down pixels.
struct bmp_file {
    bool valid = false;
    int bits = 0;
    pixels image;
};

bmp_file read_bmp(const std::wstring& path) {
    bmp_file out;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return out;
    std::vector<BYTE> bytes(GetFileSize(file, nullptr));
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    if (bytes.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) return out;
    const auto* header = reinterpret_cast<const BITMAPFILEHEADER*>(bytes.data());
    const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(bytes.data() + sizeof(BITMAPFILEHEADER));
    out.bits = info->biBitCount;
    if (header->bfType != 0x4D42 || header->bfSize != bytes.size() || info->biBitCount != 24 || info->biHeight <= 0)
        return out;
    out.image.width = info->biWidth;
    out.image.height = info->biHeight;
    const size_t stride = (static_cast<size_t>(info->biWidth) * 3 + 3) & ~size_t{3};
    if (header->bfOffBits + stride * info->biHeight > bytes.size()) return out;
    for (LONG y = 0; y < info->biHeight; ++y) {
        const BYTE* row = bytes.data() + header->bfOffBits + stride * (info->biHeight - 1 - y);
        for (LONG x = 0; x < info->biWidth; ++x) out.image.values.push_back(RGB(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]));
    }
    out.valid = true;
    return out;
}

std::wstring temp_file(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

struct capture : zvtest::control_fixture {

    // CaptureHwnd through its table entry; the caller owns the picture.
    IPictureDisp* hwnd(LONG window, const wchar_t* file = nullptr) {
        using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, LONG*, BSTR, IPictureDisp**);
        const zvtest::bstr name(file);
        IPictureDisp* picture = nullptr;
        const LONG before = window;
        EXPECT_EQ(S_OK, reinterpret_cast<method>(entry(capture_hwnd))(dual, &window, name.get(), &picture));
        EXPECT_EQ(before, window);
        return picture;
    }
    IPictureDisp* desktop(const wchar_t* file = nullptr) {
        using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR, IPictureDisp**);
        const zvtest::bstr name(file);
        IPictureDisp* picture = nullptr;
        EXPECT_EQ(S_OK, reinterpret_cast<method>(entry(capture_desktop))(dual, name.get(), &picture));
        return picture;
    }
    void* entry(int which) { return (*reinterpret_cast<void***>(dual))[489 + which]; }

};

// The window the clipboard is opened with, and whether it was a message-only window of the calling thread.
struct clipboard_opening {
    HWND owner = nullptr;
    bool message_only = false, this_thread = false;
} opening;
HWND message_parent = nullptr;
BOOL WINAPI spy_open_clipboard(HWND owner) {
    opening = {owner, owner && GetAncestor(owner, GA_PARENT) == message_parent,
               owner && GetWindowThreadProcessId(owner, nullptr) == GetCurrentThreadId()};
    return OpenClipboard(owner);
}

TEST_F(capture, a_window_its_pixels_on_the_clipboard_and_in_the_file) {
    painted_window window(40, 30, 120, 80, red, blue);
    const std::wstring file = temp_file(L"zv capture Снимок.bmp");
    DeleteFileW(file.c_str());

    // The clipboard is opened with a window of the library's own (with none, Windows leaves the clipboard to
    // nobody and SetClipboardData fails), a message-only one that goes with the call.
    HWND probe = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    message_parent = GetAncestor(probe, GA_PARENT);
    DestroyWindow(probe);
    IPictureDisp* picture = nullptr;
    {
        zvtest::iat_hook open(zvtest::ocx(), "user32.dll", "OpenClipboard",
                              reinterpret_cast<const void*>(&spy_open_clipboard));
        picture = hwnd(window.id(), file.c_str());
    }
    EXPECT_TRUE(opening.message_only);
    EXPECT_TRUE(opening.this_thread);
    EXPECT_FALSE(IsWindow(opening.owner));
    ASSERT_NE(nullptr, picture);
    IPicture* p = nullptr;
    ASSERT_EQ(S_OK, picture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&p)));
    SHORT type = 0;
    p->get_Type(&type);
    EXPECT_EQ(PICTYPE_BITMAP, type);
    p->Release();

    const pixels image = read_picture(picture);
    ASSERT_EQ(120, image.width);
    ASSERT_EQ(80, image.height);
    EXPECT_EQ(red, image.at(5, 5));
    EXPECT_EQ(red, image.at(59, 79));
    EXPECT_EQ(blue, image.at(60, 0));
    EXPECT_EQ(blue, image.at(119, 79));

    const pixels clipboard = read_clipboard();
    ASSERT_EQ(120, clipboard.width);
    EXPECT_EQ(image.values, clipboard.values);
    ASSERT_TRUE(OpenClipboard(nullptr));
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format))
        EXPECT_TRUE(format == CF_BITMAP || format == CF_DIB || format == CF_DIBV5) << format;  // no stale formats
    CloseClipboard();

    const bmp_file saved = read_bmp(file);
    ASSERT_TRUE(saved.valid) << "bits " << saved.bits;
    EXPECT_EQ(120, saved.image.width);
    EXPECT_EQ(80, saved.image.height);
    EXPECT_EQ(image.values, saved.image.values);

    // The picture owns its bitmap: the clipboard changing later leaves it intact.
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
    EXPECT_EQ(image.values, read_picture(picture).values);
    picture->Release();
    DeleteFileW(file.c_str());
}

TEST_F(capture, a_png_file_for_a_png_name) {
    painted_window window(60, 60, 70, 50, red, blue);
    for (const wchar_t* name : {L"zv capture.png", L"zv CAPTURE.PNG"}) {
        const std::wstring file = temp_file(name);
        DeleteFileW(file.c_str());
        IPictureDisp* picture = hwnd(window.id(), file.c_str());
        ASSERT_NE(nullptr, picture);
        picture->Release();
        HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        BYTE head[24] = {};
        DWORD read = 0;
        ReadFile(h, head, sizeof(head), &read, nullptr);
        CloseHandle(h);
        const BYTE signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        EXPECT_EQ(0, memcmp(signature, head, 8));
        EXPECT_EQ(70, (head[16] << 24) | (head[17] << 16) | (head[18] << 8) | head[19]);  // IHDR width
        EXPECT_EQ(50, (head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23]);  // and height
        DeleteFileW(file.c_str());
    }
    // Any other name is a BMP, as before.
    const std::wstring other = temp_file(L"zv capture.png.bmp");
    IPictureDisp* picture = hwnd(window.id(), other.c_str());
    picture->Release();
    EXPECT_TRUE(read_bmp(other).valid);
    DeleteFileW(other.c_str());

    zvtest::message_box_watcher watcher(L"Ошибка");
    picture = hwnd(window.id(), L"C:\\no such folder\\capture.png");
    const auto box = watcher.wait();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(L"76Path not found", box->text);
    if (picture) picture->Release();
}

TEST_F(capture, the_picture_comes_from_the_pixels_while_another_program_holds_the_clipboard) {
    painted_window window(10, 200, 64, 32, green, green);
    // Someone else's bitmap on the clipboard, which another thread then keeps open.
    HDC screen = GetDC(nullptr);
    HBITMAP foreign = CreateCompatibleBitmap(screen, 3, 3);
    ReleaseDC(nullptr, screen);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    SetClipboardData(CF_BITMAP, foreign);
    CloseClipboard();

    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        const BOOL held = OpenClipboard(owner);
        SetEvent(opened);
        WaitForSingleObject(release, 10000);
        if (held) CloseClipboard();
        DestroyWindow(owner);
    });
    WaitForSingleObject(opened, 5000);
    IPictureDisp* picture = hwnd(window.id());
    SetEvent(release);
    holder.join();
    CloseHandle(opened);
    CloseHandle(release);

    const pixels image = read_picture(picture);
    EXPECT_EQ(64, image.width);
    EXPECT_EQ(32, image.height);
    EXPECT_EQ(green, image.at(30, 16));
    EXPECT_EQ(3, read_clipboard().width);  // the clipboard could not be had: left as it was
    if (picture) picture->Release();
}

TEST_F(capture, beyond_the_screen_edge_the_bitmap_keeps_its_size_and_the_rest_is_black) {
    painted_window window(-30, -20, 100, 60, blue, blue);
    RECT area;
    GetWindowRect(window.handle, &area);
    ASSERT_EQ(-30, area.left) << "the window manager moved the window";
    IPictureDisp* picture = hwnd(window.id());
    const pixels image = read_picture(picture);
    ASSERT_EQ(100, image.width);
    ASSERT_EQ(60, image.height);
    EXPECT_EQ(RGB(0, 0, 0), image.at(5, 5));     // off the screen
    EXPECT_EQ(RGB(0, 0, 0), image.at(29, 19));
    EXPECT_EQ(blue, image.at(30, 20));           // the screen's top-left pixel
    EXPECT_EQ(blue, image.at(99, 59));
    picture->Release();
}

TEST_F(capture, an_unwritable_file_is_reported_and_the_picture_still_returned) {
    painted_window window(300, 300, 40, 40, red, red);
    zvtest::message_box_watcher watcher(L"Ошибка");
    IPictureDisp* picture = hwnd(window.id(), L"C:\\no such folder\\capture.bmp");
    const auto box = watcher.wait();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(L"76Path not found", box->text);
    EXPECT_TRUE(box->has_ok);
    EXPECT_EQ(40, read_picture(picture).width);
    if (picture) picture->Release();
}

// Only disk files are written: a pipe server cannot take the picture nor act as the caller, devices are refused
// by their names, and a file that cannot be written whole leaves the old one as it was, with nothing beside it.
DWORD failing_write_error = 0;
BOOL WINAPI failing_write(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    if (written) *written = 0;
    SetLastError(failing_write_error);
    return FALSE;
}

std::vector<std::wstring> files_in(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (lstrcmpW(found.cFileName, L".") && lstrcmpW(found.cFileName, L"..")) names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

TEST_F(capture, only_disk_files_are_written_and_only_whole) {
    painted_window window(300, 300, 40, 40, red, red);
    auto reported = [&](const std::wstring& file) {
        zvtest::message_box_watcher watcher(L"Ошибка");
        IPictureDisp* picture = hwnd(window.id(), file.c_str());
        EXPECT_EQ(40, read_picture(picture).width);  // the picture all the same
        if (picture) picture->Release();
        const auto box = watcher.wait();
        return box ? box->text : L"(no box)";
    };

    const std::wstring pipe = L"\\\\.\\pipe\\zv capture " + std::to_wstring(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 0, 1 << 20, 0,
                                     nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    EXPECT_EQ(L"75Path/File access error", reported(pipe));
    EXPECT_FALSE(ConnectNamedPipe(server, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_LISTENING), GetLastError()) << "a client reached the pipe";
    CloseHandle(server);
    const std::wstring folder = temp_file(L"zv whole\\");
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const std::wstring& device : {std::wstring(L"NUL"), std::wstring(L"con.bmp"), folder + L"Nul.png",
                                       folder + L"COM1.bmp", std::wstring(L"\\\\?\\GLOBALROOT\\Device\\Null"),
                                       std::wstring(L"\\\\localhost\\pipe\\zv"), folder})
        EXPECT_EQ(L"75Path/File access error", reported(device)) << std::string(device.begin(), device.end());
    EXPECT_TRUE(files_in(folder).empty());

    // An existing file, and a disk that fills while the new one is written: the old file stays as it was.
    const std::wstring file = folder + L"shot.bmp";
    {
        std::ofstream old(std::string(file.begin(), file.end()), std::ios::binary);
        old << "the old picture";
    }
    failing_write_error = ERROR_DISK_FULL;
    {
        zvtest::iat_hook write(zvtest::ocx(), "kernel32.dll", "WriteFile", reinterpret_cast<const void*>(&failing_write));
        EXPECT_EQ(L"61Disk full", reported(file));
        EXPECT_EQ(L"61Disk full", reported(folder + L"new.png"));
    }
    std::ifstream kept(std::string(file.begin(), file.end()), std::ios::binary);
    EXPECT_EQ("the old picture", std::string(std::istreambuf_iterator<char>(kept), {}));
    kept.close();
    EXPECT_EQ(std::vector<std::wstring>{L"shot.bmp"}, files_in(folder));
    // Written whole, it replaces the old one, and nothing else is left beside it.
    IPictureDisp* picture = hwnd(window.id(), file.c_str());
    picture->Release();
    EXPECT_EQ(40, read_bmp(file).image.width);
    EXPECT_EQ(std::vector<std::wstring>{L"shot.bmp"}, files_in(folder));
    DeleteFileW(file.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(capture, window_zero_gives_an_empty_picture_without_a_report) {
    zvtest::message_box_watcher watcher(L"Ошибка");
    IPictureDisp* picture = hwnd(0);
    ASSERT_NE(nullptr, picture);
    IPicture* p = nullptr;
    ASSERT_EQ(S_OK, picture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&p)));
    SHORT type = -1;
    p->get_Type(&type);
    EXPECT_EQ(PICTYPE_NONE, type);
    p->Release();
    picture->Release();
    EXPECT_FALSE(watcher.wait(300).has_value());
}

TEST_F(capture, the_desktop_at_screen_size) {
    painted_window window(200, 100, 50, 50, blue, red);
    const std::wstring file = temp_file(L"zv desktop.bmp");
    IPictureDisp* picture = desktop(file.c_str());
    const pixels image = read_picture(picture);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), image.width);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), image.height);
    EXPECT_EQ(blue, image.at(210, 120));
    EXPECT_EQ(red, image.at(240, 120));
    EXPECT_EQ(image.values, read_bmp(file).image.values);
    picture->Release();
    DeleteFileW(file.c_str());

    // Late-bound, the file name omitted: a picture as VT_DISPATCH and no file.
    zvtest::dispatch_call call(zvtest::hand_result);
    ASSERT_EQ(S_OK, call.invoke(dual, L"CaptureDesktop"));
    ASSERT_EQ(VT_DISPATCH, V_VT(&call.result));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN),
              read_picture(reinterpret_cast<IPictureDisp*>(V_DISPATCH(&call.result))).width);
}

} // namespace
