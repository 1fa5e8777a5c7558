// One generic class factory over a table of creatable classes.
#include "server/class_factory.h"

#include "control/zorvane.h"
#include "library/com_object.h"
#include "library/module.h"

#include "zorvane_idl.h"

#include <new>

namespace zorvane {
namespace {

struct creatable_class {
    const CLSID* clsid;
    HRESULT (*create)(REFIID, void**) noexcept;
};

// clsMemorySnapshot is deliberately absent: hosts cannot create it.
const creatable_class classes[] = {
    {&CLSID_Zorvane, &control::create},
};

class factory final : public com_object<factory, IClassFactory> {
public:
    explicit factory(const creatable_class& c) noexcept : class_(c) {}

    static std::span<const interface_entry<factory>> interface_table() noexcept {
        static constexpr interface_entry<factory> table[] = {
            {&IID_IUnknown, &as<factory, IClassFactory>},
            {&IID_IClassFactory, &as<factory, IClassFactory>},
        };
        return table;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return class_.create(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override {
        if (lock)
            module::add_ref();
        else
            module::release();
        return S_OK;
    }

private:
    const creatable_class& class_;
};

} // namespace

HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const auto& c : classes) {
        if (!IsEqualCLSID(clsid, *c.clsid)) continue;
        auto* f = new (std::nothrow) factory(c);
        if (!f) return E_OUTOFMEMORY;
        const HRESULT hr = f->QueryInterface(iid, out);
        f->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

} // namespace zorvane
