// server/fault_injection.h: failing the frame's resource acquisitions on purpose
//
// Every allocation and lock initialisation the frame makes asks acquireResource()
// first. Tests arm a countdown so that the N-th acquisition fails, and raise N until
// an operation succeeds, proving that each failure point ends in a clean code with
// nothing leaked or left half-made. Unarmed, the check is one load and a branch.
#ifndef ORVIK_SERVER_FAULT_INJECTION_H
#define ORVIK_SERVER_FAULT_INJECTION_H

namespace orvik::fault {

/// False when the armed countdown reaches this acquisition.
bool acquireResource();
/// The n-th acquisition from now fails (n >= 1); 0 disarms.
void failAcquisition(int n);
/// True once an armed countdown has fired since the last failAcquisition call.
bool fired();

} // namespace orvik::fault

#endif // ORVIK_SERVER_FAULT_INJECTION_H
