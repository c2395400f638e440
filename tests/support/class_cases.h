// tests/support/class_cases.h: one entry per class of the module, with the checks
// that must hold for it in either form (standalone or the inner object of an
// aggregate)
#ifndef ORVIK_TESTS_SUPPORT_CLASS_CASES_H
#define ORVIK_TESTS_SUPPORT_CLASS_CASES_H

#include "orvik/orvik_i.h"

#include <ostream>
#include <vector>

namespace orvik::testing {

struct ClassCase {
    const char* name;
    const CLSID* clsid;
    const IID* iid;
    /// Checks a fresh object; the pointer is the class's own interface.
    void (*checkFresh)(void* object);
    /// Changes the object through its interface and checks the change.
    void (*exercise)(void* object);
};

/// Test names show the class, not the record's bytes.
inline void PrintTo(const ClassCase& c, std::ostream* os) {
    *os << c.name;
}

/// The twelve classes, in class-table order.
const std::vector<ClassCase>& classCases();

} // namespace orvik::testing

#endif // ORVIK_TESTS_SUPPORT_CLASS_CASES_H
