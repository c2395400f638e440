// tools/regsvr/main.cpp: orvik-regsvr, registering a module file through its own
// entry points
//
// The module is loaded to run, as a client would load it, and its DllRegisterServer
// (or DllUnregisterServer) called; the store is the one ORVIK_REGISTRY names. A
// relative file name is made absolute first, so that the registry holds a path
// that works from anywhere.

#include "orvik/platform.h"
#include "orvik/platform/error_description.h"
#include "tool_common.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using orvik::tool::registryStorePath;

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
    "  --version   show the versions\n"
    "\n"
    "Exit status: 0 done, 1 usage, 3 the module cannot be loaded, 4 it lacks the\n"
    "entry point, 5 the entry point failed.\n";

const char kTool[] = "orvik-regsvr";

// The platform's registration tool's own codes, which scripts test for.
enum Exit { kDone = 0, kUsage = 1, kCannotLoad = 3, kNoEntryPoint = 4, kEntryFailed = 5 };

} // namespace

int main(int argc, char** argv) {
    if (int status = orvik::tool::standardOptions(argc, argv, kTool, kUsageText); status >= 0)
        return status;
    bool unregister = false, silent = false;
    const char* module = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "/?") {
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
            orvik::tool::fail(kTool, std::string("cannot load ") + module,
                              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        return kCannotLoad;
    }
    HMODULE loaded = LoadLibraryExA(absolute, nullptr, 0);
    if (!loaded) {
        if (!silent)
            orvik::tool::fail(kTool, std::string("cannot load ") + absolute,
                              HRESULT_FROM_WIN32(GetLastError()));
        return kCannotLoad;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    // The entry point's own type, through the generic one GetProcAddress returns.
    auto call =
        reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(loaded, entry)));
    if (!call) {
        if (!silent)
            orvik::tool::fail(kTool, std::string(absolute) + " has no entry point " + entry,
                              HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
        FreeLibrary(loaded);
        return kNoEntryPoint;
    }
    HRESULT hr = call();
    FreeLibrary(loaded);
    if (FAILED(hr)) {
        // A script at fault says where and why, in the compiler's manner, first.
        std::string where = orvik::takeErrorDescription();
        if (!silent && !where.empty())
            std::fprintf(stderr, "%s\n", where.c_str());
        // Unregistering what is not registered fails as the platform's unregistration
        // does; say what that means here.
        std::string why = unregister && hr == TYPE_E_REGISTRYACCESS
                              ? " (its interface library is not registered in " +
                                    registryStorePath() + ": was the module registered there?)"
                              : "";
        if (!silent)
            orvik::tool::fail(kTool, std::string(entry) + " in " + absolute + " failed" + why, hr);
        return kEntryFailed;
    }
    if (!silent)
        std::printf("%s in %s succeeded.\n", entry, absolute);
    return kDone;
}
