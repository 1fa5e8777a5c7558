// Scoped replacement of one imported function in a loaded module's import table, or of one function the module
// finds through GetProcAddress when it first needs it.
#pragma once

#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>

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
        if (!dir.VirtualAddress) return nullptr;
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
            if (_stricmp(reinterpret_cast<char*>(base + d->Name), dll) != 0) continue;
            if (auto slot = find_in(base, d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk,
                                    d->FirstThunk, function))
                return slot;
        }
        return nullptr;
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

// Answers `module`'s GetProcAddress for `function` with `replacement`, and for every other name as the system does.
// Hooks of several modules and functions may be alive at once; the newest answers for a name.
class procedure_hook final {
public:
    procedure_hook(HMODULE module, const char* function, const void* replacement)
        : entry_{function, replacement, newest()},
          hook_(module, "kernel32.dll", "GetProcAddress", reinterpret_cast<const void*>(&lookup)) {
        newest() = &entry_;
    }
    procedure_hook(const procedure_hook&) = delete;
    procedure_hook& operator=(const procedure_hook&) = delete;
    ~procedure_hook() {
        for (entry** e = &newest(); *e; e = &(*e)->older)
            if (*e == &entry_) {
                *e = entry_.older;
                break;
            }
    }

private:
    struct entry {
        const char* function;
        const void* replacement;
        entry* older;
    };
    static entry*& newest() {
        static entry* list = nullptr;
        return list;
    }
    static FARPROC WINAPI lookup(HMODULE module, LPCSTR name) {
        if (!IS_INTRESOURCE(name))
            for (const entry* e = newest(); e; e = e->older)
                if (std::strcmp(name, e->function) == 0) return reinterpret_cast<FARPROC>(e->replacement);
        return GetProcAddress(module, name);
    }

    entry entry_;
    iat_hook hook_;
};

} // namespace zvtest
