// fuzz/typelib_fuzzer.cpp: arbitrary bytes as a type library
//
// Whatever the bytes, reading must end in S_OK or an error code, never a crash, a
// hang or a read outside the buffer; a library that reads is then walked whole
// through ITypeLib and ITypeInfo (as orvik-tlbdump does).

#include "idl_dump.h"
#include "typelib/typelib_model.h"
#include "typelib/typelib_objects.h"

#include "orvik/platform/ref.h"

#include <cstdint>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto lib = std::make_shared<orvik::tlb::Library>();
    if (FAILED(orvik::tlb::readLibrary(data, size, *lib)))
        return 0;
    orvik::Ref<ITypeLib> typeLib;
    if (SUCCEEDED(orvik::tlb::createTypeLib(std::move(lib), typeLib.put()))) {
        std::string text;
        (void)orvik::dumpTypeLibrary(typeLib.get(), text);
    }
    return 0;
}
