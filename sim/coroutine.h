/*
 * coroutine.h - a function that runs on a stack of its own and can stop
 * part way, to be resumed later where it stopped, by any thread.
 *
 * The board runs each started processor's firmware as one: the firmware
 * stays a plain blocking function, and where it would wait it suspends
 * instead, back to the host call that resumed it. Switching is a few
 * register moves, no system call: on x86-64 a switch of our own, on
 * Windows the system's fibers, elsewhere ucontext.
 *
 * The stack is mapped with an unmapped guard page below it, so a firmware
 * that overruns it faults at once instead of writing over the heap. Under
 * AddressSanitizer and ThreadSanitizer every switch is announced to the
 * sanitizer.
 */
#ifndef ZORVANTIK_SIM_COROUTINE_H
#define ZORVANTIK_SIM_COROUTINE_H

#include <cstddef>
#include <memory>

class Coroutine {
public:
    using Body = void (*)(void *arg);

    /* Makes the coroutine; it begins to run `body(arg)` at its first
     * resume. Throws std::bad_alloc when the stack cannot be had. */
    Coroutine(Body body, void *arg, std::size_t stackBytes = kDefaultStack);
    /* Frees the stack: only of a coroutine that never began or has
     * finished, never of one suspended part way or running. */
    ~Coroutine();
    Coroutine(const Coroutine &) = delete;
    Coroutine &operator=(const Coroutine &) = delete;

    /* From outside: runs the coroutine until it suspends or its body
     * returns. */
    void resume();
    /* From inside the body: back to the resume that ran it. */
    void suspend();

    bool started() const;
    bool finished() const;

    static constexpr std::size_t kDefaultStack = 512 * 1024;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

#endif /* ZORVANTIK_SIM_COROUTINE_H */
