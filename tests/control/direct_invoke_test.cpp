// Calls without arguments, which Invoke makes through the vtable itself, answer exactly as the
// type library's own ITypeInfo::Invoke answers for the same object: result, failure and EXCEPINFO.
#include "support/iat_hook.h"
#include "support/ocx.h"
#include "support/surface.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <string>

namespace {

const IID iid_zorvane = {0x8003362e, 0x8df0, 0x4fc8, {0xb2, 0xbb, 0x2f, 0xb0, 0x20, 0x2a, 0x52, 0xa3}};

// What one Invoke left behind.
struct outcome {
    HRESULT hr = E_UNEXPECTED;
    VARTYPE type = VT_ILLEGAL;
    std::wstring text;
    SCODE scode = 0;
    std::wstring description, source;
};

std::wstring text_of(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : L"(null)"; }

// `through` is the object's own IDispatch or the type information's Invoke on the same object.
template <typename Call>
outcome call(Call through, bool with_exception = true) {
    VARIANT result;
    VariantInit(&result);
    V_VT(&result) = VT_I4;  // a leftover the call must replace
    V_I4(&result) = 77;
    EXCEPINFO exception{};
    UINT arg_error = 99;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    outcome o;
    o.hr = through(&none, &result, with_exception ? &exception : nullptr, &arg_error);
    o.type = V_VT(&result);
    if (V_VT(&result) == VT_BSTR) o.text = text_of(V_BSTR(&result));
    if (V_VT(&result) == VT_I4) o.text = std::to_wstring(V_I4(&result));
    VariantClear(&result);
    o.scode = exception.scode;
    o.description = exception.bstrDescription ? text_of(exception.bstrDescription) : L"";
    o.source = exception.bstrSource ? text_of(exception.bstrSource) : L"";
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    EXPECT_EQ(99u, arg_error);
    return o;
}

// Error information an earlier call left on the thread.
void leave_error_info() {
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(S_OK, CreateErrorInfo(&create));
    create->SetDescription(const_cast<LPOLESTR>(L"earlier"));
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    SetErrorInfo(0, info);
    info->Release();
    create->Release();
}

struct direct_invoke : ::testing::Test {
    void SetUp() override {
        CoInitialize(nullptr);
        IUnknown* object = zvtest::new_control();
        ASSERT_EQ(S_OK, object->QueryInterface(iid_zorvane, reinterpret_cast<void**>(&dual)));
        object->Release();
        ASSERT_EQ(S_OK, dual->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    }
    void TearDown() override {
        if (info) info->Release();
        if (dual) dual->Release();
        EXPECT_EQ(S_OK, zvtest::can_unload_now());
        CoUninitialize();
    }

    // The same call through both, compared field by field.
    void expect_same(DISPID id, WORD flags, bool with_exception = true) {
        leave_error_info();
        auto ours = call([&](DISPPARAMS* p, VARIANT* r, EXCEPINFO* e, UINT* a) {
            return dual->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, p, r, e, a);
        }, with_exception);
        IErrorInfo* left = nullptr;
        GetErrorInfo(0, &left);  // what a caller without EXCEPINFO still finds
        leave_error_info();
        auto reference = call([&](DISPPARAMS* p, VARIANT* r, EXCEPINFO* e, UINT* a) {
            return info->Invoke(dual, id, flags, p, r, e, a);
        }, with_exception);
        IErrorInfo* left_by_reference = nullptr;
        GetErrorInfo(0, &left_by_reference);
        EXPECT_EQ(reference.hr, ours.hr) << std::hex << id << " flags " << flags;
        EXPECT_EQ(reference.type, ours.type) << std::hex << id;
        EXPECT_EQ(reference.scode, ours.scode) << std::hex << id;
        EXPECT_EQ(reference.description, ours.description) << std::hex << id;
        EXPECT_EQ(reference.source, ours.source) << std::hex << id;
        EXPECT_EQ(left_by_reference != nullptr, left != nullptr) << std::hex << id;
        if (left) left->Release();
        if (left_by_reference) left_by_reference->Release();
        last = ours;
    }

    IDispatch* dual = nullptr;
    ITypeInfo* info = nullptr;
    outcome last;
};

TEST_F(direct_invoke, answers_as_the_type_information_does) {
    for (const auto& m : zvtest::zorvane_methods()) {
        if (!m.params.empty() || m.result != 'S') continue;
        for (WORD flags : {WORD(DISPATCH_METHOD), WORD(DISPATCH_METHOD | DISPATCH_PROPERTYGET),
                           WORD(DISPATCH_PROPERTYGET), WORD(DISPATCH_PROPERTYPUT)}) {
            expect_same(m.dispid, flags);
            if (flags & DISPATCH_METHOD) {
                EXPECT_EQ(S_OK, last.hr) << std::hex << m.dispid;
                EXPECT_EQ(VT_BSTR, last.type);
            }
        }
    }
    // Methods without a result: the leftover in the result is what the type information leaves.
    for (const wchar_t* name : {L"ShowDesktop", L"HideDesktop"}) {
        for (const auto& m : zvtest::zorvane_methods())
            if (std::wstring(m.name) == name) expect_same(m.dispid, DISPATCH_METHOD);
    }
}

BSTR WINAPI no_string(const OLECHAR*, UINT) { return nullptr; }

TEST_F(direct_invoke, a_failure_becomes_the_same_exception) {
    const DISPID major = 0x60030021;  // WindowsMajorVersion
    zvtest::iat_hook out_of_memory(zvtest::ocx(), "oleaut32.dll", "SysAllocStringLen",
                                   reinterpret_cast<const void*>(&no_string));
    expect_same(major, DISPATCH_METHOD);
    EXPECT_EQ(DISP_E_EXCEPTION, last.hr);
    EXPECT_EQ(static_cast<SCODE>(0x800A0007), last.scode);
    EXPECT_EQ(L"Out of memory", last.description);
    EXPECT_EQ(VT_BSTR, last.type);  // typed, and empty
    // Without EXCEPINFO the error information stays with the thread.
    expect_same(major, DISPATCH_METHOD, false);
    EXPECT_EQ(DISP_E_EXCEPTION, last.hr);
}

} // namespace
