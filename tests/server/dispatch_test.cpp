// tests/server/dispatch_test.cpp: late-bound calls on the objects, by name and
// dispatch identifier, through the registered interface library

#include "geometry/matrix.h"
#include "geometry/point.h"
#include "geometry/vector.h"
#include "server/dispatch_impl.h"
#include "tests/support/module_fixture.h"
#include "tests/support/recording_doubles.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/variant_args.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvik::testing {
namespace {

// The library registered in a private store, as self-registration will do.
HRESULT registerLibrary() {
    Ref<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(u"" ORVIK_TLB_PATH, lib.put());
    return SUCCEEDED(hr) ? RegisterTypeLib(lib.get(), u"" ORVIK_TLB_PATH, u"/") : hr;
}

class Dispatch : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(registerLibrary(), S_OK);
    }
    void TearDown() override {
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object, factory or lock outlived the test";
        RegistryTest::TearDown();
    }

    template <class I> static DISPID idOf(I* object, const char16_t* name) {
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id), S_OK) << "name";
        return id;
    }
};

// Arguments are given first to last; rgvarg holds them last first.
struct Args {
    std::vector<VARIANT> values;
    std::vector<DISPID> names;
    explicit Args(std::vector<VARIANT> firstToLast = {}, std::vector<DISPID> named = {})
        : values(firstToLast.rbegin(), firstToLast.rend()), names(std::move(named)) {}
    DISPPARAMS params() {
        return {values.empty() ? nullptr : values.data(), names.empty() ? nullptr : names.data(),
                UINT(values.size()), UINT(names.size())};
    }
};

template <class T> VARIANT byref(VARTYPE vt, T* target) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VARTYPE(VT_BYREF | vt);
    v.byref = target;
    return v;
}

uint64_t bits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}

TEST_F(Dispatch, TypeInformationIsTheInterfacesOwnForEveryIndex) {
    Ref<IPoint> p = makePoint(1, 2, 3);
    UINT count = 0;
    EXPECT_EQ(p->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(p->GetTypeInfoCount(nullptr), E_POINTER);
    Ref<ITypeInfo> first, fifth;
    ASSERT_EQ(p->GetTypeInfo(0, 0x409, first.put()), S_OK);
    ASSERT_EQ(p->GetTypeInfo(5, 0x409, fifth.put()), S_OK);
    EXPECT_EQ(first.get(), fifth.get());
    EXPECT_EQ(p->GetTypeInfo(0, 0x409, nullptr), E_POINTER);
}

TEST_F(Dispatch, NamesResolveFromTheCacheExactlyAndOtherwiseFromTheTypeInformation) {
    Ref<IPoint> p = makePoint(1, 2, 3);
    EXPECT_EQ(idOf(p.get(), u"X"), 1);
    EXPECT_EQ(idOf(p.get(), u"Set"), 6);
    EXPECT_TRUE(CPoint::holder().HasNameCache());
    EXPECT_EQ(idOf(p.get(), u"sET"), 6) << "other letter case: the type information";
    LPOLESTR names[3] = {const_cast<LPOLESTR>(u"Set"), const_cast<LPOLESTR>(u"Error"),
                         const_cast<LPOLESTR>(u"x")};
    DISPID ids[3] = {};
    ASSERT_EQ(p->GetIDsOfNames(IID_NULL, names, 3, 0x409, ids), S_OK);
    EXPECT_EQ(ids[0], 6);
    EXPECT_EQ(ids[1], 3) << "parameters by their position";
    EXPECT_EQ(ids[2], 0);
    LPOLESTR unknown[1] = {const_cast<LPOLESTR>(u"NoSuchMember")};
    EXPECT_EQ(p->GetIDsOfNames(IID_NULL, unknown, 1, 0x409, ids), DISP_E_UNKNOWNNAME);
    Ref<IVector> v = makeVector(1, 0, 0);
    EXPECT_EQ(idOf(v.get(), u"AsArray"), 12);
}

TEST_F(Dispatch, PropertiesAndMethodsReachTheSameOperationsAsEarlyBoundCalls) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.5);
    Args none;
    DISPPARAMS noArgs = none.params();
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(
        p->Invoke(1, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &noArgs, &result, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(result.vt, VT_R8);
    EXPECT_EQ(result.dblVal, 1.0);
    // Scripts send method and get together; the get is chosen.
    ASSERT_EQ(p->Invoke(2, IID_NULL, 0x409, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &noArgs,
                        &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.dblVal, 2.0);

    Args put({integer(7)}, {DISPID_PROPERTYPUT});
    DISPPARAMS putArgs = put.params();
    ASSERT_EQ(
        p->Invoke(1, IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &putArgs, nullptr, nullptr, nullptr),
        S_OK);
    EXPECT_COORDS(p, 7, 2, 3, 0.5);

    // Set with every argument, then with none: the stored defaults, the error bit
    // for bit.
    Args four({real(4), real(5), real(6), real(0.25)});
    DISPPARAMS fourArgs = four.params();
    ASSERT_EQ(p->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, &fourArgs, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_COORDS(p, 4, 5, 6, 0.25);
    ASSERT_EQ(p->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, &noArgs, nullptr, nullptr, nullptr),
              S_OK);
    Coords c = read(p);
    EXPECT_EQ(c.x, 0.0);
    EXPECT_EQ(c.z, 0.0);
    EXPECT_EQ(bits(c.error), 0x3D83880000000000u);

    Ref<IPlane> plane = create<IPlane>(CLSID_Plane);
    ASSERT_EQ(
        plane->Invoke(3, IID_NULL, 0x409, DISPATCH_METHOD, &noArgs, nullptr, nullptr, nullptr),
        S_OK);
    double a = -1, b = -1, cc = -1, d = -1, e = -1;
    ASSERT_EQ(plane->Get(&a, &b, &cc, &d, &e), S_OK);
    EXPECT_EQ(a, 0.0);
    EXPECT_EQ(b, 0.0);
    EXPECT_EQ(cc, 1.0);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(bits(e), 0x3D83880000000000u);
}

TEST_F(Dispatch, OutArgumentsAreWrittenThroughAndObjectsComeBackAsDispatch) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.5);
    double x = 0, y = 0, z = 0, e = 0;
    Args outs({byref(VT_R8, &x), byref(VT_R8, &y), byref(VT_R8, &z), byref(VT_R8, &e)});
    DISPPARAMS outArgs = outs.params();
    ASSERT_EQ(p->Invoke(idOf(p.get(), u"Get"), IID_NULL, 0x409, DISPATCH_METHOD, &outArgs, nullptr,
                        nullptr, nullptr),
              S_OK);
    EXPECT_EQ(x, 1.0);
    EXPECT_EQ(e, 0.5);

    Ref<IVector> v = makeVector(1, 1, 1, 0.25);
    Args add({object(v.get())});
    DISPPARAMS addArgs = add.params();
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(p->Invoke(7, IID_NULL, 0x409, DISPATCH_METHOD, &addArgs, &result, nullptr, nullptr),
              S_OK);
    ASSERT_EQ(result.vt, VT_DISPATCH);
    Ref<IPoint> sum;
    ASSERT_EQ(result.pdispVal->QueryInterface(IID_IPoint, sum.putVoid()), S_OK);
    EXPECT_COORDS(sum, 2, 3, 4, 0.5);
    VariantClear(&result);
    // A null result pointer: the new object is released, not leaked.
    ASSERT_EQ(p->Invoke(7, IID_NULL, 0x409, DISPATCH_METHOD, &addArgs, nullptr, nullptr, nullptr),
              S_OK);
}

// A member's first late-bound call prepares how it is called; the calls after it use
// what was prepared. Every case here is made twice so that both answer, alike.
TEST_F(Dispatch, RepeatedCallsAnswerAsTheFirstDid) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.5);
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    RecordingVector vector;
    vector.value[0] = 1;
    Ref<IPoint> notAVector = makePoint(0, 0, 0);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first call" : "repeated call");
        // Trailing arguments left off, and one omitted between, take their defaults.
        ASSERT_EQ(p->Set(9, 9, 9, 9), S_OK);
        Args twoOfFour({real(4), real(5)});
        DISPPARAMS two = twoOfFour.params();
        ASSERT_EQ(p->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, &two, nullptr, nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(read(p).z, 0.0);
        EXPECT_EQ(bits(read(p).error), 0x3D83880000000000u);
        Args gap({real(4), omitted(), real(6), real(0.25)});
        DISPPARAMS gapArgs = gap.params();
        ASSERT_EQ(
            p->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, &gapArgs, nullptr, nullptr, nullptr),
            S_OK);
        EXPECT_COORDS(p, 4, 0, 6, 0.25);

        // A put's value named DISPID_PROPERTYPUT, then an argument needing conversion.
        Args put({real(7.5)}, {DISPID_PROPERTYPUT});
        DISPPARAMS putArgs = put.params();
        ASSERT_EQ(p->Invoke(2, IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &putArgs, nullptr, nullptr,
                            nullptr),
                  S_OK);
        EXPECT_EQ(read(p).y, 7.5);
        Args converted({integer(3)}, {DISPID_PROPERTYPUT});
        DISPPARAMS convertedArgs = converted.params();
        ASSERT_EQ(p->Invoke(2, IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &convertedArgs, nullptr,
                            nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(read(p).y, 3.0);

        // An object argument is asked once for the declared interface and given back:
        // the call takes no other reference of it.
        Args add({object(&vector)});
        DISPPARAMS addArgs = add.params();
        int queries = vector.queries;
        VARIANT result;
        VariantInit(&result);
        ASSERT_EQ(
            p->Invoke(7, IID_NULL, 0x409, DISPATCH_METHOD, &addArgs, &result, nullptr, nullptr),
            S_OK);
        EXPECT_EQ(vector.queries, queries + 1);
        EXPECT_EQ(vector.refs, 1u);
        ASSERT_EQ(result.vt, VT_DISPATCH);
        Ref<IPoint> sum;
        ASSERT_EQ(result.pdispVal->QueryInterface(IID_IPoint, sum.putVoid()), S_OK);
        EXPECT_EQ(read(sum).x, 4.0 + 1.0);
        VariantClear(&result);

        // Failures: an object without the interface, a null [out] target, an
        // operation's own failure with the optional index left off.
        UINT argErr = 99;
        Args wrongObject({object(notAVector.get())});
        DISPPARAMS wrongArgs = wrongObject.params();
        EXPECT_EQ(
            p->Invoke(7, IID_NULL, 0x409, DISPATCH_METHOD, &wrongArgs, nullptr, nullptr, &argErr),
            DISP_E_TYPEMISMATCH);
        EXPECT_EQ(argErr, 0u);
        double x = 0, y = 0, z = 0;
        Args nullOut({byref(VT_R8, &x), byref(VT_R8, &y), byref(VT_R8, &z),
                      byref(VT_R8, static_cast<double*>(nullptr))});
        DISPPARAMS nullOutArgs = nullOut.params();
        argErr = 99;
        EXPECT_EQ(p->Invoke(idOf(p.get(), u"Get"), IID_NULL, 0x409, DISPATCH_METHOD, &nullOutArgs,
                            nullptr, nullptr, &argErr),
                  E_INVALIDARG);
        EXPECT_EQ(argErr, 0u);
        Args one({integer(1)});
        DISPPARAMS oneArg = one.params();
        EXCEPINFO info{};
        EXPECT_EQ(m->Invoke(idOf(m.get(), u"Element"), IID_NULL, 0x409, DISPATCH_PROPERTYGET,
                            &oneArg, &result, &info, nullptr),
                  DISP_E_EXCEPTION);
        EXPECT_EQ(info.scode, E_INVALIDARG);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrSource);
    }
}

// A get, a put and a Set of doubles, called again in the same form, take a prepared
// call; each answer (a failure's words included) and each fall back to the general
// route for a call in another form must stay as the first call's.
TEST_F(Dispatch, PreparedCallsAnswerAsTheGeneralRouteDoes) {
    Ref<IVector> real_ = create<IVector>(CLSID_Vector);
    Ref<ITypeInfo> info;
    ASSERT_EQ(real_->GetTypeInfo(0, 0x409, info.put()), S_OK);
    const DISPID x = idOf(real_.get(), u"X"), set = idOf(real_.get(), u"Set");
    RecordingVector vector; // its get_X and put_X fail with E_NOTIMPL
    IVector* instance = &vector;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round == 0 ? "first call" : "prepared call");
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excep{};
        EXPECT_EQ(info->Invoke(instance, x, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr),
                  DISP_E_EXCEPTION);
        EXPECT_EQ(excep.scode, E_NOTIMPL);
        EXPECT_EQ(result.vt, VT_EMPTY);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrSource);

        Args put({real(7.5)}, {DISPID_PROPERTYPUT});
        DISPPARAMS putArgs = put.params();
        excep = EXCEPINFO{};
        EXPECT_EQ(
            info->Invoke(instance, x, DISPATCH_PROPERTYPUT, &putArgs, nullptr, &excep, nullptr),
            DISP_E_EXCEPTION);
        EXPECT_EQ(excep.scode, E_NOTIMPL);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrSource);

        Args four({real(1), real(2), real(3), real(0.5)});
        DISPPARAMS fourArgs = four.params();
        ASSERT_EQ(
            info->Invoke(instance, set, DISPATCH_METHOD, &fourArgs, nullptr, nullptr, nullptr),
            S_OK);
        EXPECT_EQ(vector.value[0], 1.0);
        EXPECT_EQ(vector.value[3], 0.5);
        // Another form each: an integer to convert, too few (the rest default), a
        // get given an argument, a get with a named argument but none given.
        Args converted({real(1), integer(4), real(3), real(0.5)});
        DISPPARAMS convertedArgs = converted.params();
        ASSERT_EQ(
            info->Invoke(instance, set, DISPATCH_METHOD, &convertedArgs, nullptr, nullptr, nullptr),
            S_OK);
        EXPECT_EQ(vector.value[1], 4.0);
        Args two({real(5), real(6)});
        DISPPARAMS twoArgs = two.params();
        ASSERT_EQ(info->Invoke(instance, set, DISPATCH_METHOD, &twoArgs, nullptr, nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(vector.value[0], 5.0);
        EXPECT_EQ(vector.value[2], 0.0);
        Args extra({real(1)});
        DISPPARAMS extraArgs = extra.params();
        EXPECT_EQ(
            info->Invoke(instance, x, DISPATCH_PROPERTYGET, &extraArgs, &result, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
        DISPID named = 1;
        DISPPARAMS namedNone = {nullptr, &named, 0, 1};
        EXPECT_EQ(
            info->Invoke(instance, x, DISPATCH_PROPERTYGET, &namedNone, &result, nullptr, nullptr),
            E_INVALIDARG);
    }
    // The real object's get, prepared: its value as a double.
    ASSERT_EQ(real_->put_X(2.25), S_OK);
    for (int round = 0; round < 2; ++round) {
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        ASSERT_EQ(real_->Invoke(x, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                nullptr),
                  S_OK);
        EXPECT_EQ(result.vt, VT_R8);
        EXPECT_EQ(result.dblVal, 2.25);
    }
}

TEST_F(Dispatch, NamedArgumentsTakeTheirParametersInAnyOrder) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.5);
    LPOLESTR names[3] = {const_cast<LPOLESTR>(u"Set"), const_cast<LPOLESTR>(u"Z"),
                         const_cast<LPOLESTR>(u"X")};
    DISPID ids[3];
    ASSERT_EQ(p->GetIDsOfNames(IID_NULL, names, 3, 0x409, ids), S_OK);
    // Named arguments come first in rgvarg, in the order of their identifiers.
    VARIANT values[2] = {real(30), real(10)};
    DISPID named[2] = {ids[1], ids[2]};
    DISPPARAMS params = {values, named, 2, 2};
    ASSERT_EQ(
        p->Invoke(ids[0], IID_NULL, 0x409, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
        S_OK);
    Coords c = read(p);
    EXPECT_EQ(c.x, 10.0);
    EXPECT_EQ(c.y, 0.0);
    EXPECT_EQ(c.z, 30.0);
}

TEST_F(Dispatch, LateBoundCallersGetTheErrorsTheyExpect) {
    Ref<IPoint> p = makePoint(1, 2, 3);
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    Args none;
    DISPPARAMS noArgs = none.params();
    UINT argErr = 99;
    EXPECT_EQ(p->Invoke(999, IID_NULL, 0x409, DISPATCH_METHOD, &noArgs, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(p->Invoke(1, IID_NULL, 0x409, DISPATCH_METHOD, &noArgs, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND)
        << "a property called as a method only";
    EXPECT_EQ(
        p->Invoke(6, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &noArgs, nullptr, nullptr, nullptr),
        DISP_E_MEMBERNOTFOUND)
        << "a method called as a get";
    Args tooMany({real(1), real(2), real(3), real(4), real(5)});
    DISPPARAMS tooManyArgs = tooMany.params();
    EXPECT_EQ(
        p->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, &tooManyArgs, nullptr, nullptr, nullptr),
        DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(p->Invoke(7, IID_NULL, 0x409, DISPATCH_METHOD, &noArgs, nullptr, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT)
        << "Add without its vector";
    Args omittedVector({omitted()});
    DISPPARAMS omittedArgs = omittedVector.params();
    EXPECT_EQ(
        p->Invoke(7, IID_NULL, 0x409, DISPATCH_METHOD, &omittedArgs, nullptr, nullptr, &argErr),
        DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(argErr, 0u);
    VARIANT values[2] = {real(1), real(2)};
    DISPID unknownName[2] = {17, 0};
    DISPPARAMS badName = {values, unknownName, 2, 2};
    EXPECT_EQ(p->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, &badName, nullptr, nullptr, &argErr),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(argErr, 0u);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"not a number");
    Args mismatch({real(1), text});
    DISPPARAMS mismatchArgs = mismatch.params();
    EXPECT_EQ(
        p->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, &mismatchArgs, nullptr, nullptr, &argErr),
        DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u) << "the second argument stands first in rgvarg";
    VariantClear(&text);
    EXPECT_EQ(p->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    DISPPARAMS noArray = {nullptr, nullptr, 1, 0};
    EXPECT_EQ(p->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, &noArray, nullptr, nullptr, nullptr),
              E_INVALIDARG);

    // An operation's own failure: Element(1) passes -1 as the second index.
    Args one({integer(1)});
    DISPPARAMS oneArg = one.params();
    EXCEPINFO info{};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(m->Invoke(idOf(m.get(), u"Element"), IID_NULL, 0x409, DISPATCH_PROPERTYGET, &oneArg,
                        &result, &info, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_INVALIDARG);
    EXPECT_EQ(info.wCode, 0);
    ASSERT_NE(info.bstrDescription, nullptr);
    std::u16string description(info.bstrDescription);
    EXPECT_NE(description.find(u"IMatrix.Element"), std::u16string::npos);
    EXPECT_NE(description.find(u"0x80070057"), std::u16string::npos);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    EXPECT_EQ(m->Invoke(idOf(m.get(), u"Element"), IID_NULL, 0x409, DISPATCH_PROPERTYGET, &oneArg,
                        &result, nullptr, nullptr),
              DISP_E_EXCEPTION);
}

TEST_F(Dispatch, ArraysBooleansAndShortsConvertBothWays) {
    Ref<IVector> v = makeVector(1, 2, 3);
    Args none;
    DISPPARAMS noArgs = none.params();
    VARIANT result;
    VariantInit(&result);
    DISPID asArray = idOf(v.get(), u"AsArray");
    ASSERT_EQ(v->Invoke(asArray, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &noArgs, &result, nullptr,
                        nullptr),
              S_OK);
    ASSERT_EQ(result.vt, VT_ARRAY | VT_R8);
    LONG index = 2;
    double third = 0;
    ASSERT_EQ(SafeArrayGetElement(result.parray, &index, &third), S_OK);
    EXPECT_EQ(third, 3.0);
    // The same array back through the put, as a named value.
    Args put({result}, {DISPID_PROPERTYPUT});
    DISPPARAMS putArgs = put.params();
    Ref<IVector> w = makeVector(0, 0, 0);
    ASSERT_EQ(w->Invoke(asArray, IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &putArgs, nullptr, nullptr,
                        nullptr),
              S_OK);
    EXPECT_COORDS(w, 1, 2, 3, 0.001);
    VariantClear(&result);

    Args other({object(w.get())});
    DISPPARAMS otherArgs = other.params();
    ASSERT_EQ(v->Invoke(idOf(v.get(), u"Equals"), IID_NULL, 0x409, DISPATCH_METHOD, &otherArgs,
                        &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);

    Ref<IRgbData> colour = create<IRgbData>(CLSID_RgbData);
    Args red({integer(200)}, {DISPID_PROPERTYPUT});
    DISPPARAMS redArgs = red.params();
    DISPID redId = idOf(colour.get(), u"Red");
    ASSERT_EQ(colour->Invoke(redId, IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &redArgs, nullptr,
                             nullptr, nullptr),
              S_OK);
    ASSERT_EQ(colour->Invoke(redId, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &noArgs, &result,
                             nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 200);
    Args tooBig({integer(70000)}, {DISPID_PROPERTYPUT});
    DISPPARAMS tooBigArgs = tooBig.params();
    UINT argErr = 9;
    EXPECT_EQ(colour->Invoke(redId, IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &tooBigArgs, nullptr,
                             nullptr, &argErr),
              DISP_E_OVERFLOW);
    EXPECT_EQ(argErr, 0u);
}

// An outer object that answers IUnknown itself and hands everything else to the
// aggregated inner object.
class Outer : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (IsEqualGUID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
};

TEST_F(Dispatch, CallsThroughTheInnerObjectOfAnAggregateReachItsOperations) {
    Outer outer;
    Ref<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, factory.putVoid()), S_OK);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    {
        Ref<IDispatch> dispatch;
        ASSERT_EQ(outer.QueryInterface(IID_IDispatch, dispatch.putVoid()), S_OK);
        Args set({real(1), real(2), real(3)});
        DISPPARAMS setArgs = set.params();
        ASSERT_EQ(dispatch->Invoke(6, IID_NULL, 0x409, DISPATCH_METHOD, &setArgs, nullptr, nullptr,
                                   nullptr),
                  S_OK);
        Args none;
        DISPPARAMS noArgs = none.params();
        VARIANT y;
        VariantInit(&y);
        ASSERT_EQ(dispatch->Invoke(2, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &noArgs, &y, nullptr,
                                   nullptr),
                  S_OK);
        EXPECT_EQ(y.dblVal, 2.0);
    }
    outer.inner->Release();
    EXPECT_EQ(outer.refs, 1u) << "every reference taken through the aggregate was given back";
}

// Before the library is registered, the loading code; after it, in the same
// process, success. Run in a process of its own, where no holder is loaded yet.
TEST(DispatchLoading, AnUnregisteredLibraryFailsUntilItIsRegistered) {
    char dir[] = "/tmp/orvik-dispatch-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    pid_t child = fork();
    if (child == 0) {
        setenv("ORVIK_REGISTRY", (std::string(dir) + "/registry.db").c_str(), 1);
        // Holders that tests before this one loaded in this process start empty again.
        CComTypeInfoHolder::Cleanup(DWORD_PTR(&CVector::holder()));
        CComTypeInfoHolder::Cleanup(DWORD_PTR(&CPoint::holder()));
        int step = 0;
        {
            Ref<IClassFactory> factory;
            Ref<IVector> v;
            if (DllGetClassObject(CLSID_Vector, IID_IClassFactory, factory.putVoid()) != S_OK ||
                factory->CreateInstance(nullptr, IID_IVector, v.putVoid()) != S_OK)
                _exit(10);
            Ref<ITypeInfo> info;
            if (CVector::holder().HasTypeInfo() ||
                v->GetTypeInfo(0, 0x409, info.put()) != TYPE_E_LIBNOTREGISTERED || info)
                _exit(11);
            if (registerLibrary() != S_OK)
                _exit(12);
            if (v->GetTypeInfo(0, 0x409, info.put()) != S_OK)
                _exit(13);
            // Two threads racing on the first load of another class's holder load it
            // once: both see the same type information.
            ITypeInfo* seen[2] = {};
            auto load = [&](int i) {
                Ref<IPoint> p;
                Ref<IClassFactory> f;
                if (SUCCEEDED(DllGetClassObject(CLSID_Point, IID_IClassFactory, f.putVoid())) &&
                    SUCCEEDED(f->CreateInstance(nullptr, IID_IPoint, p.putVoid()))) {
                    Ref<ITypeInfo> t;
                    if (SUCCEEDED(p->GetTypeInfo(0, 0x409, t.put())))
                        seen[i] = t.get();
                }
            };
            std::thread a(load, 0), b(load, 1);
            a.join();
            b.join();
            step = seen[0] && seen[0] == seen[1] ? 0 : 14;
        }
        _exit(step ? step : DllCanUnloadNow() == S_OK ? 0 : 15);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the step that failed";
    EXPECT_EQ(std::system(("rm -rf '" + std::string(dir) + "'").c_str()), 0);
}

} // namespace
} // namespace orvik::testing
