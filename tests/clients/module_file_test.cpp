// tests/clients/module_file_test.cpp: the module file as the platform loads it

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>

namespace {

int threadCount() {
    int n = 0;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* entry = readdir(dir))
        n += entry->d_name[0] != '.';
    closedir(dir);
    return n;
}

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();

TEST(ModuleFile, ExportsItsEntryPointsAndNothingOfItsInside) {
    void* module = dlopen(ORVIK_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_NE(dlsym(module, "DllGetClassObject"), nullptr);
    EXPECT_NE(dlsym(module, "DllCanUnloadNow"), nullptr);
    for (const char* hidden :
         {"_ZN5orvik8_pModuleE", "_ZN5orvik18ClassObjectCreatorEPvRK5_GUIDPS0_",
          "_ZN5orvik12canUnloadNowEv", "g_classTable"})
        EXPECT_EQ(dlsym(module, hidden), nullptr) << hidden;
    dlclose(module);
}

TEST(ModuleFile, StartsNoThreadsAndCanUnloadOnceEverythingIsReleased) {
    int before = threadCount();
    void* module = dlopen(ORVIK_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(module, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(module, "DllCanUnloadNow"));
    {
        orvik::Ref<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_Vector, IID_IClassFactory, factory.putVoid()), S_OK);
        orvik::Ref<IVector> v;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVector, v.putVoid()), S_OK);
        orvik::Ref<IVector> y, z;
        ASSERT_EQ(v->Set(0, 0, 3, 0.001), S_OK);
        ASSERT_EQ(v->Axes(y.put(), z.put()), S_OK);
        EXPECT_EQ(threadCount(), before);
        EXPECT_EQ(canUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(dlclose(module), 0);
}

} // namespace
