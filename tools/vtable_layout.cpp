// vtable_layout <in.tlb> <out.tlb> [<created>]: puts the type descriptions of the compiled type library in their
// published order and lays out _Zorvane's table of functions. Given <created> (seconds since 1970, UTC), it
// also writes that time where the IDL compiler recorded when it ran, so that the library is the same for every
// build of the same sources.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "library/vtable_layout.h"

namespace {

namespace layout = zorvane::layout;

// Entries 0..6 of a dual interface belong to IUnknown and IDispatch.
constexpr unsigned dispatch_entries = 7;
constexpr uint32_t kind_interface = TKIND_INTERFACE;
constexpr uint32_t kind_dispatch = TKIND_DISPATCH;
constexpr uint32_t kind_coclass = TKIND_COCLASS;
constexpr WORD source_flags = TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FHIDDEN;

// The order in which clients enumerate the type descriptions (ITypeLib::GetTypeInfo), and the kind of each.
// widl writes a coclass's interfaces right after the coclass, so the source dispinterface has to be moved.
struct placed_type {
    const wchar_t* name;
    TYPEKIND kind;
};
constexpr placed_type type_order[] = {
    {L"_Zorvane", TKIND_DISPATCH},
    {L"Zorvane", TKIND_COCLASS},
    {L"_clsMemorySnapshot", TKIND_DISPATCH},
    {L"clsMemorySnapshot", TKIND_COCLASS},
    {L"__Zorvane", TKIND_DISPATCH},
};

// What each coclass implements, in its own order.
struct implemented {
    const wchar_t* coclass;
    UINT index;
    const wchar_t* interface_name;
    INT flags;
};
constexpr implemented implemented_types[] = {
    {L"Zorvane", 0, L"_Zorvane", IMPLTYPEFLAG_FDEFAULT},
    {L"Zorvane", 1, L"__Zorvane", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
    {L"clsMemorySnapshot", 0, L"_clsMemorySnapshot", IMPLTYPEFLAG_FDEFAULT},
};

// IPictureDisp, which CaptureHwnd and CaptureDesktop return through stdole2's Picture.
constexpr GUID picture_iid = {0x7BF80981, 0xBF32, 0x101A, {0x8B, 0xBB, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};

// Layout of the binary type library ("MSFT" format); all values little-endian.
using offset = uint64_t;  // wide enough that no sum of file offsets wraps
constexpr uint32_t msft_magic = 0x5446534D;
constexpr size_t header_varflags = 0x14;
constexpr size_t header_typeinfo_count = 0x20;
constexpr size_t header_custom_data = 0x40;  // the library's first custom data entry
constexpr size_t header_dispatch = 0x4C;  // reference to IDispatch
constexpr size_t header_size = 0x54;      // then an offset per type description, then the segment directory
constexpr uint32_t varflag_help_dll = 0x100;
constexpr size_t segment_size = 16;  // offset, length, two reserved words
constexpr size_t segment_typeinfos = 0;
constexpr size_t segment_references = 3;
constexpr size_t segment_guids = 5;
constexpr size_t segment_names = 7;
constexpr size_t segment_typedescs = 9;
constexpr size_t segment_custom_data = 11;   // the values
constexpr size_t segment_custom_guids = 12;  // entries: GUID, value, next entry
constexpr size_t typeinfo_size = 0x64;
constexpr size_t typeinfo_kind = 0x00;     // low nibble: TYPEKIND; high word: the description's own index
constexpr size_t typeinfo_members = 0x04;  // file offset of the member records
constexpr size_t typeinfo_counts = 0x18;   // low word: functions, high word: variables
constexpr size_t typeinfo_guid = 0x2C;
constexpr size_t typeinfo_flags = 0x30;
constexpr size_t typeinfo_name = 0x34;
constexpr size_t typeinfo_impl_count = 0x4C;
constexpr size_t typeinfo_vft_size = 0x4E;
constexpr size_t typeinfo_datatype1 = 0x54;  // interface: its base; coclass: its first reference record
constexpr size_t guid_entry_size = 24;       // GUID, reference, next in hash chain
constexpr size_t guid_reference = 16;
constexpr size_t reference_size = 16;  // reference, impl flags, custom data, next record
constexpr size_t reference_next = 12;
constexpr size_t typedesc_size = 8;  // vartype word, flags word, reference or nested type
constexpr size_t typedesc_target = 4;
constexpr size_t name_length = 0x08;  // low byte of the third word
constexpr size_t name_text = 0x0C;
constexpr size_t member_index_entry = 12;  // per member: its id, its name and its record offset
constexpr size_t function_vft_offset = 0x0C;
constexpr size_t function_min_size = 0x18;
constexpr uint32_t no_offset = 0xFFFFFFFF;

struct error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string narrow(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    result.resize(static_cast<size_t>(size - 1));
    return result;
}

std::string narrow(const std::wstring& text) { return narrow(text.c_str()); }

std::wstring full_path(const wchar_t* path) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) throw error("cannot resolve " + narrow(path));
    return full;
}

// True also when either path cannot be resolved, so that nothing is overwritten or deleted by mistake.
bool same_file(const wchar_t* a, const wchar_t* b) noexcept {
    wchar_t full_a[MAX_PATH], full_b[MAX_PATH];
    const DWORD length_a = GetFullPathNameW(a, MAX_PATH, full_a, nullptr);
    const DWORD length_b = GetFullPathNameW(b, MAX_PATH, full_b, nullptr);
    if (length_a == 0 || length_a >= MAX_PATH || length_b == 0 || length_b >= MAX_PATH) return true;
    return lstrcmpiW(full_a, full_b) == 0;
}

std::string hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string type_list(const std::vector<std::wstring>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + narrow(name);
    return text.empty() ? "nothing" : text;
}

std::vector<std::wstring> expected_names() {
    std::vector<std::wstring> names;
    for (const auto& type : type_order) names.emplace_back(type.name);
    return names;
}

struct handle_closer {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using unique_handle = std::unique_ptr<void, handle_closer>;

unique_handle open_file(const wchar_t* path, DWORD access, DWORD disposition) {
    const HANDLE h = CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw error("cannot open " + narrow(path) + " (error " + std::to_string(GetLastError()) + ")");
    return unique_handle(h);
}

std::vector<unsigned char> read_file(const wchar_t* path) {
    const unique_handle file = open_file(path, GENERIC_READ, OPEN_EXISTING);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x1000000) throw error("cannot size " + narrow(path));
    std::vector<unsigned char> bytes(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size()))
        throw error("cannot read " + narrow(path));
    return bytes;
}

void write_file(const wchar_t* path, const std::vector<unsigned char>& bytes) {
    const unique_handle file = open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        throw error("cannot write " + narrow(path));
}

// Bounds-checked access to the bytes of a type library.
class msft_file {
public:
    explicit msft_file(std::vector<unsigned char>& bytes) : bytes_(bytes) {
        if (u32(0) != msft_magic) throw error("not a type library in MSFT format");
        const uint32_t varflags = u32(header_varflags);
        switch (varflags & 0xF) {
        case SYS_WIN32: pointer_size_ = 4; break;
        case SYS_WIN64: pointer_size_ = 8; break;
        default: throw error("unsupported syskind " + std::to_string(varflags & 0xF));
        }
        typeinfo_count_ = u32(header_typeinfo_count);
        if (typeinfo_count_ > 0xFFFF) throw error("implausible number of type descriptions");
        typeinfo_offsets_ = header_size + ((varflags & varflag_help_dll) ? 4 : 0);
        segments_ = typeinfo_offsets_ + typeinfo_count_ * 4;
        if (u32(segment(segment_typeinfos) + 12) != 0xF) throw error("segment directory not found");
        if (segment_length(segment_typeinfos) < typeinfo_count_ * typeinfo_size)
            throw error("type descriptions truncated");
    }

    unsigned pointer_size() const { return pointer_size_; }
    uint32_t typeinfo_count() const { return typeinfo_count_; }

    // The offset of each type description's record, one word per description, after the header.
    offset typeinfo_offsets() const { return typeinfo_offsets_; }

    // File offset of the base record of type description `index`.
    offset typeinfo(uint32_t index) const { return segment_offset(segment_typeinfos) + offset{index} * typeinfo_size; }

    // File offset and length of a segment; a segment of length 0 may have no offset at all.
    offset segment_offset(size_t index) const { return u32(segment(index)); }
    offset segment_length(size_t index) const { return u32(segment(index) + 4); }

    uint32_t u32(offset at) const {
        return static_cast<uint32_t>(u16(at) | static_cast<uint32_t>(u16(at + 2)) << 16);
    }
    uint16_t u16(offset at) const {
        const size_t i = check(at, 2);
        return static_cast<uint16_t>(bytes_[i] | bytes_[i + 1] << 8);
    }
    void put16(offset at, uint16_t value) {
        const size_t i = check(at, 2);
        bytes_[i] = static_cast<unsigned char>(value & 0xFF);
        bytes_[i + 1] = static_cast<unsigned char>(value >> 8);
    }
    void put32(offset at, uint32_t value) {
        put16(at, static_cast<uint16_t>(value & 0xFFFF));
        put16(at + 2, static_cast<uint16_t>(value >> 16));
    }

    std::vector<unsigned char> copy(offset at, size_t count) const {
        const size_t i = check(at, count);
        return std::vector<unsigned char>(bytes_.begin() + static_cast<ptrdiff_t>(i),
                                          bytes_.begin() + static_cast<ptrdiff_t>(i + count));
    }
    void paste(offset at, const std::vector<unsigned char>& data) {
        const size_t i = check(at, data.size());
        std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<ptrdiff_t>(i));
    }

    // The name-table entry at `entry` (an offset inside the name segment), as stored: single-byte characters.
    std::wstring name_at(offset entry) const {
        const offset at = segment_offset(segment_names) + entry;
        const size_t length = u32(at + name_length) & 0xFF;
        const size_t text = check(at + name_text, length);
        std::wstring name;
        for (size_t k = 0; k < length; ++k) name += static_cast<wchar_t>(bytes_[text + k]);
        return name;
    }

    std::wstring type_name(uint32_t index) const { return name_at(u32(typeinfo(index) + typeinfo_name)); }

    // File offset of the base record of the type description with this name.
    offset find_typeinfo(const wchar_t* wanted) const {
        for (uint32_t i = 0; i < typeinfo_count_; ++i)
            if (type_name(i) == wanted) return typeinfo(i);
        throw error("no type description named " + narrow(wanted));
    }

private:
    offset segment(size_t index) const { return segments_ + index * segment_size; }
    size_t check(offset at, size_t count) const {
        if (at > bytes_.size() || count > bytes_.size() - at)
            throw error("type library truncated at " + hex(static_cast<unsigned>(at)));
        return static_cast<size_t>(at);
    }

    std::vector<unsigned char>& bytes_;
    unsigned pointer_size_ = 0;
    uint32_t typeinfo_count_ = 0;
    offset typeinfo_offsets_ = 0;
    offset segments_ = 0;
};

// Bytes taken by the member records of a type description: a length word, the records, then an id, a name
// and a record offset per member.
size_t member_block_size(const msft_file& tlb, offset record) {
    const uint32_t counts = tlb.u32(record + typeinfo_counts);
    const size_t members = (counts & 0xFFFF) + (counts >> 16);
    if (members == 0) return 0;
    const offset at = tlb.u32(record + typeinfo_members);
    return 4 + size_t{tlb.u32(at)} + members * member_index_entry;
}

// Puts the type descriptions in type_order. A type description is referred to by the offset of its record in
// the type description segment (its index times 0x64, the low two bits clear); every such reference is moved
// along with the record: the offsets after the header, the reference to IDispatch, the descriptions' own
// index, the base of each interface, the interfaces each coclass implements, the owner of each GUID and each
// name, and user-defined types. The member records follow the descriptions in their new order. Values with a
// low bit set (imported types and libraries) or negative ones (none, the library itself) stay as they are, as
// do custom data and the imported-type table, which name GUIDs and other libraries' indexes only.
void reorder(msft_file& tlb) {
    const uint32_t count = tlb.typeinfo_count();
    std::vector<std::wstring> found;
    for (uint32_t i = 0; i < count; ++i) found.push_back(tlb.type_name(i));
    const std::string mismatch =
        "the type library holds " + type_list(found) + "; expected " + type_list(expected_names());
    if (count != std::size(type_order)) throw error(mismatch);

    // source[j]: where the description placed j-th comes from; place[i]: where description i goes.
    std::vector<uint32_t> source(count), place(count);
    for (uint32_t j = 0; j < count; ++j) {
        const auto match = [&](const std::wstring& name) { return name == type_order[j].name; };
        if (std::count_if(found.begin(), found.end(), match) != 1) throw error(mismatch);
        source[j] = static_cast<uint32_t>(std::find_if(found.begin(), found.end(), match) - found.begin());
        place[source[j]] = j;
        const uint32_t kind = tlb.u32(tlb.typeinfo(source[j]) + typeinfo_kind) & 0xF;
        if (kind != static_cast<uint32_t>(type_order[j].kind))
            throw error(narrow(type_order[j].name) + " has type kind " + std::to_string(kind) + ", expected " +
                        std::to_string(type_order[j].kind));
    }

    const auto moved = [&](uint32_t reference, const std::string& where) -> uint32_t {
        if ((reference & 3) != 0 || (reference & 0x80000000u) != 0) return reference;  // imported, or none
        if (reference % typeinfo_size != 0 || reference / typeinfo_size >= count)
            throw error(where + " refers to " + hex(reference) + ", which is no type description");
        return static_cast<uint32_t>(place[reference / typeinfo_size] * typeinfo_size);
    };

    // Everything that moves is taken before anything is written.
    std::vector<std::vector<unsigned char>> records, blocks;
    std::vector<offset> block_at;
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < count; ++i) {
        const offset record = tlb.typeinfo(i);
        records.push_back(tlb.copy(record, typeinfo_size));
        const size_t size = member_block_size(tlb, record);
        block_at.push_back(tlb.u32(record + typeinfo_members));
        blocks.push_back(size ? tlb.copy(block_at.back(), size) : std::vector<unsigned char>{});
        offsets.push_back(tlb.u32(tlb.typeinfo_offsets() + offset{i} * 4));
    }

    // The member records are written one description after another; keep them in the descriptions' order
    // when they are laid out that way, otherwise leave each where it is.
    std::vector<uint32_t> filled;
    for (uint32_t i = 0; i < count; ++i)
        if (!blocks[i].empty()) filled.push_back(i);
    std::sort(filled.begin(), filled.end(), [&](uint32_t a, uint32_t b) { return block_at[a] < block_at[b]; });
    bool contiguous = !filled.empty();
    for (size_t k = 1; k < filled.size(); ++k)
        contiguous = contiguous && block_at[filled[k]] == block_at[filled[k - 1]] + blocks[filled[k - 1]].size();
    std::vector<offset> members(count);
    offset next = contiguous ? block_at[filled.front()] : 0;
    for (uint32_t j = 0; j < count; ++j) {
        const uint32_t i = source[j];
        if (!contiguous) {
            members[j] = block_at[i];
            continue;
        }
        members[j] = next;  // a description without members points where the next block starts
        if (!blocks[i].empty()) tlb.paste(next, blocks[i]);
        next += blocks[i].size();
    }

    for (uint32_t j = 0; j < count; ++j) {
        const uint32_t i = source[j];
        const offset record = tlb.typeinfo(j);
        const std::string name = narrow(found[i]);
        tlb.paste(record, records[i]);
        const uint32_t kind = tlb.u32(record + typeinfo_kind);
        if ((kind >> 16) == i) tlb.put32(record + typeinfo_kind, (kind & 0xFFFF) | j << 16);
        tlb.put32(record + typeinfo_members, static_cast<uint32_t>(members[j]));
        if ((kind & 0xF) == kind_interface || (kind & 0xF) == kind_dispatch)
            tlb.put32(record + typeinfo_datatype1,
                      moved(tlb.u32(record + typeinfo_datatype1), "the base interface of " + name));
    }

    for (uint32_t j = 0; j < count; ++j)
        tlb.put32(tlb.typeinfo_offsets() + offset{j} * 4,
                  moved(offsets[source[j]], "the offset after the header of " + narrow(found[source[j]])));
    tlb.put32(header_dispatch, moved(tlb.u32(header_dispatch), "the reference to IDispatch"));

    // Each coclass's interfaces: a chain of reference records, as many as it implements.
    const offset references = tlb.segment_offset(segment_references);
    const offset references_length = tlb.segment_length(segment_references);
    std::vector<bool> seen(static_cast<size_t>(references_length / reference_size));
    for (uint32_t j = 0; j < count; ++j) {
        const offset record = tlb.typeinfo(j);
        if ((tlb.u32(record + typeinfo_kind) & 0xF) != kind_coclass) continue;
        const std::string name = narrow(type_order[j].name);
        uint32_t at = tlb.u32(record + typeinfo_datatype1);
        for (unsigned k = 0, impls = tlb.u16(record + typeinfo_impl_count); k < impls; ++k) {
            if (at % reference_size != 0 || offset{at} + reference_size > references_length ||
                seen[at / reference_size])
                throw error("the interfaces of " + name + " lead outside the reference table (" + hex(at) + ")");
            seen[at / reference_size] = true;
            const offset entry = references + at;
            tlb.put32(entry, moved(tlb.u32(entry), "interface " + std::to_string(k) + " of " + name));
            at = tlb.u32(entry + reference_next);
        }
    }

    const offset guids = tlb.segment_offset(segment_guids);
    const offset guids_length = tlb.segment_length(segment_guids);
    if (guids_length % guid_entry_size != 0) throw error("GUID table of odd length " + hex(unsigned(guids_length)));
    for (offset at = guids; at < guids + guids_length; at += guid_entry_size)
        tlb.put32(at + guid_reference,
                  moved(tlb.u32(at + guid_reference), "GUID entry " + hex(static_cast<unsigned>(at - guids))));

    // Each name names the type description it was first declared in, or none.
    const offset names = tlb.segment_offset(segment_names);
    const offset names_length = tlb.segment_length(segment_names);
    offset at = 0;
    while (at < names_length) {
        tlb.put32(names + at, moved(tlb.u32(names + at), "name " + narrow(tlb.name_at(at))));
        at += name_text + ((tlb.u32(names + at + name_length) & 0xFF) + 3) / 4 * 4;
    }
    if (at != names_length) throw error("name table ends inside an entry");

    const offset typedescs = tlb.segment_offset(segment_typedescs);
    const offset typedescs_length = tlb.segment_length(segment_typedescs);
    if (typedescs_length % typedesc_size != 0) throw error("type table of odd length");
    for (offset entry = typedescs; entry < typedescs + typedescs_length; entry += typedesc_size)
        if ((tlb.u16(entry) & VT_TYPEMASK) == VT_USERDEFINED)
            tlb.put32(entry + typedesc_target,
                      moved(tlb.u32(entry + typedesc_target),
                            "user-defined type " + hex(static_cast<unsigned>(entry - typedescs))));

    // Every description's GUID and name lead back to it.
    for (uint32_t j = 0; j < count; ++j) {
        const offset record = tlb.typeinfo(j);
        const uint32_t self = static_cast<uint32_t>(j * typeinfo_size);
        const uint32_t guid = tlb.u32(record + typeinfo_guid);
        if (guid != no_offset && tlb.u32(guids + guid + guid_reference) != self)
            throw error("the GUID of " + narrow(type_order[j].name) + " does not lead back to it");
        if (tlb.u32(names + tlb.u32(record + typeinfo_name)) != self)
            throw error("the name of " + narrow(type_order[j].name) + " does not lead back to it");
    }
}

void lay_out(msft_file& tlb) {
    const unsigned ptr = tlb.pointer_size();
    const offset dual = tlb.find_typeinfo(layout::dual_interface);
    const uint32_t kind = tlb.u32(dual + typeinfo_kind) & 0xF;
    if (kind != kind_dispatch && kind != kind_interface) throw error("_Zorvane is not an interface");
    const unsigned count = tlb.u32(dual + typeinfo_counts) & 0xFFFF;
    if (count != layout::method_count)
        throw error("_Zorvane has " + std::to_string(count) + " methods, expected " +
                    std::to_string(layout::method_count));

    // The function records follow one another after a leading length word; each starts with its own size.
    offset record = tlb.u32(dual + typeinfo_members) + offset{4};
    for (unsigned i = 0; i < count; ++i) {
        const uint32_t size = tlb.u32(record) & 0xFFFF;
        if (size < function_min_size) throw error("malformed function record " + std::to_string(i) + " of _Zorvane");
        const uint16_t old = tlb.u16(record + function_vft_offset);
        if ((old & ~1u) != (dispatch_entries + i) * ptr)
            throw error("method " + std::to_string(i) + " of _Zorvane has table offset " + hex(old) + ", expected " +
                        hex((dispatch_entries + i) * ptr));
        const unsigned moved = ((layout::first_method_entry + i) * ptr) | (old & 1u);  // bit 0 is a flag
        tlb.put16(record + function_vft_offset, static_cast<uint16_t>(moved));
        record += size;
    }
    tlb.put16(dual + typeinfo_vft_size, static_cast<uint16_t>(layout::vtable_entries * ptr));

    const offset source = tlb.find_typeinfo(layout::source_interface);
    if ((tlb.u32(source + typeinfo_kind) & 0xF) != kind_dispatch) throw error("__Zorvane is not a dispinterface");
    tlb.put32(source + typeinfo_flags, tlb.u32(source + typeinfo_flags) | uint32_t{TYPEFLAG_FNONEXTENSIBLE});
}

// The custom data the IDL compiler attaches to the library about its own run (the same GUIDs for widl and MIDL):
// the time it ran (VT_UI4) and "Created by ... at <ctime text>\n" (VT_BSTR).
constexpr GUID compiler_time_guid = {0xDE77BA63, 0x517C, 0x11D1, {0xA2, 0xDA, 0x00, 0x00, 0xF8, 0x77, 0x3C, 0xE9}};
constexpr GUID compiler_text_guid = {0xDE77BA65, 0x517C, 0x11D1, {0xA2, 0xDA, 0x00, 0x00, 0xF8, 0x77, 0x3C, 0xE9}};
constexpr size_t ctime_length = 24;  // "Wed Dec  9 13:02:22 2026"

// `seconds` as ctime writes it, in UTC, without its line end.
std::string ctime_text(uint32_t seconds) {
    const ULONGLONG ticks = (ULONGLONG{seconds} + 11644473600ULL) * 10000000ULL;  // since 1601, in 100 ns
    FILETIME file_time{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME t{};
    if (!FileTimeToSystemTime(&file_time, &t)) throw error("cannot convert the time " + std::to_string(seconds));
    static const char days[] = "SunMonTueWedThuFriSat", months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char text[32];
    std::snprintf(text, sizeof text, "%.3s %.3s%3u %02u:%02u:%02u %u", days + 3 * t.wDayOfWeek,
                  months + 3 * (t.wMonth - 1), t.wDay, t.wHour, t.wMinute, t.wSecond, t.wYear);
    return text;
}

// Writes `created` as the time the IDL compiler ran, in its time value and at the end of its text; either may be
// missing (a compiler that records neither), but what is there must have the form it has. Returns how many
// were found.
unsigned stamp(msft_file& tlb, uint32_t created) {
    const offset guids = tlb.segment_offset(segment_guids);
    const offset values = tlb.segment_offset(segment_custom_data);
    const offset entries = tlb.segment_offset(segment_custom_guids);
    unsigned found = 0, visited = 0;
    for (uint32_t entry = tlb.u32(header_custom_data); entry != no_offset; entry = tlb.u32(entries + entry + 8)) {
        if (++visited > 0x10000) throw error("the library's custom data entries run in a circle");
        GUID guid;
        const std::vector<unsigned char> guid_bytes = tlb.copy(guids + tlb.u32(entries + entry), sizeof guid);
        std::memcpy(&guid, guid_bytes.data(), sizeof guid);
        const uint32_t value = tlb.u32(entries + entry + 4);
        const bool time = IsEqualGUID(guid, compiler_time_guid), text = IsEqualGUID(guid, compiler_text_guid);
        if (!time && !text) continue;
        if (value & 0x80000000u) throw error("the IDL compiler's custom data is stored in place");
        const offset at = values + value;
        const VARTYPE type = tlb.u16(at);
        if (time) {
            if (type != VT_UI4 && type != VT_I4) throw error("the IDL compiler's time is of type " + hex(type));
            tlb.put32(at + 2, created);
        } else {
            if (type != VT_BSTR) throw error("the IDL compiler's text is of type " + hex(type));
            const size_t length = tlb.u32(at + 2);
            std::vector<unsigned char> chars = tlb.copy(at + 6, length);
            const std::string old(chars.begin(), chars.end());
            const size_t when = old.rfind(" at ");
            if (when == std::string::npos || length != when + 4 + ctime_length + 1 || old.back() != '\n')
                throw error("the IDL compiler's text has an unexpected form: " + old);
            const std::string stamped = ctime_text(created);
            std::copy(stamped.begin(), stamped.end(), chars.begin() + static_cast<ptrdiff_t>(when + 4));
            tlb.paste(at + 6, chars);
        }
        ++found;
    }
    return found;
}

// Owners of what oleaut32 hands out.
struct com_release {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <class T> using com_ptr = std::unique_ptr<T, com_release>;

class type_attr {
public:
    explicit type_attr(ITypeInfo* info) : info_(info) {
        if (FAILED(info->GetTypeAttr(&attr_))) throw error("GetTypeAttr failed");
    }
    ~type_attr() { info_->ReleaseTypeAttr(attr_); }
    type_attr(const type_attr&) = delete;
    type_attr& operator=(const type_attr&) = delete;
    const TYPEATTR* operator->() const { return attr_; }

private:
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
};

void check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw error(std::string(what) + " failed with " + hex(static_cast<unsigned>(hr)));
}

class func_desc {
public:
    func_desc(ITypeInfo* info, UINT index) : info_(info) { check(info->GetFuncDesc(index, &desc_), "GetFuncDesc"); }
    ~func_desc() { info_->ReleaseFuncDesc(desc_); }
    func_desc(const func_desc&) = delete;
    func_desc& operator=(const func_desc&) = delete;
    const FUNCDESC* operator->() const { return desc_; }

private:
    ITypeInfo* info_;
    FUNCDESC* desc_ = nullptr;
};

std::wstring name_of(ITypeInfo* info, MEMBERID member = MEMBERID_NIL) {
    BSTR name = nullptr;
    check(info->GetDocumentation(member, &name, nullptr, nullptr, nullptr), "GetDocumentation");
    std::wstring text = name ? name : L"";
    SysFreeString(name);
    return text;
}

com_ptr<ITypeInfo> referenced(ITypeInfo* info, HREFTYPE reference, const char* what) {
    ITypeInfo* raw = nullptr;
    check(info->GetRefTypeInfo(reference, &raw), what);
    return com_ptr<ITypeInfo>(raw);
}

// Looks the type description up by name, then fetches it again through its GUID.
com_ptr<ITypeInfo> by_name(ITypeLib* lib, const wchar_t* name) {
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        BSTR found = nullptr;
        check(lib->GetDocumentation(static_cast<INT>(i), &found, nullptr, nullptr, nullptr), "GetDocumentation");
        const bool match = found && std::wcscmp(found, name) == 0;
        SysFreeString(found);
        if (!match) continue;
        ITypeInfo* raw = nullptr;
        check(lib->GetTypeInfo(i, &raw), "GetTypeInfo");
        const com_ptr<ITypeInfo> info(raw);
        const GUID guid = type_attr(info.get())->guid;
        check(lib->GetTypeInfoOfGuid(guid, &raw), "GetTypeInfoOfGuid");
        return com_ptr<ITypeInfo>(raw);
    }
    throw error("the written type library has no " + narrow(name));
}

// The table-of-functions view of a dual interface.
com_ptr<ITypeInfo> vtable_view(ITypeInfo* dispatch, const std::string& name) {
    HREFTYPE twin = 0;
    check(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &twin), "GetRefTypeOfImplType(-1)");
    com_ptr<ITypeInfo> view = referenced(dispatch, twin, "GetRefTypeInfo of a dual interface");
    if (type_attr(view.get())->typekind != TKIND_INTERFACE || name_of(view.get()) != name_of(dispatch))
        throw error(name + " has no table-of-functions view");
    return view;
}

// Index i of the library is type_order[i], and its GUID leads to the same place.
void verify_order(ITypeLib* lib) {
    const UINT count = lib->GetTypeInfoCount();
    std::vector<std::wstring> names;
    for (UINT i = 0; i < count; ++i) {
        ITypeInfo* raw = nullptr;
        check(lib->GetTypeInfo(i, &raw), "GetTypeInfo");
        const com_ptr<ITypeInfo> info(raw);
        names.push_back(name_of(info.get()));
    }
    if (names != expected_names())
        throw error("the written type library lists " + type_list(names) + "; expected " +
                    type_list(expected_names()));

    for (UINT i = 0; i < count; ++i) {
        ITypeInfo* raw = nullptr;
        check(lib->GetTypeInfo(i, &raw), "GetTypeInfo");
        const com_ptr<ITypeInfo> info(raw);
        const std::string name = narrow(type_order[i].name);
        const type_attr attr(info.get());
        if (attr->typekind != type_order[i].kind)
            throw error(name + " reports type kind " + std::to_string(attr->typekind));
        check(lib->GetTypeInfoOfGuid(attr->guid, &raw), "GetTypeInfoOfGuid");
        const com_ptr<ITypeInfo> by_guid(raw);
        ITypeLib* owner = nullptr;
        UINT index = 0;
        check(by_guid->GetContainingTypeLib(&owner, &index), "GetContainingTypeLib");
        owner->Release();
        if (index != i || name_of(by_guid.get()) != type_order[i].name)
            throw error("the GUID of " + name + " leads to type description " + std::to_string(index));
        if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) vtable_view(info.get(), name);
    }
}

void verify_implemented(ITypeLib* lib) {
    for (const auto& expected : implemented_types) {
        const std::string coclass_name = narrow(expected.coclass);
        const com_ptr<ITypeInfo> coclass = by_name(lib, expected.coclass);
        const auto same_coclass = [&](const implemented& e) { return std::wcscmp(e.coclass, expected.coclass) == 0; };
        const auto declared = std::count_if(std::begin(implemented_types), std::end(implemented_types), same_coclass);
        const UINT impls = type_attr(coclass.get())->cImplTypes;
        if (impls != static_cast<UINT>(declared))
            throw error(coclass_name + " implements " + std::to_string(impls) + " interfaces, expected " +
                        std::to_string(declared));
        HREFTYPE reference = 0;
        check(coclass->GetRefTypeOfImplType(expected.index, &reference), "GetRefTypeOfImplType");
        const std::wstring target = name_of(referenced(coclass.get(), reference, "GetRefTypeInfo of a coclass").get());
        INT flags = 0;
        check(coclass->GetImplTypeFlags(expected.index, &flags), "GetImplTypeFlags");
        if (target != expected.interface_name || flags != expected.flags)
            throw error("interface " + std::to_string(expected.index) + " of " + coclass_name + " is " +
                        narrow(target) + " with flags " + std::to_string(flags) + ", expected " +
                        narrow(expected.interface_name) + " with flags " + std::to_string(expected.flags));
    }
}

// Resolves a user-defined type a parameter or result refers to; counts those that are IPictureDisp.
void resolve(ITypeInfo* info, const TYPEDESC* type, const std::string& where, unsigned& pictures) {
    while (type->vt == VT_PTR) type = type->lptdesc;
    if (type->vt != VT_USERDEFINED) return;
    com_ptr<ITypeInfo> target = referenced(info, type->hreftype, ("GetRefTypeInfo for " + where).c_str());
    HREFTYPE aliased = 0;
    bool alias = false;
    {
        const type_attr attr(target.get());
        alias = attr->typekind == TKIND_ALIAS && attr->tdescAlias.vt == VT_USERDEFINED;  // stdole2's Picture
        if (alias) aliased = attr->tdescAlias.hreftype;
    }
    if (alias) target = referenced(target.get(), aliased, ("GetRefTypeInfo of an alias for " + where).c_str());
    if (IsEqualGUID(type_attr(target.get())->guid, picture_iid)) ++pictures;
}

// Each method of the table-of-functions view, and the same method found by DISPID in the dispatch view (whose
// function count Wine derives from cbSizeVft, so it is not walked by index).
void verify_references(ITypeInfo* dispatch, ITypeInfo* dual) {
    ITypeInfo2* raw = nullptr;
    check(dispatch->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&raw)), "QueryInterface(ITypeInfo2)");
    const com_ptr<ITypeInfo2> dispatch2(raw);
    unsigned pictures = 0, dispatch_pictures = 0;
    for (UINT i = 0, count = type_attr(dual)->cFuncs; i < count; ++i) {
        const func_desc func(dual, i);
        const std::string name = narrow(name_of(dual, func->memid));
        resolve(dual, &func->elemdescFunc.tdesc, name, pictures);
        for (SHORT p = 0; p < func->cParams; ++p) resolve(dual, &func->lprgelemdescParam[p].tdesc, name, pictures);

        UINT index = 0;
        check(dispatch2->GetFuncIndexOfMemId(func->memid, func->invkind, &index), "GetFuncIndexOfMemId");
        const func_desc seen(dispatch, index);
        const std::string where = name + " of the dispatch view";
        resolve(dispatch, &seen->elemdescFunc.tdesc, where, dispatch_pictures);
        for (SHORT p = 0; p < seen->cParams; ++p)
            resolve(dispatch, &seen->lprgelemdescParam[p].tdesc, where, dispatch_pictures);
    }
    if (pictures == 0 || dispatch_pictures != pictures)
        throw error("_Zorvane refers to IPictureDisp " + std::to_string(pictures) + " times, its dispatch view " +
                    std::to_string(dispatch_pictures) + " times");
}

// oleaut32 reports entry offsets in the pointer size of the process that loads the library,
// whichever system the library was written for; Wine leaves a foreign library's table size as written.
void verify(const wchar_t* path, size_t written_pointer_size) {
    const size_t pointer_size = sizeof(void*);
    ITypeLib* raw = nullptr;
    check(LoadTypeLibEx(full_path(path).c_str(), REGKIND_NONE, &raw), "LoadTypeLibEx");
    const com_ptr<ITypeLib> lib(raw);

    verify_order(lib.get());
    verify_implemented(lib.get());

    const com_ptr<ITypeInfo> dispatch = by_name(lib.get(), layout::dual_interface);
    if (type_attr(dispatch.get())->typekind != TKIND_DISPATCH) throw error("_Zorvane is not a dual interface");
    const com_ptr<ITypeInfo> dual = vtable_view(dispatch.get(), "_Zorvane");
    verify_references(dispatch.get(), dual.get());

    const type_attr attr(dual.get());
    if (unsigned{attr->cFuncs} != layout::method_count)
        throw error("_Zorvane reports " + std::to_string(attr->cFuncs) + " methods");
    for (UINT i = 0; i < layout::method_count; ++i) {
        const size_t vft = static_cast<USHORT>(func_desc(dual.get(), i)->oVft);
        const size_t expected = (layout::first_method_entry + i) * pointer_size;
        if (vft != expected)
            throw error("method " + std::to_string(i) + " of _Zorvane is at oVft " + std::to_string(vft) +
                        ", expected " + std::to_string(expected));
    }
    if (size_t{attr->cbSizeVft} != layout::vtable_entries * pointer_size &&
        size_t{attr->cbSizeVft} != layout::vtable_entries * written_pointer_size)
        throw error("_Zorvane reports cbSizeVft " + std::to_string(attr->cbSizeVft) + ", expected " +
                    std::to_string(layout::vtable_entries * pointer_size));

    const com_ptr<ITypeInfo> source = by_name(lib.get(), layout::source_interface);
    const WORD flags = type_attr(source.get())->wTypeFlags;
    if (flags != source_flags)
        throw error("__Zorvane reports type flags " + hex(flags) + ", expected " + hex(source_flags));
}

// oleaut32 reads the written time back as the library's custom data.
void verify_stamp(const wchar_t* path, uint32_t created) {
    ITypeLib* raw = nullptr;
    check(LoadTypeLibEx(full_path(path).c_str(), REGKIND_NONE, &raw), "LoadTypeLibEx");
    const com_ptr<ITypeLib> lib(raw);
    ITypeLib2* raw2 = nullptr;
    check(lib->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(&raw2)), "QueryInterface(ITypeLib2)");
    const com_ptr<ITypeLib2> lib2(raw2);
    VARIANT value;
    VariantInit(&value);
    check(lib2->GetCustData(compiler_time_guid, &value), "GetCustData");
    const bool same = (value.vt == VT_UI4 && value.ulVal == created) ||
                      (value.vt == VT_I4 && static_cast<uint32_t>(value.lVal) == created);
    VariantClear(&value);
    if (!same) throw error("the library's recorded time is not the one written");
}

// Seconds since 1970 as given on the command line: decimal digits alone.
uint32_t seconds(const wchar_t* text) {
    uint64_t value = 0;
    if (!*text) throw error("<created> is empty");
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9') throw error("<created> is not a number of seconds: " + narrow(text));
        value = value * 10 + static_cast<uint64_t>(*c - L'0');
        if (value > 0xFFFFFFFFu) throw error("<created> does not fit the library's time: " + narrow(text));
    }
    return static_cast<uint32_t>(value);
}

int run(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) throw error("usage: vtable_layout <in.tlb> <out.tlb> [<created>]");
    if (same_file(argv[1], argv[2]))
        throw error("<in.tlb> and <out.tlb> must be different files");
    std::vector<unsigned char> bytes = read_file(argv[1]);
    msft_file tlb(bytes);
    reorder(tlb);
    lay_out(tlb);
    const bool stamped = argc == 4 && stamp(tlb, seconds(argv[3])) > 0;
    write_file(argv[2], bytes);
    verify(argv[2], tlb.pointer_size());
    if (stamped) verify_stamp(argv[2], seconds(argv[3]));
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) {
        std::fputs("vtable_layout: cannot read the command line\n", stderr);
        return 1;
    }
    int status = 1;
    try {
        status = run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vtable_layout: %s\n", e.what());
        if ((argc == 3 || argc == 4) && !same_file(argv[1], argv[2])) DeleteFileW(argv[2]);
    }
    LocalFree(argv);
    return status;
}
