#pragma once
#include <cstddef>

namespace ternavik {

// Number of worker threads of the process-wide pool; the first call starts it.
std::size_t pool_size();

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
