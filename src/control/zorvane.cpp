// Creation and identity of the control object: the interfaces it answers to.
#include "control/zorvane.h"

#include "control/memory_snapshot.h"

#include "zorvane_idl.h"

#include <new>

namespace zorvane {
namespace {

// The dual interface, the object's identity.
void* dual(control& c) noexcept { return c.identity(); }

} // namespace

std::span<const interface_entry<control>> control::interface_table() noexcept {
    // In QueryInterface order. IPersist is IPersistStreamInit's; IPersistStream is not offered.
    static const interface_entry<control> table[] = {
        {&IID_IUnknown, &dual},
        {&IID_IDispatch, &dual},
        {&IID__Zorvane, &dual},
        {&IID_ISupportErrorInfo, &as<control, ISupportErrorInfo>},
        {&IID_IProvideClassInfo, &as<control, IProvideClassInfo2>},
        {&IID_IProvideClassInfo2, &as<control, IProvideClassInfo2>},
        {&IID_IOleObject, &ole_as<IOleObject>},
        {&IID_IOleWindow, &ole_as<IOleInPlaceObject>},
        {&IID_IOleInPlaceObject, &ole_as<IOleInPlaceObject>},
        {&IID_IOleInPlaceActiveObject, &ole_as<IOleInPlaceActiveObject>},
        {&IID_IOleControl, &ole_as<IOleControl>},
        {&IID_IViewObject, &ole_as<IViewObject2>},
        {&IID_IViewObject2, &ole_as<IViewObject2>},
        {&IID_IPersist, &ole_as<IPersistStreamInit>},
        {&IID_IPersistStreamInit, &ole_as<IPersistStreamInit>},
        {&IID_IPersistPropertyBag, &ole_as<IPersistPropertyBag>},
        {&IID_IPersistStorage, &ole_as<IPersistStorage>},
        {&IID_IQuickActivate, &ole_as<IQuickActivate>},
        {&IID_IConnectionPointContainer, &ole_as<IConnectionPointContainer>},
    };
    return table;
}

control::control() noexcept : dual_{dual_vtable(), this} {}

control::~control() = default;

HRESULT control::create(REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* object = new (std::nothrow) control();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

} // namespace zorvane
