// tests/platform/module_resources_test.cpp: module files loaded as data, and their
// resources found and read
//
// The files are built here byte by byte: a 64-bit ELF file whose ".rsrc" section
// holds a resource file laid out as the published 32-bit format gives it, every
// header size and offset written out by hand.

#include "orvik/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <elf.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void append(Bytes& out, std::initializer_list<uint32_t> words32) {
    for (uint32_t w : words32)
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(w >> (8 * i)));
}
void append16(Bytes& out, std::initializer_list<uint16_t> words) {
    for (uint16_t w : words) {
        out.push_back(uint8_t(w));
        out.push_back(uint8_t(w >> 8));
    }
}

// The resource file: the empty marker entry; REGISTRY 101 "HKCR\r\n" in 0x0409;
// REGISTRY 101 "neutral!" in language 0; REGISTRY 102 "de" in 0x0407 only;
// type 7 (a number) name "ABC" in 0x0409, data "xyz".
Bytes resourceFile() {
    Bytes r;
    // Marker: data size 0, header size 32, type 0xFFFF 0, name 0xFFFF 0.
    append(r, {0, 32});
    append16(r, {0xFFFF, 0, 0xFFFF, 0});
    append(r, {0, 0, 0, 0});
    // REGISTRY 101: 8 + 18 (type text) + 4 (name) = 30, padded to 32, + 16 = 48.
    append(r, {6, 48});
    append16(r, {'R', 'E', 'G', 'I', 'S', 'T', 'R', 'Y', 0, 0xFFFF, 101, 0});
    append(r, {0});                // data version
    append16(r, {0x0030, 0x0409}); // memory flags, language
    append(r, {0, 0});             // version, characteristics
    for (char c : std::string("HKCR\r\n"))
        r.push_back(uint8_t(c));
    r.insert(r.end(), {0, 0}); // data padded to four bytes
    append(r, {8, 48});
    append16(r, {'R', 'E', 'G', 'I', 'S', 'T', 'R', 'Y', 0, 0xFFFF, 101, 0});
    append(r, {0});
    append16(r, {0x0030, 0x0000});
    append(r, {0, 0});
    for (char c : std::string("neutral!"))
        r.push_back(uint8_t(c));
    append(r, {2, 48});
    append16(r, {'R', 'E', 'G', 'I', 'S', 'T', 'R', 'Y', 0, 0xFFFF, 102, 0});
    append(r, {0});
    append16(r, {0x0030, 0x0407});
    append(r, {0, 0});
    r.insert(r.end(), {'d', 'e', 0, 0});
    // Type 7, name "ABC": 8 + 4 + 8 = 20, + 16 = 36.
    append(r, {3, 36});
    append16(r, {0xFFFF, 7, 'A', 'B', 'C', 0});
    append(r, {0});
    append16(r, {0x0030, 0x0409});
    append(r, {0, 0});
    r.insert(r.end(), {'x', 'y', 'z', 0});
    return r;
}

// A 64-bit ELF file holding section (when given) under the name sectionName: the
// file header, the section's bytes, the section names, then three section headers
// (none, the names, the section).
Bytes elfFile(const Bytes* section, const char* sectionName = ".rsrc") {
    std::string names = std::string("\0.shstrtab\0", 11) + sectionName + '\0';
    size_t dataOffset = sizeof(Elf64_Ehdr);
    size_t dataSize = section ? section->size() : 0;
    size_t namesOffset = dataOffset + dataSize;
    size_t headersOffset = (namesOffset + names.size() + 7) & ~size_t(7);
    Elf64_Shdr headers[3] = {};
    headers[1].sh_name = 1; // ".shstrtab"
    headers[1].sh_type = SHT_STRTAB;
    headers[1].sh_offset = namesOffset;
    headers[1].sh_size = names.size();
    headers[2].sh_name = 11; // the section's name
    headers[2].sh_type = SHT_PROGBITS;
    headers[2].sh_offset = dataOffset;
    headers[2].sh_size = dataSize;
    Elf64_Ehdr eh{};
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = ELFCLASS64;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_ident[EI_VERSION] = EV_CURRENT;
    eh.e_type = ET_DYN;
    eh.e_machine = EM_X86_64;
    eh.e_version = EV_CURRENT;
    eh.e_shoff = headersOffset;
    eh.e_ehsize = sizeof eh;
    eh.e_shentsize = sizeof(Elf64_Shdr);
    eh.e_shnum = 3;
    eh.e_shstrndx = 1;
    Bytes file(headersOffset + sizeof headers, 0);
    std::memcpy(file.data(), &eh, sizeof eh);
    if (dataSize)
        std::memcpy(file.data() + dataOffset, section->data(), dataSize);
    std::memcpy(file.data() + namesOffset, names.data(), names.size());
    std::memcpy(file.data() + headersOffset, headers, sizeof headers);
    return file;
}

class ModuleResources : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/orvik-resources-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
    }
    void TearDown() override {
        for (const std::string& f : m_files)
            std::remove(f.c_str());
        rmdir(m_dir.c_str());
    }
    std::string write(const char* name, const Bytes& bytes) {
        std::string path = m_dir + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        m_files.push_back(path);
        return path;
    }
    static std::string text(HMODULE module, HRSRC found) {
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return data ? std::string(data, SizeofResource(module, found)) : std::string("(none)");
    }
    std::string m_dir;
    std::vector<std::string> m_files;
};

TEST_F(ModuleResources, ResourcesAreFoundByNumberNameAndLanguage) {
    Bytes res = resourceFile();
    std::string path = write("module.so", elfFile(&res));
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << GetLastError();

    // US English before neutral; "#101" and the type in any case name the same one.
    HRSRC script = FindResourceA(module, MAKEINTRESOURCEA(101), "REGISTRY");
    ASSERT_NE(script, nullptr);
    EXPECT_EQ(SizeofResource(module, script), 6u);
    EXPECT_EQ(text(module, script), "HKCR\r\n");
    EXPECT_EQ(FindResourceA(module, "#101", "registry"), script);
    EXPECT_EQ(text(module, FindResourceExA(module, "REGISTRY", "#101", 0)), "neutral!");
    // Only German there: found in any language, not in US English alone.
    EXPECT_EQ(text(module, FindResourceA(module, MAKEINTRESOURCEA(102), "REGISTRY")), "de");
    EXPECT_EQ(FindResourceExA(module, "REGISTRY", MAKEINTRESOURCEA(102), 0x0409), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_LANG_NOT_FOUND));
    EXPECT_EQ(text(module, FindResourceA(module, "abc", MAKEINTRESOURCEA(7))), "xyz");

    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(103), "REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(FindResourceA(module, "#", "REGISTRY"), nullptr);
    EXPECT_EQ(FindResourceA(module, "#99999", "REGISTRY"), nullptr);
    // A handle inside the one FindResourceA gave is no handle.
    for (size_t offset : {size_t(1), size_t(8)}) {
        auto inside = reinterpret_cast<HRSRC>(reinterpret_cast<char*>(script) + offset);
        SetLastError(0);
        EXPECT_EQ(SizeofResource(module, inside), 0u) << offset;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        EXPECT_EQ(LoadResource(module, inside), nullptr) << offset;
    }

    char name[512];
    DWORD length = GetModuleFileNameA(module, name, sizeof name);
    EXPECT_EQ(std::string(name, length), path);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(FreeLibrary(module)) << "freed twice";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(ModuleResources, FilesThatAreNotModulesOrAreDamagedAreRefused) {
    EXPECT_EQ(LoadLibraryExA((m_dir + "/missing.so").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    std::string notElf = write("text.so", Bytes{'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(LoadLibraryExA(notElf.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT));
    EXPECT_EQ(LoadLibraryExA(nullptr, nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // A module without resources loads, and has none to give.
    Bytes none;
    std::string bare = write("bare.so", elfFile(&none, ".text"));
    HMODULE module = LoadLibraryExA(bare.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(101), "REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
    FreeLibrary(module);

    // Damage: a header size past the end, a type text without its zero, a section
    // running past the end of the file.
    Bytes res = resourceFile();
    Bytes longHeader = res;
    longHeader[36] = 0xF0; // the first entry's header size
    Bytes openText = res;
    openText.resize(32 + 8 + 12); // cut inside the type's text
    std::vector<Bytes> damaged = {elfFile(&longHeader), elfFile(&openText)};
    Bytes cut = elfFile(&res);
    cut.resize(cut.size() - 100); // the section headers are gone
    damaged.push_back(cut);
    int n = 0;
    for (const Bytes& file : damaged) {
        std::string path = write(("damaged" + std::to_string(n++) + ".so").c_str(), file);
        EXPECT_EQ(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr) << path;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT)) << path;
    }

    // Handles that name nothing.
    int local = 0;
    HMODULE bogus = reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(&local) | 1);
    EXPECT_EQ(FindResourceA(bogus, MAKEINTRESOURCEA(101), "REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FreeLibrary(bogus));
}

TEST(ModuleFileNames, PathsAndExtensionsAreAsTheCallerExpects) {
    // The running program's own path; a buffer too small gets what fits and its size.
    char path[4096];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(path[0], '/');
    char small[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), DWORD(sizeof small));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(small), std::string(path, 7));
    int local = 0;
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&local), path, sizeof path), 0u);

    const char* cases[][2] = {{"/usr/lib/liborvik.so", ".so"},  {"/a.b/file", ""},
                              {"C:\\dir.x\\orvik.dll", ".dll"}, {"archive.tar.gz", ".gz"},
                              {"name. with space", ""},         {"", ""}};
    for (auto& [given, extension] : cases)
        EXPECT_STREQ(PathFindExtensionA(given), extension) << given;
    const char* plain = "/dir/file";
    EXPECT_EQ(PathFindExtensionA(plain), plain + std::strlen(plain)) << "the terminating zero";
    EXPECT_EQ(PathFindExtensionA(nullptr), nullptr);
}

} // namespace

namespace orvik::testing {
namespace {

// A FIFO named as a library or a module file is refused at once: opening it for
// reading would wait for a writer that never comes. The calls run in a child with
// an alarm, so that a hang fails the test instead of stopping the suite.
TEST(FilesThatAreNotRegular, AFifoIsRefusedWithoutWaiting) {
    char dir[] = "/tmp/orvik-fifo-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/library.tlb";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(5);
        std::u16string wide(fifo.begin(), fifo.end());
        ITypeLib* library = nullptr;
        bool refused = LoadTypeLib(wide.c_str(), &library) == TYPE_E_CANTLOADLIBRARY && !library &&
                       !LoadLibraryExA(fifo.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE) &&
                       GetLastError() == ERROR_BAD_EXE_FORMAT;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status))
        << "the child hung on the FIFO (signal " << WTERMSIG(status) << ")";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the FIFO was not refused with the expected code";
    unlink(fifo.c_str());
    rmdir(dir);
}

} // namespace
} // namespace orvik::testing
