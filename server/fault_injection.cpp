// server/fault_injection.cpp: the acquisition countdown

#include "server/fault_injection.h"

namespace orvik::fault {

namespace {
// Apartment-threaded objects are made on their creator's thread; the countdown is
// only armed by single-threaded tests.
int g_countdown = 0;
bool g_fired = false;
} // namespace

bool acquireResource() {
    if (g_countdown == 0)
        return true;
    if (--g_countdown > 0)
        return true;
    g_fired = true;
    return false;
}

void failAcquisition(int n) {
    g_countdown = n;
    g_fired = false;
}

bool fired() {
    return g_fired;
}

} // namespace orvik::fault
