// fuzz/script_fuzzer.cpp: arbitrary text as a registration script
//
// Each input is registered and then unregistered against a private store. Whatever
// the text, both runs end in a result code, and a key the text does not name
// survives: every root holds a sentinel key with a value, which only a script that
// names it may touch (the roots themselves cannot be deleted). Between inputs the
// store is emptied again, sentinels apart.

#include "fuzz/private_store.h"
#include "registration/registrar.h"

#include "orvik/platform/registry_helpers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char kSentinel[] = "Sentinel8f3a";
const BYTE kSentinelValue[] = "kept";

bool mentionsSentinel(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text.find("sentinel8f3a") != std::string::npos;
}

void plantSentinels() {
    for (const orvik::RegRootName& root : orvik::kRegRootNames) {
        orvik::RegKey key;
        if (RegCreateKeyExA(root.key, kSentinel, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                            nullptr) != ERROR_SUCCESS ||
            RegSetValueExA(key.get(), "v", 0, REG_SZ, kSentinelValue, sizeof kSentinelValue) !=
                ERROR_SUCCESS)
            std::abort();
    }
}

bool sentinelsIntact() {
    for (const orvik::RegRootName& root : orvik::kRegRootNames) {
        std::string value;
        if (orvik::regQueryString(root.key, kSentinel, "v", value) != ERROR_SUCCESS ||
            value != reinterpret_cast<const char*>(kSentinelValue))
            return false;
    }
    return true;
}

void emptyStore() {
    for (const orvik::RegRootName& root : orvik::kRegRootNames) {
        std::vector<std::string> children;
        (void)orvik::regSubkeyNames(root.key, children);
        for (const std::string& child : children)
            if (child != kSentinel)
                (void)orvik::regDeleteTree(root.key, child.c_str());
    }
}

bool isResultCode(HRESULT hr) {
    return hr == S_OK || FAILED(hr);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    orvik::fuzz::usePrivateStore("script-fuzz");
    plantSentinels();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    for (bool doRegister : {true, false}) {
        orvik::CRegObject registrar;
        registrar.AddVariable(u"Module", u"/opt/orvik/liborvik.so");
        registrar.AddVariable(u"Empty", u"");
        HRESULT hr = registrar.RunScript(text.c_str(), doRegister);
        if (!isResultCode(hr))
            std::abort();
    }
    if (!mentionsSentinel(text) && !sentinelsIntact()) {
        std::fprintf(stderr, "a script that does not name the sentinel changed it\n");
        std::abort();
    }
    emptyStore();
    plantSentinels();
    return 0;
}
