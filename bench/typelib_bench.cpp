// bench/typelib_bench.cpp: loading the interface library and looking up a name
//
// Figures per call. The library load is what each type-information holder pays
// once per process; the name lookup is what a late-bound caller pays per name when
// the holder's cache cannot answer. A plain hash lookup of the same name is the
// baseline for the latter.

#include "ratio_reporter.h"

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/utf.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_map>
#include <unistd.h>
#include <vector>

namespace {

// Every load reads and parses the file: the library is loaded from a copy that
// nothing else in the run holds (other benchmarks keep the original loaded).
void TypeLib_Load(benchmark::State& state) {
    const std::string copy = "/tmp/orvik-bench-" + std::to_string(getpid()) + ".tlb";
    {
        std::ifstream in(orvik::utf8Or(ORVIK_TLB_PATH), std::ios::binary);
        std::ofstream(copy, std::ios::binary) << in.rdbuf();
    }
    const std::u16string path = orvik::toUtf16(copy).value_or(u"");
    for (auto _ : state) {
        orvik::Ref<ITypeLib> lib;
        if (FAILED(LoadTypeLib(path.c_str(), lib.put()))) {
            state.SkipWithError("library not found");
            break;
        }
    }
    std::remove(copy.c_str());
}
BENCHMARK(TypeLib_Load);

// The same while the process holds the library already: it is given again.
void TypeLib_LoadWhileHeld(benchmark::State& state) {
    orvik::Ref<ITypeLib> held;
    if (FAILED(LoadTypeLib(ORVIK_TLB_PATH, held.put())))
        return state.SkipWithError("library not found");
    for (auto _ : state) {
        orvik::Ref<ITypeLib> lib;
        LoadTypeLib(ORVIK_TLB_PATH, lib.put());
        benchmark::DoNotOptimize(lib.get());
    }
}
BENCHMARK(TypeLib_LoadWhileHeld);

// The least a load can cost: the file's bytes read into memory.
void Baseline_ReadFile(benchmark::State& state) {
    const std::string path = orvik::utf8Or(ORVIK_TLB_PATH);
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(Baseline_ReadFile);

void TypeInfo_GetIDsOfNames(benchmark::State& state) {
    orvik::Ref<ITypeLib> lib;
    orvik::Ref<ITypeInfo> info;
    if (FAILED(LoadTypeLib(ORVIK_TLB_PATH, lib.put())) ||
        FAILED(lib->GetTypeInfoOfGuid(IID_IMatrix, info.put()))) {
        state.SkipWithError("library not found");
        return;
    }
    LPOLESTR name = const_cast<LPOLESTR>(u"determinant");
    for (auto _ : state) {
        MEMBERID id = 0;
        info->GetIDsOfNames(&name, 1, &id);
        benchmark::DoNotOptimize(id);
    }
}
BENCHMARK(TypeInfo_GetIDsOfNames);

void Baseline_HashLookupOf39(benchmark::State& state) {
    std::unordered_map<std::u16string, int> ids;
    for (int i = 0; i < 38; ++i)
        ids[u"member" + std::u16string(1, char16_t(u'a' + i % 26)) + char16_t(u'0' + i / 26)] = i;
    ids[u"determinant"] = 30;
    std::u16string name = u"determinant";
    for (auto _ : state) {
        auto it = ids.find(name);
        benchmark::DoNotOptimize(it);
    }
}
BENCHMARK(Baseline_HashLookupOf39);

const bool registered = [] {
    orvik::bench::compareTo("TypeInfo_GetIDsOfNames", "Baseline_HashLookupOf39");
    orvik::bench::compareTo("TypeLib_Load", "Baseline_ReadFile");
    orvik::bench::compareTo("TypeLib_LoadWhileHeld", "Baseline_ReadFile");
    return true;
}();

} // namespace
