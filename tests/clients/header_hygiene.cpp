// tests/clients/header_hygiene.cpp: the C++ layer beside ordinary code that has names
// of its own, compiled as C++17 with pedantic warnings, -Wnon-virtual-dtor and
// -Wold-style-cast as errors (the build is the test). The layer declares nothing
// outside namespace orvik and no macro of the platform's, so a client's own DWORD,
// HRESULT, TRUE, S_OK, FAILED and DELETE stand.
#define DELETE 0x1234
struct DWORD {};
struct HRESULT {};
int TRUE = 1;
int S_OK = 0;
int FAILED = 0;

#include "orvik/orvik.hpp"

static_assert(DELETE == 0x1234, "the client's own DELETE stands");

int hygieneCheck(orvik::Point& p, const orvik::Vector& v) {
    DWORD mine;
    HRESULT alsoMine;
    static_cast<void>(mine);
    static_cast<void>(alsoMine);
    orvik::Point sum = p.add(v);
    sum.addInPlace(v);
    orvik::Matrix m = orvik::Matrix::create();
    p.transform(m);
    return static_cast<int>(sum.x() + p.asArray().size()) + TRUE + S_OK + FAILED;
}

orvik::Point hygieneCreate() {
    return orvik::create<orvik::Point>("Orvik.Point");
}
