// The descriptions IDispatch calls are made from: one table per dual interface, read from the type library once
// and kept until the library is unused, and the two ways a call is made from them.
#pragma once

#include "library/raii.h"

#include <oaidl.h>

#include <array>
#include <vector>

namespace zorvane::dispatch {

struct byref_param {
    UINT index;   // position in the parameter list
    VARTYPE type; // the type the parameter points to
};

// A parameter of a call made here.
enum class parameter : unsigned char {
    long_ref,       // [in, out] long*
    short_ref,      // [in, out] short*
    bstr_ref,       // [in, out] BSTR*
    variant_ref,    // [in, out] VARIANT*
    bstr,           // [in] BSTR
    bstr_optional,  // [in, optional] BSTR
};

// What the [out, retval] parameter of a call made here points to. `object`: an interface pointer, delivered as
// VT_DISPATCH when its interface is dispatchable, which is found out at its first call (the interface may live
// in another type library, and loading that one is no part of making the first call of another method).
enum class result : unsigned char { none, bstr, i4, i2, boolean, dispatch, variant, object };

// Whether an `object` result's interface is dispatchable: not yet known, yes, or no (calls go the general way).
enum class dispatchable : unsigned char { unknown, yes, no };

constexpr size_t most_parameters = 4;  // besides the result

struct function {
    MEMBERID member;
    INVOKEKIND kind;
    std::vector<byref_param> byref;  // typed by-reference parameters
    bool direct;                     // calls can be made here
    unsigned char count, required;   // parameters besides the result; how many a caller must pass
    std::array<parameter, most_parameters> params;
    result returns;
    HREFTYPE interface_type;         // an `object` result's interface
    mutable dispatchable object;     // and whether it is dispatchable; read and written through atomic_ref
    SHORT entry;                     // vtable offset in bytes
};

struct table {
    IID iid;
    com_ptr<ITypeInfo> info;
    std::vector<function> functions;  // by member, in type-library order within a member
    table* next;
};

// The table of `iid`, made at its first use; throws when the type library cannot describe it.
const table& table_for(REFIID iid);

// The first function of `member` that `flags` can call, as ITypeInfo::Invoke chooses it; null for none.
const function* find_function(const table& t, DISPID member, WORD flags) noexcept;

// The result kind a call of `f` is made with, finding out once whether an interface result is dispatchable;
// `none` sends the call the general way.
result result_kind(const function& f, ITypeInfo* info);

// Makes the call through the vtable entry when its arguments allow (dispatch_direct.cpp); false leaves it,
// untouched, to the general way.
bool invoke_direct(const table& t, const function& f, void* self, const DISPPARAMS& params, VARIANT* out,
                   EXCEPINFO* exception, HRESULT& hr);

// The general way for a function with typed by-reference parameters: ITypeInfo::Invoke with those arguments
// converted, and changed values written back (dispatch_coercion.cpp).
HRESULT invoke_coerced(const table& t, const function& f, void* self, DISPID member, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* arg_error);

} // namespace zorvane::dispatch
