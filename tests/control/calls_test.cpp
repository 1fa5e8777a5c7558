// Every method of _Zorvane through its entry in the table of functions and through IDispatch::Invoke.
#include "support/dispatch_call.h"
#include "support/neutralised.h"
#include "support/ocx.h"
#include "support/published.h"
#include "support/window_closer.h"
#include "support/surface.h"

#include <gtest/gtest.h>

#include <oleauto.h>
#include <ocidl.h>

#include <string>
#include <vector>

namespace {

// Methods with a picture result that is made even for window 0: they write no file here.
bool is_capture(const wchar_t* name) { return wcsncmp(name, L"Capture", 7) == 0; }

// Arguments for one call, kept alive for its duration; `byref` sets how Invoke callers pass ref parameters.
struct arguments {
    LONG number = 0;
    SHORT small = 0;
    BSTR text = SysAllocString(L"12");
    BSTR value = SysAllocString(L"value");
    VARIANT variant{};
    BSTR result_text = nullptr;
    IPictureDisp* result_picture = nullptr;
    VARIANT result_variant{};

    ~arguments() {
        SysFreeString(text);
        SysFreeString(value);
        SysFreeString(result_text);
        if (result_picture) result_picture->Release();
        VariantClear(&variant);
        VariantClear(&result_variant);
    }
};

struct calls : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitialize(nullptr) >= 0 ? S_OK : E_FAIL);
        object = zvtest::new_control();
        ASSERT_EQ(S_OK, object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&dual)));
    }
    void TearDown() override {
        if (dual) dual->Release();
        if (object) object->Release();
        EXPECT_EQ(S_OK, zvtest::can_unload_now());
        CoUninitialize();
    }
    IUnknown* object = nullptr;
    IDispatch* dual = nullptr;
    zvtest::neutralised hooks;  // nothing a call here asks of Windows really happens
    zvtest::window_closer about{L"О контроле..."};  // ShowAbout's modal box
};

// Calls entry 489 + index with the parameter kinds of the method, as an early-bound client would.
HRESULT call_entry(IDispatch* dual, size_t index, const zvtest::method_row& m, arguments& a) {
    std::vector<VARTYPE> types;
    std::vector<VARIANT> values;
    auto push_pointer = [&](void* p) {
        VARIANT v{};
        V_VT(&v) = VT_BYREF | VT_UI1;
        V_BYREF(&v) = p;
        types.push_back(V_VT(&v));
        values.push_back(v);
    };
    for (const auto& p : m.params) {
        switch (p.second) {
        case 'L': push_pointer(&a.number); break;
        case 'I': push_pointer(&a.small); break;
        case 'S': push_pointer(&a.text); break;
        case 'V': push_pointer(&a.variant); break;
        default: {
            VARIANT v{};
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = a.value;
            types.push_back(VT_BSTR);
            values.push_back(v);
        }
        }
    }
    if (m.result == 'S') push_pointer(&a.result_text);
    if (m.result == 'P') push_pointer(&a.result_picture);
    if (m.result == 'V') push_pointer(&a.result_variant);
    std::vector<VARIANT*> pointers;
    for (auto& v : values) pointers.push_back(&v);
    VARIANT hr{};
    const HRESULT call = DispCallFunc(dual, (489 + index) * sizeof(void*), CC_STDCALL, VT_ERROR,
                                      static_cast<UINT>(types.size()), types.data(), pointers.data(), &hr);
    return FAILED(call) ? call : V_ERROR(&hr);
}

TEST_F(calls, every_method_through_its_table_entry) {
    const auto& methods = zvtest::zorvane_methods();
    for (size_t i = 0; i < methods.size(); ++i) {
        const auto& m = methods[i];
        SCOPED_TRACE(testing::Message() << "entry " << 489 + i);
        arguments a;
        if (is_capture(m.name)) SysReAllocString(&a.value, L"");
        const HRESULT hr = call_entry(dual, i, m, a);
        EXPECT_EQ(S_OK, hr) << std::string(m.name, m.name + wcslen(m.name));
        if (m.result == 'S') {
            EXPECT_NE(nullptr, a.result_text);
        }
        if (m.result == 'P') {
            EXPECT_NE(nullptr, a.result_picture);
        }
    }
}

TEST_F(calls, every_method_through_invoke_by_name) {
    for (const auto& m : zvtest::zorvane_methods()) {
        SCOPED_TRACE(testing::Message() << std::string(m.name, m.name + wcslen(m.name)));
        // The values `arguments` starts with, as variables of the call's own.
        zvtest::dispatch_call call;
        for (const auto& p : m.params) {
            switch (p.second) {
            case 'L': call.by_ref(zvtest::long_value(0)); break;
            case 'I': call.by_ref(zvtest::short_value(0)); break;
            case 'S': call.by_ref(zvtest::text_value(L"12")); break;
            case 'V': call.by_variant_ref(VARIANT{}); break;
            case 'o': continue;  // omitted optional argument
            default: call.arg(is_capture(m.name) ? L"" : L"value"); break;
            }
        }
        EXPECT_EQ(S_OK, call.invoke(dual, m.name));
        EXPECT_EQ(m.dispid, call.dispid);
        const VARTYPE expected = m.result == 'P' ? VT_DISPATCH : m.result == 'S' ? VT_BSTR
                                 : m.result == 'V' ? VT_BOOL : VT_EMPTY;
        EXPECT_EQ(expected, V_VT(&call.result));
    }
}

TEST_F(calls, dispids_the_edge_cases_name) {
    auto id_of = [&](const wchar_t* text) {
        LPOLESTR name = const_cast<LPOLESTR>(text);
        DISPID id = 0;
        EXPECT_EQ(S_OK, dual->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
        return id;
    };
    EXPECT_EQ(-552, id_of(L"ShowAbout"));
    EXPECT_EQ(0x60030007, id_of(L"CaptureDesktop"));
    EXPECT_EQ(0x60030007, id_of(L"capturedesktop"));  // names are case-insensitive

    LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMethod");
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dual->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id));

    // Named arguments reach the right parameter.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"GetDriveLabel"), const_cast<LPOLESTR>(L"PathDrive")};
    DISPID ids[2] = {};
    ASSERT_EQ(S_OK, dual->GetIDsOfNames(IID_NULL, names, 2, 0, ids));
    EXPECT_EQ(0x6003002C, ids[0]);
    EXPECT_EQ(0, ids[1]);
}

TEST_F(calls, invoke_refuses_what_it_cannot_call) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, dual->Invoke(0x60030006, IID_NULL, 0, DISPATCH_METHOD, &none, &result,
                                                   nullptr, nullptr));
    const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              dual->Invoke(0x6003001F, other, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, dual->Invoke(0x6003001F, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr,
                                      nullptr));
    // Too many arguments for a method that takes none.
    VARIANT extra{};
    V_VT(&extra) = VT_I4;
    DISPPARAMS one{&extra, nullptr, 1, 0};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT,
              dual->Invoke(0x6003001F, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr));
    EXPECT_EQ(VT_EMPTY, V_VT(&result));
}

// VBScript passes variables as VARIANT*: a typed by-reference parameter still takes them.
TEST_F(calls, variant_references_into_typed_reference_parameters) {
    struct probe {
        DISPID id;
        VARIANT inner;
    };
    VARIANT text;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"C:\\");
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I2;  // an Integer variable into a Long parameter
    V_I2(&number) = 7;

    for (auto [id, inner] : {std::pair{0x6003002C, &text}, std::pair{0x6003002F, &number}}) {
        zvtest::dispatch_call call;
        const HRESULT hr = call.ref(inner).invoke(dual, id);
        // The call reaches the method (which answers for itself), never a type mismatch.
        EXPECT_NE(DISP_E_TYPEMISMATCH, hr) << std::hex << id;
        EXPECT_TRUE(hr == S_OK || (hr == DISP_E_EXCEPTION && call.exception.scode == E_NOTIMPL)) << std::hex << hr;
    }
    EXPECT_EQ(VT_BSTR, V_VT(&text));
    EXPECT_STREQ(L"C:\\", V_BSTR(&text));
    EXPECT_EQ(VT_I2, V_VT(&number));
    EXPECT_EQ(7, V_I2(&number));

    // A value that cannot become a Long is a type mismatch that names the argument.
    VARIANT object;
    V_VT(&object) = VT_UNKNOWN;
    V_UNKNOWN(&object) = dual;
    VARIANT arg;
    V_VT(&arg) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&arg) = &object;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    UINT arg_error = 99;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, dual->Invoke(0x6003002F, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                                                nullptr, &arg_error));
    EXPECT_EQ(0u, arg_error);

    // A reference to no VARIANT at all has nothing to convert: a type mismatch too, never a null read.
    for (DISPID id : {0x6003002C, 0x6003002F}) {
        V_VARIANTREF(&arg) = nullptr;
        arg_error = 99;
        EXPECT_EQ(DISP_E_TYPEMISMATCH, dual->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr,
                                                    &arg_error));
        EXPECT_EQ(0u, arg_error);
    }
    VariantClear(&text);
}

// Named arguments out of their positional order: whatever the call writes into a by-value argument is handed
// back to the caller, never left pointing at a string the call freed.
TEST_F(calls, named_arguments_keep_every_argument_valid) {
    const std::wstring subject(1 << 20, L'S');  // big enough to be given back to the system when freed
    VARIANT args[2];
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = SysAllocString(L"x@example.org");
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = SysAllocStringLen(subject.data(), static_cast<UINT>(subject.size()));
    DISPID names[2] = {0, 1};  // MailAddress, SubjectMail
    DISPPARAMS params{args, names, 2, 2};
    EXPECT_EQ(S_OK, dual->Invoke(0x6003003B, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    for (VARIANT& arg : args) {
        ASSERT_EQ(VT_BSTR, V_VT(&arg));
        // Readable to its last character (a freed megabyte is no longer mapped).
        const UINT length = SysStringLen(V_BSTR(&arg));
        EXPECT_LE(length, subject.size());
        volatile wchar_t last = 0;
        for (UINT i = 0; i < length; ++i) last = V_BSTR(&arg)[i];
        (void)last;
        VariantClear(&arg);
    }
}

TEST_F(calls, identity_error_info_and_class_info) {
    IUnknown* unknown = nullptr;
    ISupportErrorInfo* support = nullptr;
    IProvideClassInfo2* class_info = nullptr;
    ASSERT_EQ(S_OK, dual->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    ASSERT_EQ(S_OK, dual->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)));
    ASSERT_EQ(S_OK, support->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&class_info)));
    EXPECT_EQ(object, unknown);
    IUnknown* again = nullptr;
    ASSERT_EQ(S_OK, class_info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)));
    EXPECT_EQ(unknown, again);
    again->Release();

    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(zvtest::iid_zorvane));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDispatch));

    GUID source{};
    ASSERT_EQ(S_OK, class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
    wchar_t text[40] = {};
    StringFromGUID2(source, text, 40);
    EXPECT_STREQ(zvtest::diid_source_text, text);
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(S_OK, class_info->GetClassInfo(&coclass));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    coclass->ReleaseTypeAttr(attr);
    coclass->Release();

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, dual->QueryInterface(IID_IClassFactory, &none));
    EXPECT_EQ(nullptr, none);

    UINT count = 0;
    EXPECT_EQ(S_OK, dual->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ITypeInfo* ti = nullptr;
    EXPECT_EQ(DISP_E_BADINDEX, dual->GetTypeInfo(1, 0, &ti));
    ASSERT_EQ(S_OK, dual->GetTypeInfo(0, 0, &ti));
    ti->Release();

    class_info->Release();
    support->Release();
    unknown->Release();
}

TEST_F(calls, null_result_pointer_is_refused_before_anything_happens) {
    using string_method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*);
    auto* table = *reinterpret_cast<void***>(dual);
    auto platform = reinterpret_cast<string_method>(table[489 + 30]);
    EXPECT_EQ(E_POINTER, platform(dual, nullptr));
    BSTR text = nullptr;
    EXPECT_EQ(S_OK, platform(dual, &text));
    EXPECT_NE(nullptr, text);
    SysFreeString(text);
}

} // namespace
