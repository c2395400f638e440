// tests/registration/module_registration_test.cpp: the walk over the class table
// that registration and unregistration make
//
// The module's table is swapped for one whose hooks record their calls, so that the
// order, the class filter and the stop at the first failure show; the library is
// left out (its registration is the entry points' test).

#include "module/module_registration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvik::testing {
namespace {

std::vector<std::string> g_calls;
HRESULT g_failAt = S_OK; // the hook of the second class answers this

template <int N> HRESULT recordingHook(BOOL bRegister) {
    g_calls.push_back((bRegister ? "register " : "unregister ") + std::to_string(N));
    return N == 2 ? g_failAt : S_OK;
}

const CLSID kFirst = {1, 0, 0, {0}}, kSecond = {2, 0, 0, {0}}, kThird = {3, 0, 0, {0}};

class ModuleRegistrationWalk : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = _pModule->m_pObjMap;
        _pModule->m_pObjMap = m_table;
        g_calls.clear();
        g_failAt = S_OK;
    }
    void TearDown() override { _pModule->m_pObjMap = m_saved; }
    ClassEntry m_table[4] = {
        {&kFirst, recordingHook<1>, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
        {&kSecond, recordingHook<2>, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
        {&kThird, recordingHook<3>, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr}};
    ClassEntry* m_saved = nullptr;
};

TEST_F(ModuleRegistrationWalk, EveryClassInTableOrderOrOnlyTheOneFiltered) {
    EXPECT_EQ(RegisterModule(false, nullptr), S_OK);
    EXPECT_EQ(UnregisterModule(false, &kThird), S_OK);
    EXPECT_EQ(g_calls,
              (std::vector<std::string>{"register 1", "register 2", "register 3", "unregister 3"}));
}

TEST_F(ModuleRegistrationWalk, TheFirstFailureEndsTheWalk) {
    g_failAt = DISP_E_EXCEPTION;
    EXPECT_EQ(RegisterModule(true, nullptr), DISP_E_EXCEPTION) << "and no library after it";
    EXPECT_EQ(UnregisterModule(true, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"register 1", "register 2", "unregister 1",
                                                 "unregister 2"}));
}

} // namespace
} // namespace orvik::testing
