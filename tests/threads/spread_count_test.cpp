// tests/threads/spread_count_test.cpp: the module's lock count spread over the cores
//
// Each core adds to a slot of its own without a locked instruction, trusting the
// kernel to restart an add that a preemption, migration or signal interrupted. More
// threads than cores, moved between cores on purpose and signalled all the time,
// make such interruptions frequent; a lost or doubled change shows in the total. The same cases run
// again with the C library told not to register the per-thread area (see CMakeLists.txt), which
// takes the locked path instead.

#include "server/module.h"
#include "server/spread_count.h"

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
extern "C" HRESULT DllCanUnloadNow();

namespace orvik::testing {
namespace {

unsigned coreCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

// Pins the calling thread to one core (modulo the cores there are).
void pinTo(unsigned core) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core % coreCount(), &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// Signals delivered to a thread inside its add send it back to the start: with the
// sequence described wrongly the kernel ends the process instead, and with a restart
// that does not start again the change is lost or doubled.
TEST(SpreadCount, ChangesFromMoreThreadsThanCoresAllCountThroughSignalsAndMoves) {
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &quiet, &previous), 0);

    auto count = std::make_unique<SpreadCount>();
    constexpr int kThreads = 8;
    std::atomic<bool> stop{false};
    std::atomic<int> ready{0};
    std::vector<long> net(kThreads, 0);
    std::vector<pthread_t> handles(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            handles[t] = pthread_self();
            ++ready;
            long mine = 0;
            for (unsigned i = 0; !stop.load(std::memory_order_relaxed); ++i) {
                // Every thread moves between cores now and then, and half of them
                // give back more than they take.
                if (i % 4096 == 0)
                    pinTo(unsigned(t) + i / 4096);
                count->increment();
                count->increment();
                count->decrement();
                mine += 1;
                if (t % 2) {
                    count->decrement();
                    mine -= 1;
                }
            }
            net[t] = mine;
        });
    while (ready < kThreads)
        std::this_thread::yield();
    for (int signal = 0; signal < 20000; ++signal)
        pthread_kill(handles[signal % kThreads], SIGUSR1);
    stop = true;
    for (std::thread& t : threads)
        t.join();
    sigaction(SIGUSR1, &previous, nullptr);

    long expected = 0;
    for (long n : net)
        expected += n;
    EXPECT_GT(expected, 0);
    EXPECT_EQ(count->total(), int32_t(expected));
}

TEST(SpreadCount, WrapsAsAThirtyTwoBitCount) {
    auto count = std::make_unique<SpreadCount>();
    count->decrement();
    EXPECT_EQ(count->total(), -1);
    pinTo(1);
    count->increment();
    count->increment();
    EXPECT_EQ(count->total(), 1);
    pinTo(0);
    count->decrement();
    EXPECT_EQ(count->total(), 0);
}

// The reader stops after the first slot while another thread makes an object on core
// 0 (a slot already read) and releases an older one on core 1 (a slot not yet read).
// Added slot by slot, the count of one object reads as zero.
SpreadCount* g_movedCount = nullptr;

void moveAnObjectAcrossCores(unsigned slotJustRead) {
    if (slotJustRead != 0)
        return;
    std::thread([] {
        pinTo(0);
        g_movedCount->increment();
        pinTo(1);
        g_movedCount->decrement();
    }).join();
}

TEST(SpreadCount, ReadsZeroOnlyWhenAtOneInstantNothingWasCounted) {
    if (coreCount() < 2)
        GTEST_SKIP() << "needs two cores";
    int32_t shared = 0;
    auto count = std::make_unique<SpreadCount>(shared);
    std::thread([&] {
        pinTo(1);
        count->increment();
    }).join();
    g_movedCount = count.get();
    EXPECT_EQ(count->total(moveAnObjectAcrossCores), 1);
    EXPECT_EQ(count->total(), 1);
    count->decrement();
    EXPECT_EQ(count->total(), 0);
    EXPECT_EQ(shared, 0) << "the shared word holds only what went to it";
}

// Objects made on one core and released on another: the module's count (and so its
// answer to whether it may unload) is the sum, whichever slots the changes landed in.
TEST(SpreadCount, ObjectsMadeOnOneCoreAndReleasedOnAnotherLeaveTheModuleFree) {
    Ref<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, factory.putVoid()), S_OK);
    constexpr int kObjects = 1000;
    std::vector<Ref<IPoint>> points(kObjects);
    std::thread maker([&] {
        pinTo(0);
        for (Ref<IPoint>& p : points)
            factory->CreateInstance(nullptr, IID_IPoint, p.putVoid());
    });
    maker.join();
    for (const Ref<IPoint>& p : points)
        ASSERT_TRUE(p);
    EXPECT_EQ(_pModule->GetLockCount(), kObjects + 1) << "every object and the held factory";
    EXPECT_EQ(_pModule->Lock(), kObjects + 2);
    EXPECT_EQ(_pModule->Unlock(), kObjects + 1);
    std::thread releaser([&] {
        pinTo(1);
        points.clear();
    });
    releaser.join();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "the factory is still held";
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

} // namespace
} // namespace orvik::testing
