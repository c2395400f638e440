// platform/src/automation/table_calls.cpp: one early-bound call of a table entry
//
// The entry is the slot-th pointer of the object's table, a function taking the
// object first. Its type here is the operation's as the object's type description
// declares it; the caller vouches for that.

#include "orvik/platform/table_calls.h"

#include "orvik/platform/result_codes.h"

#include <cstdint>
#include <limits>

namespace {

thread_local HRESULT t_lastResult = S_OK;

template <class Entry> Entry entryOf(void* object, UINT slot) {
    void* const* table = *static_cast<void* const* const*>(object);
    return reinterpret_cast<Entry>(table[slot]);
}

template <class Cell> LONGLONG getInteger(void* object, UINT slot) {
    if (!object) {
        t_lastResult = E_POINTER;
        return std::numeric_limits<LONGLONG>::min();
    }
    using Get = HRESULT(STDMETHODCALLTYPE*)(void*, Cell*);
    Cell cell = 0;
    t_lastResult = entryOf<Get>(object, slot)(object, &cell);
    return FAILED(t_lastResult) ? std::numeric_limits<LONGLONG>::min() : LONGLONG(cell);
}

} // namespace

STDAPI_(DOUBLE) OrvikTableGetDouble(void* object, UINT slot) noexcept {
    if (!object) {
        t_lastResult = E_POINTER;
        return std::numeric_limits<DOUBLE>::quiet_NaN();
    }
    using Get = HRESULT(STDMETHODCALLTYPE*)(void*, DOUBLE*);
    DOUBLE cell = 0;
    t_lastResult = entryOf<Get>(object, slot)(object, &cell);
    return FAILED(t_lastResult) ? std::numeric_limits<DOUBLE>::quiet_NaN() : cell;
}

STDAPI_(LONGLONG) OrvikTableGetInteger(void* object, UINT slot, UINT bytes) noexcept {
    if (bytes == 2)
        return getInteger<int16_t>(object, slot);
    if (bytes == 4)
        return getInteger<int32_t>(object, slot);
    t_lastResult = E_INVALIDARG;
    return std::numeric_limits<LONGLONG>::min();
}

STDAPI OrvikTableCallResult(void) noexcept {
    return t_lastResult;
}

STDAPI OrvikTablePutDouble(void* object, UINT slot, DOUBLE value) noexcept {
    if (!object)
        return E_POINTER;
    using Put = HRESULT(STDMETHODCALLTYPE*)(void*, DOUBLE);
    return entryOf<Put>(object, slot)(object, value);
}

STDAPI_(void*) OrvikTableCallForObject(void* object, UINT slot, void* argument) noexcept {
    if (!object) {
        t_lastResult = E_POINTER;
        return nullptr;
    }
    using Call = HRESULT(STDMETHODCALLTYPE*)(void*, void*, void**);
    void* result = nullptr;
    t_lastResult = entryOf<Call>(object, slot)(object, argument, &result);
    if (FAILED(t_lastResult) && result) {
        OrvikTableRelease(result);
        result = nullptr;
    }
    return result;
}

STDAPI_(ULONG) OrvikTableRelease(void* object) noexcept {
    if (!object)
        return 0;
    using Release = ULONG(STDMETHODCALLTYPE*)(void*);
    return entryOf<Release>(object, 2)(object);
}
