// What the test process holds, counted in ways that work under Wine too: GDI objects, windows, handles,
// private memory, and the next free TLS index and atoms.
#pragma once

#include <windows.h>

#include <cstddef>

namespace zvtest {

struct usage {
    DWORD gdi = 0, user = 0, handles = 0;           // as the system reports them (0 under Wine)
    long gdi_table = -1, windows = 0, probed_handles = 0;
    SIZE_T private_bytes = 0, private_walked = 0;   // PrivateUsage (0 under Wine), committed private regions
};

// True when the GDI handle table can be counted here (Wine's layout) and follows objects made and deleted.
bool gdi_table_counts();

usage measure(bool gdi_table);

// GDI objects in the process's GDI handle table (Wine's layout); -1 where it cannot be read. Quick enough to
// read after every call, unlike a whole `measure`.
long gdi_objects_by_table();
void print(const char* when, const usage& u);

// The index TlsAlloc hands out next, and the atoms a new global atom and a new window class would get:
// each climbs when the process keeps taking them without giving them back.
DWORD next_tls_index();
ATOM next_global_atom();
ATOM next_class_atom();

} // namespace zvtest
