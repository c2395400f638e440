// registration/registry_batch.h: a whole registration as one change of the store
//
// A registration writes many keys. Run as one batch, another process sees all of
// them or none (a class being registered again never reads as unregistered), a
// crash or kill leaves the store as it was, and a failure takes back everything,
// NoRemove keys included.
#ifndef ORVIK_REGISTRATION_REGISTRY_BATCH_H
#define ORVIK_REGISTRATION_REGISTRY_BATCH_H

#include "orvik/platform.h"

namespace orvik {

/// body() (an HRESULT) inside one registry batch: committed when it succeeds,
/// rolled back when it fails or throws. A batch that cannot begin or commit is the
/// answer.
template <class Body> HRESULT inOneRegistryBatch(Body&& body) {
    LSTATUS begun = OrvikRegBeginBatch();
    if (begun != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(begun);
    struct Ender {
        bool ended = false;
        ~Ender() {
            if (!ended)
                OrvikRegEndBatch(FALSE);
        }
    } ender;
    HRESULT hr = body();
    ender.ended = true;
    LSTATUS ended = OrvikRegEndBatch(SUCCEEDED(hr) ? TRUE : FALSE);
    if (SUCCEEDED(hr) && ended != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(ended);
    return hr;
}

} // namespace orvik

#endif
