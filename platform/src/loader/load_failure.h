// platform/src/loader/load_failure.h: why the last module load of this thread failed
//
// The loader's own words (dlerror's text) are lost once a load answers its result
// code; creation keeps them here so that a report can say why a module file that
// exists could not be loaded.
#ifndef ORVIK_PLATFORM_SRC_LOADER_LOAD_FAILURE_H
#define ORVIK_PLATFORM_SRC_LOADER_LOAD_FAILURE_H

#include <string>

namespace orvik {

/// Keeps the loader's text for the failed load (null: none).
void noteLoadFailure(const char* text);
/// The text kept by the last failed load on this thread, or "".
const std::string& lastLoadFailure();

} // namespace orvik

#endif // ORVIK_PLATFORM_SRC_LOADER_LOAD_FAILURE_H
