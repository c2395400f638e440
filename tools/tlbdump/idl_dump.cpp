// tools/tlbdump/idl_dump.cpp: printing a type library as definition text
//
// The library block lists every type in index order, interfaces as forward
// references; the compiler's ordering rule (a coclass, then its interfaces and the
// interfaces they use) then reproduces the original order. Doubles are printed in
// their shortest exact form, so defaults survive the round trip bit for bit.

#include "idl_dump.h"

#include "orvik/platform/ref.h"
#include "orvik/platform/utf.h"

#include <charconv>
#include <cstdio>
#include <vector>

namespace orvik {

namespace {

struct DumpFailure {
    HRESULT hr;
};

void check(HRESULT hr) {
    if (FAILED(hr))
        throw DumpFailure{hr};
}

std::string narrow(const OLECHAR* s) {
    return utf8Or(s);
}

// Takes ownership of a BSTR and returns its text.
std::string take(BSTR s) {
    std::string out = narrow(s);
    SysFreeString(s);
    return out;
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c == '\t') {
            out += "\\t";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string guidText(const GUID& g) {
    OLECHAR buf[CHARS_IN_GUID];
    StringFromGUID2(g, buf, CHARS_IN_GUID);
    std::string t = narrow(buf);
    return t.substr(1, t.size() - 2);
}

std::string doubleText(double d) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".en") == std::string::npos)
        s += ".0";
    return s;
}

// A default value as definition text: reals keep every bit, strings are quoted.
std::string defaultText(const VARIANT& v) {
    switch (v.vt) {
    case VT_R8:
        return doubleText(v.dblVal);
    case VT_R4:
        return doubleText(v.fltVal);
    case VT_BSTR:
        return quoted(narrow(v.bstrVal ? v.bstrVal : u""));
    case VT_UI1:
        return std::to_string(v.bVal);
    case VT_I1:
        return std::to_string(int(v.cVal));
    case VT_I2:
    case VT_BOOL:
        return std::to_string(v.iVal);
    case VT_UI2:
        return std::to_string(v.uiVal);
    case VT_UI4:
    case VT_UINT:
        return std::to_string(v.ulVal);
    case VT_I8:
    case VT_CY:
    case VT_DATE:
        return std::to_string(v.llVal);
    case VT_UI8:
        return std::to_string(v.ullVal);
    default:
        return std::to_string(v.lVal);
    }
}

class Dumper {
public:
    explicit Dumper(ITypeLib* lib) : m_lib(lib) {}

    std::string dump() {
        std::string out = "// Interface definition text of a type library, by orvik-tlbdump.\n\n";
        out += "import \"oaidl.idl\";\nimport \"ocidl.idl\";\n\n";
        UINT count = m_lib->GetTypeInfoCount();
        std::vector<Ref<ITypeInfo>> infos(count);
        std::vector<TYPEATTR> attrs(count);
        for (UINT i = 0; i < count; ++i) {
            check(m_lib->GetTypeInfo(i, infos[i].put()));
            attrs[i] = attributes(infos[i].get());
        }
        // Interfaces with a table, whichever form the library stores them in.
        auto isTableInterface = [&](UINT i) {
            return attrs[i].typekind == TKIND_INTERFACE ||
                   (attrs[i].typekind == TKIND_DISPATCH && (attrs[i].wTypeFlags & TYPEFLAG_FDUAL));
        };
        for (UINT i = 0; i < count; ++i)
            if (isTableInterface(i))
                out += "interface " + name(infos[i].get()) + ";\n";
        out += "\n";
        for (UINT i = 0; i < count; ++i) {
            TYPEKIND k = attrs[i].typekind;
            if (k == TKIND_ENUM || k == TKIND_RECORD || k == TKIND_UNION || k == TKIND_ALIAS)
                out += typedefText(infos[i].get(), attrs[i]);
        }
        for (UINT i = 0; i < count; ++i)
            if (isTableInterface(i))
                out += interfaceText(infos[i].get());

        TLIBATTR* attr = nullptr;
        check(m_lib->GetLibAttr(&attr));
        TLIBATTR a = *attr;
        m_lib->ReleaseTLibAttr(attr);
        BSTR libNameText = nullptr, libDocText = nullptr, helpFileText = nullptr;
        DWORD helpContext = 0;
        check(m_lib->GetDocumentation(-1, &libNameText, &libDocText, &helpContext, &helpFileText));
        std::string libName = take(libNameText), doc = take(libDocText),
                    helpFile = take(helpFileText);
        char version[64];
        std::snprintf(version, sizeof version, "%u.%u", a.wMajorVerNum, a.wMinorVerNum);
        char lcid[16];
        std::snprintf(lcid, sizeof lcid, "0x%04X", unsigned(a.lcid));
        out += "[\n    uuid(" + guidText(a.guid) + "),\n    version(" + version + "),\n    lcid(" +
               lcid + ")";
        if (!doc.empty())
            out += ",\n    helpstring(" + quoted(doc) + ")";
        if (!helpFile.empty())
            out += ",\n    helpfile(" + quoted(helpFile) + ")";
        if (helpContext)
            out += ",\n    helpcontext(" + hexText(helpContext) + ")";
        out += "\n]\nlibrary " + libName + "\n{\n    importlib(\"stdole2.tlb\");\n";
        for (UINT i = 0; i < count; ++i) {
            switch (attrs[i].typekind) {
            case TKIND_COCLASS:
                out += coclassText(infos[i].get());
                break;
            case TKIND_DISPATCH:
                out += isTableInterface(i) ? "\n    interface " + name(infos[i].get()) + ";\n"
                                           : dispinterfaceText(infos[i].get(), attrs[i]);
                break;
            case TKIND_MODULE:
                out += moduleText(infos[i].get(), attrs[i]);
                break;
            case TKIND_INTERFACE:
                out += "\n    interface " + name(infos[i].get()) + ";\n";
                break;
            default:
                break; // typedefs are printed before the library
            }
        }
        out += "};\n";
        return out;
    }

private:
    static TYPEATTR attributes(ITypeInfo* info) {
        TYPEATTR* attr = nullptr;
        check(info->GetTypeAttr(&attr));
        TYPEATTR a = *attr;
        info->ReleaseTypeAttr(attr);
        return a;
    }
    /// The type's name and documentation string.
    static std::pair<std::string, std::string> nameAndDoc(ITypeInfo* info) {
        BSTR name = nullptr, doc = nullptr;
        check(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr));
        std::string n = take(name);
        return {n, take(doc)};
    }
    static TYPEKIND kind(ITypeInfo* info) { return attributes(info).typekind; }
    static std::string name(ITypeInfo* info) { return nameAndDoc(info).first; }

    std::string typeText(ITypeInfo* info, const TYPEDESC& t) {
        switch (t.vt) {
        case VT_PTR:
            return typeText(info, *t.lptdesc) + "*";
        case VT_SAFEARRAY:
            return "SAFEARRAY(" + typeText(info, *t.lptdesc) + ")";
        case VT_USERDEFINED: {
            Ref<ITypeInfo> ref;
            check(info->GetRefTypeInfo(t.hreftype, ref.put()));
            return name(ref.get());
        }
        case VT_R8:
            return "double";
        case VT_R4:
            return "float";
        case VT_I4:
            return "long";
        case VT_INT:
            return "int";
        case VT_I2:
            return "short";
        case VT_UI1:
            return "BYTE";
        case VT_BOOL:
            return "VARIANT_BOOL";
        case VT_BSTR:
            return "BSTR";
        case VT_VARIANT:
            return "VARIANT";
        case VT_UNKNOWN:
            return "IUnknown*";
        case VT_DISPATCH:
            return "IDispatch*";
        case VT_HRESULT:
            return "HRESULT";
        case VT_VOID:
            return "void";
        case VT_I1:
            return "char";
        case VT_UI2:
            return "unsigned short";
        case VT_UI4:
            return "unsigned long";
        case VT_UINT:
            return "unsigned int";
        case VT_I8:
            return "hyper";
        case VT_UI8:
            return "unsigned hyper";
        case VT_CY:
            return "CURRENCY";
        case VT_DATE:
            return "DATE";
        case VT_ERROR:
            return "SCODE";
        case VT_DECIMAL:
            return "DECIMAL";
        case VT_LPSTR:
            return "LPSTR";
        case VT_LPWSTR:
            return "LPWSTR";
        case VT_CARRAY: // the element; declarator() adds the dimensions
            return typeText(info, t.lpadesc->tdescElem);
        default: // printed anyway, with a note of what it is
            return "void /* VARTYPE " + std::to_string(t.vt) + " */";
        }
    }

    // type name, with the dimensions of a fixed array after the name.
    std::string declarator(ITypeInfo* info, const TYPEDESC& t, const std::string& name) {
        std::string out = typeText(info, t) + " " + name;
        if (t.vt == VT_CARRAY)
            for (USHORT d = 0; d < t.lpadesc->cDims; ++d) {
                const SAFEARRAYBOUND& b = t.lpadesc->rgbounds[d];
                out += '[';
                out += std::to_string(b.cElements);
                out += ']';
            }
        return out;
    }

    static std::string hexText(DWORD v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08X", unsigned(v));
        return buf;
    }

    static std::string joinAttributes(const std::vector<std::string>& attrs) {
        std::string joined;
        for (const std::string& s : attrs)
            joined += (joined.empty() ? "" : ", ") + s;
        return joined.empty() ? "" : "[" + joined + "] ";
    }

    // One variable as a declaration: a field, an enumeration's or module's constant,
    // or a dispatch property.
    std::string variableText(ITypeInfo* info, UINT index, const char* indent, bool enumerator) {
        VARDESC* v = nullptr;
        check(info->GetVarDesc(index, &v));
        std::string out;
        try {
            BSTR nameText = nullptr, docText = nullptr;
            check(info->GetDocumentation(v->memid, &nameText, &docText, nullptr, nullptr));
            std::string varName = take(nameText), doc = take(docText);
            std::vector<std::string> attrs;
            if (v->varkind == VAR_DISPATCH)
                attrs.push_back("id(" + std::to_string(v->memid) + ")");
            if (v->wVarFlags & VARFLAG_FREADONLY)
                attrs.push_back("readonly");
            if (!doc.empty())
                attrs.push_back("helpstring(" + quoted(doc) + ")");
            out = indent + joinAttributes(attrs);
            if (v->varkind == VAR_CONST && v->lpvarValue)
                out += (enumerator ? "" : "const " + typeText(info, v->elemdescVar.tdesc) + " ") +
                       varName + " = " + defaultText(*v->lpvarValue);
            else
                out += declarator(info, v->elemdescVar.tdesc, varName);
        } catch (...) {
            info->ReleaseVarDesc(v);
            throw;
        }
        info->ReleaseVarDesc(v);
        return out;
    }

    std::string typedefText(ITypeInfo* info, const TYPEATTR& a) {
        auto [typeName, doc] = nameAndDoc(info);
        std::vector<std::string> attrs;
        if (!IsEqualGUID(a.guid, GUID{}))
            attrs.push_back("uuid(" + guidText(a.guid) + ")");
        if (!doc.empty())
            attrs.push_back("helpstring(" + quoted(doc) + ")");
        std::string out = "typedef " + joinAttributes(attrs);
        if (a.typekind == TKIND_ALIAS) {
            // What the alias names may be described inside the attributes' own
            // storage (a pointer's target): read it while the attributes are held.
            TYPEATTR* held = nullptr;
            check(info->GetTypeAttr(&held));
            struct Held {
                ITypeInfo* info;
                TYPEATTR* attr;
                ~Held() { info->ReleaseTypeAttr(attr); }
            } release{info, held};
            return out + declarator(info, held->tdescAlias, typeName) + ";\n\n";
        }
        const char* keyword = a.typekind == TKIND_ENUM    ? "enum"
                              : a.typekind == TKIND_UNION ? "union"
                                                          : "struct";
        out += std::string(keyword) + " {\n";
        for (UINT i = 0; i < a.cVars; ++i)
            out += variableText(info, i, "    ", a.typekind == TKIND_ENUM) +
                   (a.typekind != TKIND_ENUM ? ";\n"
                    : i + 1 < a.cVars        ? ",\n"
                                             : "\n");
        return out + "} " + typeName + ";\n\n";
    }

    std::string dispinterfaceText(ITypeInfo* info, const TYPEATTR& a) {
        auto [itfName, doc] = nameAndDoc(info);
        std::string out =
            "\n    // orvik-idlc compiles no dispatch interfaces: printed for reading.\n"
            "    [\n        uuid(" +
            guidText(a.guid) + ")";
        if (!doc.empty())
            out += ",\n        helpstring(" + quoted(doc) + ")";
        out += "\n    ]\n    dispinterface " + itfName + "\n    {\n    properties:\n";
        for (UINT i = 0; i < a.cVars; ++i)
            out += variableText(info, i, "        ", false) + ";\n";
        out += "    methods:\n";
        for (UINT i = 0; i < a.cFuncs; ++i)
            out += indented(functionText(info, i));
        return out + "    };\n";
    }

    std::string moduleText(ITypeInfo* info, const TYPEATTR& a) {
        auto [moduleName, doc] = nameAndDoc(info);
        std::string dll;
        if (a.cFuncs > 0) {
            FUNCDESC* f = nullptr;
            check(info->GetFuncDesc(0, &f));
            BSTR dllText = nullptr;
            HRESULT hr = info->GetDllEntry(f->memid, f->invkind, &dllText, nullptr, nullptr);
            info->ReleaseFuncDesc(f);
            if (SUCCEEDED(hr))
                dll = take(dllText);
        }
        std::string out = "\n    // orvik-idlc compiles no modules: printed for reading.\n"
                          "    [\n        dllname(" +
                          quoted(dll) + ")";
        if (!doc.empty())
            out += ",\n        helpstring(" + quoted(doc) + ")";
        out += "\n    ]\n    module " + moduleName + "\n    {\n";
        for (UINT i = 0; i < a.cVars; ++i)
            out += variableText(info, i, "        ", false) + ";\n";
        for (UINT i = 0; i < a.cFuncs; ++i)
            out += indented(functionText(info, i));
        return out + "    };\n";
    }

    // Text one level deeper, as members inside the library block stand.
    static std::string indented(const std::string& text) {
        std::string out;
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end + 1;
            out += "    " + text.substr(start, end - start);
            start = end;
        }
        return out;
    }

    std::string interfaceText(ITypeInfo* info) {
        TYPEATTR a = attributes(info);
        auto [itfName, doc] = nameAndDoc(info);
        std::string out = "[\n    object,\n    uuid(" + guidText(a.guid) + "),\n";
        if (a.wTypeFlags & TYPEFLAG_FDUAL)
            out += "    dual,\n";
        else if (a.wTypeFlags & TYPEFLAG_FOLEAUTOMATION)
            out += "    oleautomation,\n";
        if (!doc.empty())
            out += "    helpstring(" + quoted(doc) + "),\n";
        out += "    pointer_default(unique)\n]\n";
        std::string base = "IUnknown";
        if (a.cImplTypes > 0) {
            HREFTYPE href = 0;
            Ref<ITypeInfo> baseInfo;
            check(info->GetRefTypeOfImplType(0, &href));
            check(info->GetRefTypeInfo(href, baseInfo.put()));
            base = name(baseInfo.get());
        }
        out += "interface " + itfName + " : " + base + "\n{\n";
        for (UINT i = 0; i < a.cFuncs; ++i)
            out += functionText(info, i);
        return out + "};\n\n";
    }

    std::string functionText(ITypeInfo* info, UINT index) {
        FUNCDESC* f = nullptr;
        check(info->GetFuncDesc(index, &f));
        std::vector<BSTR> names(size_t(f->cParams) + 1, nullptr);
        UINT got = 0;
        HRESULT hr = info->GetNames(f->memid, names.data(), UINT(names.size()), &got);
        BSTR fnName = nullptr, fnDoc = nullptr;
        if (SUCCEEDED(hr))
            hr = info->GetDocumentation(f->memid, &fnName, &fnDoc, nullptr, nullptr);
        std::string out;
        try {
            check(hr);
            out = "    [";
            if (f->invkind == INVOKE_PROPERTYGET)
                out += "propget, ";
            else if (f->invkind == INVOKE_PROPERTYPUT)
                out += "propput, ";
            else if (f->invkind == INVOKE_PROPERTYPUTREF)
                out += "propputref, ";
            out += "id(" + std::to_string(f->memid) + ")";
            std::string doc = take(fnDoc);
            fnDoc = nullptr;
            // A property's get and put share their id; the function's own help string
            // comes from its custom data where the library offers it.
            Ref<ITypeInfo2> info2;
            VARIANT own;
            VariantInit(&own);
            if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, info2.putVoid())) &&
                SUCCEEDED(info2->GetFuncCustData(index, ORVIK_CUSTDATA_FUNC_HELPSTRING, &own)) &&
                own.vt == VT_BSTR)
                doc = narrow(own.bstrVal);
            VariantClear(&own);
            if (!doc.empty())
                out += ", helpstring(" + quoted(doc) + ")";
            // GetDocumentation names the first function of a memid; the record's own
            // name comes from GetNames.
            out += "]\n    " + typeText(info, f->elemdescFunc.tdesc) + " " + narrow(names[0]) + "(";
            UINT nameIndex = 1;
            for (SHORT p = 0; p < f->cParams; ++p) {
                const ELEMDESC& e = f->lprgelemdescParam[p];
                USHORT pf = e.paramdesc.wParamFlags;
                std::vector<std::string> attrs;
                if (pf & PARAMFLAG_FIN)
                    attrs.push_back("in");
                if (pf & PARAMFLAG_FOUT)
                    attrs.push_back("out");
                if (pf & PARAMFLAG_FRETVAL)
                    attrs.push_back("retval");
                if (pf & PARAMFLAG_FOPT)
                    attrs.push_back("optional");
                if ((pf & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
                    attrs.push_back("defaultvalue(" +
                                    defaultText(e.paramdesc.pparamdescex->varDefaultValue) + ")");
                }
                std::string joined;
                for (const std::string& s : attrs)
                    joined += (joined.empty() ? "" : ", ") + s;
                bool named = nameIndex < got &&
                             !(f->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF) &&
                               p == f->cParams - 1);
                out += (p ? ", " : "") + std::string("[") + joined + "] " +
                       (named ? declarator(info, e.tdesc, narrow(names[nameIndex++]))
                              : typeText(info, e.tdesc));
            }
            out += ");\n";
        } catch (...) {
            for (BSTR b : names)
                SysFreeString(b);
            SysFreeString(fnName);
            SysFreeString(fnDoc);
            info->ReleaseFuncDesc(f);
            throw;
        }
        for (BSTR b : names)
            SysFreeString(b);
        SysFreeString(fnName);
        info->ReleaseFuncDesc(f);
        return out;
    }

    std::string coclassText(ITypeInfo* info) {
        TYPEATTR a = attributes(info);
        auto [clsName, doc] = nameAndDoc(info);
        std::string out = "\n    [\n        uuid(" + guidText(a.guid) + ")";
        if (!doc.empty())
            out += ",\n        helpstring(" + quoted(doc) + ")";
        out += "\n    ]\n    coclass " + clsName + "\n    {\n";
        for (UINT i = 0; i < a.cImplTypes; ++i) {
            HREFTYPE href = 0;
            INT flags = 0;
            Ref<ITypeInfo> itf;
            check(info->GetRefTypeOfImplType(i, &href));
            check(info->GetImplTypeFlags(i, &flags));
            check(info->GetRefTypeInfo(href, itf.put()));
            std::string prefix;
            if (flags & IMPLTYPEFLAG_FDEFAULT)
                prefix += "default";
            if (flags & IMPLTYPEFLAG_FSOURCE)
                prefix += std::string(prefix.empty() ? "" : ", ") + "source";
            out += "        " + (prefix.empty() ? "" : "[" + prefix + "] ") + "interface " +
                   name(itf.get()) + ";\n";
        }
        return out + "    };\n";
    }

    ITypeLib* m_lib;
};

} // namespace

HRESULT dumpTypeLibrary(ITypeLib* lib, std::string& text) {
    if (!lib)
        return E_POINTER;
    try {
        text = Dumper(lib).dump();
        return S_OK;
    } catch (const DumpFailure& f) {
        return f.hr;
    }
}

} // namespace orvik
