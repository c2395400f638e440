// tests/support/type_library_files.h: library files the tests write and read back
#ifndef ORVIK_TESTS_SUPPORT_TYPE_LIBRARY_FILES_H
#define ORVIK_TESTS_SUPPORT_TYPE_LIBRARY_FILES_H

#include "orvik/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace orvik::testing {

/// Writes bytes to path, replacing whatever was there.
inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

/// A copy of a type's attributes; the type information's own is handed back.
inline TYPEATTR attributesOf(ITypeInfo* info) {
    TYPEATTR* a = nullptr;
    EXPECT_EQ(info->GetTypeAttr(&a), S_OK);
    TYPEATTR copy = *a;
    info->ReleaseTypeAttr(a);
    return copy;
}

} // namespace orvik::testing

#endif // ORVIK_TESTS_SUPPORT_TYPE_LIBRARY_FILES_H
