// CaptureHwnd and CaptureDesktop: the picture and the file are made from the captured pixels.
#include "control/bstr.h"
#include "control/conventions.h"
#include "control/window_handle.h"
#include "control/zorvane.h"
#include "screen/capture.h"

namespace zorvane {
namespace {

// The capture of a window rectangle; an overflowing rectangle is reported and gives no bitmap.
unique_hbitmap capture_window_rect(HWND window) {
    screen::dpi_aware_scope aware;
    RECT area{};
    if (window) GetWindowRect(window, &area);
    try {
        return screen::capture_screen_rect(area.left, area.top, area.right, area.bottom);
    } catch (...) {
        report_error(describe(std::current_exception()));
        return {};
    }
}

// The result is set before the file is written, so a failed save still returns the picture.
void conclude_capture(unique_hbitmap bitmap, BSTR file_name, IPictureDisp** result) {
    screen::put_on_clipboard(bitmap.get());
    const HBITMAP pixels = bitmap.get();
    *result = screen::make_picture(std::move(bitmap)).detach();
    const std::wstring_view name = text_of(file_name);
    if (name.empty()) return;
    if (!pixels) throw error(err::invalid_picture);
    if (screen::names_png(name))
        screen::write_png(pixels, name);
    else
        screen::write_bmp(pixels, name);
}

} // namespace

void control::CaptureHwnd(const LONG* ControlHwnd, BSTR FileName, IPictureDisp** result) {
    *result = nullptr;
    conclude_capture(capture_window_rect(window_of(*ControlHwnd)), FileName, result);
}

void control::CaptureDesktop(BSTR FileName, IPictureDisp** result) {
    *result = nullptr;
    const HWND desktop = GetDesktopWindow();
    conclude_capture(desktop ? capture_window_rect(desktop) : unique_hbitmap{}, FileName, result);
}

} // namespace zorvane
