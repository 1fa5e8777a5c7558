// Fault injection: every import of the OCX whose failure Windows documents fails in turn, at each of its calls,
// under every way of calling the control; the OCX must live, keep its failure convention, leave nothing behind and
// answer normally when called again.
//
//   zorvane_faults.exe [--seed-run | --all | --random N SEED] [--only <shape>] [--import <name>]
//
// A shape is one way of calling the control (a method through Invoke or through its entry in the table of
// functions, the class factory, the container interfaces, registration). Each shape runs once with every import
// counting its calls; then, for an import called c times, each trial fails call k (--all: k = 1..c, --seed-run:
// k = 1 and k = c) the way Windows documents that function failing, and checks: the process lives; the method's
// convention holds (report: S_OK and at most one "Ошибка" box, with the number and description of the cause
// whenever the result is not the normal one; skip: S_OK and no box; raise: the normal result, or the classic error
// of the cause through IErrorInfo or EXCEPINFO; the other interfaces: the normal result, or a failed HRESULT at the
// first step that differs); nothing is left behind (GDI objects, windows, handles, blocks from the OCX's malloc,
// BSTRs from its SysAllocString* where the caller receives them, references to the control and its pictures, files
// in the scratch folder that a normal run does not write); and the shape run again without a failure gives the
// normal result. --random runs N shapes whose every counted call fails with probability 1/20, each replayed
// without failure. The program runs its trials in a child process of itself, so that a crash ends one trial.
#include "support/client_site.h"
#include "support/iat_hook.h"
#include "support/neutralised.h"
#include "support/ocx.h"
#include "support/process_usage.h"
#include "support/published.h"
#include "support/random_source.h"
#include "support/surface.h"
#include "support/window_closer.h"
#include "support/call_outcome.h"
#include "support/dispatch_call.h"
#include "library/errors.h"

#include <windows.h>
#include <oleauto.h>
#include <olectl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

using zvtest::random_source;  // splitmix64, as the fuzzer's

// ---- the imports and their stand-ins ------------------------------------------------------------------------------

enum class fails_as : unsigned char { zero, value, invalid_handle, never };
enum class tracks : unsigned char { none, block, reblock, unblock, text, untext, unhandle, abort };
enum : unsigned { effect = 1, lookup = 2 };  // succeeded calls belong to the result; found by GetProcAddress

struct import_row {
    const char* dll;
    const char* name;
    fails_as how;
    long value;   // the HRESULT, LSTATUS or other answer of a failure (fails_as::value)
    DWORD error;  // the last error a failure leaves (0: none)
    long number;  // the classic error number a caller is told for it
    long also;    // another number that tells the cause as truly (0: none)
    unsigned flags;
    tracks track;
    int handle_at;  // where a handle it makes is: -1 nowhere, -2 its result, n the argument n points to it,
                    // 100 + n argument n is a PROCESS_INFORMATION
    const void* stand_in;
    const void* original = nullptr;
    long calls = 0;
    bool failed = false;  // made to fail in this run
};

extern import_row imports[];

// What the running trial does with the calls of its thread.
struct trial_state {
    DWORD thread = 0;
    bool counting = false;  // the shape's own calls are running: count, fail, note effects
    const import_row* armed = nullptr;
    long armed_at = 0;
    bool fired = false;
    long failures = 0;  // calls made to fail in this run
    bool random = false;
    random_source chance{0};
    DWORD started = 0;        // when the trial began, for the watchdog
    unsigned generation = 0;  // blocks and strings made now belong to this trial
    std::string effects;
} run;

SRWLOCK track_lock = SRWLOCK_INIT;
std::unordered_map<void*, unsigned> live_blocks, live_texts,
    live_handles;  // what the OCX made and has not freed, by trial
char current_trial[512] = "start-up";

void say_crash(const char* what) {
    char line[700];
    const int n = std::snprintf(line, sizeof(line), "CRASH %s in %s\n", what, current_trial);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(n), &written, nullptr);
    TerminateProcess(GetCurrentProcess(), 4);
}

bool on_trial_thread() noexcept { return run.counting && GetCurrentThreadId() == run.thread; }

bool fail_now(import_row& row) noexcept {
    if (!on_trial_thread() || row.how == fails_as::never) return false;
    ++row.calls;
    if (run.random ? run.chance.next() % 20 != 0 : &row != run.armed || row.calls != run.armed_at) return false;
    run.fired = row.failed = true;
    ++run.failures;
    return true;
}

template <typename R>
R failure_of(const import_row& row) noexcept {
    if (row.error) SetLastError(row.error);
    if constexpr (std::is_pointer_v<R>) {
        if (row.how == fails_as::invalid_handle) return reinterpret_cast<R>(INVALID_HANDLE_VALUE);
        return reinterpret_cast<R>(static_cast<INT_PTR>(row.how == fails_as::value ? row.value : 0));
    } else {
        return static_cast<R>(row.how == fails_as::value ? row.value : 0);
    }
}

template <typename R>
bool succeeded(const import_row& row, R result) noexcept {
    if constexpr (std::is_pointer_v<R>)
        return row.how == fails_as::value ? reinterpret_cast<INT_PTR>(result) > 32 : result != nullptr;
    else
        return row.how == fails_as::value ? (row.value < 0 ? static_cast<long>(result) >= 0 : result == 0)
                                          : result != 0;
}

template <typename T>
void* address_of(T v) noexcept {
    if constexpr (std::is_function_v<std::remove_pointer_t<T>>)
        return reinterpret_cast<void*>(v);
    else
        return const_cast<void*>(static_cast<const void*>(v));
}

template <typename T>
void* address_of_any(T v) noexcept {
    if constexpr (std::is_pointer_v<T>)
        return address_of(v);
    else
        return nullptr;
}

template <typename... A>
void* first_pointer(A... a) noexcept {
    void* first = nullptr;
    auto take = [&](auto v) {
        if constexpr (std::is_pointer_v<decltype(v)>)
            if (!first) first = address_of(v);
    };
    (take(a), ...);
    (void)take;
    return first;
}

void note(std::unordered_map<void*, unsigned>& map, void* p, unsigned generation) {
    AcquireSRWLockExclusive(&track_lock);
    if (p) map[p] = generation;
    ReleaseSRWLockExclusive(&track_lock);
}
unsigned forget(std::unordered_map<void*, unsigned>& map, void* p) {
    AcquireSRWLockExclusive(&track_lock);
    unsigned generation = 0;
    if (auto found = map.find(p); found != map.end()) {
        generation = found->second;
        map.erase(found);
    }
    ReleaseSRWLockExclusive(&track_lock);
    return generation;
}

// Every stand-in: counts the call, fails it when armed, else passes it on; notes blocks, strings and effects.
const void* lookup_in_no_module = nullptr;  // GetProcAddress's stand-in

template <int I, typename R, typename F, typename... A>
R answer(A... a) {
    import_row& row = imports[I];
    if (row.track == tracks::abort) say_crash("(abort)");
    if (fail_now(row)) return failure_of<R>(row);
    if constexpr (sizeof...(A) == 2) {  // a lookup in no module (a failed GetModuleHandleW) finds nothing
        void* const args[] = {address_of_any(a)...};
        if (row.stand_in == lookup_in_no_module && !args[0]) return failure_of<R>(row);
    }
    void* const old = first_pointer(a...);
    if constexpr (std::is_void_v<R>) {
        reinterpret_cast<F>(row.original)(a...);
        if (row.track == tracks::unblock) forget(live_blocks, old);
        if (row.track == tracks::untext) forget(live_texts, old);
    } else if (row.track == tracks::unhandle) {
        forget(live_handles, first_pointer(a...));
        return reinterpret_cast<F>(row.original)(a...);
    } else {
        R result = reinterpret_cast<F>(row.original)(a...);
        if constexpr (std::is_pointer_v<R>) {
            void* made = address_of(result);
            if (row.track == tracks::block) note(live_blocks, made, run.generation);
            if (row.track == tracks::reblock && made)
                note(live_blocks, made, old ? forget(live_blocks, old) : run.generation);
            if (row.track == tracks::text) note(live_texts, made, run.generation);
        }
        if ((row.flags & effect) && on_trial_thread() && succeeded(row, result))
            run.effects += std::string(row.name) + " ";
        if (row.handle_at != -1 && succeeded(row, result)) {
            void* const args[] = {address_of_any(a)..., nullptr};
            if (row.handle_at == -2)
                note(live_handles, address_of_any(result), run.generation);
            else if (row.handle_at >= 100) {
                const auto* process = static_cast<const PROCESS_INFORMATION*>(args[row.handle_at - 100]);
                note(live_handles, process->hProcess, run.generation);
                note(live_handles, process->hThread, run.generation);
            } else {
                note(live_handles, *static_cast<void**>(args[row.handle_at]), run.generation);
            }
        }
        return result;
    }
}

template <int I, typename R, typename... A>
R WINAPI stdcall_answer(A... a) {
    return answer<I, R, R(WINAPI*)(A...)>(a...);
}
template <int I, typename R, typename... A>
const void* stand_in(R(WINAPI*)(A...)) {
    return reinterpret_cast<const void*>(&stdcall_answer<I, R, A...>);
}
#if !defined(_WIN64)
template <int I, typename R, typename... A>
R __cdecl cdecl_answer(A... a) {
    return answer<I, R, R(__cdecl*)(A...)>(a...);
}
template <int I, typename R, typename... A>
const void* stand_in(R(__cdecl*)(A...)) {
    return reinterpret_cast<const void*>(&cdecl_answer<I, R, A...>);
}
#endif

using set_thread_dpi_awareness = void*(WINAPI*)(void*);
using get_apartment_type = HRESULT(WINAPI*)(APTTYPE*, APTTYPEQUALIFIER*);
using register_for_user = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using var_cmp = HRESULT(WINAPI*)(LPVARIANT, LPVARIANT, LCID, ULONG);
using unregister_for_user = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// Where the imports that make handles put them.
constexpr int handle_of(std::string_view name) {
    return name == "CreateFileW"        ? -2
           : name == "OpenProcessToken" ? 2
           : name == "RegOpenKeyExW"    ? 4
           : name == "RegCreateKeyExW"  ? 7
           : name == "CreateProcessW"   ? 109
                                        : -1;
}

constexpr int first_row = __COUNTER__ + 1;
#define ZV_TEXT2(x) #x
#define ZV_TEXT(x) ZV_TEXT2(x)
#define ROW_OF(dll, name, type, how, value, error, number, also, flags, track)                       \
    import_row {                                                                                     \
        dll, name, fails_as::how, value, error, number, also, flags, tracks::track, handle_of(name), \
            stand_in<__COUNTER__ - first_row>(static_cast<type>(nullptr))                            \
    }
#define ROW(dll, fn, how, value, error, number, also, flags, track) \
    ROW_OF(dll, ZV_TEXT(fn), decltype(&fn), how, value, error, number, also, flags, track)

constexpr DWORD no_memory = ERROR_NOT_ENOUGH_MEMORY, denied = ERROR_ACCESS_DENIED,
                bad_window = ERROR_INVALID_WINDOW_HANDLE;

// Each import whose failure Windows documents, failing as documented: value or zero, and the last error it leaves.
// `number` is the classic error a caller should then be told (7 Out of memory, 61 Disk full, 75 Path/File access
// error, 5 Invalid procedure call, 71 Disk not ready, 481 Invalid picture).
import_row imports[] = {
    ROW("kernel32.dll", CloseHandle, never, 0, 0, 0, 0, 0, unhandle),
    ROW("advapi32.dll", RegCloseKey, never, 0, 0, 0, 0, 0, unhandle),
    ROW("kernel32.dll", CompareStringOrdinal, zero, 0, ERROR_INVALID_PARAMETER, 5, 0, 0, none),
    ROW("kernel32.dll", CreateDirectoryW, zero, 0, denied, 75, 0, effect, none),
    ROW("kernel32.dll", CreateFileW, invalid_handle, 0, denied, 75, 0, 0, none),
    ROW("kernel32.dll", CreateProcessW, zero, 0, no_memory, 7, 0, effect, none),
    ROW("kernel32.dll", FindResourceW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", FormatMessageW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", GetLocaleInfoW, zero, 0, ERROR_INVALID_PARAMETER, 5, 0, 0, none),
    ROW("kernel32.dll", GetModuleFileNameW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", GetFileAttributesW, value, -1, denied, 75, 0, 0, none),  // INVALID_FILE_ATTRIBUTES
    ROW("kernel32.dll", GetFileType, zero, 0, denied, 75, 0, 0, none),
    ROW("kernel32.dll", MoveFileExW, zero, 0, denied, 75, 0, 0, none),
    ROW("kernel32.dll", GetModuleHandleW, zero, 0, ERROR_MOD_NOT_FOUND, 7, 0, 0, none),
    ROW("kernel32.dll", GetProcAddress, zero, 0, ERROR_PROC_NOT_FOUND, 453, 7, 0, none),
    ROW("kernel32.dll", GetSystemDirectoryW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", GetTempPathW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", GetVolumeInformationW, zero, 0, ERROR_NOT_READY, 71, 0, 0, none),
    ROW("kernel32.dll", GetWindowsDirectoryW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", GlobalAlloc, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", GlobalLock, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", GlobalMemoryStatusEx, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", HeapAlloc, zero, 0, 0, 7, 0, 0, none),
    ROW("kernel32.dll", LoadLibraryW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", LoadResource, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", LockResource, zero, 0, 0, 7, 0, 0, none),
    ROW("kernel32.dll", SizeofResource, zero, 0, no_memory, 7, 0, 0, none),
    ROW("kernel32.dll", WriteFile, zero, 0, ERROR_DISK_FULL, 61, 0, 0, none),
    ROW("msvcrt.dll", malloc, zero, 0, 0, 7, 0, 0, block),
    ROW("msvcrt.dll", calloc, zero, 0, 0, 7, 0, 0, block),
    ROW("msvcrt.dll", realloc, zero, 0, 0, 7, 0, 0, reblock),
    ROW("msvcrt.dll", free, never, 0, 0, 0, 0, 0, unblock),
    ROW("msvcrt.dll", abort, never, 0, 0, 0, 0, 0, abort),
    ROW("advapi32.dll", AdjustTokenPrivileges, zero, 0, denied, 75, 0, 0, none),
    ROW("advapi32.dll", LookupPrivilegeValueW, zero, 0, ERROR_NO_SUCH_PRIVILEGE, 5, 0, 0, none),
    ROW("advapi32.dll", OpenProcessToken, zero, 0, denied, 75, 0, 0, none),
    ROW("advapi32.dll", RegCreateKeyExW, value, ERROR_ACCESS_DENIED, 0, 75, 0, 0, none),
    ROW("advapi32.dll", RegDeleteKeyW, value, ERROR_ACCESS_DENIED, 0, 75, 0, 0, none),
    ROW("advapi32.dll", RegDeleteValueW, value, ERROR_ACCESS_DENIED, 0, 75, 0, effect, none),
    ROW("advapi32.dll", RegOpenKeyExW, value, ERROR_ACCESS_DENIED, 0, 75, 0, 0, none),
    ROW("advapi32.dll", RegQueryInfoKeyW, value, ERROR_ACCESS_DENIED, 0, 75, 0, 0, none),
    ROW("advapi32.dll", RegQueryValueExW, value, ERROR_ACCESS_DENIED, 0, 75, 0, 0, none),
    ROW("advapi32.dll", RegSetValueExW, value, ERROR_ACCESS_DENIED, 0, 75, 0, effect, none),
    ROW("user32.dll", AdjustWindowRectEx, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", BeginPaint, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", CloseClipboard, zero, 0, ERROR_CLIPBOARD_NOT_OPEN, 7, 0, 0, none),
    ROW("user32.dll", CreateWindowExW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", EmptyClipboard, zero, 0, ERROR_CLIPBOARD_NOT_OPEN, 7, 0, 0, none),
    ROW("user32.dll", EnumWindows, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", ExitWindowsEx, zero, 0, denied, 75, 0, 0, none),
    ROW("user32.dll", FindWindowExW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", GetClassNameW, zero, 0, bad_window, 5, 0, 0, none),
    ROW("user32.dll", GetClientRect, zero, 0, bad_window, 5, 0, 0, none),
    ROW("user32.dll", GetCursorPos, zero, 0, denied, 75, 0, 0, none),
    ROW("user32.dll", GetDC, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", GetMessageW, value, -1, bad_window, 5, 0, 0, none),
    ROW("user32.dll", GetWindowLongPtrA, zero, 0, bad_window, 5, 0, 0, none),
    ROW("user32.dll", GetWindowLongPtrW, zero, 0, bad_window, 5, 0, 0, none),
    ROW("user32.dll", GetWindowRect, zero, 0, bad_window, 5, 0, 0, none),
    ROW("user32.dll", GetWindowThreadProcessId, zero, 0, bad_window, 5, 0, 0, none),
    ROW("user32.dll", LoadCursorW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", MessageBoxW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", OpenClipboard, zero, 0, denied, 75, 0, 0, none),
    ROW("user32.dll", RegisterClassW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", SetClipboardData, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", SetCursorPos, zero, 0, denied, 75, 0, 0, none),
    ROW("user32.dll", SetPropW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("user32.dll", SetWindowLongPtrA, zero, 0, denied, 75, 0, 0, none),
    ROW("user32.dll", SetWindowLongPtrW, zero, 0, denied, 75, 0, 0, none),
    ROW("user32.dll", SetWindowPos, zero, 0, bad_window, 5, 0, 0, none),
    ROW("user32.dll", SystemParametersInfoW, zero, 0, denied, 75, 0, effect, none),
    ROW("gdi32.dll", BitBlt, zero, 0, no_memory, 7, 0, 0, none),
    ROW("gdi32.dll", CreateCompatibleBitmap, zero, 0, no_memory, 7, 0, 0, none),
    ROW("gdi32.dll", CreateCompatibleDC, zero, 0, no_memory, 7, 0, 0, none),
    ROW("gdi32.dll", CreateDCW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("gdi32.dll", CreateFontIndirectW, zero, 0, no_memory, 7, 0, 0, none),
    ROW("gdi32.dll", GetDIBits, zero, 0, no_memory, 7, 481, 0, none),
    ROW("gdi32.dll", GetObjectW, zero, 0, no_memory, 481, 7, 0, none),
    ROW("gdi32.dll", PatBlt, zero, 0, no_memory, 7, 0, 0, none),
    ROW("gdi32.dll", SelectObject, zero, 0, no_memory, 7, 0, 0, none),
    ROW("oleaut32.dll", CreateErrorInfo, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("oleaut32.dll", LoadTypeLibEx, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("oleaut32.dll", OleCreatePictureIndirect, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("oleaut32.dll", OleLoadPicture, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("oleaut32.dll", RegisterTypeLib, value, TYPE_E_REGISTRYACCESS, 0, 0, 0, 0, none),
    ROW_OF("oleaut32.dll", "RegisterTypeLibForUser", register_for_user, value, TYPE_E_REGISTRYACCESS, 0, 0, 0, 0, none),
    ROW("oleaut32.dll", SysAllocString, zero, 0, 0, 7, 0, 0, text),
    ROW("oleaut32.dll", SysAllocStringLen, zero, 0, 0, 7, 0, 0, text),
    ROW("oleaut32.dll", SysFreeString, never, 0, 0, 0, 0, 0, untext),
    ROW("oleaut32.dll", UnRegisterTypeLib, value, TYPE_E_REGISTRYACCESS, 0, 0, 0, 0, none),
    ROW_OF("oleaut32.dll", "UnRegisterTypeLibForUser", unregister_for_user, value, TYPE_E_REGISTRYACCESS, 0, 0, 0, 0,
           none),
    ROW_OF("oleaut32.dll", "VarCmp", var_cmp, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("oleaut32.dll", VariantChangeType, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("oleaut32.dll", VariantChangeTypeEx, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("oleaut32.dll", VariantCopy, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("oleaut32.dll", VariantCopyInd, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("ole32.dll", CLSIDFromProgID, value, CO_E_CLASSSTRING, 0, 0, 0, 0, none),
    ROW("ole32.dll", CoCreateInstance, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("ole32.dll", CoInitializeEx, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("ole32.dll", CreateOleAdviseHolder, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("ole32.dll", CreateStreamOnHGlobal, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("ole32.dll", OleRegEnumVerbs, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("ole32.dll", OleRegGetUserType, value, E_OUTOFMEMORY, 0, 7, 0, 0, none),
    ROW("shell32.dll", ShellExecuteExW, zero, 0, no_memory, 7, 0, effect | lookup, none),
    ROW_OF("user32.dll", "SetThreadDpiAwarenessContext", set_thread_dpi_awareness, zero, 0, ERROR_INVALID_PARAMETER, 5,
           0, lookup, none),
    ROW_OF("ole32.dll", "CoGetApartmentType", get_apartment_type, value, E_FAIL, 0, 0, 0, lookup, none),
};

// Imports left out, with the reason their failure cannot happen or cannot be seen.
const std::pair<const char*, const char*> left_out[] = {
    {"AcquireSRWLockExclusive", "cannot fail"},
    {"ReleaseSRWLockExclusive", "cannot fail"},
    {"InitializeCriticalSection", "cannot fail since Windows Vista"},
    {"EnterCriticalSection", "cannot fail since Windows Vista"},
    {"LeaveCriticalSection", "cannot fail"},
    {"DeleteCriticalSection", "cannot fail"},
    {"FreeLibrary", "the reference is given up whatever it answers"},
    {"GetCurrentProcess", "cannot fail"},
    {"GetCurrentProcessId", "cannot fail"},
    {"GetCurrentThreadId", "cannot fail"},
    {"GetLastError", "cannot fail"},
    {"SetLastError", "cannot fail"},
    {"GetProcessHeap", "cannot fail"},
    {"GetSystemInfo", "returns nothing: cannot fail"},
    {"GlobalFree", "freeing"},
    {"GlobalUnlock", "0 is also its answer for an unlocked block"},
    {"HeapFree", "freeing"},
    {"LocalFree", "freeing"},
    {"MulDiv", "-1 only on overflow, which the library's numbers never reach"},
    {"RaiseException", "the runtime's exception throwing"},
    {"RtlCaptureContext", "the runtime's exception unwinding"},
    {"RtlLookupFunctionEntry", "the runtime's exception unwinding"},
    {"RtlUnwindEx", "the runtime's exception unwinding"},
    {"RtlVirtualUnwind", "the runtime's exception unwinding"},
    {"Sleep", "cannot fail"},
    {"SwitchToThread", "0 is an ordinary answer"},
    {"TlsAlloc", "called at load, before any hook"},
    {"TlsFree", "called at unload"},
    {"TlsGetValue", "fails only for an index never allocated"},
    {"TlsSetValue", "fails only beyond the first 64 slots; the library's is one of them"},
    {"VirtualProtect", "the runtime's relocation at load, before any hook"},
    {"VirtualQuery", "the runtime's relocation at load"},
    {"lstrcmpW", "cannot fail"},
    {"iswalpha", "cannot fail"},
    {"GetWindow", "NULL is an ordinary answer: no such window"},
    {"PeekMessageW", "0 is an ordinary answer: no message waits"},
    {"MsgWaitForMultipleObjects", "a wait that fails ends early, and the loop asks again"},
    {"DeleteFileW", "removes a file the library made after a failure; nothing more can be done when it cannot"},
    {"ExpandEnvironmentStringsW", "a name it cannot expand is compared as it stands"},
    {"GetFullPathNameW", "a name it cannot make full is compared as it stands"},
    {"GetLongPathNameW", "fails for a file that is gone; the name is then compared as it stands"},
    {"lstrcpynW", "fails only on a bad pointer"},
    {"GetModuleHandleA", "the runtime's look for a shared unwinder at load and unload"},
    {"LoadLibraryA", "the runtime's look for a shared unwinder at load"},
    {"GetVersionExW", "asked only when RtlGetVersion fails"},
    {"RtlGetVersion", "documented to answer STATUS_SUCCESS"},
    {"__iob_func", "the runtime's own"},
    {"_iob", "the runtime's own"},
    {"_amsg_exit", "the runtime's own"},
    {"_initterm", "the runtime's start-up"},
    {"_lock", "the runtime's own"},
    {"_unlock", "the runtime's own"},
    {"fwrite", "the runtime's message before it aborts"},
    {"vfprintf", "the runtime's message before it aborts"},
    {"memcmp", "cannot fail"},
    {"memmove", "cannot fail"},
    {"strcmp", "cannot fail"},
    {"strlen", "cannot fail"},
    {"strncmp", "cannot fail"},
    {"towlower", "cannot fail"},
    {"wcslen", "cannot fail"},
    {"CallWindowProcA", "answers the procedure's own result"},
    {"CallWindowProcW", "answers the procedure's own result"},
    {"DefWindowProcA", "answers the message's result"},
    {"DefWindowProcW", "answers the message's result"},
    {"DestroyAcceleratorTable", "freeing"},
    {"DestroyWindow", "fails only for another thread's window or one already gone"},
    {"DispatchMessageW", "answers the procedure's own result"},
    {"TranslateMessage", "0 is an ordinary answer"},
    {"EnableWindow", "answers the earlier state"},
    {"EndPaint", "always answers TRUE"},
    {"EnumThreadWindows", "answers what the callback answered"},
    {"FillRect", "painting: nothing a caller can be told"},
    {"GetActiveWindow", "NULL is an ordinary answer"},
    {"GetDesktopWindow", "cannot fail"},
    {"GetDlgCtrlID", "0 is an ordinary answer"},
    {"GetDlgItem", "NULL is an ordinary answer"},
    {"GetFocus", "NULL is an ordinary answer"},
    {"GetParent", "NULL is an ordinary answer"},
    {"GetPropW", "NULL is an ordinary answer"},
    {"GetSysColorBrush", "fails only for a colour the system lacks"},
    {"GetSystemMetrics", "0 only for an unknown index"},
    {"IntersectRect", "0 is an ordinary answer"},
    {"IsDialogMessageW", "a yes or no"},
    {"IsWindow", "a yes or no"},
    {"IsWindowEnabled", "a yes or no"},
    {"IsWindowUnicode", "a yes or no"},
    {"IsWindowVisible", "a yes or no"},
    {"MapWindowPoints", "0 is also the answer for windows at the same origin"},
    {"PostQuitMessage", "returns nothing"},
    {"ReleaseDC", "the DC is given up whatever it answers"},
    {"RemovePropW", "NULL only when the property is not there"},
    {"SendMessageW", "answers the procedure's own result"},
    {"SetActiveWindow", "NULL is an ordinary answer"},
    {"SetFocus", "NULL is an ordinary answer"},
    {"ShowWindow", "answers the earlier visibility"},
    {"UnregisterClassW", "called at unload"},
    {"UpdateWindow", "a window not painted now is painted by its next WM_PAINT"},
    {"WinHelpW", "asked only from the About box's ? button; its answer is documented not to matter"},
    {"GetWindowLongA", "see GetWindowLongPtrA"},
    {"GetWindowLongW", "see GetWindowLongPtrW"},
    {"DeleteDC", "freeing"},
    {"DeleteObject", "freeing"},
    {"GdiFlush", "only flushes the batch"},
    {"GetDeviceCaps", "0 only for an unknown index"},
    {"SetBkMode", "painting: nothing a caller can be told"},
    {"SetTextColor", "painting: nothing a caller can be told"},
    {"GetErrorInfo", "answers S_OK or S_FALSE"},
    {"SetErrorInfo", "documented to answer S_OK"},
    {"SysStringLen", "cannot fail"},
    {"VariantClear", "freeing"},
    {"VariantInit", "returns nothing"},
    {"CoUninitialize", "returns nothing"},
    {"StringFromGUID2", "fails only for a buffer under 39 characters; the library's holds 40"},
    {"CLSIDFromString", "reads back a GUID the library wrote with StringFromGUID2"},
};

import_row* row_named(const std::string& name) {
    for (auto& row : imports)
        if (name == row.name) return &row;
    return nullptr;
}

// Every import of the OCX must be in one of the two tables; prints and counts those that are not.
int unlisted_imports(HMODULE module) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int unlisted = 0;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d)
        for (auto* t = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk); t->u1.AddressOfData; ++t) {
            if (IMAGE_SNAP_BY_ORDINAL(t->u1.Ordinal)) continue;
            const std::string name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + t->u1.AddressOfData)->Name;
            if (row_named(name) ||
                std::any_of(std::begin(left_out), std::end(left_out), [&](const auto& l) { return name == l.first; }))
                continue;
            std::printf("UNLISTED import %s!%s: add it to the imports or to those left out\n",
                        reinterpret_cast<char*>(base + d->Name), name.c_str());
            ++unlisted;
        }
    return unlisted;
}

// The hooks, in the order they are placed; removed in reverse.
struct hooks {
    zvtest::neutralised neutral;
    std::vector<std::unique_ptr<zvtest::procedure_hook>> lookups;
    std::vector<std::unique_ptr<zvtest::iat_hook>> slots;
    explicit hooks(const std::wstring& scratch) : neutral(scratch) {
        for (auto& row : imports) {
            if (!(row.flags & lookup)) continue;
            row.original = std::strcmp(row.name, "ShellExecuteExW") == 0
                               ? reinterpret_cast<const void*>(&zvtest::neutralised_detail::no_shell)
                               : reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleA(row.dll), row.name));
            if (row.original)
                lookups.push_back(std::make_unique<zvtest::procedure_hook>(zvtest::ocx(), row.name, row.stand_in));
            else
                std::printf("note: %s has no %s here; not hooked\n", row.dll, row.name);
        }
        lookup_in_no_module = row_named("GetProcAddress")->stand_in;
        for (auto& row : imports) {
            if (row.flags & lookup) continue;
            try {
                slots.push_back(std::make_unique<zvtest::iat_hook>(zvtest::ocx(), row.dll, row.name, row.stand_in));
                row.original = slots.back()->original<const void*>();
            } catch (const std::exception&) {  // not imported by this build
            }
        }
    }
    ~hooks() {
        while (!slots.empty()) slots.pop_back();
        while (!lookups.empty()) lookups.pop_back();
    }
};

// ---- what a run shows -----------------------------------------------------------------------------------------

// Closes every "Ошибка" box as it appears and keeps its text.
class box_watcher final {
public:
    box_watcher()
        : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_(CreateThread(nullptr, 0, &watch, this, 0, nullptr)) {}
    box_watcher(const box_watcher&) = delete;
    box_watcher& operator=(const box_watcher&) = delete;
    ~box_watcher() {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(stop_);
    }
    std::vector<std::wstring> take() {
        AcquireSRWLockExclusive(&lock_);
        std::vector<std::wstring> out;
        out.swap(seen_);
        ReleaseSRWLockExclusive(&lock_);
        return out;
    }

private:
    static DWORD WINAPI watch(void* p) {
        auto* self = static_cast<box_watcher*>(p);
        while (WaitForSingleObject(self->stop_, 2) == WAIT_TIMEOUT) {
            HWND box = FindWindowW(L"#32770", L"Ошибка");
            if (!box || !IsWindowVisible(box)) continue;
            wchar_t text[1024] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            AcquireSRWLockExclusive(&self->lock_);
            self->seen_.push_back(text);
            ReleaseSRWLockExclusive(&self->lock_);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
            for (int i = 0; i < 1000 && IsWindow(box); ++i) Sleep(2);
        }
        return 0;
    }
    HANDLE stop_;
    HANDLE thread_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<std::wstring> seen_;
};

std::string narrow(const std::wstring& text) { return zvtest::text_of(text.c_str(), text.size()); }

std::uint64_t fnv(const void* data, size_t size, std::uint64_t h = 0xcbf29ce484222325ull) {
    for (size_t i = 0; i < size; ++i) h = (h ^ static_cast<const BYTE*>(data)[i]) * 0x100000001b3ull;
    return h;
}

std::wstring scratch;  // the folder the OCX may write in, with its trailing backslash

// The files and folders under the scratch folder: "name size hash" and "name/"; without `exact`, a file's content
// is not told (a whole-screen capture's pixels vary) and a PNG's size neither.
void list_folder(const std::wstring& relative, std::vector<std::string>& out, bool exact) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((scratch + relative + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(narrow(relative + name) + "/");
            list_folder(relative + name + L"\\", out, exact);
            continue;
        }
        std::vector<BYTE> bytes(found.nFileSizeLow);
        HANDLE file = CreateFileW((scratch + relative + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        DWORD read = 0;
        if (file != INVALID_HANDLE_VALUE) {
            ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
            CloseHandle(file);
        }
        char hash[32];
        std::snprintf(hash, sizeof(hash), " %lu %016llx", found.nFileSizeLow,
                      static_cast<unsigned long long>(fnv(bytes.data(), read)));
        const bool sized = exact || name.size() < 4 || name.substr(name.size() - 4) != L".png";
        out.push_back(narrow(relative + name) + (exact ? hash : sized ? " " + std::to_string(found.nFileSizeLow) : ""));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void empty_folder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            empty_folder(folder + name + L"\\");
            RemoveDirectoryW((folder + name).c_str());
        } else {
            DeleteFileW((folder + name).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// A registry key with its values and subkeys, as text.
std::string export_key(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    std::string out = narrow(path) + "\n";
    wchar_t name[512];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD name_size = 512, size = sizeof(data), type = 0;
        if (RegEnumValueW(key, i, name, &name_size, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        out += "  " + narrow(name) + " " + std::to_string(type) + " " + zvtest::hex_of(data, size) + "\n";
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD name_size = 512;
        if (RegEnumKeyExW(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    std::sort(subkeys.begin(), subkeys.end());
    for (const auto& sub : subkeys) out += export_key(root, path + L"\\" + sub);
    return out;
}

std::vector<std::wstring> registered_keys;  // under a classes root: the class, ProgID, type library, interfaces

std::string registry_state() {
    std::string out;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        for (const auto& key : registered_keys) out += export_key(root, L"Software\\Classes\\" + key);
    HKEY probe = nullptr;
    for (const wchar_t* key : {L"Software\\Classes", L"Software\\Classes\\CLSID"}) {
        const bool there = RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &probe) == ERROR_SUCCESS;
        if (there) RegCloseKey(probe);
        out += "HKCU\\" + narrow(key) + (there ? " present\n" : " absent\n");
    }
    return out;
}

const wchar_t run_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t startup_name[] = L"ZorvaneFaults";

std::string run_key_state() {
    wchar_t value[512] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, run_key, startup_name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return "run key: none";
    return "run key: " + narrow(value);
}

void set_run_value(bool present) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, run_key, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    const wchar_t text[] = L"C:\\faults.exe";
    if (present)
        RegSetValueExW(key, startup_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
    else
        RegDeleteValueW(key, startup_name);
    RegCloseKey(key);
}

// ---- windows the shapes work on -----------------------------------------------------------------------------------

long focus_told = 0;
LRESULT CALLBACK form_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_SETFOCUS) ++focus_told;
    return DefWindowProcW(window, message, w, l);
}

bool in_ocx(const void* address) {
    auto* base = reinterpret_cast<const BYTE*>(zvtest::ocx());
    auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    return address >= base && static_cast<const BYTE*>(address) < base + nt->OptionalHeader.SizeOfImage;
}

// What the library has done to a form: whose procedure it runs, whether it is told of the focus, its least size.
std::string form_state(HWND form) {
    const auto procedure = reinterpret_cast<const void*>(GetWindowLongPtrW(form, GWLP_WNDPROC));
    const long told = focus_told;
    SendMessageW(form, WM_SETFOCUS, 0, 0);
    MINMAXINFO least{};
    SendMessageW(form, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&least));
    const bool ours = procedure == reinterpret_cast<const void*>(&form_procedure);
    // A procedure the library forgot shows in the run again: HideFocus and ShowFocus then cannot give it back.
    return std::string("form: procedure ") +
           (ours                ? "own"
            : in_ocx(procedure) ? "library's"
                                : "other") +
           (focus_told != told ? ", told of focus" : ", not told of focus") + ", least " +
           std::to_string(least.ptMinTrackSize.x) + "x" + std::to_string(least.ptMinTrackSize.y);
}

HWND make_form() {
    HWND form = CreateWindowExW(0, L"zorvane faults form", L"zorvane faults form", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                600, 300, 200, 150, nullptr, nullptr, nullptr, nullptr);
    UpdateWindow(form);
    return form;
}

void pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// ---- shapes ---------------------------------------------------------------------------------------------------

enum class convention { report, skip, raise, calls, registration };
enum class way { invoke, table, other };
enum class registration_kind { none, register_machine, unregister_machine, register_user, unregister_user };

struct context;

struct shape {
    std::string name;
    convention conv = convention::calls;
    way how = way::other;
    int place = -1;                    // the method's place in _Zorvane
    std::vector<std::wstring> values;  // one per parameter; "" where an optional one is left out
    bool form = false;                 // runs on a fresh form of its own
    bool hide_first = false;           // HideFocus on the form before the call
    bool pixels = false;               // the picture's pixels belong to the result
    bool costly = false;               // whole-screen captures and the About box: fewer trials in a seed run
    bool cold = false;                 // the library's caches are let go before and after
    bool reading = false;              // the result is a reading that changes from call to call
    registration_kind registration = registration_kind::none;
    std::vector<std::string> fallbacks;  // imports whose failure gives a documented answer without an error
    std::function<void(context&)> steps;
};

struct context {
    explicit context(const shape& of) : s(of) {}
    const shape& s;
    HWND form = nullptr, target = nullptr;
    IDispatch* control = nullptr;
    std::unique_ptr<zvtest::client_site> site;
    std::string before;  // the registry before a registration shape's call
    std::vector<std::string> steps, problems;
    std::vector<HRESULT> results;
    HRESULT code = S_OK;       // a method's failure as its caller sees it: the HRESULT, or the EXCEPINFO code
    HRESULT raw = S_OK;        // what the call itself returned
    std::wstring description;  // IErrorInfo or EXCEPINFO description
    void step(const std::string& name, HRESULT hr, const std::string& facts = {}) {
        char code_text[16];
        std::snprintf(code_text, sizeof(code_text), "%08lx", static_cast<unsigned long>(hr));
        steps.push_back(name + " " + code_text + (facts.empty() ? "" : " " + facts));
        results.push_back(hr);
    }
};

// The picture a capture returned: its type, size and (when asked) a hash of its pixels; it must then go.
std::string picture_facts(IDispatch* picture, bool pixels, std::vector<std::string>& problems) {
    if (!picture) return "no picture";
    IPicture* p = nullptr;
    std::string out = "picture";
    if (SUCCEEDED(picture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&p)))) {
        SHORT type = 0;
        OLE_HANDLE handle = 0;
        p->get_Type(&type);
        p->get_Handle(&handle);
        BITMAP info{};
        const auto bitmap = reinterpret_cast<HBITMAP>(static_cast<ULONG_PTR>(handle));
        if (type == PICTYPE_BITMAP && GetObjectW(bitmap, sizeof(info), &info)) {
            out += " " + std::to_string(info.bmWidth) + "x" + std::to_string(info.bmHeight);
            if (pixels) {
                BITMAPINFO format{};
                format.bmiHeader = {
                    sizeof(BITMAPINFOHEADER), info.bmWidth, info.bmHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
                std::vector<BYTE> bytes(((info.bmWidth * 3 + 3) & ~3) * info.bmHeight);
                HDC screen = GetDC(nullptr);
                GetDIBits(screen, bitmap, 0, info.bmHeight, bytes.data(), &format, DIB_RGB_COLORS);
                ReleaseDC(nullptr, screen);
                char hash[24];
                std::snprintf(hash, sizeof(hash), " %016llx",
                              static_cast<unsigned long long>(fnv(bytes.data(), bytes.size())));
                out += hash;
            }
        } else {
            out += " type " + std::to_string(type);
        }
        p->Release();
    }
    if (picture->Release() != 0) problems.push_back("a reference to the returned picture was kept");
    return out;
}

// A method of _Zorvane, through Invoke as scripts call it (typed and VARIANT references), or through its entry in
// the table of functions as early-bound clients do.
void call_method(context& c, bool counted = true) {
    const shape& s = c.s;
    const auto& m = zvtest::zorvane_methods()[static_cast<size_t>(s.place)];
    const size_t n = m.params.size();
    std::vector<LONG> longs(n);
    std::vector<SHORT> shorts(n);
    std::vector<BSTR> texts(n, nullptr);
    std::vector<VARIANT> variants(n);
    size_t given = n;
    for (size_t i = 0; i < n; ++i) {
        const std::wstring& value = s.values[i];
        VariantInit(&variants[i]);
        switch (m.params[i].second) {
        case 'L': longs[i] = static_cast<LONG>(reinterpret_cast<LONG_PTR>(value == L"form" ? c.form : c.target)); break;
        case 'I': shorts[i] = static_cast<SHORT>(std::wcstol(value.c_str(), nullptr, 10)); break;
        case 'V':
            V_VT(&variants[i]) = VT_I4;
            V_I4(&variants[i]) = std::wcstol(value.c_str(), nullptr, 10);
            break;
        default:
            if (m.params[i].second == 'o' && value.empty())
                given = i;
            else
                texts[i] = SysAllocString(value.c_str());
        }
    }
    VARIANT result;
    VariantInit(&result);
    run.counting = counted;
    if (s.how == way::invoke) {
        std::vector<VARIANT> args(given);
        for (size_t i = 0; i < given; ++i) {
            VARIANT& arg = args[given - 1 - i];  // rgvarg runs backwards
            switch (m.params[i].second) {
            case 'L':
                V_VT(&arg) = VT_BYREF | VT_I4;
                V_I4REF(&arg) = &longs[i];
                break;
            case 'I':
                V_VT(&arg) = VT_BYREF | VT_I2;
                V_I2REF(&arg) = &shorts[i];
                break;
            case 'V':
                V_VT(&arg) = VT_BYREF | VT_VARIANT;
                V_VARIANTREF(&arg) = &variants[i];
                break;
            case 'S':
                V_VT(&arg) = VT_BYREF | VT_BSTR;
                V_BSTRREF(&arg) = &texts[i];
                break;
            default: V_VT(&arg) = VT_BSTR; V_BSTR(&arg) = texts[i];
            }
        }
        DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(given), 0};
        EXCEPINFO exception{};
        UINT arg_error = 0;
        c.raw = c.control->Invoke(m.dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                  &exception, &arg_error);
        run.counting = false;
        c.code = c.raw == DISP_E_EXCEPTION ? exception.scode : c.raw;
        if (exception.bstrDescription) c.description = exception.bstrDescription;
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    } else {
        std::vector<void*> a(n + 1, nullptr);
        for (size_t i = 0; i < n; ++i) switch (m.params[i].second) {
            case 'L': a[i] = &longs[i]; break;
            case 'I': a[i] = &shorts[i]; break;
            case 'V': a[i] = &variants[i]; break;
            case 'S': a[i] = &texts[i]; break;
            case 'o':
                if (i == given) {
                    a[i] = reinterpret_cast<void*>(static_cast<ULONG_PTR>(static_cast<ULONG>(DISP_E_PARAMNOTFOUND)));
                    break;
                }
                [[fallthrough]];
            default: a[i] = texts[i];
            }
        BSTR text = nullptr;
        IDispatch* picture = nullptr;
        if (m.result == 'S') a[n] = &text;
        if (m.result == 'P') a[n] = &picture;
        if (m.result == 'V') a[n] = &result;
        const size_t count = n + (m.result == '-' ? 0 : 1);
        void* entry = (*reinterpret_cast<void***>(c.control))[489 + s.place];
        using p = void*;
        switch (count) {
        case 0: c.raw = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(p)>(entry)(c.control); break;
        case 1: c.raw = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(p, p)>(entry)(c.control, a[0]); break;
        case 2: c.raw = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(p, p, p)>(entry)(c.control, a[0], a[1]); break;
        case 3:
            c.raw = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(p, p, p, p)>(entry)(c.control, a[0], a[1], a[2]);
            break;
        default:
            c.raw =
                reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(p, p, p, p, p)>(entry)(c.control, a[0], a[1], a[2], a[3]);
        }
        run.counting = false;
        c.code = c.raw;
        if (FAILED(c.raw)) c.description = zvtest::take_error_description();
        if (m.result == 'S') {
            V_VT(&result) = VT_BSTR;
            V_BSTR(&result) = text;
        }
        if (m.result == 'P') {
            V_VT(&result) = VT_DISPATCH;
            V_DISPATCH(&result) = picture;
        }
    }
    std::string facts;
    if (V_VT(&result) == VT_DISPATCH) {
        facts = picture_facts(V_DISPATCH(&result), s.pixels, c.problems);
        V_VT(&result) = VT_EMPTY;
    } else {
        if (V_VT(&result) == VT_BSTR) forget(live_texts, V_BSTR(&result));  // the caller's now
        facts = zvtest::describe(result);
        if (s.reading && facts != "vt 8 '0'" && facts != "vt 8 ''") facts = "vt 8 (a reading)";
        VariantClear(&result);
    }
    for (size_t i = 0; i < n; ++i) {
        SysFreeString(texts[i]);
        VariantClear(&variants[i]);
    }
    c.step(m.name ? narrow(m.name) : "call", c.raw, facts);
}

template <typename T>
T* query(IUnknown* object, REFIID iid) {
    T* out = nullptr;
    return object && SUCCEEDED(object->QueryInterface(iid, reinterpret_cast<void**>(&out))) ? out : nullptr;
}

std::string yes(bool b) { return b ? "yes" : "no"; }

void class_factory_steps(context& c) {
    IClassFactory* factory = nullptr;
    run.counting = true;
    c.step("DllGetClassObject",
           zvtest::get_class_object(zvtest::clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    if (!factory) return;
    IUnknown* object = nullptr;
    c.step("CreateInstance", factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)));
    if (auto* info = query<IProvideClassInfo>(object, IID_IProvideClassInfo)) {
        ITypeInfo* type = nullptr;
        c.step("GetClassInfo", info->GetClassInfo(&type));
        if (type) type->Release();
        info->Release();
    }
    if (auto* errors = query<ISupportErrorInfo>(object, IID_ISupportErrorInfo)) {
        c.step("InterfaceSupportsErrorInfo", errors->InterfaceSupportsErrorInfo(zvtest::iid_zorvane));
        errors->Release();
    }
    if (object) c.step("Release", S_OK, "left " + std::to_string(object->Release()));
    c.step("LockServer", factory->LockServer(TRUE));
    factory->LockServer(FALSE);
    c.step("Release factory", S_OK, "left " + std::to_string(factory->Release()));
    run.counting = false;
}

void dispatch_steps(context& c) {
    run.counting = true;
    UINT count = 0;
    c.step("GetTypeInfoCount", c.control->GetTypeInfoCount(&count), std::to_string(count));
    ITypeInfo* type = nullptr;
    c.step("GetTypeInfo", c.control->GetTypeInfo(0, LOCALE_USER_DEFAULT, &type));
    if (type) type->Release();
    std::string ids;
    HRESULT first_failure = S_OK;
    for (const auto& m : zvtest::zorvane_methods()) {
        auto* name = const_cast<LPOLESTR>(m.name);
        DISPID id = 0;
        const HRESULT hr = c.control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr) && first_failure == S_OK) first_failure = hr;
        ids += std::to_string(id) + " ";
    }
    run.counting = false;
    c.step("GetIDsOfNames", first_failure, ids);
}

// The first call after the library let its caches go: the type library and its tables are made again.
void cold_steps(context& c) {
    auto* name = const_cast<LPOLESTR>(L"WindowsMajorVersion");
    DISPID id = 0;
    run.counting = true;
    c.step("GetIDsOfNames", c.control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), std::to_string(id));
    zvtest::dispatch_call call(zvtest::hand_result | zvtest::hand_exception);
    const HRESULT hr = call.invoke(c.control, id);
    run.counting = false;
    c.step("Invoke", hr, zvtest::describe(call.result) + " " + zvtest::quoted(call.exception.bstrDescription));
}

// A form designer's use: sited, activated in place at design time, sized, drawn, saved, quickly activated,
// connected to, closed.
void container_steps(context& c) {
    c.site = std::make_unique<zvtest::client_site>();
    zvtest::client_site& site = *c.site;
    site.user_mode = false;
    site.window = c.form;
    run.counting = true;
    IOleObject* ole = query<IOleObject>(c.control, IID_IOleObject);
    c.step("QueryInterface IOleObject", ole ? S_OK : E_NOINTERFACE);
    if (!ole) return;
    c.step("SetClientSite", ole->SetClientSite(&site));
    const RECT where{0, 0, 100, 100};
    HRESULT hr = ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, c.form, &where);
    HWND face = GetWindow(c.form, GW_CHILD);
    c.step("DoVerb", hr, "face " + yes(face) + " activated " + std::to_string(site.activated));
    SIZEL size{3528, 1764};
    hr = ole->SetExtent(DVASPECT_CONTENT, &size);
    c.step("SetExtent", hr, std::to_string(site.position_change.right - site.position_change.left));
    if (face) {
        InvalidateRect(face, nullptr, TRUE);
        UpdateWindow(face);
    }
    if (auto* view = query<IViewObject2>(c.control, IID_IViewObject2)) {
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, 42, 42);
        HGDIOBJ old = SelectObject(dc, bitmap);
        const RECTL bounds{0, 0, 42, 42};
        c.step("Draw", view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0));
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        view->Release();
    }
    if (auto* persist = query<IPersistStreamInit>(c.control, IID_IPersistStreamInit)) {
        IStream* stream = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        c.step("InitNew", persist->InitNew());
        hr = persist->Save(stream, TRUE);
        STATSTG stat{};
        stream->Stat(&stat, STATFLAG_NONAME);
        c.step("Save", hr, std::to_string(stat.cbSize.QuadPart));
        stream->Release();
        persist->Release();
    }
    if (auto* quick = query<IQuickActivate>(c.control, IID_IQuickActivate)) {
        QACONTAINER container{};
        container.cbSize = sizeof(container);
        container.pClientSite = &site;
        container.pUnkEventSink = static_cast<IDispatch*>(&site);
        QACONTROL control{};
        control.cbSize = sizeof(control);
        hr = quick->QuickActivate(&container, &control);
        c.step("QuickActivate", hr,
               std::to_string(control.dwMiscStatus) + " cookie " + std::to_string(control.dwEventCookie));
        quick->Release();
    }
    if (auto* points = query<IConnectionPointContainer>(c.control, IID_IConnectionPointContainer)) {
        IConnectionPoint* point = nullptr;
        c.step("FindConnectionPoint", points->FindConnectionPoint(zvtest::diid_source, &point));
        IEnumConnectionPoints* all = nullptr;
        c.step("EnumConnectionPoints", points->EnumConnectionPoints(&all));
        if (all) {
            IConnectionPoint* first = nullptr;
            ULONG fetched = 0;
            c.step("Next", all->Next(1, &first, &fetched), std::to_string(fetched));
            if (first) first->Release();
            all->Release();
        }
        if (point) {
            DWORD cookie = 0;
            c.step("Advise", point->Advise(static_cast<IDispatch*>(&site), &cookie), std::to_string(cookie));
            IEnumConnections* connections = nullptr;
            c.step("EnumConnections", point->EnumConnections(&connections));
            if (connections) connections->Release();
            c.step("Unadvise", point->Unadvise(cookie));
            point->Release();
        }
        points->Release();
    }
    hr = ole->Close(OLECLOSE_NOSAVE);
    c.step("Close", hr,
           "face " + yes(GetWindow(c.form, GW_CHILD)) + " deactivated " + std::to_string(site.deactivated));
    c.step("SetClientSite(null)", ole->SetClientSite(nullptr));
    run.counting = false;
    ole->Release();
}

using entry_point = HRESULT(STDAPICALLTYPE*)();
using install_point = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
HRESULT install(BOOL on) {
    auto f = reinterpret_cast<install_point>(reinterpret_cast<void (*)()>(GetProcAddress(zvtest::ocx(), "DllInstall")));
    return f(on, L"user");
}

// Registration and its removal, machine-wide and for the user, each from the state it is made for; the prefix is
// put back as its set-up left it (the class registered for the machine, nothing for the user) when the run ends.
void registration_steps(context& c) {
    const auto kind = c.s.registration;
    const bool removing = kind == registration_kind::unregister_machine || kind == registration_kind::unregister_user;
    // From nothing registered in either scope: what an earlier trial's double failure left goes first.
    install(FALSE);
    zvtest::unregister_server();
    if (kind == registration_kind::register_machine) zvtest::unregister_server();
    if (kind == registration_kind::unregister_machine) zvtest::register_server();
    if (kind == registration_kind::register_user) install(FALSE);
    if (kind == registration_kind::unregister_user) install(TRUE);
    c.before = registry_state();
    run.counting = true;
    HRESULT hr = S_OK;
    switch (kind) {
    case registration_kind::register_machine: hr = zvtest::register_server(); break;
    case registration_kind::unregister_machine: hr = zvtest::unregister_server(); break;
    case registration_kind::register_user: hr = install(TRUE); break;
    default: hr = install(FALSE); break;
    }
    run.counting = false;
    c.step(removing ? "unregister" : "register", hr, registry_state());
}

void restore_registration() {
    install(FALSE);
    zvtest::register_server();
}

std::vector<shape> make_shapes() {
    std::vector<shape> out;
    const auto& methods = zvtest::zorvane_methods();
    const std::wstring bmp = scratch + L"faults.bmp", png = scratch + L"faults.png";
    auto report_or = [](const std::wstring& name) {
        if (name == L"CaptureHwnd" || name == L"CaptureDesktop") return convention::report;
        for (const wchar_t* skip : {L"WinShutDown", L"WinRestart", L"GetWindowsDir", L"GetSystemDir", L"GetTempDir",
                                    L"HideFocus", L"ShowFocus", L"ShowDesktop", L"HideDesktop", L"StopResizeForm",
                                    L"MakePath", L"AddToStartup", L"DeleteAtStartup", L"ShellWeb", L"ShowAbout"})
            if (name == skip) return convention::skip;
        return convention::raise;
    };
    for (way how : {way::invoke, way::table})
        for (size_t place = 0; place < methods.size(); ++place) {
            const auto& m = methods[place];
            const std::wstring name = m.name;
            std::vector<std::vector<std::wstring>> variants(1);
            for (const auto& [param, kind] : m.params) {
                const std::wstring p = param;
                std::wstring v = kind == 'L' ? L"target" : kind == 'I' ? L"100" : L"";
                if (kind == 'V') v = name == L"SetCursorPosition" ? L"10" : L"300";
                if (p == L"PathDrive") v = L"C:\\";
                if (p == L"Y") v = L"20";
                if (p == L"BMPFileName") v = scratch + L"wall.bmp";
                if (p == L"WebAddress") v = L"https://example.org";
                if (p == L"MailAddress") v = L"x@example.org";
                if (p == L"SubjectMail") v = L"Привет";
                if (p == L"ProgName") v = startup_name;
                if (p == L"ProgPath") v = L"C:\\faults.exe /tray";
                if (p == L"Path") v = scratch + L"made\\deeper\\file.txt";
                if (name == L"HideFocus" || name == L"ShowFocus" || name == L"StopResizeForm")
                    v = kind == 'L' ? L"form" : v;
                variants[0].push_back(v);
            }
            if (name == L"CaptureHwnd" || name == L"CaptureDesktop")
                for (const auto& file : {bmp, png}) {
                    variants.push_back(variants[0]);
                    variants.back().back() = file;
                }
            for (const auto& values : variants) {
                shape s;
                const std::wstring& last = values.empty() ? L"" : values.back();
                s.name = narrow(name) +
                         (last == bmp   ? "(.bmp)"
                          : last == png ? "(.png)"
                                        : "") +
                         (how == way::invoke ? " by Invoke" : " by table");
                s.conv = report_or(name);
                s.how = how;
                s.place = static_cast<int>(place);
                s.values = values;
                s.form = name == L"HideFocus" || name == L"ShowFocus" || name == L"StopResizeForm";
                s.hide_first = name == L"ShowFocus";
                s.pixels = name == L"CaptureHwnd";
                s.costly = name == L"CaptureDesktop" || name == L"ShowAbout";
                s.reading = name == L"GetFreeMemory" || name == L"GetAvailableVirtualMemory";
                if (name.rfind(L"GetDrive", 0) == 0)
                    s.fallbacks = {"GetVolumeInformationW"};  // 14 spaces, "", 32 spaces
                if (name.rfind(L"GetCursorPosition", 0) == 0) s.fallbacks = {"GetCursorPos"};       // "0" when unknown
                if (name == L"WindowsRegKey") s.fallbacks = {"RegOpenKeyExW", "RegQueryValueExW"};  // "" when missing
                // Requests whose answer the methods do not examine, by design.
                if (name == L"SetWallpaper") s.fallbacks = {"SystemParametersInfoW"};
                if (name == L"ShellEmail") s.fallbacks = {"ShellExecuteExW"};
                out.push_back(s);
            }
        }
    auto other = [&](const char* name, std::function<void(context&)> steps) -> shape& {
        shape s;
        s.name = name;
        s.steps = std::move(steps);
        out.push_back(s);
        return out.back();
    };
    other("class factory", class_factory_steps);
    other("GetIDsOfNames and GetTypeInfo", dispatch_steps);
    other("first call after the caches went", cold_steps).cold = true;
    other("container", container_steps).form = true;
    const std::pair<const char*, registration_kind> registrations[] = {
        {"DllRegisterServer", registration_kind::register_machine},
        {"DllUnregisterServer", registration_kind::unregister_machine},
        {"DllInstall(TRUE, user)", registration_kind::register_user},
        {"DllInstall(FALSE, user)", registration_kind::unregister_user}};
    for (const auto& [name, kind] : registrations) {
        shape& s = other(name, registration_steps);
        s.conv = convention::registration;
        s.registration = kind;
    }
    return out;
}

// ---- runs and trials ------------------------------------------------------------------------------------------

struct outcome {
    std::vector<std::string> steps;
    std::vector<HRESULT> results;
    HRESULT code = S_OK, raw = S_OK;
    std::wstring description;
    std::vector<std::wstring> boxes;
    std::vector<std::string> files, problems;
    std::string before;
};

box_watcher* boxes = nullptr;
HWND capture_target = nullptr;
bool gdi_table = false;

// What a trial may take from the process, counted quickly: GDI objects, the trial thread's windows, and the lowest
// free handle value (the system hands out the lowest free one, so a handle kept moves it up).
struct usage {
    long gdi = 0, windows = 0;
    ULONG_PTR free_handle = 0;
};
BOOL CALLBACK count_window(HWND, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}
usage measure() {
    usage u;
    u.gdi = gdi_table ? zvtest::gdi_objects_by_table() : 0;
    EnumThreadWindows(GetCurrentThreadId(), &count_window, reinterpret_cast<LPARAM>(&u.windows));
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    u.free_handle = reinterpret_cast<ULONG_PTR>(probe);
    CloseHandle(probe);
    return u;
}

bool is_method(const shape& s, const wchar_t* name) {
    return s.place >= 0 && std::wcscmp(zvtest::zorvane_methods()[static_cast<size_t>(s.place)].name, name) == 0;
}

// One run of a shape on a fresh control, from the same starting point every time.
outcome run_once(const shape& s, HWND form) {
    empty_folder(scratch);
    const bool startup = is_method(s, L"AddToStartup") || is_method(s, L"DeleteAtStartup");
    if (startup) set_run_value(is_method(s, L"DeleteAtStartup"));
    if (s.cold) zvtest::can_unload_now();
    context c(s);
    c.form = form;
    c.target = capture_target;
    if (s.registration == registration_kind::none) {
        IUnknown* object = zvtest::new_control();
        object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&c.control));
        object->Release();
    }
    if (s.hide_first) {
        shape hide = s;
        hide.place = 46;  // HideFocus, the same way
        context first(hide);
        first.form = form;
        first.control = c.control;
        call_method(first, false);
    }
    pump();
    run.effects.clear();
    if (s.steps)
        s.steps(c);
    else
        call_method(c);
    run.counting = false;
    std::string after;
    if (!run.effects.empty() && s.place >= 0) after += " effects " + run.effects;
    if (s.form) after += " " + form_state(form);
    if (startup) after += " " + run_key_state();
    if (!after.empty()) c.step("after", S_OK, after);
    if (c.control && c.control->Release() != 0)
        c.problems.push_back("the control kept references after its last Release");
    if (c.site && c.site->references != 1) {
        c.problems.push_back("the container's site kept " + std::to_string(c.site->references - 1) + " references");
        c.site.release();  // still referenced: left alive
    }
    if (s.cold) {  // the caches go, and come again for the shapes after this one, outside this run's count
        zvtest::can_unload_now();
        const unsigned generation = std::exchange(run.generation, 0u);
        IUnknown* warm = zvtest::new_control();
        IDispatch* dispatch = query<IDispatch>(warm, zvtest::iid_zorvane);
        auto* name = const_cast<LPOLESTR>(L"WindowsMajorVersion");
        DISPID id = 0;
        dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        dispatch->Release();
        warm->Release();
        run.generation = generation;
    }
    if (startup) set_run_value(false);
    pump();
    outcome o{c.steps, c.results, c.code, c.raw, c.description, boxes->take(), {}, c.problems, c.before};
    list_folder(L"", o.files, s.pixels);
    return o;
}

struct tally {
    long trials = 0, crashes = 0, leaks = 0, convention = 0, state = 0, unreached = 0, unlisted = 0;
};
tally counts;
long printed = 0;

// What a trial found, one line per kind of fault; counted and printed when the trial ends.
struct finding {
    long tally::*category;
    const char* kind;
    std::string where, what;
};
std::vector<finding> findings;

void fault(long tally::*category, const char* kind, const std::string& where, const std::string& what) {
    for (auto& f : findings)
        if (f.category == category) {
            f.what += "; " + what;
            return;
        }
    findings.push_back({category, kind, where, what});
}

void report_findings() {
    for (const auto& f : findings) {
        ++(counts.*f.category);
        if (++printed <= 2000) std::printf("FAULT %s [%s]: %s\n", f.kind, f.where.c_str(), f.what.c_str());
    }
    findings.clear();
    std::fflush(stdout);
}

std::string shorter(const std::string& text) { return text.size() > 400 ? text.substr(0, 400) + "..." : text; }

// The first step where two runs differ, as "what it was instead of what it should be".
std::string difference(const outcome& got, const outcome& normal) {
    for (size_t i = 0; i < std::max(got.steps.size(), normal.steps.size()); ++i) {
        const std::string a = i < got.steps.size() ? got.steps[i] : "(nothing)";
        const std::string b = i < normal.steps.size() ? normal.steps[i] : "(nothing)";
        if (a == b) continue;
        if (a.size() <= 400 && b.size() <= 400) return "'" + a + "' instead of '" + b + "'";
        // Long texts (a registry, say): the lines around the first place they part.
        size_t at = 0;
        while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
        const size_t from = a.rfind('\n', at) == std::string::npos ? 0 : a.rfind('\n', at) + 1;
        return "'..." + a.substr(from, 300) + "...' instead of '..." + b.substr(from, 300) + "...'";
    }
    std::string files;
    for (const auto& f : got.files) files += f + " ";
    return "files '" + files + "' instead of the normal ones";
}

std::wstring classic_text(long number) {
    return std::to_wstring(number) + std::wstring(zorvane::classic_description(number));
}

// Whether `number` tells the cause of one of the failures of this run.
bool tells_cause(long number) {
    return std::any_of(std::begin(imports), std::end(imports), [&](const import_row& r) {
        return r.failed && number && (number == r.number || number == r.also);
    });
}
std::string causes() {
    std::string out;
    for (const auto& r : imports)
        if (r.failed)
            out += narrow(classic_text(r.number)) + (r.also ? " or " + narrow(classic_text(r.also)) : "") + " ";
    return out;
}

void judge(const shape& s, const outcome& got, const outcome& normal, const std::string& where) {
    const bool differs = got.steps != normal.steps || got.files != normal.files;
    const bool fallback = std::any_of(std::begin(imports), std::end(imports), [&](const import_row& r) {
        return r.failed && std::find(s.fallbacks.begin(), s.fallbacks.end(), r.name) != s.fallbacks.end();
    });
    const bool box_failed = row_named("MessageBoxW")->failed;
    std::string broken;  // every way this run broke the convention, in one line
    auto breaks = [&](const std::string& what) { broken += (broken.empty() ? "" : "; ") + what; };
    char code[16];
    std::snprintf(code, sizeof(code), "%08lx", static_cast<unsigned long>(got.raw));
    if (s.conv != convention::report && !got.boxes.empty())
        breaks("an error box where none belongs: " + narrow(got.boxes[0]));
    switch (s.conv) {
    case convention::report: {
        if (got.raw != S_OK) breaks(std::string("answered ") + code + " instead of S_OK");
        std::string texts;
        bool wrong = false;
        for (const auto& b : got.boxes) {
            const long number = std::wcstol(b.c_str(), nullptr, 10);
            const bool bare = b == std::to_wstring(number) && run.failures > 1;  // no memory left for the text
            wrong = wrong || !tells_cause(number) || (b != classic_text(number) && !bare);
            texts += "'" + narrow(b) + "' ";
        }
        if (got.boxes.size() > 1)
            breaks(std::to_string(got.boxes.size()) + " error boxes: " + texts + "(the cause is " + causes() + ")");
        else if (wrong)
            breaks("the box says " + texts + "but the cause is " + causes());
        if (differs && got.boxes.empty() && !fallback && !box_failed)
            breaks("no error box, but the result is " + difference(got, normal));
        break;
    }
    case convention::skip:
        if (got.raw != S_OK) breaks(std::string("answered ") + code + " instead of S_OK");
        break;
    case convention::raise:
        if (SUCCEEDED(got.raw)) {
            if (differs && !fallback) breaks("succeeded, but the result is " + difference(got, normal));
        } else if (s.how == way::invoke && got.raw != DISP_E_EXCEPTION) {
            breaks(std::string("Invoke answered ") + code + " instead of DISP_E_EXCEPTION");
        } else if (!tells_cause(static_cast<long>(got.code & 0xFFFF)) ||
                   (static_cast<unsigned long>(got.code) >> 16) != 0x800A ||
                   (got.description != std::wstring(zorvane::classic_description(got.code & 0xFFFF)) &&
                    !(got.description.empty() && run.failures > 1))) {  // a second failure may leave no description
            std::snprintf(code, sizeof(code), "%08lx", static_cast<unsigned long>(got.code));
            breaks(std::string("raised ") + code + " '" + narrow(got.description) + "' but the cause is " + causes());
        }
        break;
    case convention::calls:
        for (size_t i = 0; i < got.steps.size() && i < normal.steps.size(); ++i)
            if (got.steps[i] != normal.steps[i]) {
                if (SUCCEEDED(got.results[i]))
                    breaks("a step succeeded with another result: " + difference(got, normal));
                break;
            }
        break;
    case convention::registration: {
        const HRESULT hr = got.results.front();
        const std::string& step = got.steps.front();
        const bool as_before = step.substr(step.find(' ', step.find(' ') + 1) + 1) == got.before;
        const bool removing = s.registration == registration_kind::unregister_machine ||
                              s.registration == registration_kind::unregister_user;
        // One failure must leave the registry as it was; when the putting back fails as well, nothing can.
        if (FAILED(hr) && !as_before && !(removing && !differs) && run.failures <= 1)
            breaks("failed, and left the registry neither as it was nor as a normal run leaves it");
        if (SUCCEEDED(hr) && differs) breaks("succeeded, but the registry is not as a normal run leaves it");
        break;
    }
    }
    if (!broken.empty()) fault(&tally::convention, "convention", where, broken);
}

// What a run left that it should not have: files a normal run does not write (after a call that told of a
// failure: a partial file), references it kept; a subclassed window forgotten is damaged state.
void check_left_behind(const outcome& got, const outcome& normal, const std::string& where) {
    std::string left, damaged;
    if (!got.boxes.empty() || FAILED(got.raw))
        for (const auto& f : got.files)
            if (f.back() != '/' && std::find(normal.files.begin(), normal.files.end(), f) == normal.files.end())
                left += (left.empty() ? "" : "; ") + std::string("a file a normal run does not write: ") + f;
    for (const auto& p : got.problems) {
        std::string& to = p.find("reference") != std::string::npos ? left : damaged;
        to += (to.empty() ? "" : "; ") + p;
    }
    if (!left.empty()) fault(&tally::leaks, "left behind", where, left);
    if (!damaged.empty()) fault(&tally::state, "state", where, damaged);
}

long live_of(std::unordered_map<void*, unsigned>& map, unsigned generation) {
    AcquireSRWLockExclusive(&track_lock);
    long n = 0;
    for (auto i = map.begin(); i != map.end();)
        if (i->second == generation) {
            ++n;
            i = map.erase(i);
        } else {
            ++i;
        }
    ReleaseSRWLockExclusive(&track_lock);
    return n;
}

// One trial: the shape with call `k` of `row` failing (row null: none; random: each call by chance), checked,
// then run again without a failure; what it took from the process is checked after both.
void trial(const shape& s, import_row* row, long k, const outcome& normal, std::uint64_t random_seed = 0) {
    char label[400];
    std::snprintf(label, sizeof(label), "%s | %s | k=%ld", s.name.c_str(),
                  random_seed ? "random"
                  : row       ? row->name
                              : "none",
                  random_seed ? static_cast<long>(random_seed & 0xFFFF) : k);
    std::snprintf(current_trial, sizeof(current_trial), "trial [%s]", label);
    const std::string where = label;
    ++counts.trials;
    // The shape failing as asked, then again without a failure, on one form; what it took from the process.
    auto attempt = [&](outcome& got, outcome& again) {
        HWND form = s.form ? make_form() : nullptr;
        const usage before = measure();
        for (auto& r : imports) r.calls = 0, r.failed = false;
        run.failures = 0;
        run.armed = row;
        run.armed_at = k;
        run.fired = false;
        run.random = random_seed != 0;
        run.chance = random_source{random_seed};
        run.started = GetTickCount();
        got = run_once(s, form);
        run.armed = nullptr;
        run.random = false;
        const bool fired = run.fired;
        again = run_once(s, form);
        if (form) DestroyWindow(form);
        pump();
        const usage after = measure();
        std::string grown;
        auto grew = [&](const char* what, long b, long a) {
            if (a > b)
                grown += (grown.empty() ? "" : "; ") + std::string(what) + " " + std::to_string(b) + " -> " +
                         std::to_string(a);
        };
        grew("GDI objects", before.gdi, after.gdi);
        grew("windows", before.windows, after.windows);
        // Wine's RegisterTypeLib and UnRegisterTypeLib keep registry handles (three or more a call, measured).
        if (s.registration == registration_kind::none)
            grew("the lowest free handle value", static_cast<long>(before.free_handle),
                 static_cast<long>(after.free_handle));
        run.fired = fired;
        return grown;
    };
    ++run.generation;
    outcome got, again;
    std::string grown = attempt(got, again);
    // The system keeps some of what it makes the first times (a first pair of error boxes, say): only growth
    // that comes again in each of two more attempts counts.
    for (int repeat = 0; repeat < 2 && !grown.empty(); ++repeat) {
        outcome got2, again2;
        const bool fired = run.fired;
        grown = attempt(got2, again2);
        run.fired = fired;
    }
    if (GetEnvironmentVariableW(L"ZV_FAULTS_TRACE", nullptr, 0)) {  // every trial described, for a closer look
        std::string seen;
        for (const auto& b : got.boxes) seen += " box '" + narrow(b) + "'";
        std::printf("trial [%s]: %s%s\n", where.c_str(), shorter(got.steps.empty() ? "" : got.steps[0]).c_str(),
                    seen.c_str());
    }
    if (row && !run.fired) {
        ++counts.unreached;
    } else if (row || random_seed) {
        judge(s, got, normal, where);
    }
    check_left_behind(got, normal, where);
    if (again.steps != normal.steps || again.boxes.size() != normal.boxes.size())
        fault(&tally::state, "state", where,
              "run again without a failure: " + difference(again, normal) +
                  (again.boxes.empty() ? "" : ", box '" + narrow(again.boxes[0]) + "'"));
    check_left_behind(again, normal, where + " (again)");
    std::string left = grown;
    auto kept = [&](const char* what, long n) {
        if (n) left += (left.empty() ? "" : "; ") + std::string(what) + " " + std::to_string(n);
    };
    kept("blocks from the OCX's malloc not freed:", live_of(live_blocks, run.generation));
    kept("handles and keys the OCX opened and did not close:", live_of(live_handles, run.generation));
    const long texts = live_of(live_texts, run.generation);  // a result's copy made by the system is not counted
    if (s.how == way::table) kept("BSTRs from the OCX's SysAllocString* not freed:", texts);
    if (!left.empty()) fault(&tally::leaks, "left behind", where, left);
    report_findings();
    run.started = 0;
}

// The normal run of a shape, after a warm-up, with each import's count of calls.
outcome baseline(const shape& s, std::vector<long>& calls) {
    std::snprintf(current_trial, sizeof(current_trial), "the normal run of [%s]", s.name.c_str());
    run.started = GetTickCount();
    HWND form = s.form ? make_form() : nullptr;
    run_once(s, form);
    for (auto& r : imports) r.calls = 0, r.failed = false;
    outcome normal = run_once(s, form);
    calls.clear();
    for (const auto& r : imports) calls.push_back(r.calls);
    if (form) DestroyWindow(form);
    pump();
    live_of(live_blocks, run.generation);
    live_of(live_texts, run.generation);
    live_of(live_handles, run.generation);
    run.started = 0;
    return normal;
}

// ---- the program ----------------------------------------------------------------------------------------------

struct options {
    enum { seed_run, all, random } mode = seed_run;
    long random_calls = 0;
    std::uint64_t seed = 1;
    std::string only, import;
    std::wstring state_file;
    long from_shape = 0, from_trial = 0;
};

LONG WINAPI on_exception(EXCEPTION_POINTERS* e) {
    const DWORD code = e->ExceptionRecord->ExceptionCode;
    const void* at = e->ExceptionRecord->ExceptionAddress;
    const bool fatal = code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_ILLEGAL_INSTRUCTION ||
                       code == EXCEPTION_PRIV_INSTRUCTION || code == EXCEPTION_INT_DIVIDE_BY_ZERO ||
                       code == EXCEPTION_STACK_OVERFLOW || code == 0xC0000374 || code == 0xC0000409;
    if (!fatal) return EXCEPTION_CONTINUE_SEARCH;
    // Others' code may catch its own faults; a fault in the OCX or here, or of the stack or heap, is the end.
    HMODULE self = GetModuleHandleW(nullptr);
    auto* base = reinterpret_cast<const BYTE*>(self);
    const auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const bool here = at >= base && static_cast<const BYTE*>(at) < base + nt->OptionalHeader.SizeOfImage;
    if (!in_ocx(at) && !here && code != EXCEPTION_STACK_OVERFLOW && code < 0xC0000374) return EXCEPTION_CONTINUE_SEARCH;
    char what[96];
    std::snprintf(what, sizeof(what), "exception %08lx at %s+%lx", code,
                  in_ocx(at) ? "ZorvaneLib.ocx"
                  : here     ? "faults"
                             : "system",
                  static_cast<unsigned long>(static_cast<const BYTE*>(at) -
                                             (in_ocx(at) ? reinterpret_cast<const BYTE*>(zvtest::ocx()) : base)));
    say_crash(what);
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI on_unhandled(EXCEPTION_POINTERS* e) {
    char what[48];
    std::snprintf(what, sizeof(what), "unhandled exception %08lx", e->ExceptionRecord->ExceptionCode);
    say_crash(what);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI watchdog(void*) {
    for (;;) {
        Sleep(500);
        const DWORD started = run.started;
        if (started && GetTickCount() - started > 10000) {
            std::printf("HANG (no end within 10 s) in %s\n", current_trial);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

void write_state(const options& o, long shape_index, long trial_index, bool done) {
    char text[200];
    const int n = std::snprintf(text, sizeof(text), "%ld %ld %ld %ld %ld %ld %ld %ld %ld %d\n", shape_index,
                                trial_index, counts.trials, counts.crashes, counts.leaks, counts.convention,
                                counts.state, counts.unreached, counts.unlisted, done ? 1 : 0);
    HANDLE file = CreateFileW(o.state_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
}

int child(const options& o) {
    CoInitialize(nullptr);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    AddVectoredExceptionHandler(1, &on_exception);
    SetUnhandledExceptionFilter(&on_unhandled);
    CloseHandle(CreateThread(nullptr, 0, &watchdog, nullptr, 0, nullptr));
    run.thread = GetCurrentThreadId();

    WNDCLASSW form_class{};
    form_class.lpfnWndProc = &form_procedure;
    form_class.lpszClassName = L"zorvane faults form";
    form_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&form_class);
    WNDCLASSW target_class = form_class;
    target_class.lpfnWndProc = &DefWindowProcW;
    target_class.lpszClassName = L"zorvane faults target";
    target_class.hbrBackground = CreateSolidBrush(RGB(200, 40, 90));
    RegisterClassW(&target_class);
    capture_target = CreateWindowExW(WS_EX_TOPMOST, L"zorvane faults target", L"", WS_POPUP | WS_VISIBLE, 40, 40, 120,
                                     90, nullptr, nullptr, nullptr, nullptr);
    UpdateWindow(capture_target);

    ITypeLib* library = nullptr;
    LoadTypeLibEx(zvtest::ocx_path().c_str(), REGKIND_NONE, &library);
    registered_keys = {std::wstring(L"CLSID\\") + zvtest::clsid_zorvane_text, zvtest::prog_id};
    if (library) {
        auto key_of = [](REFGUID guid) {
            wchar_t text[40] = {};
            StringFromGUID2(guid, text, 40);
            return std::wstring(text);
        };
        TLIBATTR* attr = nullptr;
        library->GetLibAttr(&attr);
        registered_keys.push_back(L"TypeLib\\" + key_of(attr->guid));
        library->ReleaseTLibAttr(attr);
        for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
            ITypeInfo* info = nullptr;
            TYPEATTR* type = nullptr;
            if (FAILED(library->GetTypeInfo(i, &info))) continue;
            info->GetTypeAttr(&type);
            if (type->typekind == TKIND_DISPATCH || type->typekind == TKIND_INTERFACE)
                registered_keys.push_back(L"Interface\\" + key_of(type->guid));
            info->ReleaseTypeAttr(type);
            info->Release();
        }
        library->Release();
    }

    int status = 0;
    {
        hooks placed(scratch);
        if (o.from_shape == 0 && o.from_trial == 0) counts.unlisted = unlisted_imports(zvtest::ocx());
        box_watcher watcher;
        boxes = &watcher;
        zvtest::window_closer about_boxes(L"О контроле...");
        {  // the system keeps what its first error box and capture make: one capture whose file is refused
            shape first;
            first.how = way::invoke;
            first.place = 5;  // CaptureHwnd
            first.values = {L"target", L"C:\\refused.bmp"};
            run_once(first, nullptr);
        }
        gdi_table = zvtest::gdi_table_counts();
        const bool under_wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
        std::vector<shape> shapes;
        for (auto& s : make_shapes())
            if ((o.only.empty() || s.name.find(o.only) != std::string::npos) &&
                (s.registration == registration_kind::none || under_wine))
                shapes.push_back(s);
        if (o.mode == options::random) {
            std::vector<outcome> normals(shapes.size());
            std::vector<bool> known(shapes.size());
            std::vector<long> calls;
            for (long i = o.from_shape; i < o.random_calls; ++i) {
                random_source pick{o.seed * 0x9E3779B97F4A7C15ull + static_cast<std::uint64_t>(i)};
                size_t which = pick.next() % shapes.size();
                if (shapes[which].costly && pick.next() % 20 != 0)
                    which = pick.next() % shapes.size();  // a twentieth as often
                write_state(o, i, 0, false);
                if (!known[which]) normals[which] = baseline(shapes[which], calls), known[which] = true;
                trial(shapes[which], nullptr, 0, normals[which], pick.next() | 1);
                if ((i + 1) % 1000 == 0) std::printf("  %ld calls\n", i + 1), std::fflush(stdout);
            }
        } else {
            for (long si = o.from_shape; si < static_cast<long>(shapes.size()); ++si) {
                const shape& s = shapes[static_cast<size_t>(si)];
                std::vector<long> calls;
                const outcome normal = baseline(s, calls);
                std::vector<std::pair<import_row*, long>> plan{{nullptr, 0}};
                for (size_t r = 0; r < calls.size(); ++r) {
                    import_row* row = &imports[r];
                    if (!calls[r] || (!o.import.empty() && o.import != row->name)) continue;
                    if (o.mode == options::all)
                        for (long k = 1; k <= calls[r]; ++k) plan.push_back({row, k});
                    else {
                        plan.push_back({row, 1});
                        if (calls[r] > 1) plan.push_back({row, calls[r]});
                    }
                }
                const DWORD shape_start = GetTickCount();
                for (long t = si == o.from_shape ? o.from_trial : 0; t < static_cast<long>(plan.size()); ++t) {
                    write_state(o, si, t, false);
                    trial(s, plan[static_cast<size_t>(t)].first, plan[static_cast<size_t>(t)].second, normal);
                }
                if (GetEnvironmentVariableW(L"ZV_FAULTS_TIMES", nullptr, 0))
                    std::printf("  %-45s %3zu trials %6.2f s\n", s.name.c_str(), plan.size(),
                                (GetTickCount() - shape_start) / 1000.0);
            }
        }
        if (under_wine) restore_registration();
        const bool unloadable = zvtest::can_unload_now() == S_OK;
        if (!unloadable) fault(&tally::leaks, "left behind", "end", "DllCanUnloadNow does not answer S_OK");
        report_findings();
        write_state(o, 0, 0, true);
        boxes = nullptr;
    }
    DestroyWindow(capture_target);
    CoUninitialize();
    return status;
}

// Runs the trials in children of this program, one after another: a crash ends one trial, and the next child
// goes on after it.
int parent(const options& o, int argc, char** argv) {
    wchar_t exe[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH * 2);
    std::wstring arguments;
    for (int i = 1; i < argc; ++i) arguments += L" \"" + std::wstring(argv[i], argv[i] + std::strlen(argv[i])) + L"\"";
    tally total;
    long shape_index = 0, trial_index = 0;
    const DWORD start = GetTickCount();
    for (int children = 0; children < 1000; ++children) {
        std::wstring line = L"\"" + std::wstring(exe) + L"\"" + arguments + L" --child \"" + o.state_file + L"\" " +
                            std::to_wstring(shape_index) + L" " + std::to_wstring(trial_index);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        DeleteFileW(o.state_file.c_str());
        if (!CreateProcessW(exe, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            std::printf("FAILED: no child process (%lu)\n", GetLastError());
            return 2;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD exit_code = 0;
        GetExitCodeProcess(process.hProcess, &exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        long v[10] = {};
        int read = 0;
        if (FILE* f = _wfopen(o.state_file.c_str(), L"r")) {
            while (read < 10 && std::fscanf(f, "%ld", &v[read]) == 1) ++read;
            std::fclose(f);
        }
        if (read < 10) {
            std::printf("FAILED: the child ended (code %lu) before its first trial\n", exit_code);
            return 2;
        }
        total.trials += v[2], total.crashes += v[3], total.leaks += v[4], total.convention += v[5];
        total.state += v[6], total.unreached += v[7], total.unlisted += v[8];
        if (v[9]) break;
        // The child ended in trial (v[0], v[1]): that trial crashed (it printed which); go on after it.
        std::printf("  (the child ended with code %lu; the next one goes on after that trial)\n", exit_code);
        std::fflush(stdout);
        ++total.trials, ++total.crashes;
        shape_index = v[0];
        trial_index = v[1] + 1;
        if (o.mode == options::random) shape_index = v[0] + 1, trial_index = 0;
    }
    std::printf(
        "%s imports hooked; %ld left out; %ld unlisted; %ld trials not reached (calls fewer than counted); %.1f s\n",
        std::to_string(std::size(imports)).c_str(), static_cast<long>(std::size(left_out)), total.unlisted,
        total.unreached, (GetTickCount() - start) / 1000.0);
    std::printf("trials %ld crashes %ld leaks %ld convention %ld state %ld\n", total.trials, total.crashes, total.leaks,
                total.convention, total.state);
    const bool clean = !total.crashes && !total.leaks && !total.convention && !total.state && !total.unlisted;
    std::printf("%s\n", clean ? "PASSED" : "FAILED");
    return clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    options o;
    bool is_child = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seed-run")
            o.mode = options::seed_run;
        else if (a == "--all")
            o.mode = options::all;
        else if (a == "--random" && i + 2 < argc) {
            o.mode = options::random;
            o.random_calls = std::strtol(argv[++i], nullptr, 10);
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--only" && i + 1 < argc)
            o.only = argv[++i];
        else if (a == "--import" && i + 1 < argc)
            o.import = argv[++i];
        else if (a == "--child" && i + 3 < argc) {
            is_child = true;
            const std::string file = argv[++i];
            o.state_file.assign(file.begin(), file.end());
            o.from_shape = std::strtol(argv[++i], nullptr, 10);
            o.from_trial = std::strtol(argv[++i], nullptr, 10);
        } else {
            std::printf(
                "usage: zorvane_faults.exe [--seed-run | --all | --random N SEED] [--only <shape>] [--import "
                "<name>]\n");
            return 2;
        }
    }
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    scratch = std::wstring(temp) + L"zorvane_faults\\";
    CreateDirectoryW(scratch.c_str(), nullptr);
    SetCurrentDirectoryW(scratch.c_str());
    if (is_child) return child(o);
    o.state_file = std::wstring(temp) + L"zorvane_faults.state";
    return parent(o, argc, argv);
}
