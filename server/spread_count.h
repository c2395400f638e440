// server/spread_count.h: a count that threads on different cores change without
// writing the same cache line
//
// Every object's creation and release changes the module's lock count. Kept in one
// word, that word's cache line moves between cores on every change, and two threads
// making objects get less done than one. Here each core changes a slot on a line of
// its own and a reader adds the slots up. The total is exact whenever no change is
// in flight; while one is, a reader may see it before or after that change, as it
// would with a single word.
//
// On x86-64 Linux a change is a plain add to the running core's slot inside a
// restartable sequence: the C library registers an area per thread with the kernel,
// and the kernel sends the thread back to the sequence's start whenever it is
// preempted, migrated or signalled between reading its core number and the add. No
// other thread can touch the slot in that window, so the add need not be locked (a
// locked add waits for every earlier store to leave the core, which costs as much
// as the rest of a creation). Elsewhere, or when the area is not registered (under
// valgrind, say), a locked add on a shared slot does the same.
#ifndef ORVIK_SERVER_SPREAD_COUNT_H
#define ORVIK_SERVER_SPREAD_COUNT_H

#include <atomic>
#include <cstdint>

namespace orvik {

class SpreadCount {
public:
    void increment() noexcept { add(1); }
    void decrement() noexcept { add(-1); }

    /// The sum of every slot, wrapping as a 32-bit count does. A change made on one
    /// core and undone on another leaves +1 and -1 in two slots; only the sum counts.
    int32_t total() const noexcept {
        uint32_t sum = 0;
        for (const Slot& s : m_slots)
            sum += s.value.load(std::memory_order_seq_cst);
        return int32_t(sum);
    }

private:
    // One slot per core up to kCores, and one more that only locked adds touch: for
    // higher-numbered cores, and for threads the kernel keeps no core number for.
    static constexpr unsigned kCores = 64;
    struct alignas(64) Slot {
        std::atomic<uint32_t> value{0};
    };
    static_assert(sizeof(Slot) == 64, "the add finds a core's slot by a shift of 6");

    // Out of line: a sequence's descriptor names addresses in the function that
    // holds it, which must therefore exist exactly once in the program.
    void add(int32_t delta) noexcept;

    Slot m_slots[kCores + 1];
};

} // namespace orvik

#endif
