#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ternavik {

// Number of worker threads of the process-wide pool; the first call starts it.
std::size_t pool_size();

// Parses a thread-count variable: optional '+', one or more decimal digits,
// nothing else, fitting in 64 bits.
std::optional<std::uint64_t> parse_thread_count(std::string_view text);

// The pool size for the given values of RAYON_NUM_THREADS and
// RAYON_RS_NUM_CPUS (nullptr when unset) and the processor count.
std::size_t thread_count_from_env(const char* num_threads, const char* rs_num_cpus,
                                  std::size_t processor_count);

// Body of a loop: processes the indices [begin, end) in increasing order.
using PieceFunction = void (*)(void* context, std::size_t begin, std::size_t end);

// Runs `piece` over contiguous pieces covering [0, n) exactly once and
// returns when all are done. n >= 2 runs on the workers while the caller
// waits; n <= 1 runs on the caller. A failure thrown by a piece is rethrown
// here after the whole loop has stopped.
void run_parallel_pieces(std::size_t n, PieceFunction piece, void* context);

// Convenience wrapper: body(begin, end) for each piece.
template <class Body>
void run_parallel(std::size_t n, Body&& body) {
    run_parallel_pieces(
        n,
        [](void* context, std::size_t begin, std::size_t end) {
            (*static_cast<Body*>(context))(begin, end);
        },
        const_cast<void*>(static_cast<const void*>(&body)));
}

}  // namespace ternavik
