// platform/src/core/bstr_copy.h: an exact copy of a length-prefixed string
#ifndef ORVIK_PLATFORM_SRC_CORE_BSTR_COPY_H
#define ORVIK_PLATFORM_SRC_CORE_BSTR_COPY_H

#include "orvik/platform/bstr.h"

namespace orvik {

/// A copy of every byte of s (embedded zeros and odd byte lengths included); null
/// for a null s or when memory is out.
inline BSTR copyBstr(BSTR s) {
    return s ? SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s)) : nullptr;
}

} // namespace orvik

#endif // ORVIK_PLATFORM_SRC_CORE_BSTR_COPY_H
