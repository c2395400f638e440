// tools/idlc/tlb_writer.cpp: writing the binary interface library
//
// The library is assembled segment by segment in memory and laid out at the end,
// so every offset is known before anything is written. Types appear in the order
// libraryTypeOrder gives (the library's index order); each interface's functions
// form one block after the segments.

#include "tlb_writer.h"

#include "msft_format.h"

#include "orvik/platform/typelib.h"

#include <cstring>
#include <map>
#include <string>
#include <unordered_map>

namespace orvik::idl {

namespace {

using namespace orvik::msft;

const GUID kStdOleLibid = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIDispatchIid = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIUnknownIid = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class Buffer {
public:
    std::vector<uint8_t> bytes;
    int32_t size() const { return int32_t(bytes.size()); }
    template <class T> int32_t append(const T& value) {
        int32_t at = size();
        const auto* p = reinterpret_cast<const uint8_t*>(&value);
        bytes.insert(bytes.end(), p, p + sizeof(T));
        return at;
    }
    void appendBytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    void padTo4(uint8_t fill) {
        while (bytes.size() % 4)
            bytes.push_back(fill);
    }
};

struct FailedWrite {
    std::string message;
};

class TypeLibWriter {
public:
    explicit TypeLibWriter(const Definition& def) : m_def(def) {}

    std::vector<uint8_t> write() {
        const Library& lib = *m_def.library;
        m_order = libraryTypeOrder(m_def);
        if (m_order.size() > size_t(kMaxTypes))
            throw FailedWrite{"the library has " + std::to_string(m_order.size()) +
                              " types; a library holds at most " + std::to_string(kMaxTypes)};
        for (size_t i = 0; i < m_order.size(); ++i)
            m_typeOffset[m_order[i].name] = int32_t(i * sizeof(TypeInfoRecord));

        // Imports first: IDispatch (and IUnknown) from the standard library.
        ImpFile file{guid(kStdOleLibid, 0), 0, 2, 0, 0};
        const char stdoleName[] = "stdole2.tlb";
        file.nameLengthTimes4 = uint16_t((sizeof stdoleName - 1) * 4);
        int32_t fileOffset = m_importFiles.append(file);
        m_importFiles.appendBytes(stdoleName, sizeof stdoleName - 1);
        m_importFiles.padTo4(0x57);
        setGuidHref(kStdOleLibid, fileOffset | 2);
        m_dispatchHref = importType(kIDispatchIid, fileOffset) | kImportedTypeFlag;
        m_unknownHref = importType(kIUnknownIid, fileOffset) | kImportedTypeFlag;

        Header h{};
        h.magic1 = kMagic;
        h.magic2 = kFormatVersion;
        h.posguid = guid(lib.libid, -2);
        h.lcid = int32_t(lib.lcid);
        h.lcid2 = int32_t(lib.lcid);
        h.varflags = SYS_WIN32;
        h.version = int32_t(uint32_t(lib.majorVersion) | uint32_t(lib.minorVersion) << 16);
        h.flags = 0;
        h.nrtypeinfos = int32_t(m_order.size());
        h.helpstring = string(lib.helpString);
        h.NameOffset = name(lib.name, -1); // the name table, where other tools keep it
        h.helpfile = -1;
        h.CustomDataOffset = -1;
        h.res44 = 0x20;
        h.res48 = 0x80;
        h.dispatchpos = m_dispatchHref;
        h.nimpinfos = m_importInfo.size() / int32_t(sizeof(ImpInfo));

        std::vector<TypeInfoRecord> records;
        std::vector<std::vector<uint8_t>> blocks;
        for (const TypeEntry& entry : m_order) {
            records.push_back({});
            blocks.emplace_back();
            if (entry.kind == TypeEntry::CoclassEntry)
                describeCoclass(*m_def.findCoclass(entry.name), records.back());
            else
                describeInterface(*m_def.findInterface(entry.name), records.back(), blocks.back());
        }
        h.nametablecount = m_nameCount;
        h.nametablechars = m_nameChars;
        return layOut(h, records, blocks);
    }

private:
    // GUID table entry for g (added once), with its hreftype.
    int32_t guid(const GUID& g, int32_t hreftype) {
        std::string key(reinterpret_cast<const char*>(&g), sizeof g);
        if (auto it = m_guids.find(key); it != m_guids.end())
            return it->second;
        GuidEntry e{};
        std::memcpy(e.guid, &g, 16);
        e.hreftype = hreftype;
        e.nextHash = -1;
        int32_t offset = m_guidTable.append(e);
        m_guids.emplace(std::move(key), offset);
        return offset;
    }
    void setGuidHref(const GUID& g, int32_t hreftype) {
        int32_t offset = guid(g, hreftype);
        std::memcpy(&m_guidTable.bytes[size_t(offset) + 16], &hreftype, 4);
    }

    int32_t importType(const GUID& iid, int32_t fileOffset) {
        int32_t at = m_importInfo.size();
        ImpInfo info{1, kImportByGuid, uint8_t(TKIND_INTERFACE), fileOffset, 0};
        info.oGuid = guid(iid, at | kImportedTypeFlag);
        m_importInfo.append(info);
        return at;
    }

    int32_t name(const std::string& text, int32_t hreftype) {
        if (text.size() > 255)
            throw FailedWrite{"name '" + text + "' is longer than 255 bytes"};
        auto it = m_names.find(text);
        if (it != m_names.end())
            return it->second;
        NameEntry e{hreftype, -1, uint8_t(text.size()), 0x38, nameHash(text.data(), text.size())};
        int32_t offset = m_nameTable.append(e);
        m_nameTable.appendBytes(text.data(), text.size());
        m_nameTable.padTo4(0x57);
        m_names[text] = offset;
        ++m_nameCount;
        m_nameChars += int32_t(text.size());
        return offset;
    }

    int32_t string(const std::string& text) {
        if (text.empty())
            return -1;
        if (text.size() > 0xFFFF)
            throw FailedWrite{"a help string is longer than 65535 bytes"};
        auto it = m_strings.find(text);
        if (it != m_strings.end())
            return it->second;
        uint16_t length = uint16_t(text.size());
        int32_t offset = m_stringTable.append(length);
        m_stringTable.appendBytes(text.data(), text.size());
        m_stringTable.padTo4(0x57);
        while (m_stringTable.size() - offset < 8)
            m_stringTable.bytes.push_back(0x57);
        m_strings[text] = offset;
        return offset;
    }

    int32_t typeDesc(uint16_t vt, uint16_t flags, int32_t reference) {
        auto key = std::make_tuple(vt, flags, reference);
        auto it = m_typeDescs.find(key);
        if (it != m_typeDescs.end())
            return it->second;
        int32_t offset = m_typeDescTable.append(TypeDesc{vt, flags, reference});
        m_typeDescs[key] = offset;
        return offset;
    }

    static uint16_t baseVt(BaseType base) {
        switch (base) {
        case BaseType::Void:
            return VT_VOID;
        case BaseType::HResult:
            return VT_HRESULT;
        case BaseType::Double:
            return VT_R8;
        case BaseType::Float:
            return VT_R4;
        case BaseType::Long:
            return VT_I4;
        case BaseType::Int:
            return VT_INT;
        case BaseType::Short:
            return VT_I2;
        case BaseType::Byte:
            return VT_UI1;
        case BaseType::VariantBool:
            return VT_BOOL;
        case BaseType::Bstr:
            return VT_BSTR;
        case BaseType::Variant:
            return VT_VARIANT;
        case BaseType::Unknown:
            return VT_UNKNOWN;
        case BaseType::Dispatch:
            return VT_DISPATCH;
        default:
            throw FailedWrite{"type without an automation code"};
        }
    }

    // The type code of t: IUnknown* and IDispatch* are their own base types, a
    // declared interface is VT_USERDEFINED behind its pointers, SAFEARRAY(T) is
    // VT_SAFEARRAY of T.
    int32_t typeCode(const TypeRef& t) {
        int32_t code = 0;
        int depth = t.pointerDepth;
        if (t.base == BaseType::Interface) {
            auto it = m_typeOffset.find(t.interfaceName);
            if (it == m_typeOffset.end())
                throw FailedWrite{"interface '" + t.interfaceName + "' is not in the library"};
            code = typeDesc(VT_USERDEFINED, 0x7FFF, it->second);
        } else if (t.base == BaseType::SafeArray) {
            code = typeDesc(VT_SAFEARRAY, uint16_t(0x2000 | baseVt(t.element)),
                            baseTypeCode(baseVt(t.element)));
        } else if ((t.base == BaseType::Unknown || t.base == BaseType::Dispatch) && depth > 0) {
            code = baseTypeCode(baseVt(t.base));
            --depth; // IUnknown* is VT_UNKNOWN itself
        } else {
            code = baseTypeCode(baseVt(t.base));
        }
        int levels = depth + (t.base == BaseType::SafeArray ? 1 : 0);
        if (levels > kMaxTypeDepth)
            throw FailedWrite{"a type nests " + std::to_string(levels) +
                              " levels deep; a library holds at most " +
                              std::to_string(kMaxTypeDepth)};
        for (int i = 0; i < depth; ++i) {
            uint16_t targetVt = isBaseTypeCode(code) ? baseTypeOf(code) : pointeeVt(code);
            code = typeDesc(VT_PTR, uint16_t(0x4000 | targetVt), code);
        }
        return code;
    }

    uint16_t pointeeVt(int32_t descOffset) const {
        uint16_t vt = 0;
        std::memcpy(&vt, &m_typeDescTable.bytes[size_t(descOffset)], 2);
        return vt;
    }

    void describeCoclass(const Coclass& cls, TypeInfoRecord& r) {
        int32_t self = m_typeOffset.at(cls.name);
        r.typekind = TKIND_COCLASS | (4 << 11);
        r.memoffset = -1; // patched to past the end of the file
        r.res4 = 3;
        r.posguid = guid(cls.clsid, self);
        r.flags = TYPEFLAG_FCANCREATE;
        r.NameOffset = name(cls.name, self);
        r.docstringoffs = string(cls.helpString);
        r.oCustData = -1;
        r.cImplTypes = int16_t(cls.interfaces.size());
        r.size = 4;
        r.datatype1 = -1;
        r.res19 = -1;
        int32_t previous = -1;
        for (const CoclassMember& m : cls.interfaces) {
            int flags =
                (m.isDefault ? IMPLTYPEFLAG_FDEFAULT : 0) | (m.isSource ? IMPLTYPEFLAG_FSOURCE : 0);
            int32_t at =
                m_refTable.append(RefRecord{m_typeOffset.at(m.interfaceName), flags, -1, -1});
            if (previous < 0)
                r.datatype1 = at;
            else
                std::memcpy(&m_refTable.bytes[size_t(previous) + offsetof(RefRecord, onext)], &at,
                            4);
            previous = at;
        }
    }

    // How many interfaces itf derives from: IUnknown counts, and IDispatch with it.
    int inheritedInterfaces(const Interface& itf) const {
        int count = 0;
        for (const Interface* at = &itf; at && count <= int(m_def.interfaces.size()) + 2;) {
            if (at->base == "IUnknown")
                return count + 1;
            if (at->base == "IDispatch")
                return count + 2;
            ++count;
            at = m_def.findInterface(at->base);
        }
        return count;
    }

    int32_t defaultValue(const Parameter& p) {
        const DefaultValue& v = *p.defaultValue;
        bool integerType = p.type.base != BaseType::Double && p.type.base != BaseType::Float;
        // A small non-negative integer is kept in the record with its type; anything
        // else (negative, large, real) goes to the custom-data segment.
        if (integerType && v.isInteger && v.integer >= 0 && v.integer <= kDefaultValueMask)
            return defaultInRecord(VT_I4, uint32_t(v.integer));
        // A custom-data entry: the VT, then the value, padded to 4 bytes.
        int32_t offset = m_custData.size();
        if (integerType) {
            uint16_t vt = VT_I4;
            int32_t value = int32_t(v.integer);
            m_custData.append(vt);
            m_custData.append(value);
        } else {
            uint16_t vt = VT_R8;
            double value = v.isInteger ? double(v.integer) : v.real;
            m_custData.append(vt);
            m_custData.append(value);
        }
        m_custData.padTo4(0x57);
        return offset;
    }

    // Appends the record of operation op, the index-th of its interface, whose table
    // slots begin at firstSlot; its offset among the records.
    int32_t appendFunction(Buffer& records, const Operation& op, size_t index, int firstSlot) {
        bool anyDefault = false;
        for (const Parameter& p : op.params)
            anyDefault |= p.defaultValue.has_value();
        FuncRecordFixed f{};
        f.index = uint16_t(index);
        f.returnType = typeCode(op.returnType);
        f.flags = 0;
        f.vtableOffset = int16_t((firstSlot + int(index)) * 4);
        f.funcDescSize = int16_t(sizeof(FUNCDESC) + op.params.size() * sizeof(ELEMDESC));
        int invkind = op.kind == InvokeKind::PropertyGet      ? INVOKE_PROPERTYGET
                      : op.kind == InvokeKind::PropertyPut    ? INVOKE_PROPERTYPUT
                      : op.kind == InvokeKind::PropertyPutRef ? INVOKE_PROPERTYPUTREF
                                                              : INVOKE_FUNC;
        f.fkccic = FUNC_PUREVIRTUAL | invkind << 3 | CC_STDCALL << 8 |
                   (anyDefault ? kFkccicHasDefaults : 0);
        f.paramCount = int16_t(op.params.size());
        f.optionalParamCount = 0;
        size_t size = sizeof f + sizeof(FuncRecordOptional) +
                      (anyDefault ? 4 * op.params.size() : 0) +
                      sizeof(ParamRecord) * op.params.size();
        if (size > 0xFFFF)
            throw FailedWrite{"operation '" + op.name + "' has too many parameters"};
        f.recordSize = uint16_t(size);
        int32_t offset = records.append(f);
        records.append(FuncRecordOptional{0, string(op.helpString), -1, 0, 0, 0, -1});
        if (anyDefault)
            for (const Parameter& p : op.params)
                records.append(p.defaultValue ? defaultValue(p) : int32_t(-1));
        for (const Parameter& p : op.params) {
            int flags = (p.in ? PARAMFLAG_FIN : 0) | (p.out ? PARAMFLAG_FOUT : 0) |
                        (p.retval ? PARAMFLAG_FRETVAL : 0) | (p.optional ? PARAMFLAG_FOPT : 0) |
                        (p.defaultValue ? PARAMFLAG_FHASDEFAULT : 0);
            // A property put's value carries no name in the library.
            bool named =
                !p.name.empty() && !(op.kind != InvokeKind::Method &&
                                     op.kind != InvokeKind::PropertyGet && &p == &op.params.back());
            records.append(ParamRecord{typeCode(p.type), named ? name(p.name, -1) : -1, flags});
        }
        return offset;
    }

    void describeInterface(const Interface& itf, TypeInfoRecord& r, std::vector<uint8_t>& block) {
        int32_t self = m_typeOffset.at(itf.name);
        r.typekind = TKIND_INTERFACE | (4 << 11);
        r.res4 = 3;
        r.cFuncs = int16_t(itf.operations.size());
        r.posguid = guid(itf.iid, self);
        r.flags = (itf.dual ? TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION : 0) |
                  (itf.oleAutomation ? TYPEFLAG_FOLEAUTOMATION : 0) |
                  (itf.base == "IDispatch" ? TYPEFLAG_FDISPATCHABLE : 0);
        r.NameOffset = name(itf.name, self);
        r.docstringoffs = string(itf.helpString);
        r.oCustData = -1;
        r.cImplTypes = 1;
        int firstSlot = firstOwnSlot(m_def, itf);
        long long slots = (long long)firstSlot + (long long)itf.operations.size();
        if (slots > kMaxTableSlots)
            throw FailedWrite{"interface '" + itf.name + "' has " + std::to_string(slots) +
                              " table slots; a library holds at most " +
                              std::to_string(kMaxTableSlots)};
        r.cbSizeVft = int16_t(slots * 4);
        r.size = 4;
        if (itf.base == "IDispatch")
            r.datatype1 = m_dispatchHref;
        else if (itf.base == "IUnknown")
            r.datatype1 = m_unknownHref;
        else
            r.datatype1 = m_typeOffset.at(itf.base);
        r.datatype2 = inheritedMembers(firstSlot, inheritedInterfaces(itf));
        r.res19 = -1;

        Buffer records;
        std::vector<int32_t> ids, names, offsets;
        for (size_t i = 0; i < itf.operations.size(); ++i) {
            const Operation& op = itf.operations[i];
            offsets.push_back(appendFunction(records, op, i, firstSlot));
            ids.push_back(op.dispid);
            names.push_back(name(op.name, self));
        }
        Buffer out;
        // The size word covers the records only; the three index arrays follow them.
        out.append(records.size());
        out.appendBytes(records.bytes.data(), records.bytes.size());
        for (int32_t v : ids)
            out.append(v);
        for (int32_t v : names)
            out.append(v);
        for (int32_t v : offsets)
            out.append(v);
        block = std::move(out.bytes);
    }

    std::vector<uint8_t> layOut(Header& h, std::vector<TypeInfoRecord>& records,
                                std::vector<std::vector<uint8_t>>& blocks) {
        Buffer typeInfoTable;
        for (const TypeInfoRecord& r : records)
            typeInfoTable.append(r);
        Buffer libTable, nameHash;
        libTable.bytes.assign(0x80, 0xFF);
        nameHash.bytes.assign(0x200, 0xFF);
        Buffer* segments[kSegmentCount] = {
            &typeInfoTable, &m_importInfo, &m_importFiles, &m_refTable,    &libTable,
            &m_guidTable,   &nameHash,     &m_nameTable,   &m_stringTable, &m_typeDescTable,
            nullptr,        &m_custData,   nullptr,        nullptr,        nullptr};
        int32_t offset =
            int32_t(sizeof(Header) + 4 * records.size() + sizeof(SegDesc) * kSegmentCount);
        SegDesc directory[kSegmentCount];
        for (int i = 0; i < kSegmentCount; ++i) {
            Buffer* s = segments[i];
            if (!s || s->bytes.empty()) {
                directory[i] = {-1, 0, -1, 0x0F};
                continue;
            }
            directory[i] = {offset, s->size(), -1, 0x0F};
            offset += s->size();
        }
        int32_t fileLength = offset;
        for (const auto& b : blocks)
            fileLength += int32_t(b.size());
        // Function blocks follow the segments, in type order.
        int32_t blockOffset = offset;
        for (size_t i = 0; i < records.size(); ++i) {
            TypeInfoRecord& r = records[i];
            if (blocks[i].empty()) {
                r.memoffset = fileLength + 1;
            } else {
                r.memoffset = blockOffset;
                r.res2 = int32_t(blocks[i].size());
                r.res3 = int32_t(blocks[i].size());
                blockOffset += int32_t(blocks[i].size());
            }
        }
        typeInfoTable.bytes.clear();
        for (const TypeInfoRecord& r : records)
            typeInfoTable.append(r);

        Buffer file;
        file.append(h);
        for (size_t i = 0; i < records.size(); ++i)
            file.append(int32_t(i * sizeof(TypeInfoRecord)));
        for (const SegDesc& d : directory)
            file.append(d);
        for (Buffer* s : segments)
            if (s)
                file.appendBytes(s->bytes.data(), s->bytes.size());
        for (const auto& b : blocks)
            file.appendBytes(b.data(), b.size());
        return std::move(file.bytes);
    }

    const Definition& m_def;
    std::vector<TypeEntry> m_order;
    std::map<std::string, int32_t> m_typeOffset;
    Buffer m_importInfo, m_importFiles, m_refTable, m_guidTable, m_nameTable, m_stringTable,
        m_typeDescTable, m_custData;
    std::unordered_map<std::string, int32_t> m_guids; // the GUID's bytes -> its entry
    std::map<std::string, int32_t> m_names, m_strings;
    std::map<std::tuple<uint16_t, uint16_t, int32_t>, int32_t> m_typeDescs;
    int32_t m_nameCount = 0, m_nameChars = 0;
    int32_t m_dispatchHref = -1, m_unknownHref = -1;
};

} // namespace

bool writeTypeLibrary(const Definition& def, std::vector<uint8_t>& out, std::string* error) {
    if (!def.library) {
        if (error)
            *error = "the definition has no library block";
        return false;
    }
    try {
        out = TypeLibWriter(def).write();
        return true;
    } catch (const FailedWrite& f) {
        if (error)
            *error = f.message;
        return false;
    }
}

} // namespace orvik::idl
