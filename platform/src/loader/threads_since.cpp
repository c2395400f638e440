// platform/src/loader/threads_since.cpp: the threads of the process, from the kernel's
// process files

#include "loader/threads_since.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace orvik {

namespace {

// The clock of one thread's processor time, for any thread of this process: the
// kernel's encoding of a per-thread scheduler clock (the one pthread_getcpuclockid
// gives for the thread's own handle).
clockid_t threadCpuClock(pid_t tid) {
    return clockid_t((~unsigned(tid) << 3) | 4u | 2u);
}

// Processor time so far, or -1 once the thread has ended.
int64_t cpuTime(pid_t tid) {
    timespec ts{};
    if (clock_gettime(threadCpuClock(tid), &ts) != 0)
        return -1;
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Whether the thread is asleep in an interruptible wait ('S' in its stat file; the
// field follows the command name, which may itself hold spaces and parentheses).
bool asleep(pid_t tid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", int(tid));
    FILE* file = std::fopen(path, "re");
    if (!file)
        return false;
    char text[512];
    size_t size = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[size] = 0;
    const char* close = std::strrchr(text, ')');
    return close && close[1] == ' ' && close[2] == 'S';
}

} // namespace

ThreadsSince::ThreadsSince(Clock::time_point now) : m_start(now) {
    pid_t self = gettid();
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) {
        m_blind = true;
        return;
    }
    while (dirent* entry = readdir(tasks)) {
        char* end = nullptr;
        long tid = std::strtol(entry->d_name, &end, 10);
        if (*end || tid <= 0 || pid_t(tid) == self)
            continue;
        int64_t cpu = cpuTime(pid_t(tid));
        if (cpu < 0)
            continue;
        bool sleeping = asleep(pid_t(tid));
        m_waiting.push_back(Watch{pid_t(tid), cpu, cpu, now, sleeping});
    }
    closedir(tasks);
}

bool ThreadsSince::allMovedOn(Clock::time_point now) {
    if (m_blind)
        return now - m_start >= kBlindWait;
    std::erase_if(m_waiting, [&](Watch& watch) {
        int64_t cpu = cpuTime(watch.tid);
        if (cpu < 0 || cpu - watch.cpuAtStart >= kBusyCpu.count())
            return true;
        bool sleeping = asleep(watch.tid);
        if (sleeping && watch.asleep && cpu == watch.cpuWhenAsleep)
            return now - watch.asleepSince >= kQuietSleep;
        watch.asleep = sleeping;
        watch.cpuWhenAsleep = cpu;
        watch.asleepSince = now;
        return false;
    });
    return m_waiting.empty();
}

} // namespace orvik
