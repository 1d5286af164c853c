// Rank acceptability counts for stochastic weights. Each score row is sorted
// once (n log n) rather than compared pairwise (n^2): with a hundred
// alternatives and a hundred thousand rows this is the whole cost once the
// scores exist.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>

#include "core/mcda/outranking.hpp"
#include "core/mcda/row_blocks.hpp"

namespace ternavik::mcda {

namespace {

// Rows per chunk: fixed, so the central-weight sums are formed the same way
// whatever the number of threads.
constexpr std::size_t chunk_rows = 1024;

// An unsigned integer that orders like the key best first: the bits of
// sign * score, flipped so that integer order is numeric order, with -0.0
// made +0.0 (they tie) and NaN the largest value of all (ranked last).
std::uint64_t order_key(double score, double sign) {
    if (std::isnan(score)) return ~std::uint64_t{0};
    const double key = sign * score + 0.0;
    std::uint64_t bits;
    std::memcpy(&bits, &key, sizeof bits);
    return bits >> 63 ? ~bits : bits | (std::uint64_t{1} << 63);
}

struct Keyed {
    std::uint64_t key;
    std::uint32_t index;
};

// Adds one score row's ranks into counts and, for the alternatives ranked
// first, its weights into central. After sorting by key, an alternative's
// rank is the position of the first key equal to its own: the "min" rule.
void count_row(const double* scores, const double* w, std::size_t n, std::size_t m,
               double sign, Keyed* order, double* counts, double* central) {
    for (std::size_t i = 0; i < n; ++i)
        order[i] = Keyed{order_key(scores[i], sign), static_cast<std::uint32_t>(i)};
    // Only the ranks matter, not where equal keys land, so no index tie-break.
    std::sort(order, order + n, [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
    std::size_t rank = 0;
    for (std::size_t p = 0; p < n; ++p) {
        if (p > 0 && order[p].key != order[p - 1].key) rank = p;
        const std::size_t i = order[p].index;
        counts[i * n + rank] += 1.0;
        if (rank == 0)
            for (std::size_t j = 0; j < m; ++j) central[i * m + j] = central[i * m + j] + w[j];
    }
}

}  // namespace

Outcome<RankCounts> rank_counts(const StridedMatrix& scores, const StridedMatrix& weights,
                                bool higher_is_better) {
    const std::size_t samples = scores.rows, n = scores.cols, m = weights.cols;
    if (weights.rows != samples)
        return CoreError{ErrorKind::value_error,
                         "scores and weights need one row per sample each"};
    if (n == 0) return CoreError{ErrorKind::value_error, "scores need at least one alternative"};
    const double sign = higher_is_better ? -1.0 : 1.0;
    const std::size_t chunks = (samples + chunk_rows - 1) / chunk_rows;
    // Counts are whole numbers far below 2^53, exact in any order, so each
    // piece of the pool keeps its own and adds them in under the lock; the
    // weight sums are not, so they keep one partial per fixed chunk.
    std::vector<double> central(chunks * n * m, 0.0);
    RankCounts total{std::vector<double>(n * n, 0.0), std::vector<double>(n * m, 0.0)};
    std::mutex merging;
    run_parallel(chunks, [&](std::size_t begin, std::size_t end) {
        std::vector<Keyed> order(n);
        std::vector<double> row(n), w(m), counts(n * n, 0.0);
        for (std::size_t c = begin; c < end; ++c) {
            const std::size_t last = std::min(samples, (c + 1) * chunk_rows);
            for (std::size_t k = c * chunk_rows; k < last; ++k) {
                load_row(scores, k, row.data());
                load_row(weights, k, w.data());
                count_row(row.data(), w.data(), n, m, sign, order.data(), counts.data(),
                          central.data() + c * n * m);
            }
        }
        const std::lock_guard<std::mutex> hold(merging);
        for (std::size_t e = 0; e < n * n; ++e) total.counts[e] += counts[e];
    });
    for (std::size_t c = 0; c < chunks; ++c)
        for (std::size_t e = 0; e < n * m; ++e)
            total.central[e] = total.central[e] + central[c * n * m + e];
    return total;
}

}  // namespace ternavik::mcda
