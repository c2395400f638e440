// platform/src/registry/registry_generation.h: telling that the registry changed
#ifndef ORVIK_PLATFORM_SRC_REGISTRY_REGISTRY_GENERATION_H
#define ORVIK_PLATFORM_SRC_REGISTRY_REGISTRY_GENERATION_H

#include <cstdint>

namespace orvik {

/// A number that changes whenever this process writes to the registry or opens
/// another store, and, looked for at most every tenth of a second, whenever another
/// process writes to the store. What was read from the registry under one value may
/// be kept while the value stays the same.
uint64_t registryGeneration();

} // namespace orvik

#endif // ORVIK_PLATFORM_SRC_REGISTRY_REGISTRY_GENERATION_H
