// platform/src/typelib/invoke/register_call.h: calling a table slot with its arguments in
// registers
//
// On x86-64 outside Windows, integer-class arguments (pointers and integers) and
// doubles travel in two register files, each in order. These two routines, written
// in assembly (register_call_x86_64.S), load the registers from arrays and jump to
// the slot's function, so that a function of any signature that fits is called
// without going through a pointer of another function type.
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_REGISTER_CALL_H
#define ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_REGISTER_CALL_H

#include "orvik/platform/base_types.h"

#include <cstdint>

#if defined(__x86_64__) && !defined(_WIN32)
#define ORVIK_REGISTER_CALLS 1

namespace orvik::tlb {

/// Integer registers left after the object's, and double registers.
constexpr size_t kRegisterIntegers = 5, kRegisterDoubles = 8;

} // namespace orvik::tlb

extern "C" {
/// Calls entry(instance, ints[0..4], reals[0..7]) and answers its result code.
HRESULT orvikCallInRegisters(void* entry, void* instance, const uint64_t* ints,
                             const double* reals);
/// Calls entry(instance, pointer), the shape of a property get.
HRESULT orvikCallWithPointer(void* entry, void* instance, void* pointer);
}

#endif

#endif // ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_REGISTER_CALL_H
