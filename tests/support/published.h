// The identifiers ZorvaneLib publishes, pinned here and nowhere else: its classes, interfaces, type library and
// ProgID, as GUIDs and as the text the registry holds. A GUID changed in the IDL fails type_library's check of
// these against the generated header.
#pragma once

#include <windows.h>

namespace zvtest {

// coclass Zorvane and its interfaces: the dual _Zorvane and the source dispinterface __Zorvane.
inline constexpr CLSID clsid_zorvane = {0xbfef386b, 0xed41, 0x4b26, {0xb3, 0x02, 0xb4, 0xc3, 0x05, 0x4e, 0x25, 0xc5}};
inline constexpr IID iid_zorvane = {0x8003362e, 0x8df0, 0x4fc8, {0xb2, 0xbb, 0x2f, 0xb0, 0x20, 0x2a, 0x52, 0xa3}};
inline constexpr IID diid_source = {0x50c81c29, 0x1f94, 0x40d1, {0xbb, 0xb8, 0x35, 0x25, 0x7d, 0x92, 0xce, 0x6f}};
// coclass clsMemorySnapshot and its dual _clsMemorySnapshot.
inline constexpr CLSID clsid_snapshot = {0x34d4e009, 0xcd2d, 0x4cde, {0x85, 0x7d, 0x9c, 0x1b, 0xbb, 0xa8, 0x47, 0x67}};
inline constexpr IID iid_snapshot = {0x84493b06, 0x2461, 0x4123, {0x8d, 0x73, 0x30, 0x94, 0xe4, 0xef, 0x0e, 0x00}};
// library ZorvaneLib.
inline constexpr GUID libid_zorvane = {0x12847f97, 0x5e0c, 0x4024, {0xaa, 0x7c, 0xe7, 0x85, 0x5c, 0x07, 0x2f, 0xc0}};

// The same, as StringFromGUID2 and the registry write them.
inline constexpr wchar_t clsid_zorvane_text[] = L"{BFEF386B-ED41-4B26-B302-B4C3054E25C5}";
inline constexpr wchar_t iid_zorvane_text[] = L"{8003362E-8DF0-4FC8-B2BB-2FB0202A52A3}";
inline constexpr wchar_t diid_source_text[] = L"{50C81C29-1F94-40D1-BBB8-35257D92CE6F}";
inline constexpr wchar_t clsid_snapshot_text[] = L"{34D4E009-CD2D-4CDE-857D-9C1BBBA84767}";
inline constexpr wchar_t iid_snapshot_text[] = L"{84493B06-2461-4123-8D73-3094E4EF0E00}";
inline constexpr wchar_t libid_zorvane_text[] = L"{12847F97-5E0C-4024-AA7C-E7855C072FC0}";

// What CreateObject names the control by.
inline constexpr wchar_t prog_id[] = L"ZorvaneLib.Zorvane";

} // namespace zvtest
