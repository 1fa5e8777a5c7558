// clsMemorySnapshot: readings taken at creation and by Refresh; the properties never call the system.
#include "control/memory_snapshot.h"

#include "control/conventions.h"
#include "control/dispatch.h"
#include "sysinfo/memory.h"

#include <new>

namespace zorvane {

memory_snapshot::memory_snapshot() : status_(sysinfo::read_memory()) {}

com_ptr<memory_snapshot> memory_snapshot::create() {
    auto* object = new memory_snapshot();  // std::bad_alloc is error 7 to the calling method
    return com_ptr<memory_snapshot>::attach(object);
}

std::span<const interface_entry<memory_snapshot>> memory_snapshot::interface_table() noexcept {
    static constexpr interface_entry<memory_snapshot> table[] = {
        {&IID_IUnknown, &as<memory_snapshot, _clsMemorySnapshot>},
        {&IID_IDispatch, &as<memory_snapshot, _clsMemorySnapshot>},
        {&IID__clsMemorySnapshot, &as<memory_snapshot, _clsMemorySnapshot>},
        {&IID_ISupportErrorInfo, &as<memory_snapshot, ISupportErrorInfo>},
    };
    return table;
}

HRESULT memory_snapshot::GetTypeInfoCount(UINT* count) noexcept {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT memory_snapshot::GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept {
    return dispatch::get_type_info(IID__clsMemorySnapshot, index, info);
}

HRESULT memory_snapshot::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept {
    return dispatch::get_ids_of_names(IID__clsMemorySnapshot, riid, names, count, ids);
}

HRESULT memory_snapshot::Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* exception, UINT* arg_error) noexcept {
    return dispatch::invoke(IID__clsMemorySnapshot, static_cast<_clsMemorySnapshot*>(this), member, riid, flags,
                            params, result, exception, arg_error);
}

HRESULT memory_snapshot::property(LONG* result, DWORDLONG MEMORYSTATUSEX::*field) noexcept {
    if (!result) return E_POINTER;
    *result = sysinfo::saturated(status_.*field);
    return S_OK;
}

HRESULT memory_snapshot::get_FreeMemory(LONG* result) noexcept {
    return property(result, &MEMORYSTATUSEX::ullAvailPhys);
}
HRESULT memory_snapshot::get_TotalMemory(LONG* result) noexcept {
    return property(result, &MEMORYSTATUSEX::ullTotalPhys);
}
HRESULT memory_snapshot::get_TotalVirtualMemory(LONG* result) noexcept {
    return property(result, &MEMORYSTATUSEX::ullTotalVirtual);
}
HRESULT memory_snapshot::get_AvailableVirtualMemory(LONG* result) noexcept {
    return property(result, &MEMORYSTATUSEX::ullAvailVirtual);
}

void memory_snapshot::refresh() { status_ = sysinfo::read_memory(); }

HRESULT memory_snapshot::Refresh() noexcept {
    try {
        refresh();
        return S_OK;
    } catch (...) {
        return raise_error(describe(std::current_exception()), IID__clsMemorySnapshot);
    }
}

HRESULT memory_snapshot::InterfaceSupportsErrorInfo(REFIID iid) noexcept {
    return IsEqualIID(iid, IID__clsMemorySnapshot) ? S_OK : S_FALSE;
}

} // namespace zorvane
