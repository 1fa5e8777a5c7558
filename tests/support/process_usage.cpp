// Counting what the test process holds.
#include "support/process_usage.h"

#include <psapi.h>
#include <winternl.h>

#include <cstdint>
#include <cstdio>

namespace zvtest {
namespace {

bool running_on_wine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

BOOL CALLBACK count_window(HWND window, LPARAM counter) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
        ++*reinterpret_cast<long*>(counter);
        EnumChildWindows(window, &count_window, counter);
    }
    return TRUE;
}

// Windows of this process, top-level, child and message-only: the USER objects that can be counted everywhere.
long windows_of_process() {
    long count = 0;
    EnumWindows(&count_window, reinterpret_cast<LPARAM>(&count));
    for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
         w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr))
        count_window(w, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Handles counted by asking the system about every handle value in turn (Wine's GetProcessHandleCount says 0).
long handles_by_probing() {
    long count = 0;
    for (ULONG_PTR value = 4; value < 4 * 16384; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

// Committed private memory, summed over the address space.
SIZE_T private_by_walking() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (BYTE* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);
         at = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        if (static_cast<BYTE*>(region.BaseAddress) + region.RegionSize < at) break;
    }
    return total;
}

} // namespace

// GDI objects counted in the handle table the system maps into every process (PEB GdiSharedHandleTable), in the
// layout Wine uses: 24-byte entries, the object type at byte 14. -1 where that table cannot be read.
long gdi_objects_by_table() {
    if (!running_on_wine()) return -1;
    PROCESS_BASIC_INFORMATION basic{};
    if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0)
        return -1;
    auto* peb = reinterpret_cast<BYTE*>(basic.PebBaseAddress);
    const BYTE* table = *reinterpret_cast<BYTE**>(peb + (sizeof(void*) == 8 ? 0xF8 : 0x94));
    if (!table) return -1;
    long count = 0;
    for (unsigned i = 0; i < 0x10000; ++i) {
        const BYTE* entry = table + i * 24;
        if (entry[14] != 0 && *reinterpret_cast<const std::uint64_t*>(entry) != 0) ++count;
    }
    return count;
}

// True when the table count follows objects being made and deleted.
bool gdi_table_counts() {
    const long before = gdi_objects_by_table();
    if (before < 0) return false;
    HBRUSH brushes[5];
    for (auto& b : brushes) b = CreateSolidBrush(RGB(1, 2, 3));
    const long during = gdi_objects_by_table();
    for (auto& b : brushes) DeleteObject(b);
    return during == before + 5 && gdi_objects_by_table() == before;
}

usage measure(bool table) {
    usage u;
    u.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    u.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    GetProcessHandleCount(GetCurrentProcess(), &u.handles);
    u.gdi_table = table ? gdi_objects_by_table() : -1;
    u.windows = windows_of_process();
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    u.private_bytes = memory.PrivateUsage;
    u.probed_handles = handles_by_probing();
    u.private_walked = private_by_walking();
    return u;
}

void print(const char* when, const usage& u) {
    std::printf("%-7s GDI objects %lu (GetGuiResources), %ld (handle table); USER objects %lu (GetGuiResources), "
                "%ld windows;\n        handles %lu (GetProcessHandleCount), %ld (probed); private bytes %llu "
                "(PrivateUsage), %llu (committed private regions)\n",
                when, u.gdi, u.gdi_table, u.user, u.windows, u.handles, u.probed_handles,
                static_cast<unsigned long long>(u.private_bytes), static_cast<unsigned long long>(u.private_walked));
}

DWORD next_tls_index() {
    const DWORD index = TlsAlloc();
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
    return index;
}

ATOM next_global_atom() {
    const ATOM atom = GlobalAddAtomW(L"zorvane lifecycle probe");
    if (atom) GlobalDeleteAtom(atom);
    return atom;
}

ATOM next_class_atom() {
    WNDCLASSW c{};
    c.lpfnWndProc = &DefWindowProcW;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"zorvane lifecycle probe";
    const ATOM atom = RegisterClassW(&c);
    if (atom) UnregisterClassW(c.lpszClassName, c.hInstance);
    return atom;
}

} // namespace zvtest
