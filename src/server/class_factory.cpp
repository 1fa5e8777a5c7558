// One generic class factory over a table of creatable classes.
#include "server/class_factory.h"

#include "control/zorvane.h"
#include "library/module.h"

#include "zorvane_idl.h"

#include <atomic>
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

class factory final : public IClassFactory {
public:
    explicit factory(const creatable_class& c) noexcept : class_(c) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
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
    std::atomic<ULONG> references_{1};
    module::count module_count_;
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
