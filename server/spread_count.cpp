// server/spread_count.cpp: one change to the running core's slot, and the exact read

#include "server/spread_count.h"

#include <cstddef>
#if defined(__x86_64__) && defined(__GLIBC__) && __has_include(<sys/rseq.h>)
#include <linux/membarrier.h>
#include <sys/rseq.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace orvik {

namespace {

#ifdef RSEQ_SIG
long membarrier(int command) {
    return syscall(__NR_membarrier, command, 0u, 0);
}

// Whether this process may ask the kernel to restart the sequences running on other
// cores (Linux 5.10 on, when no filter forbids the call). Asked once: the request to
// register is the same for every count.
bool canRestartSequences() {
    static const bool registered =
        __rseq_size != 0 && membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED_RSEQ) == 0;
    return registered;
}
#else
bool canRestartSequences() {
    return false;
}
#endif

} // namespace

SpreadCount::SpreadCount() noexcept : SpreadCount(m_ownShared) {}

SpreadCount::SpreadCount(int32_t& sharedWord) noexcept : m_shared(&sharedWord) {
    if (!canRestartSequences())
        m_exactReaders.store(1);
}

#ifdef RSEQ_SIG
void SpreadCount::add(int32_t delta) noexcept {
    // The sequence's descriptor (version, flags, start, length, abort address) is
    // link-time data; the four bytes before the abort address must be the
    // signature the C library registered. The descriptor pointer is cleared
    // again after the add, as the kernel requires before the module holding the
    // descriptor may be unmapped. The exact-read flag is read inside the sequence,
    // so that a restart requested by a reader makes the change go to the shared
    // word.
    uint64_t scratch;
    asm volatile(
        ".pushsection __rseq_cs, \"aw\"\n\t"
        ".balign 32\n\t"
        "3:\n\t"
        ".long 0, 0\n\t"
        ".quad 1f, 2f - 1f, 4f\n\t"
        ".popsection\n\t"
        "0:\n\t"
        "leaq 3b(%%rip), %[scratch]\n\t"
        "movq %[scratch], %%fs:%c[descriptor](%[area])\n\t"
        "1:\n\t"
        "cmpl $0, (%[exact])\n\t"
        "jne 5f\n\t"
        "movl %%fs:%c[core](%[area]), %k[scratch]\n\t"
        "cmpl %[cores], %k[scratch]\n\t"
        "jae 5f\n\t"
        "shll $6, %k[scratch]\n\t"
        "addl %[delta], (%[slots], %[scratch])\n\t"
        "2:\n\t"
        "jmp 6f\n\t"
        "5:\n\t"
        "lock addl %[delta], (%[shared])\n\t"
        "6:\n\t"
        "movq $0, %%fs:%c[descriptor](%[area])\n\t"
        ".pushsection __rseq_failure, \"ax\"\n\t"
        ".long %c[signature]\n\t"
        "4:\n\t"
        "jmp 0b\n\t"
        ".popsection"
        : [scratch] "=&r"(scratch)
        : [area] "r"(__rseq_offset), [slots] "r"(m_slots), [delta] "r"(delta),
          [exact] "r"(&m_exactReaders), [shared] "r"(m_shared),
          [descriptor] "i"(offsetof(struct rseq, rseq_cs)),
          [core] "i"(offsetof(struct rseq, cpu_id)), [cores] "i"(kCores), [signature] "i"(RSEQ_SIG)
        : "memory", "cc");
}
#else
void SpreadCount::add(int32_t delta) noexcept {
    __atomic_fetch_add(m_shared, delta, __ATOMIC_SEQ_CST);
}
#endif

uint32_t SpreadCount::sumOfSlots(void (*pauseAfterSlot)(unsigned)) const noexcept {
    uint32_t sum = 0;
    for (unsigned i = 0; i < kCores; ++i) {
        sum += m_slots[i].value.load(std::memory_order_seq_cst);
        if (pauseAfterSlot)
            pauseAfterSlot(i);
    }
    return sum;
}

uint32_t SpreadCount::sharedValue() const noexcept {
    return uint32_t(__atomic_load_n(m_shared, __ATOMIC_SEQ_CST));
}

int32_t SpreadCount::total(void (*pauseAfterSlot)(unsigned)) const noexcept {
    uint32_t sum = sumOfSlots(pauseAfterSlot) + sharedValue();
    if (sum != 0 || !canRestartSequences())
        return int32_t(sum); // without restarts the slots are never used
#ifdef RSEQ_SIG
    m_exactReaders.fetch_add(1, std::memory_order_seq_cst);
    // After the restart no sequence that read the flag clear is still in flight, so
    // the slots stand still until the flag is cleared again.
    if (membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED_RSEQ) == 0)
        sum = sumOfSlots(nullptr) + sharedValue();
    else
        sum = 1; // not known to be zero: say the count is in use
    m_exactReaders.fetch_sub(1, std::memory_order_seq_cst);
#endif
    return int32_t(sum);
}

} // namespace orvik
