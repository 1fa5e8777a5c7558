// The OCX file as Windows' loader sees it: its machine, its exports, and imports of Windows' own DLLs only.
// Read from the file, so the build of the other architecture can be checked too (see inspected_ocx_path).
#include "support/ocx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace {

struct image {
    std::vector<char> bytes;
    IMAGE_FILE_HEADER file{};
    WORD magic = 0;
    std::vector<IMAGE_DATA_DIRECTORY> directories;
    std::vector<IMAGE_SECTION_HEADER> sections;

    template <typename T>
    T at(size_t offset) const {
        T value{};
        if (offset + sizeof(T) <= bytes.size()) std::copy_n(bytes.data() + offset, sizeof(T), reinterpret_cast<char*>(&value));
        return value;
    }
    size_t offset_of(DWORD rva) const {
        for (const auto& s : sections)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return rva - s.VirtualAddress + s.PointerToRawData;
        return bytes.size();
    }
    std::string text_at(DWORD rva) const {
        std::string text;
        for (size_t o = offset_of(rva); o < bytes.size() && bytes[o]; ++o) text += bytes[o];
        return text;
    }
};

image read_image(const std::wstring& path) {
    image m;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return m;
    m.bytes.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    ReadFile(file, m.bytes.data(), static_cast<DWORD>(m.bytes.size()), &read, nullptr);
    CloseHandle(file);
    m.bytes.resize(read);
    const auto nt = static_cast<size_t>(m.at<IMAGE_DOS_HEADER>(0).e_lfanew);
    m.file = m.at<IMAGE_FILE_HEADER>(nt + 4);
    const size_t optional = nt + 4 + sizeof(IMAGE_FILE_HEADER);
    m.magic = m.at<WORD>(optional);
    const bool wide = m.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    const size_t directories = optional + (wide ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                                : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory));
    for (size_t i = 0; i < IMAGE_NUMBEROF_DIRECTORY_ENTRIES; ++i)
        m.directories.push_back(m.at<IMAGE_DATA_DIRECTORY>(directories + i * sizeof(IMAGE_DATA_DIRECTORY)));
    const size_t sections = optional + m.file.SizeOfOptionalHeader;
    for (WORD i = 0; i < m.file.NumberOfSections; ++i)
        m.sections.push_back(m.at<IMAGE_SECTION_HEADER>(sections + i * sizeof(IMAGE_SECTION_HEADER)));
    return m;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

TEST(image, machine_exports_and_imports) {
    const image m = read_image(zvtest::inspected_ocx_path());
    ASSERT_GT(m.bytes.size(), 4096u) << "no OCX file at the path given";
    const bool wide = zvtest::inspected_ocx_bits() == 64;
    EXPECT_EQ(wide ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386, m.file.Machine);
    EXPECT_EQ(wide ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC, m.magic);
    EXPECT_TRUE(m.file.Characteristics & IMAGE_FILE_DLL);

    // Exports: the in-process server's five entry points, by name.
    const auto exports = m.at<IMAGE_EXPORT_DIRECTORY>(m.offset_of(m.directories[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress));
    std::set<std::string> exported;
    for (DWORD i = 0; i < exports.NumberOfNames; ++i)
        exported.insert(m.text_at(m.at<DWORD>(m.offset_of(exports.AddressOfNames) + i * 4)));
    EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllInstall", "DllRegisterServer",
                                     "DllUnregisterServer"}),
              exported);

    // Imports: nothing but Windows' own DLLs, and no runtime to install.
    const std::set<std::string> windows_dlls{"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll",
                                             "ole32.dll",    "oleaut32.dll", "shell32.dll", "user32.dll"};
    std::set<std::string> imported;
    const size_t imports = m.offset_of(m.directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    for (size_t d = imports;; d += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto descriptor = m.at<IMAGE_IMPORT_DESCRIPTOR>(d);
        if (!descriptor.Name) break;
        imported.insert(lower(m.text_at(descriptor.Name)));
    }
    EXPECT_GE(imported.size(), 5u);
    for (const auto& dll : imported) EXPECT_TRUE(windows_dlls.count(dll)) << dll << " is not one of Windows' own DLLs";
    EXPECT_FALSE(imported.count("shell32.dll")) << "shell32 is loaded on first use, not with the library";
    EXPECT_LT(m.bytes.size(), 300u * 1024) << "the OCX should stay under 300 KB";
}

} // namespace
