/* tests/clients/c_client.c: a plain C client of the module file
 *
 * Loads liborvik.so, creates a Point and a Vector through DllGetClassObject and
 * calls them through their tables (object->lpVtbl->Op(object, ...)), which proves
 * that the C view of the interface header matches the module's table layout.
 */
#include "orvik/orvik_i.h"

#include <dlfcn.h>
#include <stdio.h>

typedef HRESULT (*GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT (*CanUnloadNowFn)(void);

static int g_passed, g_failed;

static void check(int ok, const char* what) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        printf("FAILED: %s\n", what);
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        printf("usage: c_client MODULE\n");
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        printf("cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    GetClassObjectFn getClassObject = (GetClassObjectFn)dlsym(module, "DllGetClassObject");
    CanUnloadNowFn canUnloadNow = (CanUnloadNowFn)dlsym(module, "DllCanUnloadNow");
    check(getClassObject && canUnloadNow, "entry points exported");
    if (!getClassObject || !canUnloadNow)
        return 1;

    IClassFactory* pointFactory = NULL;
    IClassFactory* vectorFactory = NULL;
    check(getClassObject(&CLSID_Point, &IID_IClassFactory, (void**)&pointFactory) == S_OK,
          "Point factory");
    check(getClassObject(&CLSID_Vector, &IID_IClassFactory, (void**)&vectorFactory) == S_OK,
          "Vector factory");

    IPoint* point = NULL;
    IVector* vector = NULL;
    check(pointFactory->lpVtbl->CreateInstance(pointFactory, NULL, &IID_IPoint, (void**)&point) ==
              S_OK,
          "create Point");
    check(vectorFactory->lpVtbl->CreateInstance(vectorFactory, NULL, &IID_IVector,
                                                (void**)&vector) == S_OK,
          "create Vector");
    pointFactory->lpVtbl->Release(pointFactory);
    vectorFactory->lpVtbl->Release(vectorFactory);

    check(point->lpVtbl->Set(point, 1, 2, 3, 0.01) == S_OK, "Point Set");
    check(vector->lpVtbl->Set(vector, 1, 1, 1, 0.5) == S_OK, "Vector Set");
    check(vector->lpVtbl->put_X(vector, 10) == S_OK, "Vector put_X");

    IPoint* sum = NULL;
    check(point->lpVtbl->Add(point, vector, &sum) == S_OK, "Point Add");
    double x = 0, y = 0, z = 0, e = 0;
    check(sum->lpVtbl->Get(sum, &x, &y, &z, &e) == S_OK, "Get");
    check(x == 11 && y == 3 && z == 4 && e == 0.5, "sum is (11, 3, 4) with error 0.5");

    double length = 0;
    check(vector->lpVtbl->get_Length(vector, &length) == S_OK && length > 10.09 && length < 10.1,
          "Vector Length");
    UINT count = 0;
    check(point->lpVtbl->GetTypeInfoCount(point, &count) == S_OK && count == 1, "GetTypeInfoCount");

    /* A record and a holder through their tables. */
    IClassFactory* factory = NULL;
    IMassProperties* mass = NULL;
    IRgbData* rgb = NULL;
    IPoint* centre = NULL;
    check(getClassObject(&CLSID_MassProperties, &IID_IClassFactory, (void**)&factory) == S_OK &&
              factory->lpVtbl->CreateInstance(factory, NULL, &IID_IMassProperties, (void**)&mass) ==
                  S_OK,
          "create MassProperties");
    factory->lpVtbl->Release(factory);
    check(getClassObject(&CLSID_RgbData, &IID_IClassFactory, (void**)&factory) == S_OK &&
              factory->lpVtbl->CreateInstance(factory, NULL, &IID_IRgbData, (void**)&rgb) == S_OK,
          "create RgbData");
    factory->lpVtbl->Release(factory);
    check(mass->lpVtbl->put_Volume(mass, 2.5) == S_OK, "put_Volume");
    check(mass->lpVtbl->put_Barycenter(mass, point) == S_OK, "put_Barycenter");
    double volume = 0;
    check(mass->lpVtbl->get_Volume(mass, &volume) == S_OK && volume == 2.5, "get_Volume");
    check(mass->lpVtbl->get_Barycenter(mass, &centre) == S_OK, "get_Barycenter");
    check(centre->lpVtbl->Get(centre, &x, &y, &z, &e) == S_OK && x == 1 && y == 2 && z == 3,
          "barycenter is a copy of the point");
    SHORT r = 0, g = 0, b = 0, a = 0;
    check(rgb->lpVtbl->SetRgbData(rgb, 300, -1, 0, 255) == S_OK, "SetRgbData");
    check(rgb->lpVtbl->GetRgbData(rgb, &r, &g, &b, &a) == S_OK && r == 300 && g == -1 && a == 255,
          "colour components are not clamped");
    centre->lpVtbl->Release(centre);
    mass->lpVtbl->Release(mass);
    rgb->lpVtbl->Release(rgb);

    check(canUnloadNow() == S_FALSE, "objects hold the module");
    check(sum->lpVtbl->Release(sum) == 0, "result carries one reference");
    point->lpVtbl->Release(point);
    vector->lpVtbl->Release(vector);
    check(canUnloadNow() == S_OK, "module can unload");
    dlclose(module);

    printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed ? 1 : 0;
}
