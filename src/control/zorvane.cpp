// Creation, identity and reference counting of the control object.
#include "control/zorvane.h"

#include "control/memory_snapshot.h"

#include "zorvane_idl.h"

#include <new>

namespace zorvane {
namespace {

// The interfaces the object answers to, in QueryInterface order.
struct interface_entry {
    const IID* iid;
    void* (*get)(control*);
};

const interface_entry interfaces[] = {
    {&IID_IUnknown, [](control* c) -> void* { return c->identity(); }},
    {&IID_IDispatch, [](control* c) -> void* { return c->identity(); }},
    {&IID__Zorvane, [](control* c) -> void* { return c->identity(); }},
    {&IID_ISupportErrorInfo, [](control* c) -> void* { return static_cast<ISupportErrorInfo*>(c); }},
    {&IID_IProvideClassInfo, [](control* c) -> void* { return static_cast<IProvideClassInfo2*>(c); }},
    {&IID_IProvideClassInfo2, [](control* c) -> void* { return static_cast<IProvideClassInfo2*>(c); }},
};

} // namespace

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

HRESULT control::QueryInterface(REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    for (const auto& entry : interfaces) {
        if (IsEqualIID(iid, *entry.iid)) {
            *out = entry.get(this);
            AddRef();
            return S_OK;
        }
    }
    if (void* face = ole_.interface_for(iid)) {
        *out = face;
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG control::AddRef() noexcept { return ++references_; }

ULONG control::Release() noexcept {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

} // namespace zorvane
