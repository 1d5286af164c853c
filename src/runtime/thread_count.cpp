#include <algorithm>

#include "runtime/thread_count.hpp"

namespace ternavik {

namespace {

constexpr std::uint64_t max_pool_size = 65535;

// A positive count from one variable, 0 when it asks for the processor
// count, nullopt when it is unset or does not parse.
std::optional<std::uint64_t> read_count(const char* text) {
    if (text == nullptr) return std::nullopt;
    return parse_thread_count(text);
}

}  // namespace

std::optional<std::uint64_t> parse_thread_count(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::size_t thread_count_from_env(const char* num_threads, const char* rs_num_cpus,
                                  std::size_t processor_count) {
    // The second variable counts only when the first is missing or unparsable.
    std::optional<std::uint64_t> count = read_count(num_threads);
    if (!count) count = read_count(rs_num_cpus);
    std::uint64_t size = count.value_or(0);
    if (size == 0) size = std::max<std::uint64_t>(processor_count, 1);
    return static_cast<std::size_t>(std::min(size, max_pool_size));
}

}  // namespace ternavik
