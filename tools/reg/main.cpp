// tools/reg/main.cpp: orvik-reg, the registry store from the command line
//
// Lists, queries and exports the store that ORVIK_REGISTRY names (or the default
// one), runs registration scripts through the module's own registrar, and deletes
// key trees. Export writes REGEDIT4 text with keys in name order, so two stores can
// be compared with diff.

#include "regedit_text.h"
#include "registration/registrar.h"
#include "registration/registry_batch.h"

#include "orvik/platform/error_description.h"
#include "orvik/platform/registry_helpers.h"
#include "orvik/platform/utf.h"
#include "tool_common.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using orvik::tool::registryStorePath;

const char kUsage[] =
    "usage: orvik-reg COMMAND ...\n"
    "\n"
    "Works on the registry store named by ORVIK_REGISTRY (default:\n"
    "$XDG_DATA_HOME/orvik/registry.db).\n"
    "\n"
    "  export [KEY]              REGEDIT4 text of KEY and everything below it\n"
    "                            (every root when no KEY is given)\n"
    "  query KEY [VALUE]         one value, or a key's values and sub-keys\n"
    "  script --register|--unregister FILE [--var NAME=VALUE]...\n"
    "                            run a registration script with the given variables\n"
    "                            (MODULE, the module file, is stored as an absolute path)\n"
    "  import FILE               write the keys and values of a REGEDIT4 file\n"
    "  delete KEY                remove KEY and everything below it\n"
    "  store                     the path of the store these commands work on\n"
    "  -h, --help                show this text\n"
    "  --version                 show the versions\n"
    "\n"
    "KEY is ROOT\\path, ROOT one of HKEY_CLASSES_ROOT (HKCR), HKEY_CURRENT_USER (HKCU),\n"
    "HKEY_LOCAL_MACHINE (HKLM), HKEY_USERS (HKU), HKEY_CURRENT_CONFIG (HKCC).\n"
    "export and query read an existing store only; they never create one.\n"
    "Exit status: 0 success, 1 failure (the result code on standard error), 2 usage.\n";

const char kTool[] = "orvik-reg";

using orvik::RegKey;
using orvik::RegRootName;

struct KeyPath {
    const RegRootName* root = nullptr;
    std::string path; // below the root, without leading backslash
    std::string full() const {
        return path.empty() ? root->name : std::string(root->name) + "\\" + path;
    }
};

bool parseKey(const std::string& text, KeyPath& out) {
    size_t slash = text.find('\\');
    out.root = orvik::findRegRoot(text.substr(0, slash).c_str());
    if (!out.root)
        return false;
    out.path = slash == std::string::npos ? "" : text.substr(slash + 1);
    while (!out.path.empty() && out.path.back() == '\\')
        out.path.pop_back();
    return true;
}

// Why the store itself could not be used, for the codes that say so.
const char* storeReason(HRESULT hr) {
    static const struct {
        LONG error;
        const char* reason;
    } kReasons[] = {
        {ERROR_BADDB, "not a registry store"},
        {ERROR_REGISTRY_CORRUPT, "the store is damaged"},
        {ERROR_ACCESS_DENIED, "no permission"},
        {ERROR_BUSY, "the store is busy"},
        {ERROR_REGISTRY_IO_FAILED, "the store cannot be created or read"},
    };
    for (const auto& r : kReasons)
        if (hr == HRESULT_FROM_WIN32(r.error))
            return r.reason;
    return nullptr;
}

int fail(const std::string& what, HRESULT hr) {
    if (const char* reason = storeReason(hr))
        return orvik::tool::fail(kTool,
                                 what + " (store " + registryStorePath() + ": " + reason + ")", hr);
    return orvik::tool::fail(kTool, what, hr);
}

// A key that is not in the store, said as such.
int noKey(const KeyPath& k) {
    return orvik::tool::fail(kTool, "no key " + k.full() + " in " + registryStorePath());
}

int usage(const std::string& message) {
    return orvik::tool::usageError(kTool, message, kUsage);
}

// Reading commands look at an existing store only: opening a missing one would
// create it.
bool storeMissing() {
    std::error_code error;
    if (std::filesystem::exists(registryStorePath(), error))
        return false;
    orvik::tool::fail(kTool, "no registry store at " + registryStorePath());
    return true;
}

// A name as one line of a message: control characters as \xHH.
std::string printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

struct Value {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

LONG readValues(HKEY key, std::vector<Value>& values) {
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name, type = 0, size = 0;
        LONG e = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &size);
        if (e == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (e != ERROR_SUCCESS)
            return e;
        Value v{name, type, std::vector<BYTE>(size)};
        e = RegQueryValueExA(key, name, nullptr, &type, v.data.data(), &size);
        if (e != ERROR_SUCCESS)
            return e;
        values.push_back(std::move(v));
    }
}

// Writes the REGEDIT4 text of root\path and everything below it, key by key:
// memory stays flat whatever the size of the tree. The walk keeps its own stack of
// open keys, so no depth can exhaust the call stack, and enumerates each key's
// sub-keys as it goes. A key or value whose name the text cannot hold is
// ERROR_INVALID_DATA, and a chain of keys deeper than a store can hold (a damaged
// store) ERROR_REGISTRY_CORRUPT; either is named in badName.
LONG exportTree(const KeyPath& top, const std::function<void(const std::string&)>& write,
                std::string& badName) {
    struct Level {
        RegKey key;
        std::string fullName;
        DWORD next = 0;
    };
    std::vector<Level> stack;
    auto enter = [&](HKEY parent, const std::string& name, std::string fullName,
                     bool printSelf) -> LONG {
        Level level{RegKey(), std::move(fullName), 0};
        LONG e = RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, level.key.put());
        std::vector<Value> values;
        if (e == ERROR_SUCCESS)
            e = readValues(level.key.get(), values);
        if (e != ERROR_SUCCESS)
            return e;
        if (!orvik::regtext::writableName(level.fullName))
            return badName = level.fullName, ERROR_INVALID_DATA;
        for (const Value& v : values)
            if (!orvik::regtext::writableName(v.name))
                return badName = level.fullName + " (value " + v.name + ")", ERROR_INVALID_DATA;
        if (printSelf || !values.empty()) {
            std::string text = "[" + level.fullName + "]\n";
            for (const Value& v : values)
                text += orvik::regtext::valueLine(v.name, v.type, v.data) + "\n";
            text += "\n";
            write(text);
        }
        stack.push_back(std::move(level));
        return ERROR_SUCCESS;
    };
    size_t topDepth =
        top.path.empty() ? 0 : 1 + size_t(std::count(top.path.begin(), top.path.end(), '\\'));
    LONG e = enter(top.root->key, top.path, top.full(), !top.path.empty());
    while (e == ERROR_SUCCESS && !stack.empty()) {
        Level& level = stack.back();
        std::string child;
        e = orvik::regSubkeyName(level.key.get(), level.next++, child);
        if (e == ERROR_NO_MORE_ITEMS) {
            stack.pop_back();
            e = ERROR_SUCCESS;
            continue;
        }
        if (e != ERROR_SUCCESS)
            break;
        if (topDepth + stack.size() >= ORVIK_REG_MAX_KEY_DEPTH)
            return badName = level.fullName + "\\" + child, ERROR_REGISTRY_CORRUPT;
        e = enter(level.key.get(), child, level.fullName + "\\" + child, true);
    }
    return e;
}

int runExport(const std::vector<std::string>& args) {
    if (args.size() > 1)
        return usage("export takes at most one key");
    if (storeMissing())
        return orvik::tool::kFailure;
    std::vector<KeyPath> keys;
    if (args.empty()) {
        for (const RegRootName& r : orvik::kRegRootNames)
            keys.push_back({&r, ""});
    } else {
        KeyPath k;
        if (!parseKey(args[0], k))
            return usage("unknown root key");
        keys.push_back(k);
    }
    // The header goes out with the first key, so that a store that cannot be read
    // prints nothing on standard output.
    bool started = false;
    auto write = [&](const std::string& text) {
        if (!started)
            std::fputs("REGEDIT4\n\n", stdout);
        started = true;
        std::fputs(text.c_str(), stdout);
    };
    for (const KeyPath& k : keys) {
        std::string badName;
        LONG e = exportTree(k, write, badName);
        if (e == ERROR_INVALID_DATA && !badName.empty())
            return fail("export " + k.full() +
                            ": a name holds a line break or another control "
                            "character, which the text cannot hold: " +
                            printable(badName),
                        HRESULT_FROM_WIN32(e));
        if (e == ERROR_REGISTRY_CORRUPT && !badName.empty())
            return fail("export " + k.full() + ": keys nested deeper than a store can hold, at " +
                            printable(badName.substr(0, 200)) + "...",
                        HRESULT_FROM_WIN32(e));
        if (e == ERROR_FILE_NOT_FOUND)
            return noKey(k);
        if (e != ERROR_SUCCESS)
            return fail("export " + k.full(), HRESULT_FROM_WIN32(e));
    }
    if (!started)
        write("");
    return 0;
}

int runQuery(const std::vector<std::string>& args) {
    if (args.empty() || args.size() > 2)
        return usage("query takes a key and at most one value name");
    KeyPath k;
    if (!parseKey(args[0], k))
        return usage("unknown root key");
    if (storeMissing())
        return orvik::tool::kFailure;
    RegKey key;
    LONG e = RegOpenKeyExA(k.root->key, k.path.c_str(), 0, KEY_READ, key.put());
    if (e == ERROR_FILE_NOT_FOUND)
        return noKey(k);
    if (e != ERROR_SUCCESS)
        return fail("open " + k.full(), HRESULT_FROM_WIN32(e));
    std::vector<Value> values;
    std::vector<std::string> children;
    e = readValues(key.get(), values);
    if (e == ERROR_SUCCESS)
        e = orvik::regSubkeyNames(key.get(), children);
    if (e != ERROR_SUCCESS)
        return fail("query " + k.full(), HRESULT_FROM_WIN32(e));
    if (args.size() == 2) {
        for (const Value& v : values)
            if (lstrcmpiA(v.name.c_str(), args[1].c_str()) == 0) {
                std::printf("%s\n", orvik::regtext::valueLine(v.name, v.type, v.data).c_str());
                return 0;
            }
        return orvik::tool::fail(kTool, "no value '" + args[1] + "' in " + k.full());
    }
    std::printf("[%s]\n", k.full().c_str());
    for (const Value& v : values)
        std::printf("%s\n", orvik::regtext::valueLine(v.name, v.type, v.data).c_str());
    for (const std::string& child : children)
        std::printf("%s\\\n", child.c_str());
    return 0;
}

int runScript(const std::vector<std::string>& args) {
    if (args.size() < 2 || (args[0] != "--register" && args[0] != "--unregister"))
        return usage("script needs --register or --unregister and a file");
    bool doRegister = args[0] == "--register";
    orvik::CRegObject registrar;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] != "--var" || i + 1 >= args.size())
            return usage("expected --var NAME=VALUE");
        const std::string& assignment = args[++i];
        size_t eq = assignment.find('=');
        if (eq == std::string::npos || eq == 0)
            return usage("expected --var NAME=VALUE");
        std::string text = assignment.substr(eq + 1);
        // The module file is stored as a path that works from anywhere.
        if (lstrcmpiA(assignment.substr(0, eq).c_str(), "MODULE") == 0 && !text.empty())
            text = std::filesystem::absolute(text).lexically_normal().string();
        std::optional<std::u16string> name = orvik::toUtf16(assignment.substr(0, eq));
        std::optional<std::u16string> value = orvik::toUtf16(text);
        if (!name || !value)
            return usage("a variable is not valid UTF-8 text");
        HRESULT hr = registrar.AddVariable(name->c_str(), value->c_str());
        if (FAILED(hr))
            return fail("variable " + assignment.substr(0, eq), hr);
    }
    std::ifstream in(args[1], std::ios::binary);
    if (!in)
        return fail("cannot read " + args[1], HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    std::ostringstream text;
    text << in.rdbuf();
    std::string script = text.str();
    HRESULT hr = orvik::inOneRegistryBatch(
        [&] { return registrar.RunScript(script.c_str(), doRegister, args[1].c_str()); });
    if (FAILED(hr)) {
        // Where and why, in the compiler's manner, before the result code.
        std::string where = orvik::takeErrorDescription();
        if (!where.empty())
            std::fprintf(stderr, "%s\n", where.c_str());
        return fail(doRegister ? "registration failed" : "unregistration failed", hr);
    }
    return 0;
}

// Writes one entry of an imported file.
LONG importEntry(const orvik::regtext::Entry& entry, const KeyPath& k) {
    if (entry.kind == orvik::regtext::Entry::DeleteKey) {
        LONG e = orvik::regDeleteTree(k.root->key, k.path.c_str());
        return e == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : e; // already gone
    }
    RegKey key;
    LONG e = RegCreateKeyExA(k.root->key, k.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             key.put(), nullptr);
    const char* name = entry.name.empty() ? nullptr : entry.name.c_str();
    if (e == ERROR_SUCCESS && entry.kind == orvik::regtext::Entry::Value)
        e = RegSetValueExA(key.get(), name, 0, entry.type, entry.data.data(),
                           DWORD(entry.data.size()));
    else if (e == ERROR_SUCCESS && entry.kind == orvik::regtext::Entry::DeleteValue) {
        e = RegDeleteValueA(key.get(), name);
        if (e == ERROR_FILE_NOT_FOUND)
            e = ERROR_SUCCESS;
    }
    return e;
}

// Writes what a REGEDIT4 file says: keys made, values set, [-key] and "name"=-
// removed. The file is read whole and checked before anything is written, and
// written as one change of the store.
int runImport(const std::vector<std::string>& args) {
    if (args.size() != 1)
        return usage("import takes one file");
    std::ifstream in(args[0], std::ios::binary);
    if (!in)
        return fail("cannot read " + args[0], HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<orvik::regtext::Entry> entries;
    size_t line = 0;
    std::string why;
    if (!orvik::regtext::parse(text.str(), entries, line, why)) {
        std::fprintf(stderr, "%s:%zu: %s\n", args[0].c_str(), line, why.c_str());
        return orvik::tool::kFailure;
    }
    std::vector<KeyPath> keys(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        if (!parseKey(entries[i].key, keys[i]) || keys[i].path.empty())
            return fail("import: not a key below a root: " + printable(entries[i].key),
                        HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    // One batch: the file is imported whole or not at all.
    std::string failedKey;
    HRESULT hr = orvik::inOneRegistryBatch([&]() -> HRESULT {
        for (size_t i = 0; i < entries.size(); ++i) {
            LONG e = importEntry(entries[i], keys[i]);
            if (e != ERROR_SUCCESS) {
                failedKey = entries[i].key;
                return HRESULT_FROM_WIN32(e);
            }
        }
        return S_OK;
    });
    if (FAILED(hr))
        return fail("import " + printable(failedKey), hr);
    return 0;
}

int runDelete(const std::vector<std::string>& args) {
    if (args.size() != 1)
        return usage("delete takes one key");
    KeyPath k;
    if (!parseKey(args[0], k))
        return usage("unknown root key");
    if (k.path.empty())
        return usage("a root key cannot be deleted");
    size_t slash = k.path.find_last_of('\\');
    std::string parentPath = slash == std::string::npos ? "" : k.path.substr(0, slash);
    std::string name = slash == std::string::npos ? k.path : k.path.substr(slash + 1);
    // One batch: the tree goes whole or stays whole.
    HRESULT hr = orvik::inOneRegistryBatch([&] {
        RegKey parent;
        LONG e =
            RegOpenKeyExA(k.root->key, parentPath.c_str(), 0, KEY_READ | KEY_WRITE, parent.put());
        if (e == ERROR_SUCCESS)
            e = orvik::regDeleteTree(parent.get(), name.c_str());
        return HRESULT_FROM_WIN32(e);
    });
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        return noKey(k);
    if (FAILED(hr))
        return fail("delete " + k.full(), hr);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (int status = orvik::tool::standardOptions(argc, argv, kTool, kUsage); status >= 0)
        return status;
    if (argc < 2)
        return usage("no command");
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "export")
        return runExport(args);
    if (command == "query")
        return runQuery(args);
    if (command == "script")
        return runScript(args);
    if (command == "delete")
        return runDelete(args);
    if (command == "import")
        return runImport(args);
    if (command == "store") {
        if (!args.empty())
            return usage("store takes no arguments");
        std::printf("%s\n", registryStorePath().c_str());
        return 0;
    }
    return usage(("unknown command '" + command + "'").c_str());
}
