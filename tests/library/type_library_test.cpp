// The type library embedded in ZorvaneLib.ocx, attribute by attribute.
#include "support/ocx.h"
#include "support/published.h"
#include "support/surface.h"
#include "support/version_text.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include "zorvane_idl.h"

#include <string>

namespace {

// Where each type description stands in the library.
enum type_index : UINT {
    dual_zorvane = 0,      // _Zorvane
    coclass_zorvane = 1,   // Zorvane
    dual_snapshot = 2,     // _clsMemorySnapshot
    coclass_snapshot = 3,  // clsMemorySnapshot
    source_zorvane = 4,    // __Zorvane
};

// The size of a table entry as oleaut32 reports a table's size: entry offsets come scaled to this process's
// pointers, but Wine reports a library of the other architecture's table size as written.
size_t table_entry_size() { return zvtest::inspected_ocx_bits() / 8; }

std::wstring guid_text(REFGUID g) {
    wchar_t text[40] = {};
    StringFromGUID2(g, text, 40);
    return text;
}

struct type_library : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(S_OK, LoadTypeLibEx(zvtest::inspected_ocx_path().c_str(), REGKIND_NONE, &library));
    }
    void TearDown() override {
        if (library) library->Release();
    }

    ITypeInfo* info(UINT index) {
        ITypeInfo* ti = nullptr;
        EXPECT_EQ(S_OK, library->GetTypeInfo(index, &ti));
        return ti;
    }

    // The table-of-functions view of a dual interface.
    ITypeInfo* vtable_view(UINT index) {
        ITypeInfo* dispatch = info(index);
        HREFTYPE href = 0;
        EXPECT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &href));
        ITypeInfo* twin = nullptr;
        EXPECT_EQ(S_OK, dispatch->GetRefTypeInfo(href, &twin));
        dispatch->Release();
        return twin;
    }

    ITypeLib* library = nullptr;
};

std::wstring name_of(ITypeInfo* ti, MEMBERID id = MEMBERID_NIL) {
    BSTR name = nullptr;
    ti->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    std::wstring text = name ? name : L"";
    SysFreeString(name);
    return text;
}

TEST_F(type_library, library_attributes) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
    EXPECT_EQ(zvtest::libid_zorvane_text, guid_text(attr->guid));
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0u, attr->lcid);
    EXPECT_EQ(zvtest::inspected_ocx_bits() == 64 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
    // Wine adds LIBFLAG_FHASDISKIMAGE to what the file holds.
    EXPECT_EQ(LIBFLAG_FCONTROL, attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
    library->ReleaseTLibAttr(attr);

    BSTR name = nullptr, doc = nullptr, help_file = nullptr;
    DWORD context = 1;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, &name, &doc, &context, &help_file));
    EXPECT_STREQ(L"ZorvaneLib", name);
    EXPECT_EQ(zvtest::product_title(), std::wstring(doc ? doc : L""));
    EXPECT_EQ(nullptr, help_file);
    EXPECT_EQ(0u, context);
    SysFreeString(name);
    SysFreeString(doc);
    SysFreeString(help_file);
}

// The identifiers the tests pin are the ones the IDL gives, and their text is that of the GUIDs.
TEST_F(type_library, published_identifiers_match_the_generated_header) {
    struct identifier {
        const GUID& pinned;
        const GUID& generated;
        const wchar_t* text;
    };
    const identifier all[] = {
        {zvtest::clsid_zorvane, CLSID_Zorvane, zvtest::clsid_zorvane_text},
        {zvtest::iid_zorvane, IID__Zorvane, zvtest::iid_zorvane_text},
        {zvtest::diid_source, DIID___Zorvane, zvtest::diid_source_text},
        {zvtest::clsid_snapshot, CLSID_clsMemorySnapshot, zvtest::clsid_snapshot_text},
        {zvtest::iid_snapshot, IID__clsMemorySnapshot, zvtest::iid_snapshot_text},
        {zvtest::libid_zorvane, LIBID_ZorvaneLib, zvtest::libid_zorvane_text},
    };
    for (const identifier& p : all) {
        EXPECT_EQ(guid_text(p.generated), guid_text(p.pinned));
        EXPECT_EQ(p.text, guid_text(p.pinned));
    }
}

// In their published order: the build moves the source dispinterface, which widl writes right after its
// coclass, to the end.
TEST_F(type_library, five_type_descriptions) {
    struct expected {
        const wchar_t* name;
        TYPEKIND kind;
        const wchar_t* guid;
        WORD flags;
    };
    const expected types[] = {
        {L"_Zorvane", TKIND_DISPATCH, zvtest::iid_zorvane_text, 0x11D0},
        {L"Zorvane", TKIND_COCLASS, zvtest::clsid_zorvane_text, 0x20},
        {L"_clsMemorySnapshot", TKIND_DISPATCH, zvtest::iid_snapshot_text, 0x11D0},
        {L"clsMemorySnapshot", TKIND_COCLASS, zvtest::clsid_snapshot_text, 0},
        {L"__Zorvane", TKIND_DISPATCH, zvtest::diid_source_text, 0x1090},
    };
    ASSERT_EQ(5u, library->GetTypeInfoCount());
    for (UINT i = 0; i < 5; ++i) {
        ITypeInfo* ti = info(i);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, ti->GetTypeAttr(&attr));
        EXPECT_EQ(types[i].name, name_of(ti)) << i;
        EXPECT_EQ(types[i].kind, attr->typekind) << i;
        EXPECT_EQ(types[i].guid, guid_text(attr->guid)) << i;
        // Wine drops TYPEFLAG_FOLEAUTOMATION from the dispatch view of a dual interface.
        const WORD seen = attr->wTypeFlags | ((attr->wTypeFlags & TYPEFLAG_FDUAL) ? TYPEFLAG_FOLEAUTOMATION : 0);
        EXPECT_EQ(types[i].flags, seen) << types[i].name;
        ti->ReleaseTypeAttr(attr);
        ti->Release();
    }
}

// A description's GUID and its name lead back to its index; a member's name leads to its interface.
TEST_F(type_library, guids_and_names_lead_to_their_places) {
    auto index_of = [](ITypeInfo* ti) {
        ITypeLib* owner = nullptr;
        UINT index = 99;
        EXPECT_EQ(S_OK, ti->GetContainingTypeLib(&owner, &index));
        if (owner) owner->Release();
        return index;
    };
    auto find = [&](const wchar_t* name, UINT& index, MEMBERID& id) {
        std::wstring text = name;  // FindName may write the stored spelling back
        ITypeInfo* found[2] = {};
        MEMBERID ids[2] = {};
        USHORT count = 2;
        ASSERT_EQ(S_OK, library->FindName(&text[0], 0, found, ids, &count));
        ASSERT_EQ(1, count) << name;
        index = index_of(found[0]);
        id = ids[0];
        found[0]->Release();
    };

    const wchar_t* names[] = {L"_Zorvane", L"Zorvane", L"_clsMemorySnapshot", L"clsMemorySnapshot", L"__Zorvane"};
    for (UINT i = 0; i < 5; ++i) {
        SCOPED_TRACE(testing::Message() << "type description " << i);
        ITypeInfo* ti = info(i);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, ti->GetTypeAttr(&attr));
        ITypeInfo* by_guid = nullptr;
        ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(attr->guid, &by_guid));
        ti->ReleaseTypeAttr(attr);
        ti->Release();
        EXPECT_EQ(i, index_of(by_guid));
        EXPECT_EQ(names[i], name_of(by_guid));
        by_guid->Release();

        UINT index = 99;
        MEMBERID id = 0;
        find(names[i], index, id);
        EXPECT_EQ(i, index);
        EXPECT_EQ(MEMBERID_NIL, id);
    }

    UINT index = 99;
    MEMBERID id = 0;
    find(L"Refresh", index, id);
    EXPECT_EQ(UINT{dual_snapshot}, index);
    EXPECT_EQ(0x60030005, id);
    find(L"WindowsMajorVersion", index, id);
    EXPECT_EQ(UINT{dual_zorvane}, index);
    EXPECT_EQ(0x60030021, id);
}

TEST_F(type_library, coclasses_name_their_interfaces) {
    auto impl = [&](UINT type, UINT index, std::wstring& name, INT& flags) {
        ITypeInfo* coclass = info(type);
        HREFTYPE href = 0;
        ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(index, &href));
        ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(index, &flags));
        ITypeInfo* target = nullptr;
        ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(href, &target));
        name = name_of(target);
        target->Release();
        coclass->Release();
    };
    std::wstring name;
    INT flags = 0;
    impl(coclass_zorvane, 0, name, flags);
    EXPECT_EQ(L"_Zorvane", name);
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
    impl(coclass_zorvane, 1, name, flags);
    EXPECT_EQ(L"__Zorvane", name);
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, flags);
    impl(coclass_snapshot, 0, name, flags);
    EXPECT_EQ(L"_clsMemorySnapshot", name);
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);

    ITypeInfo* source = info(source_zorvane);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, source->GetTypeAttr(&attr));
    EXPECT_TRUE(attr->cFuncs == 0 || attr->cFuncs == 7) << attr->cFuncs;  // no event of its own
    EXPECT_EQ(0, attr->cVars);
    source->ReleaseTypeAttr(attr);
    source->Release();
}

// Every method: name, DISPID, parameter names, types and flags, result, and its entry in the table.
TEST_F(type_library, zorvane_methods_and_their_entries) {
    ITypeInfo* ti = vtable_view(dual_zorvane);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, ti->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    EXPECT_EQ(547 * table_entry_size(), attr->cbSizeVft);
    const auto& methods = zvtest::zorvane_methods();
    ASSERT_EQ(methods.size(), attr->cFuncs);
    ti->ReleaseTypeAttr(attr);

    for (UINT i = 0; i < methods.size(); ++i) {
        const auto& m = methods[i];
        SCOPED_TRACE(testing::Message() << "method " << i);
        FUNCDESC* f = nullptr;
        ASSERT_EQ(S_OK, ti->GetFuncDesc(i, &f));
        EXPECT_EQ(m.dispid, f->memid);
        EXPECT_EQ(static_cast<SHORT>((489 + i) * sizeof(void*)), f->oVft);
        EXPECT_EQ(INVOKE_FUNC, f->invkind);
        EXPECT_EQ(VT_HRESULT, f->elemdescFunc.tdesc.vt);
        EXPECT_EQ(m.dispid == -552 ? FUNCFLAG_FHIDDEN : 0, f->wFuncFlags);
        EXPECT_EQ(m.params.size() + (m.result != '-'), static_cast<size_t>(f->cParams));
        const SHORT optional = m.params.empty() || m.params.back().second != 'o' ? 0 : 1;
        EXPECT_EQ(optional, f->cParamsOpt);

        BSTR names[8] = {};
        UINT count = 0;
        ASSERT_EQ(S_OK, ti->GetNames(f->memid, names, 8, &count));
        EXPECT_EQ(m.name, std::wstring(names[0]));
        for (size_t p = 0; p < m.params.size(); ++p) {
            SCOPED_TRACE(testing::Message() << "parameter " << p);
            ASSERT_LT(p + 1, count);
            EXPECT_EQ(m.params[p].first, std::wstring(names[p + 1]));
            const ELEMDESC& e = f->lprgelemdescParam[p];
            const USHORT flags = e.paramdesc.wParamFlags;
            switch (m.params[p].second) {
            case 'L': case 'I': case 'S': case 'V': {
                const VARTYPE target = m.params[p].second == 'L'   ? VT_I4
                                       : m.params[p].second == 'I' ? VT_I2
                                       : m.params[p].second == 'S' ? VT_BSTR
                                                                   : VT_VARIANT;
                ASSERT_EQ(VT_PTR, e.tdesc.vt);
                EXPECT_EQ(target, e.tdesc.lptdesc->vt);
                EXPECT_EQ(PARAMFLAG_FIN | PARAMFLAG_FOUT, flags);
                break;
            }
            case 's':
                EXPECT_EQ(VT_BSTR, e.tdesc.vt);
                EXPECT_EQ(PARAMFLAG_FIN, flags);
                break;
            case 'o':
                EXPECT_EQ(VT_BSTR, e.tdesc.vt);
                EXPECT_EQ(PARAMFLAG_FIN | PARAMFLAG_FOPT, flags);
                break;
            }
        }
        if (m.result != '-') {
            const ELEMDESC& r = f->lprgelemdescParam[m.params.size()];
            EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, r.paramdesc.wParamFlags);
            ASSERT_EQ(VT_PTR, r.tdesc.vt);
            if (m.result == 'S') {
                EXPECT_EQ(VT_BSTR, r.tdesc.lptdesc->vt);
            }
            if (m.result == 'V') {
                EXPECT_EQ(VT_VARIANT, r.tdesc.lptdesc->vt);
            }
            if (m.result == 'P') {
                // Picture**: a pointer to the stdole picture interface.
                ASSERT_EQ(VT_PTR, r.tdesc.lptdesc->vt);
                ASSERT_EQ(VT_USERDEFINED, r.tdesc.lptdesc->lptdesc->vt);
                ITypeInfo* picture = nullptr;
                ASSERT_EQ(S_OK, ti->GetRefTypeInfo(r.tdesc.lptdesc->lptdesc->hreftype, &picture));
                TYPEATTR* pa = nullptr;
                ASSERT_EQ(S_OK, picture->GetTypeAttr(&pa));
                if (pa->typekind == TKIND_ALIAS) {  // stdole2's IPictureDisp names Picture
                    ITypeInfo* target = nullptr;
                    ASSERT_EQ(S_OK, picture->GetRefTypeInfo(pa->tdescAlias.hreftype, &target));
                    picture->ReleaseTypeAttr(pa);
                    picture->Release();
                    picture = target;
                    ASSERT_EQ(S_OK, picture->GetTypeAttr(&pa));
                }
                EXPECT_EQ(L"{7BF80981-BF32-101A-8BBB-00AA00300CAB}", guid_text(pa->guid));
                picture->ReleaseTypeAttr(pa);
                ITypeLib* owner = nullptr;
                UINT index = 0;
                ASSERT_EQ(S_OK, picture->GetContainingTypeLib(&owner, &index));
                TLIBATTR* la = nullptr;
                owner->GetLibAttr(&la);
                EXPECT_EQ(L"{00020430-0000-0000-C000-000000000046}", guid_text(la->guid));  // stdole2
                owner->ReleaseTLibAttr(la);
                owner->Release();
                picture->Release();
            }
        }
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        ti->ReleaseFuncDesc(f);
    }
    ti->Release();
}

TEST_F(type_library, memory_snapshot_members) {
    ITypeInfo* ti = vtable_view(dual_snapshot);
    struct member {
        const wchar_t* name;
        DISPID id;
        INVOKEKIND kind;
    };
    const member members[] = {
        {L"FreeMemory", 0x68030003, INVOKE_PROPERTYGET},
        {L"TotalMemory", 0x68030002, INVOKE_PROPERTYGET},
        {L"TotalVirtualMemory", 0x68030001, INVOKE_PROPERTYGET},
        {L"AvailableVirtualMemory", 0x68030000, INVOKE_PROPERTYGET},
        {L"Refresh", 0x60030005, INVOKE_FUNC},
    };
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, ti->GetTypeAttr(&attr));
    EXPECT_EQ(12 * table_entry_size(), attr->cbSizeVft);
    ASSERT_EQ(5, attr->cFuncs);
    ti->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < 5; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(S_OK, ti->GetFuncDesc(i, &f));
        EXPECT_EQ(members[i].name, name_of(ti, f->memid));
        EXPECT_EQ(members[i].id, f->memid);
        EXPECT_EQ(members[i].kind, f->invkind);
        EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void*)), f->oVft);
        if (members[i].kind == INVOKE_PROPERTYGET) {
            ASSERT_EQ(1, f->cParams);
            EXPECT_EQ(VT_I4, f->lprgelemdescParam[0].tdesc.lptdesc->vt);
        }
        ti->ReleaseFuncDesc(f);
    }
    ti->Release();
}

} // namespace

namespace {

// Object browsers show one sentence for every method and property.
TEST_F(type_library, every_member_has_a_help_string) {
    for (UINT index : {0u, 2u}) {
        ITypeInfo* twin = vtable_view(index);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, twin->GetTypeAttr(&attr));
        int described = 0;
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* desc = nullptr;
            if (FAILED(twin->GetFuncDesc(i, &desc))) continue;
            BSTR name = nullptr, help = nullptr;
            twin->GetDocumentation(desc->memid, &name, &help, nullptr, nullptr);
            if (desc->oVft >= static_cast<SHORT>(7 * sizeof(void*))) {
                EXPECT_TRUE(help && SysStringLen(help) > 10 && help[SysStringLen(help) - 1] == L'.')
                    << (name ? std::string(name, name + SysStringLen(name)) : std::string("?"));
                ++described;
            }
            SysFreeString(name);
            SysFreeString(help);
            twin->ReleaseFuncDesc(desc);
        }
        EXPECT_EQ(index == 0 ? 58 : 5, described);
        twin->ReleaseTypeAttr(attr);
        twin->Release();
    }
}

} // namespace
