// tools/rescomp/res_writer.h: writing a 32-bit resource file
//
// The module's resources are built into a resource file image: an empty marker
// entry, then one entry per resource, each a header (data size, header size, type,
// name, data version, memory flags, language, version, characteristics) and its
// data, both padded to four bytes. Version information is laid out as the
// platform's VS_VERSIONINFO block tree.
#ifndef ORVIK_TOOLS_RESCOMP_RES_WRITER_H
#define ORVIK_TOOLS_RESCOMP_RES_WRITER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orvik::rescomp {

using Bytes = std::vector<uint8_t>;

/// A resource type or name: a number, or text (written as given).
struct ResourceId {
    bool isNumber = true;
    uint16_t number = 0;
    std::u16string text;
    static ResourceId of(uint16_t n) { return {true, n, {}}; }
    static ResourceId named(std::u16string t) { return {false, 0, std::move(t)}; }
};

constexpr uint16_t kLanguageUsEnglish = 0x0409;
constexpr uint16_t kTypeString = 6, kTypeVersion = 16;
// Memory flags as resource compilers write them: movable and pure, and
// discardable for string tables.
constexpr uint16_t kFlagsMovablePure = 0x0030, kFlagsDiscardable = 0x1030;

class ResourceFileWriter {
public:
    ResourceFileWriter(); // writes the marker entry
    void add(const ResourceId& type, const ResourceId& name, uint16_t language, uint16_t flags,
             const Bytes& data);
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

/// The string-table block (resource name id / 16 + 1) holding the strings given,
/// each at its own id; the block's other entries are empty.
Bytes stringTableBlock(uint16_t blockNumber,
                       const std::vector<std::pair<uint16_t, std::u16string>>& strings);

/// Version information: the fixed file and product version (four 16-bit parts),
/// file flags mask, flags, operating system, type and subtype; one string block for
/// language 0x0409 and code page 1200 with the entries given, in order; and the
/// matching translation entry.
struct VersionInfo {
    uint16_t fileVersion[4] = {};
    uint16_t productVersion[4] = {};
    uint32_t fileFlagsMask = 0, fileFlags = 0, fileOs = 0, fileType = 0, fileSubtype = 0;
    std::vector<std::pair<std::u16string, std::u16string>> strings;
};
Bytes versionResource(const VersionInfo& info);

} // namespace orvik::rescomp

#endif // ORVIK_TOOLS_RESCOMP_RES_WRITER_H
