// Soak: every harmless method of the control called many times through IDispatch::Invoke, captures included;
// fails when GDI objects, USER objects or handles grow, or private memory grows by 1% or more.
//
//   zorvane_soak.exe <calls per method>
//
// WinShutDown, WinRestart, MouseDisable and KeyboardDisable are left out (they act on the whole machine even where
// the test hooks stop them). ShowAbout (a modal window) and the whole-screen captures (0.15 to 0.3 s each under
// Wine's X server) run a twentieth as often.
#include "support/dispatch_call.h"
#include "support/neutralised.h"
#include "support/ocx.h"
#include "support/process_usage.h"
#include "support/published.h"
#include "support/surface.h"
#include "support/window_closer.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct call {
    std::string label;
    DISPID id;
    std::vector<std::pair<char, std::wstring>> args;  // parameter kind and value (text or number), in order
    int divisor = 1;                                  // runs count / divisor times
};

std::vector<call> calls_of(const std::wstring& scratch, HWND window) {
    const std::wstring hwnd = std::to_wstring(static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)));
    std::vector<call> out;
    for (const auto& m : zvtest::zorvane_methods()) {
        const std::wstring name = m.name;
        if (name == L"WinShutDown" || name == L"WinRestart" || name == L"MouseDisable" || name == L"KeyboardDisable")
            continue;
        call c{std::string(name.begin(), name.end()), m.dispid, {}, name == L"ShowAbout" || name == L"CaptureDesktop" ? 20 : 1};
        for (const auto& p : m.params) {
            const std::wstring param = p.first;
            std::wstring value;
            if (p.second == 'L') value = hwnd;
            else if (p.second == 'I') value = L"100";
            else if (p.second == 'V') value = name == L"SetCursorPosition" ? L"10" : L"300";
            else if (param == L"PathDrive") value = L"C:\\";
            else if (param == L"Y") value = L"20";
            else if (param == L"BMPFileName") value = scratch + L"wall.bmp";
            else if (param == L"WebAddress") value = L"https://example.org";
            else if (param == L"MailAddress") value = L"x@example.org";
            else if (param == L"SubjectMail") value = L"Привет";
            else if (param == L"ProgName") value = L"ZorvaneSoak";
            else if (param == L"ProgPath") value = L"C:\\soak.exe /tray";
            else if (param == L"Path") value = scratch + L"made\\deeper\\file.txt";
            else if (param == L"FileName") continue;  // omitted: a picture only
            c.args.push_back({p.second, value});
        }
        out.push_back(c);
    }
    // Captures that also write files.
    const DISPID desktop = 0x60030007, window_capture = 0x60030005;
    out.push_back({"CaptureDesktop(.bmp)", desktop, {{'o', scratch + L"soak.bmp"}}, 20});
    out.push_back({"CaptureDesktop(.png)", desktop, {{'o', scratch + L"soak.png"}}, 20});
    out.push_back({"CaptureHwnd(.bmp)", window_capture, {{'L', hwnd}, {'o', scratch + L"soak_window.bmp"}}});
    return out;
}

// One call through Invoke with arguments as a VBScript host passes them (typed references, VARIANT references).
HRESULT invoke(IDispatch* control, const call& c) {
    zvtest::dispatch_call d;
    for (const auto& [kind, value] : c.args) {
        const LONG number = std::wcstol(value.c_str(), nullptr, 10);
        switch (kind) {
        case 'L': d.by_ref(zvtest::long_value(number)); break;
        case 'I': d.by_ref(zvtest::short_value(static_cast<SHORT>(number))); break;
        case 'V': d.by_variant_ref(zvtest::long_value(number)); break;
        case 'S': d.by_ref(zvtest::text_value(value)); break;
        default: d.arg(value); break;
        }
    }
    return d.invoke(control, c.id);
}

} // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 300;
    CoInitialize(nullptr);
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring scratch = std::wstring(temp) + L"zorvane_soak\\";
    CreateDirectoryW(scratch.c_str(), nullptr);
    SetCurrentDirectoryW(scratch.c_str());
    HWND window = CreateWindowExW(0, L"STATIC", L"zorvane soak target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                                  150, nullptr, nullptr, nullptr, nullptr);
    int failures = 0;
    {
        zvtest::neutralised hooks(scratch);
        zvtest::window_closer error_boxes(L"Ошибка");
        zvtest::window_closer about_boxes(L"О контроле...");
        IUnknown* unknown = zvtest::new_control();
        IDispatch* control = nullptr;
        unknown->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&control));
        unknown->Release();
        const std::vector<call> calls = calls_of(scratch, window);

        auto round = [&](long n, bool timed) {
            for (const auto& c : calls) {
                const long times = std::max(1L, n / c.divisor);
                const DWORD start = GetTickCount();
                for (long i = 0; i < times; ++i) {
                    const HRESULT hr = invoke(control, c);
                    if (hr != S_OK && ++failures <= 20)
                        std::printf("FAIL %s returned %08lx\n", c.label.c_str(), static_cast<unsigned long>(hr));
                    MSG msg;
                    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
                }
                if (timed)
                    std::printf("  %-28s %6ld calls %8.1f us per call\n", c.label.c_str(), times,
                                1000.0 * (GetTickCount() - start) / times);
            }
        };

        const bool table = zvtest::gdi_table_counts();
        round(std::max(5L, count / 10), false);  // warm-up: caches, clipboard, imaging component, subclass
        const zvtest::usage before = zvtest::measure(table);
        zvtest::print("before", before);
        const DWORD start = GetTickCount();
        round(count, true);
        const double seconds = (GetTickCount() - start) / 1000.0;
        const zvtest::usage after = zvtest::measure(table);
        zvtest::print("after", after);
        std::printf("%zu methods and variants, %ld calls each (ShowAbout, CaptureDesktop %ld), %.1f s; message boxes closed %d, About "
                    "boxes closed %d\n",
                    calls.size(), count, std::max(1L, count / 20), seconds, error_boxes.closed(),
                    about_boxes.closed());
        if (before.gdi == 0 && after.gdi == 0)
            std::printf("note: GetGuiResources counts no GDI objects here; %s\n",
                        table ? "the handle table count is checked instead"
                              : "GDI objects are NOT checked (no handle table to count)");
        if (before.user == 0 && after.user == 0)
            std::printf("note: GetGuiResources counts no USER objects here; only windows of the process are checked\n");

        auto grew = [&](const char* what, long long b, long long a) {
            if (a > b) {
                ++failures;
                std::printf("FAIL %s grew from %lld to %lld\n", what, b, a);
            }
        };
        grew("GDI objects (GetGuiResources)", before.gdi, after.gdi);
        grew("GDI objects (handle table)", before.gdi_table, after.gdi_table);
        grew("USER objects (GetGuiResources)", before.user, after.user);
        grew("windows", before.windows, after.windows);
        grew("handles", before.handles, after.handles);
        grew("handles (probed)", before.probed_handles, after.probed_handles);
        auto grew_1_percent = [&](const char* what, unsigned long long b, unsigned long long a) {
            if (a * 100 >= b * 101 && a > b) {
                ++failures;
                std::printf("FAIL %s grew by 1%% or more: %llu -> %llu\n", what, b, a);
            }
        };
        grew_1_percent("private bytes (PrivateUsage)", before.private_bytes, after.private_bytes);
        grew_1_percent("private bytes (committed private regions)", before.private_walked, after.private_walked);
        if (before.private_bytes == 0)
            std::printf("note: PrivateUsage reads 0 here; the committed private regions are checked instead\n");
        if (before.handles == 0) std::printf("note: GetProcessHandleCount reads 0 here; probed handles are checked\n");
        control->Release();
    }
    DestroyWindow(window);
    std::printf("%s: %d failing checks\n", failures ? "FAILED" : "PASSED", failures);
    CoUninitialize();
    return failures ? 1 : 0;
}
