// server/spread_count.h: a count that threads on different cores change without
// writing the same cache line
//
// Every object's creation and release changes the module's lock count. Kept in one
// word, that word's cache line moves between cores on every change, and two threads
// making objects get less done than one. Here each core changes a slot on a line of
// its own, and a shared word takes the rest: changes from higher-numbered cores, from
// threads the kernel keeps no core number for, and every change while an exact read
// is under way.
//
// On x86-64 Linux a change is a plain add to the running core's slot inside a
// restartable sequence: the C library registers an area per thread with the kernel,
// and the kernel sends the thread back to the sequence's start whenever it is
// preempted, migrated or signalled between reading its core number and the add. No
// other thread can touch the slot in that window, so the add need not be locked (a
// locked add waits for every earlier store to leave the core, which costs as much
// as the rest of a creation). Elsewhere, when the area is not registered (under
// valgrind, say), or when the kernel cannot restart other cores' sequences on
// request, every change is a locked add to the shared word: one atomic count.
//
// Adding the slots one after another is not a snapshot: while the reader is between
// two slots, a thread may add on a core already read and subtract on one not yet
// read, so a count of one reads as zero. Zero is the one answer that must be exact
// (the module is unloaded on it), so a zero sum is checked again: changes are sent to
// the shared word, every core's sequence in flight is restarted (after which the
// slots stand still), and the slots are added once more together with the shared
// word. That sum is the count at the instant the shared word was read.
#ifndef ORVIK_SERVER_SPREAD_COUNT_H
#define ORVIK_SERVER_SPREAD_COUNT_H

#include <atomic>
#include <cstdint>

namespace orvik {

class SpreadCount {
public:
    /// A count whose shared word is its own.
    SpreadCount() noexcept;
    /// A count whose shared word is shared (a record's lock word, changed elsewhere
    /// only by atomic adds); the count is that word's value plus the slots'.
    explicit SpreadCount(int32_t& sharedWord) noexcept;
    SpreadCount(const SpreadCount&) = delete;
    SpreadCount& operator=(const SpreadCount&) = delete;

    void increment() noexcept { add(1); }
    void decrement() noexcept { add(-1); }

    /// The count, wrapping as a 32-bit count does. Zero only if at one instant the
    /// count was zero; any other value may be a moment old, as with a single word.
    int32_t total() const noexcept { return total(nullptr); }
    /// The same, calling pauseAfterSlot with each slot's index once the first sum has
    /// read it (to place another thread's changes between two slots).
    int32_t total(void (*pauseAfterSlot)(unsigned slot)) const noexcept;

private:
    // One slot per core up to kCores; cores from kCores on use the shared word.
    static constexpr unsigned kCores = 64;
    struct alignas(64) Slot {
        std::atomic<uint32_t> value{0};
    };
    static_assert(sizeof(Slot) == 64, "the add finds a core's slot by a shift of 6");

    // Out of line: a sequence's descriptor names addresses in the function that
    // holds it, which must therefore exist exactly once in the program.
    void add(int32_t delta) noexcept;
    uint32_t sumOfSlots(void (*pauseAfterSlot)(unsigned)) const noexcept;
    uint32_t sharedValue() const noexcept;

    Slot m_slots[kCores];
    // Non-zero while exact reads are under way, or for good where slots cannot be
    // read exactly: every change then goes to the shared word.
    alignas(64) mutable std::atomic<uint32_t> m_exactReaders{0};
    alignas(64) int32_t m_ownShared = 0;
    int32_t* m_shared;
};

} // namespace orvik

#endif
