// A host with no registration at all: its manifest depends on the ZorvaneLib.sxs assembly beside it.
// It creates the control by class and by ProgID and calls it late-bound, as a script host would.
#include "support/dispatch_call.h"
#include "support/published.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>

namespace {

int check(const char* what, HRESULT hr) {
    std::printf("%s: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return FAILED(hr) ? 1 : 0;
}


// Creates the control from `clsid` and calls one method late-bound; 0 when all of it worked.
int create_and_call(const char* how, const CLSID& clsid) {
    IDispatch* control = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&control));
    std::printf("%s: ", how);
    int failures = check("CoCreateInstance", hr);
    if (!control) return failures;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"WindowsMajorVersion")};
    failures += check("  GetIDsOfNames", control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    zvtest::dispatch_call call(zvtest::hand_result);
    failures += check("  Invoke", call.invoke(control, id));
    if (V_VT(&call.result) == VT_BSTR) std::printf("  WindowsMajorVersion: %ls\n", V_BSTR(&call.result));
    control->Release();
    return failures;
}

} // namespace

int wmain() {
    int failures = check("CoInitialize", CoInitialize(nullptr));
    failures += create_and_call("by class", zvtest::clsid_zorvane);

    // As CreateObject with the ProgID does. The class the ProgID names may be an alias that the
    // activation context maps to the control's class (Wine hands out such aliases).
    CLSID by_name{};
    const HRESULT hr = CLSIDFromProgID(zvtest::prog_id, &by_name);
    failures += check("CLSIDFromProgID", hr);
    if (SUCCEEDED(hr)) failures += create_and_call("by ProgID", by_name);

    CoUninitialize();
    std::printf(failures ? "FAILED\n" : "created without registration\n");
    return failures ? 1 : 0;
}
