// fuzz/resource_fuzzer.cpp: module files and their resources from any bytes
//
// Each input is read three ways: as a resource file by the parser itself; as the
// ".rsrc" section of a well-formed ELF file built around it; and as a whole file,
// so that the ELF reader meets damaged headers too. Loading ends in a handle or an
// error number, never a crash; every resource found reads back within the bytes
// it came from.

#include "loader/resource_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <elf.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string scratchFile() {
    static std::string path = [] {
        char name[] = "/tmp/orvik-resource-fuzz-XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0)
            close(fd);
        return std::string(name);
    }();
    return path;
}

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
}

std::vector<uint8_t> elfAround(const uint8_t* data, size_t size) {
    static const char kNames[] = "\0.shstrtab\0.rsrc\0";
    size_t dataOffset = sizeof(Elf64_Ehdr), namesOffset = dataOffset + size;
    size_t headersOffset = (namesOffset + sizeof kNames + 7) & ~size_t(7);
    std::vector<uint8_t> file(headersOffset + 3 * sizeof(Elf64_Shdr), 0);
    Elf64_Ehdr eh{};
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = ELFCLASS64;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_shoff = headersOffset;
    eh.e_shentsize = sizeof(Elf64_Shdr);
    eh.e_shnum = 3;
    eh.e_shstrndx = 1;
    Elf64_Shdr sh[3] = {};
    sh[1] = {1, SHT_STRTAB, 0, 0, namesOffset, sizeof kNames, 0, 0, 1, 0};
    sh[2] = {11, SHT_PROGBITS, 0, 0, dataOffset, size, 0, 0, 1, 0};
    std::memcpy(file.data(), &eh, sizeof eh);
    if (size)
        std::memcpy(file.data() + dataOffset, data, size);
    std::memcpy(file.data() + namesOffset, kNames, sizeof kNames);
    std::memcpy(file.data() + headersOffset, sh, sizeof sh);
    return file;
}

void loadAndFind(const std::string& path) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return;
    const LPCSTR types[] = {"REGISTRY", "TYPELIB", RT_STRING, RT_VERSION, "#5"};
    const LPCSTR names[] = {MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(101), "#7", "ABC"};
    for (LPCSTR type : types)
        for (LPCSTR name : names)
            if (HRSRC found = FindResourceA(module, name, type)) {
                const volatile uint8_t* bytes =
                    static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
                DWORD size = SizeofResource(module, found);
                if (size)
                    (void)bytes[size - 1];
            }
    if (!FreeLibrary(module))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<orvik::res::Resource> resources;
    if (orvik::res::parseResourceFile(data, size, resources))
        for (const orvik::res::Resource& r : resources)
            if (r.data < data || r.data + r.size > data + size)
                std::abort();
    std::vector<uint8_t> wrapped = elfAround(data, size);
    writeFile(scratchFile(), wrapped.data(), wrapped.size());
    loadAndFind(scratchFile());
    writeFile(scratchFile(), data, size);
    loadAndFind(scratchFile());
    return 0;
}
