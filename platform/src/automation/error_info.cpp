// platform/src/automation/error_info.cpp: the calling thread's error information
//
// One object class serves both sides: ICreateErrorInfo fills it, IErrorInfo reads
// it. The thread's current object is held in a thread_local slot whose destructor
// lets it go when the thread ends.

#include "orvik/platform/error_info.h"

#include "orvik/platform/ref.h"

#include "orvik/platform/boundary.h"

#include <atomic>
#include <string>

extern "C" ORVIK_PLATFORM_API const IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
extern "C" ORVIK_PLATFORM_API const IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

namespace {

std::u16string textOf(LPCOLESTR text) {
    return text ? std::u16string(text) : std::u16string();
}

// A copy the caller frees with SysFreeString.
HRESULT copyOut(const std::u16string& text, BSTR* out) {
    if (!out)
        return E_INVALIDARG;
    *out = SysAllocStringLen(text.data(), UINT(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo)
            *ppv = static_cast<ICreateErrorInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
        if (!pGUID)
            return E_INVALIDARG;
        *pGUID = m_guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return copyOut(m_source, out); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override {
        return copyOut(m_description, out);
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return copyOut(m_helpFile, out); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
        if (!out)
            return E_INVALIDARG;
        *out = m_helpContext;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
        m_guid = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override {
        return orvik::guardResult([&] { return m_source = textOf(text), S_OK; });
    }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override {
        return orvik::guardResult([&] { return m_description = textOf(text), S_OK; });
    }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override {
        return orvik::guardResult([&] { return m_helpFile = textOf(text), S_OK; });
    }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
        m_helpContext = context;
        return S_OK;
    }

private:
    ~ErrorObject() = default;

    std::atomic<ULONG> m_refs{1};
    GUID m_guid = IID_NULL;
    std::u16string m_source, m_description, m_helpFile;
    DWORD m_helpContext = 0;
};

thread_local orvik::Ref<IErrorInfo> t_current;

} // namespace

STDAPI CreateErrorInfo(ICreateErrorInfo** pperrinfo) noexcept {
    if (!pperrinfo)
        return E_INVALIDARG;
    *pperrinfo = nullptr;
    auto* object = new (std::nothrow) ErrorObject;
    if (!object)
        return E_OUTOFMEMORY;
    *pperrinfo = object;
    return S_OK;
}

STDAPI SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) noexcept {
    if (dwReserved != 0)
        return E_INVALIDARG;
    // The old object goes after the new one is in place, so that its release cannot
    // see a half-changed slot.
    orvik::Ref<IErrorInfo> old = std::move(t_current);
    t_current = orvik::Ref<IErrorInfo>(perrinfo);
    return S_OK;
}

STDAPI GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) noexcept {
    if (!pperrinfo)
        return E_INVALIDARG;
    *pperrinfo = nullptr;
    if (dwReserved != 0)
        return E_INVALIDARG;
    if (!t_current)
        return S_FALSE;
    *pperrinfo = t_current.detach();
    return S_OK;
}
