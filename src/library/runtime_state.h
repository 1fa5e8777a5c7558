// The static C++ runtime's per-thread and once-only state, owned by the library so that unloading it gives
// everything back.
#pragma once

namespace zorvane::runtime_state {

bool library_loaded() noexcept;    // false: no TLS slot left, and the library cannot load
void thread_ended() noexcept;      // frees the calling thread's record
void library_unloaded() noexcept;  // frees every thread's record, the slot and the runtime's reserve

} // namespace zorvane::runtime_state
