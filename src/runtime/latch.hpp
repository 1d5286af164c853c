#pragma once
#include <atomic>
#include <cstdint>

#include "runtime/futex.hpp"

namespace ternavik {

// One-shot completion flag with a single waiter. Setting it publishes every
// write made before set() to the thread that sees is_set().
class Latch {
public:
    bool is_set() const { return state_.load(std::memory_order_acquire) == set_state; }

    void set() {
        // Once the state is set the waiter may return and destroy the latch;
        // a wake on the stale address is harmless.
        if (state_.exchange(set_state, std::memory_order_acq_rel) == sleeping_state)
            futex_wake(state_, 1);
    }

    // Blocks without spinning until set() has been called.
    void sleep_until_set() {
        std::uint32_t expected = pending_state;
        state_.compare_exchange_strong(expected, sleeping_state, std::memory_order_acq_rel);
        while (!is_set()) futex_wait(state_, sleeping_state);
    }

private:
    static constexpr std::uint32_t pending_state = 0;
    static constexpr std::uint32_t set_state = 1;
    static constexpr std::uint32_t sleeping_state = 2;
    std::atomic<std::uint32_t> state_{pending_state};
};

}  // namespace ternavik
