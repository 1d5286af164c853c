#pragma once
#include <chrono>
#include <thread>

namespace ternavik {

// How long an idle thread keeps polling before it sleeps: long enough to
// catch a loop entered right after the previous one, short enough that an
// idle pool costs no measurable CPU.
inline constexpr std::chrono::microseconds spin_duration{50};

// How long a thread outside the pool polls for its loop to finish.
inline constexpr std::chrono::microseconds caller_spin_duration{10};

// Tells the core we are busy-waiting (saves power, frees the sibling thread).
inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Polls `ready` for up to `duration`, yielding the processor every few
// polls; true as soon as it holds.
template <class Predicate>
bool spin_until(Predicate ready, std::chrono::nanoseconds duration = spin_duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    for (;;) {
        for (int i = 0; i < 32; ++i) {
            if (ready()) return true;
            cpu_relax();
        }
        // With as many workers as processors plus the waiting caller, some
        // thread that has work to finish may be queued on this processor.
        std::this_thread::yield();
        if (std::chrono::steady_clock::now() >= deadline) return ready();
    }
}

}  // namespace ternavik
