// Creation and identity of the control object: the interfaces it answers to.
#include "control/zorvane.h"

#include "control/memory_snapshot.h"

#include "zorvane_idl.h"

#include <new>

namespace zorvane {
namespace {

// The pointer a row hands out: the dual interface, an interface of the object, or one of its OLE part.
void* dual(control& c) noexcept { return c.identity(); }

template <typename Interface>
void* of_ole(ole_object& ole) noexcept {
    return static_cast<Interface*>(&ole);
}

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
        {&IID_IOleObject, [](control& c) noexcept { return of_ole<IOleObject>(c.ole_); }},
        {&IID_IOleWindow, [](control& c) noexcept { return of_ole<IOleInPlaceObject>(c.ole_); }},
        {&IID_IOleInPlaceObject, [](control& c) noexcept { return of_ole<IOleInPlaceObject>(c.ole_); }},
        {&IID_IOleInPlaceActiveObject, [](control& c) noexcept { return of_ole<IOleInPlaceActiveObject>(c.ole_); }},
        {&IID_IOleControl, [](control& c) noexcept { return of_ole<IOleControl>(c.ole_); }},
        {&IID_IViewObject, [](control& c) noexcept { return of_ole<IViewObject2>(c.ole_); }},
        {&IID_IViewObject2, [](control& c) noexcept { return of_ole<IViewObject2>(c.ole_); }},
        {&IID_IPersist, [](control& c) noexcept { return of_ole<IPersistStreamInit>(c.ole_); }},
        {&IID_IPersistStreamInit, [](control& c) noexcept { return of_ole<IPersistStreamInit>(c.ole_); }},
        {&IID_IPersistPropertyBag, [](control& c) noexcept { return of_ole<IPersistPropertyBag>(c.ole_); }},
        {&IID_IPersistStorage, [](control& c) noexcept { return of_ole<IPersistStorage>(c.ole_); }},
        {&IID_IQuickActivate, [](control& c) noexcept { return of_ole<IQuickActivate>(c.ole_); }},
        {&IID_IConnectionPointContainer,
         [](control& c) noexcept { return of_ole<IConnectionPointContainer>(c.ole_); }},
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
