// tests/server/module_termination_test.cpp: process detach, in a process of its own
//
// Termination takes the module down for the rest of the process, so it runs here,
// apart from every other test.

#include "server/module.h"
#include "tests/support/module_fixture.h"

#include <gtest/gtest.h>

namespace orvik::testing {
namespace {

int g_termCalls = 0;
void countTermination(DWORD_PTR arg) {
    g_termCalls += int(arg);
}

TEST(ModuleTermination, ReleasesCachedFactoriesRunsTheListOnceAndStaysTerminated) {
    Ref<IClassFactory> held;
    ASSERT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, held.putVoid()), S_OK);
    ASSERT_EQ(_pModule->AddTermFunc(countTermination, 1), S_OK);
    ASSERT_EQ(_pModule->AddTermFunc(countTermination, 10), S_OK);

    _pModule->Term();
    EXPECT_EQ(g_termCalls, 11);
    EXPECT_EQ(_pModule->cbSize, 0u);
    EXPECT_EQ(_pModule->m_pTermFuncs, nullptr);
    // The class table let go of its reference: the client's is the last one.
    EXPECT_EQ(held->AddRef(), 2u);
    EXPECT_EQ(held->Release(), 1u);
    IClassFactory* last = held.detach();
    EXPECT_EQ(last->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    _pModule->Term();
    EXPECT_EQ(g_termCalls, 11) << "a second termination does nothing";
}

} // namespace
} // namespace orvik::testing
