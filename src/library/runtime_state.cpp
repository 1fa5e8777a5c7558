// The static GNU runtime's threads-library state, replaced by state the library owns and gives back at unload.
//
// The runtime asks __cxa_get_globals for the calling thread's record of the exceptions it is handling; its own
// answer is a thread-local variable. The unwinder builds its tables once through pthread_once and guards them,
// like the reserve for exceptions thrown when memory is short, with statically initialised mutexes. All of that
// goes through the threads library, which takes a TLS index, a block per thread and a block per mutex that
// nothing ever gives back: each load of the library would keep them, until a host that loads and frees it all
// day runs out of TLS indexes. Here the records live in a TLS slot taken when the library loads and freed when
// it is unloaded (a thread's record goes when the thread ends, those of threads still running go with the
// library), once-only initialisation is an interlocked flag, the mutexes are locks that own nothing, and the
// reserve is given back at unload.
#include "library/runtime_state.h"

#include <windows.h>

#include <cstddef>  // defines __GLIBCXX__ with the GNU runtime
#include <cstdint>

#if !defined(__GLIBCXX__) || !defined(ZV_OWN_RUNTIME_STATE)
#error "built only into the DLL, with the GNU runtime (src/CMakeLists.txt)"
#endif

namespace {

// The runtime's record (its __cxa_eh_globals), with room to spare.
struct record {
    void* caught_exceptions;
    unsigned int uncaught_exceptions;
    void* spare[2];
};

struct thread_record {
    record globals;  // first: the runtime is handed its address
    thread_record* previous;
    thread_record* next;
};

DWORD slot = TLS_OUT_OF_INDEXES;
SRWLOCK records_lock = SRWLOCK_INIT;
thread_record* records = nullptr;  // every thread's, to free those still running at unload

void unlink(thread_record* r) noexcept {
    if (r->previous) r->previous->next = r->next;
    else records = r->next;
    if (r->next) r->next->previous = r->previous;
}

} // namespace

extern "C" record* __cxa_get_globals() noexcept {
    // TlsGetValue clears the thread's last error, which callers may be about to read.
    const DWORD last_error = GetLastError();
    auto* r = static_cast<thread_record*>(TlsGetValue(slot));
    if (!r) {
        r = static_cast<thread_record*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(thread_record)));
        if (!r || !TlsSetValue(slot, r)) __builtin_trap();  // as the runtime does: no record, no exceptions
        AcquireSRWLockExclusive(&records_lock);
        r->next = records;
        if (records) records->previous = r;
        records = r;
        ReleaseSRWLockExclusive(&records_lock);
    }
    SetLastError(last_error);
    return &r->globals;
}

extern "C" record* __cxa_get_globals_fast() noexcept { return __cxa_get_globals(); }

// The runtime's mutexes are plain ones, statically initialised (PTHREAD_MUTEX_INITIALIZER, -1) or by
// pthread_mutex_init without attributes, and held for a few instructions at a time: a lock that yields while
// another thread holds it. 1 is held, anything else free.
extern "C" int pthread_mutex_init(std::intptr_t* mutex, const void*) {
    *mutex = 0;
    return 0;
}

extern "C" int pthread_mutex_destroy(std::intptr_t*) { return 0; }

extern "C" int pthread_mutex_lock(std::intptr_t* mutex) {
    for (;;) {
        std::intptr_t seen = __atomic_load_n(mutex, __ATOMIC_RELAXED);
        if (seen != 1 && __atomic_compare_exchange_n(mutex, &seen, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
            return 0;
        SwitchToThread();
    }
}

extern "C" int pthread_mutex_unlock(std::intptr_t* mutex) {
    __atomic_store_n(mutex, 0, __ATOMIC_RELEASE);
    return 0;
}

// Callers start with 0 (PTHREAD_ONCE_INIT); 2 while `init` runs, 1 once it has.
extern "C" int pthread_once(long* once, void (*init)()) {
    if (InterlockedCompareExchange(once, 2, 0) == 0) {
        init();
        InterlockedExchange(once, 1);
        return 0;
    }
    while (InterlockedCompareExchange(once, 1, 1) != 1) SwitchToThread();
    return 0;
}

namespace __gnu_cxx {
void __freeres() noexcept;  // frees the reserve for exceptions thrown when memory is short
} // namespace __gnu_cxx

namespace zorvane::runtime_state {

bool library_loaded() noexcept {
    slot = TlsAlloc();
    return slot != TLS_OUT_OF_INDEXES;
}

void thread_ended() noexcept {
    if (slot == TLS_OUT_OF_INDEXES) return;
    auto* r = static_cast<thread_record*>(TlsGetValue(slot));
    if (!r) return;
    TlsSetValue(slot, nullptr);
    AcquireSRWLockExclusive(&records_lock);
    unlink(r);
    ReleaseSRWLockExclusive(&records_lock);
    HeapFree(GetProcessHeap(), 0, r);
}

void library_unloaded() noexcept {
    if (slot == TLS_OUT_OF_INDEXES) return;
    AcquireSRWLockExclusive(&records_lock);
    while (thread_record* r = records) {
        records = r->next;
        HeapFree(GetProcessHeap(), 0, r);
    }
    ReleaseSRWLockExclusive(&records_lock);
    TlsFree(slot);
    slot = TLS_OUT_OF_INDEXES;
    __gnu_cxx::__freeres();
}

} // namespace zorvane::runtime_state
