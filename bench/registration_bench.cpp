// bench/registration_bench.cpp: self-registration and activation against doing the
// same work directly
//
// DllRegisterServer of the built module file into an emptied store is compared with
// writing the very keys and values it leaves with the registry functions directly;
// creation by programmatic identifier of a module already loaded is compared with
// asking the module's own DllGetClassObject and the factory. Both run in the
// benchmark's own store.

#include "bench_objects.h"
#include "ratio_reporter.h"

#include "orvik/platform/registry_helpers.h"
#include "orvik/platform.h"

#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

using namespace orvik;

struct Value {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};
struct Key {
    std::string path;
    std::vector<Value> values;
};

// The module file, loaded to run, with its entry points.
struct ModuleFile {
    void* handle = dlopen(ORVIK_MODULE_PATH, RTLD_NOW);
    HRESULT(*registerServer)
    () = handle ? reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer")) : nullptr;
    HRESULT(*getClassObject)
    (REFCLSID, REFIID, void**) = handle ? reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(
                                              dlsym(handle, "DllGetClassObject"))
                                        : nullptr;
};

ModuleFile& moduleFile() {
    static ModuleFile module;
    return module;
}

void collect(HKEY key, const std::string& path, std::vector<Key>& out) {
    Key record{path, {}};
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[4096];
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS)
            break;
        record.values.push_back({name, type, std::vector<BYTE>(data, data + dataSize)});
    }
    out.push_back(record);
    std::vector<std::string> children;
    regSubkeyNames(key, children);
    for (const std::string& child : children) {
        RegKey sub;
        if (RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, sub.put()) == ERROR_SUCCESS)
            collect(sub.get(), path.empty() ? child : path + "\\" + child, out);
    }
}

// Everything under HKEY_CLASSES_ROOT removed.
void emptyClassesRoot() {
    std::vector<std::string> top;
    regSubkeyNames(HKEY_CLASSES_ROOT, top);
    for (const std::string& name : top)
        regDeleteTree(HKEY_CLASSES_ROOT, name.c_str());
}

// The keys and values registration leaves, read once from a registration.
const std::vector<Key>& registeredKeys() {
    static std::vector<Key> keys = [] {
        std::vector<Key> out;
        emptyClassesRoot();
        if (moduleFile().registerServer && SUCCEEDED(moduleFile().registerServer())) {
            std::vector<std::string> top;
            regSubkeyNames(HKEY_CLASSES_ROOT, top);
            for (const std::string& name : top) {
                RegKey key;
                if (RegOpenKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, key.put()) ==
                    ERROR_SUCCESS)
                    collect(key.get(), name, out);
            }
        }
        return out;
    }();
    return keys;
}

// The store emptied between timed runs, outside the time.
void emptyUntimed(benchmark::State& state) {
    state.PauseTiming();
    emptyClassesRoot();
    state.ResumeTiming();
}

bool ready() {
    return bench::usePrivateStore() && moduleFile().registerServer && !registeredKeys().empty();
}

void Baseline_RegistryWrites(benchmark::State& state) {
    if (!ready())
        return state.SkipWithError("the module could not be registered");
    for (auto _ : state) {
        emptyUntimed(state);
        for (const Key& k : registeredKeys()) {
            RegKey key;
            RegCreateKeyExA(HKEY_CLASSES_ROOT, k.path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            key.put(), nullptr);
            for (const Value& v : k.values)
                RegSetValueExA(key.get(), v.name.c_str(), 0, v.type, v.data.data(),
                               DWORD(v.data.size()));
        }
    }
}
BENCHMARK(Baseline_RegistryWrites);

void SelfRegistration(benchmark::State& state) {
    if (!ready())
        return state.SkipWithError("the module could not be registered");
    for (auto _ : state) {
        emptyUntimed(state);
        if (FAILED(moduleFile().registerServer()))
            return state.SkipWithError("DllRegisterServer failed");
    }
}
BENCHMARK(SelfRegistration);

void Baseline_ModuleClassObject(benchmark::State& state) {
    if (!ready())
        return state.SkipWithError("the module could not be registered");
    for (auto _ : state) {
        Ref<IClassFactory> factory;
        Ref<IPoint> point;
        moduleFile().getClassObject(CLSID_Point, IID_IClassFactory, factory.putVoid());
        factory->CreateInstance(nullptr, IID_IPoint, point.putVoid());
        benchmark::DoNotOptimize(point.get());
    }
}
BENCHMARK(Baseline_ModuleClassObject);

void Activation_ByProgId(benchmark::State& state) {
    if (!ready() || FAILED(moduleFile().registerServer()))
        return state.SkipWithError("the module could not be registered");
    for (auto _ : state) {
        CLSID clsid{};
        Ref<IPoint> point;
        CLSIDFromProgID(u"Orvik.Point", &clsid);
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPoint,
                                    point.putVoid())))
            return state.SkipWithError("creation failed");
        benchmark::DoNotOptimize(point.get());
    }
}
BENCHMARK(Activation_ByProgId);

const bool registered = [] {
    bench::compareTo("SelfRegistration", "Baseline_RegistryWrites");
    bench::compareTo("Activation_ByProgId", "Baseline_ModuleClassObject");
    return true;
}();

} // namespace
