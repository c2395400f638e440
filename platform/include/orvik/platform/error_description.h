// orvik/platform/error_description.h: the thread's error information as text
//
// For C++ callers that report a failure: the description a failed call left in the
// thread's error information, taken (the thread is left with none) and converted to
// UTF-8.
#ifndef ORVIK_PLATFORM_ERROR_DESCRIPTION_H
#define ORVIK_PLATFORM_ERROR_DESCRIPTION_H

#include "orvik/platform/bstr_holder.h"
#include "orvik/platform/error_info.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/utf.h"

#include <string>

namespace orvik {

/// The description of the thread's error information, or "" when there is none.
inline std::string takeErrorDescription() {
    Ref<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info)
        return std::string();
    BstrHolder description;
    if (FAILED(info->GetDescription(description.put())))
        return std::string();
    return utf8Or(description.get());
}

} // namespace orvik

#endif // ORVIK_PLATFORM_ERROR_DESCRIPTION_H
