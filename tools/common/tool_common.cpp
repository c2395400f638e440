// tools/common/tool_common.cpp: the manners every command-line tool shares

#include "tool_common.h"

#include "orvik/platform/registry.h"
#include "orvik/platform/result_text.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <unistd.h>

namespace orvik::tool {

int standardOptions(int argc, char** argv, const char* tool, const char* usage) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(usage, stdout);
            return kSuccess;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s (Orvik) %s\nplatform library %s\n", tool, ORVIK_VERSION,
                        OrvikPlatformVersion());
            return kSuccess;
        }
    }
    return -1;
}

int fail(const char* tool, const std::string& what, HRESULT hr) {
    std::string words(OrvikResultCodeWords(hr, nullptr, 0), '\0');
    OrvikResultCodeWords(hr, words.data(), DWORD(words.size() + 1));
    std::fprintf(stderr, "%s: %s: %s\n", tool, what.c_str(), words.c_str());
    return kFailure;
}

int fail(const char* tool, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", tool, what.c_str());
    return kFailure;
}

int usageError(const char* tool, const std::string& message, const char* usage) {
    std::fprintf(stderr, "%s: %s\n%s", tool, message.c_str(), usage);
    return kUsage;
}

std::string registryStorePath() {
    std::string path(OrvikGetRegistryStorePath(nullptr, 0) + 1, '\0');
    path.resize(OrvikGetRegistryStorePath(path.data(), DWORD(path.size())));
    return path;
}

bool writeOutput(const std::string& path, const std::string& bytes) {
    if (path == "-")
        return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
               std::fflush(stdout) == 0;
    const std::string temporary = path + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes.data(), std::streamsize(bytes.size())) || !out.flush()) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace orvik::tool
