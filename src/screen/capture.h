// Copies of screen rectangles: the bitmap, the clipboard copy, the picture object and the BMP file.
#pragma once

#include "library/raii.h"

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string_view>
#include <vector>

namespace zorvane::screen {

// Runs its scope per-monitor DPI aware where the system offers per-thread awareness, so that window
// rectangles and copied pixels are in the same (physical) units; restores the thread's awareness after.
class dpi_aware_scope final {
public:
    dpi_aware_scope() noexcept;
    dpi_aware_scope(const dpi_aware_scope&) = delete;
    dpi_aware_scope& operator=(const dpi_aware_scope&) = delete;
    ~dpi_aware_scope();

private:
    using setter = void*(WINAPI*)(void*);
    setter set_ = nullptr;  // found once: the awareness is put back through the function that changed it
    void* previous_ = nullptr;
};

// CaptureScreenRect: a bitmap of the full width and height of the rectangle. What lies on the screen is
// copied; whatever lies beyond it stays black. Null for an empty rectangle; error 6 (Overflow) when the
// width or height does not fit in 32 bits; the classic error of the first Windows call that fails otherwise.
unique_hbitmap capture_screen_rect(LONG left, LONG top, LONG right, LONG bottom);

// Empties the clipboard and leaves a copy of `bitmap` on it as CF_BITMAP. Waits briefly while another
// program holds the clipboard open; false when it could not be had.
bool put_on_clipboard(HBITMAP bitmap) noexcept;

// A picture object that owns `bitmap` (an empty picture when null).
com_ptr<IPictureDisp> make_picture(unique_hbitmap bitmap);

// `bitmap` as the bytes of a 24-bit Windows bitmap file, and of a PNG file (through the Windows imaging
// component).
std::vector<BYTE> bmp_file_of(HBITMAP bitmap);
std::vector<BYTE> png_file_of(HBITMAP bitmap);

// True for a file name ending in ".png", in any case.
bool names_png(std::wstring_view path) noexcept;

// True when `path` names no disk file by its form: a device namespace (\\.\, \\?\, \??\ other than a drive
// or UNC path), a pipe or mailslot of any server, or a reserved device name (CON, NUL, COM1... with or
// without an extension, in any folder).
bool names_device(std::wstring_view path);

// Writes `bytes` as the file `path`, replacing any file of that name, whole or not at all: into a new file
// beside it that is then renamed over it, so that a failed write leaves an existing file as it was. Only disk
// files are written, and a pipe server cannot act as the caller. Throws the classic file errors (76 Path not
// found, 75 Path/File access error for a device or pipe, 61 Disk full...).
void write_file(std::wstring_view path, const std::vector<BYTE>& bytes);

} // namespace zorvane::screen
