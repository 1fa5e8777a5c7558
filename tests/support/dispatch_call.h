// One IDispatch::Invoke as a host makes it, owning all it hands over and gets back: the arguments (added in the
// order they are written, kept in the reverse order rgvarg wants), the variables passed by reference, the result,
// the EXCEPINFO (its strings freed) and puArgErr. A call may be made again; each starts with an empty result and
// exception. And an owned BSTR, for the methods' table entries.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zvtest {

// A BSTR made from text and freed when it goes (null text makes a null BSTR).
class bstr final {
public:
    bstr() = default;
    explicit bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
    explicit bstr(std::wstring_view text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    ~bstr() { SysFreeString(value_); }

    BSTR get() const noexcept { return value_; }
    BSTR* address() noexcept { return &value_; }  // for a BSTR* parameter, which may replace it
    std::wstring text() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : L"(null)"; }

private:
    BSTR value_ = nullptr;
};

inline VARIANT long_value(LONG number) {
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = number;
    return v;
}
inline VARIANT short_value(SHORT number) {
    VARIANT v;
    V_VT(&v) = VT_I2;
    V_I2(&v) = number;
    return v;
}
inline VARIANT text_value(std::wstring_view text) {
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

// Which of the result, the EXCEPINFO and puArgErr a call hands to Invoke; callers that pass null leave them out.
enum handed : unsigned { hand_nothing = 0, hand_result = 1, hand_exception = 2, hand_arg_error = 4, hand_all = 7 };

class dispatch_call {
public:
    explicit dispatch_call(unsigned handed = hand_all) noexcept : handed_(handed) { VariantInit(&result); }
    dispatch_call(const dispatch_call&) = delete;
    dispatch_call& operator=(const dispatch_call&) = delete;
    ~dispatch_call() {
        clear_answers();
        for (VARIANT& a : args_) VariantClear(&a);
        for (VARIANT& v : variables_) VariantClear(&v);
    }

    // An argument by value, which the call now owns.
    dispatch_call& arg(VARIANT value) {
        args_.insert(args_.begin(), value);
        return *this;
    }
    dispatch_call& arg(std::wstring_view text) { return arg(text_value(text)); }
    dispatch_call& arg(LONG number) { return arg(long_value(number)); }
    // An optional argument left out, as VBScript leaves it.
    dispatch_call& missing() {
        VARIANT v;
        V_VT(&v) = VT_ERROR;
        V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
        return arg(v);
    }
    // A variable of the call's own holding `value`, passed as a reference of its type (VT_BYREF | VT_I4, ...).
    dispatch_call& by_ref(VARIANT value) {
        VARIANT& variable = variables_.emplace_back(value);
        VARIANT ref;
        V_VT(&ref) = static_cast<VARTYPE>(VT_BYREF | V_VT(&value));
        V_BYREF(&ref) = &V_I4(&variable);  // every scalar and the BSTR start where the union does
        return arg(ref);
    }
    // A variable of the call's own holding `value`, passed as a VARIANT reference, as VBScript passes its variables.
    dispatch_call& by_variant_ref(VARIANT value) { return ref(&variables_.emplace_back(value)); }
    // The caller's own variable, as a VARIANT reference.
    dispatch_call& ref(VARIANT* variable) {
        VARIANT r;
        V_VT(&r) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&r) = variable;
        return arg(r);
    }

    HRESULT invoke(IDispatch* object, DISPID id, WORD flags = DISPATCH_METHOD) {
        clear_answers();
        dispid = id;
        DISPPARAMS params{args_.empty() ? nullptr : args_.data(), nullptr, static_cast<UINT>(args_.size()), 0};
        hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                            (handed_ & hand_result) ? &result : nullptr,
                            (handed_ & hand_exception) ? &exception : nullptr,
                            (handed_ & hand_arg_error) ? &arg_error : nullptr);
        return hr;
    }
    // By name: GetIDsOfNames first, whose failure is then the call's.
    HRESULT invoke(IDispatch* object, const wchar_t* name, WORD flags = DISPATCH_METHOD) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        return FAILED(hr) ? hr : invoke(object, id, flags);
    }

    HRESULT hr = E_UNEXPECTED;
    DISPID dispid = DISPID_UNKNOWN;
    VARIANT result;
    EXCEPINFO exception{};
    UINT arg_error = static_cast<UINT>(-1);  // left so by a call that names no argument

private:
    void clear_answers() {
        VariantClear(&result);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        exception = EXCEPINFO{};
        arg_error = static_cast<UINT>(-1);
    }

    unsigned handed_;
    std::vector<VARIANT> args_;
    std::deque<VARIANT> variables_;  // a deque: what the references point to never moves
};

} // namespace zvtest
