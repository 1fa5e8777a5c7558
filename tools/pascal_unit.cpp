// pascal_unit <library.tlb> <out.pas>: the early-bound Pascal unit of a type library, for Free Pascal and Delphi.
//
// Each interface's methods are declared where FUNCDESC.oVft puts them: entries the type library leaves unused are
// declared as placeholders (ReservedN), so that a method called through the unit lands on its own entry whatever
// the layout. Dual interfaces also get their dispinterface (for late binding with names checked by the compiler),
// and each creatable class a Co<Class>.Create.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof(code), "%08lX", static_cast<unsigned long>(hr));
        throw error(std::string(what) + " failed with 0x" + code);
    }
}

struct com_release {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <class T>
using com_ptr = std::unique_ptr<T, com_release>;

std::string narrow(const wchar_t* text, int length = -1) {
    if (!text) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    if (length == -1 && !out.empty()) out.pop_back();
    return out;
}

std::string text_of(BSTR b) {
    std::string out = narrow(b, static_cast<int>(SysStringLen(b)));
    SysFreeString(b);
    return out;
}

std::string guid_text(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return narrow(text);
}

// A DISPID as Pascal reads it: the reserved negative ones in decimal, the others in hex.
std::string dispid_text(MEMBERID id) {
    if (id < 0) return std::to_string(id);
    char text[16];
    std::snprintf(text, sizeof(text), "$%08lX", static_cast<unsigned long>(id));
    return text;
}

// Words Pascal reserves; a name that is one is written with Free Pascal's and Delphi's escape, `&`.
std::string identifier(const std::string& name) {
    static const char* const reserved[] = {
        "and", "array", "as", "asm", "begin", "case", "class", "const", "constructor", "destructor", "dispinterface",
        "div", "do", "downto", "else", "end", "except", "exports", "file", "finalization", "finally", "for",
        "function", "goto", "if", "implementation", "in", "inherited", "initialization", "inline", "interface", "is",
        "label", "library", "mod", "nil", "not", "object", "of", "on", "operator", "or", "out", "packed",
        "procedure", "program", "property", "raise", "record", "repeat", "resourcestring", "set", "shl", "shr",
        "string", "then", "threadvar", "to", "try", "type", "unit", "until", "uses", "var", "while", "with", "xor",
        "result", "self"};
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* word : reserved)
        if (lower == word) return "&" + name;
    return name;
}

class type_attr {
public:
    explicit type_attr(ITypeInfo* info) : info_(info) { check(info->GetTypeAttr(&attr_), "GetTypeAttr"); }
    type_attr(const type_attr&) = delete;
    type_attr& operator=(const type_attr&) = delete;
    ~type_attr() { info_->ReleaseTypeAttr(attr_); }
    const TYPEATTR* operator->() const { return attr_; }

private:
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
};

class func_desc {
public:
    func_desc(ITypeInfo* info, UINT index) : info_(info) { check(info->GetFuncDesc(index, &desc_), "GetFuncDesc"); }
    func_desc(const func_desc&) = delete;
    func_desc& operator=(const func_desc&) = delete;
    ~func_desc() { info_->ReleaseFuncDesc(desc_); }
    const FUNCDESC* operator->() const { return desc_; }

private:
    ITypeInfo* info_;
    FUNCDESC* desc_ = nullptr;
};

std::string name_of(ITypeInfo* info) {
    BSTR name = nullptr;
    check(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), "GetDocumentation");
    return text_of(name);
}

// The names of a member and its parameters, and its help string.
struct member_names {
    std::string name, help;
    std::vector<std::string> parameters;
};

member_names names_of(ITypeInfo* info, const FUNCDESC& f) {
    member_names out;
    std::vector<BSTR> names(static_cast<size_t>(f.cParams) + 1, nullptr);
    UINT count = 0;
    check(info->GetNames(f.memid, names.data(), static_cast<UINT>(names.size()), &count), "GetNames");
    for (UINT i = 0; i < count; ++i) {
        std::string text = text_of(names[i]);
        if (i == 0)
            out.name = std::move(text);
        else
            out.parameters.push_back(std::move(text));
    }
    while (out.parameters.size() < static_cast<size_t>(f.cParams))
        out.parameters.push_back("Param" + std::to_string(out.parameters.size() + 1));
    BSTR help = nullptr;
    if (SUCCEEDED(info->GetDocumentation(f.memid, nullptr, &help, nullptr, nullptr))) out.help = text_of(help);
    return out;
}

// The Pascal type of what a TYPEDESC describes (a pointer's target when `pointee`).
std::string pascal_type(ITypeInfo* info, const TYPEDESC& type) {
    switch (type.vt) {
    case VT_BSTR: return "WideString";
    case VT_I4: case VT_INT: return "Integer";
    case VT_UI4: case VT_UINT: return "LongWord";
    case VT_I2: return "Smallint";
    case VT_UI2: return "Word";
    case VT_I1: return "Shortint";
    case VT_UI1: return "Byte";
    case VT_BOOL: return "WordBool";
    case VT_R4: return "Single";
    case VT_R8: return "Double";
    case VT_CY: return "Currency";
    case VT_DATE: return "TDateTime";
    case VT_VARIANT: return "OleVariant";
    case VT_HRESULT: return "HResult";
    case VT_DISPATCH: return "IDispatch";
    case VT_UNKNOWN: return "IUnknown";
    case VT_PTR:
        if (type.lptdesc->vt == VT_USERDEFINED) return pascal_type(info, *type.lptdesc);
        break;
    case VT_USERDEFINED: {
        // An interface: dispatchable ones (stdole's Picture among them) as IDispatch, the others as IUnknown.
        ITypeInfo* raw = nullptr;
        check(info->GetRefTypeInfo(type.hreftype, &raw), "GetRefTypeInfo");
        com_ptr<ITypeInfo> target(raw);
        for (int depth = 0; depth < 8; ++depth) {
            const type_attr attr(target.get());
            if (attr->typekind == TKIND_ALIAS && attr->tdescAlias.vt == VT_USERDEFINED) {
                check(target->GetRefTypeInfo(attr->tdescAlias.hreftype, &raw), "GetRefTypeInfo");
                target.reset(raw);
                continue;
            }
            if (attr->typekind == TKIND_DISPATCH || (attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE)) return "IDispatch";
            if (attr->typekind == TKIND_INTERFACE) return "IUnknown";
            break;
        }
        break;
    }
    default:
        break;
    }
    throw error("no Pascal type for VARTYPE " + std::to_string(type.vt));
}

// One parameter of a table-of-functions method: by value, by reference (`var`, `out` for results) or with the
// default an omitted optional argument has.
std::string vtable_parameter(ITypeInfo* info, const ELEMDESC& e, const std::string& name, bool last) {
    const USHORT flags = e.paramdesc.wParamFlags;
    if (e.tdesc.vt == VT_PTR && !(e.tdesc.lptdesc->vt == VT_USERDEFINED)) {
        const std::string target = pascal_type(info, *e.tdesc.lptdesc);
        if (flags & PARAMFLAG_FRETVAL) return "out " + identifier(name) + ": " + target;
        if ((flags & PARAMFLAG_FOUT) && !(flags & PARAMFLAG_FIN)) return "out " + identifier(name) + ": " + target;
        return "var " + identifier(name) + ": " + target;
    }
    if (e.tdesc.vt == VT_PTR) {  // a pointer to an interface pointer
        const std::string target = pascal_type(info, *e.tdesc.lptdesc);
        return (flags & PARAMFLAG_FIN ? "var " : "out ") + identifier(name) + ": " + target;
    }
    std::string out = "const " + identifier(name) + ": " + pascal_type(info, e.tdesc);
    if (flags & PARAMFLAG_FOPT) {
        if (last && e.tdesc.vt == VT_BSTR)
            out += " = ''";  // an omitted text reads as the empty one
        else
            out += " {optional}";
    }
    return out;
}

// The same parameter in a dispinterface, where results are the function's own.
std::string dispatch_parameter(ITypeInfo* info, const ELEMDESC& e, const std::string& name) {
    const USHORT flags = e.paramdesc.wParamFlags;
    std::string type;
    std::string how = "const ";
    if (e.tdesc.vt == VT_PTR && e.tdesc.lptdesc->vt != VT_USERDEFINED) {
        type = pascal_type(info, *e.tdesc.lptdesc);
        how = "var ";
    } else {
        type = pascal_type(info, e.tdesc);
    }
    std::string out = how + identifier(name) + ": " + type;
    if ((flags & PARAMFLAG_FOPT) && how == "const ") out += " {optional}";
    return out;
}

std::string help_comment(const std::string& help, const char* indent) {
    return help.empty() ? std::string() : std::string(indent) + "// " + help + "\n";
}

struct interface_text {
    std::string forward, declaration;
};

// A dual or plain interface as laid out in the table of functions, with placeholders for the unused entries.
std::string vtable_interface(ITypeInfo* info, const std::string& name, const GUID& iid, UINT pointer_size) {
    const type_attr attr(info);
    struct entry {
        UINT slot;
        std::string text;
    };
    std::vector<entry> entries;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        const func_desc f(info, i);
        const member_names names = names_of(info, *f.operator->());
        std::string params;
        for (SHORT p = 0; p < f->cParams; ++p) {
            if (p) params += "; ";
            const bool retval = f->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL;
            // Pascal gives defaults only to the last parameters: an optional one before the result has none.
            params += vtable_parameter(info, f->lprgelemdescParam[p], retval ? "RetVal" : names.parameters[p],
                                       p == f->cParams - 1);
        }
        std::string method = names.name;
        if (f->invkind & INVOKE_PROPERTYGET) method = "Get_" + method;
        if (f->invkind & INVOKE_PROPERTYPUT) method = "Set_" + method;
        if (f->invkind & INVOKE_PROPERTYPUTREF) method = "SetRef_" + method;
        std::string text = help_comment(names.help, "    ");
        text += "    function " + identifier(method) + (params.empty() ? "" : "(" + params + ")") + ": " +
                pascal_type(info, f->elemdescFunc.tdesc) + "; stdcall;\n";
        entries.push_back({static_cast<UINT>(static_cast<USHORT>(f->oVft)) / pointer_size, text});
    }
    std::sort(entries.begin(), entries.end(), [](const entry& a, const entry& b) { return a.slot < b.slot; });

    // The first entries are IDispatch's (a dual interface) or IUnknown's.
    HREFTYPE base_type = 0;
    std::string base = "IUnknown";
    UINT next = 3;
    if (attr->cImplTypes && SUCCEEDED(info->GetRefTypeOfImplType(0, &base_type))) {
        ITypeInfo* raw = nullptr;
        check(info->GetRefTypeInfo(base_type, &raw), "GetRefTypeInfo of the base interface");
        com_ptr<ITypeInfo> base_info(raw);
        base = name_of(base_info.get());
        next = type_attr(base_info.get())->cbSizeVft / pointer_size;
    }
    std::string out = "  " + name + " = interface(" + base + ")\n    ['" + guid_text(iid) + "']\n";
    for (const entry& e : entries) {
        if (e.slot < next) throw error(name + ": two methods at entry " + std::to_string(e.slot));
        if (e.slot > next)
            out += "    // Entries " + std::to_string(next) + ".." + std::to_string(e.slot - 1) +
                   " are unused: each answers E_NOTIMPL.\n";
        for (; next < e.slot; ++next) out += "    function Reserved" + std::to_string(next) + ": HResult; stdcall;\n";
        out += e.text;
        next = e.slot + 1;
    }
    return out + "  end;\n\n";
}

// A dispinterface: methods and properties by DISPID, results as the functions' own.
std::string dispatch_interface(ITypeInfo* info, const std::string& name, const GUID& iid) {
    const type_attr attr(info);
    std::string out = "  " + name + " = dispinterface\n    ['" + guid_text(iid) + "']\n";
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        const func_desc f(info, i);
        if (f->wFuncFlags & FUNCFLAG_FRESTRICTED) continue;  // IUnknown's and IDispatch's own
        const member_names names = names_of(info, *f.operator->());
        std::string params, result;
        for (SHORT p = 0; p < f->cParams; ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            if (e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) {
                result = pascal_type(info, e.tdesc.vt == VT_PTR ? *e.tdesc.lptdesc : e.tdesc);
                continue;
            }
            if (!params.empty()) params += "; ";
            params += dispatch_parameter(info, e, names.parameters[p]);
        }
        if (result.empty() && f->elemdescFunc.tdesc.vt != VT_HRESULT && f->elemdescFunc.tdesc.vt != VT_VOID)
            result = pascal_type(info, f->elemdescFunc.tdesc);
        out += help_comment(names.help, "    ");
        if (f->invkind & INVOKE_PROPERTYGET) {
            out += "    property " + identifier(names.name) + ": " + result + " readonly dispid " +
                   dispid_text(f->memid) + ";\n";
            continue;
        }
        out += std::string("    ") + (result.empty() ? "procedure " : "function ") + identifier(names.name) +
               (params.empty() ? "" : "(" + params + ")") + (result.empty() ? "" : ": " + result) + "; dispid " +
               dispid_text(f->memid) + ";\n";
    }
    return out + "  end;\n\n";
}

int run(const wchar_t* library_path, const wchar_t* out_path) {
    ITypeLib* raw = nullptr;
    check(LoadTypeLibEx(library_path, REGKIND_NONE, &raw), "LoadTypeLibEx");
    com_ptr<ITypeLib> library(raw);
    TLIBATTR* lib_attr = nullptr;
    check(library->GetLibAttr(&lib_attr), "GetLibAttr");
    const GUID libid = lib_attr->guid;
    const WORD major = lib_attr->wMajorVerNum, minor = lib_attr->wMinorVerNum;
    const UINT pointer_size = lib_attr->syskind == SYS_WIN64 ? 8 : 4;
    library->ReleaseTLibAttr(lib_attr);
    BSTR lib_name = nullptr, lib_help = nullptr;
    check(library->GetDocumentation(-1, &lib_name, &lib_help, nullptr, nullptr), "GetDocumentation");
    const std::string name = text_of(lib_name), help = text_of(lib_help);

    std::string constants = "  LIBID_" + name + ": TGUID = '" + guid_text(libid) + "';\n";
    std::string forwards, types, classes, class_code;
    for (UINT i = 0, count = library->GetTypeInfoCount(); i < count; ++i) {
        ITypeInfo* info_raw = nullptr;
        check(library->GetTypeInfo(i, &info_raw), "GetTypeInfo");
        com_ptr<ITypeInfo> info(info_raw);
        const std::string type_name = name_of(info.get());
        const type_attr attr(info.get());
        switch (attr->typekind) {
        case TKIND_DISPATCH:
            if (attr->wTypeFlags & TYPEFLAG_FDUAL) {
                HREFTYPE twin = 0;
                check(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &twin), "GetRefTypeOfImplType(-1)");
                ITypeInfo* twin_raw = nullptr;
                check(info->GetRefTypeInfo(twin, &twin_raw), "GetRefTypeInfo of the dual's table view");
                com_ptr<ITypeInfo> vtable_view(twin_raw);
                constants += "  IID_" + type_name + ": TGUID = '" + guid_text(attr->guid) + "';\n";
                forwards += "  " + type_name + " = interface;\n  " + type_name + "Disp = dispinterface;\n";
                types += vtable_interface(vtable_view.get(), type_name, attr->guid, pointer_size);
                // The dispinterface is written from the table view's own functions, which are exactly the
                // dispatchable ones: the dispatch view of a dual interface begins with IUnknown's and IDispatch's.
                types += dispatch_interface(vtable_view.get(), type_name + "Disp", attr->guid);
            } else {
                constants += "  DIID_" + type_name + ": TGUID = '" + guid_text(attr->guid) + "';\n";
                forwards += "  " + type_name + " = dispinterface;\n";
                types += dispatch_interface(info.get(), type_name, attr->guid);
            }
            break;
        case TKIND_INTERFACE:
            constants += "  IID_" + type_name + ": TGUID = '" + guid_text(attr->guid) + "';\n";
            forwards += "  " + type_name + " = interface;\n";
            types += vtable_interface(info.get(), type_name, attr->guid, pointer_size);
            break;
        case TKIND_COCLASS: {
            constants += "  CLSID_" + type_name + ": TGUID = '" + guid_text(attr->guid) + "';\n";
            std::string default_interface = "IUnknown";
            for (UINT j = 0; j < attr->cImplTypes; ++j) {
                INT flags = 0;
                HREFTYPE ref = 0;
                if (FAILED(info->GetImplTypeFlags(j, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT) ||
                    (flags & IMPLTYPEFLAG_FSOURCE) || FAILED(info->GetRefTypeOfImplType(j, &ref)))
                    continue;
                ITypeInfo* impl_raw = nullptr;
                check(info->GetRefTypeInfo(ref, &impl_raw), "GetRefTypeInfo of an implemented interface");
                default_interface = name_of(com_ptr<ITypeInfo>(impl_raw).get());
            }
            // Only controls and creatable classes are made by CoCreateInstance; the others are handed out by the
            // library's methods.
            if (!(attr->wTypeFlags & (TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL))) break;
            classes += "  // " + type_name + ", made by CoCreateInstance; its default interface is " +
                       default_interface + ".\n  Co" + type_name + " = class\n    class function Create: " +
                       default_interface + ";\n  end;\n\n";
            class_code += "class function Co" + type_name + ".Create: " + default_interface + ";\nbegin\n" +
                          "  Result := CreateComObject(CLSID_" + type_name + ") as " + default_interface +
                          ";\nend;\n\n";
            break;
        }
        default:
            throw error("no Pascal declaration for type " + type_name);
        }
    }

    std::string unit = "// " + name + "_TLB: the early-bound declarations of " + name + " " + std::to_string(major) +
                       "." + std::to_string(minor) + " (" + help +
                       "),\n// generated from its type library by the build. Do not edit: build it again.\n"
                       "//\n// The methods sit where the control's table of functions has them: the entries it "
                       "leaves unused are\n// declared as ReservedN placeholders. Call methods through "
                       "the interfaces (each returns its HResult) or\n// the dispinterfaces (<Interface>Disp, "
                       "late-bound by DISPID; failures raise EOleException).\nunit " +
                       name + "_TLB;\n\n{$mode objfpc}{$H+}\n\ninterface\n\nuses\n  Windows, ActiveX, ComObj;\n\n"
                       "const\n" +
                       constants + "\ntype\n" + forwards + "\n" + types + classes + "implementation\n\n" +
                       class_code + "end.\n";

    HANDLE file = CreateFileW(out_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw error("cannot create " + narrow(out_path));
    DWORD written = 0;
    const BOOL ok = WriteFile(file, unit.data(), static_cast<DWORD>(unit.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != unit.size()) {
        DeleteFileW(out_path);
        throw error("cannot write " + narrow(out_path));
    }
    return 0;
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 3) {
        std::fputs("usage: pascal_unit <library.tlb> <out.pas>\n", stderr);
        return 2;
    }
    int status = 1;
    try {
        status = run(argv[1], argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pascal_unit: %s\n", e.what());
    }
    LocalFree(argv);
    return status;
}
