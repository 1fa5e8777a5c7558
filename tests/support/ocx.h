// The built ZorvaneLib.ocx as tests load it: beside the test program, through its exports.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace zvtest {

std::wstring ocx_path();   // ZorvaneLib.ocx in the test program's folder

// The OCX whose file the file-level tests read (type library, image): the one beside the test program, or
// the build of the other architecture named by ZV_OTHER_OCX (a path), whose bitness ZV_OTHER_OCX_BITS gives.
std::wstring inspected_ocx_path();
unsigned inspected_ocx_bits();
HMODULE ocx();            // loaded once for the whole test program

HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out);
HRESULT can_unload_now();
HRESULT register_server();
HRESULT unregister_server();

// A new control through the class factory, as its IUnknown.
IUnknown* new_control();

// The description IErrorInfo holds for the calling thread ("" when none), taken off the thread.
std::wstring take_error_description();

} // namespace zvtest
