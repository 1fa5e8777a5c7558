// vtable_layout <in.tlb> <out.tlb>: lays out _Zorvane's table of functions in the compiled type library.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
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
constexpr WORD source_flags = TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FHIDDEN;

// Layout of the binary type library ("MSFT" format); all values little-endian.
using offset = uint64_t;  // wide enough that no sum of file offsets wraps
constexpr uint32_t msft_magic = 0x5446534D;
constexpr size_t header_varflags = 0x14;
constexpr size_t header_typeinfo_count = 0x20;
constexpr size_t header_size = 0x54;
constexpr uint32_t varflag_help_dll = 0x100;
constexpr size_t segment_size = 16;  // offset, length, two reserved words
constexpr size_t segment_typeinfos = 0;
constexpr size_t segment_names = 7;
constexpr size_t typeinfo_size = 0x64;
constexpr size_t typeinfo_kind = 0x00;
constexpr size_t typeinfo_members = 0x04;
constexpr size_t typeinfo_counts = 0x18;  // low word: functions, high word: variables
constexpr size_t typeinfo_flags = 0x30;
constexpr size_t typeinfo_name = 0x34;
constexpr size_t typeinfo_vft_size = 0x4E;
constexpr size_t name_length = 0x08;  // low byte of the third word
constexpr size_t name_text = 0x0C;
constexpr size_t function_vft_offset = 0x0C;
constexpr size_t function_min_size = 0x18;

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
        segments_ = header_size + typeinfo_count_ * 4 + ((varflags & varflag_help_dll) ? 4 : 0);
        if (u32(segment(segment_typeinfos) + 12) != 0xF) throw error("segment directory not found");
        if (segment_length(segment_typeinfos) < typeinfo_count_ * typeinfo_size)
            throw error("type descriptions truncated");
    }

    unsigned pointer_size() const { return pointer_size_; }

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

    // File offset of the base record of the type description with this name.
    offset find_typeinfo(const wchar_t* wanted) const {
        const offset names = u32(segment(segment_names));
        for (uint32_t i = 0; i < typeinfo_count_; ++i) {
            const offset record = u32(segment(segment_typeinfos)) + offset{i} * typeinfo_size;
            const offset entry = names + u32(record + typeinfo_name);
            const size_t length = u32(entry + name_length) & 0xFF;
            const size_t text = check(entry + name_text, length);
            size_t k = 0;
            while (k < length && wanted[k] == static_cast<wchar_t>(bytes_[text + k])) ++k;
            if (k == length && wanted[k] == L'\0') return record;
        }
        throw error("no type description named " + narrow(wanted));
    }

private:
    offset segment(size_t index) const { return segments_ + index * segment_size; }
    offset segment_length(size_t index) const { return u32(segment(index) + 4); }
    size_t check(offset at, size_t count) const {
        if (at > bytes_.size() || count > bytes_.size() - at)
            throw error("type library truncated at " + hex(static_cast<unsigned>(at)));
        return static_cast<size_t>(at);
    }

    std::vector<unsigned char>& bytes_;
    unsigned pointer_size_ = 0;
    uint32_t typeinfo_count_ = 0;
    offset segments_ = 0;
};

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

void verify(const wchar_t* path) {
    ITypeLib* raw = nullptr;
    check(LoadTypeLibEx(full_path(path).c_str(), REGKIND_NONE, &raw), "LoadTypeLibEx");
    const com_ptr<ITypeLib> lib(raw);

    com_ptr<ITypeInfo> dual = by_name(lib.get(), layout::dual_interface);
    if (type_attr(dual.get())->typekind == TKIND_DISPATCH) {
        HREFTYPE twin = 0;
        check(dual->GetRefTypeOfImplType(static_cast<UINT>(-1), &twin), "GetRefTypeOfImplType(-1)");
        ITypeInfo* vtable_view = nullptr;
        check(dual->GetRefTypeInfo(twin, &vtable_view), "GetRefTypeInfo");
        dual.reset(vtable_view);
    }
    const type_attr attr(dual.get());
    if (attr->typekind != TKIND_INTERFACE) throw error("_Zorvane has no table-of-functions view");
    if (unsigned{attr->cFuncs} != layout::method_count)
        throw error("_Zorvane reports " + std::to_string(attr->cFuncs) + " methods");
    for (UINT i = 0; i < layout::method_count; ++i) {
        FUNCDESC* func = nullptr;
        check(dual->GetFuncDesc(i, &func), "GetFuncDesc");
        const size_t vft = static_cast<USHORT>(func->oVft);
        dual->ReleaseFuncDesc(func);
        const size_t expected = (layout::first_method_entry + i) * sizeof(void*);
        if (vft != expected)
            throw error("method " + std::to_string(i) + " of _Zorvane is at oVft " + std::to_string(vft) +
                        ", expected " + std::to_string(expected));
    }
    if (size_t{attr->cbSizeVft} != layout::vtable_entries * sizeof(void*))
        throw error("_Zorvane reports cbSizeVft " + std::to_string(attr->cbSizeVft) + ", expected " +
                    std::to_string(layout::vtable_entries * sizeof(void*)));

    const com_ptr<ITypeInfo> source = by_name(lib.get(), layout::source_interface);
    const WORD flags = type_attr(source.get())->wTypeFlags;
    if (flags != source_flags)
        throw error("__Zorvane reports type flags " + hex(flags) + ", expected " + hex(source_flags));
}

int run(int argc, wchar_t** argv) {
    if (argc != 3) throw error("usage: vtable_layout <in.tlb> <out.tlb>");
    if (same_file(argv[1], argv[2]))
        throw error("<in.tlb> and <out.tlb> must be different files");
    std::vector<unsigned char> bytes = read_file(argv[1]);
    msft_file tlb(bytes);
    if (tlb.pointer_size() != sizeof(void*))
        throw error("a " + std::to_string(tlb.pointer_size() * 8) + "-bit type library needs the " +
                    std::to_string(tlb.pointer_size() * 8) + "-bit build of this tool");
    lay_out(tlb);
    write_file(argv[2], bytes);
    verify(argv[2]);
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
        if (argc == 3 && !same_file(argv[1], argv[2])) DeleteFileW(argv[2]);
    }
    LocalFree(argv);
    return status;
}
