/*
 * coroutine.cpp - stacks and switches of the coroutines (see coroutine.h).
 */
#include "coroutine.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#define ZT_FIBERS_WINDOWS 1
#else
#include <sys/mman.h>
#include <unistd.h>
#if defined(__x86_64__) && !defined(__ILP32__)
#define ZT_FIBERS_X86_64 1
#else
#include <ucontext.h>
#define ZT_FIBERS_UCONTEXT 1
#endif
#endif

#if defined(__SANITIZE_ADDRESS__)
#define ZT_FIBERS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZT_FIBERS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define ZT_FIBERS_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZT_FIBERS_TSAN 1
#endif
#endif

#if ZT_FIBERS_ASAN
extern "C" void __sanitizer_start_switch_fiber(void **fakeStackSave, const void *bottom, size_t size);
extern "C" void __sanitizer_finish_switch_fiber(void *fakeStackSave, const void **bottomOld, size_t *sizeOld);
extern "C" void __asan_unpoison_memory_region(void const volatile *addr, size_t size);
#endif
#if ZT_FIBERS_TSAN
extern "C" void *__tsan_get_current_fiber(void);
extern "C" void *__tsan_create_fiber(unsigned flags);
extern "C" void __tsan_destroy_fiber(void *fiber);
extern "C" void __tsan_switch_to_fiber(void *fiber, unsigned flags);
#endif

#if ZT_FIBERS_X86_64
/* zt_coroutine_switch(save, to): pushes the callee-saved registers and
 * the SSE and x87 control words, stores the stack pointer in *save, and
 * pops the same from the stack `to`. A fresh stack is laid out so that
 * its first switch "returns" into zt_coroutine_start with the body in r13
 * and its argument in r12. */
extern "C" void zt_coroutine_switch(void **save, void *to);
extern "C" void zt_coroutine_start();
asm(R"(
    .pushsection .text
    .globl zt_coroutine_switch
    .hidden zt_coroutine_switch
    .type zt_coroutine_switch,@function
zt_coroutine_switch:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    stmxcsr (%rsp)
    fnstcw 4(%rsp)
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    ldmxcsr (%rsp)
    fldcw 4(%rsp)
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .size zt_coroutine_switch,.-zt_coroutine_switch

    .globl zt_coroutine_start
    .hidden zt_coroutine_start
    .type zt_coroutine_start,@function
zt_coroutine_start:
    movq %r12, %rdi
    callq *%r13
    ud2
    .size zt_coroutine_start,.-zt_coroutine_start
    .popsection
)");
#endif

struct Coroutine::Impl {
    Body body;
    void *arg;
    bool started = false;
    bool finished = false;
#if ZT_FIBERS_WINDOWS
    LPVOID fiber = nullptr;
    LPVOID caller = nullptr;
#else
    void *mapping = nullptr; /* guard page and stack */
    size_t mapped = 0;
    char *stackLow = nullptr;
    size_t stackSize = 0;
#if ZT_FIBERS_X86_64
    void *sp = nullptr;       /* the coroutine's stack pointer while it is suspended */
    void *callerSp = nullptr; /* the resumer's while the coroutine runs */
#else
    ucontext_t context;
    ucontext_t callerContext;
#endif
#endif
#if ZT_FIBERS_ASAN
    const void *callerBottom = nullptr; /* the resumer's stack, as the sanitizer told it */
    size_t callerSize = 0;
#endif
#if ZT_FIBERS_TSAN
    void *tsanFiber = nullptr;
    void *tsanCaller = nullptr;
#endif

    /* The first thing on the coroutine's own stack. */
    static void entry(void *self);
#if ZT_FIBERS_WINDOWS
    static VOID CALLBACK windowsEntry(LPVOID self) { entry(self); }
#elif ZT_FIBERS_UCONTEXT
    /* makecontext passes ints: the pointer in two halves. */
    static void ucontextEntry(unsigned hi, unsigned lo) {
        entry(reinterpret_cast<void *>((uintptr_t(hi) << 16 << 16) | uintptr_t(lo)));
    }
#endif
    void switchIn();
    void switchOut(bool forGood);
};

void Coroutine::Impl::entry(void *self) {
    Impl *c = static_cast<Impl *>(self);
#if ZT_FIBERS_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &c->callerBottom, &c->callerSize);
#endif
    c->body(c->arg);
    c->finished = true;
    c->switchOut(true);
    std::abort(); /* a finished coroutine is never resumed */
}

void Coroutine::Impl::switchIn() {
#if ZT_FIBERS_TSAN
    tsanCaller = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(tsanFiber, 0);
#endif
#if ZT_FIBERS_WINDOWS
    // Only a thread's own fiber resumes a coroutine, never a coroutine:
    // that fiber is made once per thread.
    static thread_local LPVOID threadFiber = nullptr;
    if (!threadFiber) {
        threadFiber = ConvertThreadToFiber(nullptr);
        if (!threadFiber) { /* the thread is a fiber already */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
            threadFiber = GetCurrentFiber();
#pragma GCC diagnostic pop
        }
    }
    caller = threadFiber;
    SwitchToFiber(fiber);
#else
#if ZT_FIBERS_ASAN
    void *fake = nullptr;
    __sanitizer_start_switch_fiber(&fake, stackLow, stackSize);
#endif
#if ZT_FIBERS_X86_64
    zt_coroutine_switch(&callerSp, sp);
#else
    swapcontext(&callerContext, &context);
#endif
#if ZT_FIBERS_ASAN
    __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
#endif
#endif
}

void Coroutine::Impl::switchOut(bool forGood) {
#if ZT_FIBERS_TSAN
    __tsan_switch_to_fiber(tsanCaller, 0);
#endif
#if ZT_FIBERS_WINDOWS
    (void)forGood;
    SwitchToFiber(caller);
#else
#if ZT_FIBERS_ASAN
    void *fake = nullptr;
    __sanitizer_start_switch_fiber(forGood ? nullptr : &fake, callerBottom, callerSize);
#else
    (void)forGood;
#endif
#if ZT_FIBERS_X86_64
    zt_coroutine_switch(&sp, callerSp);
#else
    swapcontext(&context, &callerContext);
#endif
#if ZT_FIBERS_ASAN
    /* Resumed, perhaps by another thread: its stack is the one to go back to. */
    __sanitizer_finish_switch_fiber(fake, &callerBottom, &callerSize);
#endif
#endif
}

Coroutine::Coroutine(Body body, void *arg, size_t stackBytes) : impl_(new Impl) {
    Impl &c = *impl_;
    c.body = body;
    c.arg = arg;
#if ZT_FIBERS_WINDOWS
    c.fiber = CreateFiber(stackBytes, Impl::windowsEntry, &c);
    if (!c.fiber)
        throw std::bad_alloc();
#else
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t size = (stackBytes + page - 1) / page * page;
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_NORESERVE
    flags |= MAP_NORESERVE;
#endif
#ifdef MAP_STACK
    flags |= MAP_STACK;
#endif
    void *m = mmap(nullptr, size + page, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (m == MAP_FAILED)
        throw std::bad_alloc();
    mprotect(m, page, PROT_NONE); /* the guard: stacks grow down into it */
    c.mapping = m;
    c.mapped = size + page;
    c.stackLow = static_cast<char *>(m) + page;
    c.stackSize = size;
#if ZT_FIBERS_ASAN
    // The frames a finished coroutine never returned from (its entry, its
    // last switch) leave their red zones marked in the sanitizer's shadow;
    // a stack mapped at the same address again starts clean.
    __asan_unpoison_memory_region(c.stackLow, size);
#endif
#if ZT_FIBERS_X86_64
    /* What zt_coroutine_switch pops, from the stack pointer up: the
     * control words, r15, r14, r13 (body), r12 (argument), rbx, rbp,
     * the return address; above it the top, 16-byte aligned. */
    uintptr_t top = (uintptr_t(c.stackLow) + size) & ~uintptr_t(15);
    uint64_t *frame = reinterpret_cast<uint64_t *>(top) - 8;
    frame[0] = 0x1F80u | uint64_t(0x037Fu) << 32; /* MXCSR and x87 control word at their defaults */
    frame[1] = 0;
    frame[2] = 0;
    frame[3] = reinterpret_cast<uint64_t>(&Impl::entry);
    frame[4] = reinterpret_cast<uint64_t>(&c);
    frame[5] = 0;
    frame[6] = 0;
    frame[7] = reinterpret_cast<uint64_t>(&zt_coroutine_start);
    c.sp = frame;
#else
    getcontext(&c.context);
    c.context.uc_stack.ss_sp = c.stackLow;
    c.context.uc_stack.ss_size = size;
    c.context.uc_link = nullptr;
    uintptr_t p = reinterpret_cast<uintptr_t>(&c);
    makecontext(&c.context, reinterpret_cast<void (*)()>(Impl::ucontextEntry), 2, unsigned(p >> 16 >> 16),
                unsigned(p & 0xFFFFFFFFu));
#endif
#endif
#if ZT_FIBERS_TSAN
    c.tsanFiber = __tsan_create_fiber(0);
#endif
}

Coroutine::~Coroutine() {
    Impl &c = *impl_;
#if ZT_FIBERS_TSAN
    __tsan_destroy_fiber(c.tsanFiber);
#endif
#if ZT_FIBERS_WINDOWS
    DeleteFiber(c.fiber);
#else
#if ZT_FIBERS_ASAN
    __asan_unpoison_memory_region(c.stackLow, c.stackSize);
#endif
    munmap(c.mapping, c.mapped);
#endif
}

void Coroutine::resume() {
    impl_->started = true;
    impl_->switchIn();
}

void Coroutine::suspend() { impl_->switchOut(false); }

bool Coroutine::started() const { return impl_->started; }

bool Coroutine::finished() const { return impl_->finished; }
