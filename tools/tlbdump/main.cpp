// tools/tlbdump/main.cpp: orvik-tlbdump, a type library as readable definition text

#include "idl_dump.h"
#include "tool_common.h"

#include "orvik/platform/ref.h"
#include "orvik/platform/text.h"

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

const char kTool[] = "orvik-tlbdump";

const char kUsage[] =
    "usage: orvik-tlbdump FILE\n"
    "\n"
    "Prints the type library FILE (a library file, or a module file that carries one)\n"
    "as interface-definition text that orvik-idlc compiles back into the same library.\n"
    "  -h, --help  show this text\n"
    "  --version   show the versions\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage.\n";

} // namespace

int main(int argc, char** argv) {
    namespace tool = orvik::tool;
    if (int status = tool::standardOptions(argc, argv, kTool, kUsage); status >= 0)
        return status;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] == '-')
            return tool::usageError(kTool, std::string("unknown option '") + argv[i] + "'", kUsage);
    if (argc != 2)
        return tool::usageError(kTool, argc < 2 ? "no library file" : "expected one library file",
                                kUsage);
    // A file that is not there is said to be missing, not to be no library.
    if (struct stat st; stat(argv[1], &st) != 0)
        return tool::fail(kTool,
                          std::string("cannot read ") + argv[1] + ": " + std::strerror(errno));
    std::u16string path;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, argv[1], -1, nullptr, 0);
    if (n > 0) {
        path.resize(size_t(n));
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, argv[1], -1, path.data(), n);
    }
    orvik::Ref<ITypeLib> lib;
    HRESULT hr = n > 0 ? LoadTypeLib(path.c_str(), lib.put()) : E_INVALIDARG;
    if (FAILED(hr))
        return tool::fail(kTool, std::string("cannot load ") + argv[1], hr);
    std::string text;
    hr = orvik::dumpTypeLibrary(lib.get(), text);
    if (FAILED(hr))
        return tool::fail(kTool, std::string("cannot describe ") + argv[1], hr);
    std::fputs(text.c_str(), stdout);
    return tool::kSuccess;
}
