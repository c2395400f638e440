// tools/idlc/main.cpp: orvik-idlc, the interface definition compiler
//
// Reads one definition and writes what the build asks for: the interface header
// (--header), the operation listing on standard output (--list). Output files are
// written next to their final name and renamed into place, so a failed run never
// leaves a half-written file behind.

#include "cpp_layer_writer.h"
#include "header_writer.h"
#include "idl_parser.h"
#include "tlb_writer.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: orvik-idlc [--header FILE] [--cpp FILE [--notes FILE]] [--tlb FILE] [--list]\n"
    "                  DEFINITION.idl\n"
    "\n"
    "Compiles an interface definition.\n"
    "  --header FILE  write the C/C++ interface header to FILE\n"
    "  --cpp FILE     write the C++ client layer to FILE (it includes the --header file)\n"
    "  --notes FILE   words for the C++ layer's documentation, \"Interface.Member: text\"\n"
    "  --tlb FILE     write the binary interface library to FILE\n"
    "  --list         print one line per operation: INTERFACE SLOT DISPID KIND NAME\n"
    "  --help         show this text\n";

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return !in.bad();
}

bool writeFileAtomically(const std::string& path, const std::string& text) {
    std::string temp = path + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out << text;
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ORVIK_<NAME>_H from the header's file name.
std::string guardFor(const std::string& headerPath) {
    std::string guard = "ORVIK_";
    for (char c : baseName(headerPath))
        guard += std::isalnum(static_cast<unsigned char>(c)) ? char(std::toupper(c)) : '_';
    return guard;
}

} // namespace

int main(int argc, char** argv) {
    std::string input, header, tlb, cppLayer, notesPath;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--list") {
            list = true;
        } else if (arg == "--header" && i + 1 < argc) {
            header = argv[++i];
        } else if (arg == "--cpp" && i + 1 < argc) {
            cppLayer = argv[++i];
        } else if (arg == "--notes" && i + 1 < argc) {
            notesPath = argv[++i];
        } else if (arg == "--tlb" && i + 1 < argc) {
            tlb = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && input.empty()) {
            input = arg;
        } else {
            std::fprintf(stderr, "orvik-idlc: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (input.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    std::string source;
    if (!readFile(input, source)) {
        std::fprintf(stderr, "%s: cannot read: %s\n", input.c_str(), std::strerror(errno));
        return 1;
    }
    orvik::idl::ParseResult parsed = orvik::idl::parseDefinition(source);
    if (auto* d = std::get_if<orvik::idl::Diagnostic>(&parsed)) {
        std::fprintf(stderr, "%s:%d:%d: %s\n", input.c_str(), d->location.line, d->location.column,
                     d->message.c_str());
        return 1;
    }
    const auto& def = std::get<orvik::idl::Definition>(parsed);

    if (!header.empty() &&
        !writeFileAtomically(header,
                             orvik::idl::writeHeader(def, guardFor(header), baseName(input)))) {
        std::fprintf(stderr, "%s: cannot write: %s\n", header.c_str(), std::strerror(errno));
        return 1;
    }
    if (!cppLayer.empty()) {
        orvik::idl::Notes notes;
        std::string notesText;
        int badLine = 0;
        if (!notesPath.empty() && !readFile(notesPath, notesText)) {
            std::fprintf(stderr, "%s: cannot read: %s\n", notesPath.c_str(), std::strerror(errno));
            return 1;
        }
        if (!orvik::idl::parseNotes(notesText, notes, badLine)) {
            std::fprintf(stderr, "%s:%d: expected \"Key: words\"\n", notesPath.c_str(), badLine);
            return 1;
        }
        const std::string included =
            header.empty() ? "orvik/orvik_i.h" : "orvik/" + baseName(header);
        if (!writeFileAtomically(cppLayer, orvik::idl::writeCppLayer(def, notes, guardFor(cppLayer),
                                                                     baseName(input), included))) {
            std::fprintf(stderr, "%s: cannot write: %s\n", cppLayer.c_str(), std::strerror(errno));
            return 1;
        }
    }
    if (!tlb.empty()) {
        std::vector<uint8_t> bytes;
        std::string message;
        if (!orvik::idl::writeTypeLibrary(def, bytes, &message)) {
            std::fprintf(stderr, "%s: %s\n", input.c_str(), message.c_str());
            return 1;
        }
        if (!writeFileAtomically(tlb, std::string(bytes.begin(), bytes.end()))) {
            std::fprintf(stderr, "%s: cannot write: %s\n", tlb.c_str(), std::strerror(errno));
            return 1;
        }
    }
    if (list)
        std::fputs(orvik::idl::writeListing(def).c_str(), stdout);
    return 0;
}
