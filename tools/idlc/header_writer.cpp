// tools/idlc/header_writer.cpp: writing the interface header and the listing
//
// The header follows the conventions compiled clients of this kind of server expect:
// property accessors are named get_Name / put_Name / putref_Name, every parameter
// keeps its direction as pointer depth, and SAFEARRAY(T)* parameters become
// SAFEARRAY**. Identifiers are defined in the header itself so that a client
// needs no extra object file to link.

#include "header_writer.h"

#include "comment_text.h"

#include <cstdio>
#include <sstream>

namespace orvik::idl {

std::string typeName(const TypeRef& t, Spelling spelling) {
    const bool platform = spelling == Spelling::Platform;
    std::string base;
    switch (t.base) {
    case BaseType::Void:
        base = "void";
        break;
    case BaseType::HResult:
        base = platform ? "HRESULT" : "Result";
        break;
    case BaseType::Double:
        base = platform ? "DOUBLE" : "double";
        break;
    case BaseType::Float:
        base = platform ? "FLOAT" : "float";
        break;
    case BaseType::Long:
        base = platform ? "LONG" : "std::int32_t";
        break;
    case BaseType::Int:
        base = platform ? "INT" : "std::int32_t";
        break;
    case BaseType::Short:
        base = platform ? "SHORT" : "std::int16_t";
        break;
    case BaseType::Byte:
        base = platform ? "BYTE" : "std::uint8_t";
        break;
    case BaseType::VariantBool:
        base = platform ? "VARIANT_BOOL" : "std::int16_t";
        break;
    case BaseType::Bstr:
        base = platform ? "BSTR" : "char16_t*";
        break;
    case BaseType::Variant:
        base = platform ? "VARIANT" : "Variant";
        break;
    case BaseType::Unknown:
        base = "IUnknown";
        break;
    case BaseType::Dispatch:
        base = "IDispatch";
        break;
    case BaseType::Interface:
        base = t.interfaceName;
        break;
    case BaseType::SafeArray:
        base = platform ? "SAFEARRAY*" : "SafeArray*";
        break;
    }
    return base + std::string(size_t(t.pointerDepth), '*');
}

std::string tableMemberName(const Operation& op) {
    switch (op.kind) {
    case InvokeKind::PropertyGet:
        return "get_" + op.name;
    case InvokeKind::PropertyPut:
        return "put_" + op.name;
    case InvokeKind::PropertyPutRef:
        return "putref_" + op.name;
    case InvokeKind::Method:
        break;
    }
    return op.name;
}

std::string guidInitializer(const GUID& g) {
    char buf[128];
    std::snprintf(buf, sizeof buf,
                  "{0x%08X, 0x%04X, 0x%04X, {0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, "
                  "0x%02X, 0x%02X}}",
                  unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::string parameterList(const Operation& op, Spelling spelling) {
    std::string out;
    for (size_t i = 0; i < op.params.size(); ++i) {
        const Parameter& p = op.params[i];
        if (i)
            out += ", ";
        out += typeName(p.type, spelling);
        if (!p.name.empty())
            out += " " + p.name;
    }
    return out;
}

namespace {

std::string guidText(const GUID& g) {
    OLECHAR text[CHARS_IN_GUID];
    StringFromGUID2(g, text, CHARS_IN_GUID);
    std::string out;
    for (int i = 0; i < ORVIK_GUID_TEXT_LENGTH; ++i)
        out += char(text[i]);
    return out;
}

void writeCTable(std::ostringstream& out, const Definition& def, const Interface& itf) {
    const std::string& n = itf.name;
    out << "typedef struct " << n << "Vtbl {\n";
    for (const TableEntry& e : tableEntries(def, itf, Spelling::Platform)) {
        out << "    " << e.result << "(STDMETHODCALLTYPE* " << e.name << ")(" << n << "* This";
        for (const TableEntry::Param& p : e.params)
            out << ", " << p.type << (p.name.empty() ? "" : " " + p.name);
        out << ");\n";
    }
    out << "} " << n << "Vtbl;\n";
    out << "struct " << n << " {\n    const " << n << "Vtbl* lpVtbl;\n};\n\n";
}

void writeCppStruct(std::ostringstream& out, const Interface& itf) {
    out << "/* " << commentText(itf.helpString) << " */\n";
    out << "struct " << itf.name << " : public " << itf.base << " {\n";
    for (const Operation& op : itf.operations) {
        if (!op.helpString.empty())
            out << "    /** " << commentText(op.helpString) << " */\n";
        out << "    virtual HRESULT STDMETHODCALLTYPE " << tableMemberName(op) << "("
            << parameterList(op, Spelling::Platform) << ") = 0;\n";
    }
    out << "    ORVIK_INTERFACE_DESTRUCTOR(" << itf.name << ")\n";
    out << "};\n\n";
}

} // namespace

std::vector<TableEntry> tableEntries(const Definition& def, const Interface& itf,
                                     Spelling spelling) {
    const bool platform = spelling == Spelling::Platform;
    auto spelled = [platform](const char* platformType, const char* layerType) {
        return std::string(platform ? platformType : layerType);
    };
    const std::string result = spelled("HRESULT", "Result");
    const std::string count = spelled("ULONG", "std::uint32_t");
    const std::string iid = spelled("REFIID", "const Guid&");
    const std::string uint = spelled("UINT", "std::uint32_t");
    const std::string lcid = spelled("LCID", "std::uint32_t");
    std::vector<TableEntry> entries{
        {"QueryInterface", result, {{iid, "riid"}, {"void**", "ppvObject"}}},
        {"AddRef", count, {}},
        {"Release", count, {}}};
    if (rootInterface(def, itf) == "IDispatch") {
        // The late-bound entries; the layer declares them for their places only.
        entries.push_back({"GetTypeInfoCount", result, {{uint + "*", "pctinfo"}}});
        entries.push_back(
            {"GetTypeInfo",
             result,
             {{uint, "iTInfo"}, {lcid, "lcid"}, {spelled("ITypeInfo**", "void**"), "ppTInfo"}}});
        entries.push_back({"GetIDsOfNames",
                           result,
                           {{iid, "riid"},
                            {spelled("LPOLESTR*", "char16_t**"), "rgszNames"},
                            {uint, "cNames"},
                            {lcid, "lcid"},
                            {spelled("DISPID*", "std::int32_t*"), "rgDispId"}}});
        entries.push_back({"Invoke",
                           result,
                           {{spelled("DISPID", "std::int32_t"), "dispIdMember"},
                            {iid, "riid"},
                            {lcid, "lcid"},
                            {spelled("WORD", "std::uint16_t"), "wFlags"},
                            {spelled("DISPPARAMS*", "void*"), "pDispParams"},
                            {spelled("VARIANT*", "void*"), "pVarResult"},
                            {spelled("EXCEPINFO*", "void*"), "pExcepInfo"},
                            {uint + "*", "puArgErr"}}});
    }
    for (const Operation* op : tableOperations(def, itf)) {
        TableEntry entry{tableMemberName(*op), result, {}};
        for (const Parameter& p : op->params)
            entry.params.push_back({typeName(p.type, spelling), p.name});
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string rootInterface(const Definition& def, const Interface& itf) {
    std::string root = itf.base;
    for (const Interface* b = &itf; b; b = def.findInterface(b->base))
        root = b->base;
    return root;
}

std::string writeHeader(const Definition& def, const std::string& guardName,
                        const std::string& sourceName) {
    std::ostringstream out;
    out << "/* Generated by orvik-idlc from " << commentText(sourceName) << ". Do not edit.\n"
        << " *\n"
        << " * The interfaces and classes of the definition: identifiers, and each interface\n"
        << " * as a C++ struct of pure virtual functions in table order or, for C, as a\n"
        << " * table of functions taking the object first (object->lpVtbl->Op(object, ...)).\n"
        << " */\n";
    out << "#ifndef " << guardName << "\n#define " << guardName << "\n\n";
    // Only what the interfaces' declarations use: a client including this header does
    // not get the registry's access-right names (DELETE, ...) or other services.
    out << "#include \"orvik/platform/base_types.h\"\n#include \"orvik/platform/result_codes.h\"\n"
        << "#include \"orvik/platform/guid.h\"\n#include \"orvik/platform/bstr.h\"\n"
        << "#include \"orvik/platform/safearray.h\"\n#include \"orvik/platform/variant.h\"\n"
        << "#include \"orvik/platform/interfaces.h\"\n\n";

    out << "#ifdef __cplusplus\n";
    for (const Interface& itf : def.interfaces)
        out << "struct " << itf.name << ";\n";
    out << "#else\n";
    for (const Interface& itf : def.interfaces)
        out << "typedef struct " << itf.name << " " << itf.name << ";\n";
    out << "#endif\n\n";

    // C++ gets one definition per identifier across the program (inline variables),
    // C a private constant in each file.
    out << "#ifdef __cplusplus\n#define ORVIK_IDENTIFIER(type, name) inline constexpr type name\n"
        << "#else\n#define ORVIK_IDENTIFIER(type, name) static const type name "
           "__attribute__((unused))\n#endif\n\n";
    auto identifier = [&](const char* type, const std::string& name, const GUID& g) {
        out << "/* " << guidText(g) << " */\nORVIK_IDENTIFIER(" << type << ", " << name
            << ") = " << guidInitializer(g) << ";\n";
    };
    if (def.library)
        identifier("IID", "LIBID_" + def.library->name, def.library->libid);
    for (const Interface& itf : def.interfaces)
        identifier("IID", "IID_" + itf.name, itf.iid);
    for (const Coclass& cls : def.coclasses)
        identifier("CLSID", "CLSID_" + cls.name, cls.clsid);
    out << "\n";

    out << "#if defined(__cplusplus) && !defined(CINTERFACE)\n\n";
    for (const Interface& itf : def.interfaces)
        writeCppStruct(out, itf);
    out << "namespace orvik {\ntemplate <class I> struct InterfaceTraits;\n";
    for (const Interface& itf : def.interfaces)
        out << "template <> struct InterfaceTraits<::" << itf.name
            << "> {\n    static constexpr const IID& iid() { return IID_" << itf.name
            << "; }\n};\n";
    out << "} /* namespace orvik */\n\n";
    out << "#else /* C view */\n\n";
    for (const Interface& itf : def.interfaces)
        writeCTable(out, def, itf);
    out << "#endif /* C view */\n\n";
    out << "#endif /* " << guardName << " */\n";
    return out.str();
}

std::string writeListing(const Definition& def) {
    std::ostringstream out;
    for (const Interface& itf : def.interfaces) {
        int slot = firstOwnSlot(def, itf);
        for (const Operation& op : itf.operations)
            out << itf.name << ' ' << slot++ << ' ' << op.dispid << ' ' << invokeKindName(op.kind)
                << ' ' << op.name << '\n';
    }
    return out.str();
}

} // namespace orvik::idl
