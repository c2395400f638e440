// tools/idlc/cpp_layer_writer.cpp: writing the C++ client layer
//
// Each interface becomes a class deriving from orvik::Object<I> (orvik/client.hpp).
// Members are declared in the classes and defined after all of them, so that a
// member may return any other interface's class by value. Operations whose types the
// layer does not carry (text, variants) are left to the raw table, reached with ->.
//
// The layer includes no platform header: it calls the tables through orvik::abi,
// which declares each interface as what the binary layout promises (an object whose
// first word points at a table of functions taking the object first, as the
// interface header's C view has it) in the layer's own types. A second header, the
// bridge, joins the two for a client that uses both.

#include "cpp_layer_writer.h"

#include "comment_text.h"
#include "header_writer.h"

#include <cstdio>
#include <set>
#include <sstream>

namespace orvik::idl {

namespace {

std::string wrapperName(const std::string& interfaceName) {
    if (interfaceName.size() > 1 && interfaceName[0] == 'I' && std::isupper(interfaceName[1]))
        return interfaceName.substr(1);
    return interfaceName + "Object";
}

// Names a member may not take: C++'s words, and what Object<I> already has.
const std::set<std::string>& reservedNames() {
    static const std::set<std::string> names{
        "and",       "auto",      "bool",         "break",    "case",     "catch",  "char",
        "class",     "const",     "continue",     "default",  "delete",   "do",     "double",
        "else",      "enum",      "explicit",     "export",   "extern",   "false",  "float",
        "for",       "friend",    "goto",         "if",       "inline",   "int",    "long",
        "mutable",   "namespace", "new",          "not",      "operator", "or",     "private",
        "protected", "public",    "register",     "return",   "short",    "signed", "sizeof",
        "static",    "struct",    "switch",       "template", "this",     "throw",  "true",
        "try",       "typedef",   "typename",     "union",    "unsigned", "using",  "virtual",
        "void",      "volatile",  "while",        "xor",      "raw",      "ref",    "reset",
        "self",      "create",    "InterfaceType"};
    return names;
}

std::string safeName(std::string name) {
    return reservedNames().count(name) != 0 ? name + "_" : name;
}

std::string upperFirst(std::string name) {
    if (!name.empty())
        name[0] = char(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

// How the layer carries one value: its C++ type, and the C type it is stored in
// when it comes back through an [out] pointer.
struct Carried {
    bool ok = false;
    std::string type;    // the layer's type
    std::string storage; // the [out] cell's type
    enum Kind { Number, Boolean, Object, Array } kind = Number;
    std::string interfaceName; // for Object
};

Carried carried(const TypeRef& t, int depth) {
    Carried c;
    auto number = [&](const char* name) {
        if (depth == 0) {
            c.ok = true;
            c.type = c.storage = name;
        }
    };
    switch (t.base) {
    case BaseType::Double:
        number("double");
        break;
    case BaseType::Float:
        number("float");
        break;
    case BaseType::Long:
        number("std::int32_t");
        break;
    case BaseType::Int:
        number("std::int32_t");
        break;
    case BaseType::Short:
        number("std::int16_t");
        break;
    case BaseType::Byte:
        number("std::uint8_t");
        break;
    case BaseType::VariantBool:
        number("bool");
        c.storage = "std::int16_t";
        c.kind = Carried::Boolean;
        break;
    case BaseType::Interface:
        if (depth == 1) {
            c.ok = true;
            c.kind = Carried::Object;
            c.interfaceName = t.interfaceName;
            // Qualified: a member may bear the class's own name (IAxis.Vector).
            c.type = "::orvik::" + wrapperName(t.interfaceName);
            c.storage = "abi::" + t.interfaceName + "*";
        }
        break;
    case BaseType::SafeArray:
        if (t.element == BaseType::Double && depth <= 1) {
            c.ok = true;
            c.kind = Carried::Array;
            c.type = "std::vector<double>";
            c.storage = "abi::SafeArray*";
        }
        break;
    default:
        break;
    }
    return c;
}

std::string defaultLiteral(const Parameter& p, const Carried& c) {
    const DefaultValue& d = *p.defaultValue;
    if (c.kind == Carried::Object)
        return "nullptr";
    if (c.kind == Carried::Boolean)
        return (d.isInteger ? d.integer != 0 : d.real != 0) ? "true" : "false";
    if (c.type == "double" || c.type == "float") {
        if (d.isInteger)
            return std::to_string(d.integer) + ".0";
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", d.real);
        std::string literal = text;
        if (literal.find_first_of(".en") == std::string::npos)
            literal += ".0";
        return c.type == "float" ? literal + "f" : literal;
    }
    return d.isInteger ? std::to_string(d.integer) : std::to_string(int64_t(d.real));
}

// One operation as the layer offers it.
struct Member {
    const Operation* op = nullptr;
    std::string name;
    std::string qualified; // "IPoint.Add", for messages
    struct In {
        const Parameter* param;
        Carried value;
        std::string cppName;
        std::string defaultValue; // empty: none
    };
    struct Out {
        const Parameter* param;
        Carried value;
        std::string field;
    };
    std::vector<In> ins;
    std::vector<Out> outs;  // [out]s in order, retval last
    std::string resultType; // "void", a type, or the result struct's name
    bool resultStruct = false;
};

bool describe(const Interface& itf, const Operation& op, Member& m) {
    m.op = &op;
    m.qualified = itf.name + "." + op.name;
    int unnamed = 0;
    for (const Parameter& p : op.params) {
        std::string name = p.name.empty() ? "arg" + std::to_string(unnamed++) : p.name;
        if (p.in && p.out)
            return false;
        if (p.out) {
            Carried c = carried(p.type, p.type.pointerDepth - 1);
            if (!c.ok)
                return false;
            m.outs.push_back({&p, c, name});
        } else {
            // An array comes in as SAFEARRAY* or SAFEARRAY** alike.
            Carried c =
                carried(p.type, p.type.base == BaseType::SafeArray ? 0 : p.type.pointerDepth);
            if (!c.ok)
                return false;
            m.ins.push_back({&p, c, safeName(name), ""});
        }
    }
    // A default only where every later input has one too.
    for (size_t i = m.ins.size(); i-- > 0;) {
        const Parameter& p = *m.ins[i].param;
        if (!p.defaultValue || m.ins[i].value.kind == Carried::Array)
            break;
        m.ins[i].defaultValue = defaultLiteral(p, m.ins[i].value);
    }
    if (m.outs.empty())
        m.resultType = "void";
    else if (m.outs.size() == 1)
        m.resultType = m.outs[0].value.type;
    else {
        m.resultStruct = true;
        m.resultType = wrapperName(itf.name) + upperFirst(op.name) + "Result";
    }
    return true;
}

std::string inType(const Member::In& in) {
    switch (in.value.kind) {
    case Carried::Object:
        return "abi::" + in.value.interfaceName + "*";
    case Carried::Array:
        return "const std::vector<double>&";
    default:
        return in.value.type;
    }
}

std::string parameterList(const Member& m, bool withDefaults) {
    std::string out;
    for (const Member::In& in : m.ins) {
        if (!out.empty())
            out += ", ";
        out += inType(in) + " " + in.cppName;
        if (withDefaults && !in.defaultValue.empty())
            out += " = " + in.defaultValue;
    }
    return out;
}

std::string directionWords(const Parameter& p) {
    return p.retval ? "[out, retval]" : p.out ? "[out]" : "[in]";
}

void writeDoc(std::ostringstream& out, const Member& m, const Notes& notes) {
    const Operation& op = *m.op;
    out << "    /// " << (op.helpString.empty() ? op.name : commentText(op.helpString)) << "\n";
    bool spaced = false;
    auto space = [&] {
        if (!spaced)
            out << "    ///\n";
        spaced = true;
    };
    for (const Member::In& in : m.ins) {
        space();
        out << "    /// \\param " << in.cppName << " " << directionWords(*in.param) << " "
            << (in.value.kind == Carried::Object ? in.value.interfaceName : in.value.type);
        if (in.param->defaultValue)
            out << ", default "
                << defaultLiteral(*in.param,
                                  in.value.kind == Carried::Array ? Carried{} : in.value);
        out << "\n";
    }
    for (const Member::Out& o : m.outs) {
        space();
        out << "    /// \\return " << (m.resultStruct ? o.field + ": " : std::string())
            << o.value.type << " " << directionWords(*o.param) << "\n";
    }
    auto note = notes.find(m.qualified);
    if (note != notes.end()) {
        space();
        out << "    /// \\note " << commentText(note->second) << "\n";
    }
    space();
    out << "    /// \\throws orvik::ComError when the object answers a failure code.\n";
}

void writeDefinition(std::ostringstream& out, const Interface& itf, const std::string& wrapper,
                     const Member& m) {
    const std::string& qualifiedType = m.resultType;
    out << "inline " << qualifiedType << " " << wrapper << "::" << m.name << "("
        << parameterList(m, false) << ") const {\n";
    out << "    abi::" << itf.name << "* object = self(\"" << m.qualified << "\");\n";
    std::string args;
    for (const Member::In& in : m.ins) {
        std::string arg = in.cppName;
        if (in.value.kind == Carried::Array) {
            out << "    detail::ArrayOf array_" << in.cppName << "(" << in.cppName << ", \""
                << m.qualified << "\");\n";
            arg = in.param->type.pointerDepth >= 1 ? "array_" + in.cppName + ".address()"
                                                   : "*array_" + in.cppName + ".address()";
        } else if (in.value.kind == Carried::Boolean) {
            arg = "(" + in.cppName + " ? std::int16_t(-1) : std::int16_t(0))";
        }
        args += (args.empty() ? "" : ", ") + arg;
    }
    for (const Member::Out& o : m.outs) {
        out << "    " << o.value.storage << " out_" << o.field
            << (o.value.kind == Carried::Object || o.value.kind == Carried::Array ? " = nullptr"
                                                                                  : "{}")
            << ";\n";
        args += std::string(args.empty() ? "" : ", ") + "&out_" + o.field;
    }
    out << "    const Result hr = object->" << tableMemberName(*m.op) << "(" << args << ");\n";
    // Objects are held at once, so that a failing call that gave one back still
    // releases it.
    for (const Member::Out& o : m.outs)
        if (o.value.kind == Carried::Object)
            out << "    " << o.value.type << " object_" << o.field << "(adopt, out_" << o.field
                << ");\n";
    out << "    if (hr < 0) {\n";
    for (const Member::Out& o : m.outs)
        if (o.value.kind == Carried::Array)
            out << "        detail::destroyArray(out_" << o.field << ");\n";
    out << "        detail::throwFailure(hr, \"" << m.qualified << "\");\n    }\n";
    auto value = [&](const Member::Out& o) -> std::string {
        switch (o.value.kind) {
        case Carried::Object:
            return "std::move(object_" + o.field + ")";
        case Carried::Array:
            return "detail::fromArray(out_" + o.field + ", \"" + m.qualified + "\")";
        case Carried::Boolean:
            return "out_" + o.field + " != 0";
        default:
            return "out_" + o.field;
        }
    };
    if (m.resultStruct) {
        out << "    return " << qualifiedType << "{";
        for (size_t i = 0; i < m.outs.size(); ++i)
            out << (i ? ", " : "") << value(m.outs[i]);
        out << "};\n";
    } else if (!m.outs.empty()) {
        const Member::Out& only = m.outs[0];
        out << "    return "
            << (only.value.kind == Carried::Object ? "object_" + only.field : value(only)) << ";\n";
    }
    out << "}\n\n";
}

// A name as a C++ member begins: its leading capitals in lower case, but for the
// last of several, which begins the next word (XVect: xVect, XXInertia: xxInertia).
std::string memberCase(std::string name) {
    size_t capitals = 0;
    while (capitals < name.size() && std::isupper(static_cast<unsigned char>(name[capitals])))
        ++capitals;
    size_t lowered = capitals == name.size() || capitals <= 1 ? capitals : capitals - 1;
    for (size_t i = 0; i < lowered; ++i)
        name[i] = char(std::tolower(static_cast<unsigned char>(name[i])));
    return name;
}

// The layer's one naming rule: a property reads as x() and is written with setX(v);
// a method is its verb (add, copyFrom, setRotation); a method "SetVerb" that does
// Verb to the object itself is verbInPlace: one beside a method "Verb" (SetAdd
// beside Add: addInPlace), or one that takes nothing (SetNormalize: normalizeInPlace).
std::string methodName(const Interface& itf, const Operation& op) {
    const std::string& name = op.name;
    if (name.size() > 3 && name.compare(0, 3, "Set") == 0 &&
        std::isupper(static_cast<unsigned char>(name[3]))) {
        std::string verb = name.substr(3);
        bool inPlace = op.params.empty();
        for (const Operation& other : itf.operations)
            inPlace = inPlace || (other.kind == InvokeKind::Method && other.name == verb);
        if (inPlace)
            return memberCase(verb) + "InPlace";
    }
    return memberCase(name);
}

std::vector<Member> membersOf(const Definition& def, const Interface& itf) {
    std::vector<Member> members;
    std::set<std::string> taken;
    for (const Operation* op : tableOperations(def, itf)) {
        Member m;
        if (!describe(itf, *op, m))
            continue;
        switch (op->kind) {
        case InvokeKind::Method:
            m.name = safeName(methodName(itf, *op));
            break;
        case InvokeKind::PropertyGet:
            m.name = safeName(memberCase(op->name));
            break;
        case InvokeKind::PropertyPut:
            m.name = "set" + upperFirst(op->name);
            break;
        case InvokeKind::PropertyPutRef:
            m.name = "setRef" + upperFirst(op->name);
            break;
        }
        // A put whose name a method already has ("SetX" beside property X) is putX.
        if (op->kind == InvokeKind::PropertyPut && taken.count(m.name) != 0)
            m.name = "put" + upperFirst(op->name);
        taken.insert(m.name);
        members.push_back(std::move(m));
    }
    return members;
}

const Coclass* defaultClassOf(const Definition& def, const Interface& itf) {
    for (const Coclass& cls : def.coclasses)
        for (const CoclassMember& member : cls.interfaces)
            if (member.isDefault && !member.isSource && member.interfaceName == itf.name)
                return &cls;
    return nullptr;
}

} // namespace

namespace {

// An interface as the layer calls it: a struct whose one member is the object's
// table, and a member function per entry that calls it with the object first.
void writeLayerInterface(std::ostringstream& out, const Definition& def, const Interface& itf) {
    const std::string& n = itf.name;
    std::vector<TableEntry> entries = tableEntries(def, itf, Spelling::Layer);
    for (TableEntry& e : entries) // the forwarders pass every parameter by name
        for (size_t i = 0; i < e.params.size(); ++i)
            if (e.params[i].name.empty())
                e.params[i].name = "arg" + std::to_string(i);
    out << "/// " << (itf.helpString.empty() ? n : commentText(itf.helpString)) << "\n";
    out << "struct " << n << " {\n";
    out << "    static constexpr Guid iid" << guidInitializer(itf.iid) << ";\n\n";
    out << "    /// The entries in table order, each taking the object first.\n";
    out << "    struct Table {\n";
    for (const TableEntry& e : entries) {
        out << "        " << e.result << "(ORVIK_CALLTYPE* " << e.name << ")(" << n << "* self";
        for (const TableEntry::Param& p : e.params)
            out << ", " << p.type << " " << p.name;
        out << ");\n";
    }
    out << "    };\n\n    const Table* table;\n\n";
    for (const TableEntry& e : entries) {
        out << "    " << e.result << " " << e.name << "(";
        std::string args = "this";
        for (size_t i = 0; i < e.params.size(); ++i) {
            out << (i ? ", " : "") << e.params[i].type << " " << e.params[i].name;
            args += ", " + e.params[i].name;
        }
        out << ") {\n        return table->" << e.name << "(" << args << ");\n    }\n";
    }
    out << "};\n\n";
}

} // namespace

bool parseNotes(const std::string& text, Notes& notes, int& errorLine) {
    std::istringstream in(text);
    std::string line, key;
    bool haveKey = false;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == ' ' && haveKey) {
            size_t start = line.find_first_not_of(' ');
            if (start != std::string::npos)
                notes[key] += " " + line.substr(start);
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos || line[0] == ' ') {
            errorLine = number;
            return false;
        }
        key = line.substr(0, colon);
        haveKey = true;
        size_t start = line.find_first_not_of(' ', colon + 1);
        notes[key] = start == std::string::npos ? "" : line.substr(start);
    }
    return true;
}

std::string bridgeName(const std::string& cppHeader) {
    size_t dot = cppHeader.rfind('.');
    size_t slash = cppHeader.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return cppHeader + "_raw";
    return cppHeader.substr(0, dot) + "_raw" + cppHeader.substr(dot);
}

std::string writeCppLayer(const Definition& def, const Notes& notes, const std::string& guardName,
                          const std::string& sourceName, const std::string& cHeader,
                          const std::string& cppHeader) {
    std::ostringstream out;
    out << "/* Generated by orvik-idlc from " << commentText(sourceName) << ". Do not edit.\n"
        << " *\n"
        << " * The C++ layer over " << commentText(cHeader) << ": for each interface a class that\n"
        << " * holds it, named by one rule: a property reads as x() and is written with\n"
        << " * setX(v) (XVect: xVect()), a method is its verb (add, copyFrom), and an\n"
        << " * operation on the object itself is verbInPlace (SetAdd beside Add: addInPlace;\n"
        << " * SetNormalize, which takes nothing: normalizeInPlace). Methods return their\n"
        << " * [out, retval] value (several [out]s as a struct) and throw orvik::ComError on\n"
        << " * a failure code. The raw table is reached with ->, in the types of\n"
        << " * namespace orvik::abi. The header declares nothing outside namespace orvik\n"
        << " * and no macro but ORVIK_ ones; " << commentText(bridgeName(cppHeader))
        << " joins it with " << commentText(cHeader) << ".\n";
    auto libraryNote = notes.find("");
    if (libraryNote != notes.end())
        out << " *\n * " << commentText(libraryNote->second) << "\n";
    out << " */\n";
    out << "#ifndef " << guardName << "\n#define " << guardName << "\n\n";
    out << "#include <cstdint>\n#include <vector>\n\n#include \"orvik/client.hpp\"\n\n";
    out << "namespace orvik {\n\n";
    out << "namespace abi {\n\nstruct Variant;\n";
    for (const Interface& itf : def.interfaces)
        out << "struct " << itf.name << ";\n";
    out << "\n";
    for (const Interface& itf : def.interfaces)
        writeLayerInterface(out, def, itf);
    out << "} // namespace abi\n\n";
    for (const Interface& itf : def.interfaces)
        out << "class " << wrapperName(itf.name) << ";\n";
    out << "\n";

    std::vector<std::vector<Member>> members;
    for (const Interface& itf : def.interfaces)
        members.push_back(membersOf(def, itf));
    for (const auto& list : members)
        for (const Member& m : list)
            if (m.resultStruct)
                out << "struct " << m.resultType << ";\n";
    out << "\n";
    for (size_t index = 0; index < def.interfaces.size(); ++index) {
        const Interface& itf = def.interfaces[index];
        const std::string wrapper = wrapperName(itf.name);
        out << "/// " << (itf.helpString.empty() ? itf.name : commentText(itf.helpString)) << "\n";
        auto note = notes.find(itf.name);
        if (note != notes.end())
            out << "///\n/// " << commentText(note->second) << "\n";
        out << "class " << wrapper << " : public Object<abi::" << itf.name << "> {\npublic:\n";
        out << "    using Object<abi::" << itf.name << ">::Object;\n\n";
        if (const Coclass* cls = defaultClassOf(def, itf))
            out << "    /// The identifier of " << cls->name << " (" << commentText(cls->helpString)
                << ").\n"
                << "    static constexpr Guid classId" << guidInitializer(cls->clsid) << ";\n\n"
                << "    /// A new " << cls->name << " object.\n"
                << "    static " << wrapper << " create() {\n        return ::orvik::create<"
                << wrapper << ">(classId);\n    }\n\n";
        for (const Member& m : members[index]) {
            writeDoc(out, m, notes);
            out << "    " << m.resultType << " " << m.name << "(" << parameterList(m, true)
                << ") const;\n\n";
        }
        out << "};\n\n";
    }

    // What members with several [out]s give back, once every class is complete.
    for (size_t i = 0; i < def.interfaces.size(); ++i)
        for (const Member& m : members[i])
            if (m.resultStruct) {
                out << "/// What " << wrapperName(def.interfaces[i].name) << "::" << m.name
                    << "() gives back.\nstruct " << m.resultType << " {\n";
                for (const Member::Out& o : m.outs)
                    out << "    " << o.value.type << " " << o.field << ";\n";
                out << "};\n\n";
            }
    for (size_t i = 0; i < def.interfaces.size(); ++i)
        for (const Member& m : members[i])
            writeDefinition(out, def.interfaces[i], wrapperName(def.interfaces[i].name), m);

    for (const Interface& itf : def.interfaces)
        out << "template <> struct ClassFor<abi::" << itf.name
            << "> {\n    using type = " << wrapperName(itf.name) << ";\n};\n";
    out << "\n} // namespace orvik\n\n#endif /* " << guardName << " */\n";
    return out.str();
}

std::string writeCppBridge(const Definition& def, const std::string& guardName,
                           const std::string& sourceName, const std::string& cHeader,
                           const std::string& cppHeader) {
    std::ostringstream out;
    out << "/* Generated by orvik-idlc from " << commentText(sourceName) << ". Do not edit.\n"
        << " *\n"
        << " * The C++ layer (" << commentText(cppHeader) << ") beside the interface header ("
        << commentText(cHeader) << ")\n"
        << " * for a client that uses both: orvik::raw(object) is the interface an object of\n"
        << " * the layer holds, as the interface header declares it; orvik::wrap(ref) puts a\n"
        << " * reference of the platform's Ref into the layer's class; orvik::create takes the\n"
        << " * interface (create<IPoint>) and the class identifier (CLSID_Point) too.\n"
        << " */\n";
    out << "#ifndef " << guardName << "\n#define " << guardName << "\n\n";
    out << "#include \"" << cHeader << "\"\n#include \"" << cppHeader
        << "\"\n#include \"orvik/client_raw.hpp\"\n\n";
    out << "namespace orvik {\n\n";
    for (const Interface& itf : def.interfaces)
        out << "template <> struct ClassFor<::" << itf.name
            << "> {\n    using type = " << wrapperName(itf.name) << ";\n};\n";
    out << "\n";
    for (const Interface& itf : def.interfaces)
        out << "template <> struct RawInterfaceOf<abi::" << itf.name
            << "> {\n    using type = ::" << itf.name << ";\n};\n";
    out << "\n} // namespace orvik\n\n#endif /* " << guardName << " */\n";
    return out.str();
}

} // namespace orvik::idl
