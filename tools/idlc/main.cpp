// tools/idlc/main.cpp: orvik-idlc, the interface definition compiler
//
// Reads one definition and writes what the build asks for: the interface header
// (--header), the C++ layer (--cpp), the binary library (--tlb), the operation listing
// on standard output (--list). "-" names standard output.

#include "cpp_layer_writer.h"
#include "header_writer.h"
#include "idl_parser.h"
#include "tlb_writer.h"
#include "tool_common.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

const char kTool[] = "orvik-idlc";

const char kUsage[] =
    "usage: orvik-idlc [--header FILE] [--cpp FILE [--notes FILE]] [--tlb FILE] [--list]\n"
    "                  DEFINITION.idl\n"
    "\n"
    "Compiles an interface definition.\n"
    "  --header FILE  write the C/C++ interface header to FILE\n"
    "  --cpp FILE     write the C++ client layer to FILE, and beside it FILE_raw (orvik.hpp:\n"
    "                 orvik_raw.hpp), which joins the layer with the --header file\n"
    "  --notes FILE   words for the C++ layer's documentation, \"Interface.Member: text\"\n"
    "  --tlb FILE     write the binary interface library to FILE\n"
    "  --list         print one line per operation: INTERFACE SLOT DISPID KIND NAME\n"
    "  -h, --help     show this text\n"
    "  --version      show the versions\n"
    "\n"
    "FILE may be - for standard output. Exit status: 0 success, 1 failure, 2 usage.\n";

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return !in.bad();
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The definition's name without its extension: "orvik" for orvik.idl.
std::string stemOf(const std::string& input) {
    const std::string name = baseName(input);
    return name.substr(0, name.find('.'));
}

// ORVIK_<NAME>_H from the output's file name (for standard output, the name the
// file would have beside the definition: orvik_i.h, orvik.hpp).
std::string guardFor(const std::string& path, const std::string& input, const char* suffix) {
    std::string name = baseName(path);
    if (path == "-")
        name = stemOf(input) + suffix;
    std::string guard = "ORVIK_";
    for (char c : name)
        guard += std::isalnum(static_cast<unsigned char>(c)) ? char(std::toupper(c)) : '_';
    return guard;
}

} // namespace

// Writes the C++ layer of def to path, with the words of the notes file (if any); an
// exit status.
int writeCppLayerFile(const orvik::idl::Definition& def, const std::string& path,
                      const std::string& notesPath, const std::string& input,
                      const std::string& included) {
    namespace tool = orvik::tool;
    orvik::idl::Notes notes;
    std::string notesText;
    int badLine = 0;
    if (!notesPath.empty() && !readFile(notesPath, notesText))
        return tool::fail(kTool, "cannot read " + notesPath + ": " + std::strerror(errno));
    if (!orvik::idl::parseNotes(notesText, notes, badLine)) {
        std::fprintf(stderr, "%s:%d: expected \"Key: words\"\n", notesPath.c_str(), badLine);
        return tool::kFailure;
    }
    const std::string layerName =
        "orvik/" + (path == "-" ? stemOf(input) + ".hpp" : baseName(path));
    if (!tool::writeOutput(path,
                           orvik::idl::writeCppLayer(def, notes, guardFor(path, input, ".hpp"),
                                                     baseName(input), included, layerName)))
        return tool::fail(kTool, "cannot write " + path + ": " + std::strerror(errno));
    // The bridge goes beside the layer; on standard output the layer is all there is.
    if (path == "-")
        return tool::kSuccess;
    const std::string bridge = orvik::idl::bridgeName(path);
    if (!tool::writeOutput(bridge,
                           orvik::idl::writeCppBridge(def, guardFor(bridge, input, "_raw.hpp"),
                                                      baseName(input), included, layerName)))
        return tool::fail(kTool, "cannot write " + bridge + ": " + std::strerror(errno));
    return tool::kSuccess;
}

int main(int argc, char** argv) {
    namespace tool = orvik::tool;
    if (int status = tool::standardOptions(argc, argv, kTool, kUsage); status >= 0)
        return status;
    std::string input, header, tlb, cppLayer, notesPath;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
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
        } else if (arg == "--header" || arg == "--cpp" || arg == "--notes" || arg == "--tlb") {
            return tool::usageError(kTool, arg + " needs a file (or - for standard output)",
                                    kUsage);
        } else if (!arg.empty() && arg[0] != '-' && input.empty()) {
            input = arg;
        } else {
            return tool::usageError(kTool, "unexpected argument '" + arg + "'", kUsage);
        }
    }
    if (input.empty())
        return tool::usageError(kTool, "no definition file", kUsage);
    if (header.empty() && cppLayer.empty() && tlb.empty() && !list)
        return tool::usageError(kTool, "nothing to write: give --header, --cpp, --tlb or --list",
                                kUsage);

    std::string source;
    if (!readFile(input, source))
        return tool::fail(kTool, "cannot read " + input + ": " + std::strerror(errno));
    orvik::idl::ParseResult parsed = orvik::idl::parseDefinition(source);
    if (auto* d = std::get_if<orvik::idl::Diagnostic>(&parsed)) {
        // The compiler's own form, file:line:column, that editors jump to.
        std::fprintf(stderr, "%s:%d:%d: %s\n", input.c_str(), d->location.line, d->location.column,
                     d->message.c_str());
        return tool::kFailure;
    }
    const auto& def = std::get<orvik::idl::Definition>(parsed);
    auto cannotWrite = [&](const std::string& path) {
        return tool::fail(kTool, "cannot write " + path + ": " + std::strerror(errno));
    };

    // The C++ layer includes the header by this name, between quotes.
    const std::string included =
        "orvik/" + (header.empty() || header == "-" ? stemOf(input) + "_i.h" : baseName(header));
    if (!cppLayer.empty())
        for (char c : included)
            if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
                return tool::fail(kTool, "the header's file name cannot be included: " + included);

    if (!header.empty() &&
        !tool::writeOutput(
            header, orvik::idl::writeHeader(def, guardFor(header, input, "_i.h"), baseName(input))))
        return cannotWrite(header);
    if (!cppLayer.empty())
        if (int status = writeCppLayerFile(def, cppLayer, notesPath, input, included);
            status != tool::kSuccess)
            return status;
    if (!tlb.empty()) {
        std::vector<uint8_t> bytes;
        std::string message;
        if (!orvik::idl::writeTypeLibrary(def, bytes, &message))
            return tool::fail(kTool, input + ": " + message);
        if (!tool::writeOutput(tlb, std::string(bytes.begin(), bytes.end())))
            return cannotWrite(tlb);
    }
    if (list)
        std::fputs(orvik::idl::writeListing(def).c_str(), stdout);
    return tool::kSuccess;
}
