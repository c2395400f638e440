// tools/tlbdump/main.cpp: orvik-tlbdump, a type library as readable definition text

#include "idl_dump.h"

#include "orvik/platform/ref.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts("usage: orvik-tlbdump FILE\n\n"
                  "Prints the type library FILE as interface-definition text that orvik-idlc\n"
                  "compiles back into the same library. Exit status 1 when FILE cannot be\n"
                  "loaded.");
        return 0;
    }
    if (argc != 2) {
        std::fputs("usage: orvik-tlbdump FILE (--help for more)\n", stderr);
        return 2;
    }
    std::u16string path;
    int n = MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, nullptr, 0);
    if (n > 0) {
        path.resize(size_t(n));
        MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, path.data(), n);
    }
    orvik::Ref<ITypeLib> lib;
    HRESULT hr = n > 0 ? LoadTypeLib(path.c_str(), lib.put()) : E_INVALIDARG;
    if (FAILED(hr)) {
        std::fprintf(stderr, "orvik-tlbdump: cannot load %s: 0x%08X\n", argv[1], unsigned(hr));
        return 1;
    }
    std::string text;
    hr = orvik::dumpTypeLibrary(lib.get(), text);
    if (FAILED(hr)) {
        std::fprintf(stderr, "orvik-tlbdump: cannot describe %s: 0x%08X\n", argv[1], unsigned(hr));
        return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}
