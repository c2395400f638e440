// geometry/axis.cpp: the Axis operations
//
// Scaled and divided values reach their target axis through the hand-over: a new
// Point and a new Vector receive the two parts through their Set, then the target
// axis's Set reads them back. The detour is deliberate: it applies the Set error
// rules to both parts (0 becomes DefaultError, a negative error the fresh one), as
// the axis's clients have always seen. The two objects are released before the
// operation returns.

#include "geometry/axis.h"
#include "geometry/coord_object.h"
#include "geometry/point.h"
#include "geometry/value_transfer.h"
#include "geometry/vector.h"

namespace orvik {

namespace {

template <class ResultClass, class Interface>
HRESULT newPart(const CoordValue& value, Interface** out) {
    return CreateResultWith<ResultClass>(
        out, [&](Interface* result) { return storeCoord(result, value); });
}

// Gives value to target through a new point and a new vector; the results of their
// Set are not examined, the target's Set is returned.
HRESULT handOver(const AxisValue& value, IAxis* target) {
    Ref<IPoint> origin;
    Ref<IVector> vector;
    HRESULT hr = CreateResult<CPoint>(origin.put());
    if (SUCCEEDED(hr))
        hr = CreateResult<CVector>(vector.put());
    if (FAILED(hr))
        return hr;
    (void)storeCoord(origin.get(), value.origin);
    (void)storeCoord(vector.get(), value.vector);
    return target->Set(origin.get(), vector.get());
}

template <class Compute> HRESULT newAxis(IAxis** out, Compute compute) {
    if (!out)
        return E_POINTER;
    return CreateResultWith<CAxis>(out, [&](IAxis* result) { return handOver(compute(), result); });
}

} // namespace

HRESULT STDMETHODCALLTYPE CAxis::get_Origin(IPoint** pVal) {
    if (!pVal)
        return E_POINTER;
    return newPart<CPoint>(m_value.origin, pVal);
}

// The parts are stored as read, without Set's error checks.
HRESULT STDMETHODCALLTYPE CAxis::put_Origin(IPoint* newVal) {
    return readCoord(newVal, m_value.origin);
}

HRESULT STDMETHODCALLTYPE CAxis::get_Vector(IVector** pVal) {
    if (!pVal)
        return E_POINTER;
    return newPart<CVector>(m_value.vector, pVal);
}

HRESULT STDMETHODCALLTYPE CAxis::put_Vector(IVector* newVal) {
    return readCoord(newVal, m_value.vector);
}

// The copy goes through this axis's own Vector and Origin gets and the new axis's
// Set, in that order.
HRESULT STDMETHODCALLTYPE CAxis::Clone(IAxis** result) {
    if (!result)
        return E_POINTER;
    Ref<IVector> vector;
    Ref<IPoint> origin;
    HRESULT hr = static_cast<IAxis*>(this)->get_Vector(vector.put());
    if (FAILED(hr) && !vector)
        return hr;
    hr = static_cast<IAxis*>(this)->get_Origin(origin.put());
    if (FAILED(hr) && !origin)
        return hr;
    return CreateResultWith<CAxis>(
        result, [&](IAxis* copy) { return copy->Set(origin.get(), vector.get()); });
}

// Both arguments are read before either part changes, so a failing read leaves the
// axis as it was.
HRESULT STDMETHODCALLTYPE CAxis::Set(IPoint* pt, IVector* vt) {
    if (!pt || !vt)
        return E_POINTER;
    AxisValue v;
    HRESULT hr = readCoord(pt, v.origin);
    if (SUCCEEDED(hr))
        hr = readCoord(vt, v.vector);
    if (FAILED(hr))
        return hr;
    m_value = v;
    return S_OK;
}

// The axis sits at Start and points from End towards Start: Start's Diff with End is
// Start - End.
HRESULT STDMETHODCALLTYPE CAxis::SetTwoPoints(IPoint* Start, IPoint* End) {
    if (!Start || !End)
        return E_POINTER;
    AxisValue v;
    HRESULT hr = readCoord(Start, v.origin);
    if (FAILED(hr))
        return hr;
    Ref<IVector> direction;
    hr = Start->Diff(End, direction.put());
    if (FAILED(hr))
        return hr;
    hr = readCoord(direction.get(), v.vector);
    if (FAILED(hr))
        return hr;
    m_value = v;
    return S_OK;
}

AxisValue CAxis::multiplied(double multiplier) const {
    AxisValue v = m_value;
    scale(v.vector, multiplier);
    return v;
}

// Division by exactly 0 resets the whole axis, origin included.
AxisValue CAxis::dividedBy(double divisor) const {
    if (divisor == 0)
        return AxisValue{};
    AxisValue v = m_value;
    divide(v.vector, divisor);
    return v;
}

HRESULT STDMETHODCALLTYPE CAxis::SetMul(DOUBLE multiplier) {
    return handOver(multiplied(multiplier), this);
}

HRESULT STDMETHODCALLTYPE CAxis::SetDiv(DOUBLE divisor) {
    return handOver(dividedBy(divisor), this);
}

HRESULT STDMETHODCALLTYPE CAxis::Mul(DOUBLE multiplier, IAxis** result) {
    return newAxis(result, [&] { return multiplied(multiplier); });
}

HRESULT STDMETHODCALLTYPE CAxis::Div(DOUBLE divisor, IAxis** result) {
    return newAxis(result, [&] { return dividedBy(divisor); });
}

} // namespace orvik
