// tests/support/variant_args.h: variants as late-bound callers pass them
#ifndef ORVIK_TESTS_SUPPORT_VARIANT_ARGS_H
#define ORVIK_TESTS_SUPPORT_VARIANT_ARGS_H

#include "orvik/platform.h"

namespace orvik::testing {

inline VARIANT real(double d) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
}
inline VARIANT integer(LONG l) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = l;
    return v;
}
inline VARIANT shortValue(SHORT s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I2;
    v.iVal = s;
    return v;
}
/// An argument the caller leaves out.
inline VARIANT omitted() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}
/// A borrowed object: the variant does not own the reference.
inline VARIANT object(IDispatch* d) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    return v;
}

} // namespace orvik::testing

#endif // ORVIK_TESTS_SUPPORT_VARIANT_ARGS_H
