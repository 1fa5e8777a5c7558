// Classic error numbers and descriptions, and the translation of anything thrown into one failure.
#include "library/errors.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <stdexcept>

namespace zorvane {
namespace {

struct classic {
    long number;
    const wchar_t* description;
};

constexpr classic classics[] = {
    {err::invalid_call, L"Invalid procedure call or argument"},
    {err::overflow, L"Overflow"},
    {err::out_of_memory, L"Out of memory"},
    {9, L"Subscript out of range"},
    {11, L"Division by zero"},
    {err::type_mismatch, L"Type mismatch"},
    {err::bad_file_name, L"Bad file name or number"},
    {err::file_not_found, L"File not found"},
    {57, L"Device I/O error"},
    {err::file_exists, L"File already exists"},
    {err::disk_full, L"Disk full"},
    {68, L"Device unavailable"},
    {err::permission_denied, L"Permission denied"},
    {71, L"Disk not ready"},
    {err::path_file_access, L"Path/File access error"},
    {err::path_not_found, L"Path not found"},
    {err::object_not_set, L"Object variable or With block variable not set"},
    {err::invalid_property, L"Invalid property value"},
    {err::object_required, L"Object required"},
    {err::not_supported, L"Object doesn't support this property or method"},
    {err::action_not_supported, L"Object doesn't support this action"},
    {err::invalid_picture, L"Invalid picture"},
    {err::dll_not_loaded, L"Error in loading DLL"},
    {err::dll_function_not_found, L"Specified DLL function not found"},
};

// Windows error codes that have a classic counterpart.
struct win32_mapping {
    DWORD code;
    long number;
};

constexpr win32_mapping win32_mappings[] = {
    {ERROR_FILE_NOT_FOUND, err::file_not_found},
    {ERROR_PATH_NOT_FOUND, err::path_not_found},
    {ERROR_BAD_PATHNAME, err::path_not_found},
    {ERROR_INVALID_NAME, err::bad_file_name},
    {ERROR_FILENAME_EXCED_RANGE, err::bad_file_name},
    {ERROR_ACCESS_DENIED, err::path_file_access},
    {ERROR_SHARING_VIOLATION, err::path_file_access},
    {ERROR_LOCK_VIOLATION, err::path_file_access},
    {ERROR_WRITE_PROTECT, err::permission_denied},
    {ERROR_FILE_EXISTS, err::file_exists},
    {ERROR_ALREADY_EXISTS, err::file_exists},
    {ERROR_DISK_FULL, err::disk_full},
    {ERROR_HANDLE_DISK_FULL, err::disk_full},
    {ERROR_NOT_READY, 71},
    {ERROR_NOT_ENOUGH_MEMORY, err::out_of_memory},
    {ERROR_OUTOFMEMORY, err::out_of_memory},
    {ERROR_INVALID_PARAMETER, err::invalid_call},
    {ERROR_INVALID_WINDOW_HANDLE, err::invalid_call},
    {ERROR_MOD_NOT_FOUND, err::dll_not_loaded},
    {ERROR_PROC_NOT_FOUND, err::dll_function_not_found},
};

std::wstring system_message(HRESULT hr) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0,
                                  nullptr);
    std::wstring out;
    if (length && text) {
        out.assign(text, length);
        while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
    }
    LocalFree(text);
    return out.empty() ? L"Automation error" : out;
}

} // namespace

std::wstring_view classic_description(long number) noexcept {
    auto found = std::find_if(std::begin(classics), std::end(classics),
                              [number](const classic& c) { return c.number == number; });
    return found != std::end(classics) ? found->description : L"Application-defined or object-defined error";
}

error::error(long number) : error(number, std::wstring(classic_description(number))) {}

error::error(long number, std::wstring description)
    : failure_{number, std::move(description), classic_hresult(number)} {}

error error::from_hresult(HRESULT hr) {
    // A classic error that travelled through COM keeps its number.
    if ((static_cast<unsigned long>(hr) & 0xFFFF0000u) == 0x800A0000u) return error(hr & 0xFFFF);
    if (hr == E_OUTOFMEMORY) return error(err::out_of_memory);
    if (hr == DISP_E_TYPEMISMATCH) return error(err::type_mismatch);
    if (hr == DISP_E_OVERFLOW) return error(err::overflow);
    return error(failure{static_cast<long>(hr), system_message(hr), hr});
}

error error::from_win32(DWORD code) {
    auto found = std::find_if(std::begin(win32_mappings), std::end(win32_mappings),
                              [code](const win32_mapping& m) { return m.code == code; });
    if (found != std::end(win32_mappings)) return error(found->number);
    return from_hresult(code ? HRESULT_FROM_WIN32(code) : E_FAIL);  // never a failure that reads as success
}

error error::from_last_error(long if_none) {
    const DWORD code = GetLastError();
    return code ? from_win32(code) : error(if_none);
}

failure describe(std::exception_ptr thrown) noexcept {
    try {
        try {
            std::rethrow_exception(thrown);
        } catch (const error& e) {
            return e.details();
        } catch (const std::bad_alloc&) {
            return error(err::out_of_memory).details();
#if !defined(__GLIBCXX__)  // the GNU runtime raises these as the errors themselves (lean_runtime.cpp)
        } catch (const std::length_error&) {
            return error(err::out_of_memory).details();
        } catch (const std::out_of_range&) {
            return error(9).details();
#endif
        } catch (...) {
            return error(err::invalid_call).details();
        }
    } catch (...) {
        // Building the description itself ran out of memory.
        return failure{err::out_of_memory, {}, classic_hresult(err::out_of_memory)};
    }
}

} // namespace zorvane
