// tests/server/dispatch_termination_test.cpp: process detach releases every loaded
// type-information holder, in a process of its own

#include "geometry/matrix.h"
#include "geometry/point.h"
#include "geometry/vector.h"
#include "server/dispatch_impl.h"
#include "server/module.h"
#include "tests/support/module_fixture.h"
#include "tests/support/registry_fixture.h"

#include <gtest/gtest.h>

namespace orvik::testing {
namespace {

using DispatchTermination = RegistryTest;

TEST_F(DispatchTermination, ReleasesEveryLoadedHolderWithItsTypeInformationAndCache) {
    Ref<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLib(u"" ORVIK_TLB_PATH, lib.put()), S_OK);
    ASSERT_EQ(RegisterTypeLib(lib.get(), u"" ORVIK_TLB_PATH, u"/"), S_OK);
    Ref<ITypeInfo> pointInfo, matrixInfo;
    {
        Ref<IPoint> p = create<IPoint>(CLSID_Point);
        Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
        ASSERT_EQ(p->GetTypeInfo(0, 0x409, pointInfo.put()), S_OK);
        ASSERT_EQ(m->GetTypeInfo(0, 0x409, matrixInfo.put()), S_OK);
    }
    ASSERT_TRUE(CPoint::holder().HasNameCache());
    ASSERT_TRUE(CMatrix::holder().HasNameCache());
    EXPECT_FALSE(CVector::holder().HasTypeInfo()) << "never asked for";

    _pModule->Term();
    for (CComTypeInfoHolder* h : {&CPoint::holder(), &CMatrix::holder()}) {
        EXPECT_FALSE(h->HasTypeInfo());
        EXPECT_FALSE(h->HasNameCache());
    }
    // The holders gave back their references: the test's are the last ones.
    EXPECT_EQ(pointInfo->AddRef(), 2u);
    EXPECT_EQ(pointInfo->Release(), 1u);
    EXPECT_EQ(matrixInfo->AddRef(), 2u);
    EXPECT_EQ(matrixInfo->Release(), 1u);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

} // namespace
} // namespace orvik::testing
