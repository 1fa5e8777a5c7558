// Load and unload cycles, as hosts that free unused libraries all day make them: each load of the library, with a
// control made, called and released, must leave the process as it found it. After every cycle the module must be
// unmapped and its window classes gone; over all cycles the next TLS index, atoms, handles, GDI objects, windows
// and private memory must stay where they were.
//
//   zorvane_lifecycle.exe <cycles>
//
// Half the cycles go through the exports (LoadLibrary, DllGetClassObject, CreateInstance, Release, FreeLibrary),
// half through COM (CoCreateInstance, Release, CoFreeUnusedLibrariesEx). Each control is called through Invoke
// with arguments and with one that raises; in two cycles of every 25 (one each way) it also shows its face in place,
// opens the About box, makes a shell request (answered by a stand-in) and is used from a thread of its own that
// then ends; and the host lets go of it, and frees unused libraries, from a timer that fires inside the method
// error report of a capture: the library must stay loaded until the method has returned.
#include "support/client_site.h"
#include "support/dispatch_call.h"
#include "support/ocx.h"
#include "support/iat_hook.h"
#include "support/process_usage.h"
#include "support/published.h"
#include "support/window_closer.h"

#include <windows.h>
#include <shellapi.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr DISPID capture_desktop = 0x60030007, get_drive_label = 0x6003002C, set_cursor_position = 0x6003001A, shell_email = 0x6003003B;
constexpr DISPID show_about = static_cast<DISPID>(0xFFFFFDD8);
constexpr int heavy_every = 25;

int failures = 0;

void fail(const char* what, long cycle) {
    if (++failures <= 20) std::printf("FAIL cycle %ld: %s\n", cycle, what);
}

BOOL WINAPI no_shell(SHELLEXECUTEINFOW*) { return TRUE; }

// Calls as a host that asks for the result and the exception, never for puArgErr.
struct call : zvtest::dispatch_call {
    call() : dispatch_call(zvtest::hand_result | zvtest::hand_exception) {}
};

// A call with an argument, and one whose argument does not convert, so that the library raises an error.
void light_use(IDispatch* control, long cycle) {
    if (call().arg(L"C:\\").invoke(control, get_drive_label) != S_OK) fail("GetDriveLabel did not answer", cycle);
    if (call().arg(L"not a number").arg(L"1").invoke(control, set_cursor_position) != DISP_E_EXCEPTION)
        fail("SetCursorPosition with a text raised no error", cycle);
}

void show_face(IDispatch* control, HWND parent, long cycle) {
    IOleObject* ole = nullptr;
    if (FAILED(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)))) {
        fail("no IOleObject", cycle);
        return;
    }
    zvtest::client_site site;
    site.user_mode = false;
    site.window = parent;
    const RECT where{0, 0, 100, 100};
    ole->SetClientSite(&site);
    if (ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, parent, &where) != S_OK || !GetWindow(parent, GW_CHILD))
        fail("no face in place", cycle);
    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(nullptr);
    ole->Release();
}

struct worker_task {
    HMODULE module;
    long cycle;
};

// A control of the thread's own, made through the exports, called and released.
DWORD WINAPI worker(void* parameter) {
    const auto* task = static_cast<const worker_task*>(parameter);
    using get_class_object = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<get_class_object>(
        reinterpret_cast<void (*)()>(GetProcAddress(task->module, "DllGetClassObject")));
    CoInitialize(nullptr);
    IClassFactory* factory = nullptr;
    IDispatch* own = nullptr;
    if (SUCCEEDED(get(zvtest::clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&own)))) {
        light_use(own, task->cycle);
        own->Release();
    } else {
        fail("no control on a thread of its own", task->cycle);
    }
    if (factory) factory->Release();
    CoUninitialize();
    return 0;
}

void heavy_use(IDispatch* control, HMODULE module, HWND parent, long cycle) {
    show_face(control, parent, cycle);
    if (call().invoke(control, show_about) != S_OK) fail("ShowAbout failed", cycle);
    {
        zvtest::procedure_hook shell(module, "ShellExecuteExW", reinterpret_cast<const void*>(&no_shell));
        if (call().arg(L"someone@example.org").missing().invoke(control, shell_email) != S_OK)
            fail("ShellEmail failed", cycle);
    }
    // A thread of its own (a plain system thread, as hosts make them) that raises an error and ends.
    worker_task task{module, cycle};
    HANDLE thread = CreateThread(nullptr, 0, &worker, &task, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

// The host's side of a control released from inside its own method: what the timer saw.
struct release_inside {
    IDispatch* control = nullptr;
    HMODULE module = nullptr;
    const std::wstring* path = nullptr;
    bool fired = false, loaded = false;
    HRESULT can_unload = S_OK;
} inside;

BOOL CALLBACK close_error_box(HWND window, LPARAM) {
    wchar_t title[16] = {};
    GetWindowTextW(window, title, 16);
    if (!lstrcmpW(title, L"Ошибка")) PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK release_in_report(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    inside.fired = true;
    inside.control->Release();
    using can_unload = HRESULT(STDAPICALLTYPE*)();
    inside.can_unload =
        reinterpret_cast<can_unload>(reinterpret_cast<void (*)()>(GetProcAddress(inside.module, "DllCanUnloadNow")))();
    CoFreeUnusedLibrariesEx(0, 0);
    inside.loaded = GetModuleHandleW(inside.path->c_str()) != nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &close_error_box, 0);
}

// A capture to a folder that does not exist shows the error report; a timer of the host's fires inside it, lets go
// of the host's only reference to the control and frees unused libraries. Releases the control.
void release_inside_the_report(IDispatch* control, HMODULE module, const std::wstring& path, long cycle) {
    inside = {control, module, &path};
    call capture;
    capture.arg(L"C:\\no such folder\\capture.bmp");
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, &release_in_report);
    const HRESULT hr = capture.invoke(control, capture_desktop);
    if (!inside.fired) {
        KillTimer(nullptr, timer);
        control->Release();
        fail("the timer did not fire inside the report", cycle);
        return;
    }
    if (hr != S_OK) fail("the capture did not succeed after its report", cycle);
    if (inside.can_unload != S_FALSE) fail("the library could be unloaded while a method ran", cycle);
    if (!inside.loaded) fail("the library was unloaded while a method ran", cycle);
}

struct loaded_control {
    HMODULE module = nullptr;  // our own reference, when loaded through the exports
    IDispatch* control = nullptr;
};

loaded_control load_through_exports(const std::wstring& path) {
    loaded_control c;
    c.module = LoadLibraryW(path.c_str());
    if (!c.module) return c;
    using get_class_object = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<get_class_object>(
        reinterpret_cast<void (*)()>(GetProcAddress(c.module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (get && SUCCEEDED(get(zvtest::clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
        factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&c.control));
        factory->Release();
    }
    return c;
}

loaded_control load_through_com() {
    loaded_control c;
    CoCreateInstance(zvtest::clsid_zorvane, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                     reinterpret_cast<void**>(&c.control));
    return c;
}

bool class_registered(HMODULE module, const wchar_t* name) {
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    return GetClassInfoExW(module, name, &info) != FALSE;
}

void cycle(long n, const std::wstring& path, HWND parent) {
    const bool through_com = n % 2 == 1;
    loaded_control c = through_com ? load_through_com() : load_through_exports(path);
    HMODULE module = GetModuleHandleW(path.c_str());
    if (!c.control || !module) {
        fail(through_com ? "CoCreateInstance made no control" : "the exports made no control", n);
        if (c.module) FreeLibrary(c.module);
        return;
    }
    light_use(c.control, n);
    if (n % heavy_every == heavy_every - 1 || n % heavy_every == 0) {
        heavy_use(c.control, module, parent, n);
        release_inside_the_report(c.control, module, path, n);
    } else {
        c.control->Release();
    }
    if (c.module) FreeLibrary(c.module);
    // COM's own reference: made by CoCreateInstance, and by the About box, which makes its control by ProgID.
    CoFreeUnusedLibrariesEx(0, 0);
    if (GetModuleHandleW(path.c_str())) fail("the library stayed loaded", n);
    if (class_registered(module, L"ZorvaneLibAboutForm") || class_registered(module, L"ZorvaneLibFace"))
        fail("a window class outlived the library", n);
}

struct probes {
    DWORD tls;
    ATOM global_atom, class_atom;
    zvtest::usage usage;
};

probes probe(bool gdi_table) {
    return {zvtest::next_tls_index(), zvtest::next_global_atom(), zvtest::next_class_atom(), zvtest::measure(gdi_table)};
}

void print(const char* when, const probes& p) {
    std::printf("%-7s next TLS index %lu, next global atom %u, next class atom %u\n", when,
                static_cast<unsigned long>(p.tls), p.global_atom, p.class_atom);
    zvtest::print("", p.usage);
}

} // namespace

int main(int argc, char** argv) {
    const long cycles = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
    CoInitialize(nullptr);
    const std::wstring path = zvtest::ocx_path();
    HWND parent = CreateWindowExW(0, L"STATIC", L"zorvane lifecycle", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                  nullptr, nullptr, nullptr);
    const bool gdi_table = zvtest::gdi_table_counts();
    {
        zvtest::window_closer about_boxes(L"О контроле...");
        const long warm_up = 2 * heavy_every;  // the system's own first-use allocations: COM, the clipboard, fonts
        for (long n = 0; n < warm_up; ++n) cycle(n, path, parent);
        const probes before = probe(gdi_table);
        print("before", before);
        const DWORD start = GetTickCount();
        for (long n = warm_up; n < warm_up + cycles; ++n) {
            cycle(n, path, parent);
            if ((n - warm_up + 1) % 1000 == 0)
                std::printf("  %ld cycles, next TLS index %lu\n", n - warm_up + 1,
                            static_cast<unsigned long>(zvtest::next_tls_index()));
        }
        const double seconds = (GetTickCount() - start) / 1000.0;
        const probes after = probe(gdi_table);
        print("after", after);
        std::printf("%ld cycles in %.1f s (%.2f ms each); About boxes closed %d\n", cycles, seconds,
                    1000.0 * seconds / cycles, about_boxes.closed());

        auto grew = [](const char* what, long long b, long long a) {
            if (a != b) {
                ++failures;
                std::printf("FAIL %s moved from %lld to %lld\n", what, b, a);
            }
        };
        grew("next TLS index", before.tls, after.tls);
        grew("next global atom", before.global_atom, after.global_atom);
        grew("next class atom", before.class_atom, after.class_atom);
        grew("GDI objects (GetGuiResources)", before.usage.gdi, after.usage.gdi);
        grew("GDI objects (handle table)", before.usage.gdi_table, after.usage.gdi_table);
        grew("USER objects (GetGuiResources)", before.usage.user, after.usage.user);
        grew("windows", before.usage.windows, after.usage.windows);
        grew("handles (probed)", before.usage.probed_handles, after.usage.probed_handles);
        const long long memory = static_cast<long long>(after.usage.private_walked) -
                                 static_cast<long long>(before.usage.private_walked);
        std::printf("private memory: %+lld bytes over %ld cycles\n", memory, cycles);
        if (memory > 1 << 20) {
            ++failures;
            std::printf("FAIL private memory grew by more than 1 MB\n");
        }
    }
    DestroyWindow(parent);
    CoUninitialize();
    std::printf("%s: %d failing checks\n", failures ? "FAILED" : "PASSED", failures);
    return failures ? 1 : 0;
}
