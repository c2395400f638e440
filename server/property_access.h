// server/property_access.h: the get and put halves of plain properties
//
// A property get checks its output and copies the field out; a put stores the value
// as given. Every plain property of every class follows these two rules, so they
// are written once here; ORVIK_PROPERTY declares and defines both halves of one
// property inside a class body.
#ifndef ORVIK_SERVER_PROPERTY_ACCESS_H
#define ORVIK_SERVER_PROPERTY_ACCESS_H

#include "orvik/platform.h"

namespace orvik {

/// E_POINTER (nothing written) for a null out; otherwise *out = field.
template <class T> HRESULT copyOut(const T& field, T* out) {
    if (!out)
        return E_POINTER;
    *out = field;
    return S_OK;
}

/// field = value; never refused.
template <class T> HRESULT storeIn(T& field, T value) {
    field = value;
    return S_OK;
}

} // namespace orvik

/// get_Name and put_Name of a property of type Type kept in field.
#define ORVIK_PROPERTY(Type, Name, field)                                                          \
    HRESULT STDMETHODCALLTYPE get_##Name(Type* pVal) override {                                    \
        return copyOut(field, pVal);                                                               \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_##Name(Type newVal) override {                                   \
        return storeIn(field, newVal);                                                             \
    }

#endif // ORVIK_SERVER_PROPERTY_ACCESS_H
