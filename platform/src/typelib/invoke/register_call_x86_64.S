/* platform/src/typelib/invoke/register_call_x86_64.S: table slots called with their
 * arguments loaded into registers (System V x86-64)
 *
 * Both routines end in a jump, not a call: the slot's function returns straight to
 * our caller, with the stack exactly as our caller left it (no argument travels on
 * the stack), so its result code is ours.
 */
#if defined(__x86_64__) && !defined(_WIN32)
    .text

/* HRESULT orvikCallInRegisters(void* entry, void* instance, const uint64_t* ints,
 *                              const double* reals) */
    .globl orvikCallInRegisters
    .hidden orvikCallInRegisters
    .type orvikCallInRegisters, @function
    .p2align 4
orvikCallInRegisters:
    .cfi_startproc
#if defined(__CET__)
    endbr64
#endif
    movq %rdi, %rax          /* the function */
    movq %rsi, %rdi          /* the object, first */
    movq %rdx, %r10          /* the integers */
    movsd 0(%rcx), %xmm0
    movsd 8(%rcx), %xmm1
    movsd 16(%rcx), %xmm2
    movsd 24(%rcx), %xmm3
    movsd 32(%rcx), %xmm4
    movsd 40(%rcx), %xmm5
    movsd 48(%rcx), %xmm6
    movsd 56(%rcx), %xmm7
    movq 0(%r10), %rsi
    movq 8(%r10), %rdx
    movq 16(%r10), %rcx
    movq 24(%r10), %r8
    movq 32(%r10), %r9
    jmp *%rax
    .cfi_endproc
    .size orvikCallInRegisters, .-orvikCallInRegisters

/* HRESULT orvikCallWithPointer(void* entry, void* instance, void* pointer) */
    .globl orvikCallWithPointer
    .hidden orvikCallWithPointer
    .type orvikCallWithPointer, @function
    .p2align 4
orvikCallWithPointer:
    .cfi_startproc
#if defined(__CET__)
    endbr64
#endif
    movq %rdi, %rax
    movq %rsi, %rdi
    movq %rdx, %rsi
    jmp *%rax
    .cfi_endproc
    .size orvikCallWithPointer, .-orvikCallWithPointer
#endif

    .section .note.GNU-stack, "", @progbits
