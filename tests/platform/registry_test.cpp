// tests/platform/registry_test.cpp: the registry's contract, its store file, and what
// concurrent and killed writers leave behind

#include "tests/support/registry_fixture.h"

#include "orvik/platform/registry_helpers.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <iterator>
#include <memory>
#include <unistd.h>
#include <fstream>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <thread>
#include <map>
#include <set>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>

namespace orvik::testing {
namespace {

using Registry = RegistryTest;

LONG setString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD(text.size() + 1));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string getString(HKEY key, const char* name) {
    static char buf[1 << 17];
    DWORD size = sizeof buf, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
        ERROR_SUCCESS)
        return "<missing>";
    return std::string(buf, size ? size - 1 : 0);
}

// Enumeration by increasing index while keys come and go between the calls: the
// walk gives names in order, each once, every name that existed throughout, and only
// names that existed at some moment; an index out of sequence starts afresh from the
// key as it is.
TEST_F(Registry, EnumerationWhileKeysChangeSkipsNothingThatStayed) {
    std::mt19937 random(20261208);
    RegKey parent;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Enum", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              parent.put(), nullptr),
              ERROR_SUCCESS);
    std::set<std::string> present;
    auto name = [&] {
        char text[8];
        std::snprintf(text, sizeof text, "k%03u", unsigned(random() % 200));
        return std::string(text);
    };
    auto change = [&](std::set<std::string>& added, std::set<std::string>& removed) {
        std::string n = name();
        if (present.count(n)) {
            ASSERT_EQ(RegDeleteKeyA(parent.get(), n.c_str()), ERROR_SUCCESS);
            present.erase(n);
            removed.insert(n);
        } else {
            RegKey made;
            ASSERT_EQ(RegCreateKeyExA(parent.get(), n.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, made.put(), nullptr),
                      ERROR_SUCCESS);
            present.insert(n);
            added.insert(n);
        }
    };
    for (int i = 0; i < 100; ++i) {
        std::set<std::string> ignored;
        change(ignored, ignored);
    }
    RegKey walker;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Enum", 0, KEY_READ, walker.put()), ERROR_SUCCESS);
    for (int round = 0; round < 60; ++round) {
        const std::set<std::string> before = present;
        std::set<std::string> added, removed;
        std::vector<std::string> seen;
        for (DWORD index = 0;; ++index) {
            std::string n;
            LONG e = regSubkeyName(walker.get(), index, n);
            if (e == ERROR_NO_MORE_ITEMS)
                break;
            ASSERT_EQ(e, ERROR_SUCCESS);
            seen.push_back(n);
            for (int c = int(random() % 3); c > 0; --c)
                change(added, removed);
        }
        ASSERT_TRUE(std::is_sorted(seen.begin(), seen.end()));
        ASSERT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "a name twice";
        for (const std::string& n : before) {
            if (!removed.count(n)) {
                EXPECT_TRUE(std::binary_search(seen.begin(), seen.end(), n))
                    << n << " existed throughout and was skipped in round " << round;
            }
        }
        for (const std::string& n : seen)
            EXPECT_TRUE(before.count(n) || added.count(n)) << n << " never existed";
        // Out of sequence: the index counts in the key as it is now.
        std::vector<std::string> now(present.begin(), present.end());
        DWORD jump = DWORD(random() % (now.size() + 2));
        std::string n;
        LONG e = regSubkeyName(walker.get(), jump, n);
        if (jump < now.size()) {
            ASSERT_EQ(e, ERROR_SUCCESS);
            EXPECT_EQ(n, now[jump]);
        } else {
            EXPECT_EQ(e, ERROR_NO_MORE_ITEMS);
        }
    }
}

// Entries read ahead are not served once another writer has changed the store: a
// walk that goes on after the change (and the store's next look for one) neither
// gives a key that is gone nor misses one made behind it.
TEST_F(Registry, AWalkGoingOnSeesAnotherWritersChanges) {
    RegKey shared;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              shared.put(), nullptr),
              ERROR_SUCCESS);
    for (int i = 10; i < 50; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "k%d", i);
        RegKey made;
        ASSERT_EQ(RegCreateKeyExA(shared.get(), name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  made.put(), nullptr),
                  ERROR_SUCCESS);
    }
    std::vector<std::string> seen;
    std::string n;
    for (DWORD i = 0; i < 5; ++i) {
        ASSERT_EQ(regSubkeyName(shared.get(), i, n), ERROR_SUCCESS);
        seen.push_back(n);
    }
    char path[4096];
    ASSERT_GT(OrvikGetRegistryStorePath(path, sizeof path), 0u);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path, &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "DELETE FROM keys WHERE fold = 'k30';"
                           " INSERT INTO keys(id, parent, name, fold) SELECT 9000000, id, 'k30b',"
                           " 'k30b' FROM keys WHERE fold = 'shared';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    for (DWORD i = 5; regSubkeyName(shared.get(), i, n) == ERROR_SUCCESS; ++i)
        seen.push_back(n);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "k30"), 0);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "k30b"), 1);
    EXPECT_EQ(seen.size(), 40u);
    RegKey gone;
    EXPECT_EQ(RegOpenKeyExA(shared.get(), "k30", 0, KEY_READ, gone.put()), ERROR_FILE_NOT_FOUND);
}

// A chain of 200,000 keys, as a damaged store (or another writer) may hold, written
// into the store file directly: deleting it is refused at once, not walked.
TEST_F(Registry, AChainDeeperThanAnyStoreHoldsIsRefusedQuickly) {
    RegKey top;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Deep", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              top.put(), nullptr),
              ERROR_SUCCESS);
    char path[4096];
    ASSERT_GT(OrvikGetRegistryStorePath(path, sizeof path), 0u);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path, &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "BEGIN;"
                           "WITH RECURSIVE chain(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM chain"
                           " WHERE n < 200000)"
                           " INSERT INTO keys(id, parent, name, fold)"
                           " SELECT 1000000 + n, CASE n WHEN 1 THEN (SELECT id FROM keys WHERE"
                           " fold = 'deep') ELSE 1000000 + n - 1 END, 'level', 'level' FROM chain;"
                           "COMMIT;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    top.close();
    EXPECT_EQ(regDeleteTree(HKEY_CURRENT_USER, "Deep"), ERROR_REGISTRY_CORRUPT);
    RegKey still;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Deep\\level", 0, KEY_READ, still.put()),
              ERROR_SUCCESS)
        << "nothing was deleted";
}

// A value read by path in one call, restricted to the types asked for.
TEST_F(Registry, GetValueReadsByPathAndTakesOnlyTheTypesAsked) {
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Get\\Below", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(k.get(), "s", "text"), ERROR_SUCCESS);
    DWORD number = 7;
    ASSERT_EQ(RegSetValueExA(k.get(), "d", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              ERROR_SUCCESS);
    char buffer[16];
    DWORD size = sizeof buffer, type = 0;
    EXPECT_EQ(
        RegGetValueA(HKEY_CURRENT_USER, "Get\\Below", "s", RRF_RT_REG_SZ, &type, buffer, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, size), std::string("text", 5));
    EXPECT_EQ(type, DWORD(REG_SZ));
    size = 2;
    EXPECT_EQ(
        RegGetValueA(HKEY_CURRENT_USER, "Get\\Below", "s", RRF_RT_ANY, nullptr, buffer, &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    size = sizeof buffer;
    EXPECT_EQ(
        RegGetValueA(HKEY_CURRENT_USER, "Get\\Below", "d", RRF_RT_REG_SZ, nullptr, buffer, &size),
        ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(
        RegGetValueA(k.get(), nullptr, "d", RRF_RT_REG_DWORD | RRF_RT_REG_SZ, &type, buffer, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(
        RegGetValueA(HKEY_CURRENT_USER, "Get\\Missing", "s", RRF_RT_ANY, nullptr, nullptr, &size),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(
        RegGetValueA(HKEY_CURRENT_USER, "Get\\Below", "none", RRF_RT_ANY, nullptr, nullptr, &size),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Get\\Below", "s", 0, nullptr, nullptr, &size),
              ERROR_INVALID_PARAMETER);
}

// A batch is one transaction: nothing of it is seen until it ends, a rolled-back
// batch leaves nothing, and ends must pair with begins on the same thread.
TEST_F(Registry, BatchesCommitWholeOrNotAtAll) {
    ASSERT_EQ(OrvikRegBeginBatch(), ERROR_SUCCESS);
    ASSERT_EQ(OrvikRegBeginBatch(), ERROR_SUCCESS) << "batches nest";
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Batch\\One", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(k.get(), "v", "1"), ERROR_SUCCESS);
    EXPECT_EQ(getString(k.get(), "v"), "1") << "the batch reads its own writes";
    std::thread([] {
        EXPECT_EQ(OrvikRegEndBatch(TRUE), ERROR_INVALID_PARAMETER) << "not this thread's batch";
    }).join();
    EXPECT_EQ(OrvikRegEndBatch(TRUE), ERROR_SUCCESS);
    EXPECT_EQ(OrvikRegEndBatch(FALSE), ERROR_SUCCESS) << "the outer end, rolling back";
    k.close();
    RegKey gone;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Batch", 0, KEY_READ, gone.put()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OrvikRegEndBatch(TRUE), ERROR_INVALID_PARAMETER) << "no batch open";

    ASSERT_EQ(OrvikRegBeginBatch(), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Batch\\Two", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    k.close();
    // Another thread's call waits for the batch to end, then sees it whole.
    LONG seen = ERROR_SUCCESS - 1;
    std::thread reader([&] {
        RegKey two;
        seen = RegOpenKeyExA(HKEY_CURRENT_USER, "Batch\\Two", 0, KEY_READ, two.put());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(OrvikRegEndBatch(TRUE), ERROR_SUCCESS);
    reader.join();
    EXPECT_EQ(seen, ERROR_SUCCESS);
    EXPECT_EQ(regDeleteTree(HKEY_CURRENT_USER, "Batch"), ERROR_SUCCESS);
}

TEST_F(Registry, NamesCompareWithoutCaseAndKeepTheirCase) {
    RegKey k;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Orvik.Point\\CurVer", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, k.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    RegKey again;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "ORVIK.POINT\\curver", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, again.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    ASSERT_EQ(setString(k.get(), "ThreadingModel", "Apartment"), ERROR_SUCCESS);
    EXPECT_EQ(getString(again.get(), "THREADINGMODEL"), "Apartment");
    RegKey root;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "orvik.point", 0, KEY_READ, root.put()),
              ERROR_SUCCESS);
    char name[256];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(root.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "CurVer");
    EXPECT_EQ(size, 6u);
}

TEST_F(Registry, ValuesKeepTheirTypeAndEveryByte) {
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Values", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              k.put(), nullptr),
              ERROR_SUCCESS);
    const BYTE binary[] = {0, 1, 0, 255, 0};
    ASSERT_EQ(RegSetValueExA(k.get(), "bin", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(k.get(), "none", 0, REG_NONE, nullptr, 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(k.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("dflt"), 5),
              ERROR_SUCCESS);
    BYTE out[16];
    DWORD size = sizeof out, type = 0;
    ASSERT_EQ(RegQueryValueExA(k.get(), "BIN", nullptr, &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(size, sizeof binary);
    EXPECT_EQ(std::memcmp(out, binary, sizeof binary), 0);
    size = sizeof out;
    ASSERT_EQ(RegQueryValueExA(k.get(), "none", nullptr, &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_NONE));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(getString(k.get(), ""), "dflt") << "the empty name is the default value";
    // Replacing keeps the value's place in the enumeration.
    ASSERT_EQ(RegSetValueExA(k.get(), "bin", 0, REG_DWORD, binary, 4), ERROR_SUCCESS);
    char name[32];
    DWORD nameSize = sizeof name;
    ASSERT_EQ(RegEnumValueA(k.get(), 0, name, &nameSize, nullptr, &type, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "bin");
    EXPECT_EQ(type, DWORD(REG_DWORD));
}

TEST_F(Registry, SizesAreReportedAndShortBuffersRefused) {
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Sizes\\AChildWithALongName", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(k.get(), "v", "0123456789"), ERROR_SUCCESS);
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExA(k.get(), "v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 11u);
    BYTE small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(k.get(), "v", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
    RegKey parent;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Sizes", 0, KEY_READ, parent.put()), ERROR_SUCCESS);
    char name[8];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(parent.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(nameSize, 19u);
    nameSize = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(parent.get(), 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    DWORD subKeys = 0, maxName = 0, values = 9;
    ASSERT_EQ(RegQueryInfoKeyA(parent.get(), nullptr, nullptr, nullptr, &subKeys, &maxName, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 1u);
    EXPECT_EQ(maxName, 19u);
    EXPECT_EQ(values, 0u);
}

TEST_F(Registry, RightsOfAHandleAreHonoured) {
    RegKey writable;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Rights", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              writable.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(writable.get(), "v", "x"), ERROR_SUCCESS);
    RegKey reader, writer;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Rights", 0, KEY_READ, reader.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Rights", 0, KEY_WRITE, writer.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(setString(reader.get(), "v", "y"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(reader.get(), "v"), ERROR_ACCESS_DENIED);
    RegKey child;
    EXPECT_EQ(RegCreateKeyExA(reader.get(), "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              child.put(), nullptr),
              ERROR_ACCESS_DENIED);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(writer.get(), "v", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(getString(reader.get(), "v"), "x");
}

TEST_F(Registry, ClosedAndBogusHandlesAndMissingNames) {
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Handles", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              k.put(), nullptr),
              ERROR_SUCCESS);
    HKEY closed = k.get();
    ASSERT_EQ(k.close(), ERROR_SUCCESS);
    HKEY bogus = reinterpret_cast<HKEY>(uintptr_t(0xDEAD0));
    for (HKEY bad : {closed, bogus, HKEY(nullptr)}) {
        HKEY out = nullptr;
        EXPECT_EQ(RegOpenKeyExA(bad, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
        EXPECT_EQ(setString(bad, "v", "x"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteKeyA(bad, "x"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
    }
    HKEY out = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Handles\\missing", 0, KEY_READ, &out),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "missing"), ERROR_FILE_NOT_FOUND);
    RegKey h;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Handles", 0, KEY_ALL_ACCESS, h.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(h.get(), "missing"), ERROR_FILE_NOT_FOUND);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(h.get(), "missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "\\leading", 0, KEY_READ, &out), ERROR_BAD_PATHNAME);
}

TEST_F(Registry, KeysWithSubkeysAreNotDeletedAndDeletedKeysInvalidateHandles) {
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Tree\\Leaf", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree\\Leaf"), ERROR_SUCCESS);
    EXPECT_EQ(setString(k.get(), "v", "x"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree"), ERROR_SUCCESS);
}

// Key ids are never reused: a stale handle can never write into a key made later.
TEST_F(Registry, AHandleToADeletedKeyStaysDeletedWhateverIsCreatedLater) {
    RegKey stale;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              stale.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "A"), ERROR_SUCCESS);
    RegKey b;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              b.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(setString(stale.get(), "v", "x"), ERROR_KEY_DELETED);
    EXPECT_EQ(getString(b.get(), "v"), "<missing>");

    // The same when another process deletes the key and creates one of its own.
    RegKey c;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              c.put(), nullptr),
              ERROR_SUCCESS);
    pid_t child = fork();
    if (child == 0) {
        RegKey d;
        _exit(RegDeleteKeyA(HKEY_CURRENT_USER, "C") == ERROR_SUCCESS &&
                      RegCreateKeyExA(HKEY_CURRENT_USER, "D", 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, d.put(), nullptr) == ERROR_SUCCESS
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(setString(c.get(), "v", "x"), ERROR_KEY_DELETED);
    EXPECT_EQ(regQueryString(HKEY_CURRENT_USER, "D", "v", *std::make_unique<std::string>()),
              ERROR_FILE_NOT_FOUND);
}

std::string chain(size_t depth) {
    std::string path = "k";
    for (size_t i = 1; i < depth; ++i)
        path += "\\k";
    return path;
}

TEST_F(Registry, KeysNestAtMost512DeepAndDeepTreesAreDeletedWhole) {
    RegKey deepest;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, chain(ORVIK_REG_MAX_KEY_DEPTH).c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, deepest.put(), nullptr),
              ERROR_SUCCESS);
    RegKey tooDeep;
    EXPECT_EQ(RegCreateKeyExA(deepest.get(), "one", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              tooDeep.put(), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                              ("other\\" + chain(ORVIK_REG_MAX_KEY_DEPTH)).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, tooDeep.put(), nullptr),
              ERROR_INVALID_PARAMETER);
    RegKey none;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "other", 0, KEY_READ, none.put()),
              ERROR_FILE_NOT_FOUND)
        << "a path too deep is created in no part";
    deepest.close();
    EXPECT_EQ(regDeleteTree(HKEY_CURRENT_USER, "k"), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "k", 0, KEY_READ, none.put()), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, EnumeratingIndexZeroWhileDeletingEmptiesAKey) {
    RegKey parent;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Many", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              parent.put(), nullptr),
              ERROR_SUCCESS);
    for (int i = 0; i < 20; ++i) {
        RegKey child;
        std::string name = "k";
        name += std::to_string(i);
        ASSERT_EQ(RegCreateKeyExA(parent.get(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, child.put(), nullptr),
                  ERROR_SUCCESS);
    }
    int deleted = 0;
    for (;;) {
        char name[256];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(parent.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        ASSERT_EQ(RegDeleteKeyA(parent.get(), name), ERROR_SUCCESS);
        ++deleted;
    }
    EXPECT_EQ(deleted, 20);
}

// Random operations against a map of path -> value: the store must agree at every step.
TEST_F(Registry, AgreesWithAModelUnderRandomOperations) {
    unsigned seed = std::random_device{}();
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    std::map<std::string, std::string> model; // folded path -> value ("" when none)
    const char* names[] = {"a", "B", "c"};
    auto randomPath = [&] {
        std::string p = "Model";
        int depth = 1 + int(rng() % 3);
        for (int d = 0; d < depth; ++d)
            p += std::string("\\") + names[rng() % 3];
        return p;
    };
    auto fold = [](std::string s) {
        for (char& c : s)
            c = char(tolower(c));
        return s;
    };
    for (int step = 0; step < 300; ++step) {
        std::string path = randomPath();
        std::string key = fold(path);
        switch (rng() % 3) {
        case 0: { // create and set
            RegKey k;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, k.put(), nullptr),
                      ERROR_SUCCESS);
            std::string v = std::to_string(step);
            ASSERT_EQ(setString(k.get(), "v", v), ERROR_SUCCESS);
            for (size_t pos = key.find('\\'); pos != std::string::npos;
                 pos = key.find('\\', pos + 1))
                model.emplace(key.substr(0, pos), "");
            model[key] = v;
            break;
        }
        case 1: { // delete a leaf
            bool hasChildren = false;
            for (const auto& [p, v] : model)
                hasChildren |=
                    p.size() > key.size() && p.compare(0, key.size() + 1, key + "\\") == 0;
            LONG expected = !model.count(key) ? ERROR_FILE_NOT_FOUND
                            : hasChildren     ? ERROR_ACCESS_DENIED
                                              : ERROR_SUCCESS;
            ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str()), expected) << path;
            if (expected == ERROR_SUCCESS)
                model.erase(key);
            break;
        }
        default: { // read
            RegKey k;
            LONG e = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, k.put());
            ASSERT_EQ(e == ERROR_SUCCESS, model.count(key) == 1) << path;
            if (e == ERROR_SUCCESS) {
                std::string v = model[key];
                EXPECT_EQ(getString(k.get(), "v"), v.empty() ? "<missing>" : v);
            }
        }
        }
    }
}

TEST_F(Registry, StoreIsCreatedPrivateToItsOwner) {
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              k.put(), nullptr),
              ERROR_SUCCESS);
    struct stat file {
    }, dir{};
    ASSERT_EQ(stat(storeFile().c_str(), &file), 0);
    ASSERT_EQ(stat((storeDir() + "/store").c_str(), &dir), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
}

// A lookup in a store that does not exist, in a folder that does not exist, finds
// an empty registry and leaves nothing on disk; the first write makes the store,
// also through a root handle opened before it, and a store another process made
// since is seen.
TEST_F(Registry, ReadingAStoreThatDoesNotExistCreatesNothingUntilTheFirstWrite) {
    const std::string folder = storeDir() + "/not/yet";
    const std::string path = folder + "/registry.db";
    setenv("ORVIK_REGISTRY", path.c_str(), 1);
    auto nothingOnDisk = [&] {
        struct stat st {};
        return stat((storeDir() + "/not").c_str(), &st) != 0;
    };
    RegKey root, k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS, root.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000001}", 0,
                            KEY_READ, k.put()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(getString(HKEY_CLASSES_ROOT, "anything"), "<missing>");
    char name[64];
    DWORD nameSize = sizeof name, subkeys = 99, values = 99;
    EXPECT_EQ(RegEnumKeyExA(root.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    nameSize = sizeof name;
    EXPECT_EQ(RegEnumValueA(root.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegQueryInfoKeyA(root.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, 0u);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Orvik.Point"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(root.get(), "v"), ERROR_FILE_NOT_FOUND);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"Orvik.Point", &clsid), CO_E_CLASSSTRING);
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(nothingOnDisk()) << "a lookup made " << storeDir() << "/not";

    // Another process makes the store; this one sees what it wrote, also through a
    // root handle opened before.
    RegKey userRoot;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, userRoot.put()),
              ERROR_SUCCESS);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RegKey made;
        _exit(RegCreateKeyExA(HKEY_CURRENT_USER, "FromTheChild", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, made.put(), nullptr) == ERROR_SUCCESS
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "FromTheChild", 0, KEY_READ, k.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(userRoot.get(), "FromTheChild", 0, KEY_READ, k.put()), ERROR_SUCCESS);

    // The first write through a root handle of the absent store, in a fresh folder.
    ASSERT_EQ(system(("rm -rf '" + storeDir() + "/not'").c_str()), 0);
    setenv("ORVIK_REGISTRY", (storeDir() + "/elsewhere").c_str(), 1);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_ALL_ACCESS, root.put()), ERROR_SUCCESS);
    setenv("ORVIK_REGISTRY", path.c_str(), 1);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_ALL_ACCESS, root.put()), ERROR_SUCCESS);
    EXPECT_TRUE(nothingOnDisk());
    ASSERT_EQ(setString(root.get(), "v", "made by the first write"), ERROR_SUCCESS);
    EXPECT_EQ(getString(HKEY_CLASSES_ROOT, "v"), "made by the first write");
    struct stat file {
    }, dir{};
    ASSERT_EQ(stat(path.c_str(), &file), 0);
    ASSERT_EQ(stat(folder.c_str(), &dir), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
}

TEST_F(Registry, StoreThatCannotBeCreatedIsAnIoFailure) {
    std::string blocker = storeDir() + "/file";
    std::ofstream(blocker) << "a file where a folder should be";
    setenv("ORVIK_REGISTRY", (blocker + "/registry.db").c_str(), 1);
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              nullptr),
              ERROR_REGISTRY_IO_FAILED);
}

// Whatever the file is, a store that cannot be used gives a code that says why,
// and a file that is not a store is never changed.
TEST_F(Registry, FilesThatAreNotStoresAreNamedAndLeftAlone) {
    auto openWith = [](const std::string& path) {
        setenv("ORVIK_REGISTRY", path.c_str(), 1);
        RegKey k;
        return RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, k.put());
    };
    // A real store, then a damaged copy of it.
    ASSERT_EQ(openWith(storeDir() + "/real.db"), ERROR_SUCCESS);
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Some\\Keys", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    k.close();
    writeFile(storeDir() + "/text.db", "this is text, not a database\n");
    EXPECT_EQ(openWith(storeDir() + "/text.db"), ERROR_BADDB);
    // Switching stores closed the real one, which wrote its log back into the file.
    std::string real = readFile(storeDir() + "/real.db");
    ASSERT_GT(real.size(), 4096u);
    writeFile(storeDir() + "/truncated.db", real.substr(0, 3000));

    ASSERT_EQ(mkdir((storeDir() + "/folder.db").c_str(), 0700), 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((storeDir() + "/other.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    std::string other = readFile(storeDir() + "/other.db");
    // Another schema that happens to have a table of the store's name.
    ASSERT_EQ(sqlite3_open((storeDir() + "/keys.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE keys(x); INSERT INTO keys VALUES(1);", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    std::string keys = readFile(storeDir() + "/keys.db");

    EXPECT_EQ(openWith(storeDir() + "/folder.db"), ERROR_BADDB);
    EXPECT_EQ(openWith("/dev/null"), ERROR_BADDB);
    EXPECT_EQ(openWith(storeDir() + "/other.db"), ERROR_BADDB);
    EXPECT_EQ(openWith(storeDir() + "/keys.db"), ERROR_BADDB);
    EXPECT_EQ(openWith(storeDir() + "/truncated.db"), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(readFile(storeDir() + "/other.db"), other) << "another database was changed";
    EXPECT_EQ(readFile(storeDir() + "/keys.db"), keys) << "a table named keys was taken for ours";
    EXPECT_EQ(readFile(storeDir() + "/text.db"), "this is text, not a database\n");

    char path[4096];
    DWORD length = OrvikGetRegistryStorePath(path, sizeof path);
    EXPECT_EQ(std::string(path, length), storeDir() + "/truncated.db");
    EXPECT_EQ(OrvikGetRegistryStorePath(nullptr, 0), length);
}

// A store this user may only read is read; writes are refused. The check runs as
// an unprivileged user, since the superuser may write any file.
TEST_F(Registry, AStoreThatCanOnlyBeReadIsReadAndRefusesWrites) {
    RegKey k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Kept", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              k.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(k.get(), "v", "value"), ERROR_SUCCESS);
    k.close();
    std::string folder = storeFile().substr(0, storeFile().rfind('/'));
    ASSERT_EQ(chmod(storeDir().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(storeFile().c_str(), 0644), 0);
    std::string hidden = storeDir() + "/hidden";
    ASSERT_EQ(mkdir(hidden.c_str(), 0700), 0);
    // Another store for this process, so that the child opens the store itself and
    // the file holds everything written so far.
    setenv("ORVIK_REGISTRY", (storeDir() + "/elsewhere.db").c_str(), 1);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, k.put()), ERROR_SUCCESS);
    k.close();
    const std::string before = readFile(storeFile());
    if (geteuid() != 0)
        GTEST_SKIP() << "needs to run as the superuser to become another user";
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        setenv("ORVIK_REGISTRY", storeFile().c_str(), 1);
        RegKey r;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Kept", 0, KEY_READ, r.put()) != ERROR_SUCCESS)
            _exit(11);
        if (getString(r.get(), "v") != "value")
            _exit(12);
        RegKey w;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Kept", 0, KEY_ALL_ACCESS, w.put()) != ERROR_SUCCESS ||
            setString(w.get(), "v", "changed") != ERROR_ACCESS_DENIED)
            _exit(13);
        RegKey created;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            created.put(), nullptr) != ERROR_ACCESS_DENIED ||
            RegDeleteKeyA(HKEY_CURRENT_USER, "Kept") != ERROR_ACCESS_DENIED)
            _exit(14);
        // A store in a folder this user may not enter.
        setenv("ORVIK_REGISTRY", (hidden + "/registry.db").c_str(), 1);
        if (RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, r.put()) != ERROR_ACCESS_DENIED)
            _exit(15);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the step that failed (see the child's exit codes)";
    EXPECT_EQ(readFile(storeFile()), before);
}

// Runs body in a child process and returns its pid.
template <class Body> pid_t spawn(Body body) {
    pid_t pid = fork();
    if (pid == 0) {
        int rc = body();
        _exit(rc);
    }
    return pid;
}

int writeKeys(const char* prefix, int count) {
    for (int i = 0; i < count; ++i) {
        RegKey k;
        std::string path = std::string("Shared\\") + prefix + std::to_string(i);
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            k.put(), nullptr) != ERROR_SUCCESS)
            return 1;
        if (setString(k.get(), "v", path) != ERROR_SUCCESS)
            return 2;
    }
    return 0;
}

TEST_F(Registry, TwoProcessesWritingAtOnceBothSucceed) {
    pid_t a = spawn([] { return writeKeys("a", 150); });
    pid_t b = spawn([] { return writeKeys("b", 150); });
    int status = 0;
    ASSERT_EQ(waitpid(a, &status, 0), a);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(waitpid(b, &status, 0), b);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    RegKey shared;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_READ, shared.put()), ERROR_SUCCESS);
    DWORD subKeys = 0;
    ASSERT_EQ(RegQueryInfoKeyA(shared.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 300u);
}

// A child rewrites one large value between two patterns and creates deep paths in
// single calls; killed at a random moment, it must leave each write whole.
TEST_F(Registry, WriterKilledMidRunLeavesEveryKeyAndValueWhole) {
    const std::string patternA(60000, 'A'), patternB(60000, 'B');
    pid_t child = spawn([&] {
        HKEY k = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Busy", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr) != ERROR_SUCCESS)
            return 1;
        for (int i = 0;; ++i) {
            setString(k, "big", i % 2 ? patternB : patternA);
            std::string path = "Busy\\d";
            path += std::to_string(i);
            path += "\\e\\f\\g";
            RegKey deep;
            (void)RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, deep.put(), nullptr);
        }
    });
    // Kill the child while it is in the middle of its writes: once a few rounds are
    // visible (or after ten seconds, should it never get going).
    for (int waited = 0; waited < 1000; ++waited) {
        RegKey seen;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Busy\\d3\\e\\f\\g", 0, KEY_READ, seen.put()) ==
            ERROR_SUCCESS)
            break;
        usleep(10000);
    }
    usleep(20000);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    RegKey busy;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Busy", 0, KEY_READ, busy.put()), ERROR_SUCCESS);
    std::string big = getString(busy.get(), "big");
    EXPECT_TRUE(big == patternA || big == patternB) << "a torn value of " << big.size() << " bytes";
    int complete = 0;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(busy.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        RegKey leaf;
        EXPECT_EQ(RegOpenKeyExA(busy.get(), (std::string(name) + "\\e\\f\\g").c_str(), 0, KEY_READ,
                                leaf.put()),
                  ERROR_SUCCESS)
            << "path " << name << " was created in part";
        ++complete;
    }
    EXPECT_GT(complete, 0) << "the child never got to write";
    // The store still takes writes.
    EXPECT_EQ(setString(busy.get(), "after", "x"), ERROR_ACCESS_DENIED)
        << "busy was opened read-only";
    RegKey w;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Busy", 0, KEY_ALL_ACCESS, w.put()), ERROR_SUCCESS);
    EXPECT_EQ(setString(w.get(), "after", "x"), ERROR_SUCCESS);
}

} // namespace
} // namespace orvik::testing
