// tools/idlc/idl_parser.cpp: recursive-descent parser and checks
//
// The parser stops at the first error: a definition that is wrong in one place is
// rarely worth reading further, and one precise message is what a user acts on.
// Internally an error unwinds as a ParseFailure exception to parseDefinition, which
// turns it into a Diagnostic; nothing escapes this file.

#include "idl_parser.h"
#include "idl_lexer.h"

#include "orvik/platform/guid.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <set>

namespace orvik::idl {

namespace {

struct ParseFailure {
    Diagnostic diagnostic;
};

[[noreturn]] void fail(SourceLocation at, std::string message) {
    throw ParseFailure{{at, std::move(message)}};
}

struct Attribute {
    std::string name;
    SourceLocation location;
    std::vector<Token> args;
};

bool parseGuidText(const std::string& text, GUID& out) {
    if (text.size() != 36)
        return false;
    std::u16string braced = u"{";
    for (char c : text)
        braced += char16_t(static_cast<unsigned char>(c));
    braced += u"}";
    return SUCCEEDED(IIDFromString(braced.c_str(), &out));
}

class Parser {
public:
    explicit Parser(std::string_view source) : m_lexer(source) { m_tok = lex(); }

    Definition parse() {
        while (m_tok.kind != TokenKind::End)
            parseTopLevel();
        checkReferences();
        return std::move(m_def);
    }

private:
    Token lex() {
        Token t = m_lexer.next();
        if (t.kind == TokenKind::Error)
            fail(t.location, t.text);
        return t;
    }
    Token take() {
        Token t = m_tok;
        m_tok = lex();
        return t;
    }
    bool isPunct(const char* p) const { return m_tok.kind == TokenKind::Punct && m_tok.text == p; }
    bool isWord(const char* w) const {
        return m_tok.kind == TokenKind::Identifier && m_tok.text == w;
    }
    std::string describe(const Token& t) const {
        switch (t.kind) {
        case TokenKind::End:
            return "end of file";
        case TokenKind::String:
            return "string \"" + t.text + "\"";
        default:
            return "'" + t.text + "'";
        }
    }
    Token expectPunct(const char* p) {
        if (!isPunct(p))
            fail(m_tok.location, std::string("expected '") + p + "' but found " + describe(m_tok));
        return take();
    }
    void expectWord(const char* w) {
        if (!isWord(w))
            fail(m_tok.location, std::string("expected '") + w + "' but found " + describe(m_tok));
        take();
    }
    Token expectIdentifier(const char* what) {
        if (m_tok.kind != TokenKind::Identifier)
            fail(m_tok.location, std::string("expected ") + what + " but found " + describe(m_tok));
        return take();
    }
    Token expectString() {
        if (m_tok.kind != TokenKind::String)
            fail(m_tok.location, "expected a string but found " + describe(m_tok));
        return take();
    }

    std::vector<Attribute> parseAttributes() {
        std::vector<Attribute> attrs;
        if (!isPunct("["))
            return attrs;
        take();
        for (;;) {
            Token name = expectIdentifier("an attribute name");
            Attribute a{name.text, name.location, {}};
            if (isPunct("(")) {
                take();
                while (!isPunct(")")) {
                    if (m_tok.kind == TokenKind::End)
                        fail(m_tok.location, "unterminated attribute argument");
                    if (isPunct("-")) {
                        Token minus = take();
                        if (m_tok.kind != TokenKind::Number)
                            fail(m_tok.location, "expected a number after '-'");
                        Token n = take();
                        n.text = "-" + n.text;
                        n.location = minus.location;
                        a.args.push_back(n);
                    } else {
                        a.args.push_back(take());
                    }
                    if (isPunct(","))
                        take();
                    else if (!isPunct(")"))
                        fail(m_tok.location,
                             "expected ',' or ')' in the arguments of '" + a.name + "'");
                }
                take();
            }
            attrs.push_back(std::move(a));
            if (isPunct("]"))
                break;
            expectPunct(",");
        }
        take();
        return attrs;
    }

    static const Token& singleArg(const Attribute& a, TokenKind kind, const char* what) {
        if (a.args.size() != 1 || a.args[0].kind != kind)
            fail(a.location, "attribute '" + a.name + "' takes " + what);
        return a.args[0];
    }
    static void noArgs(const Attribute& a) {
        if (!a.args.empty())
            fail(a.location, "attribute '" + a.name + "' takes no argument");
    }
    static GUID guidArg(const Attribute& a) {
        const Token& t = singleArg(a, TokenKind::Guid, "a GUID");
        GUID g{};
        if (!parseGuidText(t.text, g))
            fail(t.location, "malformed GUID '" + t.text + "'");
        return g;
    }
    static int64_t integerArg(const Attribute& a) {
        const Token& t = singleArg(a, TokenKind::Number, "an integer");
        DefaultValue v = numberValue(t);
        if (!v.isInteger)
            fail(t.location, "attribute '" + a.name + "' takes an integer");
        return v.integer;
    }

    static DefaultValue numberValue(const Token& t) {
        std::string text = t.text;
        bool negative = !text.empty() && text[0] == '-';
        std::string digits = negative ? text.substr(1) : text;
        DefaultValue v;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            uint64_t u = 0;
            auto r = std::from_chars(digits.data() + 2, digits.data() + digits.size(), u, 16);
            if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() ||
                u > uint64_t(INT64_MAX))
                fail(t.location, "number '" + text + "' out of range");
            v.integer = negative ? -int64_t(u) : int64_t(u);
            return v;
        }
        if (digits.find_first_of(".eE") == std::string::npos) {
            auto r = std::from_chars(text.data(), text.data() + text.size(), v.integer);
            if (r.ec != std::errc() || r.ptr != text.data() + text.size())
                fail(t.location, "number '" + text + "' out of range");
            return v;
        }
        v.isInteger = false;
        // from_chars reads the decimal text to the nearest double exactly, so a
        // default such as 2.220446049250313e-12 keeps every bit.
        auto r = std::from_chars(text.data(), text.data() + text.size(), v.real);
        if (r.ec != std::errc() || r.ptr != text.data() + text.size())
            fail(t.location, "malformed number '" + text + "'");
        return v;
    }

    void parseTopLevel() {
        if (isPunct(";")) {
            take();
            return;
        }
        if (isWord("import")) {
            take();
            do {
                m_def.imports.push_back(expectString().text);
            } while (isPunct(",") && (take(), true));
            expectPunct(";");
            return;
        }
        std::vector<Attribute> attrs = parseAttributes();
        if (isWord("interface")) {
            parseInterface(attrs, /*inLibrary=*/false);
        } else if (isWord("coclass")) {
            parseCoclass(attrs);
        } else if (isWord("library")) {
            parseLibrary(attrs);
        } else {
            fail(m_tok.location,
                 "expected 'import', 'interface', 'coclass' or 'library' but found " +
                     describe(m_tok));
        }
    }

    // Returns false for a forward declaration ("interface X;").
    bool parseInterface(const std::vector<Attribute>& attrs, bool inLibrary) {
        SourceLocation at = m_tok.location;
        take(); // interface
        Token name = expectIdentifier("an interface name");
        if (isPunct(";")) {
            if (!attrs.empty())
                fail(at, "a forward declaration takes no attributes");
            take();
            m_forward.insert(name.text);
            if (inLibrary)
                m_def.library->items.push_back({Library::Item::InterfaceItem, name.text});
            return false;
        }
        if (m_def.findInterface(name.text))
            fail(name.location, "interface '" + name.text + "' is defined twice");
        Interface itf;
        itf.name = name.text;
        itf.location = name.location;
        bool haveUuid = false, haveObject = false;
        for (const Attribute& a : attrs) {
            if (a.name == "uuid") {
                itf.iid = guidArg(a);
                haveUuid = true;
            } else if (a.name == "object") {
                noArgs(a);
                haveObject = true;
            } else if (a.name == "dual") {
                noArgs(a);
                itf.dual = true;
            } else if (a.name == "oleautomation") {
                noArgs(a);
                itf.oleAutomation = true;
            } else if (a.name == "helpstring") {
                itf.helpString = singleArg(a, TokenKind::String, "a string").text;
            } else if (a.name == "pointer_default") {
                const Token& t = singleArg(a, TokenKind::Identifier, "unique, ref or ptr");
                if (t.text != "unique" && t.text != "ref" && t.text != "ptr")
                    fail(t.location, "pointer_default takes unique, ref or ptr");
            } else {
                fail(a.location, "unknown interface attribute '" + a.name + "'");
            }
        }
        if (!haveObject)
            fail(at, "interface '" + itf.name + "' needs the 'object' attribute");
        if (!haveUuid)
            fail(at, "interface '" + itf.name + "' needs a uuid");
        expectPunct(":");
        Token base = expectIdentifier("a base interface");
        if (base.text != "IDispatch" && base.text != "IUnknown" && !m_def.findInterface(base.text))
            fail(base.location, "unknown base interface '" + base.text + "'");
        if (itf.dual && base.text != "IDispatch")
            fail(base.location, "a dual interface must derive from IDispatch");
        itf.base = base.text;
        m_forward.insert(itf.name); // operations may take the interface itself
        expectPunct("{");
        while (!isPunct("}")) {
            if (m_tok.kind == TokenKind::End)
                fail(m_tok.location, "missing '}' at the end of interface '" + itf.name + "'");
            itf.operations.push_back(parseOperation(itf));
        }
        take();
        if (isPunct(";"))
            take();
        checkDispatchIds(itf);
        m_def.interfaces.push_back(std::move(itf));
        if (inLibrary)
            m_def.library->items.push_back(
                {Library::Item::InterfaceItem, m_def.interfaces.back().name});
        return true;
    }

    TypeRef parseType() {
        Token t = expectIdentifier("a type");
        TypeRef type;
        static const std::map<std::string, BaseType> simple = {
            {"void", BaseType::Void},        {"HRESULT", BaseType::HResult},
            {"double", BaseType::Double},    {"DOUBLE", BaseType::Double},
            {"float", BaseType::Float},      {"long", BaseType::Long},
            {"LONG", BaseType::Long},        {"int", BaseType::Int},
            {"short", BaseType::Short},      {"SHORT", BaseType::Short},
            {"BYTE", BaseType::Byte},        {"VARIANT_BOOL", BaseType::VariantBool},
            {"BSTR", BaseType::Bstr},        {"VARIANT", BaseType::Variant},
            {"IUnknown", BaseType::Unknown}, {"IDispatch", BaseType::Dispatch},
        };
        if (t.text == "SAFEARRAY") {
            expectPunct("(");
            // An array of arrays is refused before its element is read, so that no
            // nesting of them can exhaust the parser's stack.
            if (isWord("SAFEARRAY"))
                fail(m_tok.location, "unsupported SAFEARRAY element type (arrays do not nest)");
            TypeRef element = parseType();
            if (element.pointerDepth != 0 || element.base == BaseType::Void ||
                element.base == BaseType::HResult || element.base == BaseType::SafeArray)
                fail(t.location, "unsupported SAFEARRAY element type");
            expectPunct(")");
            type.base = BaseType::SafeArray;
            type.element = element.base;
        } else if (auto it = simple.find(t.text); it != simple.end()) {
            type.base = it->second;
        } else if (m_forward.count(t.text) || m_def.findInterface(t.text)) {
            type.base = BaseType::Interface;
            type.interfaceName = t.text;
        } else {
            fail(t.location, "unknown type '" + t.text + "'");
        }
        while (isPunct("*")) {
            take();
            ++type.pointerDepth;
        }
        return type;
    }

    Operation parseOperation(const Interface& itf) {
        std::vector<Attribute> attrs = parseAttributes();
        Operation op;
        op.location = m_tok.location;
        op.returnType = parseType();
        Token name = expectIdentifier("an operation name");
        op.name = name.text;
        op.location = name.location;
        bool haveId = false;
        int kinds = 0;
        for (const Attribute& a : attrs) {
            if (a.name == "id") {
                int64_t id = integerArg(a);
                if (id < INT32_MIN || id > INT32_MAX)
                    fail(a.location, "dispatch identifier out of range");
                op.dispid = int32_t(id);
                haveId = true;
            } else if (a.name == "propget") {
                noArgs(a);
                op.kind = InvokeKind::PropertyGet;
                ++kinds;
            } else if (a.name == "propput") {
                noArgs(a);
                op.kind = InvokeKind::PropertyPut;
                ++kinds;
            } else if (a.name == "propputref") {
                noArgs(a);
                op.kind = InvokeKind::PropertyPutRef;
                ++kinds;
            } else if (a.name == "helpstring") {
                op.helpString = singleArg(a, TokenKind::String, "a string").text;
            } else {
                fail(a.location, "unknown operation attribute '" + a.name + "'");
            }
        }
        if (kinds > 1)
            fail(op.location, "operation '" + op.name + "' has more than one property kind");
        if (itf.dual && !haveId)
            fail(op.location, "operation '" + op.name + "' of a dual interface needs an id");
        if (op.returnType.base != BaseType::HResult || op.returnType.pointerDepth != 0)
            fail(op.location, "operation '" + op.name + "' must return HRESULT");
        expectPunct("(");
        if (isWord("void")) {
            take();
        } else {
            while (!isPunct(")")) {
                op.params.push_back(parseParameter());
                if (!isPunct(")"))
                    expectPunct(",");
            }
        }
        expectPunct(")");
        expectPunct(";");
        checkOperationShape(op);
        return op;
    }

    Parameter parseParameter() {
        SourceLocation at = m_tok.location;
        std::vector<Attribute> attrs = parseAttributes();
        Parameter p;
        p.location = at;
        std::optional<DefaultValue> def;
        SourceLocation defAt;
        for (const Attribute& a : attrs) {
            if (a.name == "in") {
                noArgs(a);
                p.in = true;
            } else if (a.name == "out") {
                noArgs(a);
                p.out = true;
            } else if (a.name == "retval") {
                noArgs(a);
                p.retval = true;
            } else if (a.name == "optional") {
                noArgs(a);
                p.optional = true;
            } else if (a.name == "defaultvalue") {
                def = numberValue(singleArg(a, TokenKind::Number, "a number"));
                defAt = a.location;
            } else {
                fail(a.location, "unknown parameter attribute '" + a.name + "'");
            }
        }
        p.type = parseType();
        if (m_tok.kind == TokenKind::Identifier)
            p.name = take().text;
        if (!p.in && !p.out)
            fail(at, "parameter " + describeParam(p) + " needs [in] or [out]");
        if (p.out && p.type.pointerDepth == 0)
            fail(at, "[out] parameter " + describeParam(p) + " must be a pointer");
        if (p.retval && !p.out)
            fail(at, "[retval] parameter " + describeParam(p) + " must also be [out]");
        if (p.optional && !p.in)
            fail(at, "[optional] parameter " + describeParam(p) + " must be [in]");
        if (p.type.base == BaseType::Void)
            fail(at, "parameter " + describeParam(p) + " cannot be void");
        if (def) {
            checkDefaultFits(*def, p, defAt);
            p.defaultValue = def;
        }
        return p;
    }

    static std::string describeParam(const Parameter& p) {
        return p.name.empty() ? std::string("(unnamed)") : "'" + p.name + "'";
    }

    static void checkDefaultFits(const DefaultValue& v, const Parameter& p, SourceLocation at) {
        const TypeRef& t = p.type;
        if (t.isInterfacePointer() && t.pointerDepth == 1) {
            if (!v.isInteger || v.integer != 0)
                fail(at, "the default of interface parameter " + describeParam(p) +
                             " can only be 0 (null)");
            return;
        }
        if (t.pointerDepth != 0)
            fail(at, "pointer parameter " + describeParam(p) + " cannot have a default");
        switch (t.base) {
        case BaseType::Double:
        case BaseType::Float:
            return;
        case BaseType::Long:
        case BaseType::Int:
            if (!v.isInteger || v.integer < INT32_MIN || v.integer > INT32_MAX)
                break;
            return;
        case BaseType::Short:
        case BaseType::VariantBool:
            if (!v.isInteger || v.integer < INT16_MIN || v.integer > INT16_MAX)
                break;
            return;
        case BaseType::Byte:
            if (!v.isInteger || v.integer < 0 || v.integer > 255)
                break;
            return;
        default:
            fail(at,
                 "parameter " + describeParam(p) + " of this type cannot have a numeric default");
        }
        fail(at, "the default does not fit parameter " + describeParam(p));
    }

    static void checkOperationShape(const Operation& op) {
        for (size_t i = 0; i < op.params.size(); ++i)
            if (op.params[i].retval && i + 1 != op.params.size())
                fail(op.params[i].location, "only the last parameter can be [retval]");
        if (op.kind == InvokeKind::PropertyGet) {
            if (op.params.empty() || !op.params.back().out || !op.params.back().retval)
                fail(op.location,
                     "property get '" + op.name + "' needs an [out, retval] last parameter");
        } else if (op.kind != InvokeKind::Method) {
            if (op.params.empty() || !op.params.back().in || op.params.back().out)
                fail(op.location, "property put '" + op.name + "' needs an [in] last parameter");
        }
    }

    static void checkDispatchIds(const Interface& itf) {
        std::map<int32_t, const Operation*> byId;
        std::set<std::pair<std::string, InvokeKind>> seen;
        for (const Operation& op : itf.operations) {
            if (!seen.insert({op.name, op.kind}).second)
                fail(op.location,
                     "operation '" + op.name + "' is declared twice in '" + itf.name + "'");
            if (!itf.dual)
                continue;
            auto [it, fresh] = byId.emplace(op.dispid, &op);
            if (!fresh && (it->second->name != op.name || op.kind == InvokeKind::Method ||
                           it->second->kind == InvokeKind::Method))
                fail(op.location, "dispatch identifier " + std::to_string(op.dispid) + " of '" +
                                      op.name + "' is already used by '" + it->second->name + "'");
        }
    }

    void parseCoclass(const std::vector<Attribute>& attrs) {
        SourceLocation at = m_tok.location;
        take(); // coclass
        Token name = expectIdentifier("a coclass name");
        if (m_def.findCoclass(name.text))
            fail(name.location, "coclass '" + name.text + "' is defined twice");
        Coclass cls;
        cls.name = name.text;
        cls.location = name.location;
        bool haveUuid = false;
        for (const Attribute& a : attrs) {
            if (a.name == "uuid") {
                cls.clsid = guidArg(a);
                haveUuid = true;
            } else if (a.name == "helpstring") {
                cls.helpString = singleArg(a, TokenKind::String, "a string").text;
            } else {
                fail(a.location, "unknown coclass attribute '" + a.name + "'");
            }
        }
        if (!haveUuid)
            fail(at, "coclass '" + cls.name + "' needs a uuid");
        expectPunct("{");
        while (!isPunct("}")) {
            if (m_tok.kind == TokenKind::End)
                fail(m_tok.location, "missing '}' at the end of coclass '" + cls.name + "'");
            CoclassMember m;
            for (const Attribute& a : parseAttributes()) {
                noArgs(a);
                if (a.name == "default")
                    m.isDefault = true;
                else if (a.name == "source")
                    m.isSource = true;
                else
                    fail(a.location, "unknown coclass member attribute '" + a.name + "'");
            }
            expectWord("interface");
            Token itf = expectIdentifier("an interface name");
            m.interfaceName = itf.text;
            m_refs.push_back({itf.location, itf.text});
            expectPunct(";");
            cls.interfaces.push_back(m);
        }
        take();
        if (isPunct(";"))
            take();
        if (cls.interfaces.empty())
            fail(at, "coclass '" + cls.name + "' implements no interface");
        m_def.coclasses.push_back(std::move(cls));
        if (m_def.library && m_inLibrary)
            m_def.library->items.push_back({Library::Item::CoclassItem, name.text});
    }

    void parseLibrary(const std::vector<Attribute>& attrs) {
        SourceLocation at = m_tok.location;
        take(); // library
        if (m_def.library)
            fail(at, "only one library block is allowed");
        Token name = expectIdentifier("a library name");
        m_def.library.emplace();
        Library& lib = *m_def.library;
        lib.name = name.text;
        bool haveUuid = false;
        for (const Attribute& a : attrs) {
            if (a.name == "uuid") {
                lib.libid = guidArg(a);
                haveUuid = true;
            } else if (a.name == "version") {
                const Token& t = singleArg(a, TokenKind::Number, "major.minor");
                unsigned major = 0, minor = 0;
                const char* s = t.text.c_str();
                char* end = nullptr;
                major = unsigned(std::strtoul(s, &end, 10));
                if (*end == '.')
                    minor = unsigned(std::strtoul(end + 1, &end, 10));
                if (*end != 0 || major > 0xFFFF || minor > 0xFFFF)
                    fail(t.location, "malformed version '" + t.text + "'");
                lib.majorVersion = uint16_t(major);
                lib.minorVersion = uint16_t(minor);
            } else if (a.name == "lcid") {
                int64_t lcid = integerArg(a);
                if (lcid < 0 || lcid > 0xFFFFFFFF)
                    fail(a.location, "lcid out of range");
                lib.lcid = uint32_t(lcid);
            } else if (a.name == "helpstring") {
                lib.helpString = singleArg(a, TokenKind::String, "a string").text;
            } else {
                fail(a.location, "unknown library attribute '" + a.name + "'");
            }
        }
        if (!haveUuid)
            fail(at, "library '" + lib.name + "' needs a uuid");
        expectPunct("{");
        m_inLibrary = true;
        while (!isPunct("}")) {
            if (m_tok.kind == TokenKind::End)
                fail(m_tok.location, "missing '}' at the end of library '" + lib.name + "'");
            if (isPunct(";")) {
                take();
            } else if (isWord("importlib")) {
                take();
                expectPunct("(");
                m_def.library->imports.push_back({expectString().text});
                expectPunct(")");
                expectPunct(";");
            } else {
                std::vector<Attribute> itemAttrs = parseAttributes();
                if (isWord("coclass")) {
                    parseCoclass(itemAttrs);
                } else if (isWord("interface")) {
                    SourceLocation refAt = m_tok.location;
                    if (!parseInterface(itemAttrs, /*inLibrary=*/true))
                        m_refs.push_back({refAt, m_def.library->items.back().name});
                } else {
                    fail(m_tok.location,
                         "expected 'coclass', 'interface' or 'importlib' but found " +
                             describe(m_tok));
                }
            }
        }
        m_inLibrary = false;
        take();
        if (isPunct(";"))
            take();
    }

    // Every interface a coclass or library names, and every interface a parameter
    // uses, must be defined somewhere in the file.
    void checkReferences() {
        for (const auto& [at, name] : m_refs)
            if (!m_def.findInterface(name))
                fail(at, "interface '" + name + "' is declared but never defined");
        for (const Interface& itf : m_def.interfaces)
            for (const Operation& op : itf.operations)
                for (const Parameter& p : op.params)
                    if (p.type.base == BaseType::Interface &&
                        !m_def.findInterface(p.type.interfaceName))
                        fail(p.location, "interface '" + p.type.interfaceName +
                                             "' is declared but never defined");
        for (const Coclass& cls : m_def.coclasses) {
            long defaults = std::count_if(cls.interfaces.begin(), cls.interfaces.end(),
                                          [](const CoclassMember& m) { return m.isDefault; });
            if (defaults > 1)
                fail(cls.location,
                     "coclass '" + cls.name + "' has more than one default interface");
        }
    }

    Lexer m_lexer;
    Token m_tok;
    Definition m_def;
    std::set<std::string> m_forward;
    std::vector<std::pair<SourceLocation, std::string>> m_refs;
    bool m_inLibrary = false;
};

} // namespace

ParseResult parseDefinition(std::string_view source) {
    try {
        return Parser(source).parse();
    } catch (const ParseFailure& f) {
        return f.diagnostic;
    }
}

} // namespace orvik::idl
