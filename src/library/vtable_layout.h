// Where the methods of _Zorvane sit in its table of functions.
#pragma once

namespace zorvane::layout {
constexpr unsigned first_method_entry = 489;
constexpr unsigned method_count = 58;
constexpr unsigned vtable_entries = 547;
constexpr wchar_t dual_interface[] = L"_Zorvane";
constexpr wchar_t source_interface[] = L"__Zorvane";
} // namespace zorvane::layout
