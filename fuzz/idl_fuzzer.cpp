// fuzz/idl_fuzzer.cpp: arbitrary text as an interface definition
//
// Parsing ends in a definition or a positioned error, never a crash. A definition
// that compiles gives a header and a library, and the platform's reader accepts
// every library the compiler writes: what the reader could not hold, the compiler
// must have refused.

#include "header_writer.h"
#include "idl_parser.h"
#include "tlb_writer.h"
#include "typelib/model/library.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    orvik::idl::ParseResult parsed = orvik::idl::parseDefinition(text);
    auto* def = std::get_if<orvik::idl::Definition>(&parsed);
    if (!def)
        return 0;
    (void)orvik::idl::writeHeader(*def, "FUZZ_H", "fuzz.idl");
    std::vector<uint8_t> bytes;
    std::string error;
    if (!orvik::idl::writeTypeLibrary(*def, bytes, &error))
        return 0;
    orvik::tlb::Library lib;
    HRESULT hr = orvik::tlb::readLibrary(bytes.data(), bytes.size(), lib);
    if (FAILED(hr)) {
        std::fprintf(stderr, "the reader refuses a library the compiler wrote: 0x%08X\n",
                     unsigned(hr));
        std::abort();
    }
    return 0;
}
