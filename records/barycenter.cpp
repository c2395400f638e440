// records/barycenter.cpp: handing the barycenter out and taking it in

#include "records/barycenter.h"
#include "geometry/coord_object.h"
#include "geometry/point.h"

namespace orvik {

HRESULT barycenterOut(const CoordValue& barycenter, IPoint** out) {
    if (!out)
        return E_POINTER;
    return CreateResultWith<CPoint>(out,
                                    [&](IPoint* result) { return storeCoord(result, barycenter); });
}

HRESULT barycenterIn(IPoint* point, CoordValue& barycenter) {
    return readCoord(point, barycenter);
}

} // namespace orvik
