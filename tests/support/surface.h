// The public surface of _Zorvane as callers know it: names, DISPIDs, parameters and results.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace zvtest {

// Parameter kinds: L Long ref, I Integer ref, S String ref, V Variant ref, s String val, o String val opt.
// Result kinds: S String, P Picture, V Variant, - none.
struct method_row {
    const wchar_t* name;
    DISPID dispid;
    std::vector<std::pair<const wchar_t*, char>> params;
    char result;
};

const std::vector<method_row>& zorvane_methods();

} // namespace zvtest
