#pragma once
#include <chrono>
#include <cstdint>
#include <optional>

#include "binding/errors.hpp"

namespace ternavik {

// Lets a long run notice Ctrl-C and other signals. CPython runs signal
// handlers only on its main thread and only between bytecodes, so a native
// loop (or a Python callable that runs no bytecode) never gives them a
// chance until it returns. Call poll() between units of work: it reads a
// coarse clock, and at most once per `interval` runs the pending handlers,
// taking the interpreter lock back for that moment if the run gave it up.
class InterruptCheck {
public:
    static constexpr std::chrono::milliseconds interval{50};

    // `released`: the scope through which this thread gave up the lock, or
    // nullptr when the thread holds it during poll().
    explicit InterruptCheck(GilRelease* released = nullptr);

    // The exception a signal handler raised (KeyboardInterrupt for Ctrl-C),
    // if any; the run should stop and hand it to its caller.
    std::optional<PyErr> poll() {
        if (!signal_thread_) return std::nullopt;
        const std::int64_t now = coarse_now_ns();
        if (now < next_check_ns_) return std::nullopt;
        next_check_ns_ = now + std::chrono::nanoseconds(interval).count();
        return run_handlers();
    }

private:
    static std::int64_t coarse_now_ns();
    std::optional<PyErr> run_handlers();

    GilRelease* released_;
    // Only the thread that handles signals has anything to look for.
    bool signal_thread_;
    std::int64_t next_check_ns_;
};

}  // namespace ternavik
