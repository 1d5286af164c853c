#pragma once
#include <atomic>
#include <cstdint>

namespace ternavik {

// Sleeps while `word` holds `expected` (may return spuriously).
void futex_wait(std::atomic<std::uint32_t>& word, std::uint32_t expected);

// Wakes up to `count` threads sleeping on `word`.
void futex_wake(std::atomic<std::uint32_t>& word, int count);

}  // namespace ternavik
