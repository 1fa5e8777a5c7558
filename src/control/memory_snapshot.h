// clsMemorySnapshot: one reading of the memory status, offered as four 32-bit properties.
#pragma once

#include "library/com_object.h"
#include "library/raii.h"

#include <windows.h>

#include "zorvane_idl.h"

namespace zorvane {

class memory_snapshot final : public com_object<memory_snapshot, _clsMemorySnapshot, ISupportErrorInfo> {
public:
    // A new snapshot holding its first reading (throws when the system gives none). Not reachable through the
    // class factory.
    static com_ptr<memory_snapshot> create();

    // A new reading; throws when the system gives none, keeping the last one.
    void refresh();

    static std::span<const interface_entry<memory_snapshot>> interface_table() noexcept;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) noexcept override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* arg_error) noexcept override;

    // Byte counts of the last reading; 2147483647 for counts that do not fit.
    HRESULT STDMETHODCALLTYPE get_FreeMemory(LONG* result) noexcept override;
    HRESULT STDMETHODCALLTYPE get_TotalMemory(LONG* result) noexcept override;
    HRESULT STDMETHODCALLTYPE get_TotalVirtualMemory(LONG* result) noexcept override;
    HRESULT STDMETHODCALLTYPE get_AvailableVirtualMemory(LONG* result) noexcept override;
    HRESULT STDMETHODCALLTYPE Refresh() noexcept override;

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    // The whole last reading, 64-bit figures included.
    const MEMORYSTATUSEX& reading() const noexcept { return status_; }

private:
    friend com_object;  // deletes it
    memory_snapshot();
    ~memory_snapshot() = default;
    HRESULT property(LONG* result, DWORDLONG MEMORYSTATUSEX::*field) noexcept;

    MEMORYSTATUSEX status_{};
};

} // namespace zorvane
