// tests/server/dispatch_table_test.cpp: every operation called both ways
//
// Each of the 200 operations of the twelve interfaces is called late-bound (by
// name, with variant arguments, through IDispatch::Invoke) on one fresh object and
// early-bound (through the C++ declaration's own member, with native arguments) on
// another. Both calls must give the same result code, the same values back and
// leave the two objects in the same state, so that the library's slots, parameter
// lists and conversions cannot drift from the interfaces the header declares. An
// object's state is read through every property get of its interface that takes
// no argument; values compare bit for bit.

#include "tests/support/class_cases.h"
#include "tests/support/module_fixture.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/variant_args.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

namespace orvik::testing {
namespace {

// What one call gave: its code and the values it handed back, as text.
struct Outcome {
    HRESULT hr = S_OK;
    std::vector<std::string> values;
};

struct Row;
const std::vector<Row>* g_rows = nullptr; // for reading an object's state
std::string stateOf(IUnknown* object, const IID& iid, int depth = 0);

// Built by appending: GCC 12 reports a false -Wrestrict on "{" + std::string&&.
std::string braced(const std::string& inner) {
    std::string out(1, '{');
    out += inner;
    out += '}';
    return out;
}

std::string doubleText(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    char text[32];
    std::snprintf(text, sizeof text, "%016" PRIx64, b);
    return text;
}

std::string arrayText(SAFEARRAY* a) {
    if (!a)
        return "no array";
    std::string out = "[";
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(a, 1, &lower);
    SafeArrayGetUBound(a, 1, &upper);
    UINT dims = SafeArrayGetDim(a);
    out += std::to_string(dims) + "d:";
    if (dims == 1)
        for (LONG i = lower; i <= upper; ++i) {
            double d = 0;
            SafeArrayGetElement(a, &i, &d);
            out += doubleText(d) + " ";
        }
    return out + "]";
}

// One parameter of an early-bound call: made from the row's next argument ([in])
// or a cell the operation fills ([out]), and reported after the call.
template <class P, class = void> struct Holder;

template <class T> struct Number {
    T value{};
    Number(const std::vector<VARIANT>& in, size_t& next, VARTYPE vt) {
        VARIANT converted;
        VariantInit(&converted);
        VariantChangeType(&converted, &in.at(next++), 0, vt);
        std::memcpy(&value, &converted.llVal, sizeof value);
    }
    T get() { return value; }
    void report(Outcome&) {}
};
template <> struct Holder<double> : Number<double> {
    Holder(const std::vector<VARIANT>& in, size_t& next) : Number(in, next, VT_R8) {}
};
template <> struct Holder<LONG> : Number<LONG> {
    Holder(const std::vector<VARIANT>& in, size_t& next) : Number(in, next, VT_I4) {}
};
template <> struct Holder<SHORT> : Number<SHORT> {
    Holder(const std::vector<VARIANT>& in, size_t& next) : Number(in, next, VT_I2) {}
};

template <class T> struct Cell {
    T value{};
    Cell(const std::vector<VARIANT>&, size_t&) {}
    T* get() { return &value; }
    void report(Outcome& out) {
        if constexpr (std::is_same_v<T, double>)
            out.values.push_back(doubleText(value));
        else
            out.values.push_back(std::to_string(value));
    }
};
template <> struct Holder<double*> : Cell<double> { using Cell::Cell; };
template <> struct Holder<LONG*> : Cell<LONG> { using Cell::Cell; };
template <> struct Holder<SHORT*> : Cell<SHORT> { using Cell::Cell; };

template <class I> struct Holder<I*, std::enable_if_t<std::is_base_of_v<IDispatch, I>>> {
    Ref<I> value;
    Holder(const std::vector<VARIANT>& in, size_t& next) {
        const VARIANT& v = in.at(next++);
        if (v.vt == VT_DISPATCH && v.pdispVal)
            v.pdispVal->QueryInterface(iidOf<I>(), value.putVoid());
    }
    I* get() { return value.get(); }
    void report(Outcome&) {}
};
template <class I> struct Holder<I**, std::enable_if_t<std::is_base_of_v<IDispatch, I>>> {
    Ref<I> value;
    Holder(const std::vector<VARIANT>&, size_t&) {}
    I** get() { return value.put(); }
    void report(Outcome& out) {
        out.values.push_back(value ? braced(stateOf(value.get(), iidOf<I>(), 1)) : "null");
    }
};
template <> struct Holder<SAFEARRAY**> {
    SAFEARRAY* value = nullptr;
    bool isIn = false;
    Holder(const std::vector<VARIANT>& in, size_t& next) {
        isIn = next < in.size();
        if (isIn)
            value = in.at(next++).parray;
    }
    SAFEARRAY** get() { return &value; }
    void report(Outcome& out) {
        if (isIn)
            return;
        out.values.push_back(arrayText(value));
        SafeArrayDestroy(value);
    }
};

// An early-bound call of one member, its arguments made from variants.
struct EarlyCall {
    const IID* iid;
    std::function<Outcome(IUnknown*, const std::vector<VARIANT>&)> call;
};

template <class I, class... P> EarlyCall early(HRESULT (STDMETHODCALLTYPE I::*member)(P...)) {
    return {&iidOf<I>(), [member](IUnknown* self, const std::vector<VARIANT>& in) {
                Ref<I> object;
                Outcome out;
                if (FAILED(out.hr = self->QueryInterface(iidOf<I>(), object.putVoid())))
                    return out;
                [[maybe_unused]] size_t next = 0;
                std::tuple<Holder<P>...> holders{Holder<P>(in, next)...};
                out.hr = std::apply([&](auto&... h) { return (object.get()->*member)(h.get()...); },
                                    holders);
                std::apply([&](auto&... h) { (h.report(out), ...); }, holders);
                return out;
            }};
}

struct Row {
    const char* name; // Interface.Member
    INVOKEKIND kind;
    EarlyCall early;
    std::vector<VARIANT> args; // [in] arguments, first to last
};

// Objects handed as arguments, alive for the whole test.
struct Arguments {
    Ref<IPoint> point = makePoint(1, -2, 3, 0.25);
    Ref<IVector> vector = makeVector(0.5, 0.25, -1, 0.125);
    Ref<IMatrix> matrix = create<IMatrix>(CLSID_Matrix);
    Ref<IAxis> axis = create<IAxis>(CLSID_Axis);
    Ref<IPlane> plane = create<IPlane>(CLSID_Plane);
    Arguments() {
        matrix->SetRotate(0.3, -0.7, 1.1);
        axis->Set(point.get(), vector.get());
        plane->Set(0, 0, 1, -2, 0.001);
    }
};
Arguments* g_args = nullptr;
enum ArgumentObject { kPoint, kVector, kMatrix, kAxis, kPlane };

VARIANT array(ULONG count) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_R8;
    v.parray = SafeArrayCreateVector(VT_R8, 0, count);
    for (LONG i = 0; i < LONG(count); ++i) {
        double d = 0.5 * (i + 1);
        SafeArrayPutElement(v.parray, &i, &d);
    }
    return v;
}
VARIANT objectArgument(ArgumentObject which) {
    IDispatch* d = nullptr;
    switch (which) {
    case kPoint:
        d = g_args->point.get();
        break;
    case kVector:
        d = g_args->vector.get();
        break;
    case kMatrix:
        d = g_args->matrix.get();
        break;
    case kAxis:
        d = g_args->axis.get();
        break;
    case kPlane:
        d = g_args->plane.get();
        break;
    }
    return object(d); // borrowed: the rows' variants are never cleared as owners
}

std::vector<Row> allRows() {
    return {
        {"IPoint.X", INVOKE_PROPERTYGET, early(&IPoint::get_X), {}},
        {"IPoint.X", INVOKE_PROPERTYPUT, early(&IPoint::put_X), {real(1.25)}},
        {"IPoint.Y", INVOKE_PROPERTYGET, early(&IPoint::get_Y), {}},
        {"IPoint.Y", INVOKE_PROPERTYPUT, early(&IPoint::put_Y), {real(1.25)}},
        {"IPoint.Z", INVOKE_PROPERTYGET, early(&IPoint::get_Z), {}},
        {"IPoint.Z", INVOKE_PROPERTYPUT, early(&IPoint::put_Z), {real(1.25)}},
        {"IPoint.Error", INVOKE_PROPERTYGET, early(&IPoint::get_Error), {}},
        {"IPoint.Error", INVOKE_PROPERTYPUT, early(&IPoint::put_Error), {real(1.25)}},
        {"IPoint.CopyFrom", INVOKE_FUNC, early(&IPoint::CopyFrom), {objectArgument(kPoint)}},
        {"IPoint.Set",
         INVOKE_FUNC,
         early(&IPoint::Set),
         {real(1.25), real(2.0), real(2.75), real(3.5)}},
        {"IPoint.Add", INVOKE_FUNC, early(&IPoint::Add), {objectArgument(kVector)}},
        {"IPoint.SetAdd", INVOKE_FUNC, early(&IPoint::SetAdd), {objectArgument(kVector)}},
        {"IPoint.Sub", INVOKE_FUNC, early(&IPoint::Sub), {objectArgument(kVector)}},
        {"IPoint.SetSub", INVOKE_FUNC, early(&IPoint::SetSub), {objectArgument(kVector)}},
        {"IPoint.Transform", INVOKE_FUNC, early(&IPoint::Transform), {objectArgument(kMatrix)}},
        {"IPoint.AsArray", INVOKE_PROPERTYGET, early(&IPoint::get_AsArray), {}},
        {"IPoint.AsArray", INVOKE_PROPERTYPUT, early(&IPoint::put_AsArray), {array(3)}},
        {"IPoint.Clone", INVOKE_FUNC, early(&IPoint::Clone), {}},
        {"IPoint.Get", INVOKE_FUNC, early(&IPoint::Get), {}},
        {"IPoint.ToVector", INVOKE_FUNC, early(&IPoint::ToVector), {}},
        {"IPoint.Diff", INVOKE_FUNC, early(&IPoint::Diff), {objectArgument(kPoint)}},
        {"IPoint.Apply", INVOKE_FUNC, early(&IPoint::Apply), {objectArgument(kMatrix)}},
        {"IVector.X", INVOKE_PROPERTYGET, early(&IVector::get_X), {}},
        {"IVector.X", INVOKE_PROPERTYPUT, early(&IVector::put_X), {real(1.25)}},
        {"IVector.Y", INVOKE_PROPERTYGET, early(&IVector::get_Y), {}},
        {"IVector.Y", INVOKE_PROPERTYPUT, early(&IVector::put_Y), {real(1.25)}},
        {"IVector.Z", INVOKE_PROPERTYGET, early(&IVector::get_Z), {}},
        {"IVector.Z", INVOKE_PROPERTYPUT, early(&IVector::put_Z), {real(1.25)}},
        {"IVector.Error", INVOKE_PROPERTYGET, early(&IVector::get_Error), {}},
        {"IVector.Error", INVOKE_PROPERTYPUT, early(&IVector::put_Error), {real(1.25)}},
        {"IVector.CopyFrom", INVOKE_FUNC, early(&IVector::CopyFrom), {objectArgument(kVector)}},
        {"IVector.Set",
         INVOKE_FUNC,
         early(&IVector::Set),
         {real(1.25), real(2.0), real(2.75), real(3.5)}},
        {"IVector.Add", INVOKE_FUNC, early(&IVector::Add), {objectArgument(kVector)}},
        {"IVector.SetAdd", INVOKE_FUNC, early(&IVector::SetAdd), {objectArgument(kVector)}},
        {"IVector.Sub", INVOKE_FUNC, early(&IVector::Sub), {objectArgument(kVector)}},
        {"IVector.SetSub", INVOKE_FUNC, early(&IVector::SetSub), {objectArgument(kVector)}},
        {"IVector.AsArray", INVOKE_PROPERTYGET, early(&IVector::get_AsArray), {}},
        {"IVector.AsArray", INVOKE_PROPERTYPUT, early(&IVector::put_AsArray), {array(3)}},
        {"IVector.Clone", INVOKE_FUNC, early(&IVector::Clone), {}},
        {"IVector.Get", INVOKE_FUNC, early(&IVector::Get), {}},
        {"IVector.ToPoint", INVOKE_FUNC, early(&IVector::ToPoint), {}},
        {"IVector.Mul", INVOKE_FUNC, early(&IVector::Mul), {real(1.25)}},
        {"IVector.Div", INVOKE_FUNC, early(&IVector::Div), {real(1.25)}},
        {"IVector.SetMul", INVOKE_FUNC, early(&IVector::SetMul), {real(1.25)}},
        {"IVector.SetDiv", INVOKE_FUNC, early(&IVector::SetDiv), {real(1.25)}},
        {"IVector.Negate", INVOKE_FUNC, early(&IVector::Negate), {}},
        {"IVector.SetNegate", INVOKE_FUNC, early(&IVector::SetNegate), {}},
        {"IVector.DotProduct", INVOKE_FUNC, early(&IVector::DotProduct), {objectArgument(kVector)}},
        {"IVector.CrossProduct",
         INVOKE_FUNC,
         early(&IVector::CrossProduct),
         {objectArgument(kVector)}},
        {"IVector.Length", INVOKE_PROPERTYGET, early(&IVector::get_Length), {}},
        {"IVector.Angle", INVOKE_FUNC, early(&IVector::Angle), {objectArgument(kVector)}},
        {"IVector.Cosine", INVOKE_FUNC, early(&IVector::Cosine), {objectArgument(kVector)}},
        {"IVector.Distance", INVOKE_FUNC, early(&IVector::Distance), {objectArgument(kVector)}},
        {"IVector.SetNormalize", INVOKE_FUNC, early(&IVector::SetNormalize), {}},
        {"IVector.Axes", INVOKE_FUNC, early(&IVector::Axes), {}},
        {"IVector.Equals", INVOKE_FUNC, early(&IVector::Equals), {objectArgument(kVector)}},
        {"IVector.Apply", INVOKE_FUNC, early(&IVector::Apply), {objectArgument(kMatrix)}},
        {"IMatrix.AsArray2D", INVOKE_PROPERTYGET, early(&IMatrix::get_AsArray2D), {}},
        {"IMatrix.AsArray2D", INVOKE_PROPERTYPUT, early(&IMatrix::put_AsArray2D), {array(12)}},
        {"IMatrix.AsArray1D", INVOKE_PROPERTYGET, early(&IMatrix::get_AsArray1D), {}},
        {"IMatrix.AsArray1D", INVOKE_PROPERTYPUT, early(&IMatrix::put_AsArray1D), {array(12)}},
        {"IMatrix.SetPv",
         INVOKE_FUNC,
         early(&IMatrix::SetPv),
         {objectArgument(kPoint), objectArgument(kVector), objectArgument(kVector),
          objectArgument(kVector), real(1.25)}},
        {"IMatrix.SetTranslation",
         INVOKE_FUNC,
         early(&IMatrix::SetTranslation),
         {objectArgument(kVector), real(1.25)}},
        {"IMatrix.SetRotation",
         INVOKE_FUNC,
         early(&IMatrix::SetRotation),
         {real(1.25), objectArgument(kVector), objectArgument(kPoint), real(2.0)}},
        {"IMatrix.Element",
         INVOKE_PROPERTYGET,
         early(&IMatrix::get_Element),
         {integer(1), integer(1)}},
        {"IMatrix.Element",
         INVOKE_PROPERTYPUT,
         early(&IMatrix::put_Element),
         {integer(1), integer(1), real(1.25)}},
        {"IMatrix.SetMul", INVOKE_FUNC, early(&IMatrix::SetMul), {objectArgument(kMatrix)}},
        {"IMatrix.SetAdd", INVOKE_FUNC, early(&IMatrix::SetAdd), {objectArgument(kMatrix)}},
        {"IMatrix.SetSub", INVOKE_FUNC, early(&IMatrix::SetSub), {objectArgument(kMatrix)}},
        {"IMatrix.Mul", INVOKE_FUNC, early(&IMatrix::Mul), {objectArgument(kMatrix)}},
        {"IMatrix.Add", INVOKE_FUNC, early(&IMatrix::Add), {objectArgument(kMatrix)}},
        {"IMatrix.Sub", INVOKE_FUNC, early(&IMatrix::Sub), {objectArgument(kMatrix)}},
        {"IMatrix.SetNegate", INVOKE_FUNC, early(&IMatrix::SetNegate), {}},
        {"IMatrix.Negate", INVOKE_FUNC, early(&IMatrix::Negate), {}},
        {"IMatrix.Clone", INVOKE_FUNC, early(&IMatrix::Clone), {}},
        {"IMatrix.Equals", INVOKE_FUNC, early(&IMatrix::Equals), {objectArgument(kMatrix)}},
        {"IMatrix.Transpose", INVOKE_FUNC, early(&IMatrix::Transpose), {}},
        {"IMatrix.Inverse", INVOKE_FUNC, early(&IMatrix::Inverse), {}},
        {"IMatrix.SetNormalize", INVOKE_FUNC, early(&IMatrix::SetNormalize), {}},
        {"IMatrix.SetMove",
         INVOKE_FUNC,
         early(&IMatrix::SetMove),
         {real(1.25), real(2.0), real(2.75)}},
        {"IMatrix.SetMoveByVector",
         INVOKE_FUNC,
         early(&IMatrix::SetMoveByVector),
         {objectArgument(kVector)}},
        {"IMatrix.SetScale",
         INVOKE_FUNC,
         early(&IMatrix::SetScale),
         {real(1.25), real(2.0), real(2.75)}},
        {"IMatrix.SetRotate",
         INVOKE_FUNC,
         early(&IMatrix::SetRotate),
         {real(1.25), real(2.0), real(2.75)}},
        {"IMatrix.Error", INVOKE_PROPERTYGET, early(&IMatrix::get_Error), {}},
        {"IMatrix.Error", INVOKE_PROPERTYPUT, early(&IMatrix::put_Error), {real(1.25)}},
        {"IMatrix.SetAxialRot",
         INVOKE_FUNC,
         early(&IMatrix::SetAxialRot),
         {objectArgument(kVector), real(1.25)}},
        {"IMatrix.XVect", INVOKE_PROPERTYGET, early(&IMatrix::get_XVect), {}},
        {"IMatrix.XVect",
         INVOKE_PROPERTYPUT,
         early(&IMatrix::put_XVect),
         {objectArgument(kVector)}},
        {"IMatrix.YVect", INVOKE_PROPERTYGET, early(&IMatrix::get_YVect), {}},
        {"IMatrix.YVect",
         INVOKE_PROPERTYPUT,
         early(&IMatrix::put_YVect),
         {objectArgument(kVector)}},
        {"IMatrix.ZVect", INVOKE_PROPERTYGET, early(&IMatrix::get_ZVect), {}},
        {"IMatrix.ZVect",
         INVOKE_PROPERTYPUT,
         early(&IMatrix::put_ZVect),
         {objectArgument(kVector)}},
        {"IMatrix.Origin", INVOKE_PROPERTYGET, early(&IMatrix::get_Origin), {}},
        {"IMatrix.Origin",
         INVOKE_PROPERTYPUT,
         early(&IMatrix::put_Origin),
         {objectArgument(kPoint)}},
        {"IMatrix.Determinant", INVOKE_PROPERTYGET, early(&IMatrix::get_Determinant), {}},
        {"IAxis.Origin", INVOKE_PROPERTYGET, early(&IAxis::get_Origin), {}},
        {"IAxis.Origin", INVOKE_PROPERTYPUT, early(&IAxis::put_Origin), {objectArgument(kPoint)}},
        {"IAxis.Vector", INVOKE_PROPERTYGET, early(&IAxis::get_Vector), {}},
        {"IAxis.Vector", INVOKE_PROPERTYPUT, early(&IAxis::put_Vector), {objectArgument(kVector)}},
        {"IAxis.Clone", INVOKE_FUNC, early(&IAxis::Clone), {}},
        {"IAxis.Set",
         INVOKE_FUNC,
         early(&IAxis::Set),
         {objectArgument(kPoint), objectArgument(kVector)}},
        {"IAxis.SetTwoPoints",
         INVOKE_FUNC,
         early(&IAxis::SetTwoPoints),
         {objectArgument(kPoint), objectArgument(kPoint)}},
        {"IAxis.SetMul", INVOKE_FUNC, early(&IAxis::SetMul), {real(1.25)}},
        {"IAxis.SetDiv", INVOKE_FUNC, early(&IAxis::SetDiv), {real(1.25)}},
        {"IAxis.Mul", INVOKE_FUNC, early(&IAxis::Mul), {real(1.25)}},
        {"IAxis.Div", INVOKE_FUNC, early(&IAxis::Div), {real(1.25)}},
        {"IBoundingBox.XMin", INVOKE_PROPERTYGET, early(&IBoundingBox::get_XMin), {}},
        {"IBoundingBox.XMin", INVOKE_PROPERTYPUT, early(&IBoundingBox::put_XMin), {real(1.25)}},
        {"IBoundingBox.XMax", INVOKE_PROPERTYGET, early(&IBoundingBox::get_XMax), {}},
        {"IBoundingBox.XMax", INVOKE_PROPERTYPUT, early(&IBoundingBox::put_XMax), {real(1.25)}},
        {"IBoundingBox.YMin", INVOKE_PROPERTYGET, early(&IBoundingBox::get_YMin), {}},
        {"IBoundingBox.YMin", INVOKE_PROPERTYPUT, early(&IBoundingBox::put_YMin), {real(1.25)}},
        {"IBoundingBox.YMax", INVOKE_PROPERTYGET, early(&IBoundingBox::get_YMax), {}},
        {"IBoundingBox.YMax", INVOKE_PROPERTYPUT, early(&IBoundingBox::put_YMax), {real(1.25)}},
        {"IBoundingBox.ZMin", INVOKE_PROPERTYGET, early(&IBoundingBox::get_ZMin), {}},
        {"IBoundingBox.ZMin", INVOKE_PROPERTYPUT, early(&IBoundingBox::put_ZMin), {real(1.25)}},
        {"IBoundingBox.ZMax", INVOKE_PROPERTYGET, early(&IBoundingBox::get_ZMax), {}},
        {"IBoundingBox.ZMax", INVOKE_PROPERTYPUT, early(&IBoundingBox::put_ZMax), {real(1.25)}},
        {"IAreaProperties.Area", INVOKE_PROPERTYGET, early(&IAreaProperties::get_Area), {}},
        {"IAreaProperties.Area",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_Area),
         {real(1.25)}},
        {"IAreaProperties.Perimeter",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_Perimeter),
         {}},
        {"IAreaProperties.Perimeter",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_Perimeter),
         {real(1.25)}},
        {"IAreaProperties.XMoment", INVOKE_PROPERTYGET, early(&IAreaProperties::get_XMoment), {}},
        {"IAreaProperties.XMoment",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_XMoment),
         {real(1.25)}},
        {"IAreaProperties.YMoment", INVOKE_PROPERTYGET, early(&IAreaProperties::get_YMoment), {}},
        {"IAreaProperties.YMoment",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_YMoment),
         {real(1.25)}},
        {"IAreaProperties.XBarycenterMoment",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_XBarycenterMoment),
         {}},
        {"IAreaProperties.XBarycenterMoment",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_XBarycenterMoment),
         {real(1.25)}},
        {"IAreaProperties.YBarycenterMoment",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_YBarycenterMoment),
         {}},
        {"IAreaProperties.YBarycenterMoment",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_YBarycenterMoment),
         {real(1.25)}},
        {"IAreaProperties.Barycenter",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_Barycenter),
         {}},
        {"IAreaProperties.Barycenter",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_Barycenter),
         {objectArgument(kPoint)}},
        {"IAreaProperties.XXInertiaMoment",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_XXInertiaMoment),
         {}},
        {"IAreaProperties.XXInertiaMoment",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_XXInertiaMoment),
         {real(1.25)}},
        {"IAreaProperties.YYInertiaMoment",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_YYInertiaMoment),
         {}},
        {"IAreaProperties.YYInertiaMoment",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_YYInertiaMoment),
         {real(1.25)}},
        {"IAreaProperties.XBarycenterRotRadius",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_XBarycenterRotRadius),
         {}},
        {"IAreaProperties.XBarycenterRotRadius",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_XBarycenterRotRadius),
         {real(1.25)}},
        {"IAreaProperties.YBarycenterRotRadius",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_YBarycenterRotRadius),
         {}},
        {"IAreaProperties.YBarycenterRotRadius",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_YBarycenterRotRadius),
         {real(1.25)}},
        {"IAreaProperties.PolarRadius",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_PolarRadius),
         {}},
        {"IAreaProperties.PolarRadius",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_PolarRadius),
         {real(1.25)}},
        {"IAreaProperties.PolarMoment",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_PolarMoment),
         {}},
        {"IAreaProperties.PolarMoment",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_PolarMoment),
         {real(1.25)}},
        {"IAreaProperties.InertiaProduct",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_InertiaProduct),
         {}},
        {"IAreaProperties.InertiaProduct",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_InertiaProduct),
         {real(1.25)}},
        {"IAreaProperties.BarycenterInertiaProduct",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_BarycenterInertiaProduct),
         {}},
        {"IAreaProperties.BarycenterInertiaProduct",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_BarycenterInertiaProduct),
         {real(1.25)}},
        {"IAreaProperties.Angle", INVOKE_PROPERTYGET, early(&IAreaProperties::get_Angle), {}},
        {"IAreaProperties.Angle",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_Angle),
         {real(1.25)}},
        {"IAreaProperties.BarycenterMaxMoment",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_BarycenterMaxMoment),
         {}},
        {"IAreaProperties.BarycenterMaxMoment",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_BarycenterMaxMoment),
         {real(1.25)}},
        {"IAreaProperties.BarycenterMinMoment",
         INVOKE_PROPERTYGET,
         early(&IAreaProperties::get_BarycenterMinMoment),
         {}},
        {"IAreaProperties.BarycenterMinMoment",
         INVOKE_PROPERTYPUT,
         early(&IAreaProperties::put_BarycenterMinMoment),
         {real(1.25)}},
        {"IMassProperties.Area", INVOKE_PROPERTYGET, early(&IMassProperties::get_Area), {}},
        {"IMassProperties.Area",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_Area),
         {real(1.25)}},
        {"IMassProperties.Volume", INVOKE_PROPERTYGET, early(&IMassProperties::get_Volume), {}},
        {"IMassProperties.Volume",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_Volume),
         {real(1.25)}},
        {"IMassProperties.Weight", INVOKE_PROPERTYGET, early(&IMassProperties::get_Weight), {}},
        {"IMassProperties.Weight",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_Weight),
         {real(1.25)}},
        {"IMassProperties.Barycenter",
         INVOKE_PROPERTYGET,
         early(&IMassProperties::get_Barycenter),
         {}},
        {"IMassProperties.Barycenter",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_Barycenter),
         {objectArgument(kPoint)}},
        {"IMassProperties.XXInertiaMoment",
         INVOKE_PROPERTYGET,
         early(&IMassProperties::get_XXInertiaMoment),
         {}},
        {"IMassProperties.XXInertiaMoment",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_XXInertiaMoment),
         {real(1.25)}},
        {"IMassProperties.YYInertiaMoment",
         INVOKE_PROPERTYGET,
         early(&IMassProperties::get_YYInertiaMoment),
         {}},
        {"IMassProperties.YYInertiaMoment",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_YYInertiaMoment),
         {real(1.25)}},
        {"IMassProperties.ZZInertiaMoment",
         INVOKE_PROPERTYGET,
         early(&IMassProperties::get_ZZInertiaMoment),
         {}},
        {"IMassProperties.ZZInertiaMoment",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_ZZInertiaMoment),
         {real(1.25)}},
        {"IMassProperties.XYInertiaMoment",
         INVOKE_PROPERTYGET,
         early(&IMassProperties::get_XYInertiaMoment),
         {}},
        {"IMassProperties.XYInertiaMoment",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_XYInertiaMoment),
         {real(1.25)}},
        {"IMassProperties.XZInertiaMoment",
         INVOKE_PROPERTYGET,
         early(&IMassProperties::get_XZInertiaMoment),
         {}},
        {"IMassProperties.XZInertiaMoment",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_XZInertiaMoment),
         {real(1.25)}},
        {"IMassProperties.YZInertiaMoment",
         INVOKE_PROPERTYGET,
         early(&IMassProperties::get_YZInertiaMoment),
         {}},
        {"IMassProperties.YZInertiaMoment",
         INVOKE_PROPERTYPUT,
         early(&IMassProperties::put_YZInertiaMoment),
         {real(1.25)}},
        {"ILength.LengthSize", INVOKE_PROPERTYGET, early(&ILength::get_LengthSize), {}},
        {"ILength.LengthSize", INVOKE_PROPERTYPUT, early(&ILength::put_LengthSize), {real(1.25)}},
        {"IAngle.AngleSize", INVOKE_PROPERTYGET, early(&IAngle::get_AngleSize), {}},
        {"IAngle.AngleSize", INVOKE_PROPERTYPUT, early(&IAngle::put_AngleSize), {real(1.25)}},
        {"IPlane.Error", INVOKE_PROPERTYGET, early(&IPlane::get_Error), {}},
        {"IPlane.Error", INVOKE_PROPERTYPUT, early(&IPlane::put_Error), {real(1.25)}},
        {"IPlane.CopyFrom", INVOKE_FUNC, early(&IPlane::CopyFrom), {objectArgument(kPlane)}},
        {"IPlane.Set",
         INVOKE_FUNC,
         early(&IPlane::Set),
         {real(1.25), real(2.0), real(2.75), real(3.5), real(4.25)}},
        {"IPlane.Transform", INVOKE_FUNC, early(&IPlane::Transform), {objectArgument(kMatrix)}},
        {"IPlane.AsArray", INVOKE_PROPERTYGET, early(&IPlane::get_AsArray), {}},
        {"IPlane.AsArray", INVOKE_PROPERTYPUT, early(&IPlane::put_AsArray), {array(4)}},
        {"IPlane.Clone", INVOKE_FUNC, early(&IPlane::Clone), {}},
        {"IPlane.Get", INVOKE_FUNC, early(&IPlane::Get), {}},
        {"IPlane.Apply", INVOKE_FUNC, early(&IPlane::Apply), {objectArgument(kMatrix)}},
        {"IOption.Value", INVOKE_PROPERTYGET, early(&IOption::get_Value), {}},
        {"IOption.Value", INVOKE_PROPERTYPUT, early(&IOption::put_Value), {integer(1)}},
        {"IRgbData.Red", INVOKE_PROPERTYGET, early(&IRgbData::get_Red), {}},
        {"IRgbData.Red", INVOKE_PROPERTYPUT, early(&IRgbData::put_Red), {shortValue(3)}},
        {"IRgbData.Green", INVOKE_PROPERTYGET, early(&IRgbData::get_Green), {}},
        {"IRgbData.Green", INVOKE_PROPERTYPUT, early(&IRgbData::put_Green), {shortValue(3)}},
        {"IRgbData.Blue", INVOKE_PROPERTYGET, early(&IRgbData::get_Blue), {}},
        {"IRgbData.Blue", INVOKE_PROPERTYPUT, early(&IRgbData::put_Blue), {shortValue(3)}},
        {"IRgbData.Alpha", INVOKE_PROPERTYGET, early(&IRgbData::get_Alpha), {}},
        {"IRgbData.Alpha", INVOKE_PROPERTYPUT, early(&IRgbData::put_Alpha), {shortValue(3)}},
        {"IRgbData.GetRgbData", INVOKE_FUNC, early(&IRgbData::GetRgbData), {}},
        {"IRgbData.SetRgbData",
         INVOKE_FUNC,
         early(&IRgbData::SetRgbData),
         {shortValue(3), shortValue(5), shortValue(7), shortValue(9)}},
    };
}

std::string stateOf(IUnknown* object, const IID& iid, int depth) {
    std::string out;
    for (const Row& row : *g_rows) {
        if (!IsEqualGUID(*row.early.iid, iid) || row.kind != INVOKE_PROPERTYGET ||
            !row.args.empty())
            continue;
        if (depth > 1 && std::strstr(row.name, "Barycenter"))
            continue;
        Outcome o = row.early.call(object, row.args);
        out += std::string(row.name) + "=" + std::to_string(o.hr);
        for (const std::string& v : o.values)
            out += ":" + v;
        out += " ";
    }
    return out;
}

// The same call, late-bound: [in] arguments as given, [out] ones as by-reference
// cells, the put value named; what comes back reported as the early call reports.
Outcome late(IUnknown* self, const Row& row) {
    Outcome out;
    Ref<IDispatch> dispatch;
    if (FAILED(out.hr = self->QueryInterface(IID_IDispatch, dispatch.putVoid())))
        return out;
    std::string member = std::strchr(row.name, '.') + 1;
    std::u16string wide(member.begin(), member.end());
    LPOLESTR name = wide.data();
    DISPID id = 0;
    if (FAILED(out.hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0x409, &id)))
        return out;
    Ref<ITypeInfo> info;
    dispatch->GetTypeInfo(0, 0x409, info.put());
    UINT index = 0;
    Ref<ITypeInfo2> info2;
    info->QueryInterface(IID_ITypeInfo2, info2.putVoid());
    if (FAILED(out.hr = info2->GetFuncIndexOfMemId(id, row.kind, &index)))
        return out;
    FUNCDESC* fd = nullptr;
    info->GetFuncDesc(index, &fd);
    // Arguments in parameter order, then reversed into rgvarg.
    std::vector<VARIANT> ordered;
    std::vector<uint64_t> cells(size_t(fd->cParams) * 2, 0);
    std::vector<IDispatch*> objects(size_t(fd->cParams), nullptr);
    size_t next = 0;
    bool hasRetval = false;
    for (SHORT p = 0; p < fd->cParams; ++p) {
        const ELEMDESC& e = fd->lprgelemdescParam[p];
        USHORT flags = e.paramdesc.wParamFlags;
        if (flags & PARAMFLAG_FRETVAL) {
            hasRetval = true;
            continue;
        }
        if (!(flags & PARAMFLAG_FOUT)) {
            ordered.push_back(row.args.at(next++));
            continue;
        }
        const TYPEDESC& target = *e.tdesc.lptdesc;
        VARIANT cell;
        VariantInit(&cell);
        if (target.vt == VT_PTR) {
            cell.vt = VT_BYREF | VT_DISPATCH;
            cell.byref = &objects[size_t(p)];
        } else {
            cell.vt = VARTYPE(VT_BYREF | target.vt);
            cell.byref = &cells[size_t(p) * 2];
        }
        ordered.push_back(cell);
    }
    std::vector<VARIANT> rgvarg(ordered.rbegin(), ordered.rend());
    DISPID put = DISPID_PROPERTYPUT;
    bool isPut = row.kind == INVOKE_PROPERTYPUT;
    DISPPARAMS params = {rgvarg.empty() ? nullptr : rgvarg.data(), isPut ? &put : nullptr,
                         UINT(rgvarg.size()), isPut ? 1u : 0u};
    WORD flags = row.kind == INVOKE_PROPERTYGET   ? DISPATCH_PROPERTYGET
                 : row.kind == INVOKE_PROPERTYPUT ? DISPATCH_PROPERTYPUT
                                                  : DISPATCH_METHOD;
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    HRESULT hr = dispatch->Invoke(id, IID_NULL, 0x409, flags, &params, &result, &excep, nullptr);
    out.hr = hr == DISP_E_EXCEPTION ? excep.scode : hr;
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    // The [out] values in order, then the result.
    auto objectText = [&](IDispatch* d, const TYPEDESC& declared) -> std::string {
        if (!d)
            return "null";
        Ref<ITypeInfo> ref;
        TYPEATTR* a = nullptr;
        info->GetRefTypeInfo(declared.lptdesc->hreftype, ref.put());
        ref->GetTypeAttr(&a);
        IID iid = a->guid;
        ref->ReleaseTypeAttr(a);
        return braced(stateOf(d, iid, 1));
    };
    for (SHORT p = 0; p < fd->cParams; ++p) {
        const ELEMDESC& e = fd->lprgelemdescParam[p];
        USHORT pf = e.paramdesc.wParamFlags;
        if (!(pf & PARAMFLAG_FOUT) || (pf & PARAMFLAG_FRETVAL))
            continue;
        const TYPEDESC& target = *e.tdesc.lptdesc;
        if (target.vt == VT_PTR) {
            out.values.push_back(objectText(objects[size_t(p)], target));
            if (objects[size_t(p)])
                objects[size_t(p)]->Release();
        } else if (target.vt == VT_R8) {
            double d;
            std::memcpy(&d, &cells[size_t(p) * 2], 8);
            out.values.push_back(doubleText(d));
        } else if (target.vt == VT_I4) {
            out.values.push_back(std::to_string(int32_t(cells[size_t(p) * 2])));
        } else {
            out.values.push_back(std::to_string(int16_t(cells[size_t(p) * 2])));
        }
    }
    if (hasRetval && SUCCEEDED(hr)) {
        const TYPEDESC& declared = fd->lprgelemdescParam[fd->cParams - 1].tdesc;
        switch (result.vt) {
        case VT_R8:
            out.values.push_back(doubleText(result.dblVal));
            break;
        case VT_I4:
            out.values.push_back(std::to_string(result.lVal));
            break;
        case VT_I2:
        case VT_BOOL:
            out.values.push_back(std::to_string(result.iVal));
            break;
        case VT_DISPATCH:
            out.values.push_back(objectText(result.pdispVal, *declared.lptdesc));
            break;
        default:
            if (result.vt & VT_ARRAY)
                out.values.push_back(arrayText(result.parray));
            else
                out.values.push_back("type " + std::to_string(result.vt));
        }
    } else if (hasRetval) {
        // A failing early-bound call still reports its retval cell: do the same.
        const TYPEDESC& declared = fd->lprgelemdescParam[fd->cParams - 1].tdesc;
        VARTYPE vt = declared.lptdesc->vt;
        out.values.push_back(vt == VT_R8          ? doubleText(0)
                             : vt == VT_PTR       ? "null"
                             : vt == VT_SAFEARRAY ? arrayText(nullptr)
                                                  : "0");
    }
    VariantClear(&result);
    info->ReleaseFuncDesc(fd);
    return out;
}

// Gives each settable number of a fresh object a value of its own, so that reading
// the wrong property, or a swapped argument, shows.
void prime(IUnknown* object, const std::vector<Row>& rows, const IID& iid) {
    int k = 0;
    for (const Row& row : rows) {
        if (!IsEqualGUID(*row.early.iid, iid) || row.kind != INVOKE_PROPERTYPUT ||
            row.args.size() != 1)
            continue;
        ++k;
        VARTYPE vt = row.args[0].vt;
        if (vt == VT_R8)
            (void)row.early.call(object, {real(0.75 + 0.5 * k)});
        else if (vt == VT_I4)
            (void)row.early.call(object, {integer(k % 4)});
        else if (vt == VT_I2)
            (void)row.early.call(object, {shortValue(SHORT(10 * k))});
    }
}

using DispatchTable = RegistryTest;

TEST_F(DispatchTable, EveryOperationGivesTheSameAnswersEarlyAndLateBound) {
    {
        Ref<ITypeLib> lib;
        ASSERT_EQ(LoadTypeLib(u"" ORVIK_TLB_PATH, lib.put()), S_OK);
        ASSERT_EQ(RegisterTypeLib(lib.get(), u"" ORVIK_TLB_PATH, u"/"), S_OK);
        Arguments arguments;
        g_args = &arguments;
        std::vector<Row> rows = allRows();
        g_rows = &rows;
        ASSERT_EQ(rows.size(), 200u);
        std::map<std::string, int> perInterface;
        // A member's first late-bound call prepares how it is made; the second round
        // runs on what was prepared.
        for (int round = 0; round < 2; ++round)
            for (const Row& row : rows) {
                SCOPED_TRACE(round == 0 ? "first round" : "second round");
                SCOPED_TRACE(row.name);
                const ClassCase* cls = nullptr;
                for (const ClassCase& c : classCases())
                    if (IsEqualGUID(*c.iid, *row.early.iid))
                        cls = &c;
                ASSERT_NE(cls, nullptr);
                Ref<IUnknown> lateObject = create<IUnknown>(*cls->clsid);
                Ref<IUnknown> earlyObject = create<IUnknown>(*cls->clsid);
                prime(lateObject.get(), rows, *row.early.iid);
                prime(earlyObject.get(), rows, *row.early.iid);
                Outcome byName = late(lateObject.get(), row);
                Outcome byTable = row.early.call(earlyObject.get(), row.args);
                EXPECT_EQ(byName.hr, byTable.hr);
                EXPECT_EQ(byName.values, byTable.values);
                EXPECT_EQ(stateOf(lateObject.get(), *row.early.iid),
                          stateOf(earlyObject.get(), *row.early.iid))
                    << "the two objects differ after the call";
                ++perInterface[std::string(row.name, std::strchr(row.name, '.'))];
            }
        EXPECT_EQ(perInterface.size(), 12u);
        for (Row& row : rows)
            for (VARIANT& v : row.args)
                if (v.vt & VT_ARRAY)
                    VariantClear(&v);
        g_rows = nullptr;
        g_args = nullptr;
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

} // namespace
} // namespace orvik::testing
