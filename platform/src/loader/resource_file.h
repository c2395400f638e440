// platform/src/loader/resource_file.h: the resources of a module file
//
// A module file's ".rsrc" ELF section holds a 32-bit resource file: a run of
// entries, each a header (data size, header size, type, name, data version, memory
// flags, language, version, characteristics) and its data, both padded to four
// bytes. A type or name is either 0xFFFF followed by a 16-bit number, or 16-bit
// text ending with a zero. The first entry is an empty one that marks the format.
#ifndef ORVIK_PLATFORM_SRC_LOADER_RESOURCE_FILE_H
#define ORVIK_PLATFORM_SRC_LOADER_RESOURCE_FILE_H

#include "orvik/platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvik::res {

/// A resource type or name: a number, or text (kept as written).
struct ResourceId {
    bool isNumber = true;
    WORD number = 0;
    std::u16string text;
};

/// One resource of a file, its data pointing into the bytes it was read from.
struct Resource {
    ResourceId type, name;
    WORD language = 0;
    const uint8_t* data = nullptr;
    DWORD size = 0;
};

/// The entries of a resource file image, in file order, the empty marker left out.
/// False for an image that is not one: a header or data running past the end, a
/// header too short for its fields, text without its terminating zero.
bool parseResourceFile(const uint8_t* bytes, size_t size, std::vector<Resource>& out);

/// The bytes of the ".rsrc" section of the ELF file at path: with mappedAt, the
/// address where that file is loaded, as the loader mapped them (the file's section
/// table only says where). A platform error number: ERROR_FILE_NOT_FOUND (or the
/// error of opening it), ERROR_BAD_EXE_FORMAT for a file that is not a well-formed
/// 64-bit ELF file, ERROR_RESOURCE_DATA_NOT_FOUND for one without the section.
DWORD readResourceSection(const std::string& path, std::vector<uint8_t>& out,
                          const void* mappedAt = nullptr);

/// Whether id names the resource type or name given as an argument: a small integer
/// (MAKEINTRESOURCEA), "#number", or text compared without regard to ASCII case.
bool matches(const ResourceId& id, LPCSTR given);

/// Resource (type, name) in US English, else language neutral, else any language;
/// null when there is none.
const Resource* findPreferred(const std::vector<Resource>& resources, LPCSTR type, LPCSTR name);
/// Resource (type, name) in exactly the given language; null when there is none.
const Resource* findInLanguage(const std::vector<Resource>& resources, LPCSTR type, LPCSTR name,
                               WORD language);
/// Why (type, name) was not found: ERROR_RESOURCE_TYPE_NOT_FOUND when no resource
/// has the type, ERROR_RESOURCE_NAME_NOT_FOUND when none of it has the name, else
/// ERROR_RESOURCE_LANG_NOT_FOUND.
DWORD findError(const std::vector<Resource>& resources, LPCSTR type, LPCSTR name);

/// The data of resource (type, name) of the module file at path, in the language
/// FindResourceA prefers. A platform error number.
DWORD readModuleResource(const std::string& path, LPCSTR type, LPCSTR name,
                         std::vector<uint8_t>& out);

} // namespace orvik::res

#endif // ORVIK_PLATFORM_SRC_LOADER_RESOURCE_FILE_H
