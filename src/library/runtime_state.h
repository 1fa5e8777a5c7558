// The static C++ runtime's per-thread and once-only state, owned by the library so that unloading it gives
// everything back.
#pragma once

namespace zorvane::runtime_state {

#if defined(ZV_OWN_RUNTIME_STATE)  // the GNU runtime, linked statically (runtime_state.cpp)
bool library_loaded() noexcept;    // false: no TLS slot left, and the library cannot load
void thread_ended() noexcept;      // frees the calling thread's record
void library_unloaded() noexcept;  // frees every thread's record, the slot and the runtime's reserve
#else
// Other runtimes (MSVC's static one) keep their per-thread state themselves and give it back when the DLL is
// unloaded: their own DLL entry point runs around the library's.
inline bool library_loaded() noexcept { return true; }
inline void thread_ended() noexcept {}
inline void library_unloaded() noexcept {}
#endif

} // namespace zorvane::runtime_state
