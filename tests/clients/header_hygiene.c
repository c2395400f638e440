/* tests/clients/header_hygiene.c: the interface header in C99 with pedantic warnings
 * as errors (the build is the test), beside a client's own DELETE and TRUE. */
#define DELETE 0x1234
#define TRUE 1

#include "orvik/orvik_i.h"

int hygiene_check(IPoint* p) {
    double x = 0;
    VARIANT v;
    v.vt = VT_R8; /* fields of the unnamed unions stay reachable */
    v.dblVal = 1.0;
    return p->lpVtbl->get_X(p, &x) == S_OK && v.dblVal == 1.0 && DELETE == 0x1234;
}
