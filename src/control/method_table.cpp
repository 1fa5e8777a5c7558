// The table of functions of _Zorvane: IUnknown, IDispatch, the unused entries 7..488 and one line per method.
#include "control/conventions.h"
#include "control/dispatch.h"
#include "control/zorvane.h"
#include "library/vtable_layout.h"

#include "zorvane_idl.h"

#include <array>
#include <type_traits>

namespace zorvane {
namespace {

constexpr auto report = convention::report;
constexpr auto skip = convention::skip;
constexpr auto raise = convention::raise;

// A writable pointer is a result, and only the last parameter is one: inputs passed by reference are read-only,
// so that Invoke may hand a method the caller's own values.
template <typename... Args>
constexpr bool inputs_read_only() {
    constexpr bool writable[] = {
        (std::is_pointer_v<Args> && !std::is_same_v<Args, BSTR> && !std::is_const_v<std::remove_pointer_t<Args>>)...,
        false};
    for (size_t i = 0; i + 1 < sizeof...(Args); ++i)
        if (writable[i]) return false;
    return true;
}

// The entry point of one method: checks pointers, calls the member, applies its convention.
template <auto Member, convention C>
struct bound;

template <typename... Args, void (control::*Member)(Args...), convention C>
struct bound<Member, C> {
    static_assert(inputs_read_only<Args...>(), "inputs passed by reference must point to const");
    static HRESULT STDMETHODCALLTYPE call(dual_face* self, Args... args) noexcept {
        if ((is_null_pointer(args) || ...)) return raise_error(failure{0, L"Invalid pointer", E_POINTER});
        // A method may call out (a message box, a modal loop, the shell), and the host may let go of the control
        // meanwhile.
        const keep_alive<control> alive(*self->owner);
        return run(C, [&] { (self->owner->*Member)(args...); });
    }
};

template <auto Member, convention C>
const void* method() noexcept {
    return reinterpret_cast<const void*>(&bound<Member, C>::call);
}

// _Zorvane in interface order: the member that does the work and its failure convention. Tables at namespace
// scope are filled when the library loads, without the runtime's once-only guard.
const void* const method_entries[layout::method_count] = {
    method<&control::WinShutDown, skip>(),
    method<&control::WinRestart, skip>(),
    method<&control::GetWindowsDir, skip>(),
    method<&control::GetSystemDir, skip>(),
    method<&control::GetTempDir, skip>(),
    method<&control::CaptureHwnd, report>(),
    method<&control::CaptureDesktop, report>(),
    method<&control::ShowRegionalSettings, raise>(),
    method<&control::ShowHardwareWizard, raise>(),
    method<&control::ShowProgramsDialog, raise>(),
    method<&control::ShowPowerProperties, raise>(),
    method<&control::ShowDateTimeProperties, raise>(),
    method<&control::ShowDisplayProperties, raise>(),
    method<&control::ShowInternetProperties, raise>(),
    method<&control::ShowThemesProperties, raise>(),
    method<&control::ShowGameControllers, raise>(),
    method<&control::ShowKeyboardProperties, raise>(),
    method<&control::ShowModemProperties, raise>(),
    method<&control::ShowMouseProperties, raise>(),
    method<&control::ShowMultimediaProperties, raise>(),
    method<&control::ShowNetworkProperties, raise>(),
    method<&control::ShowPasswordProperties, raise>(),
    method<&control::ShowSoundsProperties, raise>(),
    method<&control::ShowSystemProperties, raise>(),
    method<&control::ShowScanCam, raise>(),
    method<&control::SetCursorPosition, raise>(),
    method<&control::MouseDisable, raise>(),
    method<&control::KeyboardDisable, raise>(),
    method<&control::GetCursorPositionX, raise>(),
    method<&control::GetCursorPositionY, raise>(),
    method<&control::WindowsPlatform, raise>(),
    method<&control::WindowsBuildNumber, raise>(),
    method<&control::WindowsMajorVersion, raise>(),
    method<&control::WindowsMinorVersion, raise>(),
    method<&control::WindowsCSDVersion, raise>(),
    method<&control::WindowsRegKey, raise>(),
    method<&control::GetTotalMemory, raise>(),
    method<&control::GetFreeMemory, raise>(),
    method<&control::GetTotalVirtualMemory, raise>(),
    method<&control::GetAvailableVirtualMemory, raise>(),
    method<&control::ResolutionScreenX, raise>(),
    method<&control::ResolutionScreenY, raise>(),
    method<&control::GetProcessorType, raise>(),
    method<&control::GetDriveLabel, raise>(),
    method<&control::GetDriveSerialNo, raise>(),
    method<&control::GetDriveFileSystem, raise>(),
    method<&control::HideFocus, skip>(),
    method<&control::ShowFocus, skip>(),
    method<&control::ShowDesktop, skip>(),
    method<&control::HideDesktop, skip>(),
    method<&control::StopResizeForm, skip>(),
    method<&control::MakePath, skip>(),
    method<&control::SetWallpaper, raise>(),
    method<&control::AddToStartup, skip>(),
    method<&control::DeleteAtStartup, skip>(),
    method<&control::ShellWeb, skip>(),
    method<&control::ShellEmail, raise>(),
    method<&control::ShowAbout, skip>(),
};

// IUnknown and IDispatch as the first seven entries of the dual table.
HRESULT STDMETHODCALLTYPE query_interface(dual_face* self, REFIID iid, void** out) noexcept {
    return self->owner->QueryInterface(iid, out);
}
ULONG STDMETHODCALLTYPE add_ref(dual_face* self) noexcept { return self->owner->AddRef(); }
ULONG STDMETHODCALLTYPE release(dual_face* self) noexcept { return self->owner->Release(); }

HRESULT STDMETHODCALLTYPE get_type_info_count(dual_face*, UINT* count) noexcept {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE get_type_info(dual_face*, UINT index, LCID, ITypeInfo** info) noexcept {
    return dispatch::get_type_info(IID__Zorvane, index, info);
}
HRESULT STDMETHODCALLTYPE get_ids_of_names(dual_face*, REFIID riid, LPOLESTR* names, UINT count, LCID,
                                           DISPID* ids) noexcept {
    return dispatch::get_ids_of_names(IID__Zorvane, riid, names, count, ids);
}
HRESULT STDMETHODCALLTYPE invoke(dual_face* self, DISPID member, REFIID riid, LCID, WORD flags,
                                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                 UINT* arg_error) noexcept {
    return dispatch::invoke(IID__Zorvane, self, member, riid, flags, params, result, exception, arg_error);
}

// Entries 7..488 belong to no method the type library describes; nothing reaches them through it.
HRESULT STDMETHODCALLTYPE unused_entry(dual_face*) noexcept { return E_NOTIMPL; }

std::array<const void*, layout::vtable_entries> lay_out() noexcept {
    std::array<const void*, layout::vtable_entries> table{};
    table[0] = reinterpret_cast<const void*>(&query_interface);
    table[1] = reinterpret_cast<const void*>(&add_ref);
    table[2] = reinterpret_cast<const void*>(&release);
    table[3] = reinterpret_cast<const void*>(&get_type_info_count);
    table[4] = reinterpret_cast<const void*>(&get_type_info);
    table[5] = reinterpret_cast<const void*>(&get_ids_of_names);
    table[6] = reinterpret_cast<const void*>(&invoke);
    for (unsigned i = 7; i < layout::first_method_entry; ++i) table[i] = reinterpret_cast<const void*>(&unused_entry);
    for (unsigned i = 0; i < layout::method_count; ++i) table[layout::first_method_entry + i] = method_entries[i];
    return table;
}

static_assert(layout::first_method_entry + layout::method_count == layout::vtable_entries);

const std::array<const void*, layout::vtable_entries> dual_table = lay_out();

} // namespace

const void* const* dual_vtable() noexcept { return dual_table.data(); }

} // namespace zorvane
