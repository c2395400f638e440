// server/spread_count.cpp: one change to the running core's slot

#include "server/spread_count.h"

#include <sched.h>

#include <cstddef>
#if defined(__x86_64__) && defined(__GLIBC__) && __has_include(<sys/rseq.h>)
#include <sys/rseq.h>
#endif

namespace orvik {

#ifdef RSEQ_SIG
void SpreadCount::add(int32_t delta) noexcept {
    // The sequence's descriptor (version, flags, start, length, abort address) is
    // link-time data; the four bytes before the abort address must be the
    // signature the C library registered. The descriptor pointer is cleared
    // again after the add, as the kernel requires before the module holding the
    // descriptor may be unmapped.
    uint64_t scratch;
    asm volatile(".pushsection __rseq_cs, \"aw\"\n\t"
                 ".balign 32\n\t"
                 "3:\n\t"
                 ".long 0, 0\n\t"
                 ".quad 1f, 2f - 1f, 4f\n\t"
                 ".popsection\n\t"
                 "0:\n\t"
                 "leaq 3b(%%rip), %[scratch]\n\t"
                 "movq %[scratch], %%fs:%c[descriptor](%[area])\n\t"
                 "1:\n\t"
                 "movl %%fs:%c[core](%[area]), %k[scratch]\n\t"
                 "cmpl %[cores], %k[scratch]\n\t"
                 "jae 5f\n\t"
                 "shll $6, %k[scratch]\n\t"
                 "addl %[delta], (%[slots], %[scratch])\n\t"
                 "2:\n\t"
                 "jmp 6f\n\t"
                 "5:\n\t"
                 "lock addl %[delta], %c[shared](%[slots])\n\t"
                 "6:\n\t"
                 "movq $0, %%fs:%c[descriptor](%[area])\n\t"
                 ".pushsection __rseq_failure, \"ax\"\n\t"
                 ".long %c[signature]\n\t"
                 "4:\n\t"
                 "jmp 0b\n\t"
                 ".popsection"
                 : [scratch] "=&r"(scratch)
                 : [area] "r"(__rseq_offset), [slots] "r"(m_slots), [delta] "r"(delta),
                   [descriptor] "i"(offsetof(struct rseq, rseq_cs)),
                   [core] "i"(offsetof(struct rseq, cpu_id)), [cores] "i"(kCores),
                   [shared] "i"(kCores * sizeof(Slot)), [signature] "i"(RSEQ_SIG)
                 : "memory", "cc");
}
#else
void SpreadCount::add(int32_t delta) noexcept {
    unsigned core = unsigned(sched_getcpu());
    m_slots[core < kCores ? core : kCores].value.fetch_add(uint32_t(delta),
                                                           std::memory_order_seq_cst);
}
#endif

} // namespace orvik
