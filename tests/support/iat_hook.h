// Scoped replacement of one imported function in a loaded module's import table.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace zvtest {

class iat_hook final {
public:
    // Points `module`'s import of `dll`!`function` at `replacement` until destroyed.
    iat_hook(HMODULE module, const char* dll, const char* function, const void* replacement) {
        slot_ = find_slot(module, dll, function);
        if (!slot_) throw std::runtime_error(std::string("no import ") + dll + "!" + function);
        original_ = *slot_;
        write(replacement);
    }
    iat_hook(const iat_hook&) = delete;
    iat_hook& operator=(const iat_hook&) = delete;
    ~iat_hook() { write(original_); }

    template <typename F>
    F original() const noexcept {
        return reinterpret_cast<F>(const_cast<void*>(original_));
    }

private:
    static const void** find_slot(HMODULE module, const char* dll, const char* function) {
        auto* base = reinterpret_cast<BYTE*>(module);
        auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (dir.VirtualAddress) {
            for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
                if (_stricmp(reinterpret_cast<char*>(base + d->Name), dll) != 0) continue;
                if (auto slot = find_in(base, d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk,
                                        d->FirstThunk, function))
                    return slot;
            }
        }
        // Imports loaded on first use: until then their slots hold the loader's stubs.
        for (auto* d : delay_descriptors(base, nt)) {
            if (_stricmp(reinterpret_cast<char*>(base + d->name), dll) != 0) continue;
            if (auto slot = find_in(base, d->names, d->slots, function)) return slot;
        }
        return nullptr;
    }

    struct delay_descriptor {  // with relative addresses, as every current linker writes it
        DWORD attributes, name, module, slots, names, bound, unload, time_stamp;
    };

    // The delay-import descriptors: from the data directory, or, where the linker left that empty
    // (GNU ld, which also places them among the code), found in the image by their shape.
    static std::vector<const delay_descriptor*> delay_descriptors(BYTE* base, IMAGE_NT_HEADERS* nt) {
        std::vector<const delay_descriptor*> found;
        const DWORD image_size = nt->OptionalHeader.SizeOfImage;
        auto plausible = [&](const delay_descriptor& d) {
            if (d.attributes != 1 || !d.name || d.name >= image_size || !d.slots || d.slots >= image_size ||
                !d.names || d.names >= image_size || !d.module || d.module >= image_size)
                return false;
            const char* name = reinterpret_cast<const char*>(base + d.name);
            const size_t length = strnlen(name, std::min<size_t>(260, image_size - d.name));
            return length > 4 && length < 260 && _stricmp(name + length - 4, ".dll") == 0;
        };
        const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
        if (directory.VirtualAddress) {
            for (auto* d = reinterpret_cast<const delay_descriptor*>(base + directory.VirtualAddress); d->name; ++d)
                found.push_back(d);
            return found;
        }
        auto* section = IMAGE_FIRST_SECTION(nt);
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
            const DWORD size = std::min(section->Misc.VirtualSize, section->SizeOfRawData);
            for (DWORD offset = 0; offset + sizeof(delay_descriptor) <= size; offset += sizeof(DWORD)) {
                auto* d = reinterpret_cast<const delay_descriptor*>(base + section->VirtualAddress + offset);
                if (plausible(*d)) found.push_back(d);
            }
        }
        return found;
    }

    static const void** find_in(BYTE* base, DWORD names_rva, DWORD slots_rva, const char* function) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + names_rva);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + slots_rva);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(by_name->Name), function) == 0)
                return reinterpret_cast<const void**>(&slots->u1.Function);
        }
        return nullptr;
    }

    void write(const void* value) noexcept {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
        *slot_ = value;
        VirtualProtect(slot_, sizeof(void*), old, &old);
    }

    const void** slot_ = nullptr;
    const void* original_ = nullptr;
};

} // namespace zvtest
