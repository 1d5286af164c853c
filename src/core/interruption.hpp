#pragma once
// Lets a long kernel stop when its caller asks (Ctrl-C): the caller installs
// a poll on its thread for the length of a call, and the kernel asks between
// pieces of work, on that thread. The kernel needs to know nothing about
// where the request comes from.

#include <cstddef>

namespace ternavik {

// Element operations between two looks for an interrupt: some
// milliseconds of work, so Ctrl-C is seen within a small fraction of a second.
inline constexpr std::size_t interrupt_round_work = std::size_t{1} << 24;

// What a poll answers "yes, stop" with: thrown out of the kernel on the
// thread that started it, and caught by whoever installed the poll. Not a
// std::exception, so no handler that reports failures takes it for one.
struct Interrupted {};

class InterruptPoll {
public:
    virtual ~InterruptPoll() = default;
    // Called only on the installing thread; true when the run should stop.
    virtual bool stop_requested() = 0;
};

// Installs `poll` for the current thread while the scope lives.
class ScopedInterruptPoll {
public:
    explicit ScopedInterruptPoll(InterruptPoll& poll);
    ~ScopedInterruptPoll();
    ScopedInterruptPoll(const ScopedInterruptPoll&) = delete;
    ScopedInterruptPoll& operator=(const ScopedInterruptPoll&) = delete;

private:
    InterruptPoll* previous_;
};

// Between pieces of work: throws Interrupted when the poll installed on
// this thread says so; does nothing when none is installed.
void check_interrupt();

}  // namespace ternavik
