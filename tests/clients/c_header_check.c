/* tests/clients/c_header_check.c: the generated interface header seen from C99
 *
 * Including the header alone must give a C client every type it needs, and the C
 * view of each table must put the operations where the C++ view puts them. The
 * offsets below are the table slots times the pointer size.
 */
#include "orvik/orvik_i.h"

#include <stddef.h>
#include <stdio.h>

#define SLOT(vtbl, member) ((int)(offsetof(vtbl, member) / sizeof(void*)))

static int check(const char* what, int got, int expected) {
    if (got != expected) {
        printf("%s: slot %d, expected %d\n", what, got, expected);
        return 1;
    }
    return 0;
}

int main(void) {
    int failures = 0;
    failures += check("IPoint::QueryInterface", SLOT(IPointVtbl, QueryInterface), 0);
    failures += check("IPoint::Invoke", SLOT(IPointVtbl, Invoke), 6);
    failures += check("IPoint::get_X", SLOT(IPointVtbl, get_X), 7);
    failures += check("IPoint::Apply", SLOT(IPointVtbl, Apply), 28);
    failures += check("IVector::get_AsArray", SLOT(IVectorVtbl, get_AsArray), 21);
    failures += check("IVector::Apply", SLOT(IVectorVtbl, Apply), 41);
    failures += check("IMatrix::get_Determinant", SLOT(IMatrixVtbl, get_Determinant), 44);
    failures += check("IRgbData::SetRgbData", SLOT(IRgbDataVtbl, SetRgbData), 16);
    failures += check("ILength table size", (int)(sizeof(ILengthVtbl) / sizeof(void*)), 9);
    failures += check("IMatrix table size", (int)(sizeof(IMatrixVtbl) / sizeof(void*)), 45);
    failures += check("VARIANT size", (int)sizeof(VARIANT), 24);
    failures += check("IID size", (int)sizeof(IID), 16);
    failures += IsEqualGUID(&IID_IPoint, &CLSID_Point) ? 1 : 0;

    SAFEARRAY* psa = SafeArrayCreateVector(VT_R8, 0, 3);
    failures += check("SafeArrayGetDim", (int)SafeArrayGetDim(psa), 1);
    SafeArrayDestroy(psa);
    printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
    return failures ? 1 : 0;
}
