#include "runtime/futex.hpp"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ternavik {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
              std::atomic<std::uint32_t>::is_always_lock_free);

void futex_wait(std::atomic<std::uint32_t>& word, std::uint32_t expected) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected,
            nullptr, nullptr, 0);
}

void futex_wake(std::atomic<std::uint32_t>& word, int count) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, count,
            nullptr, nullptr, 0);
}

}  // namespace ternavik
