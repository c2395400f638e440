// platform/src/typelib/model/library.h: a loaded type library, as plain data
//
// What the reader makes of a library file and what the ITypeLib and ITypeInfo
// objects serve. Type descriptions form a small tree per element: each node is a
// VT, and VT_PTR and VT_SAFEARRAY nodes point at their target node, VT_USERDEFINED
// nodes carry a reference handle resolved through the library.
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_MODEL_LIBRARY_H
#define ORVIK_PLATFORM_SRC_TYPELIB_MODEL_LIBRARY_H

#include "orvik/platform/typelib.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvik::tlb {

struct TypeNode {
    VARTYPE vt = VT_EMPTY;
    int target = -1;                    // VT_PTR, VT_SAFEARRAY and VT_CARRAY: the target node
    HREFTYPE hreftype = 0;              // for VT_USERDEFINED
    std::vector<SAFEARRAYBOUND> bounds; // for VT_CARRAY, dimension 1 first
};

/// A parameter's default: an integer type (value in integer), VT_R4/VT_R8 (real),
/// VT_CY/VT_DATE (their 8 bytes in integer), or VT_BSTR (text).
struct DefaultValue {
    VARTYPE vt = VT_EMPTY;
    int64_t integer = 0;
    double real = 0;
    std::u16string text;
};

/// An integer type a default kept in a record may have.
inline bool isIntegerType(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_BOOL:
    case VT_ERROR:
        return true;
    default:
        return false;
    }
}

/// A number whose bytes are its value: the integers, the 64-bit ones, the reals,
/// currency and dates.
inline bool isPlainNumber(VARTYPE vt) {
    return isIntegerType(vt) || vt == VT_I8 || vt == VT_UI8 || vt == VT_R4 || vt == VT_R8 ||
           vt == VT_CY || vt == VT_DATE;
}

/// Custom data: values a library attaches to itself, a type or a member by GUID.
struct CustDatum {
    GUID guid{};
    DefaultValue value;
};
using CustData = std::vector<CustDatum>;

struct Param {
    std::u16string name; // empty when unnamed
    USHORT flags = 0;
    int type = -1; // node index
    bool hasDefault = false;
    DefaultValue defaultValue;
    CustData custData;
};

struct Func {
    MEMBERID memid = 0;
    FUNCKIND funckind = FUNC_PUREVIRTUAL;
    INVOKEKIND invkind = INVOKE_FUNC;
    CALLCONV callconv = CC_STDCALL;
    int slot = 0;
    WORD funcFlags = 0;
    std::u16string name, doc;
    DWORD helpContext = 0, helpStringContext = 0;
    int returnType = -1;
    std::vector<Param> params;
    std::u16string entryName; // a module function's entry point, by name
    WORD entryOrdinal = 0;    // or by ordinal (entryName empty)
    CustData custData;
    /// How a late-bound call of it is made: prepared on its first call, owned by the
    /// library's CallShapes, read and published with atomic loads and stores.
    mutable struct CallPlan* plan = nullptr;
};

/// A variable: a field of a record or union (at oInst), a constant of an enumeration
/// or module (value), or a property of a dispatch interface.
struct Var {
    MEMBERID memid = 0;
    std::u16string name, doc;
    DWORD helpContext = 0, helpStringContext = 0;
    VARKIND varkind = VAR_PERINSTANCE;
    WORD flags = 0;
    int type = -1; // node index
    ULONG oInst = 0;
    DefaultValue value;
    CustData custData;
};

struct ImplType {
    HREFTYPE hreftype = 0;
    INT flags = 0;
};

struct Type {
    TYPEKIND kind = TKIND_INTERFACE;
    GUID guid{};
    WORD flags = 0;
    WORD majorVersion = 0, minorVersion = 0;
    std::u16string name, doc;
    DWORD helpContext = 0, helpStringContext = 0;
    std::vector<Func> funcs;
    std::vector<Var> vars;
    std::vector<ImplType> implTypes;
    int vtableSlots = 0; // table size, inherited slots included
    ULONG instanceSize = 0;
    WORD alignment = 4;
    int aliasType = -1;     // TKIND_ALIAS: the node of the type it names
    std::u16string dllName; // TKIND_MODULE: the module file its functions live in
    CustData custData;
    /// Which function each dispatch identifier selects for a late-bound call: made
    /// on the first call, owned by the library's CallShapes, read and published with
    /// atomic loads and stores.
    mutable struct MemberTable* memberTable = nullptr;
    /// Every name GetIDsOfNames finds for the type, bases included: made on its first
    /// call, owned and published as the member table is.
    mutable struct NameIndex* nameIndex = nullptr;
    /// Prepared late-bound calls of the commonest shapes, by dispatch identifier and
    /// call kind (invoke/fast_call.h): each slot is set once, by the first member
    /// whose call fits, and read with atomic loads.
    static constexpr size_t kFastCalls = 32;
    mutable const struct FastCall* fastCalls[kFastCalls] = {};
    /// A dual interface stored as a dispatch description: its table description is
    /// a partner with the same members, reached through GetRefTypeOfImplType(-1).
    bool isDualDispatch() const { return kind == TKIND_DISPATCH && (flags & TYPEFLAG_FDUAL); }
};

/// The prepared call descriptions of a library's functions and the member tables of
/// its types, made on their first late-bound call (typelib_invoke.cpp).
struct CallShapes;
struct CallPlan;
struct MemberTable;
std::shared_ptr<CallShapes> makeCallShapes();

/// A type of another library that a reference handle names.
struct ImportedType {
    GUID libid{};
    WORD majorVersion = 0, minorVersion = 0;
    GUID guid{};
};

struct Library {
    GUID libid{};
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    WORD majorVersion = 0, minorVersion = 0, flags = 0;
    std::u16string name, doc, helpFile;
    DWORD helpContext = 0, helpStringContext = 0;
    CustData custData;
    std::vector<Type> types;
    std::vector<TypeNode> nodes;
    std::map<HREFTYPE, ImportedType> imports;
    std::shared_ptr<CallShapes> callShapes = makeCallShapes();
    /// The reference handle of local type i.
    static HREFTYPE localHref(size_t i) { return HREFTYPE(i * 100); }
    /// The local type a reference handle names, or -1.
    int localIndex(HREFTYPE href) const {
        if (href % 100 || href / 100 >= types.size())
            return -1;
        return int(href / 100);
    }
    /// The handle of the table partner of dual dispatch type i. No file uses it: a
    /// local handle is a multiple of 100, an imported one is odd.
    static HREFTYPE partnerHref(size_t i) { return HREFTYPE(i * 100 + 2); }
    /// The dual dispatch type whose partner a handle names, or -1.
    int partnerIndex(HREFTYPE href) const {
        if (href % 100 != 2 || href / 100 >= types.size() || !types[href / 100].isDualDispatch())
            return -1;
        return int(href / 100);
    }
};

/// Reads an "MSFT" library. S_OK, or a TYPE_E_ code for anything malformed.
HRESULT readLibrary(const uint8_t* data, size_t size, Library& out);

/// The standard automation library (stdole2.tlb: IUnknown and IDispatch), built in
/// because no file of it exists on this host.
const Library& standardLibrary();
extern const GUID kStdOleLibid;

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_MODEL_LIBRARY_H
