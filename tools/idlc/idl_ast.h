// tools/idlc/idl_ast.h: the parsed interface definition
//
// One parse of the definition feeds every writer (the C/C++ header, the operation
// listing and the binary interface library), so the writers cannot disagree about
// slots, dispatch identifiers or defaults. Slot numbers are not stored: an
// operation's slot is 7 plus its position among the interface's own operations.
#ifndef ORVIK_TOOLS_IDLC_IDL_AST_H
#define ORVIK_TOOLS_IDLC_IDL_AST_H

#include "orvik/platform/guid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace orvik::idl {

struct SourceLocation {
    int line = 0;
    int column = 0;
};

/// The automation types the definition may use.
enum class BaseType {
    Void,
    HResult,
    Double,
    Float,
    Long,
    Int,
    Short,
    Byte,
    VariantBool,
    Bstr,
    Variant,
    Unknown,   // IUnknown
    Dispatch,  // IDispatch
    Interface, // an interface the definition declares
    SafeArray, // SAFEARRAY(element)
};

struct TypeRef {
    BaseType base = BaseType::Void;
    std::string interfaceName;         // for Interface
    BaseType element = BaseType::Void; // for SafeArray
    int pointerDepth = 0;

    bool isInterfacePointer() const {
        return (base == BaseType::Interface || base == BaseType::Unknown ||
                base == BaseType::Dispatch) &&
               pointerDepth >= 1;
    }
};

/// A literal given to defaultvalue(): an integer or a real, exactly as written.
struct DefaultValue {
    bool isInteger = true;
    int64_t integer = 0;
    double real = 0;
};

struct Parameter {
    std::string name; // empty when the definition gives none
    TypeRef type;
    bool in = false;
    bool out = false;
    bool retval = false;
    bool optional = false;
    std::optional<DefaultValue> defaultValue;
    SourceLocation location;
};

enum class InvokeKind { Method, PropertyGet, PropertyPut, PropertyPutRef };

struct Operation {
    std::string name;
    InvokeKind kind = InvokeKind::Method;
    int32_t dispid = 0;
    std::string helpString;
    TypeRef returnType;
    std::vector<Parameter> params;
    SourceLocation location;
};

struct Interface {
    std::string name;
    GUID iid{};
    std::string base; // "IDispatch", "IUnknown" or a declared interface
    bool dual = false;
    bool oleAutomation = false;
    std::string helpString;
    std::vector<Operation> operations;
    SourceLocation location;
};

struct CoclassMember {
    std::string interfaceName;
    bool isDefault = false;
    bool isSource = false;
};

struct Coclass {
    std::string name;
    GUID clsid{};
    std::string helpString;
    std::vector<CoclassMember> interfaces;
    SourceLocation location;
};

struct ImportedLibrary {
    std::string fileName;
};

/// The library block; its items are kept in the order the definition gives them.
struct Library {
    std::string name;
    GUID libid{};
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
    uint32_t lcid = 0;
    std::string helpString;
    std::vector<ImportedLibrary> imports;
    struct Item {
        enum Kind { CoclassItem, InterfaceItem } kind;
        std::string name;
    };
    std::vector<Item> items;
};

struct Definition {
    std::vector<std::string> imports;
    std::vector<Interface> interfaces; // in definition order; only ever appended to
    std::vector<Coclass> coclasses;    // likewise
    std::optional<Library> library;

    /// Lookups by name in constant time: each index takes in what was appended since
    /// it was last asked, so a definition of any size is compiled in linear time.
    const Interface* findInterface(const std::string& name) const;
    const Coclass* findCoclass(const std::string& name) const;

private:
    mutable std::unordered_map<std::string, size_t> m_interfaceIndex, m_coclassIndex;
    mutable size_t m_interfacesIndexed = 0, m_coclassesIndexed = 0;
};

/// Slot of an operation in the interface's table: after IUnknown's three and
/// IDispatch's four (or IUnknown's alone for an interface derived from IUnknown).
int firstOwnSlot(const Definition& def, const Interface& itf);

/// Every operation in the table of itf that the definition declares, its bases' first
/// (IUnknown's and IDispatch's own are not among them).
std::vector<const Operation*> tableOperations(const Definition& def, const Interface& itf);

/// The type descriptions of the library in index order: each library item in turn,
/// a coclass followed by its interfaces, an interface followed by the interfaces
/// its operations refer to that are not yet listed (depth first, in parameter order).
struct TypeEntry {
    enum Kind { CoclassEntry, InterfaceEntry } kind;
    std::string name;
};
std::vector<TypeEntry> libraryTypeOrder(const Definition& def);

const char* invokeKindName(InvokeKind kind);

} // namespace orvik::idl

#endif // ORVIK_TOOLS_IDLC_IDL_AST_H
