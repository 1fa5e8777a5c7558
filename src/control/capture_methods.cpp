// CaptureHwnd and CaptureDesktop: the picture and the file are made from the captured pixels.
#include "control/bstr.h"
#include "control/window_handle.h"
#include "control/zorvane.h"
#include "screen/capture.h"

#include <exception>

namespace zorvane {
namespace {

// The capture of a window's rectangle. No window (0, or one that is gone) is an empty rectangle, as before; a
// window whose rectangle the system does not give is a failure.
unique_hbitmap capture_window_rect(HWND window) {
    screen::dpi_aware_scope aware;
    RECT area{};
    if (window && IsWindow(window)) check_win32(GetWindowRect(window, &area), err::invalid_call);
    return screen::capture_screen_rect(area.left, area.top, area.right, area.bottom);
}

// The result is set before the file is written, so a failed save still returns the picture. A capture that
// fails gives an empty picture, no file and one report of its own failure; a clipboard that cannot be had is
// not reported.
void conclude_capture(HWND window, BSTR file_name, IPictureDisp** result) {
    unique_hbitmap bitmap;
    std::exception_ptr failed;
    try {
        bitmap = capture_window_rect(window);
    } catch (...) {
        failed = std::current_exception();
    }
    screen::put_on_clipboard(bitmap.get());
    const HBITMAP pixels = bitmap.get();
    *result = screen::make_picture(std::move(bitmap)).detach();
    if (failed) std::rethrow_exception(failed);
    const std::wstring_view name = text_of(file_name);
    if (name.empty()) return;
    if (!pixels) throw error(err::invalid_picture);
    screen::write_file(name, screen::names_png(name) ? screen::png_file_of(pixels) : screen::bmp_file_of(pixels));
}

} // namespace

void control::CaptureHwnd(const LONG* ControlHwnd, BSTR FileName, IPictureDisp** result) {
    *result = nullptr;
    conclude_capture(window_of(*ControlHwnd), FileName, result);
}

void control::CaptureDesktop(BSTR FileName, IPictureDisp** result) {
    *result = nullptr;
    conclude_capture(GetDesktopWindow(), FileName, result);
}

} // namespace zorvane
