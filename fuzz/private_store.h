// fuzz/private_store.h: a registry store of the fuzzer's own
//
// Targets that write to the registry point ORVIK_REGISTRY at a file of their process
// before anything opens a store, and remove it (with its log files) at exit.
#ifndef ORVIK_FUZZ_PRIVATE_STORE_H
#define ORVIK_FUZZ_PRIVATE_STORE_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace orvik::fuzz {

/// Uses /tmp/orvik-NAME-PID.db as the registry store from now on.
inline void usePrivateStore(const char* name) {
    static std::string path;
    path = std::string("/tmp/orvik-") + name + "-" + std::to_string(getpid()) + ".db";
    std::remove(path.c_str());
    std::atexit([] {
        for (const char* suffix : {"", "-wal", "-shm"})
            std::remove((path + suffix).c_str());
    });
    setenv("ORVIK_REGISTRY", path.c_str(), 1);
}

} // namespace orvik::fuzz

#endif
