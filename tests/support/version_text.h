// The version texts callers read from the OCX, in the forms they have always had, made here from the numbers
// of the project's version (zorvane_version.h) rather than taken from that header's own texts.
#pragma once

#include <string>

#include "zorvane_version.h"

namespace zvtest {

// The version resource's FileVersion and ProductVersion: major.minor, the minor in two digits ("1.05").
inline std::wstring short_version_text() {
    const std::wstring minor = std::to_wstring(ZV_VERSION_MINOR);
    return std::to_wstring(ZV_VERSION_MAJOR) + (minor.size() < 2 ? L".0" : L".") + minor;
}

// The description of the version resource and of the type library: the product's name with major.minor.
inline std::wstring product_title() {
    return L"Quelm Zorvane ActiveX " + std::to_wstring(ZV_VERSION_MAJOR) + L"." + std::to_wstring(ZV_VERSION_MINOR);
}

} // namespace zvtest
