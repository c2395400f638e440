// platform/src/loader/threads_since.h: whether the other threads of the process have left the code
// they were running at some instant
//
// A module's last object gives its lock back a few instructions before it is done:
// the rest of its destructor, the free and the return still run in the module. A
// module that says it may be unloaded is therefore unloaded only once every other
// thread that existed when it said so has since been seen to do something else. A
// thread counts as having moved on when it has
//   - ended, or
//   - used kBusyCpu of processor time since (the code after the lock is given back
//     is well under a microsecond of work), or
//   - stayed asleep in one wait for kQuietSleep without running (the only waits in
//     that code are for the allocator's lock, held for as long as one allocation
//     takes; a thread preempted there is runnable, not asleep, and does not pass).
// A thread that was preempted there and has not run since passes none of these.
// Where the process's threads cannot be listed, only kBlindWait passing will do.
#ifndef ORVIK_PLATFORM_SRC_LOADER_THREADS_SINCE_H
#define ORVIK_PLATFORM_SRC_LOADER_THREADS_SINCE_H

#include <chrono>
#include <cstdint>
#include <sys/types.h>
#include <vector>

namespace orvik {

class ThreadsSince {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::nanoseconds kBusyCpu = std::chrono::microseconds(200);
    static constexpr Clock::duration kQuietSleep = std::chrono::milliseconds(20);
    static constexpr Clock::duration kBlindWait = std::chrono::seconds(1);

    /// Notes every thread of the process but the caller, as of now.
    explicit ThreadsSince(Clock::time_point now);

    /// Whether every thread noted has moved on since; looks again at those that had
    /// not when last asked.
    bool allMovedOn(Clock::time_point now);

private:
    struct Watch {
        pid_t tid;
        int64_t cpuAtStart;    // processor time, nanoseconds
        int64_t cpuWhenAsleep; // processor time when last seen falling asleep
        Clock::time_point asleepSince;
        bool asleep;
    };
    std::vector<Watch> m_waiting;
    Clock::time_point m_start;
    bool m_blind = false;
};

} // namespace orvik

#endif
