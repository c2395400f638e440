// platform/typelib_format/msft_format.h: the record layouts of "MSFT" type libraries
//
// Shared by the library writer (the interface compiler) and the reader (the
// platform's LoadTypeLib), so that both agree on every offset. The layouts follow the
// public description of the format: a header, the offsets of the type records,
// a directory of fifteen segments, the segments, then per-type blocks of function
// records. All numbers are little-endian, all records 4-byte aligned.
//
// Choices where the description leaves room, made once here:
//  - A type code is a 32-bit value: negative means a base type, with the VT in its
//    low 12 bits (written as 0x80000000 | vt << 16 | vt); otherwise it is the offset
//    of an 8-byte type descriptor in the type-descriptor segment.
//  - A type descriptor is {vt, flags, reference}: VT_PTR and VT_SAFEARRAY refer to
//    their target by type code, VT_USERDEFINED to its type by reference handle.
//  - A reference handle (hreftype) is the offset of a type record in the type-info
//    table, or, with the low bit set, the offset of an import record plus one.
//  - Function records store the table slot times 4 (the 32-bit table layout); the
//    reader scales it to this host's pointer size.
//  - A parameter default that is a 32-bit integer fitting 24 signed bits is kept in
//    the record (high bit set); any other default (a double) is a custom-data entry
//    {VT, value} referred to by offset.
//  - The name and GUID hash segments are written empty (-1); readers look names
//    and GUIDs up by scanning.
#ifndef ORVIK_PLATFORM_TYPELIB_FORMAT_MSFT_FORMAT_H
#define ORVIK_PLATFORM_TYPELIB_FORMAT_MSFT_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace orvik::msft {

constexpr int32_t kMagic = 0x5446534D; // "MSFT"
constexpr int32_t kFormatVersion = 0x00010002;
constexpr int kSegmentCount = 15;

enum SegmentIndex {
    kTypeInfoTable,
    kImportInfo,
    kImportFiles,
    kRefTable,
    kLibTable,
    kGuidTable,
    kNameHash,
    kNameTable,
    kStringTable,
    kTypeDescs,
    kArrayDescs,
    kCustData,
    kGuidOffsets, // the custom-data directory: CustDataEntry records
    kUnknown02,
    kUnknown03,
};

#pragma pack(push, 1)

struct Header {
    int32_t magic1;
    int32_t magic2;
    int32_t posguid; // offset of the library's GUID in the GUID table
    int32_t lcid;
    int32_t lcid2;
    int32_t varflags; // low 4 bits: the SYSKIND
    int32_t version;  // major in the low word, minor in the high word
    int32_t flags;    // library flags
    int32_t nrtypeinfos;
    int32_t helpstring; // string table offsets (-1: none)
    int32_t helpstringcontext;
    int32_t helpcontext;
    int32_t nametablecount;
    int32_t nametablechars;
    int32_t NameOffset; // the library's name, in the string table
    int32_t helpfile;
    int32_t CustomDataOffset;
    int32_t res44;       // 0x20
    int32_t res48;       // 0x80
    int32_t dispatchpos; // hreftype of IDispatch
    int32_t nimpinfos;
};
static_assert(sizeof(Header) == 84);

struct SegDesc {
    int32_t offset; // -1 when absent
    int32_t length;
    int32_t res08; // -1
    int32_t res0c; // 0x0F
};
static_assert(sizeof(SegDesc) == 16);

struct TypeInfoRecord {
    int32_t typekind;  // low 4 bits TYPEKIND, bits 11-15 alignment
    int32_t memoffset; // file offset of the function block, or file length + 1
    int32_t res2;
    int32_t res3;
    int32_t res4; // 3
    int32_t res5;
    int16_t cFuncs;
    int16_t cVars;
    int32_t res7;
    int32_t res8;
    int32_t res9;
    int32_t resA;
    int32_t posguid;
    int32_t flags; // TYPEFLAGs
    int32_t NameOffset;
    int32_t version; // major low word, minor high word
    int32_t docstringoffs;
    int32_t helpstringcontext;
    int32_t helpcontext;
    int32_t oCustData;
    int16_t cImplTypes;
    int16_t cbSizeVft; // table slots (inherited included) times 4
    int32_t size;      // instance size
    int32_t datatype1; // coclass: first reference record; interface: base hreftype
    int32_t datatype2;
    int32_t res18;
    int32_t res19;
};
static_assert(sizeof(TypeInfoRecord) == 100);

struct ImpInfo {
    int16_t count;
    uint8_t flags; // 1: oGuid is a GUID table offset
    uint8_t tkind;
    int32_t oImpFile;
    int32_t oGuid;
};
static_assert(sizeof(ImpInfo) == 12);

struct ImpFile {
    int32_t oGuid;
    int32_t lcid;
    uint16_t majorVersion;
    uint16_t minorVersion;
    uint16_t nameLengthTimes4; // the file name follows, padded to 4 bytes
};
static_assert(sizeof(ImpFile) == 14);

struct RefRecord {
    int32_t reftype; // hreftype of the implemented interface
    int32_t flags;   // IMPLTYPEFLAGs
    int32_t oCustData;
    int32_t onext; // next record of the same coclass, or -1
};
static_assert(sizeof(RefRecord) == 16);

struct GuidEntry {
    uint8_t guid[16];
    int32_t hreftype;
    int32_t nextHash;
};
static_assert(sizeof(GuidEntry) == 24);

struct NameEntry {
    int32_t hreftype; // type record of the name's owner, or -1
    int32_t nextHash;
    uint8_t length;
    uint8_t flags;
    uint16_t hash;
    // the characters follow, padded to 4 bytes
};
static_assert(sizeof(NameEntry) == 12);

struct TypeDesc {
    uint16_t vt;
    uint16_t flags;
    int32_t reference; // type code (VT_PTR, VT_SAFEARRAY), hreftype (VT_USERDEFINED), or
                       // array descriptor offset (VT_CARRAY)
};
static_assert(sizeof(TypeDesc) == 8);

// A fixed-size array: its element's type code and its dimensions, each followed by
// a bound (element count, lower bound).
struct ArrayDescFixed {
    int32_t elementType;
    uint16_t dimensions;
    uint16_t elementVt;
};
static_assert(sizeof(ArrayDescFixed) == 8);
struct ArrayBound {
    uint32_t elements;
    int32_t lowerBound;
};
static_assert(sizeof(ArrayBound) == 8);

// A variable record: a field, constant or dispatch property. Optional fields follow
// while the record's size leaves room: help context, help string, a reserved word,
// custom data, help-string context.
struct VarRecordFixed {
    uint16_t recordSize;
    uint16_t index;
    int32_t type;      // a type code
    uint16_t varFlags; // VARFLAGs
    uint16_t reserved;
    uint16_t varKind; // VARKIND
    uint16_t varDescSize;
    int32_t offsetOrValue; // a field's offset, or a constant's value word (as a default)
};
static_assert(sizeof(VarRecordFixed) == 20);

// An entry of custom data: its GUID and value, and the next entry of the same owner
// (-1 ends the chain). Owners name their first entry by its offset in the custom-
// data directory segment.
struct CustDataEntry {
    int32_t guidOffset; // in the GUID table
    int32_t dataOffset; // in the custom-data segment: a VARTYPE, then the value
    int32_t next;
};
static_assert(sizeof(CustDataEntry) == 12);

struct FuncRecordFixed {
    uint16_t recordSize; // the whole record, optional fields and parameters included
    uint16_t index;
    int32_t returnType;   // a type code
    int32_t flags;        // FUNCFLAGs
    int16_t vtableOffset; // slot times 4
    int16_t funcDescSize;
    int32_t fkccic; // funckind 0-2, invkind 3-6, callconv 8-11, bit 12: defaults present
    int16_t paramCount;
    int16_t optionalParamCount;
};
static_assert(sizeof(FuncRecordFixed) == 24);

// The optional fields of a function record, all present in records this format
// writes, followed by one default per parameter (when bit 12 of fkccic is set) and
// the parameter records.
struct FuncRecordOptional {
    int32_t helpcontext;
    int32_t helpstring;
    int32_t entry;
    int32_t res2;
    int32_t res3;
    int32_t helpstringcontext;
    int32_t oCustData;
};
static_assert(sizeof(FuncRecordOptional) == 28);

struct ParamRecord {
    int32_t type;  // a type code
    int32_t name;  // name table offset, -1 when unnamed
    int32_t flags; // PARAMFLAGs
};
static_assert(sizeof(ParamRecord) == 12);

#pragma pack(pop)

constexpr int32_t kFkccicHasDefaults = 1 << 12;
constexpr int32_t kFkccicHasArgCustData = 1 << 7;  // one custom-data word per parameter
constexpr int32_t kFkccicEntryIsOrdinal = 1 << 13; // a module function's entry field

// A parameter's default word: with the top bit set, the default itself, its VARTYPE
// in bits 26-30 and its value, unsigned, in bits 0-25; otherwise an offset into the
// custom-data segment, where the VARTYPE (16 bits) precedes the value.
constexpr uint32_t kDefaultInRecord = 0x80000000u;
// Every bit set: the parameter has a default, but no value is stored for it.
constexpr uint32_t kDefaultWithoutValue = 0xFFFFFFFFu;
// A GUID offset of -1: the type has no GUID (records, aliases and modules often
// have none), which reads as the null GUID.
constexpr int32_t kNoGuid = -1;
constexpr int kDefaultTypeShift = 26;
constexpr uint32_t kDefaultTypeMask = 0x1F;
constexpr uint32_t kDefaultValueMask = (1u << kDefaultTypeShift) - 1;
constexpr int32_t defaultInRecord(uint16_t vt, uint32_t value) {
    return int32_t(kDefaultInRecord | uint32_t(vt) << kDefaultTypeShift | value);
}

/// The word after an interface's base reference: the functions it inherits in the
/// high half, the interfaces in the low half.
constexpr int32_t inheritedMembers(int functions, int interfaces) {
    return int32_t(uint32_t(functions) << 16 | uint32_t(interfaces));
}

constexpr int32_t baseTypeCode(uint16_t vt) {
    return int32_t(0x80000000u | (uint32_t(vt) << 16) | vt);
}
constexpr bool isBaseTypeCode(int32_t code) {
    return code < 0;
}
constexpr uint16_t baseTypeOf(int32_t code) {
    return uint16_t(code & 0x0FFF);
}

constexpr int32_t kImportedTypeFlag = 1;      // low bit of an hreftype: an import record
constexpr uint8_t kImportByGuid = 1;          // ImpInfo.flags: oGuid is a GUID table offset
constexpr int32_t kHeaderHasFileName = 0x100; // Header.varflags: a file name field follows
constexpr int32_t kHeaderHasHelpFile = 0x10;  // Header.varflags: helpfile names a file

// What the reader accepts, and so what the writer may write.
/// Type descriptors chained below one type code (pointers, arrays).
constexpr int kMaxTypeDepth = 16;
/// Types in one library: the type directory counts them in 16 bits.
constexpr int32_t kMaxTypes = 0xFFFF;
/// Table slots of one interface, inherited ones included: the record keeps the
/// table's size in bytes in a signed 16-bit field.
constexpr int32_t kMaxTableSlots = 0x7FFF / 4;
/// The three arrays after a type's member records: an id, a name offset and a record
/// offset for each member, four bytes each.
constexpr size_t kMemberIndexBytes = 3 * 4;

/// The hash kept with each name: FNV-1a of the name folded to lower case, 16 bits.
inline uint16_t nameHash(const char* name, size_t length) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c + 32);
        h = (h ^ c) * 16777619u;
    }
    return uint16_t(h ^ (h >> 16));
}

} // namespace orvik::msft

#endif // ORVIK_PLATFORM_TYPELIB_FORMAT_MSFT_FORMAT_H
