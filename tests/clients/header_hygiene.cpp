// tests/clients/header_hygiene.cpp: the client headers beside ordinary code that has
// names of its own, compiled as C++17 with pedantic warnings, -Wnon-virtual-dtor and
// -Wold-style-cast as errors (the build is the test). A header that defined DELETE or
// a different TRUE would not compile here.
#define DELETE 0x1234
#define TRUE 1

#include "orvik/orvik.hpp"

static_assert(DELETE == 0x1234, "the client's own DELETE stands");

int hygieneCheck(orvik::Point& p) {
    return static_cast<int>(p.x()) + TRUE;
}
