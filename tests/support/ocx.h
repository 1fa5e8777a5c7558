// The built ZorvaneLib.ocx as tests load it: beside the test program, through its exports.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace zvtest {

std::wstring ocx_path();   // ZorvaneLib.ocx in the test program's folder
HMODULE ocx();            // loaded once for the whole test program

HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out);
HRESULT can_unload_now();
HRESULT register_server();
HRESULT unregister_server();

// A new control through the class factory, as its IUnknown.
IUnknown* new_control();

// The description IErrorInfo holds for the calling thread ("" when none), taken off the thread.
std::wstring take_error_description();

// Owner of a BSTR a method returned.
struct bstr_result {
    BSTR value = nullptr;
    ~bstr_result() { SysFreeString(value); }
    std::wstring text() const { return value ? std::wstring(value, SysStringLen(value)) : L"(null)"; }
};

} // namespace zvtest
