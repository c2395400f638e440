// records/holders.h: the Length, Angle, Option and RgbData classes
//
// Single quantities passed around as objects. None checks, converts or interprets
// its value: units belong to the client, colour components are full 16-bit signed
// numbers (not clamped to 0-255). A fresh holder holds zero.
#ifndef ORVIK_RECORDS_HOLDERS_H
#define ORVIK_RECORDS_HOLDERS_H

#include "server/co_class.h"
#include "server/property_access.h"

#include "orvik/orvik_i.h"

namespace orvik {

class CLength : public CComCoClassImpl<CLength, ILength, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_Length; }
    ORVIK_PROPERTY(DOUBLE, LengthSize, m_lengthSize)

private:
    double m_lengthSize = 0;
};

class CAngle : public CComCoClassImpl<CAngle, IAngle, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_Angle; }
    ORVIK_PROPERTY(DOUBLE, AngleSize, m_angleSize)

private:
    double m_angleSize = 0;
};

class COption : public CComCoClassImpl<COption, IOption, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_Option; }
    ORVIK_PROPERTY(LONG, Value, m_value)

private:
    LONG m_value = 0;
};

struct RgbValue {
    SHORT red = 0, green = 0, blue = 0, alpha = 0;
};

class CRgbData : public CComCoClassImpl<CRgbData, IRgbData, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_RgbData; }
    ORVIK_PROPERTY(SHORT, Red, m_value.red)
    ORVIK_PROPERTY(SHORT, Green, m_value.green)
    ORVIK_PROPERTY(SHORT, Blue, m_value.blue)
    ORVIK_PROPERTY(SHORT, Alpha, m_value.alpha)

    HRESULT STDMETHODCALLTYPE GetRgbData(SHORT* Red, SHORT* Green, SHORT* Blue,
                                         SHORT* Alpha) override {
        if (!Red || !Green || !Blue || !Alpha)
            return E_POINTER;
        *Red = m_value.red;
        *Green = m_value.green;
        *Blue = m_value.blue;
        *Alpha = m_value.alpha;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRgbData(SHORT Red, SHORT Green, SHORT Blue, SHORT Alpha) override {
        m_value = {Red, Green, Blue, Alpha};
        return S_OK;
    }

private:
    RgbValue m_value;
};

static_assert(sizeof(RgbValue) == 8, "four 16-bit components packed into 8 bytes");

} // namespace orvik

#endif // ORVIK_RECORDS_HOLDERS_H
