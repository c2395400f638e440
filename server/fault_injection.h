// server/fault_injection.h: failing the frame's resource acquisitions on purpose
//
// Every allocation and lock initialisation the frame makes asks acquireResource()
// first. Tests arm a countdown so that the N-th acquisition fails, and raise N until
// an operation succeeds, proving that each failure point ends in a clean code with
// nothing leaked or left half-made. Unarmed, the check is one load and a branch. The
// module file keeps only what its entry points reach, so failAcquisition is not in
// it and nothing there can arm the countdown.
#ifndef ORVIK_SERVER_FAULT_INJECTION_H
#define ORVIK_SERVER_FAULT_INJECTION_H

namespace orvik::fault {

// Apartment-threaded objects are made on their creator's thread; the countdown is
// only armed by single-threaded tests.
inline int g_countdown = 0;

/// Counts an armed countdown down: false when it reaches this acquisition.
bool countDown();

/// False when the armed countdown reaches this acquisition. Inline, since every
/// object's creation asks.
inline bool acquireResource() {
    return g_countdown == 0 || countDown();
}
/// The n-th acquisition from now fails (n >= 1); 0 disarms.
void failAcquisition(int n);
/// True once an armed countdown has fired since the last failAcquisition call.
bool fired();

} // namespace orvik::fault

#endif // ORVIK_SERVER_FAULT_INJECTION_H
