// Early-bound C++: the control's methods called straight through its table of functions, declared by
// the header the build generates (build/<preset>/generated/ZorvaneLib.h).
//
//   x86_64-w64-mingw32-g++ -municode -static early_bound.cpp -I build/x86_64/generated -lole32 -loleaut32 -luuid
//   (-static: the program then needs none of the compiler's DLLs beside it)
//   cl /EHsc early_bound.cpp /I build\generated ole32.lib oleaut32.lib
#include <windows.h>

#include "ZorvaneLib.h"

#include <cstdio>
#include <string>

namespace {

// A BSTR the caller owns.
struct text {
    BSTR value = nullptr;
    ~text() { SysFreeString(value); }
    std::string utf8() const {
        if (!value) return {};
        const int length = static_cast<int>(SysStringLen(value));
        const int size = WideCharToMultiByte(CP_UTF8, 0, value, length, nullptr, 0, nullptr, nullptr);
        std::string out(static_cast<size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, value, length, out.data(), size, nullptr, nullptr);
        return out;
    }
};

int failures = 0;

void print(const char* what, HRESULT hr, const text& result) {
    if (FAILED(hr)) ++failures;
    if (SUCCEEDED(hr)) {
        std::printf("%-24s %s\n", what, result.utf8().c_str());
    } else {
        std::printf("%-24s failed with 0x%08lX\n", what, static_cast<unsigned long>(hr));
    }
}

} // namespace

int wmain() {
    if (FAILED(CoInitialize(nullptr))) return 1;
    _Zorvane* z = nullptr;
    HRESULT hr = CoCreateInstance(__uuidof(Zorvane), nullptr, CLSCTX_INPROC_SERVER, __uuidof(_Zorvane),
                                  reinterpret_cast<void**>(&z));
    if (FAILED(hr)) {
        std::printf("ZorvaneLib.Zorvane is not registered (0x%08lX)\n", static_cast<unsigned long>(hr));
        CoUninitialize();
        return 1;
    }
    {
        text major, minor, build, memory, width, height, folder;
        print("Windows major version", z->WindowsMajorVersion(&major.value), major);
        print("Windows minor version", z->WindowsMinorVersion(&minor.value), minor);
        print("Windows build", z->WindowsBuildNumber(&build.value), build);
        print("Installed memory (KB)", z->GetTotalMemory(&memory.value), memory);
        print("Screen width", z->ResolutionScreenX(&width.value), width);
        print("Screen height", z->ResolutionScreenY(&height.value), height);
        print("Temporary folder", z->GetTempDir(&folder.value), folder);

        // A parameter passed by reference: the root of the drive to ask about.
        text root, serial;
        root.value = SysAllocString(L"C:\\");
        print("Serial number of C:", z->GetDriveSerialNo(&root.value, &serial.value), serial);

        // A reserved entry of the table answers E_NOTIMPL; anything else means the header and the
        // control are out of step, and every call above went to the wrong entry.
        const HRESULT reserved = z->Reserved7();
        std::printf("%-24s 0x%08lX\n", "Reserved entry 7", static_cast<unsigned long>(reserved));
        if (reserved != E_NOTIMPL) ++failures;
    }
    z->Release();
    CoUninitialize();
    return failures ? 1 : 0;
}
