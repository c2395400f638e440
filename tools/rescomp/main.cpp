// tools/rescomp/main.cpp: orvik-rescomp, the module's resource compiler
//
// Builds the resource file the module file carries, from the files the rest of the
// build already makes: the interface library, the registration scripts as they
// stand, the project name and the version. A script whose size is not the one
// given fails the build, so a script cannot change unnoticed. The output is
// written next to its final name and renamed into place, or to standard output (-).

#include "res_writer.h"
#include "tool_common.h"

#include "orvik/platform/utf.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using namespace orvik::rescomp;

const char kUsage[] =
    "usage: orvik-rescomp --out FILE [--typelib ID=FILE] [--registry ID=FILE:SIZE]...\n"
    "                     [--string ID=TEXT]... [--version A.B.C.D]\n"
    "                     [--version-string KEY=VALUE]...\n"
    "\n"
    "Writes a 32-bit resource file for a module, every resource in language 0x0409.\n"
    "  --typelib ID=FILE        resource ID of type TYPELIB: the library file's bytes\n"
    "  --registry ID=FILE:SIZE  resource ID of type REGISTRY: the script's bytes, which\n"
    "                           must be exactly SIZE bytes\n"
    "  --string ID=TEXT         string ID of the module's string table\n"
    "  --version A.B.C.D        version information with this file and product version\n"
    "                           (a DLL for 32-bit Windows, flags mask 0x3F)\n"
    "  --version-string K=V     an entry of the version's string block, in order\n"
    "  -h, --help               show this text\n"
    "  --version                show the versions (without a value)\n"
    "\n"
    "FILE of --out may be - for standard output. Exit status: 0 success, 1 failure,\n"
    "2 usage.\n";

const char kTool[] = "orvik-rescomp";

bool readFile(const std::string& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool parseNumber(const std::string& text, unsigned long max, unsigned long& out) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoul(text);
    return out <= max;
}

// "ID=REST": the number and the rest.
bool splitId(const std::string& arg, uint16_t& id, std::string& rest) {
    size_t eq = arg.find('=');
    unsigned long n = 0;
    if (eq == std::string::npos || !parseNumber(arg.substr(0, eq), 0xFFFF, n))
        return false;
    id = uint16_t(n);
    rest = arg.substr(eq + 1);
    return true;
}

bool parseVersion(const std::string& text, uint16_t (&parts)[4]) {
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = i < 3 ? text.find('.', at) : text.size();
        unsigned long n = 0;
        if (end == std::string::npos || !parseNumber(text.substr(at, end - at), 0xFFFF, n))
            return false;
        parts[i] = uint16_t(n);
        at = end + 1;
    }
    return true;
}

int fail(const std::string& message) {
    return orvik::tool::fail(kTool, message);
}

int usage(const std::string& message) {
    return orvik::tool::usageError(kTool, message, kUsage);
}

std::u16string utf16(const std::string& text) {
    return orvik::toUtf16(text).value_or(u"");
}

} // namespace

int main(int argc, char** argv) {
    std::string outPath;
    ResourceFileWriter writer;
    std::vector<std::pair<uint16_t, std::u16string>> strings;
    VersionInfo version;
    bool haveVersion = false;
    // --version alone asks for the tool's versions; with a value it sets the module's.
    if (argc == 2)
        if (int status = orvik::tool::standardOptions(argc, argv, kTool, kUsage); status >= 0)
            return status;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return orvik::tool::kSuccess;
        }
        if (i + 1 >= argc)
            return usage(option + " needs a value");
        std::string value = argv[++i];
        uint16_t id = 0;
        std::string rest;
        if (option == "--out") {
            outPath = value;
        } else if (option == "--typelib" && splitId(value, id, rest)) {
            Bytes data;
            if (!readFile(rest, data))
                return fail("cannot read the library " + rest);
            writer.add(ResourceId::named(u"TYPELIB"), ResourceId::of(id), kLanguageUsEnglish,
                       kFlagsMovablePure, data);
        } else if (option == "--registry" && splitId(value, id, rest)) {
            size_t colon = rest.rfind(':');
            unsigned long expected = 0;
            if (colon == std::string::npos ||
                !parseNumber(rest.substr(colon + 1), 0xFFFFFFFF, expected))
                return fail("--registry takes ID=FILE:SIZE, not " + value);
            std::string path = rest.substr(0, colon);
            Bytes data;
            if (!readFile(path, data))
                return fail("cannot read the script " + path);
            if (data.size() != expected)
                return fail("the script " + path + " is " + std::to_string(data.size()) +
                            " bytes, not the " + std::to_string(expected) + " it must be");
            writer.add(ResourceId::named(u"REGISTRY"), ResourceId::of(id), kLanguageUsEnglish,
                       kFlagsMovablePure, data);
        } else if (option == "--string" && splitId(value, id, rest)) {
            strings.emplace_back(id, utf16(rest));
        } else if (option == "--version" && parseVersion(value, version.fileVersion)) {
            std::memcpy(version.productVersion, version.fileVersion, sizeof version.fileVersion);
            haveVersion = true;
        } else if (option == "--version-string" && value.find('=') != std::string::npos) {
            size_t eq = value.find('=');
            version.strings.emplace_back(utf16(value.substr(0, eq)), utf16(value.substr(eq + 1)));
        } else {
            return usage("cannot use " + option + " " + value);
        }
    }
    if (outPath.empty())
        return usage("no --out file");
    // The string table, one block per sixteen identifiers.
    std::vector<uint16_t> blocks;
    for (const auto& [stringId, text] : strings) {
        uint16_t block = uint16_t(stringId / 16 + 1);
        if (std::find(blocks.begin(), blocks.end(), block) == blocks.end())
            blocks.push_back(block);
    }
    for (uint16_t block : blocks)
        writer.add(ResourceId::of(kTypeString), ResourceId::of(block), kLanguageUsEnglish,
                   kFlagsDiscardable, stringTableBlock(block, strings));
    if (haveVersion) {
        version.fileFlagsMask = 0x3F;
        version.fileOs = 4;   // VOS__WINDOWS32
        version.fileType = 2; // VFT_DLL
        writer.add(ResourceId::of(kTypeVersion), ResourceId::of(1), kLanguageUsEnglish,
                   kFlagsMovablePure, versionResource(version));
    }
    const Bytes& bytes = writer.bytes();
    if (!orvik::tool::writeOutput(outPath, std::string(bytes.begin(), bytes.end())))
        return fail("cannot write " + outPath + ": " + std::strerror(errno));
    return orvik::tool::kSuccess;
}
