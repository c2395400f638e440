// platform/src/loader/resource_file.cpp: reading a module file's resources
//
// Everything here reads a file from outside, so every offset and size is checked
// against what was read before it is used.

#include "loader/resource_file.h"

#include <cerrno>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik::res {

namespace {

constexpr WORD kNumberMarker = 0xFFFF;
// Data version, memory flags, language, version and characteristics.
constexpr size_t kHeaderTail = 16;
// A module's resources are small; anything larger is not one of ours to trust.
constexpr uint64_t kMaxSectionSize = 64u << 20;

uint32_t read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint16_t read16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

size_t alignedTo4(size_t n) {
    return (n + 3) & ~size_t(3);
}

// A type or name at at, inside a header ending at end; advances at past it.
bool readId(const uint8_t* base, size_t& at, size_t end, ResourceId& id) {
    if (at + 2 > end)
        return false;
    if (read16(base + at) == kNumberMarker) {
        if (at + 4 > end)
            return false;
        id.isNumber = true;
        id.number = read16(base + at + 2);
        at += 4;
        return true;
    }
    id.isNumber = false;
    id.text.clear();
    for (;; at += 2) {
        if (at + 2 > end)
            return false; // no terminating zero inside the header
        char16_t c = read16(base + at);
        if (c == 0) {
            at += 2;
            return true;
        }
        id.text.push_back(c);
    }
}

// Reads exactly size bytes at offset; false on a short read or an error.
bool readAt(int fd, uint64_t offset, void* into, size_t size) {
    auto* p = static_cast<uint8_t*>(into);
    while (size) {
        ssize_t n = pread(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return true;
}

struct FileCloser {
    int fd;
    ~FileCloser() { close(fd); }
};

char upper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

} // namespace

bool parseResourceFile(const uint8_t* bytes, size_t size, std::vector<Resource>& out) {
    out.clear();
    size_t at = 0;
    while (at < size) {
        if (size - at < 8)
            return false;
        uint32_t dataSize = read32(bytes + at);
        uint32_t headerSize = read32(bytes + at + 4);
        if (headerSize < 8 + 4 + 4 + kHeaderTail || headerSize > size - at ||
            dataSize > size - at - headerSize)
            return false;
        size_t headerEnd = at + headerSize;
        size_t field = at + 8;
        Resource r;
        if (!readId(bytes, field, headerEnd - kHeaderTail, r.type) ||
            !readId(bytes, field, headerEnd - kHeaderTail, r.name))
            return false;
        r.language = read16(bytes + headerEnd - kHeaderTail + 6);
        r.data = bytes + headerEnd;
        r.size = dataSize;
        bool marker = r.type.isNumber && r.type.number == 0 && dataSize == 0;
        if (!marker)
            out.push_back(std::move(r));
        at = alignedTo4(headerEnd + dataSize);
    }
    return true;
}

namespace {

// Where section s of the object whose mapping begins at base lies in memory, when it
// is allocated and lies inside one readable loaded segment of that object; else null.
const uint8_t* mappedSection(const void* base, const Elf64_Shdr& s) {
    if (!(s.sh_flags & SHF_ALLOC) || s.sh_size == 0)
        return nullptr;
    struct Search {
        uintptr_t base;
        uint64_t addr, size;
        const uint8_t* found;
    } search{reinterpret_cast<uintptr_t>(base), s.sh_addr, s.sh_size, nullptr};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto& find = *static_cast<Search*>(data);
            const ElfW(Phdr)* first = nullptr;
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_LOAD) {
                    first = &info->dlpi_phdr[i];
                    break;
                }
            if (!first ||
                ((info->dlpi_addr + first->p_vaddr) & ~uintptr_t(first->p_align - 1)) != find.base)
                return 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& ph = info->dlpi_phdr[i];
                if (ph.p_type == PT_LOAD && (ph.p_flags & PF_R) && find.addr >= ph.p_vaddr &&
                    find.size <= ph.p_memsz && find.addr - ph.p_vaddr <= ph.p_memsz - find.size)
                    find.found = reinterpret_cast<const uint8_t*>(info->dlpi_addr + find.addr);
            }
            return 1;
        },
        &search);
    return search.found;
}

} // namespace

DWORD readResourceSection(const std::string& path, std::vector<uint8_t>& out,
                          const void* mappedAt) {
    // Not blocking: a FIFO or a device is refused below instead of waited on.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
               : errno == EACCES                   ? ERROR_ACCESS_DENIED
                                                   : ERROR_FILE_NOT_FOUND;
    FileCloser closer{fd};
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return ERROR_BAD_EXE_FORMAT;
    uint64_t fileSize = uint64_t(st.st_size);
    Elf64_Ehdr eh;
    if (!readAt(fd, 0, &eh, sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
        eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB)
        return ERROR_BAD_EXE_FORMAT;
    if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 || eh.e_shstrndx >= eh.e_shnum ||
        eh.e_shoff > fileSize || uint64_t(eh.e_shnum) * sizeof(Elf64_Shdr) > fileSize - eh.e_shoff)
        return ERROR_BAD_EXE_FORMAT;
    std::vector<Elf64_Shdr> sections(eh.e_shnum);
    if (!readAt(fd, eh.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr)))
        return ERROR_BAD_EXE_FORMAT;
    auto inFile = [&](const Elf64_Shdr& s) {
        return s.sh_type == SHT_NOBITS ||
               (s.sh_offset <= fileSize && s.sh_size <= fileSize - s.sh_offset);
    };
    const Elf64_Shdr& names = sections[eh.e_shstrndx];
    if (names.sh_type != SHT_STRTAB || !inFile(names) || names.sh_size > kMaxSectionSize)
        return ERROR_BAD_EXE_FORMAT;
    std::vector<char> nameTable(names.sh_size);
    if (!readAt(fd, names.sh_offset, nameTable.data(), nameTable.size()))
        return ERROR_BAD_EXE_FORMAT;
    static constexpr char kSection[] = ".rsrc";
    for (const Elf64_Shdr& s : sections) {
        if (s.sh_name >= nameTable.size() || nameTable.size() - s.sh_name < sizeof kSection ||
            std::memcmp(&nameTable[s.sh_name], kSection, sizeof kSection) != 0)
            continue;
        if (s.sh_type == SHT_NOBITS || !inFile(s) || s.sh_size > kMaxSectionSize)
            return ERROR_BAD_EXE_FORMAT;
        if (mappedAt) {
            // The section as the loader mapped it, where it lies whole inside one
            // readable segment of the object at that address; else from the file.
            if (const uint8_t* mapped = mappedSection(mappedAt, s)) {
                out.assign(mapped, mapped + s.sh_size);
                return ERROR_SUCCESS;
            }
        }
        out.assign(s.sh_size, 0);
        return readAt(fd, s.sh_offset, out.data(), out.size()) ? ERROR_SUCCESS
                                                               : ERROR_BAD_EXE_FORMAT;
    }
    return ERROR_RESOURCE_DATA_NOT_FOUND;
}

bool matches(const ResourceId& id, LPCSTR given) {
    if (IS_INTRESOURCE(given))
        return id.isNumber && id.number == WORD(ULONG_PTR(given));
    if (given[0] == '#') {
        unsigned long number = 0;
        const char* digit = given + 1;
        if (!*digit)
            return false;
        for (; *digit; ++digit) {
            if (*digit < '0' || *digit > '9' || number > 0xFFFF)
                return false;
            number = number * 10 + unsigned(*digit - '0');
        }
        return id.isNumber && number == id.number;
    }
    if (id.isNumber)
        return false;
    size_t i = 0;
    for (; given[i]; ++i)
        if (i >= id.text.size() || id.text[i] > 0x7F || upper(char(id.text[i])) != upper(given[i]))
            return false;
    return i == id.text.size();
}

const Resource* findInLanguage(const std::vector<Resource>& resources, LPCSTR type, LPCSTR name,
                               WORD language) {
    for (const Resource& r : resources)
        if (r.language == language && matches(r.type, type) && matches(r.name, name))
            return &r;
    return nullptr;
}

const Resource* findPreferred(const std::vector<Resource>& resources, LPCSTR type, LPCSTR name) {
    for (WORD language : {WORD(LANG_ENGLISH_US), WORD(LANG_NEUTRAL)})
        if (const Resource* r = findInLanguage(resources, type, name, language))
            return r;
    for (const Resource& r : resources)
        if (matches(r.type, type) && matches(r.name, name))
            return &r;
    return nullptr;
}

DWORD findError(const std::vector<Resource>& resources, LPCSTR type, LPCSTR name) {
    bool typeFound = false;
    for (const Resource& r : resources) {
        if (!matches(r.type, type))
            continue;
        typeFound = true;
        if (matches(r.name, name))
            return ERROR_RESOURCE_LANG_NOT_FOUND;
    }
    return typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
}

DWORD readModuleResource(const std::string& path, LPCSTR type, LPCSTR name,
                         std::vector<uint8_t>& out) {
    std::vector<uint8_t> section;
    if (DWORD error = readResourceSection(path, section))
        return error;
    std::vector<Resource> resources;
    if (!parseResourceFile(section.data(), section.size(), resources))
        return ERROR_BAD_EXE_FORMAT;
    const Resource* found = findPreferred(resources, type, name);
    if (!found)
        return findError(resources, type, name);
    out.assign(found->data, found->data + found->size);
    return ERROR_SUCCESS;
}

} // namespace orvik::res
