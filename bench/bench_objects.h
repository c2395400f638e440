// bench/bench_objects.h: objects made the way clients make them, for benchmarks
//
// The benchmarks link the module's objects into their process and create through
// the class factory, as a compiled client does. A failure here aborts the run:
// a benchmark of an object that could not be made would measure nothing.
#ifndef ORVIK_BENCH_BENCH_OBJECTS_H
#define ORVIK_BENCH_BENCH_OBJECTS_H

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

namespace orvik::bench {

template <class I> Ref<I> create(const CLSID& clsid) {
    Ref<IClassFactory> factory;
    Ref<I> object;
    if (FAILED(DllGetClassObject(clsid, IID_IClassFactory, factory.putVoid())) ||
        FAILED(factory->CreateInstance(nullptr, iidOf<I>(), object.putVoid()))) {
        std::fprintf(stderr, "orvik-bench: an object could not be created\n");
        std::abort();
    }
    return object;
}

/// Points the process at a registry store of the benchmark's own, made on first
/// use (before anything opens the store) and removed at exit, so that no benchmark
/// touches the user's store. False when it could not be made.
inline bool usePrivateStore() {
    struct PrivateStore {
        std::string dir;
        PrivateStore() {
            char path[] = "/tmp/orvik-bench-XXXXXX";
            if (!mkdtemp(path))
                return;
            dir = path;
            setenv("ORVIK_REGISTRY", (dir + "/registry.db").c_str(), 1);
        }
        ~PrivateStore() {
            if (!dir.empty())
                (void)std::system(("rm -rf '" + dir + "'").c_str());
        }
    };
    static PrivateStore store;
    return !store.dir.empty();
}

inline Ref<IPoint> makePoint(double x, double y, double z, double error) {
    Ref<IPoint> p = create<IPoint>(CLSID_Point);
    p->Set(x, y, z, error);
    return p;
}

inline Ref<IVector> makeVector(double x, double y, double z, double error) {
    Ref<IVector> v = create<IVector>(CLSID_Vector);
    v->Set(x, y, z, error);
    return v;
}

} // namespace orvik::bench

#endif // ORVIK_BENCH_BENCH_OBJECTS_H
