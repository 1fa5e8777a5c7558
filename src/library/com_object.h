// IUnknown written once. An object lists the interfaces it answers to in one table, which is its QueryInterface;
// com_object adds the count, the module lock and the final delete, part_of the same for a part whose life is its
// owner's.
#pragma once

#include "library/module.h"

#include <unknwn.h>

#include <atomic>
#include <span>

namespace zorvane {

// One row of a QueryInterface table: an IID and the pointer the object answers it with.
template <typename Object>
struct interface_entry {
    const IID* iid;
    void* (*get)(Object& object) noexcept;
};

// The row's pointer as interface `Via`: the interface itself, or for IUnknown and aliases such as IPersist, the
// one that answers for them.
template <typename Object, typename Via>
void* as(Object& object) noexcept {
    return static_cast<Via*>(&object);
}

// QueryInterface over `table`: the first row whose IID matches, with a reference added.
template <typename Object>
HRESULT query_interface(Object& object, std::span<const interface_entry<Object>> table, REFIID iid,
                        void** out) noexcept {
    if (!out) return E_POINTER;
    for (const auto& row : table) {
        if (!IsEqualIID(iid, *row.iid)) continue;
        void* found = row.get(object);
        static_cast<IUnknown*>(found)->AddRef();  // every interface begins with IUnknown's three entries
        *out = found;
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

// An object of its own: `Derived` (final) implements `Interfaces` and gives its table as
//     static std::span<const interface_entry<Derived>> interface_table() noexcept;
// It is made with one reference, holds the module while it lives and is deleted by its last Release.
template <typename Derived, typename... Interfaces>
class com_object : public Interfaces... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        auto& self = static_cast<Derived&>(*this);
        return query_interface<Derived>(self, Derived::interface_table(), iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = --references_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    com_object() noexcept = default;
    com_object(const com_object&) = delete;
    com_object& operator=(const com_object&) = delete;
    ~com_object() = default;

private:
    std::atomic<ULONG> references_{1};
    module::count module_count_;
};

// A part of another object (`Owner`, which holds it): its references are the owner's. It shares the owner's
// identity, or, when `Derived` gives an interface_table() of its own, answers for itself (a connection point).
template <typename Derived, typename Owner, typename... Interfaces>
class part_of : public Interfaces... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        if constexpr (requires { Derived::interface_table(); }) {
            auto& self = static_cast<Derived&>(*this);
            return query_interface<Derived>(self, Derived::interface_table(), iid, out);
        } else {
            return owner_.QueryInterface(iid, out);
        }
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return owner_.Release(); }

protected:
    explicit part_of(Owner& owner) noexcept : owner_(owner) {}
    part_of(const part_of&) = delete;
    part_of& operator=(const part_of&) = delete;
    ~part_of() = default;

    Owner& owner_;
};

} // namespace zorvane
