#include "runtime/processor_count.hpp"

#include <sched.h>
#include <thread>

namespace ternavik {

std::size_t processor_count() {
    // The affinity mask honours taskset and container CPU limits.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<std::size_t>(count);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}

}  // namespace ternavik
