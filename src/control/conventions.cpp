// The report, skip and raise conventions, and the error information that goes with them.
#include "control/conventions.h"

#include "library/raii.h"
#include "library/text.h"
#include "library/type_library.h"

#include <oleauto.h>

#include "zorvane_idl.h"
#include "zorvane_names.h"

namespace zorvane {

HRESULT raise_error(const failure& f) noexcept { return raise_error(f, IID__Zorvane); }

HRESULT raise_error(const failure& f, REFGUID iid) noexcept {
    com_ptr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.put()))) {
        create->SetGUID(iid);
        create->SetSource(const_cast<wchar_t*>(names::prog_id));
        create->SetDescription(const_cast<wchar_t*>(f.description.c_str()));
        com_ptr<IErrorInfo> info;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) SetErrorInfo(0, info.get());
    }
    return f.hresult;
}

void report_error(const failure& f) noexcept {
    try {
        const std::wstring text = decimal(f.number) + f.description;
        MessageBoxW(GetActiveWindow(), text.c_str(), L"Ошибка", MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBoxW(GetActiveWindow(), L"7", L"Ошибка", MB_OK | MB_ICONERROR);
    }
}

HRESULT conclude(convention c, std::exception_ptr thrown) noexcept {
    const failure f = describe(thrown);
    switch (c) {
    case convention::report:
        report_error(f);
        return S_OK;
    case convention::skip:
        return S_OK;
    case convention::raise:
        break;
    }
    return raise_error(f);
}

} // namespace zorvane
