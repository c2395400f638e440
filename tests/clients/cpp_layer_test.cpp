// tests/clients/cpp_layer_test.cpp: the generated C++ layer as a client uses it,
// compiled as C++17: objects created through the registry and, without an entry,
// straight from the module file; values, structs, arrays and objects coming back;
// failures as orvik::ComError.

#include "orvik/orvik_raw.hpp"

#include "tests/support/registry_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace orvik::testing {
namespace {

uint64_t bitsOf(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

constexpr uint64_t kDefaultErrorBits = 0x3D83880000000000; // the stored default of Error

template <class Entry> Entry moduleEntry(const char* name) {
    HMODULE module = LoadLibraryExA(ORVIK_TEST_MODULE, nullptr, 0);
    EXPECT_NE(module, nullptr);
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Each test ends with nothing holding the module.
class LayerTest : public RegistryTest {
protected:
    void TearDown() override {
        EXPECT_EQ(moduleEntry<HRESULT (*)()>("DllCanUnloadNow")(), S_OK);
        RegistryTest::TearDown();
    }
};

// The module registered in the test's own store; no module path is known to the layer,
// so every object made here came through the registry.
class ThroughTheRegistry : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        unsetenv("ORVIK_MODULE");
        registerModule(ORVIK_TEST_MODULE);
    }
};

// An empty store and ORVIK_MODULE naming the module file.
class WithoutARegistryEntry : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        setenv("ORVIK_MODULE", ORVIK_TEST_MODULE, 1);
    }
};

TEST_F(ThroughTheRegistry, PointsAndVectorsByProgidAndClass) {
    Point p = create<IPoint>("Orvik.Point");
    Vector v = create<IVector>(CLSID_Vector);
    p.set(1, 2); // Z and Error take the library's defaults
    PointGetResult got = p.get();
    EXPECT_EQ(got.X, 1.0);
    EXPECT_EQ(got.Y, 2.0);
    EXPECT_EQ(got.Z, 0.0);
    EXPECT_EQ(bitsOf(got.Error), kDefaultErrorBits);

    p.setX(1.5);
    EXPECT_EQ(p.x(), 1.5);
    double raw = 0;
    EXPECT_EQ(p->get_X(&raw), S_OK); // the table stays reachable
    EXPECT_EQ(raw, 1.5);

    v.set(0.5, 0.25, 0.125, 0.001);
    Point moved = p.add(v);
    EXPECT_EQ(moved.asArray(), (std::vector<double>{2.0, 2.25, 0.125}));
    EXPECT_NE(moved.raw(), p.raw());

    Vector w = Vector::create();
    w.setAsArray({0.5, 0.25, 0.125});
    EXPECT_TRUE(v.equals(w));
    w.setX(3);
    EXPECT_FALSE(v.equals(w));
}

// The layer's tables are as long as the interface library says each interface's is,
// and an object made by the layer is the one the raw interface sees.
TEST_F(WithoutARegistryEntry, TheLayersTablesAreTheInterfacesTables) {
    Ref<ITypeLib> library;
    ASSERT_EQ(LoadTypeLib(u"" ORVIK_TEST_MODULE, library.put()), S_OK);
    auto tableBytes = [&](REFIID iid) {
        Ref<ITypeInfo> info;
        TYPEATTR* attributes = nullptr;
        EXPECT_EQ(library->GetTypeInfoOfGuid(iid, info.put()), S_OK);
        EXPECT_EQ(info->GetTypeAttr(&attributes), S_OK);
        const size_t bytes = attributes->cbSizeVft;
        info->ReleaseTypeAttr(attributes);
        return bytes;
    };
    EXPECT_EQ(sizeof(abi::IPoint::Table), tableBytes(IID_IPoint));
    EXPECT_EQ(sizeof(abi::IMatrix::Table), tableBytes(IID_IMatrix));
    EXPECT_EQ(sizeof(abi::IRgbData::Table), tableBytes(IID_IRgbData));
    // IDispatch's seven entries come first; the Point's own begin with X.
    EXPECT_EQ(offsetof(abi::IPoint::Table, get_X), 7 * sizeof(void*));

    Point p = Point::create();
    p.set(4, 5, 6);
    double y = 0;
    EXPECT_EQ(raw(p)->get_Y(&y), S_OK);
    EXPECT_EQ(y, 5.0);
    Point again = wrap(Ref<IPoint>::adopt(raw(p)));
    raw(p)->AddRef(); // the reference again now holds
    EXPECT_EQ(again.z(), 6.0);
}

TEST_F(ThroughTheRegistry, MatricesCombineAndApply) {
    Matrix shift = Matrix::create(), scale = Matrix::create();
    Vector by = Vector::create();
    by.set(0.5, 0.25, 0.125);
    shift.setTranslation(by);
    EXPECT_EQ(shift.element(3, 0), 0.5) << "column 3 is the origin";
    scale.setElement(0, 0, 2.0);
    EXPECT_EQ(scale.asArray1D()[0], 2.0) << "entry column * 3 + component";
    scale.setElement(1, 2, 4.0);
    EXPECT_EQ(scale.asArray1D()[5], 4.0);

    Point p = Point::create();
    p.set(1, 2, 3);
    Matrix both = shift.mul(scale); // scale first, then shift
    EXPECT_EQ(p.apply(both).asArray(), (std::vector<double>{2.5, 2.25, 11.125}));

    Vector x = Vector::create();
    x.set(1, 0, 0);
    VectorAxesResult axes = x.axes();
    ASSERT_TRUE(axes.pY && axes.pZ);
    EXPECT_EQ(axes.pY.dotProduct(x), 0.0);
    EXPECT_EQ(axes.pZ.dotProduct(x), 0.0);
}

TEST_F(ThroughTheRegistry, FailuresAreComErrorsInWords) {
    Matrix m = Matrix::create();
    try {
        m.element(1); // the second index left at its default, -1
        FAIL() << "no ComError";
    } catch (const ComError& error) {
        EXPECT_EQ(error.code(), E_INVALIDARG);
        EXPECT_STREQ(error.name(), "E_INVALIDARG");
        EXPECT_EQ(error.member(), "IMatrix.Element");
        EXPECT_STREQ(
            error.what(),
            "IMatrix.Element failed: The parameter is incorrect. (E_INVALIDARG, 0x80070057)");
    }
    try {
        m.negateInPlace();
        FAIL() << "no ComError";
    } catch (const ComError& error) {
        EXPECT_EQ(error.code(), E_NOTIMPL);
    }
    Point empty;
    try {
        (void)empty.x();
        FAIL() << "no ComError";
    } catch (const ComError& error) {
        EXPECT_EQ(error.code(), E_POINTER);
    }
    try {
        create<IPoint>("Orvik.Nothing");
        FAIL() << "no ComError";
    } catch (const ComError& error) {
        EXPECT_EQ(error.code(), CO_E_CLASSSTRING);
        EXPECT_EQ(error.member(), "Orvik.Nothing");
    }
    const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    try {
        create<IPoint>(unknown);
        FAIL() << "no ComError";
    } catch (const ComError& error) {
        EXPECT_EQ(error.code(), REGDB_E_CLASSNOTREG);
        EXPECT_STREQ(error.name(), "REGDB_E_CLASSNOTREG");
        EXPECT_EQ(error.member(), "{12345678-1234-1234-0102-030405060708}");
    }
}

// A copy of the module whose Matrix script names a root key that does not exist.
TEST_F(LayerTest, RegistrationThatFailsSaysWhichScriptWhereAndWhy) {
    std::ifstream in(ORVIK_TEST_MODULE, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string script = "HKCR\r\n{\r\n\tOrvik.Matrix.1";
    size_t at = bytes.find(script);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 4, "HKXX");
    char folder[] = "/tmp/orvik-layer-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string broken = std::string(folder) + "/liborvik.so";
    std::ofstream(broken, std::ios::binary) << bytes;
    try {
        registerModule(broken);
        ADD_FAILURE() << "no ComError";
    } catch (const ComError& error) {
        EXPECT_EQ(error.code(), DISP_E_EXCEPTION);
        EXPECT_EQ(error.member(), "DllRegisterServer");
        EXPECT_EQ(std::string(error.what()),
                  "DllRegisterServer failed: Exception occurred. (DISP_E_EXCEPTION, 0x80020009): " +
                      broken + "(REGISTRY 104):1:1: unknown root key 'HKXX'");
    }
    try {
        registerModule(std::string(folder) + "/missing.so");
        ADD_FAILURE() << "no ComError";
    } catch (const ComError& error) {
        EXPECT_EQ(error.code(), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    }
    std::remove(broken.c_str());
    rmdir(folder);
}

// The guide's table of what happens at the edges, row by row.
TEST_F(WithoutARegistryEntry, EdgesAreAsTheGuideSays) {
    Vector v = Vector::create();
    v.set(1, 2, 3, 0.5);
    for (double tiny : {0.0, 1e-7, -9e-7}) {
        Vector same = v.div(tiny);
        EXPECT_EQ(same.asArray(), (std::vector<double>{1, 2, 3})) << tiny;
        EXPECT_EQ(same.error(), 0.5) << tiny;
    }
    EXPECT_EQ(v.div(2).asArray(), (std::vector<double>{0.5, 1, 1.5}));

    Axis axis = Axis::create();
    Point origin = Point::create();
    origin.set(5, 5, 5);
    axis.set(origin, v);
    Axis fresh = axis.div(0);
    EXPECT_EQ(fresh.origin().asArray(), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(fresh.vector().asArray(), (std::vector<double>{0, 0, 0}));

    Vector shortVector = Vector::create();
    shortVector.set(1e-7, 0, 0);
    shortVector.normalizeInPlace();
    EXPECT_EQ(shortVector.asArray(), (std::vector<double>{1e-7, 0, 0}));

    Matrix singular = Matrix::create();
    singular.setElement(0, 0, 0);
    singular.setElement(1, 1, 0);
    singular.setElement(2, 2, 0);
    Matrix inverse = singular.inverse();
    EXPECT_TRUE(std::isnan(inverse.element(0, 0)));
    EXPECT_EQ(inverse.error(), 0.001);

    Point p = Point::create();
    EXPECT_EQ(p.error(), 0.001);
    p.set(1, 2, 3, 0);
    EXPECT_EQ(p.error(), 0.001);
    p.set(1, 2, 3);
    EXPECT_EQ(p.error(), 2.220446049250313e-12);
}

TEST_F(WithoutARegistryEntry, ObjectsComeStraightFromTheModuleFile) {
    Point byClass = Point::create();
    Point byName = create<IPoint>("Orvik.Point");
    Point byVersionedName = create<IPoint>("Orvik.Point.1");
    byClass.set(1, 2, 3);
    byName.copyFrom(byClass);
    byVersionedName.copyFrom(byName);
    EXPECT_EQ(byVersionedName.asArray(), (std::vector<double>{1, 2, 3}));
    try {
        create<IVector>("Orvik.Nothing");
        FAIL() << "no ComError";
    } catch (const ComError& error) {
        EXPECT_EQ(error.code(), CO_E_CLASSSTRING);
    }
    const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    try {
        create<IPoint>(unknown); // neither the registry nor the module knows it
        FAIL() << "no ComError";
    } catch (const ComError& error) {
        EXPECT_EQ(error.code(), REGDB_E_CLASSNOTREG);
    }
}

} // namespace
} // namespace orvik::testing
