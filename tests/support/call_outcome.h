// What an IDispatch::Invoke left behind, as text: its HRESULT, result, EXCEPINFO and puArgErr, and values by their
// type and content (never their addresses), so that two calls that answer alike describe alike.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace zvtest {

inline std::string hex_of(const void* data, size_t size) {
    std::string out;
    char digits[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof(digits), "%02x", static_cast<const unsigned char*>(data)[i]);
        out += digits;
    }
    return out;
}

inline std::string text_of(const wchar_t* text, size_t length) {
    std::string out;
    char escaped[8];
    for (size_t i = 0; i < length && i < 200; ++i) {
        if (text[i] >= 32 && text[i] < 127) {
            out += static_cast<char>(text[i]);
        } else {
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(text[i]));
            out += escaped;
        }
    }
    if (length > 200) out += "...(" + std::to_string(length) + ")";
    return out;
}

// A BSTR's text in quotes, or (null).
inline std::string quoted(BSTR b) {
    if (!b) return "(null)";
    std::string out = "'";
    out += text_of(b, SysStringLen(b));
    out += "'";
    return out;
}

inline std::string describe(const VARIANT& v) {
    const VARTYPE type = V_VT(&v);
    std::string out = "vt " + std::to_string(type) + " ";
    if (type & (VT_BYREF | VT_ARRAY)) return out + (V_BYREF(&v) ? "(reference)" : "(null)");
    switch (type) {
    case VT_BSTR:
        return out + quoted(V_BSTR(&v));
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_RECORD:
        return out + (V_UNKNOWN(&v) ? "(object)" : "(null)");
    case VT_DECIMAL:
        return out + hex_of(&V_DECIMAL(&v), sizeof(DECIMAL));
    default:
        return out + hex_of(&V_I8(&v), sizeof(LONGLONG));
    }
}

inline std::string describe_call(HRESULT hr, const VARIANT* result, const EXCEPINFO* exception, const UINT* arg_error) {
    char code[16];
    std::snprintf(code, sizeof(code), "%08lx", static_cast<unsigned long>(hr));
    std::string out = std::string("hr ") + code;
    if (result) out += "; result " + describe(*result);
    if (exception) {
        std::snprintf(code, sizeof(code), "%08lx", static_cast<unsigned long>(exception->scode));
        for (const std::string& part : {std::string("; exception ") + code, std::to_string(exception->wCode),
                                        quoted(exception->bstrDescription), quoted(exception->bstrSource),
                                        quoted(exception->bstrHelpFile), std::to_string(exception->dwHelpContext)}) {
            out += part;
            out += ' ';
        }
    }
    if (arg_error) out += "; puArgErr " + std::to_string(*arg_error);
    return out;
}

} // namespace zvtest
