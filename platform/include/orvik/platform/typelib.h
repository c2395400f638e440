/* orvik/platform/typelib.h: type libraries and type information
 *
 * The automation runtime's description of interfaces and classes: ITypeLib for a
 * library, ITypeInfo (and ITypeInfo2) for one type, with the published structures
 * they hand out. Both interfaces keep the full published method order; methods
 * this platform does not provide answer E_NOTIMPL, so a client compiled against
 * the published declarations always reaches the right slot.
 */
#ifndef ORVIK_PLATFORM_TYPELIB_H
#define ORVIK_PLATFORM_TYPELIB_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/guid.h"
#include "orvik/platform/interfaces.h"
#include "orvik/platform/variant.h"

typedef DWORD HREFTYPE;

typedef enum tagTYPEKIND {
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX
} TYPEKIND;

typedef enum tagSYSKIND { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 } SYSKIND;
typedef enum tagFUNCKIND {
    FUNC_VIRTUAL = 0,
    FUNC_PUREVIRTUAL,
    FUNC_NONVIRTUAL,
    FUNC_STATIC,
    FUNC_DISPATCH
} FUNCKIND;
typedef enum tagINVOKEKIND {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8
} INVOKEKIND;
typedef enum tagCALLCONV {
    CC_FASTCALL = 0,
    CC_CDECL = 1,
    CC_MSCPASCAL,
    CC_PASCAL = CC_MSCPASCAL,
    CC_MACPASCAL,
    CC_STDCALL,
    CC_FPFASTCALL,
    CC_SYSCALL,
    CC_MPWCDECL,
    CC_MPWPASCAL,
    CC_MAX
} CALLCONV;
typedef enum tagVARKIND { VAR_PERINSTANCE = 0, VAR_STATIC, VAR_CONST, VAR_DISPATCH } VARKIND;
typedef enum tagDESCKIND {
    DESCKIND_NONE = 0,
    DESCKIND_FUNCDESC,
    DESCKIND_VARDESC,
    DESCKIND_TYPECOMP,
    DESCKIND_IMPLICITAPPOBJ,
    DESCKIND_MAX
} DESCKIND;

#define TYPEFLAG_FAPPOBJECT 0x1
#define TYPEFLAG_FCANCREATE 0x2
#define TYPEFLAG_FLICENSED 0x4
#define TYPEFLAG_FPREDECLID 0x8
#define TYPEFLAG_FHIDDEN 0x10
#define TYPEFLAG_FCONTROL 0x20
#define TYPEFLAG_FDUAL 0x40
#define TYPEFLAG_FNONEXTENSIBLE 0x80
#define TYPEFLAG_FOLEAUTOMATION 0x100
#define TYPEFLAG_FRESTRICTED 0x200
#define TYPEFLAG_FAGGREGATABLE 0x400
#define TYPEFLAG_FREPLACEABLE 0x800
#define TYPEFLAG_FDISPATCHABLE 0x1000
#define TYPEFLAG_FREVERSEBIND 0x2000

#define VARFLAG_FREADONLY 0x1
#define VARFLAG_FSOURCE 0x2
#define VARFLAG_FBINDABLE 0x4
#define VARFLAG_FREQUESTEDIT 0x8
#define VARFLAG_FDISPLAYBIND 0x10
#define VARFLAG_FDEFAULTBIND 0x20
#define VARFLAG_FHIDDEN 0x40

#define IMPLTYPEFLAG_FDEFAULT 0x1
#define IMPLTYPEFLAG_FSOURCE 0x2
#define IMPLTYPEFLAG_FRESTRICTED 0x4

#define PARAMFLAG_NONE 0x00
#define PARAMFLAG_FIN 0x01
#define PARAMFLAG_FOUT 0x02
#define PARAMFLAG_FLCID 0x04
#define PARAMFLAG_FRETVAL 0x08
#define PARAMFLAG_FOPT 0x10
#define PARAMFLAG_FHASDEFAULT 0x20
#define PARAMFLAG_FHASCUSTDATA 0x40

#define LIBFLAG_FRESTRICTED 0x1
#define LIBFLAG_FCONTROL 0x2
#define LIBFLAG_FHIDDEN 0x4
#define LIBFLAG_FHASDISKIMAGE 0x8

#define MEMBERID_NIL DISPID_UNKNOWN

typedef struct tagTYPEDESC TYPEDESC;
typedef struct tagARRAYDESC ARRAYDESC;
struct tagTYPEDESC {
    ORVIK_UNNAMED union {
        TYPEDESC* lptdesc;
        ARRAYDESC* lpadesc;
        HREFTYPE hreftype;
    };
    VARTYPE vt;
};
struct tagARRAYDESC {
    TYPEDESC tdescElem;
    USHORT cDims;
    SAFEARRAYBOUND rgbounds[1];
};

typedef struct tagPARAMDESCEX {
    ULONG cBytes;
    VARIANTARG varDefaultValue;
} PARAMDESCEX;
typedef PARAMDESCEX* LPPARAMDESCEX;

typedef struct tagPARAMDESC {
    LPPARAMDESCEX pparamdescex;
    USHORT wParamFlags;
} PARAMDESC;

typedef struct tagIDLDESC {
    ULONG_PTR dwReserved;
    USHORT wIDLFlags;
} IDLDESC;

typedef struct tagELEMDESC {
    TYPEDESC tdesc;
    ORVIK_UNNAMED union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
} ELEMDESC;

typedef struct tagFUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
} FUNCDESC;

typedef struct tagVARDESC {
    MEMBERID memid;
    LPOLESTR lpstrSchema;
    ORVIK_UNNAMED union {
        ULONG oInst;
        VARIANT* lpvarValue;
    };
    ELEMDESC elemdescVar;
    WORD wVarFlags;
    VARKIND varkind;
} VARDESC;

typedef struct tagTYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
} TYPEATTR;

typedef struct tagTLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
} TLIBATTR;

typedef struct tagCUSTDATAITEM {
    GUID guid;
    VARIANTARG varValue;
} CUSTDATAITEM;
typedef struct tagCUSTDATA {
    DWORD cCustData;
    CUSTDATAITEM* prgCustData;
} CUSTDATA;

/* Custom data of every function of this platform's type information: the help
 * string of that very function (a BSTR). GetDocumentation finds a member by its id,
 * which a property's get and put share; this reaches the put's own text. */
static const GUID ORVIK_CUSTDATA_FUNC_HELPSTRING __attribute__((unused)) = {
    0x6F72766B, 0x6866, 0x4865, {0x6C, 0x70, 0x53, 0x74, 0x72, 0x69, 0x6E, 0x67}};

#ifdef __cplusplus
struct ITypeLib;
struct ITypeLib2;
struct ITypeComp;
#else
typedef struct ITypeLib ITypeLib;
typedef struct ITypeComp ITypeComp;
typedef struct ITypeInfo2 ITypeInfo2;
typedef struct ITypeLib2 ITypeLib2;
#endif

#if defined(__cplusplus) && !defined(CINTERFACE)

struct ITypeInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** ppVarDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                                               UINT* pcNames) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames,
                                                    MEMBERID* pMemId) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                                             DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                             EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName,
                                                       BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                                       BSTR* pBstrHelpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind,
                                                  BSTR* pBstrDllName, BSTR* pBstrName,
                                                  WORD* pwOrdinal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND invKind,
                                                      PVOID* ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     PVOID* ppvObj) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR* pBstrMops) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) = 0;
    virtual void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) = 0;
    virtual void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) = 0;
    virtual void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* pVarDesc) = 0;
    ORVIK_INTERFACE_DESTRUCTOR(ITypeInfo)
};

struct ITypeInfo2 : public ITypeInfo {
    virtual HRESULT STDMETHODCALLTYPE GetTypeKind(TYPEKIND* pTypeKind) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeFlags(ULONG* pTypeFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind,
                                                          UINT* pFuncIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVarIndexOfMemId(MEMBERID memid, UINT* pVarIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCustData(REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFuncCustData(UINT index, REFGUID guid,
                                                      VARIANT* pVarVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParamCustData(UINT indexFunc, UINT indexParam,
                                                       REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVarCustData(UINT index, REFGUID guid,
                                                     VARIANT* pVarVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetImplTypeCustData(UINT index, REFGUID guid,
                                                          VARIANT* pVarVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation2(MEMBERID memid, LCID lcid,
                                                        BSTR* pbstrHelpString,
                                                        DWORD* pdwHelpStringContext,
                                                        BSTR* pbstrHelpStringDll) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllCustData(CUSTDATA* pCustData) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllFuncCustData(UINT index, CUSTDATA* pCustData) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllParamCustData(UINT indexFunc, UINT indexParam,
                                                          CUSTDATA* pCustData) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllVarCustData(UINT index, CUSTDATA* pCustData) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllImplTypeCustData(UINT index, CUSTDATA* pCustData) = 0;
    ORVIK_INTERFACE_DESTRUCTOR(ITypeInfo2)
};

struct ITypeLib : public IUnknown {
    virtual UINT STDMETHODCALLTYPE GetTypeInfoCount() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName,
                                                       BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                                       BSTR* pBstrHelpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG lHashVal,
                                               ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                                               USHORT* pcFound) = 0;
    virtual void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;
    ORVIK_INTERFACE_DESTRUCTOR(ITypeLib)
};

struct ITypeLib2 : public ITypeLib {
    virtual HRESULT STDMETHODCALLTYPE GetCustData(REFGUID guid, VARIANT* pVarVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLibStatistics(ULONG* pcUniqueNames,
                                                       ULONG* pcchUniqueNames) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation2(INT index, LCID lcid, BSTR* pbstrHelpString,
                                                        DWORD* pdwHelpStringContext,
                                                        BSTR* pbstrHelpStringDll) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllCustData(CUSTDATA* pCustData) = 0;
    ORVIK_INTERFACE_DESTRUCTOR(ITypeLib2)
};

#endif /* C++ view */

/* Loads a library file (an "MSFT" type library). A file that is missing gives
 * TYPE_E_CANTLOADLIBRARY; one that is truncated, corrupted or oversized gives a
 * TYPE_E_ code, never a crash. */
STDAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) ORVIK_NOEXCEPT;
/* Loads the registered library of that identifier and version: the locale as
 * given, then its neutral sub-language, then 0; a caller without a locale of its
 * own (0, LOCALE_USER_DEFAULT 0x400, LOCALE_SYSTEM_DEFAULT 0x800) then takes any
 * locale the library is registered for. TYPE_E_LIBNOTREGISTERED when none is. */
STDAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                      ITypeLib** pptlib) ORVIK_NOEXCEPT;
/* Records the library (path, help directory) and its dual interfaces in the
 * registry under HKEY_CLASSES_ROOT\TypeLib and \Interface. */
STDAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) ORVIK_NOEXCEPT;
/* Removes what RegisterTypeLib recorded for that library. */
STDAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                         SYSKIND syskind) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_TYPELIB_H */
