/* orvik/platform/table_calls.h: one early-bound call of a table entry, by its slot
 *
 * For clients that reach the platform through a foreign-function bridge (Python's
 * ctypes), where every cell passed by address costs as much as the call itself: the
 * commonest shapes of operation (a get of a number, a put of a double, an operation
 * on one object that gives back another) and Release, called in one step. The object's table entry
 * at slot is called with the object first, as a compiled client would call it; the slot is not
 * checked against the object's table, so it must come from the object's own type
 * description. A null object fails with E_POINTER.
 */
#ifndef ORVIK_PLATFORM_TABLE_CALLS_H
#define ORVIK_PLATFORM_TABLE_CALLS_H

#include "orvik/platform/base_types.h"

/* The value a get of a double (HRESULT get(DOUBLE*)) gives back. When the operation
 * fails the answer is a NaN and OrvikTableCallResult() gives the failure code; a
 * NaN from a call that succeeded leaves it S_OK. */
STDAPI_(DOUBLE) OrvikTableGetDouble(void* object, UINT slot) ORVIK_NOEXCEPT;

/* Likewise for an integer of bytes bytes (2 or 4, signed: SHORT, LONG, VARIANT_BOOL),
 * widened; on a failure, or for another width, the answer is INT64_MIN (which no such
 * value widens to) and OrvikTableCallResult() tells why (E_INVALIDARG for the width). */
STDAPI_(LONGLONG) OrvikTableGetInteger(void* object, UINT slot, UINT bytes) ORVIK_NOEXCEPT;

/* The result code of the calling thread's last OrvikTableGetDouble,
 * OrvikTableGetInteger or OrvikTableCallForObject. */
STDAPI OrvikTableCallResult(void) ORVIK_NOEXCEPT;

/* Calls a put of a double (HRESULT put(DOUBLE)) and answers its result code. */
STDAPI OrvikTablePutDouble(void* object, UINT slot, DOUBLE value) ORVIK_NOEXCEPT;

/* Calls an operation taking one interface pointer and giving back an object
 * (HRESULT op(IUnknown* argument, IUnknown** result)) and answers the object, whose
 * reference passes to the caller. Null when the operation gave back none or failed:
 * OrvikTableCallResult() tells which (an object a failing operation gave back is
 * released). */
STDAPI_(void*) OrvikTableCallForObject(void* object, UINT slot, void* argument) ORVIK_NOEXCEPT;

/* Releases one reference to object (the table's third entry) and answers the count
 * left, as Release does; 0 for a null object. */
STDAPI_(ULONG) OrvikTableRelease(void* object) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_TABLE_CALLS_H */
