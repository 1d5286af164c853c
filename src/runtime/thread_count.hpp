#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ternavik {

// Parses a thread-count variable: optional '+', one or more decimal digits,
// nothing else, fitting in 64 bits.
std::optional<std::uint64_t> parse_thread_count(std::string_view text);

// The pool size for the given values of RAYON_NUM_THREADS and
// RAYON_RS_NUM_CPUS (nullptr when unset) and the processor count.
std::size_t thread_count_from_env(const char* num_threads, const char* rs_num_cpus,
                                  std::size_t processor_count);

}  // namespace ternavik
