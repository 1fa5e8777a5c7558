// Calls that Invoke makes through the vtable itself answer exactly as the type library's own ITypeInfo::Invoke
// answers for the same object: result, failure, EXCEPINFO, puArgErr and what the arguments hold afterwards.
#include "support/call_outcome.h"
#include "support/iat_hook.h"
#include "support/neutralised.h"
#include "support/ocx.h"
#include "support/published.h"
#include "support/surface.h"
#include "support/window_closer.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <memory>
#include <string>
#include <vector>

namespace {

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
        ASSERT_EQ(S_OK, object->QueryInterface(zvtest::iid_zorvane, reinterpret_cast<void**>(&dual)));
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

// ---- calls with arguments ---------------------------------------------------------------------------------------

// The text a parameter gets; DeleteAtStartup's name is one nothing adds.
std::wstring text_for(const std::wstring& method, const std::wstring& param) {
    if (param == L"PathDrive") return L"C:\\";
    if (param == L"ProgName") return method == L"DeleteAtStartup" ? L"ZvNothingToDelete" : L"ZvEquivalence";
    if (param == L"ProgPath") return L"C:\\equivalence.exe";
    if (param == L"WebAddress") return L"https://example.org";
    if (param == L"MailAddress") return L"x@example.org";
    if (param == L"SubjectMail") return L"Привет";
    if (param == L"BMPFileName") return L"C:\\none.bmp";
    if (param == L"Y") return L"20";
    return L"";  // Path (MakePath makes nothing of it), FileName (a picture only)
}

enum class shape { by_value, variant_ref, typed_ref, omitted };

// One call's arguments, made afresh for each call: what rgvarg holds and the storage its references point at.
struct call_arguments {
    std::vector<VARIANTARG> rgvarg;
    std::vector<VARIANT> values;  // what VARIANT references point at, and the values typed references point into
    std::vector<BSTR> texts;      // typed BSTR references point here

    ~call_arguments() {
        for (auto& v : values) VariantClear(&v);
        for (BSTR t : texts) SysFreeString(t);
        for (auto& a : rgvarg)
            if (!(V_VT(&a) & VT_BYREF)) VariantClear(&a);
    }
};

// A value for a parameter of `kind` as the method table names it (L long*, I short*, S BSTR*, V VARIANT*, s BSTR,
// o optional BSTR).
VARIANT plain_value(const zvtest::method_row& m, size_t index) {
    VARIANT v;
    VariantInit(&v);
    const char kind = m.params[index].second;
    if (kind == 'L') V_VT(&v) = VT_I4, V_I4(&v) = 0;
    else if (kind == 'I') V_VT(&v) = VT_I2, V_I2(&v) = 100;
    else if (kind == 'V') V_VT(&v) = VT_I4, V_I4(&v) = 300;
    else V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(text_for(m.name, m.params[index].first).c_str());
    return v;
}

// Unusual values, given for one parameter at a time by value and through a VARIANT reference: numbers that
// overflow or need rounding, texts, Empty, Null, an object, the stand-in for a missing argument.
std::vector<VARIANT> unusual_values(IDispatch* object) {
    std::vector<VARIANT> out;
    auto add = [&](VARTYPE type, auto set) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = type;
        set(v);
        out.push_back(v);
    };
    add(VT_EMPTY, [](VARIANT&) {});
    add(VT_NULL, [](VARIANT&) {});
    add(VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_TRUE; });
    add(VT_I4, [](VARIANT& v) { V_I4(&v) = 70000; });
    add(VT_UI4, [](VARIANT& v) { V_UI4(&v) = 0xFFFFFFFFu; });
    add(VT_I1, [](VARIANT& v) { V_I1(&v) = -5; });
    add(VT_R8, [](VARIANT& v) { V_R8(&v) = 2.5; });
    add(VT_CY, [](VARIANT& v) { V_CY(&v).int64 = 12345; });
    add(VT_BSTR, [](VARIANT& v) { V_BSTR(&v) = SysAllocString(L"12"); });
    add(VT_BSTR, [](VARIANT& v) { V_BSTR(&v) = SysAllocString(L"x"); });
    add(VT_BSTR, [](VARIANT& v) { V_BSTR(&v) = nullptr; });
    add(VT_ERROR, [](VARIANT& v) { V_ERROR(&v) = DISP_E_PARAMNOTFOUND; });
    add(VT_DISPATCH, [&](VARIANT& v) {
        object->AddRef();
        V_DISPATCH(&v) = object;
    });
    return out;
}

// How a caller passes one argument: a copy of `value` by value, through a VARIANT reference, or by a typed
// reference (for the by-reference parameters).
void pass(call_arguments& a, VARIANTARG& arg, const VARIANT& value, shape s, char kind) {
    a.values.emplace_back();
    VARIANT& stored = a.values.back();
    VariantInit(&stored);
    VariantCopy(&stored, const_cast<VARIANT*>(&value));
    if (s == shape::variant_ref || (s == shape::typed_ref && kind == 'V')) {
        V_VT(&arg) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&arg) = &stored;
    } else if (s == shape::typed_ref && kind == 'S') {
        a.texts.push_back(SysAllocString(V_BSTR(&stored)));
        V_VT(&arg) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&arg) = &a.texts.back();
    } else if (s == shape::typed_ref && (kind == 'L' || kind == 'I')) {
        V_VT(&arg) = VT_BYREF | (kind == 'L' ? VT_I4 : VT_I2);
        V_BYREF(&arg) = &V_I4(&stored);
    } else {
        VariantInit(&arg);
        VariantCopy(&arg, const_cast<VARIANT*>(&value));
    }
}

// Arguments for every parameter of `m` in shape `s` (optional ones left out in shape `omitted`), with
// `unusual` in place of parameter `at` when given, or there a typed reference to nothing.
std::unique_ptr<call_arguments> arguments_for(const zvtest::method_row& m, shape s, const VARIANT* unusual,
                                              size_t at, bool null_reference = false) {
    auto a = std::make_unique<call_arguments>();
    size_t passed = m.params.size();
    if (s == shape::omitted)
        while (passed && m.params[passed - 1].second == 'o') --passed;
    a->rgvarg.resize(passed);
    a->values.reserve(passed);
    a->texts.reserve(passed);
    for (size_t i = 0; i < passed; ++i) {
        VARIANT plain = plain_value(m, i);
        VARIANTARG& arg = a->rgvarg[passed - 1 - i];  // rgvarg runs backwards
        const char kind = m.params[i].second;
        if (null_reference && i == at) {
            V_VT(&arg) = VT_BYREF | (kind == 'L' ? VT_I4 : kind == 'I' ? VT_I2 : kind == 'V' ? VT_VARIANT : VT_BSTR);
            V_BYREF(&arg) = nullptr;
        } else if (unusual && i == at) {
            pass(*a, arg, *unusual, s == shape::typed_ref ? shape::by_value : s, 'V');
        } else {
            pass(*a, arg, plain, s, kind);
        }
        VariantClear(&plain);
    }
    return a;
}

// One call and what it left: its answer, and what each rgvarg entry or its reference holds.
std::string call_and_describe(IDispatch* dual, DISPID id, call_arguments& a, bool named) {
    std::vector<DISPID> in_order(a.rgvarg.size());
    for (size_t i = 0; i < in_order.size(); ++i) in_order[i] = static_cast<DISPID>(in_order.size() - 1 - i);
    DISPPARAMS params{a.rgvarg.data(), named ? in_order.data() : nullptr, static_cast<UINT>(a.rgvarg.size()),
                      named ? static_cast<UINT>(a.rgvarg.size()) : 0u};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT arg_error = 99;
    SetErrorInfo(0, nullptr);
    const HRESULT hr = dual->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                    &exception, &arg_error);
    std::string out = zvtest::describe_call(hr, &result, &exception, &arg_error);
    for (size_t i = 0; i < a.rgvarg.size(); ++i) {
        const VARIANTARG& arg = a.rgvarg[i];
        out += "; ";
        if ((V_VT(&arg) & VT_BYREF) && !V_BYREF(&arg)) out += "(reference to nothing)";
        else if (V_VT(&arg) == (VT_BYREF | VT_VARIANT)) out += zvtest::describe(*V_VARIANTREF(&arg));
        else if (V_VT(&arg) == (VT_BYREF | VT_BSTR)) out += zvtest::quoted(*V_BSTRREF(&arg));
        else if (V_VT(&arg) & VT_BYREF) out += std::to_string(*static_cast<LONG*>(V_BYREF(&arg)));
        else out += zvtest::describe(arg);
    }
    IErrorInfo* left = nullptr;
    if (GetErrorInfo(0, &left) == S_OK && left) {
        out += "; error information left";
        left->Release();
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    VariantClear(&result);
    return out;
}

LSTATUS WINAPI no_value(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD) { return ERROR_SUCCESS; }
LSTATUS WINAPI no_such_value(HKEY, LPCWSTR) { return ERROR_FILE_NOT_FOUND; }

// A call with its arguments named in their own order always goes the general way, through ITypeInfo::Invoke
// (with typed references converted as VBScript needs): the same call with positional arguments, made here where
// its shapes allow, must answer exactly as it does.
TEST_F(direct_invoke, calls_with_arguments_answer_as_the_general_way) {
    zvtest::neutralised hooks;
    zvtest::window_closer error_boxes(L"Ошибка");  // captures report a file they may not write
    // The Run key as it is left alone: AddToStartup succeeds and DeleteAtStartup finds nothing, every time.
    zvtest::iat_hook add(zvtest::ocx(), "advapi32.dll", "RegSetValueExW", reinterpret_cast<const void*>(&no_value));
    zvtest::iat_hook remove(zvtest::ocx(), "advapi32.dll", "RegDeleteValueW",
                            reinterpret_cast<const void*>(&no_such_value));
    std::vector<VARIANT> unusual = unusual_values(dual);
    int compared = 0;
    for (const auto& m : zvtest::zorvane_methods()) {
        if (m.params.empty()) continue;
        auto compare = [&](shape s, const VARIANT* value, size_t at, const char* what, bool null = false) {
            auto positional = arguments_for(m, s, value, at, null);
            auto named = arguments_for(m, s, value, at, null);
            const std::string ours = call_and_describe(dual, m.dispid, *positional, false);
            const std::string general = call_and_describe(dual, m.dispid, *named, true);
            EXPECT_EQ(general, ours) << std::string(m.name, m.name + wcslen(m.name)) << ", " << what << ", parameter "
                                     << at << (value ? ", " + zvtest::describe(*value) : std::string());
            ++compared;
        };
        compare(shape::by_value, nullptr, 0, "by value");
        compare(shape::variant_ref, nullptr, 0, "VARIANT references");
        compare(shape::typed_ref, nullptr, 0, "typed references");
        if (m.params.back().second == 'o') compare(shape::omitted, nullptr, 0, "optional left out");
        for (size_t at = 0; at < m.params.size(); ++at) {
            compare(shape::typed_ref, nullptr, at, "a typed reference to nothing", true);
            for (const VARIANT& value : unusual) {
                compare(shape::by_value, &value, at, "unusual value");
                compare(shape::variant_ref, &value, at, "unusual value by VARIANT reference");
            }
        }
    }
    for (auto& v : unusual) VariantClear(&v);
    EXPECT_GT(compared, 500);
}

} // namespace
