// Copies of screen rectangles: the bitmap, the clipboard copy, the picture object and the BMP file.
#pragma once

#include "library/raii.h"

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string_view>

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
    void* previous_ = nullptr;
};

// CaptureScreenRect: a bitmap of the full width and height of the rectangle. What lies on the screen is
// copied; whatever lies beyond it stays black. Null for an empty rectangle; error 6 (Overflow) when the
// width or height does not fit in 32 bits.
unique_hbitmap capture_screen_rect(LONG left, LONG top, LONG right, LONG bottom);

// Empties the clipboard and leaves a copy of `bitmap` on it as CF_BITMAP. Waits briefly while another
// program holds the clipboard open; false when it could not be had.
bool put_on_clipboard(HBITMAP bitmap) noexcept;

// A picture object that owns `bitmap` (an empty picture when null).
com_ptr<IPictureDisp> make_picture(unique_hbitmap bitmap);

// Writes `bitmap` to `path` as a 24-bit Windows bitmap file, replacing any file of that name.
// Throws the classic file errors (76 Path not found, 75 Path/File access error, ...).
void write_bmp(HBITMAP bitmap, std::wstring_view path);

// True for a file name ending in ".png", in any case.
bool names_png(std::wstring_view path) noexcept;

// Writes `bitmap` to `path` as PNG through the Windows imaging component, replacing any file of that name.
void write_png(HBITMAP bitmap, std::wstring_view path);

} // namespace zorvane::screen
