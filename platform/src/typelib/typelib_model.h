// platform/src/typelib_model.h: a loaded type library, as plain data
//
// What the reader makes of a library file and what the ITypeLib and ITypeInfo
// objects serve. Type descriptions form a small tree per element: each node is a
// VT, and VT_PTR and VT_SAFEARRAY nodes point at their target node, VT_USERDEFINED
// nodes carry a reference handle resolved through the library.
#ifndef ORVIK_PLATFORM_TYPELIB_MODEL_H
#define ORVIK_PLATFORM_TYPELIB_MODEL_H

#include "orvik/platform/typelib.h"

#include <map>
#include <string>
#include <vector>

namespace orvik::tlb {

struct TypeNode {
    VARTYPE vt = VT_EMPTY;
    int target = -1;       // for VT_PTR and VT_SAFEARRAY: index of the target node
    HREFTYPE hreftype = 0; // for VT_USERDEFINED
};

/// A parameter's default: an integer type (value in integer), VT_R4/VT_R8 (real),
/// VT_CY/VT_DATE (their 8 bytes in integer), or VT_BSTR (text).
struct DefaultValue {
    VARTYPE vt = VT_EMPTY;
    int64_t integer = 0;
    double real = 0;
    std::u16string text;
};

struct Param {
    std::u16string name; // empty when unnamed
    USHORT flags = 0;
    int type = -1; // node index
    bool hasDefault = false;
    DefaultValue defaultValue;
};

struct Func {
    MEMBERID memid = 0;
    FUNCKIND funckind = FUNC_PUREVIRTUAL;
    INVOKEKIND invkind = INVOKE_FUNC;
    CALLCONV callconv = CC_STDCALL;
    int slot = 0;
    WORD funcFlags = 0;
    std::u16string name, doc;
    int returnType = -1;
    std::vector<Param> params;
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
    std::vector<Func> funcs;
    std::vector<ImplType> implTypes;
    int vtableSlots = 0; // table size, inherited slots included
    ULONG instanceSize = 0;
    WORD alignment = 4;
};

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
    std::u16string name, doc;
    std::vector<Type> types;
    std::vector<TypeNode> nodes;
    std::map<HREFTYPE, ImportedType> imports;
    /// The reference handle of local type i.
    static HREFTYPE localHref(size_t i) { return HREFTYPE(i * 100); }
    /// The local type a reference handle names, or -1.
    int localIndex(HREFTYPE href) const {
        if (href % 100 || href / 100 >= types.size())
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

#endif // ORVIK_PLATFORM_TYPELIB_MODEL_H
