// records/barycenter.cpp: handing the barycenter out and taking it in

#include "records/barycenter.h"
#include "geometry/coord_object.h"
#include "geometry/point.h"

namespace orvik {

HRESULT barycenterOut(const CoordValue& barycenter, IPoint** out) {
    if (!out)
        return E_POINTER;
    HRESULT hr = CreateResult<CPoint>(out);
    if (FAILED(hr))
        return hr;
    return storeCoord(*out, barycenter);
}

HRESULT barycenterIn(IPoint* point, CoordValue& barycenter) {
    return readCoord(point, barycenter);
}

} // namespace orvik
