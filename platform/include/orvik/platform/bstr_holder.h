// orvik/platform/bstr_holder.h: a BSTR freed when its holder goes out of scope
//
// For C++ code that receives strings from interface methods: the holder frees the
// string on every path, including an exception thrown before the code meant to.
#ifndef ORVIK_PLATFORM_BSTR_HOLDER_H
#define ORVIK_PLATFORM_BSTR_HOLDER_H

#include "orvik/platform/bstr.h"

#include <utility>

namespace orvik {

class BstrHolder {
public:
    BstrHolder() = default;
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;
    ~BstrHolder() { SysFreeString(m_string); }

    BSTR get() const { return m_string; }
    /// The address to receive a new string; the one held before is freed first.
    BSTR* put() {
        SysFreeString(std::exchange(m_string, nullptr));
        return &m_string;
    }

private:
    BSTR m_string = nullptr;
};

} // namespace orvik

#endif // ORVIK_PLATFORM_BSTR_HOLDER_H
