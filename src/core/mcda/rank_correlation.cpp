#include "core/mcda/rank_correlation.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "core/decision_matrix.hpp"
#include "core/mcda/lane_sum.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

double spearman(const double* x, const double* y, std::size_t n) {
    const double nd = static_cast<double>(n);
    const double mx = lane_sum(n, [x](std::size_t i) { return x[i]; }) / nd;
    const double my = lane_sum(n, [y](std::size_t i) { return y[i]; }) / nd;
    const double sxy = lane_sum(n, [=](std::size_t i) { return (x[i] - mx) * (y[i] - my); });
    const double sxx = lane_sum(n, [=](std::size_t i) { return (x[i] - mx) * (x[i] - mx); });
    const double syy = lane_sum(n, [=](std::size_t i) { return (y[i] - my) * (y[i] - my); });
    return sxy / (std::sqrt(sxx) * std::sqrt(syy));
}

// N^4 + N^3 - N^2 - N = N (N - 1) (N + 1)^2, exact in 128 bits, rounded once.
double weighted_spearman_denominator(std::size_t n) {
    const unsigned __int128 big = n;
    const unsigned __int128 value = big * (big + 1) * (big + 1) * (n > 0 ? big - 1 : 0);
    return static_cast<double>(value);
}

// 1 - 6 sum (x - y)^2 ((N - x + 1) + (N - y + 1)) / (N^4 + N^3 - N^2 - N).
double weighted_spearman(const double* x, const double* y, std::size_t n) {
    const double nd = static_cast<double>(n);
    const double sum = lane_sum(n, [=](std::size_t i) {
        const double d = x[i] - y[i];
        return d * d * ((nd - x[i] + 1.0) + (nd - y[i] + 1.0));
    });
    return 1.0 - (6.0 * sum) / weighted_spearman_denominator(n);
}

// WS = 1 - sum 2^-x_i |x_i - y_i| / max(|1 - x_i|, |N - x_i|).
double rank_similarity(const double* x, const double* y, std::size_t n) {
    const double nd = static_cast<double>(n);
    const double sum = lane_sum(n, [=](std::size_t i) {
        const double far = std::max(std::fabs(1.0 - x[i]), std::fabs(nd - x[i]));
        return std::exp2(-x[i]) * std::fabs(x[i] - y[i]) / far;
    });
    return 1.0 - sum;
}

// Pairs tied within each run of equal values of a sorted sequence.
template <class Equal>
std::int64_t tied_pairs(std::size_t n, Equal equal) {
    std::int64_t pairs = 0;
    std::size_t start = 0;
    for (std::size_t i = 1; i <= n; ++i) {
        if (i == n || !equal(i - 1, i)) {
            const auto run = static_cast<std::int64_t>(i - start);
            pairs += run * (run - 1) / 2;
            start = i;
        }
    }
    return pairs;
}

// Sorts v ascending by bottom-up merging and returns the number of pairs
// i < j with v[i] > v[j] (strictly) in the original order.
std::int64_t sort_counting_inversions(std::vector<double>& v) {
    const std::size_t n = v.size();
    std::vector<double> buffer(n);
    std::int64_t inversions = 0;
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            const std::size_t mid = std::min(lo + width, n);
            const std::size_t hi = std::min(lo + 2 * width, n);
            std::size_t a = lo, b = mid, out = lo;
            while (a < mid && b < hi) {
                if (v[b] < v[a]) {
                    inversions += static_cast<std::int64_t>(mid - a);
                    buffer[out++] = v[b++];
                } else {
                    buffer[out++] = v[a++];
                }
            }
            while (a < mid) buffer[out++] = v[a++];
            while (b < hi) buffer[out++] = v[b++];
        }
        v.swap(buffer);
    }
    return inversions;
}

bool any_nan(const double* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] != x[i]) return true;
    }
    return false;
}

}  // namespace

// Knight's method: order by (x, y); the inversions left in y are exactly the
// discordant pairs, and tie counts give the untied ones.
PairCounts count_pairs(const double* x, const double* y, std::size_t n) {
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [x, y](std::size_t a, std::size_t b) {
        return x[a] < x[b] || (x[a] == x[b] && y[a] < y[b]);
    });
    const std::int64_t tied_x =
        tied_pairs(n, [&](std::size_t a, std::size_t b) { return x[order[a]] == x[order[b]]; });
    const std::int64_t tied_both = tied_pairs(n, [&](std::size_t a, std::size_t b) {
        return x[order[a]] == x[order[b]] && y[order[a]] == y[order[b]];
    });
    std::vector<double> ys(n);
    for (std::size_t i = 0; i < n; ++i) ys[i] = y[order[i]];
    const std::int64_t discordant = sort_counting_inversions(ys);
    const std::int64_t tied_y =
        tied_pairs(n, [&](std::size_t a, std::size_t b) { return ys[a] == ys[b]; });
    const auto all = static_cast<std::int64_t>(n) * static_cast<std::int64_t>(n > 0 ? n - 1 : 0) / 2;
    const std::int64_t untied = all - tied_x - tied_y + tied_both;
    return PairCounts{untied - 2 * discordant, untied, tied_x, tied_y};
}

double rank_coefficient(RankCoefficient which, const double* x, const double* y, std::size_t n) {
    if (any_nan(x, n) || any_nan(y, n)) return not_a_number;
    switch (which) {
        case RankCoefficient::spearman: return spearman(x, y, n);
        case RankCoefficient::weighted_spearman: return weighted_spearman(x, y, n);
        case RankCoefficient::rank_similarity: return rank_similarity(x, y, n);
        case RankCoefficient::kendall_tau: {
            // tau-b; without ties it is tau-a, kept in tau-a's operation order
            // so untied rankings give the bits they always gave.
            const PairCounts counts = count_pairs(x, y, n);
            const double pairs = static_cast<double>(n) * static_cast<double>(n > 0 ? n - 1 : 0);
            if (counts.tied_x == 0 && counts.tied_y == 0)
                return (2.0 / pairs) * static_cast<double>(counts.difference);
            const double half = pairs / 2.0;
            const double spread_x = half - static_cast<double>(counts.tied_x);
            const double spread_y = half - static_cast<double>(counts.tied_y);
            return static_cast<double>(counts.difference) / std::sqrt(spread_x * spread_y);
        }
        default: {
            const PairCounts counts = count_pairs(x, y, n);
            return static_cast<double>(counts.difference) / static_cast<double>(counts.untied);
        }
    }
}

std::vector<double> coefficient_matrix(RankCoefficient which, const StridedMatrix& rankings) {
    const std::size_t k = rankings.rows;
    const std::size_t n = rankings.cols;
    std::vector<double> rows(k * n);
    for (std::size_t a = 0; a < k; ++a) {
        for (std::size_t i = 0; i < n; ++i) rows[a * n + i] = rankings.at(a, i);
    }
    std::vector<double> result(k * k);
    run_parallel(k * k, [&](std::size_t begin, std::size_t end) {
        for (std::size_t e = begin; e < end; ++e) {
            const double* x = rows.data() + e / k * n;
            const double* y = rows.data() + e % k * n;
            result[e] = rank_coefficient(which, x, y, n);
        }
    });
    return result;
}

}  // namespace ternavik
