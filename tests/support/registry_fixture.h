// tests/support/registry_fixture.h: a private registry store per test, and a dump of
// a store for comparing before and after
#ifndef ORVIK_TESTS_SUPPORT_REGISTRY_FIXTURE_H
#define ORVIK_TESTS_SUPPORT_REGISTRY_FIXTURE_H

#include "orvik/platform.h"
#include "orvik/platform/registry_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace orvik::testing {

/// Points ORVIK_REGISTRY at a fresh file in a directory of its own for the test.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/orvik-registry-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        m_path = m_dir + "/store/registry.db";
        setenv("ORVIK_REGISTRY", m_path.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ORVIK_REGISTRY");
        std::string cmd = "rm -rf '" + m_dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    const std::string& storeFile() const { return m_path; }
    const std::string& storeDir() const { return m_dir; }

private:
    std::string m_dir, m_path;
};

/// Every key (by full path) with its values rendered as text; the whole tree below
/// root. Keys compare by their names as stored.
inline void dumpTree(HKEY key, const std::string& path, std::map<std::string, std::string>& out) {
    std::string values;
    for (DWORD i = 0;; ++i) {
        char name[512];
        BYTE data[8192];
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS)
            break;
        values += std::string(name) + "=" + std::to_string(type) + ":" +
                  std::string(reinterpret_cast<char*>(data), dataSize) + ";";
    }
    out[path] = values;
    std::vector<std::string> children;
    ASSERT_EQ(regSubkeyNames(key, children), ERROR_SUCCESS);
    for (const std::string& name : children) {
        RegKey child;
        ASSERT_EQ(RegOpenKeyExA(key, name.c_str(), 0, KEY_READ, child.put()), ERROR_SUCCESS);
        dumpTree(child.get(), path + "\\" + name, out);
    }
}

inline std::map<std::string, std::string> dumpRoot(HKEY root) {
    std::map<std::string, std::string> out;
    dumpTree(root, "", out);
    return out;
}

} // namespace orvik::testing

#endif // ORVIK_TESTS_SUPPORT_REGISTRY_FIXTURE_H
