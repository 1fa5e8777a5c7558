// The description cache: for each dual interface, its functions as the type library declares them (DISPID, kind,
// typed by-reference parameters) and whether and how a call of each can be made through the vtable entry.
#include "control/dispatch.h"
#include "control/dispatch_table.h"

#include "library/errors.h"
#include "library/module.h"
#include "library/text.h"
#include "library/type_library.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

namespace zorvane::dispatch {
namespace {

// Tables are only added while objects live and only freed when none is left, so readers walk the
// list without a lock.
slim_lock creation_lock;
std::atomic<table*> tables{nullptr};

// What an [out, retval] pointer points to, as ITypeInfo::Invoke delivers it; `none` when not one of ours.
result result_of(const TYPEDESC& pointee) {
    switch (pointee.vt) {
    case VT_BSTR: return result::bstr;
    case VT_I4: return result::i4;
    case VT_I2: return result::i2;
    case VT_BOOL: return result::boolean;
    case VT_VARIANT: return result::variant;
    case VT_PTR: return pointee.lptdesc->vt == VT_USERDEFINED ? result::object : result::none;
    default: return result::none;
    }
}

// Whether `type` is a dispatchable interface, aliases (IPictureDisp names Picture) followed.
bool is_dispatchable(ITypeInfo* info, HREFTYPE type) {
    com_ptr<ITypeInfo> target;
    if (FAILED(info->GetRefTypeInfo(type, target.put()))) return false;
    for (int depth = 0; depth < 8; ++depth) {
        TYPEATTR* attr = nullptr;
        if (FAILED(target->GetTypeAttr(&attr))) return false;
        const TYPEKIND kind = attr->typekind;
        const bool dispatch = kind == TKIND_DISPATCH ||
                              (kind == TKIND_INTERFACE && (attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE));
        const bool alias = kind == TKIND_ALIAS && attr->tdescAlias.vt == VT_USERDEFINED;
        const HREFTYPE aliased = alias ? attr->tdescAlias.hreftype : 0;
        target->ReleaseTypeAttr(attr);
        if (!alias) return dispatch;
        com_ptr<ITypeInfo> next;
        if (FAILED(target->GetRefTypeInfo(aliased, next.put()))) return false;
        target = std::move(next);
    }
    return false;
}

} // namespace

result result_kind(const function& f, ITypeInfo* info) {
    if (f.returns != result::object) return f.returns;
    std::atomic_ref<dispatchable> known(f.object);
    dispatchable seen = known.load(std::memory_order_acquire);
    if (seen == dispatchable::unknown) {
        seen = is_dispatchable(info, f.interface_type) ? dispatchable::yes : dispatchable::no;
        known.store(seen, std::memory_order_release);
    }
    return seen == dispatchable::yes ? result::dispatch : result::none;
}

namespace {

bool parameter_of(const ELEMDESC& e, parameter& kind) {
    const USHORT flags = e.paramdesc.wParamFlags;
    if (!(flags & PARAMFLAG_FIN) || (flags & (PARAMFLAG_FLCID | PARAMFLAG_FHASDEFAULT))) return false;
    if (e.tdesc.vt == VT_BSTR) {
        kind = flags & PARAMFLAG_FOPT ? parameter::bstr_optional : parameter::bstr;
        return true;
    }
    if (e.tdesc.vt != VT_PTR || (flags & PARAMFLAG_FOPT)) return false;
    switch (e.tdesc.lptdesc->vt) {
    case VT_I4: kind = parameter::long_ref; return true;
    case VT_I2: kind = parameter::short_ref; return true;
    case VT_BSTR: kind = parameter::bstr_ref; return true;
    case VT_VARIANT: kind = parameter::variant_ref; return true;
    default: return false;
    }
}

// Whether calls of `desc` can be made here, and how: a virtual stdcall member returning an HRESULT, not a
// property put, whose parameters are of the kinds above (optional ones last) and whose result, if any, is last.
void describe_call(const FUNCDESC& desc, function& f) {
    f.direct = false;
    f.returns = result::none;
    if (desc.elemdescFunc.tdesc.vt != VT_HRESULT || desc.callconv != CC_STDCALL || desc.cParamsOpt < 0) return;
    if (desc.funckind != FUNC_PUREVIRTUAL && desc.funckind != FUNC_VIRTUAL) return;
    if (desc.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) return;
    unsigned count = 0, required = 0;
    for (SHORT p = 0; p < desc.cParams; ++p) {
        const ELEMDESC& e = desc.lprgelemdescParam[p];
        if (e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) {
            if (p != desc.cParams - 1 || e.tdesc.vt != VT_PTR) return;
            f.returns = result_of(*e.tdesc.lptdesc);
            if (f.returns == result::none) return;
            if (f.returns == result::object) f.interface_type = e.tdesc.lptdesc->lptdesc->hreftype;
            continue;
        }
        parameter kind;
        if (count == most_parameters || !parameter_of(e, kind)) return;
        if (kind != parameter::bstr_optional) {
            if (required != count) return;  // a required parameter after an optional one
            ++required;
        }
        f.params[count++] = kind;
    }
    f.count = static_cast<unsigned char>(count);
    f.required = static_cast<unsigned char>(required);
    f.direct = true;
}

std::vector<function> describe_functions(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    check(info->GetTypeAttr(&attr));
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);

    std::vector<function> functions;
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        check(info->GetFuncDesc(i, &desc));
        function f{desc->memid, desc->invkind, {}, false, 0, 0, {}, result::none, 0, dispatchable::unknown,
                   desc->oVft};
        describe_call(*desc, f);
        for (SHORT p = 0; p < desc->cParams; ++p) {
            const ELEMDESC& e = desc->lprgelemdescParam[p];
            const USHORT flags = e.paramdesc.wParamFlags;
            if (e.tdesc.vt != VT_PTR || (flags & PARAMFLAG_FRETVAL) || !(flags & PARAMFLAG_FIN)) continue;
            const VARTYPE target = e.tdesc.lptdesc->vt;
            if (target == VT_VARIANT || target == VT_PTR || target == VT_USERDEFINED) continue;
            f.byref.push_back({static_cast<UINT>(p), target});
        }
        info->ReleaseFuncDesc(desc);
        functions.push_back(std::move(f));
    }
    std::stable_sort(functions.begin(), functions.end(),
                     [](const function& a, const function& b) { return a.member < b.member; });
    return functions;
}

const table* find_table(REFIID iid) noexcept {
    for (const table* t = tables.load(std::memory_order_acquire); t; t = t->next)
        if (IsEqualIID(t->iid, iid)) return t;
    return nullptr;
}

} // namespace

const table& table_for(REFIID iid) {
    if (const table* t = find_table(iid)) return *t;
    std::lock_guard guard(creation_lock);
    if (const table* t = find_table(iid)) return *t;
    auto info = type_library::interface_info(iid);
    auto functions = describe_functions(info.get());
    auto* t = new table{iid, std::move(info), std::move(functions), tables.load(std::memory_order_relaxed)};
    tables.store(t, std::memory_order_release);
    module::at_unused(&release_cache);
    return *t;
}

const function* find_function(const table& t, DISPID member, WORD flags) noexcept {
    auto f = std::lower_bound(t.functions.begin(), t.functions.end(), member,
                              [](const function& candidate, DISPID id) { return candidate.member < id; });
    for (; f != t.functions.end() && f->member == member; ++f)
        if (f->kind & flags) return &*f;
    return nullptr;
}

void release_cache() noexcept {
    std::lock_guard guard(creation_lock);
    for (table* t = tables.exchange(nullptr); t;) delete std::exchange(t, t->next);
}

} // namespace zorvane::dispatch
