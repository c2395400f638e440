// fuzz/array_fuzzer.cpp: arbitrary arrays handed to the geometry objects
//
// The bytes describe a safe array (element type, dimensions, bounds, contents) that
// is given to a point's and a vector's AsArray and a matrix's AsArray1D. Each call
// ends in a result code; only a one-dimensional array of doubles of the right
// length is taken, and any other leaves the object exactly as it was.

#include "fuzz/byte_reader.h"

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
extern "C" HRESULT DllCanUnloadNow();

namespace {

const VARTYPE kTypes[] = {VT_R8,   VT_R4,    VT_I4,      VT_I8,      VT_CY,
                          VT_DATE, VT_BSTR,  VT_VARIANT, VT_DECIMAL, VT_UI1,
                          VT_BOOL, VT_ERROR, VT_UNKNOWN, VT_DISPATCH};

template <class I> orvik::Ref<I> create(const CLSID& clsid) {
    orvik::Ref<IClassFactory> factory;
    orvik::Ref<I> object;
    if (FAILED(DllGetClassObject(clsid, IID_IClassFactory, factory.putVoid())) ||
        FAILED(factory->CreateInstance(nullptr, orvik::iidOf<I>(), object.putVoid())))
        std::abort();
    return object;
}

using Reader = orvik::fuzz::ByteReader;

bool isDoubles(SAFEARRAY* a, LONG count) {
    VARTYPE vt = VT_EMPTY;
    LONG lower = 0, upper = 0;
    return SafeArrayGetVartype(a, &vt) == S_OK && vt == VT_R8 && SafeArrayGetDim(a) == 1 &&
           SafeArrayGetLBound(a, 1, &lower) == S_OK && SafeArrayGetUBound(a, 1, &upper) == S_OK &&
           int64_t(upper) - lower + 1 == count;
}

template <class I>
void check(I* object, SAFEARRAY* a, LONG count, HRESULT hr, const std::vector<double>& before,
           const std::vector<double>& after) {
    (void)object;
    if (hr != S_OK && FAILED(hr) == false)
        std::abort(); // only S_OK or a failure code
    if (SUCCEEDED(hr) != isDoubles(a, count))
        std::abort(); // taken exactly when it is an array of count doubles
    if (FAILED(hr) && before != after)
        std::abort(); // refused, and yet changed
}

std::vector<double> coords(IPoint* p) {
    std::vector<double> v(4);
    p->Get(&v[0], &v[1], &v[2], &v[3]);
    return v;
}
std::vector<double> coords(IVector* p) {
    std::vector<double> v(4);
    p->Get(&v[0], &v[1], &v[2], &v[3]);
    return v;
}
std::vector<double> entries(IMatrix* m) {
    std::vector<double> v(13);
    for (LONG i = 0; i < 12; ++i)
        m->get_Element(i / 3, i % 3, &v[size_t(i)]);
    m->get_Error(&v[12]);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    VARTYPE vt = kTypes[in.byte() % std::size(kTypes)];
    UINT dims = 1 + in.byte() % 3;
    std::vector<SAFEARRAYBOUND> bounds(dims);
    for (SAFEARRAYBOUND& b : bounds) {
        b.cElements = in.byte() % 16;
        b.lLbound = in.word();
    }
    SAFEARRAY* array = SafeArrayCreate(vt, dims, bounds.data());
    if (!array)
        return 0;
    // Plain elements take the input's bytes; strings, variants and interfaces stay
    // empty, as a client would never hand out foreign pointers.
    if (!(array->fFeatures & (FADF_BSTR | FADF_VARIANT | FADF_UNKNOWN | FADF_DISPATCH))) {
        void* cells = nullptr;
        if (SafeArrayAccessData(array, &cells) == S_OK) {
            size_t total = array->cbElements;
            for (UINT d = 0; d < dims; ++d)
                total *= bounds[d].cElements;
            for (size_t i = 0; i < total; ++i)
                static_cast<uint8_t*>(cells)[i] = in.byte();
            SafeArrayUnaccessData(array);
        }
    }
    {
        orvik::Ref<IPoint> point = create<IPoint>(CLSID_Point);
        orvik::Ref<IVector> vector = create<IVector>(CLSID_Vector);
        orvik::Ref<IMatrix> matrix = create<IMatrix>(CLSID_Matrix);
        point->Set(1, 2, 3, 0.5);
        vector->Set(4, 5, 6, 0.25);
        auto before = coords(point.get());
        HRESULT hr = point->put_AsArray(&array);
        check(point.get(), array, 3, hr, before, coords(point.get()));
        before = coords(vector.get());
        hr = vector->put_AsArray(&array);
        check(vector.get(), array, 3, hr, before, coords(vector.get()));
        before = entries(matrix.get());
        hr = matrix->put_AsArray1D(&array);
        check(matrix.get(), array, 12, hr, before, entries(matrix.get()));
    }
    SafeArrayDestroy(array);
    if (DllCanUnloadNow() != S_OK)
        std::abort(); // an object outlived its references
    return 0;
}
