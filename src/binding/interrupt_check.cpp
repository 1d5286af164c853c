#include "binding/interrupt_check.hpp"

#include <time.h>
#include <unistd.h>

namespace ternavik {

namespace {

// CPython runs signal handlers on the thread that started the interpreter,
// which in a Python program is the process's first thread (and, in a forked
// child, the thread that forked): the one whose id is the process id.
bool on_signal_thread() { return gettid() == getpid(); }

std::optional<PyErr> handle_signals() {
    if (PyErr_CheckSignals() == 0) return std::nullopt;
    return PyErr::fetch();
}

}  // namespace

InterruptCheck::InterruptCheck(GilRelease* released)
    : released_(released),
      signal_thread_(on_signal_thread()),
      next_check_ns_(coarse_now_ns() + std::chrono::nanoseconds(interval).count()) {}

// The coarse clock is read without a system call and costs a few
// nanoseconds, so polling every generation does not show in a run.
std::int64_t InterruptCheck::coarse_now_ns() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::optional<PyErr> InterruptCheck::run_handlers() {
    if (released_ == nullptr) return handle_signals();
    return released_->with_lock(handle_signals);
}

}  // namespace ternavik
