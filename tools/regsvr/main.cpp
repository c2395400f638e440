// tools/regsvr/main.cpp: orvik-regsvr, registering a module file through its own
// entry points
//
// The module is loaded to run, as a client would load it, and its DllRegisterServer
// (or DllUnregisterServer) called; the store is the one ORVIK_REGISTRY names. A
// relative file name is made absolute first, so that the registry holds a path
// that works from anywhere.

#include "orvik/platform.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kUsageText[] =
    "usage: orvik-regsvr [-u] [-s] MODULE\n"
    "\n"
    "Registers MODULE (a module file serving component classes) by calling its\n"
    "DllRegisterServer, or unregisters it with -u through DllUnregisterServer. The\n"
    "registry store is the one ORVIK_REGISTRY names (default:\n"
    "$XDG_DATA_HOME/orvik/registry.db).\n"
    "\n"
    "  -u, /u      unregister\n"
    "  -s, /s      silent: print nothing but usage errors\n"
    "  -h, --help  show this text\n"
    "\n"
    "Exit status: 0 done, 1 usage, 3 the module cannot be loaded, 4 it lacks the\n"
    "entry point, 5 the entry point failed.\n";

enum Exit { kDone = 0, kUsage = 1, kCannotLoad = 3, kNoEntryPoint = 4, kEntryFailed = 5 };

} // namespace

int main(int argc, char** argv) {
    bool unregister = false, silent = false;
    const char* module = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help" || arg == "/?") {
            std::fputs(kUsageText, stdout);
            return kDone;
        }
        if (arg == "-u" || arg == "/u" || arg == "/U")
            unregister = true;
        else if (arg == "-s" || arg == "/s" || arg == "/S")
            silent = true;
        else if (arg[0] == '-' || (arg[0] == '/' && arg.size() == 2) || module) {
            std::fprintf(stderr, "orvik-regsvr: unexpected argument %s\n%s", arg.c_str(),
                         kUsageText);
            return kUsage;
        } else
            module = argv[i];
    }
    if (!module) {
        std::fputs(kUsageText, stderr);
        return kUsage;
    }
    char absolute[PATH_MAX];
    if (!realpath(module, absolute)) {
        if (!silent)
            std::fprintf(stderr, "orvik-regsvr: cannot load %s: no such file\n", module);
        return kCannotLoad;
    }
    HMODULE loaded = LoadLibraryExA(absolute, nullptr, 0);
    if (!loaded) {
        if (!silent)
            std::fprintf(stderr, "orvik-regsvr: cannot load %s: not a module file (error %u)\n",
                         absolute, unsigned(GetLastError()));
        return kCannotLoad;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    // The entry point's own type, through the generic one GetProcAddress returns.
    auto call =
        reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(loaded, entry)));
    if (!call) {
        if (!silent)
            std::fprintf(stderr, "orvik-regsvr: %s has no entry point %s\n", absolute, entry);
        FreeLibrary(loaded);
        return kNoEntryPoint;
    }
    HRESULT hr = call();
    FreeLibrary(loaded);
    if (FAILED(hr)) {
        if (!silent)
            std::fprintf(stderr, "orvik-regsvr: %s in %s failed with 0x%08X\n", entry, absolute,
                         unsigned(hr));
        return kEntryFailed;
    }
    if (!silent)
        std::printf("%s in %s succeeded.\n", entry, absolute);
    return kDone;
}
