// server/fault_injection.cpp: the acquisition countdown

#include "server/fault_injection.h"

namespace orvik::fault {

namespace {
bool g_fired = false;
} // namespace

bool countDown() {
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
