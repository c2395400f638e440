// platform/src/typelib/reader/library_reader.cpp: reading "MSFT" type libraries safely
//
// Every offset and count in a library file comes from outside and is checked
// before it is used: segment extents against the file, records against their
// segment, names and strings against their table, type-descriptor chains against a
// depth limit (a cycle would otherwise never end). Anything that does not hold gives
// TYPE_E_INVDATAREAD (or TYPE_E_UNSUPFORMAT for a file of another kind), never a
// read outside the buffer.
//
// What a load may cost is bounded by the file's size: every member block and every
// record in it is read once (a block shared by two types, or records that overlap,
// are refused), a type descriptor shared by many parameters becomes one node, and
// the memory the model takes is counted as it grows, against a budget of a few
// megabytes plus a multiple of the file's size. An inheritance chain that comes
// back to itself is refused too, since every walk up a chain would never end.

#include "typelib/model/library.h"

#include "msft_format.h"

#include "orvik/platform/utf.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace orvik::tlb {

namespace {

using namespace orvik::msft;

struct ReadFailure {
    HRESULT hr;
};

[[noreturn]] void bad() {
    throw ReadFailure{TYPE_E_INVDATAREAD};
}

// The model's memory a load may take: this much, plus this many times the file.
constexpr size_t kBaseBudget = size_t(4) << 20;
constexpr size_t kBudgetPerFileByte = 32;

class Reader {
public:
    Reader(const uint8_t* data, size_t size)
        : m_data(data), m_size(size), m_budget(kBaseBudget + kBudgetPerFileByte * size) {}

    void read(Library& lib) {
        if (m_size < sizeof(Header))
            throw ReadFailure{m_size >= 4 && std::memcmp(m_data, "MSFT", 4) == 0
                                  ? TYPE_E_INVDATAREAD
                                  : TYPE_E_UNSUPFORMAT};
        Header h = at<Header>(0);
        if (h.magic1 != kMagic)
            throw ReadFailure{TYPE_E_UNSUPFORMAT};
        if (h.magic2 != kFormatVersion)
            throw ReadFailure{TYPE_E_UNSUPFORMAT};
        if (h.nrtypeinfos < 0 || h.nrtypeinfos > kMaxTypes || h.nimpinfos < 0)
            bad();
        size_t directory = sizeof(Header) + 4 * size_t(h.nrtypeinfos);
        if (h.varflags & kHeaderHasFileName)
            directory += 4; // the optional file name field
        for (int i = 0; i < kSegmentCount; ++i) {
            SegDesc d = at<SegDesc>(directory + sizeof(SegDesc) * size_t(i));
            if (d.offset == -1) {
                m_segments[i] = {0, 0};
                continue;
            }
            if (d.offset < 0 || d.length < 0 || size_t(d.offset) + size_t(d.length) > m_size)
                bad();
            m_segments[i] = {size_t(d.offset), size_t(d.length)};
        }

        lib.libid = guidAt(h.posguid);
        lib.lcid = LCID(h.lcid);
        if ((h.varflags & 0xF) > SYS_WIN64)
            bad();
        lib.syskind = SYSKIND(h.varflags & 0xF);
        lib.majorVersion = WORD(h.version & 0xFFFF);
        lib.minorVersion = WORD(uint32_t(h.version) >> 16);
        lib.flags = WORD(h.flags);
        lib.doc = stringAt(h.helpstring);
        lib.name = nameAt(h.NameOffset); // the name table, as in files of other tools
        if (h.varflags & kHeaderHasHelpFile)
            lib.helpFile = stringAt(h.helpfile);
        lib.helpContext = DWORD(h.helpcontext);
        lib.helpStringContext = DWORD(h.helpstringcontext);
        lib.custData = custDataAt(h.CustomDataOffset);
        m_dispatchHref = h.dispatchpos;
        readImports(lib, h.nimpinfos);

        if (size_t(h.nrtypeinfos) * sizeof(TypeInfoRecord) > m_segments[kTypeInfoTable].length)
            bad();
        lib.types.resize(size_t(h.nrtypeinfos));
        for (int32_t i = 0; i < h.nrtypeinfos; ++i)
            readType(lib, i, lib.types[size_t(i)]);
        // Every reference a library makes must lead somewhere.
        for (const Type& t : lib.types)
            for (const ImplType& impl : t.implTypes)
                checkHref(lib, impl.hreftype);
        for (const TypeNode& n : lib.nodes)
            if (n.vt == VT_USERDEFINED)
                checkHref(lib, n.hreftype);
        refuseInheritanceCycles(lib);
    }

private:
    struct Extent {
        size_t offset = 0, length = 0;
    };

    template <class T> T at(size_t offset) const {
        if (offset > m_size || sizeof(T) > m_size - offset)
            bad();
        T value;
        std::memcpy(&value, m_data + offset, sizeof(T));
        return value;
    }

    // A record of type T at offset within segment s.
    template <class T> T inSegment(int s, int64_t offset) const {
        const Extent& e = m_segments[s];
        if (offset < 0 || size_t(offset) > e.length || sizeof(T) > e.length - size_t(offset))
            bad();
        return at<T>(e.offset + size_t(offset));
    }

    GUID guidAt(int32_t offset) const {
        if (offset == kNoGuid)
            return GUID{};
        GuidEntry e = inSegment<GuidEntry>(kGuidTable, offset);
        GUID g;
        std::memcpy(&g, e.guid, 16);
        return g;
    }

    static std::u16string widen(const char* p, size_t n) {
        std::optional<std::u16string> text = toUtf16(std::string_view(p, n));
        if (!text)
            bad();
        return std::move(*text);
    }

    std::u16string nameAt(int32_t offset) const {
        if (offset == -1)
            return {};
        NameEntry e = inSegment<NameEntry>(kNameTable, offset);
        size_t start = size_t(offset) + sizeof(NameEntry);
        if (start + e.length > m_segments[kNameTable].length)
            bad();
        return widen(reinterpret_cast<const char*>(m_data + m_segments[kNameTable].offset + start),
                     e.length);
    }

    std::u16string stringAt(int32_t offset) const {
        if (offset == -1)
            return {};
        uint16_t length = inSegment<uint16_t>(kStringTable, offset);
        size_t start = size_t(offset) + 2;
        if (start + length > m_segments[kStringTable].length)
            bad();
        return widen(
            reinterpret_cast<const char*>(m_data + m_segments[kStringTable].offset + start),
            length);
    }

    void readImports(Library& lib, int32_t count) {
        if (size_t(count) * sizeof(ImpInfo) > m_segments[kImportInfo].length)
            bad();
        for (int32_t i = 0; i < count; ++i) {
            int32_t offset = i * int32_t(sizeof(ImpInfo));
            ImpInfo info = inSegment<ImpInfo>(kImportInfo, offset);
            if (!(info.flags & kImportByGuid))
                bad(); // only imports by GUID are written or read
            ImpFile file = inSegment<ImpFile>(kImportFiles, info.oImpFile);
            ImportedType t;
            t.libid = guidAt(file.oGuid);
            t.majorVersion = file.majorVersion;
            t.minorVersion = file.minorVersion;
            t.guid = guidAt(info.oGuid);
            lib.imports[HREFTYPE(offset | kImportedTypeFlag)] = t;
        }
    }

    // Each interface's chain of bases ends (in an import, or a type without a base)
    // within as many steps as there are types.
    static void refuseInheritanceCycles(const Library& lib) {
        for (const Type& start : lib.types) {
            const Type* t = &start;
            for (size_t steps = 0; t->kind != TKIND_COCLASS && !t->implTypes.empty(); ++steps) {
                HREFTYPE base = t->implTypes[0].hreftype;
                if (base & kImportedTypeFlag)
                    break;
                if (steps >= lib.types.size())
                    bad();
                t = &lib.types[size_t(lib.localIndex(base))];
            }
        }
    }

    // Counts memory the model takes; past the budget the file is refused.
    void spend(size_t bytes) {
        if (bytes > m_budget - m_spent)
            bad();
        m_spent += bytes;
    }
    void spendText(const std::u16string& text) { spend(text.size() * sizeof(char16_t)); }

    void checkHref(const Library& lib, HREFTYPE href) const {
        if (href & kImportedTypeFlag) {
            if (!lib.imports.count(href))
                bad();
        } else if (lib.localIndex(href) < 0) {
            bad();
        }
    }

    // The node index of a type code, descriptor chains followed to a fixed depth. A
    // code met before gives the node made then.
    int typeNode(Library& lib, int32_t code, int depth = 0) {
        if (depth > kMaxTypeDepth)
            bad();
        if (auto known = m_nodeOfCode.find(code); known != m_nodeOfCode.end())
            return known->second;
        int node = newTypeNode(lib, code, depth);
        m_nodeOfCode.emplace(code, node);
        return node;
    }

    int newTypeNode(Library& lib, int32_t code, int depth) {
        spend(sizeof(TypeNode) + 64); // the node and its entry in the map of codes
        if (isBaseTypeCode(code)) {
            VARTYPE vt = baseTypeOf(code);
            if (vt == VT_PTR || vt == VT_SAFEARRAY || vt == VT_USERDEFINED || vt == VT_CARRAY)
                bad();
            lib.nodes.push_back({vt, -1, 0, {}});
            return int(lib.nodes.size() - 1);
        }
        if (code % int32_t(sizeof(TypeDesc)))
            bad();
        TypeDesc d = inSegment<TypeDesc>(kTypeDescs, code);
        TypeNode node{VARTYPE(d.vt & VT_TYPEMASK), -1, 0, {}};
        switch (node.vt) {
        case VT_PTR:
        case VT_SAFEARRAY:
            node.target = typeNode(lib, d.reference, depth + 1);
            break;
        case VT_USERDEFINED:
            node.hreftype = HREFTYPE(d.reference);
            break;
        case VT_CARRAY: {
            ArrayDescFixed a = inSegment<ArrayDescFixed>(kArrayDescs, d.reference);
            if (a.dimensions == 0)
                bad();
            spend(a.dimensions * sizeof(SAFEARRAYBOUND));
            for (uint16_t i = 0; i < a.dimensions; ++i) {
                ArrayBound b = inSegment<ArrayBound>(
                    kArrayDescs, int64_t(d.reference) + int64_t(sizeof a + i * sizeof(ArrayBound)));
                node.bounds.push_back({b.elements, b.lowerBound});
            }
            node.target = typeNode(lib, a.elementType, depth + 1);
            break;
        }
        default:
            bad();
        }
        lib.nodes.push_back(node);
        return int(lib.nodes.size() - 1);
    }

    // A default kept in the record, or in the custom-data segment behind its type.
    DefaultValue defaultAt(int32_t word) const {
        DefaultValue d;
        if (uint32_t(word) == kDefaultWithoutValue)
            return d; // empty
        if (uint32_t(word) & kDefaultInRecord) {
            d.vt = VARTYPE((uint32_t(word) >> kDefaultTypeShift) & kDefaultTypeMask);
            if (!isIntegerType(d.vt))
                bad();
            d.integer = int64_t(uint32_t(word) & kDefaultValueMask);
            return d;
        }
        return customValueAt(word);
    }

    // A value in the custom-data segment: its VARTYPE (16 bits), then the value.
    DefaultValue customValueAt(int32_t offset) const {
        DefaultValue d;
        d.vt = inSegment<uint16_t>(kCustData, offset);
        int64_t value = int64_t(offset) + 2;
        switch (d.vt) {
        case VT_I1:
            d.integer = inSegment<int8_t>(kCustData, value);
            break;
        case VT_UI1:
            d.integer = inSegment<uint8_t>(kCustData, value);
            break;
        case VT_I2:
        case VT_BOOL:
            d.integer = inSegment<int16_t>(kCustData, value);
            break;
        case VT_UI2:
            d.integer = inSegment<uint16_t>(kCustData, value);
            break;
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            d.integer = inSegment<int32_t>(kCustData, value);
            break;
        case VT_UI4:
        case VT_UINT:
            d.integer = inSegment<uint32_t>(kCustData, value);
            break;
        case VT_I8:
        case VT_UI8:
        case VT_CY:
        case VT_DATE:
            d.integer = inSegment<int64_t>(kCustData, value);
            break;
        case VT_R4:
            d.real = inSegment<float>(kCustData, value);
            break;
        case VT_R8:
            d.real = inSegment<double>(kCustData, value);
            break;
        case VT_BSTR: { // a 32-bit length, then the text
            uint32_t length = inSegment<uint32_t>(kCustData, value);
            size_t start = size_t(value) + 4;
            if (length > m_segments[kCustData].length ||
                start + length > m_segments[kCustData].length)
                bad();
            d.text =
                widen(reinterpret_cast<const char*>(m_data + m_segments[kCustData].offset + start),
                      length);
            break;
        }
        default:
            bad();
        }
        return d;
    }

    // The custom data whose first entry is at offset of the directory segment.
    CustData custDataAt(int32_t offset) {
        CustData data;
        std::set<int32_t> seen;
        while (offset != -1) {
            if (!seen.insert(offset).second)
                bad(); // the chain comes back to itself
            CustDataEntry e = inSegment<CustDataEntry>(kGuidOffsets, offset);
            spend(sizeof(CustDatum));
            data.push_back({guidAt(e.guidOffset), customValueAt(e.dataOffset)});
            spendText(data.back().value.text);
            offset = e.next;
        }
        return data;
    }

    void readType(Library& lib, int32_t index, Type& t) {
        TypeInfoRecord r = inSegment<TypeInfoRecord>(kTypeInfoTable, index * int32_t(sizeof r));
        if ((r.typekind & 0xF) >= TKIND_MAX)
            bad();
        t.kind = TYPEKIND(r.typekind & 0xF);
        t.alignment = WORD((r.typekind >> 11) & 0x1F);
        t.guid = guidAt(r.posguid);
        t.flags = WORD(r.flags);
        t.majorVersion = WORD(r.version & 0xFFFF);
        t.minorVersion = WORD(uint32_t(r.version) >> 16);
        t.name = nameAt(r.NameOffset);
        t.doc = stringAt(r.docstringoffs);
        spendText(t.name);
        spendText(t.doc);
        t.helpContext = DWORD(r.helpcontext);
        t.helpStringContext = DWORD(r.helpstringcontext);
        t.custData = custDataAt(r.oCustData);
        t.instanceSize = ULONG(r.size);
        if (r.cImplTypes < 0 || r.cFuncs < 0 || r.cVars < 0 || r.cbSizeVft < 0 || r.cbSizeVft % 4)
            bad();
        t.vtableSlots = r.cbSizeVft / 4;
        switch (t.kind) {
        case TKIND_COCLASS: {
            std::set<int32_t> seen;
            int32_t ref = r.datatype1;
            for (int i = 0; i < r.cImplTypes; ++i) {
                if (!seen.insert(ref).second)
                    bad(); // a cycle in the chain
                RefRecord rr = inSegment<RefRecord>(kRefTable, ref);
                t.implTypes.push_back({HREFTYPE(rr.reftype), rr.flags});
                ref = rr.onext;
            }
            break;
        }
        case TKIND_INTERFACE:
        case TKIND_DISPATCH:
            if (r.cImplTypes > 1)
                bad();
            // A dispatch interface that names no base derives from the library's
            // IDispatch.
            if (r.cImplTypes == 1)
                t.implTypes.push_back(
                    {HREFTYPE(r.datatype1 == -1 && t.kind == TKIND_DISPATCH ? m_dispatchHref
                                                                            : r.datatype1),
                     0});
            break;
        case TKIND_ALIAS:
            t.aliasType = typeNode(lib, r.datatype1);
            break;
        case TKIND_MODULE:
            if (r.datatype1 != -1)
                t.dllName = stringAt(r.datatype1);
            break;
        default:
            break;
        }
        if (r.cFuncs > 0 || r.cVars > 0)
            readMembers(lib, r, t);
        if (t.kind == TKIND_DISPATCH && !t.isDualDispatch())
            t.vtableSlots = 7; // a dispatch interface's table is IDispatch's
    }

    // An optional field of a record: present when the record's size leaves room.
    template <class T> T optionalField(size_t start, size_t optional, size_t index, T absent) {
        return optional >= 4 * (index + 1) ? at<T>(start + 4 * index) : absent;
    }

    // The member block of a type: function records, then variable records, then an id,
    // a name offset and a record offset for each member, functions first.
    void readMembers(Library& lib, const TypeInfoRecord& r, Type& t) {
        size_t block = size_t(uint32_t(r.memoffset));
        if (!m_blocksRead.insert(block).second)
            bad();                              // two types share one member block
        int32_t blockSize = at<int32_t>(block); // the records, without the index arrays
        size_t functions = size_t(r.cFuncs), count = functions + size_t(r.cVars);
        if (blockSize < 0 || size_t(blockSize) > m_size - block - 4 ||
            kMemberIndexBytes * count > m_size - block - 4 - size_t(blockSize))
            bad();
        size_t records = block + 4;
        size_t recordsEnd = records + size_t(blockSize);
        size_t ids = recordsEnd, names = ids + 4 * count, offsets = names + 4 * count;
        // Every record is read once: sorted by where they start, each ends before the
        // next begins.
        std::vector<std::pair<size_t, size_t>> extents; // start, size
        extents.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            int32_t offset = at<int32_t>(offsets + 4 * i);
            if (offset < 0 || records + size_t(offset) + 4 > recordsEnd)
                bad();
            size_t start = records + size_t(offset);
            size_t size = at<uint16_t>(start);
            if (size < (i < functions ? sizeof(FuncRecordFixed) : sizeof(VarRecordFixed)) ||
                start + size > recordsEnd)
                bad();
            extents.emplace_back(start, size);
        }
        std::sort(extents.begin(), extents.end());
        for (size_t i = 1; i < extents.size(); ++i)
            if (extents[i - 1].first + extents[i - 1].second > extents[i].first)
                bad();
        t.funcs.reserve(functions);
        t.vars.reserve(count - functions);
        for (size_t i = 0; i < count; ++i) {
            size_t start = records + size_t(at<int32_t>(offsets + 4 * i));
            MEMBERID memid = at<int32_t>(ids + 4 * i);
            int32_t name = at<int32_t>(names + 4 * i);
            if (i < functions)
                t.funcs.push_back(readFunc(lib, start, memid, name));
            else
                t.vars.push_back(readVar(lib, start, memid, name));
        }
    }

    Func readFunc(Library& lib, size_t start, MEMBERID memid, int32_t name) {
        FuncRecordFixed f = at<FuncRecordFixed>(start);
        if (f.paramCount < 0)
            bad();
        size_t paramCount = size_t(f.paramCount);
        bool hasDefaults = f.fkccic & kFkccicHasDefaults;
        bool hasArgCustData = f.fkccic & kFkccicHasArgCustData;
        // From the end: the parameter records, before them one default word per
        // parameter, before those one custom-data word per parameter; the optional
        // fields fill what is left after the fixed part.
        size_t tail = paramCount * sizeof(ParamRecord) + (hasDefaults ? 4 * paramCount : 0) +
                      (hasArgCustData ? 4 * paramCount : 0);
        if (size_t(f.recordSize) < sizeof f + tail)
            bad();
        size_t optional = f.recordSize - sizeof f - tail;
        spend(sizeof(Func) + paramCount * sizeof(Param));
        Func fn;
        fn.memid = memid;
        fn.name = nameAt(name);
        spendText(fn.name);
        // Enumerations are checked as integers: an out-of-range value must never be
        // converted to the enum type.
        int funckind = f.fkccic & 7, invkind = (f.fkccic >> 3) & 0xF,
            callconv = (f.fkccic >> 8) & 0xF;
        if (funckind > FUNC_DISPATCH || callconv >= CC_MAX ||
            (invkind != INVOKE_FUNC && invkind != INVOKE_PROPERTYGET &&
             invkind != INVOKE_PROPERTYPUT && invkind != INVOKE_PROPERTYPUTREF))
            bad();
        fn.funckind = FUNCKIND(funckind);
        fn.invkind = INVOKEKIND(invkind);
        fn.callconv = CALLCONV(callconv);
        if (f.vtableOffset < 0 || f.vtableOffset % 4)
            bad();
        fn.slot = f.vtableOffset / 4;
        fn.funcFlags = WORD(f.flags);
        fn.returnType = typeNode(lib, f.returnType);
        size_t fields = start + sizeof f;
        fn.helpContext = DWORD(optionalField<int32_t>(fields, optional, 0, 0));
        fn.doc = stringAt(optionalField<int32_t>(fields, optional, 1, -1));
        spendText(fn.doc);
        // The entry of a module's function: an ordinal when FKCCIC says so, else a
        // string offset.
        int32_t entry = optionalField<int32_t>(fields, optional, 2, -1);
        if (entry != -1 && (f.fkccic & kFkccicEntryIsOrdinal))
            fn.entryOrdinal = WORD(entry);
        else if (entry != -1)
            fn.entryName = stringAt(entry);
        fn.helpStringContext = DWORD(optionalField<int32_t>(fields, optional, 5, 0));
        fn.custData = custDataAt(optionalField<int32_t>(fields, optional, 6, -1));
        size_t argCustData = fields + optional;
        size_t defaults = argCustData + (hasArgCustData ? 4 * paramCount : 0);
        size_t params = defaults + (hasDefaults ? 4 * paramCount : 0);
        fn.params.reserve(paramCount);
        for (size_t p = 0; p < paramCount; ++p) {
            ParamRecord pr = at<ParamRecord>(params + p * sizeof pr);
            Param param;
            param.name = nameAt(pr.name);
            spendText(param.name);
            param.flags = USHORT(pr.flags);
            param.type = typeNode(lib, pr.type);
            if (hasDefaults && (pr.flags & PARAMFLAG_FHASDEFAULT)) {
                param.hasDefault = true;
                param.defaultValue = defaultAt(at<int32_t>(defaults + 4 * p));
            }
            if (hasArgCustData && (pr.flags & PARAMFLAG_FHASCUSTDATA))
                param.custData = custDataAt(at<int32_t>(argCustData + 4 * p));
            fn.params.push_back(std::move(param));
        }
        return fn;
    }

    Var readVar(Library& lib, size_t start, MEMBERID memid, int32_t name) {
        VarRecordFixed r = at<VarRecordFixed>(start);
        if (r.varKind > VAR_DISPATCH)
            bad();
        spend(sizeof(Var));
        Var v;
        v.memid = memid;
        v.name = nameAt(name);
        spendText(v.name);
        v.varkind = VARKIND(r.varKind);
        v.flags = r.varFlags;
        v.type = typeNode(lib, r.type);
        if (v.varkind == VAR_CONST)
            v.value = defaultAt(r.offsetOrValue);
        else
            v.oInst = ULONG(r.offsetOrValue);
        size_t fields = start + sizeof r, optional = r.recordSize - sizeof r;
        v.helpContext = DWORD(optionalField<int32_t>(fields, optional, 0, 0));
        v.doc = stringAt(optionalField<int32_t>(fields, optional, 1, -1));
        spendText(v.doc);
        v.custData = custDataAt(optionalField<int32_t>(fields, optional, 3, -1));
        v.helpStringContext = DWORD(optionalField<int32_t>(fields, optional, 4, 0));
        return v;
    }

    const uint8_t* m_data;
    size_t m_size;
    Extent m_segments[kSegmentCount];
    size_t m_budget;
    size_t m_spent = 0;
    std::set<size_t> m_blocksRead;
    int32_t m_dispatchHref = -1; // the library's IDispatch, base of dispatch interfaces
    std::map<int32_t, int> m_nodeOfCode;
};

} // namespace

HRESULT readLibrary(const uint8_t* data, size_t size, Library& out) {
    try {
        Library lib;
        Reader(data, size).read(lib);
        out = std::move(lib);
        return S_OK;
    } catch (const ReadFailure& f) {
        return f.hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace orvik::tlb
