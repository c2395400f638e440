// records/barycenter.h: the barycenter point of the property records
//
// The records keep the barycenter as a plain coordinate value: a get hands out a
// new Point holding a copy (two gets, two objects), a put copies the numbers out of
// the client's point and keeps no reference to it.
#ifndef ORVIK_RECORDS_BARYCENTER_H
#define ORVIK_RECORDS_BARYCENTER_H

#include "geometry/coord_value.h"

#include "orvik/orvik_i.h"

namespace orvik {

/// A new Point with the barycenter's four numbers in *out. E_POINTER for a null out;
/// E_OUTOFMEMORY and null when the point cannot be made; otherwise the point's Set.
HRESULT barycenterOut(const CoordValue& barycenter, IPoint** out);

/// The point's four numbers into barycenter. E_POINTER for a null point; a failing
/// Get is returned and the barycenter kept.
HRESULT barycenterIn(IPoint* point, CoordValue& barycenter);

} // namespace orvik

/// get_Barycenter and put_Barycenter of a record keeping its barycenter in field.
#define ORVIK_BARYCENTER_PROPERTY(field)                                                           \
    HRESULT STDMETHODCALLTYPE get_Barycenter(IPoint** pVal) override {                             \
        return barycenterOut(field, pVal);                                                         \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_Barycenter(IPoint* newVal) override {                            \
        return barycenterIn(newVal, field);                                                        \
    }

#endif // ORVIK_RECORDS_BARYCENTER_H
