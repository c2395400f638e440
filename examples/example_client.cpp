// examples/example_client.cpp: a compiled client of the Orvik module
//
// Creates every object it uses by programmatic identifier, as any client of a
// registered module does: the platform finds the class in the registry, loads the
// module file once and asks it for the object. It builds a reference frame from a
// direction, moves a point along it, measures, makes a few calls by name as a
// script would, prints what it found, releases everything and lets the module go.
// The module must be registered first (orvik-regsvr liborvik.so); the registry
// store is the one ORVIK_REGISTRY names.

#include "orvik/orvik_i.h"
#include "orvik/platform/activation.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/registry_helpers.h"
#include "orvik/platform/result_text.h"
#include "orvik/platform/utf.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using orvik::Ref;

namespace {

// A new object of the class progId names, as interface I (aggregated by outer when
// given); a failure ends the example with the platform's account of why.
template <class I> Ref<I> create(const char16_t* progId, IUnknown* outer = nullptr) {
    Ref<I> object;
    char report[2048] = "";
    HRESULT hr;
    if (outer) {
        CLSID clsid{};
        hr = CLSIDFromProgID(progId, &clsid);
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(clsid, outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  object.putVoid());
    } else {
        hr = OrvikCreateInstanceByName(progId, nullptr, orvik::iidOf<I>(), object.putVoid(), report,
                                       sizeof report);
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "orvik-example: cannot create %s (0x%08X): %s\n",
                     orvik::utf8Or(progId).c_str(), unsigned(hr), report);
        std::exit(1);
    }
    return object;
}

// Whether the module the registry names for Point is loaded in this process, and
// if so what its DllCanUnloadNow says.
const char* moduleState() {
    std::string path;
    if (orvik::regQueryString(HKEY_CLASSES_ROOT,
                              "CLSID\\{283075AE-B177-11D3-BE8E-0060B0EB1D67}\\InprocServer32",
                              nullptr, path) != ERROR_SUCCESS)
        return "not registered";
    void* loaded = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!loaded)
        return "not loaded";
    auto canUnloadNow = reinterpret_cast<HRESULT (*)()>(dlsym(loaded, "DllCanUnloadNow"));
    const char* state = canUnloadNow && canUnloadNow() == S_OK ? "S_OK" : "S_FALSE";
    dlclose(loaded);
    return state;
}

template <class I> void print(const char* label, const Ref<I>& object) {
    double x = 0, y = 0, z = 0, e = 0;
    object->Get(&x, &y, &z, &e);
    std::printf("  %-22s (%9.4f, %9.4f, %9.4f)  error %g\n", label, x, y, z, e);
}

void printMatrix(const char* label, const Ref<IMatrix>& matrix) {
    std::printf("  %s\n", label);
    for (int row = 0; row < 3; ++row) {
        std::printf("    ");
        for (int column = 0; column < 4; ++column) {
            double v = 0;
            matrix->get_Element(column, row, &v);
            std::printf("%9.4f ", v);
        }
        std::printf("\n");
    }
}

// A quarter turn about a vertical axis through a point, composed with a move; the
// composition and its inverse applied to points; an axis built from two points.
void transformations(const Ref<IPoint>& start, const Ref<IVector>& direction) {
    std::printf("transformations\n");
    Ref<IMatrix> turn = create<IMatrix>(u"Orvik.Matrix");
    Ref<IVector> up = create<IVector>(u"Orvik.Vector");
    Ref<IPoint> pivot = create<IPoint>(u"Orvik.Point");
    up->Set(0, 0, 1, 0.001);
    pivot->Set(2, 0, 0, 0.001);
    turn->SetRotation(3.14159265358979323846 / 2, up.get(), pivot.get(), 0.001);
    printMatrix("quarter turn about the vertical line through (2, 0, 0)", turn);

    Ref<IMatrix> shift = create<IMatrix>(u"Orvik.Matrix");
    shift->SetTranslation(direction.get(), 0.001);
    Ref<IMatrix> composed, inverse;
    shift->Mul(turn.get(), composed.put()); // turn first, then shift
    composed->Inverse(inverse.put());
    printMatrix("turn, then move by the direction", composed);

    Ref<IPoint> there, back;
    start->Apply(composed.get(), there.put());
    there->Apply(inverse.get(), back.put());
    print("start transformed", there);
    print("and transformed back", back);
    Ref<IVector> roundTrip;
    back->Diff(start.get(), roundTrip.put());
    double drift = 0;
    roundTrip->get_Length(&drift);
    std::printf("  %-22s %.3g\n", "round-trip drift", drift);

    Ref<IAxis> axis = create<IAxis>(u"Orvik.Axis");
    axis->SetTwoPoints(there.get(), start.get());
    Ref<IAxis> longer;
    axis->Mul(2, longer.put());
    Ref<IPoint> axisOrigin;
    Ref<IVector> axisVector;
    longer->get_Origin(axisOrigin.put());
    longer->get_Vector(axisVector.put());
    std::printf("axis from the start to its image, doubled\n");
    print("origin", axisOrigin);
    print("vector", axisVector);
}

// A box and the two property records, filled and read back.
void records() {
    std::printf("records\n");
    Ref<IBoundingBox> box = create<IBoundingBox>(u"Orvik.BoundingBox");
    box->put_XMin(-1);
    box->put_XMax(4);
    box->put_YMin(0);
    box->put_YMax(2);
    box->put_ZMin(-0.5);
    box->put_ZMax(0.5);
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0, z0 = 0, z1 = 0;
    box->get_XMin(&x0);
    box->get_XMax(&x1);
    box->get_YMin(&y0);
    box->get_YMax(&y1);
    box->get_ZMin(&z0);
    box->get_ZMax(&z1);
    std::printf("  %-22s [%g, %g] x [%g, %g] x [%g, %g]\n", "bounding box", x0, x1, y0, y1, z0, z1);

    // A 4 x 2 rectangle with its corner at the origin.
    Ref<IAreaProperties> area = create<IAreaProperties>(u"Orvik.AreaProperties");
    Ref<IPoint> centre = create<IPoint>(u"Orvik.Point");
    centre->Set(2, 1, 0, 0.001);
    area->put_Area(8);
    area->put_Perimeter(12);
    area->put_Barycenter(centre.get());
    area->put_XXInertiaMoment(4 * 8.0 / 12 * 4);
    area->put_Angle(0);
    double a = 0, perimeter = 0, ixx = 0;
    area->get_Area(&a);
    area->get_Perimeter(&perimeter);
    area->get_XXInertiaMoment(&ixx);
    Ref<IPoint> areaCentre;
    area->get_Barycenter(areaCentre.put());
    std::printf("  %-22s area %g, perimeter %g, Ixx %.4g\n", "rectangle 4 x 2", a, perimeter, ixx);
    print("barycenter", areaCentre);

    // A steel cube of side 0.1 m.
    Ref<IMassProperties> mass = create<IMassProperties>(u"Orvik.MassProperties");
    Ref<IPoint> middle = create<IPoint>(u"Orvik.Point");
    middle->Set(0.05, 0.05, 0.05, 0.001);
    mass->put_Volume(0.001);
    mass->put_Weight(7.85);
    mass->put_Area(0.06);
    mass->put_Barycenter(middle.get());
    double volume = 0, weight = 0;
    mass->get_Volume(&volume);
    mass->get_Weight(&weight);
    Ref<IPoint> massCentre;
    mass->get_Barycenter(massCentre.put());
    std::printf("  %-22s volume %g m3, weight %g kg\n", "steel cube", volume, weight);
    print("centre of mass", massCentre);
}

// The calls a script makes: members found by name, arguments as variants (the
// last first), the error estimate left to its default.
void lateBound() {
    std::printf("late-bound\n");
    Ref<IDispatch> point = create<IDispatch>(u"Orvik.Point");
    LPOLESTR names[1] = {const_cast<LPOLESTR>(u"Set")};
    DISPID set = 0, y = 0;
    point->GetIDsOfNames(IID_NULL, names, 1, 0x409, &set);
    names[0] = const_cast<LPOLESTR>(u"Y");
    point->GetIDsOfNames(IID_NULL, names, 1, 0x409, &y);
    VARIANT args[3];
    double values[3] = {30, 20, 10}; // Z, Y, X
    for (int i = 0; i < 3; ++i) {
        VariantInit(&args[i]);
        args[i].vt = VT_R8;
        args[i].dblVal = values[i];
    }
    DISPPARAMS three = {args, nullptr, 3, 0}, none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr =
        point->Invoke(set, IID_NULL, 0x409, DISPATCH_METHOD, &three, nullptr, nullptr, nullptr);
    if (SUCCEEDED(hr))
        hr = point->Invoke(y, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                           nullptr);
    std::printf("  %-22s Set(10, 20, 30) by name, then Y = %g (0x%08X)\n", "Orvik.Point",
                result.dblVal, unsigned(hr));
    Ref<IPoint> early;
    point.query(early);
    print("the same object", early);
}

// An object of the example's own that aggregates an Orvik colour: clients of the
// outer object see one identity and one count, and the colour's interface as if
// it were the outer object's.
class LabelledColour : public IUnknown {
public:
    LabelledColour() { m_inner = create<IUnknown>(u"Orvik.RgbData", this); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualGUID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (!m_inner) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return m_inner->QueryInterface(iid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }
    /// Lets go of the inner object; the example owns the outer one on the stack.
    void close() { m_inner.reset(); }
    const char* label = "signal red";

private:
    ULONG m_refs = 1;
    Ref<IUnknown> m_inner;
};

void aggregation() {
    std::printf("aggregation\n");
    LabelledColour outer;
    Ref<IRgbData> colour;
    outer.QueryInterface(IID_IRgbData, colour.putVoid());
    if (!colour)
        return;
    colour->SetRgbData(204, 6, 5, 255);
    Ref<IUnknown> identity;
    colour.query(identity);
    SHORT r = 0, g = 0, b = 0, alpha = 0;
    colour->GetRgbData(&r, &g, &b, &alpha);
    std::printf("  %-22s rgba(%d, %d, %d, %d), identity is the outer object: %s\n", outer.label, r,
                g, b, alpha, identity.get() == &outer ? "yes" : "no");
    identity.reset();
    colour.reset();
    outer.close();
}

int run() {
    Ref<IPoint> start = create<IPoint>(u"Orvik.Point");
    Ref<IVector> direction = create<IVector>(u"Orvik.Vector");
    if (!start || !direction)
        return 1;
    start->Set(1, 2, 3, 0.0005);
    direction->Set(3, 4, 0, 0.001);
    print("start point", start);
    print("direction", direction);

    // A right-handed frame (direction, Y, Z) built from the direction alone.
    Ref<IVector> unitX, axisY, axisZ;
    direction->Clone(unitX.put());
    unitX->SetNormalize();
    direction->Axes(axisY.put(), axisZ.put());
    std::printf("reference frame\n");
    print("X (normalised)", unitX);
    print("Y", axisY);
    print("Z", axisZ);

    // Move the point 5 along the direction and 2 along the frame's Z axis.
    Ref<IVector> along, up;
    unitX->Mul(5, along.put());
    axisZ->Mul(2, up.put());
    Ref<IPoint> moved, end;
    start->Add(along.get(), moved.put());
    moved->Add(up.get(), end.put());
    std::printf("moves\n");
    print("after 5 along X", moved);
    print("after 2 along Z", end);

    Ref<IVector> travelled;
    end->Diff(start.get(), travelled.put());
    double distance = 0, angle = 0, dotYZ = 0;
    travelled->get_Length(&distance);
    travelled->Angle(unitX.get(), &angle);
    axisY->DotProduct(axisZ.get(), &dotYZ);
    VARIANT_BOOL same = VARIANT_FALSE;
    Ref<IVector> back;
    travelled->Negate(back.put());
    back->SetNegate();
    back->Equals(travelled.get(), &same);
    std::printf("measures\n");
    std::printf("  %-22s %.6f (expected sqrt(29) = 5.385165)\n", "distance travelled", distance);
    std::printf("  %-22s %.6f rad\n", "angle to X", angle);
    std::printf("  %-22s %.3g\n", "Y . Z", dotYZ);
    std::printf("  %-22s %s\n", "negated twice equals", same == VARIANT_TRUE ? "yes" : "no");

    transformations(start, direction);
    records();
    lateBound();
    aggregation();

    std::printf("while objects live, DllCanUnloadNow = %s\n", moduleState());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::string arg = argv[1];
        if (arg == "-h" || arg == "--help") {
            std::printf("usage: orvik-example\n\nCreates Orvik's objects by name, uses them "
                        "early- and late-bound, and\nlets the module go. The module must be "
                        "registered in the store ORVIK_REGISTRY\nnames (orvik-regsvr "
                        "liborvik.so).\n");
            return 0;
        }
        if (arg == "--version") {
            std::printf("orvik-example (Orvik)\nplatform library %s\n", OrvikPlatformVersion());
            return 0;
        }
        std::fprintf(stderr, "orvik-example: unexpected argument '%s'\nusage: orvik-example\n",
                     argv[1]);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = run();
    std::printf("after releasing everything, DllCanUnloadNow = %s\n", moduleState());
    // With no delay asked for, a process with one thread sees the module go at once
    // (CoFreeUnusedLibraries itself waits ten minutes).
    CoFreeUnusedLibrariesEx(0, 0);
    std::printf("after CoFreeUnusedLibrariesEx(0, 0), the module is %s\n", moduleState());
    CoUninitialize();
    return rc;
}
