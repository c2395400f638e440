// tests/platform/foreign_typelib_test.cpp: libraries no part of our writer produced
//
// Each library here is built byte by byte from the published layout of the format,
// written out in this file (never taken from the project's shared record header),
// in the forms other tools write: duals stored as dispatch descriptions, dispatch
// interfaces with properties, records, enumerations, aliases, coclasses with source
// interfaces, fixed arrays, custom data, help files, short function records.

#include "idl_dump.h"

#include "tests/support/type_library_files.h"

#include "orvik/platform.h"
#include "orvik/platform/bstr_holder.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace orvik::testing {
namespace {

// Little-endian byte sink for one segment or block.
struct Bytes {
    std::vector<uint8_t> data;
    int32_t size() const { return int32_t(data.size()); }
    Bytes& u8(uint8_t v) {
        data.push_back(v);
        return *this;
    }
    Bytes& u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
    Bytes& i32(int32_t v) { return u16(uint16_t(uint32_t(v))).u16(uint16_t(uint32_t(v) >> 16)); }
    Bytes& raw(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        data.insert(data.end(), b, b + n);
        return *this;
    }
    Bytes& padTo4(uint8_t fill) {
        while (data.size() % 4)
            data.push_back(fill);
        return *this;
    }
    void put32(size_t at, int32_t v) { std::memcpy(&data[at], &v, 4); }
};

// Base type codes as files hold them: the top bit, then a VARTYPE in each half (the
// high one may name a related type, as 0x80030016 does for VT_INT).
constexpr int32_t base(uint16_t vt, uint16_t high = 0xFFFF) {
    return int32_t(0x80000000u | uint32_t(high == 0xFFFF ? vt : high) << 16 | vt);
}

const GUID kLibid = {0x6B1B5A10, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 1}};
const GUID kDualIid = {0x6B1B5A10, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 2}};
const GUID kEventsIid = {0x6B1B5A10, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 3}};
const GUID kClassId = {0x6B1B5A10, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 4}};
const GUID kCustomId = {0x6B1B5A10, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 5}};
const GUID kStdOle = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// A library in the published layout: an 84-byte header, one 4-byte offset per type,
// 15 segment descriptors of 16 bytes (offset, length, -1, 0x0F), the segments in
// that order, then each type's member block.
class LibraryBuilder {
public:
    LibraryBuilder() { m_types.reserve(16); } // references to types stay valid
    enum Segment {
        TypeInfos,
        ImportInfo,
        ImportFiles,
        Refs,
        LibTable,
        Guids,
        NameHash,
        Names,
        Strings,
        TypeDescs,
        ArrayDescs,
        CustData,
        CustDirectory
    };

    int32_t guid(const GUID& g, int32_t href) {
        int32_t at = seg(Guids).size();
        seg(Guids).raw(&g, 16).i32(href).i32(-1);
        return at;
    }
    // hreftype, next hash, length byte, flags byte, 16-bit hash, then the text padded
    // to 4 bytes.
    int32_t name(const std::string& text, int32_t href = -1) {
        int32_t at = seg(Names).size();
        seg(Names).i32(href).i32(-1).u8(uint8_t(text.size())).u8(0).u16(0);
        seg(Names).raw(text.data(), text.size()).padTo4('W');
        ++m_names;
        return at;
    }
    // A 16-bit length, then the text, padded to 4 bytes and at least 8.
    int32_t string(const std::string& text) {
        int32_t at = seg(Strings).size();
        seg(Strings).u16(uint16_t(text.size())).raw(text.data(), text.size()).padTo4('W');
        while (seg(Strings).size() - at < 8)
            seg(Strings).u8('W');
        return at;
    }
    int32_t typeDesc(uint16_t vt, int32_t reference) {
        int32_t at = seg(TypeDescs).size();
        seg(TypeDescs).u16(vt).u16(0).i32(reference);
        return at;
    }
    // The element's type code, the dimension count, the element's VARTYPE, then an
    // element count and lower bound per dimension.
    int32_t arrayDesc(int32_t element, uint16_t vt,
                      std::vector<std::pair<uint32_t, int32_t>> bounds) {
        int32_t at = seg(ArrayDescs).size();
        seg(ArrayDescs).i32(element).u16(uint16_t(bounds.size())).u16(vt);
        for (auto [count, lower] : bounds)
            seg(ArrayDescs).i32(int32_t(count)).i32(lower);
        return at;
    }
    // A value in the custom-data segment: its VARTYPE, then its bytes.
    int32_t value(uint16_t vt, const void* bytes, size_t n) {
        int32_t at = seg(CustData).size();
        seg(CustData).u16(vt).raw(bytes, n).padTo4(0x57);
        return at;
    }
    // A custom-data entry: GUID offset, value offset, next entry.
    int32_t custom(const GUID& g, int32_t valueOffset, int32_t next = -1) {
        int32_t at = seg(CustDirectory).size();
        seg(CustDirectory).i32(guid(g, -1)).i32(valueOffset).i32(next);
        return at;
    }
    // IDispatch from stdole2.tlb 2.0; its reference handle is its import record's
    // offset with the low bit set.
    int32_t importDispatch() {
        int32_t file = seg(ImportFiles).size();
        seg(ImportFiles).i32(guid(kStdOle, 2)).i32(0).u16(2).u16(0).u16(11 * 4);
        seg(ImportFiles).raw("stdole2.tlb", 11).padTo4('W');
        int32_t at = seg(ImportInfo).size();
        seg(ImportInfo).u16(0).u8(1).u8(TKIND_DISPATCH).i32(file).i32(guid(kIDispatch, at | 1));
        ++m_imports;
        return at | 1;
    }
    // A coclass reference record: the interface, IMPLTYPEFLAGs, custom data, next.
    int32_t ref(int32_t href, int32_t flags, int32_t next) {
        int32_t at = seg(Refs).size();
        seg(Refs).i32(href).i32(flags).i32(-1).i32(next);
        return at;
    }

    // The 100-byte type record; fields at their published offsets.
    struct Type {
        Bytes record;
        Bytes block; // the member block without its size word; empty: no members
        int32_t blockSize = 0;
        Type() { record.data.assign(100, 0); }
        void set(size_t at, int32_t v) { record.put32(at, v); }
        void set16(size_t at, uint16_t v) { std::memcpy(&record.data[at], &v, 2); }
    };
    // kind | alignment, GUID, flags, name, doc, members, base or first reference.
    Type& type(TYPEKIND kind, const GUID& g, int32_t flags, const std::string& typeName,
               const std::string& doc) {
        Type& t = m_types.emplace_back();
        int32_t href = int32_t(100 * (m_types.size() - 1));
        t.set(0x00, kind | 4 << 11);
        t.set(0x04, -1);
        t.set(0x10, 3);
        t.set(0x2C, guid(g, href));
        t.set(0x30, flags);
        t.set(0x34, name(typeName, href));
        t.set(0x3C, doc.empty() ? -1 : string(doc));
        t.set(0x48, -1);
        t.set(0x54, -1);
        t.set(0x60, -1);
        return t;
    }
    int32_t hrefOf(const Type& t) const { return int32_t(100 * (&t - m_types.data())); }

    // A function record: size, index, return type, flags, reserved, table offset,
    // FUNCDESC size, FKCCIC, parameter count, optional count; then `optional` words
    // (help context, help string, entry, two reserved, help-string context, custom
    // data), one custom-data word per parameter (FKCCIC bit 7), defaults (bit 12),
    // parameter records (type, name, PARAMFLAGs).
    struct Param {
        int32_t type;
        std::string name;
        int32_t flags;
        int32_t defaultWord = 0;
        int32_t custData = -1;
    };
    void function(Type& t, int32_t memid, const std::string& fnName, int32_t fkccic,
                  int16_t tableOffset, int32_t returnType, std::vector<int32_t> optional,
                  std::vector<Param> params) {
        bool defaults = fkccic & (1 << 12), argCustData = fkccic & (1 << 7);
        Bytes r;
        size_t size = 24 + 4 * optional.size() + (defaults ? 4 : 0) * params.size() +
                      (argCustData ? 4 : 0) * params.size() + 12 * params.size();
        r.u16(uint16_t(size)).u16(uint16_t(m_members.size())).i32(returnType).i32(0);
        r.u16(uint16_t(tableOffset)).u16(0x4C).i32(fkccic).u16(uint16_t(params.size())).u16(0);
        for (int32_t w : optional)
            r.i32(w);
        if (argCustData)
            for (const Param& p : params)
                r.i32(p.custData);
        if (defaults)
            for (const Param& p : params)
                r.i32(p.defaultWord);
        for (const Param& p : params)
            r.i32(p.type).i32(p.name.empty() ? -1 : name(p.name)).i32(p.flags);
        addMember(t, r, memid, fnName);
    }
    // A variable record: size, index, type, VARFLAGs, reserved, VARKIND, VARDESC
    // size, offset or value word; then optional help context and help string.
    void variable(Type& t, int32_t memid, const std::string& varName, int32_t type,
                  uint16_t varflags, uint16_t varkind, int32_t offsetOrValue,
                  std::vector<int32_t> optional = {}) {
        Bytes r;
        r.u16(uint16_t(20 + 4 * optional.size())).u16(uint16_t(m_members.size())).i32(type);
        r.u16(varflags).u16(0).u16(varkind).u16(0x24).i32(offsetOrValue);
        for (int32_t w : optional)
            r.i32(w);
        addMember(t, r, memid, varName);
    }
    // Ends the member block of t: the index arrays after its records.
    void closeMembers(Type& t, int16_t functions, int16_t variables) {
        t.set16(0x18, uint16_t(functions));
        t.set16(0x1A, uint16_t(variables));
        t.blockSize = t.block.size();
        for (const Member& m : m_members)
            t.block.i32(m.memid);
        for (const Member& m : m_members)
            t.block.i32(m.name);
        for (const Member& m : m_members)
            t.block.i32(m.offset);
        m_members.clear();
    }

    Bytes header; // filled by build
    int32_t varflags = SYS_WIN32, helpFile = -1, helpContext = 0, custData = -1;

    std::vector<uint8_t> build(const std::string& libName, const std::string& doc,
                               int32_t dispatchHref) {
        int32_t libGuid = guid(kLibid, -2);
        int32_t nameOffset = name(libName);
        int32_t docOffset = string(doc);
        seg(LibTable).data.assign(0x80, 0xFF);
        seg(NameHash).data.assign(0x200, 0xFF);
        Bytes out;
        out.i32(0x5446534D).i32(0x00010002).i32(libGuid).i32(0x409).i32(0).i32(varflags);
        out.i32(1).i32(0).i32(int32_t(m_types.size())).i32(docOffset).i32(0).i32(helpContext);
        out.i32(m_names).i32(0).i32(nameOffset).i32(helpFile).i32(custData).i32(0x20);
        out.i32(0x80).i32(dispatchHref).i32(m_imports);
        for (size_t i = 0; i < m_types.size(); ++i)
            out.i32(int32_t(100 * i));
        Bytes typeTable;
        for (const Type& t : m_types)
            typeTable.raw(t.record.data.data(), 100);
        m_segments[TypeInfos] = typeTable;
        int32_t offset = out.size() + 15 * 16;
        for (int i = 0; i < 15; ++i) {
            int32_t length = i < 13 ? m_segments[i].size() : 0;
            out.i32(length ? offset : -1).i32(length).i32(-1).i32(0x0F);
            offset += length;
        }
        size_t typeTableAt = out.data.size();
        for (int i = 0; i < 13; ++i)
            out.raw(m_segments[i].data.data(), m_segments[i].data.size());
        for (size_t i = 0; i < m_types.size(); ++i) {
            if (m_types[i].block.data.empty())
                continue;
            out.put32(typeTableAt + 100 * i + 0x04, out.size());
            out.i32(m_types[i].blockSize)
                .raw(m_types[i].block.data.data(), m_types[i].block.data.size());
        }
        return out.data;
    }

private:
    struct Member {
        int32_t memid, name, offset;
    };
    Bytes& seg(Segment s) { return m_segments[s]; }
    void addMember(Type& t, const Bytes& record, int32_t memid, const std::string& memberName) {
        m_members.push_back({memid, name(memberName, hrefOf(t)), t.block.size()});
        t.block.raw(record.data.data(), record.data.size());
    }

    Bytes m_segments[13];
    std::vector<Type> m_types;
    std::vector<Member> m_members;
    int32_t m_names = 0, m_imports = 0;
};

// FKCCIC: function kind (bits 0-2), invocation kind (3-6), calling convention
// (8-11), defaults present (12).
constexpr int32_t fkccic(int funckind, int invkind, bool defaults = false) {
    return funckind | invkind << 3 | CC_STDCALL << 8 | (defaults ? 1 << 12 : 0);
}

Ref<ITypeLib> load(const std::vector<uint8_t>& bytes) {
    std::string path = ::testing::TempDir() + "foreign-" + std::to_string(getpid()) + ".tlb";
    writeFile(path, bytes);
    Ref<ITypeLib> lib;
    EXPECT_EQ(LoadTypeLib(std::u16string(path.begin(), path.end()).c_str(), lib.put()), S_OK);
    std::remove(path.c_str());
    return lib;
}

std::u16string docOf(ITypeInfo* info, MEMBERID memid, std::u16string* name = nullptr) {
    BstrHolder n, d;
    EXPECT_EQ(info->GetDocumentation(memid, n.put(), d.put(), nullptr, nullptr), S_OK);
    if (name)
        *name = n.get() ? n.get() : u"";
    return d.get() ? d.get() : u"";
}

class ForeignLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        LibraryBuilder b;
        int32_t dispatch = b.importDispatch();
        b.varflags = SYS_WIN32 | 0x10; // a help file is named
        b.helpFile = b.string("Foreign.hlp");
        b.helpContext = 77;
        double answer = 42.5;
        b.custData = b.custom(kCustomId, b.value(VT_R8, &answer, 8));

        // 0: a dual interface stored as a dispatch description: its own table
        // functions from slot 7, the table covering 7 inherited and 2 own slots.
        auto& dual = b.type(TKIND_DISPATCH, kDualIid, 0x1140, "IForeign", "A dual");
        dual.set(0x54, dispatch);
        dual.set(0x58, 0x00070002);
        dual.set16(0x4C, 1);
        dual.set16(0x4E, (7 + 2) * 4);
        int32_t pointerToInt = b.typeDesc(VT_PTR, base(VT_INT, VT_I4));
        int32_t seven = 7, eight = 8;
        int32_t functionData = b.custom(kCustomId, b.value(VT_I4, &seven, 4));
        int32_t paramData = b.custom(kCustomId, b.value(VT_I4, &eight, 4));
        b.function(dual, 1, "Count", fkccic(FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET) | 1 << 7, 28,
                   base(VT_HRESULT), {0, b.string("How many"), -1, 0, 0, 0x55, functionData},
                   {{pointerToInt, "pVal",
                     PARAMFLAG_FOUT | PARAMFLAG_FRETVAL | PARAMFLAG_FHASCUSTDATA, 0, paramData}});
        // A short record: no optional fields at all.
        b.function(dual, 2, "Reset", fkccic(FUNC_PUREVIRTUAL, INVOKE_FUNC, true), 32,
                   base(VT_HRESULT), {},
                   {{base(VT_I4), "level", PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT,
                     int32_t(0x8C000000u | 9)}});
        b.closeMembers(dual, 2, 0);

        // 1: a dispatch interface with two properties and one method; it names no
        // base, so it derives from the library's IDispatch.
        auto& events = b.type(TKIND_DISPATCH, kEventsIid, 0x1000, "_DForeignEvents", "");
        events.set16(0x4C, 1);
        events.set16(0x4E, 0x18);
        b.function(events, 21, "Fired", fkccic(FUNC_DISPATCH, INVOKE_FUNC), 0, base(VT_VOID),
                   {0, b.string("Something happened")}, {{base(VT_BSTR), "what", PARAMFLAG_FIN}});
        b.variable(events, -501, "BackColor", base(VT_I4), 0x000C, VAR_DISPATCH, 0);
        b.variable(events, 4, "Caption", base(VT_BSTR), 0, VAR_DISPATCH, 0,
                   {0, b.string("The caption")});
        b.closeMembers(events, 1, 2);

        // 2: a record of a double and a fixed array long[4] at offset 8.
        auto& record = b.type(TKIND_RECORD, GUID{}, 0, "tagSample", "");
        record.set(0x50, 24);
        int32_t fourLongs = b.typeDesc(VT_CARRAY, b.arrayDesc(base(VT_I4), VT_I4, {{4, 0}}));
        b.variable(record, 0x40000000, "weight", base(VT_R8), 0, VAR_PERINSTANCE, 0);
        b.variable(record, 0x40000001, "counts", fourLongs, 0, VAR_PERINSTANCE, 8);
        b.closeMembers(record, 0, 2);

        // 3: an enumeration: 1 kept in the record, -5 in the custom data.
        auto& enumeration = b.type(TKIND_ENUM, GUID{}, 0, "Shade", "Shades");
        int32_t minusFive = -5;
        b.variable(enumeration, 0x40000000, "Light", base(VT_I4), 0, VAR_CONST,
                   int32_t(0x8C000000u | 1));
        b.variable(enumeration, 0x40000001, "Dark", base(VT_I4), 0, VAR_CONST,
                   b.value(VT_I4, &minusFive, 4));
        b.closeMembers(enumeration, 0, 2);

        // 4: an alias of long.
        auto& alias = b.type(TKIND_ALIAS, GUID{}, 0, "Handle", "");
        alias.set(0x54, base(VT_I4));

        // 5: a coclass with the dual as default and the events as its default source.
        auto& cls = b.type(TKIND_COCLASS, kClassId, TYPEFLAG_FCANCREATE, "Foreign", "");
        int32_t second = b.ref(100, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, -1);
        cls.set(0x54, b.ref(0, IMPLTYPEFLAG_FDEFAULT, second));
        cls.set16(0x4C, 2);
        cls.set(0x48, b.custom(kCustomId, b.value(VT_I4, &minusFive, 4)));

        // 6: a module: a constant and a function exported from its file by name.
        auto& module = b.type(TKIND_MODULE, GUID{}, 0, "ForeignApi", "");
        module.set(0x54, b.string("foreign.dll"));
        b.function(module, 0x60000000, "Version", fkccic(FUNC_STATIC, INVOKE_FUNC), 0, base(VT_I4),
                   {0, -1, b.string("ForeignVersion")}, {});
        b.variable(module, 0x60000001, "Limit", base(VT_I4), 0, VAR_CONST,
                   int32_t(0x8C000000u | 100));
        b.closeMembers(module, 1, 1);

        m_bytes = b.build("ForeignLib", "A library of another tool", dispatch);
        m_lib = load(m_bytes);
        ASSERT_TRUE(m_lib);
    }

    Ref<ITypeInfo> typeInfo(UINT index) {
        Ref<ITypeInfo> info;
        EXPECT_EQ(m_lib->GetTypeInfo(index, info.put()), S_OK);
        return info;
    }

    std::vector<uint8_t> m_bytes;
    Ref<ITypeLib> m_lib;
};

TEST_F(ForeignLibrary, ADualStoredAsADispatchDescriptionHasItsTablePartner) {
    Ref<ITypeInfo> dual = typeInfo(0);
    TYPEATTR a = attributesOf(dual.get());
    EXPECT_EQ(a.typekind, TKIND_DISPATCH);
    EXPECT_EQ(a.wTypeFlags, 0x1140);
    EXPECT_EQ(a.cFuncs, 2);
    EXPECT_EQ(a.cbSizeVft, 9 * sizeof(void*));
    HREFTYPE partnerRef = 0;
    ASSERT_EQ(dual->GetRefTypeOfImplType(UINT(-1), &partnerRef), S_OK);
    Ref<ITypeInfo> partner;
    ASSERT_EQ(dual->GetRefTypeInfo(partnerRef, partner.put()), S_OK);
    TYPEATTR p = attributesOf(partner.get());
    EXPECT_EQ(p.typekind, TKIND_INTERFACE);
    EXPECT_EQ(p.cFuncs, 2);
    EXPECT_EQ(p.guid, kDualIid);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(partner->GetFuncDesc(1, &f), S_OK);
    EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(f->oVft, SHORT(8 * sizeof(void*))) << "slot 8, after IDispatch's seven";
    ASSERT_EQ(f->cParams, 1);
    ASSERT_NE(f->lprgelemdescParam[0].paramdesc.pparamdescex, nullptr);
    const VARIANT& level = f->lprgelemdescParam[0].paramdesc.pparamdescex->varDefaultValue;
    EXPECT_EQ(level.vt, VT_I4) << "the type kept with the default";
    EXPECT_EQ(level.lVal, 9);
    partner->ReleaseFuncDesc(f);
    HREFTYPE none = 0;
    EXPECT_EQ(partner->GetRefTypeOfImplType(UINT(-1), &none), TYPE_E_ELEMENTNOTFOUND);
    // The base reaches IDispatch through the import; the high word of a base type
    // code is not part of its type.
    HREFTYPE baseRef = 0;
    ASSERT_EQ(partner->GetRefTypeOfImplType(0, &baseRef), S_OK);
    Ref<ITypeInfo> base;
    ASSERT_EQ(partner->GetRefTypeInfo(baseRef, base.put()), S_OK);
    EXPECT_EQ(attributesOf(base.get()).guid, kIDispatch);
    ASSERT_EQ(dual->GetFuncDesc(0, &f), S_OK);
    EXPECT_EQ(f->lprgelemdescParam[0].tdesc.vt, VT_PTR);
    EXPECT_EQ(f->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_INT);
    dual->ReleaseFuncDesc(f);
    // A record without optional fields has no help string.
    EXPECT_EQ(docOf(dual.get(), 2), u"");
    EXPECT_EQ(docOf(dual.get(), 1), u"How many");
}

TEST_F(ForeignLibrary, ADispatchInterfaceHasPropertiesAsVariables) {
    Ref<ITypeInfo> events = typeInfo(1);
    TYPEATTR a = attributesOf(events.get());
    EXPECT_EQ(a.typekind, TKIND_DISPATCH);
    EXPECT_EQ(a.cFuncs, 1);
    EXPECT_EQ(a.cVars, 2);
    VARDESC* v = nullptr;
    ASSERT_EQ(events->GetVarDesc(0, &v), S_OK);
    EXPECT_EQ(v->memid, -501);
    EXPECT_EQ(v->varkind, VAR_DISPATCH);
    EXPECT_EQ(v->wVarFlags, VARFLAG_FBINDABLE | VARFLAG_FREQUESTEDIT);
    EXPECT_EQ(v->elemdescVar.tdesc.vt, VT_I4);
    events->ReleaseVarDesc(v);
    EXPECT_EQ(events->GetVarDesc(2, &v), TYPE_E_ELEMENTNOTFOUND);
    std::u16string name;
    EXPECT_EQ(docOf(events.get(), 4, &name), u"The caption");
    EXPECT_EQ(name, u"Caption");
    LPOLESTR names[1] = {const_cast<LPOLESTR>(u"backcolor")};
    MEMBERID id = 0;
    EXPECT_EQ(events->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, -501);
    BSTR got[2] = {};
    UINT count = 0;
    ASSERT_EQ(events->GetNames(4, got, 2, &count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(std::u16string(got[0]), u"Caption");
    SysFreeString(got[0]);
    // Its base is the library's IDispatch.
    HREFTYPE baseRef = 0;
    ASSERT_EQ(events->GetRefTypeOfImplType(0, &baseRef), S_OK);
    Ref<ITypeInfo> base;
    ASSERT_EQ(events->GetRefTypeInfo(baseRef, base.put()), S_OK);
    EXPECT_EQ(attributesOf(base.get()).guid, kIDispatch);
}

TEST_F(ForeignLibrary, RecordsEnumerationsAndAliasesReadBack) {
    Ref<ITypeInfo> record = typeInfo(2);
    TYPEATTR r = attributesOf(record.get());
    EXPECT_EQ(r.typekind, TKIND_RECORD);
    EXPECT_EQ(r.cVars, 2);
    EXPECT_EQ(r.cbSizeInstance, 24u);
    VARDESC* v = nullptr;
    ASSERT_EQ(record->GetVarDesc(1, &v), S_OK);
    EXPECT_EQ(v->varkind, VAR_PERINSTANCE);
    EXPECT_EQ(v->oInst, 8u);
    ASSERT_EQ(v->elemdescVar.tdesc.vt, VT_CARRAY);
    const ARRAYDESC* array = v->elemdescVar.tdesc.lpadesc;
    EXPECT_EQ(array->cDims, 1);
    EXPECT_EQ(array->rgbounds[0].cElements, 4u);
    EXPECT_EQ(array->tdescElem.vt, VT_I4);
    record->ReleaseVarDesc(v);

    Ref<ITypeInfo> shade = typeInfo(3);
    EXPECT_EQ(attributesOf(shade.get()).typekind, TKIND_ENUM);
    for (auto [index, expected] : {std::pair{0u, 1}, std::pair{1u, -5}}) {
        ASSERT_EQ(shade->GetVarDesc(index, &v), S_OK);
        EXPECT_EQ(v->varkind, VAR_CONST);
        ASSERT_NE(v->lpvarValue, nullptr);
        EXPECT_EQ(v->lpvarValue->vt, VT_I4);
        EXPECT_EQ(v->lpvarValue->lVal, expected);
        shade->ReleaseVarDesc(v);
    }

    Ref<ITypeInfo> alias = typeInfo(4);
    TYPEATTR al = attributesOf(alias.get());
    EXPECT_EQ(al.typekind, TKIND_ALIAS);
    EXPECT_EQ(al.tdescAlias.vt, VT_I4);
}

TEST_F(ForeignLibrary, ACoclassListsItsSourceInterfaceAndCustomDataAndHelpReadBack) {
    Ref<ITypeInfo> cls = typeInfo(5);
    ASSERT_EQ(attributesOf(cls.get()).cImplTypes, 2);
    INT flags = 0;
    ASSERT_EQ(cls->GetImplTypeFlags(1, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    HREFTYPE href = 0;
    ASSERT_EQ(cls->GetRefTypeOfImplType(1, &href), S_OK);
    Ref<ITypeInfo> source;
    ASSERT_EQ(cls->GetRefTypeInfo(href, source.put()), S_OK);
    EXPECT_EQ(attributesOf(source.get()).guid, kEventsIid);

    Ref<ITypeInfo2> cls2;
    ASSERT_EQ(cls->QueryInterface(IID_ITypeInfo2, cls2.putVoid()), S_OK);
    VARIANT value;
    ASSERT_EQ(cls2->GetCustData(kCustomId, &value), S_OK);
    EXPECT_EQ(value.vt, VT_I4);
    EXPECT_EQ(value.lVal, -5);
    Ref<ITypeLib2> lib2;
    ASSERT_EQ(m_lib->QueryInterface(IID_ITypeLib2, lib2.putVoid()), S_OK);
    ASSERT_EQ(lib2->GetCustData(kCustomId, &value), S_OK);
    EXPECT_EQ(value.vt, VT_R8);
    EXPECT_EQ(value.dblVal, 42.5);

    BstrHolder name, helpFile;
    DWORD context = 0;
    ASSERT_EQ(m_lib->GetDocumentation(-1, name.put(), nullptr, &context, helpFile.put()), S_OK);
    EXPECT_EQ(std::u16string(name.get()), u"ForeignLib") << "kept in the name table";
    EXPECT_EQ(std::u16string(helpFile.get()), u"Foreign.hlp");
    EXPECT_EQ(context, 77u);
}

TEST_F(ForeignLibrary, FunctionsAndParametersKeepTheirCustomDataAndContexts) {
    Ref<ITypeInfo2> dual;
    ASSERT_EQ(typeInfo(0)->QueryInterface(IID_ITypeInfo2, dual.putVoid()), S_OK);
    VARIANT value;
    ASSERT_EQ(dual->GetFuncCustData(0, kCustomId, &value), S_OK);
    EXPECT_EQ(value.lVal, 7);
    ASSERT_EQ(dual->GetParamCustData(0, 0, kCustomId, &value), S_OK);
    EXPECT_EQ(value.vt, VT_I4);
    EXPECT_EQ(value.lVal, 8);
    CUSTDATA all;
    ASSERT_EQ(dual->GetAllParamCustData(0, 0, &all), S_OK);
    ASSERT_EQ(all.cCustData, 1u);
    EXPECT_EQ(all.prgCustData[0].guid, kCustomId);
    VariantClear(&all.prgCustData[0].varValue);
    CoTaskMemFree(all.prgCustData);
    DWORD context = 0;
    BstrHolder help;
    ASSERT_EQ(dual->GetDocumentation2(1, 0x409, help.put(), &context, nullptr), S_OK);
    EXPECT_EQ(context, 0x55u);

    Ref<ITypeInfo> module = typeInfo(6);
    TYPEATTR m = attributesOf(module.get());
    EXPECT_EQ(m.typekind, TKIND_MODULE);
    EXPECT_EQ(m.cFuncs, 1);
    EXPECT_EQ(m.cVars, 1);
    BstrHolder dll, entry;
    WORD ordinal = 1;
    ASSERT_EQ(module->GetDllEntry(0x60000000, INVOKE_FUNC, dll.put(), entry.put(), &ordinal), S_OK);
    EXPECT_EQ(std::u16string(dll.get()), u"foreign.dll");
    EXPECT_EQ(std::u16string(entry.get()), u"ForeignVersion");
    EXPECT_EQ(ordinal, 0);
    EXPECT_EQ(typeInfo(0)->GetDllEntry(1, INVOKE_PROPERTYGET, nullptr, nullptr, nullptr),
              TYPE_E_BADMODULEKIND);
}

TEST_F(ForeignLibrary, TheDumpPrintsEveryKind) {
    std::string text;
    ASSERT_EQ(dumpTypeLibrary(m_lib.get(), text), S_OK);
    for (const char* expected :
         {"dual", "interface IForeign : IDispatch", "dispinterface _DForeignEvents",
          "[id(-501)] long BackColor;", "long counts[4];",
          "enum {\n    Light = 1,\n    Dark = -5\n} Shade;", "typedef long Handle;",
          "[default, source] interface _DForeignEvents;", "helpfile(\"Foreign.hlp\")",
          "[in, optional, defaultvalue(9)] long level", "dllname(\"foreign.dll\")",
          "const long Limit = 100;", "long Version();"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

// Libraries laid out as another compiler lays them out: types with no GUID at all
// (the GUID offset is -1), and defaults that say only that there is one.
TEST(ForeignLayout, RecordsAliasesAndModulesWithoutAGuidReadAsTheNullGuid) {
    LibraryBuilder b;
    // The alias comes first and names the record after it.
    auto& alias = b.type(TKIND_ALIAS, GUID{}, 0, "Position", "");
    auto& record = b.type(TKIND_RECORD, GUID{}, 0, "tagPosition", "");
    alias.set(0x54, b.typeDesc(VT_USERDEFINED, b.hrefOf(record)));
    record.set(0x50, 16);
    b.variable(record, 0x40000000, "x", base(VT_R8), 0, VAR_PERINSTANCE, 0);
    b.variable(record, 0x40000001, "y", base(VT_R8), 0, VAR_PERINSTANCE, 8);
    b.closeMembers(record, 0, 2);
    auto& module = b.type(TKIND_MODULE, GUID{}, 0, "Api", "");
    module.set(0x54, b.string("api.dll"));
    b.variable(module, 0x60000000, "Limit", base(VT_I4), 0, VAR_CONST, int32_t(0x8C000000u | 3));
    b.closeMembers(module, 0, 1);
    for (LibraryBuilder::Type* t : {&alias, &record, &module})
        t->set(0x2C, -1);
    Ref<ITypeLib> lib = load(b.build("NoGuids", "", -1));
    ASSERT_TRUE(lib);

    for (UINT i = 0; i < 3; ++i) {
        Ref<ITypeInfo> info;
        ASSERT_EQ(lib->GetTypeInfo(i, info.put()), S_OK);
        EXPECT_TRUE(IsEqualGUID(attributesOf(info.get()).guid, GUID{})) << i;
    }
    Ref<ITypeInfo> position;
    ASSERT_EQ(lib->GetTypeInfo(0, position.put()), S_OK);
    TYPEATTR a = attributesOf(position.get());
    ASSERT_EQ(a.tdescAlias.vt, VT_USERDEFINED);
    Ref<ITypeInfo> named;
    ASSERT_EQ(position->GetRefTypeInfo(a.tdescAlias.hreftype, named.put()), S_OK);
    std::u16string name;
    docOf(named.get(), MEMBERID_NIL, &name);
    EXPECT_EQ(name, u"tagPosition");
    EXPECT_EQ(attributesOf(named.get()).cbSizeInstance, 16u);
}

TEST(ForeignLayout, DefaultsWithoutAValueAndOfEveryIntegerLikeTypeRead) {
    LibraryBuilder b;
    int32_t dispatch = b.importDispatch();
    auto& events = b.type(TKIND_DISPATCH, kEventsIid, 0x1000, "_DEvents", "");
    events.set16(0x4C, 1);
    events.set16(0x4E, 0x18);
    constexpr int32_t kOptional = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    b.function(events, 1, "Go", fkccic(FUNC_DISPATCH, INVOKE_FUNC, true), 0, base(VT_VOID), {},
               {{base(VT_VARIANT), "anything", kOptional, int32_t(0xFFFFFFFFu)},
                {base(VT_BOOL), "flag", kOptional, int32_t(0x80000000u | VT_BOOL << 26 | 0xFFFF)},
                {base(VT_ERROR), "code", kOptional, int32_t(0x80000000u | VT_ERROR << 26 | 5)}});
    b.closeMembers(events, 1, 0);
    Ref<ITypeLib> lib = load(b.build("Defaults", "", dispatch));
    ASSERT_TRUE(lib);
    Ref<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(0, info.put()), S_OK);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(0, &f), S_OK);
    ASSERT_EQ(f->cParams, 3);
    const VARIANT* defaults[3];
    for (int i = 0; i < 3; ++i) {
        const PARAMDESC& p = f->lprgelemdescParam[i].paramdesc;
        ASSERT_TRUE(p.wParamFlags & PARAMFLAG_FHASDEFAULT) << i;
        ASSERT_NE(p.pparamdescex, nullptr) << i;
        defaults[i] = &p.pparamdescex->varDefaultValue;
    }
    EXPECT_EQ(defaults[0]->vt, VT_EMPTY) << "a default with no value stored";
    EXPECT_EQ(defaults[1]->vt, VT_BOOL);
    EXPECT_EQ(defaults[1]->boolVal, VARIANT_TRUE);
    EXPECT_EQ(defaults[2]->vt, VT_ERROR);
    EXPECT_EQ(defaults[2]->scode, 5);
    info->ReleaseFuncDesc(f);
}

} // namespace
} // namespace orvik::testing
