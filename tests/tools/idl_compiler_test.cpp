// tests/tools/idl_compiler_test.cpp: the interface compiler on the real definition and
// on broken input

#include "cpp_layer_writer.h"
#include "header_writer.h"
#include "idl_parser.h"
#include "tlb_writer.h"

#include "tests/support/type_library_files.h"

#include "orvik/platform.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using namespace orvik::idl;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class OrvikDefinition : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ParseResult r = parseDefinition(readFile(ORVIK_IDL_PATH));
        if (auto* d = std::get_if<Diagnostic>(&r))
            FAIL() << d->location.line << ":" << d->location.column << ": " << d->message;
        s_def = new Definition(std::get<Definition>(std::move(r)));
    }
    static void TearDownTestSuite() { delete s_def; }
    const Interface& itf(const char* name) {
        const Interface* i = s_def->findInterface(name);
        EXPECT_NE(i, nullptr) << name;
        return *i;
    }
    const Operation& op(const char* itfName, const char* name, InvokeKind kind) {
        for (const Operation& o : itf(itfName).operations)
            if (o.name == name && o.kind == kind)
                return o;
        ADD_FAILURE() << itfName << "::" << name;
        static Operation none;
        return none;
    }
    static Definition* s_def;
};
Definition* OrvikDefinition::s_def = nullptr;

TEST_F(OrvikDefinition, HasTwoHundredOperationsWithTheirTableSizes) {
    const std::map<std::string, size_t> own = {
        {"IPoint", 22},       {"IVector", 35},         {"IMatrix", 38},         {"IAxis", 11},
        {"IBoundingBox", 12}, {"IAreaProperties", 36}, {"IMassProperties", 20}, {"IAngle", 2},
        {"ILength", 2},       {"IPlane", 10},          {"IOption", 2},          {"IRgbData", 10}};
    size_t total = 0;
    ASSERT_EQ(s_def->interfaces.size(), 12u);
    for (const Interface& i : s_def->interfaces) {
        EXPECT_EQ(i.operations.size(), own.at(i.name)) << i.name;
        EXPECT_EQ(firstOwnSlot(*s_def, i), 7) << i.name;
        EXPECT_TRUE(i.dual) << i.name;
        EXPECT_EQ(i.base, "IDispatch");
        total += i.operations.size();
    }
    EXPECT_EQ(total, 200u);
}

TEST_F(OrvikDefinition, VectorSkipsDispatchIdentifierElevenAndAsArrayIsTwelve) {
    for (const Operation& o : itf("IVector").operations)
        EXPECT_NE(o.dispid, 11) << o.name;
    EXPECT_EQ(op("IVector", "AsArray", InvokeKind::PropertyGet).dispid, 12);
    EXPECT_EQ(op("IPoint", "Transform", InvokeKind::Method).dispid, 11);
    std::string listing = writeListing(*s_def);
    EXPECT_NE(listing.find("IVector 21 12 propget AsArray\n"), std::string::npos);
    EXPECT_NE(listing.find("IMatrix 44 30 propget Determinant\n"), std::string::npos);
}

TEST_F(OrvikDefinition, LengthAndDeterminantAreReadOnly) {
    for (auto [i, name] : {std::pair{"IVector", "Length"}, std::pair{"IMatrix", "Determinant"}}) {
        int gets = 0, puts = 0;
        for (const Operation& o : itf(i).operations)
            if (o.name == name)
                (o.kind == InvokeKind::PropertyGet ? gets : puts)++;
        EXPECT_EQ(gets, 1) << name;
        EXPECT_EQ(puts, 0) << name;
    }
}

TEST_F(OrvikDefinition, ElementHasAnOptionalSecondIndexDefaultingToMinusOne) {
    for (InvokeKind k : {InvokeKind::PropertyGet, InvokeKind::PropertyPut}) {
        const Operation& e = op("IMatrix", "Element", k);
        ASSERT_EQ(e.params.size(), 3u);
        const Parameter& p = e.params[1];
        EXPECT_EQ(p.name, "indice2");
        EXPECT_TRUE(p.in && p.optional);
        ASSERT_TRUE(p.defaultValue);
        EXPECT_TRUE(p.defaultValue->isInteger);
        EXPECT_EQ(p.defaultValue->integer, -1);
        EXPECT_EQ(p.type.base, BaseType::Long);
    }
}

TEST_F(OrvikDefinition, ErrorDefaultIsExactlyTenThousandMachineEpsilons) {
    const Operation& set = op("IPoint", "Set", InvokeKind::Method);
    ASSERT_EQ(set.params.size(), 4u);
    const DefaultValue& d = *set.params[3].defaultValue;
    uint64_t bits = 0;
    std::memcpy(&bits, &d.real, sizeof bits);
    EXPECT_EQ(bits, 0x3D83880000000000ull);
    EXPECT_EQ(d.real, std::ldexp(625.0, -48));
    const Operation& plane = op("IPlane", "Set", InvokeKind::Method);
    EXPECT_EQ(plane.params[2].defaultValue->real, 1.0);
    const Operation& pv = op("IMatrix", "SetPv", InvokeKind::Method);
    EXPECT_TRUE(pv.params[2].type.isInterfacePointer());
    EXPECT_EQ(pv.params[2].defaultValue->integer, 0);
}

TEST_F(OrvikDefinition, LibraryListsItsTwentyFourTypesInTheirPublishedOrder) {
    ASSERT_TRUE(s_def->library);
    EXPECT_EQ(s_def->library->name, "ORVIKLib");
    EXPECT_EQ(s_def->library->majorVersion, 1);
    EXPECT_EQ(s_def->library->minorVersion, 0);
    EXPECT_EQ(s_def->library->lcid, 0x0409u);
    std::vector<TypeEntry> order = libraryTypeOrder(*s_def);
    const char* expected[] = {
        "Point",          "IPoint",          "IVector",        "IMatrix",         "Vector",
        "Axis",           "IAxis",           "Matrix",         "BoundingBox",     "IBoundingBox",
        "AreaProperties", "IAreaProperties", "MassProperties", "IMassProperties", "Angle",
        "IAngle",         "Length",          "ILength",        "Plane",           "IPlane",
        "Option",         "IOption",         "RgbData",        "IRgbData"};
    ASSERT_EQ(order.size(), 24u);
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(order[i].name, expected[i]) << i;
}

TEST_F(OrvikDefinition, PropertyPutValuesComeLastAndGetsEndInRetval) {
    for (const Interface& i : s_def->interfaces)
        for (const Operation& o : i.operations) {
            EXPECT_FALSE(o.helpString.empty()) << i.name << "::" << o.name;
            if (o.kind == InvokeKind::PropertyGet) {
                EXPECT_TRUE(o.params.back().retval) << i.name << "::" << o.name;
                EXPECT_EQ(o.params.back().name, "pVal") << i.name << "::" << o.name;
            }
        }
}

// Broken definitions: each must be refused at the position of the fault.
struct BrokenCase {
    const char* source;
    int line;
    int column;
    const char* message;
};

TEST(IdlParser, RefusesBrokenDefinitionsWithTheirPosition) {
    const BrokenCase cases[] = {
        {"interface", 1, 10, "expected an interface name"},
        {"[object] interface I : IDispatch {};", 1, 10, "needs a uuid"},
        {"[object, uuid(1234)] interface I : IDispatch {};", 1, 15, "malformed GUID"},
        {"[object, uuid(11111111-2222-3333-4444-55555555555Z)] interface I : IDispatch {};", 1, 15,
         "malformed GUID"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555)] interface I : IFoo {};", 1, 68,
         "unknown base interface"},
        {"[object, dual, uuid(11111111-2222-3333-4444-555555555555)] interface I : IUnknown {};", 1,
         74, "must derive from IDispatch"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), colour] interface I : IDispatch {};",
         1, 54, "unknown interface attribute 'colour'"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1)] HRESULT F([in] Widget* w); };",
         2, 50, "unknown type 'Widget'"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { HRESULT F(); };",
         2, 35, "needs an id"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1)] long F(); };",
         2, 40, "must return HRESULT"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1)] HRESULT F([in] double a); [id(1)] HRESULT G(); };",
         2, 77, "dispatch identifier 1 of 'G' is already used by 'F'"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [propget, id(1)] HRESULT P([in] double a); };",
         2, 52, "needs an [out, retval] last parameter"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1)] HRESULT F([out] double a); };",
         2, 45, "must be a pointer"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1)] HRESULT F([in, defaultvalue(1.5)] long a); };",
         2, 50, "does not fit"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1)] HRESULT F([in, defaultvalue(1)] I* a); };",
         2, 50, "can only be 0"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1)] HRESULT F([out, retval] double* a, [in] long b); };",
         2, 45, "only the last parameter can be [retval]"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1)] HRESULT F(); ",
         2, 48, "missing '}'"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1), helpstring(\"open)] HRESULT F(); };",
         2, 46, "unterminated string"},
        {"/* never closed", 1, 1, "unterminated comment"},
        {"interface J;\n[uuid(11111111-2222-3333-4444-555555555555)] coclass C { interface J; };",
         2, 68, "declared but never defined"},
        {"[uuid(11111111-2222-3333-4444-555555555555), version(1.x)] library L {};", 1, 54,
         "malformed number"},
        {"#include <x>", 1, 1, "unexpected character '#'"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), helpstring(\"v\xE9"
         "ctor\")]",
         1, 65, "not valid UTF-8"},
        {"[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
         "interface I : IDispatch { [id(1)] HRESULT F([in] double 2x); };",
         2, 57, "malformed number"},
    };
    for (const BrokenCase& c : cases) {
        ParseResult r = parseDefinition(c.source);
        const Diagnostic* d = std::get_if<Diagnostic>(&r);
        ASSERT_NE(d, nullptr) << c.source;
        EXPECT_EQ(d->location.line, c.line) << c.source << "\n  " << d->message;
        EXPECT_EQ(d->location.column, c.column) << c.source << "\n  " << d->message;
        EXPECT_NE(d->message.find(c.message), std::string::npos)
            << c.source << "\n  got: " << d->message;
    }
}

TEST(IdlParser, AcceptsUnnamedPutValuesAndHexIdentifiers) {
    ParseResult r = parseDefinition("[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
                                    "interface I : IDispatch {\n"
                                    "  [propget, id(0x1a)] HRESULT P([out, retval] double* pVal);\n"
                                    "  [propput, id(0x1a)] HRESULT P([in] double);\n"
                                    "};\n");
    ASSERT_TRUE(std::holds_alternative<Definition>(r)) << std::get<Diagnostic>(r).message;
    const Interface& i = std::get<Definition>(r).interfaces[0];
    EXPECT_EQ(i.operations[1].dispid, 26);
    EXPECT_TRUE(i.operations[1].params[0].name.empty());
}

TEST(IdlParser, ArraysOfArraysAreRefusedAtTheInnerArrayHoweverDeep) {
    std::string line2 = "interface I : IDispatch { [id(1)] HRESULT F([in] ";
    std::string header = "[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n" + line2;
    for (size_t depth : {2, 10000}) {
        std::string type;
        for (size_t i = 0; i < depth; ++i)
            type += "SAFEARRAY(";
        type += "double";
        type += std::string(depth, ')');
        ParseResult r = parseDefinition(header + type + " a); };");
        const Diagnostic* d = std::get_if<Diagnostic>(&r);
        ASSERT_NE(d, nullptr) << depth;
        EXPECT_EQ(d->location.line, 2) << depth;
        // At the second SAFEARRAY, the first one nested.
        EXPECT_EQ(d->location.column, int(line2.size() + 1 + 10)) << depth;
        EXPECT_NE(d->message.find("arrays do not nest"), std::string::npos) << d->message;
    }
}

// An interface of `operations` methods derived from IDispatch, whose first
// parameter is a double behind `pointers` pointers.
std::string oneInterface(size_t operations, int pointers = 1) {
    std::string text = "[uuid(11111111-2222-3333-4444-000000000001), version(1.0)]\n"
                       "library L {\n"
                       "[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
                       "interface I : IDispatch {\n";
    for (size_t i = 0; i < operations; ++i)
        text += "[id(" + std::to_string(i + 1) + ")] HRESULT F" + std::to_string(i) +
                "([in] double" + std::string(size_t(pointers), '*') + " a);\n";
    return text + "};\n};\n";
}

// The table size is kept in 16 bits of bytes and the reader follows type chains 16
// deep: the compiler refuses more, naming the limit, and what it writes loads.
TEST(TypeLibraryWriter, RefusesWhatTheFormatOrTheReaderCannotHold) {
    struct Case {
        size_t operations;
        int pointers;
        const char* refusal; // null: written and loaded
    } cases[] = {{8184, 1, nullptr},
                 {8185, 1, "8192 table slots; a library holds at most 8191"},
                 {1, 16, nullptr},
                 {1, 17, "nests 17 levels deep; a library holds at most 16"}};
    for (const Case& c : cases) {
        ParseResult r = parseDefinition(oneInterface(c.operations, c.pointers));
        ASSERT_TRUE(std::holds_alternative<Definition>(r)) << std::get<Diagnostic>(r).message;
        std::vector<uint8_t> bytes;
        std::string error;
        bool written = writeTypeLibrary(std::get<Definition>(r), bytes, &error);
        if (c.refusal) {
            EXPECT_FALSE(written) << c.operations << " " << c.pointers;
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(written) << error;
        std::string path = ::testing::TempDir() + "limits.tlb";
        orvik::testing::writeFile(path, bytes);
        std::u16string widePath(path.begin(), path.end());
        orvik::Ref<ITypeLib> lib;
        ASSERT_EQ(LoadTypeLib(widePath.c_str(), lib.put()), S_OK)
            << c.operations << " " << c.pointers;
        orvik::Ref<ITypeInfo> info;
        ASSERT_EQ(lib->GetTypeInfo(0, info.put()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->cbSizeVft, (7 + c.operations) * sizeof(void*));
        info->ReleaseTypeAttr(attr);
    }
}

// What a compiler sees of generated code: comments gone, lines spliced where a
// backslash (or the trigraph ??/) ends them, string literals kept whole.
std::string codeOutsideComments(const std::string& text) {
    std::string spliced;
    for (size_t i = 0; i < text.size(); ++i) {
        bool backslash = text[i] == '\\' || text.compare(i, 3,
                                                         "?"
                                                         "?/") == 0;
        size_t after = i + (text[i] == '\\' ? 1 : 3);
        if (backslash && after <= text.size() && text[after] == '\n') {
            i = after;
            continue;
        }
        spliced += text[i];
    }
    std::string code;
    for (size_t i = 0; i < spliced.size();) {
        if (spliced.compare(i, 2, "//") == 0) {
            i = spliced.find('\n', i);
            if (i == std::string::npos)
                break;
        } else if (spliced.compare(i, 2, "/*") == 0) {
            size_t end = spliced.find("*/", i + 2);
            i = end == std::string::npos ? spliced.size() : end + 2;
            code += ' ';
        } else if (spliced[i] == '"') {
            size_t end = i + 1;
            while (end < spliced.size() && spliced[end] != '"' && spliced[end] != '\n')
                end += spliced[end] == '\\' ? 2 : 1;
            code += spliced.substr(i, end + 1 - i);
            i = end + 1;
        } else {
            code += spliced[i++];
        }
    }
    return code;
}

// Help strings and notes that would end a comment, or carry it onto the next line,
// stay inside their comments in every generated file: what follows them is neither
// swallowed nor turned into declarations.
TEST(IdlWriters, TextThatWouldEndACommentStaysInside) {
    ParseResult r =
        parseDefinition("[uuid(11111111-2222-3333-4444-555555555550), version(1.0)]\n"
                        "library L {\n"
                        "[object, uuid(11111111-2222-3333-4444-555555555555), dual,\n"
                        " helpstring(\"ends */ HRESULT Injected(); /* here\")]\n"
                        "interface IThing : IDispatch {\n"
                        "  [id(1), helpstring(\"one\\nHRESULT Injected();\")] HRESULT First();\n"
                        "  [id(2), helpstring(\"a backslash \\\\\")] HRESULT Second();\n"
                        "  [id(3), helpstring(\"a trigraph ?"
                        "?/\")] HRESULT Third();\n"
                        "  [id(4), helpstring(\"*/ int Injected; /*\")] HRESULT Fourth();\n"
                        "};\n"
                        "[uuid(11111111-2222-3333-4444-555555555556), helpstring(\"a \\\\\")]\n"
                        "coclass Thing { [default] interface IThing; };\n"
                        "};\n");
    ASSERT_TRUE(std::holds_alternative<Definition>(r)) << std::get<Diagnostic>(r).message;
    const Definition& def = std::get<Definition>(r);
    Notes notes;
    int badLine = 0;
    ASSERT_TRUE(parseNotes("IThing: a note */ int Injected; /*\n"
                           "IThing.Second: ends in \\\n"
                           ": the library's */ int Injected;\n",
                           notes, badLine));
    std::string header = writeHeader(def, "THING_I_H", "thing*/int Injected;.idl");
    std::string layer =
        writeCppLayer(def, notes, "THING_HPP", "thing.idl", "orvik/thing_i.h", "orvik/thing.hpp");
    for (const std::string* text : {&header, &layer}) {
        std::string code = codeOutsideComments(*text);
        EXPECT_EQ(code.find("Injected"), std::string::npos) << code;
        for (const char* name : {"First", "Second", "Third", "Fourth"})
            EXPECT_NE(code.find(name), std::string::npos) << name << " was swallowed\n" << code;
    }
    EXPECT_NE(header.find("ends *\\/ HRESULT Injected(); /* here"), std::string::npos) << header;
    EXPECT_NE(header.find("one\\nHRESULT Injected();"), std::string::npos);
    EXPECT_NE(layer.find("a backslash \\x5C"), std::string::npos);
}

// The C++ layer's names: properties x()/setX(v), methods their verbs, operations on
// the object itself verbInPlace.
TEST(IdlWriters, TheLayerNamesMembersByOneRule) {
    ParseResult r =
        parseDefinition("[uuid(11111111-2222-3333-4444-555555555560), version(1.0)]\n"
                        "library L {\n"
                        "[object, uuid(11111111-2222-3333-4444-555555555561), dual]\n"
                        "interface IShape : IDispatch {\n"
                        "  [propget, id(1)] HRESULT XVect([out, retval] double* v);\n"
                        "  [propput, id(1)] HRESULT XVect([in] double v);\n"
                        "  [propget, id(2)] HRESULT XYInertia([out, retval] double* v);\n"
                        "  [propget, id(3)] HRESULT Z([out, retval] double* v);\n"
                        "  [id(4)] HRESULT Add([in] double d, [out, retval] double* v);\n"
                        "  [id(5)] HRESULT SetAdd([in] double d);\n"
                        "  [id(6)] HRESULT SetNormalize();\n"
                        "  [id(7)] HRESULT SetRotation([in] double angle);\n"
                        "  [id(8)] HRESULT CopyFrom([in] double d);\n"
                        "};\n"
                        "[uuid(11111111-2222-3333-4444-555555555562)]\n"
                        "coclass Shape { [default] interface IShape; };\n"
                        "};\n");
    ASSERT_TRUE(std::holds_alternative<Definition>(r)) << std::get<Diagnostic>(r).message;
    std::string layer = writeCppLayer(std::get<Definition>(r), Notes(), "SHAPE_HPP", "shape.idl",
                                      "orvik/shape_i.h", "orvik/shape.hpp");
    for (const char* declared :
         {"double xVect() const;", "void setXVect(double v) const;", "double xyInertia() const;",
          "double z() const;", "double add(double d) const;", "void addInPlace(double d) const;",
          "void normalizeInPlace() const;", "void setRotation(double angle) const;",
          "void copyFrom(double d) const;"})
        EXPECT_NE(layer.find(declared), std::string::npos) << declared << "\n" << layer;
}

// The command-line front end: a broken file gives file:line:column and writes nothing.
TEST(IdlCompilerTool, BrokenInputReportsItsPositionAndLeavesNoOutputFile) {
    std::string dir = ::testing::TempDir() + "idlc_cli";
    mkdir(dir.c_str(), 0700);
    std::string idl = dir + "/broken.idl";
    std::string header = dir + "/broken_i.h";
    std::string err = dir + "/broken.err";
    std::remove(header.c_str());
    std::ofstream(idl)
        << "[object, uuid(11111111-2222-3333-4444-555555555555), dual]\n"
           "interface I : IDispatch { [id(1)] HRESULT F(); [id(1)] HRESULT F(); };\n";
    std::string cmd =
        std::string(ORVIK_IDLC_PATH) + " --header " + header + " " + idl + " 2>" + err;
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    struct stat st;
    EXPECT_NE(stat(header.c_str(), &st), 0) << "no header may be written";
    std::string message = readFile(err);
    EXPECT_EQ(message.rfind(idl + ":2:64: operation 'F' is declared twice", 0), 0u) << message;
}

// The C++ layer includes the header by its file name, between quotes: a name that
// cannot stand there is refused, and nothing is written.
TEST(IdlCompilerTool, AHeaderNameThatCannotBeIncludedIsRefused) {
    std::string dir = ::testing::TempDir() + "idlc_quote";
    mkdir(dir.c_str(), 0700);
    std::string layer = dir + "/layer.hpp", header = dir + "/a\"b_i.h";
    std::remove(layer.c_str());
    std::remove(header.c_str());
    std::string cmd = std::string(ORVIK_IDLC_PATH) + " --header '" + dir + "/a\"b_i.h' --cpp " +
                      layer + " " + ORVIK_IDL_PATH + " 2>/dev/null";
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    struct stat st;
    EXPECT_NE(stat(layer.c_str(), &st), 0);
    EXPECT_NE(stat(header.c_str(), &st), 0);
}

} // namespace
