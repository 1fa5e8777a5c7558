// Loads the embedded type library once and hands out its type descriptions.
#include "library/type_library.h"

#include "library/errors.h"
#include "library/module.h"
#include "library/text.h"

#include <mutex>

namespace zorvane::type_library {
namespace {
slim_lock lock;
com_ptr<ITypeLib> loaded;
} // namespace

com_ptr<ITypeLib> get() {
    std::lock_guard guard(lock);
    if (!loaded) {
        check(LoadTypeLibEx(module::file_name().c_str(), REGKIND_NONE, loaded.put()));
        module::at_unused(&release);
    }
    return loaded;
}

com_ptr<ITypeInfo> info_of(REFGUID guid) {
    com_ptr<ITypeInfo> info;
    check(get()->GetTypeInfoOfGuid(guid, info.put()));
    return info;
}

com_ptr<ITypeInfo> interface_info(REFGUID iid) {
    com_ptr<ITypeInfo> info = info_of(iid);
    TYPEATTR* attr = nullptr;
    check(info->GetTypeAttr(&attr));
    const bool dual_dispatch = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attr);
    if (!dual_dispatch) return info;
    HREFTYPE twin = 0;
    check(info->GetRefTypeOfImplType(-1, &twin));
    com_ptr<ITypeInfo> vtable_view;
    check(info->GetRefTypeInfo(twin, vtable_view.put()));
    return vtable_view;
}

void release() noexcept {
    std::lock_guard guard(lock);
    loaded.reset();
}

} // namespace zorvane::type_library
