// tools/rescomp/res_writer.cpp: writing a 32-bit resource file

#include "res_writer.h"

namespace orvik::rescomp {

namespace {

void put16(Bytes& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(Bytes& out, uint32_t v) {
    put16(out, uint16_t(v));
    put16(out, uint16_t(v >> 16));
}

void set16(Bytes& out, size_t at, uint16_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}

void padTo4(Bytes& out) {
    while (out.size() % 4)
        out.push_back(0);
}

void putText(Bytes& out, const std::u16string& text) {
    for (char16_t c : text)
        put16(out, c);
    put16(out, 0);
}

void putId(Bytes& out, const ResourceId& id) {
    if (id.isNumber) {
        put16(out, 0xFFFF);
        put16(out, id.number);
    } else {
        putText(out, id.text);
    }
}

// One node of a version block tree: its length, value length and type, its key,
// then its value and children, each starting on a four-byte boundary of the data.
struct VersionNode {
    std::u16string key;
    Bytes value;
    uint16_t valueLength = 0; // bytes for binary values, 16-bit units for text
    bool isText = false;
    std::vector<VersionNode> children;

    void write(Bytes& out) const {
        size_t start = out.size();
        put16(out, 0); // length, set below
        put16(out, valueLength);
        put16(out, isText ? 1 : 0);
        putText(out, key);
        padTo4(out);
        out.insert(out.end(), value.begin(), value.end());
        for (const VersionNode& child : children) {
            padTo4(out);
            child.write(out);
        }
        set16(out, start, uint16_t(out.size() - start));
    }
};

VersionNode textEntry(const std::u16string& key, const std::u16string& text) {
    VersionNode node{key, {}, uint16_t(text.size() + 1), true, {}};
    putText(node.value, text);
    return node;
}

uint32_t high(const uint16_t* v) {
    return uint32_t(v[0]) << 16 | v[1];
}
uint32_t low(const uint16_t* v) {
    return uint32_t(v[2]) << 16 | v[3];
}

} // namespace

ResourceFileWriter::ResourceFileWriter() {
    add(ResourceId::of(0), ResourceId::of(0), 0, 0, {});
}

void ResourceFileWriter::add(const ResourceId& type, const ResourceId& name, uint16_t language,
                             uint16_t flags, const Bytes& data) {
    size_t start = m_bytes.size();
    put32(m_bytes, uint32_t(data.size()));
    put32(m_bytes, 0); // header size, set below
    putId(m_bytes, type);
    putId(m_bytes, name);
    padTo4(m_bytes);
    put32(m_bytes, 0); // data version
    put16(m_bytes, flags);
    put16(m_bytes, language);
    put32(m_bytes, 0); // version
    put32(m_bytes, 0); // characteristics
    uint32_t headerSize = uint32_t(m_bytes.size() - start);
    for (int i = 0; i < 4; ++i)
        m_bytes[start + 4 + size_t(i)] = uint8_t(headerSize >> (8 * i));
    m_bytes.insert(m_bytes.end(), data.begin(), data.end());
    padTo4(m_bytes);
}

Bytes stringTableBlock(uint16_t blockNumber,
                       const std::vector<std::pair<uint16_t, std::u16string>>& strings) {
    Bytes out;
    for (uint16_t slot = 0; slot < 16; ++slot) {
        uint16_t id = uint16_t((blockNumber - 1) * 16 + slot);
        const std::u16string* text = nullptr;
        for (const auto& [stringId, value] : strings)
            if (stringId == id)
                text = &value;
        put16(out, text ? uint16_t(text->size()) : 0);
        if (text)
            for (char16_t c : *text)
                put16(out, c);
    }
    return out;
}

Bytes versionResource(const VersionInfo& info) {
    Bytes fixed;
    put32(fixed, 0xFEEF04BD); // signature
    put32(fixed, 0x00010000); // structure version 1.0
    put32(fixed, high(info.fileVersion));
    put32(fixed, low(info.fileVersion));
    put32(fixed, high(info.productVersion));
    put32(fixed, low(info.productVersion));
    put32(fixed, info.fileFlagsMask);
    put32(fixed, info.fileFlags);
    put32(fixed, info.fileOs);
    put32(fixed, info.fileType);
    put32(fixed, info.fileSubtype);
    put32(fixed, 0); // no file date
    put32(fixed, 0);

    VersionNode table{u"040904B0", {}, 0, true, {}};
    for (const auto& [key, text] : info.strings)
        table.children.push_back(textEntry(key, text));
    VersionNode stringInfo{u"StringFileInfo", {}, 0, true, {std::move(table)}};
    Bytes translation;
    put16(translation, kLanguageUsEnglish);
    put16(translation, 1200); // the 16-bit text code page
    VersionNode var{u"Translation", translation, uint16_t(translation.size()), false, {}};
    VersionNode varInfo{u"VarFileInfo", {}, 0, true, {std::move(var)}};
    VersionNode root{u"VS_VERSION_INFO",
                     fixed,
                     uint16_t(fixed.size()),
                     false,
                     {std::move(stringInfo), std::move(varInfo)}};
    Bytes out;
    root.write(out);
    return out;
}

} // namespace orvik::rescomp
