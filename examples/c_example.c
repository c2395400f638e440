/* examples/c_example.c: Orvik from C99
 *
 * Creates a Point and a Vector by programmatic identifier, adds them and prints the
 * result, calling each object through its operation table (object->lpVtbl->Op(object,
 * ...)). Identifiers cross the platform as 16-bit text: C99 has no literal for that, so
 * the 8-bit name is converted with MultiByteToWideChar (in C11, u"Orvik.Point" is the
 * same text). The module must be registered (orvik-regsvr liborvik.so), or named by
 * ORVIK_MODULE.
 *
 * Build: cc -std=c99 c_example.c $(pkg-config --cflags --libs orvik) \
 *            -Wl,-rpath,"$(pkg-config --variable=libdir orvik)"
 */
#include "orvik/orvik_i.h"
#include "orvik/platform.h"

#include <stdio.h>

/* A new object of class name (UTF-8) as interface riid, or null, the platform's
 * account of why on standard error. */
static void* create(const char* name, REFIID riid) {
    OLECHAR wide[64];
    char report[1024];
    void* object = NULL;
    HRESULT hr;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide, 64) == 0) {
        fprintf(stderr, "c_example: %s is not a name\n", name);
        return NULL;
    }
    hr = OrvikCreateInstanceByName(wide, NULL, riid, &object, report, sizeof report);
    if (FAILED(hr)) {
        fprintf(stderr, "c_example: cannot create %s (0x%08X): %s\n", name, (unsigned)hr, report);
        return NULL;
    }
    return object;
}

int main(void) {
    IPoint* point = (IPoint*)create("Orvik.Point", &IID_IPoint);
    IVector* vector = (IVector*)create("Orvik.Vector", &IID_IVector);
    IPoint* sum = NULL;
    double x = 0, y = 0, z = 0;
    int status = 1;
    if (point && vector &&
        SUCCEEDED(point->lpVtbl->Set(point, 1.0, 2.0, 3.0, 1e-9)) &&
        SUCCEEDED(vector->lpVtbl->Set(vector, 0.5, 0.25, 0.125, 1e-9)) &&
        SUCCEEDED(point->lpVtbl->Add(point, vector, &sum)) &&
        SUCCEEDED(sum->lpVtbl->get_X(sum, &x)) && SUCCEEDED(sum->lpVtbl->get_Y(sum, &y)) &&
        SUCCEEDED(sum->lpVtbl->get_Z(sum, &z))) {
        printf("(1, 2, 3) + (0.5, 0.25, 0.125) = (%g, %g, %g)\n", x, y, z);
        status = 0;
    }
    if (sum)
        sum->lpVtbl->Release(sum);
    if (vector)
        vector->lpVtbl->Release(vector);
    if (point)
        point->lpVtbl->Release(point);
    return status;
}
