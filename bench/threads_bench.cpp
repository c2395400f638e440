// bench/threads_bench.cpp: objects created and released by one thread and by two
//
// Each iteration makes a point through its class factory and releases it: what
// every object pays to the module's lock count and the allocator. Two threads doing
// it at once should get nearly twice the work done, when two cores are free.

#include "bench_objects.h"
#include "ratio_reporter.h"

namespace {

using namespace orvik;

void CreateAndRelease(benchmark::State& state) {
    static Ref<IClassFactory> factory = [] {
        Ref<IClassFactory> f;
        DllGetClassObject(CLSID_Point, IID_IClassFactory, f.putVoid());
        return f;
    }();
    for (auto _ : state) {
        IPoint* p = nullptr;
        factory->CreateInstance(nullptr, IID_IPoint, reinterpret_cast<void**>(&p));
        p->Release();
    }
}
BENCHMARK(CreateAndRelease)->Threads(1)->UseRealTime();
BENCHMARK(CreateAndRelease)->Threads(2)->UseRealTime();

const bool registered = [] {
    bench::compareScaling("CreateAndRelease/real_time/threads:2",
                          "CreateAndRelease/real_time/threads:1");
    return true;
}();

} // namespace
