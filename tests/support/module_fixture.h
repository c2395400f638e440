// tests/support/module_fixture.h: creating objects the way clients do, and checking
// that every test leaves the module free to unload
#ifndef ORVIK_TESTS_SUPPORT_MODULE_FIXTURE_H
#define ORVIK_TESTS_SUPPORT_MODULE_FIXTURE_H

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
extern "C" HRESULT DllCanUnloadNow();

namespace orvik::testing {

/// A new standalone object of class clsid, asked for I through its class factory.
template <class I> Ref<I> create(const CLSID& clsid) {
    Ref<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, factory.putVoid()), S_OK);
    Ref<I> object;
    if (factory) {
        EXPECT_EQ(factory->CreateInstance(nullptr, iidOf<I>(), object.putVoid()), S_OK);
    }
    return object;
}

inline Ref<IPoint> makePoint(double x, double y, double z, double error = 0.001) {
    Ref<IPoint> p = create<IPoint>(CLSID_Point);
    EXPECT_EQ(p->Set(x, y, z, error), S_OK);
    return p;
}

inline Ref<IVector> makeVector(double x, double y, double z, double error = 0.001) {
    Ref<IVector> v = create<IVector>(CLSID_Vector);
    EXPECT_EQ(v->Set(x, y, z, error), S_OK);
    return v;
}

struct Coords {
    double x, y, z, error;
};

template <class I> Coords read(I* object) {
    Coords c{};
    EXPECT_EQ(object->Get(&c.x, &c.y, &c.z, &c.error), S_OK);
    return c;
}
template <class I> Coords read(const Ref<I>& object) {
    return read(object.get());
}

/// Every test that makes objects derives from this: when it ends, nothing it made
/// may still hold the module.
class ModuleTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object, factory or lock outlived the test";
    }
};

} // namespace orvik::testing

#define EXPECT_COORDS(object, X, Y, Z, ERR)                                                        \
    do {                                                                                           \
        ::orvik::testing::Coords c_ = ::orvik::testing::read(object);                              \
        EXPECT_DOUBLE_EQ(c_.x, X);                                                                 \
        EXPECT_DOUBLE_EQ(c_.y, Y);                                                                 \
        EXPECT_DOUBLE_EQ(c_.z, Z);                                                                 \
        EXPECT_DOUBLE_EQ(c_.error, ERR);                                                           \
    } while (0)

#endif // ORVIK_TESTS_SUPPORT_MODULE_FIXTURE_H
