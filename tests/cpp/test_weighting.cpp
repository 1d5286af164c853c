#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/mcda/rank_correlation.hpp"
#include "core/mcda/row_blocks.hpp"
#include "core/mcda/weighting.hpp"

namespace ternavik {
namespace {

StridedMatrix row_major(const std::vector<double>& v, std::size_t rows, std::size_t cols) {
    return {reinterpret_cast<const char*>(v.data()), rows, cols,
            static_cast<std::ptrdiff_t>(cols * sizeof(double)), sizeof(double)};
}

StridedVector<std::int64_t> codes_of(const std::vector<std::int64_t>& v) {
    return {reinterpret_cast<const char*>(v.data()), v.size(), sizeof(std::int64_t)};
}

// Concordant minus discordant and untied pairs, one pair at a time.
PairCounts brute_force_pairs(const std::vector<double>& x, const std::vector<double>& y) {
    PairCounts counts{0, 0};
    for (std::size_t i = 0; i < x.size(); ++i) {
        for (std::size_t j = i + 1; j < x.size(); ++j) {
            const int sx = (x[i] > x[j]) - (x[i] < x[j]);
            const int sy = (y[i] > y[j]) - (y[i] < y[j]);
            counts.difference += sx * sy;
            counts.untied += sx * sy != 0;
        }
    }
    return counts;
}

TEST(RankCorrelation, PairCountsMatchEveryPairWithTies) {
    std::mt19937_64 rng(11);
    for (std::size_t n : {0, 1, 2, 7, 64, 301}) {
        for (int spread : {2, 5, 1000}) {
            std::vector<double> x(n), y(n);
            for (std::size_t i = 0; i < n; ++i) {
                x[i] = static_cast<double>(rng() % spread);
                y[i] = static_cast<double>(rng() % spread);
            }
            const PairCounts fast = count_pairs(x.data(), y.data(), n);
            const PairCounts slow = brute_force_pairs(x, y);
            EXPECT_EQ(fast.difference, slow.difference) << n << " " << spread;
            EXPECT_EQ(fast.untied, slow.untied) << n << " " << spread;
        }
    }
}

TEST(RowBlocks, SumsBlockByBlockInRowOrder) {
    // Rows of 1, then 1e16: within a block 1e16 + 1 loses the 1, so the
    // result shows where the blocks start.
    const std::size_t n = 2 * reduction_rows + 3;
    std::vector<double> v(n, 1.0);
    v[0] = 1e16;
    v[reduction_rows] = 1e16;
    double total = 0.0;
    reduce_rows(row_major(v, n, 1), 1, [](const double* x, double* acc) { acc[0] += x[0]; },
                &total);
    double expected = 0.0;
    for (std::size_t b = 0; b < n; b += reduction_rows) {
        double block = 0.0;
        for (std::size_t i = b; i < n && i < b + reduction_rows; ++i) block += v[i];
        expected += block;
    }
    EXPECT_EQ(total, expected);
    // Wide reductions take bigger blocks so their partial sums stay bounded.
    EXPECT_EQ(rows_per_block(100000, 16), reduction_rows);
    EXPECT_EQ(rows_per_block(1000000, std::size_t{1} << 20), 1000000u / 8);
}

TEST(Weighting, ConstantCriteriaGiveEqualWeightsAndNaNPropagates) {
    const std::vector<double> flat = {3, 3, 3, 3, 3, 3};
    const std::vector<std::int64_t> codes = {1, 0};
    for (std::uint64_t code = 1; code < weighting_count; ++code) {
        if (code == static_cast<std::uint64_t>(Weighting::merec)) continue;  // every ratio is 1
        auto w = objective_weights(static_cast<Weighting>(code), row_major(flat, 3, 2),
                                   codes_of(codes));
        ASSERT_TRUE(w.ok());
        EXPECT_EQ(w.value(), (std::vector<double>{0.5, 0.5})) << code;
    }
    const std::vector<double> gap = {1, 2, NAN, 4, 5, 7};
    for (std::uint64_t code = 1; code < weighting_count; ++code) {
        if (code == static_cast<std::uint64_t>(Weighting::minmax_entropy)) continue;
        auto w = objective_weights(static_cast<Weighting>(code), row_major(gap, 3, 2),
                                   codes_of(codes));
        ASSERT_TRUE(w.ok());
        EXPECT_TRUE(std::isnan(w.value()[0]) && std::isnan(w.value()[1])) << code;
    }
}

TEST(Weighting, TooFewAlternativesIsAValueError) {
    const std::vector<double> one = {1, 2};
    const std::vector<std::int64_t> codes = {1, 1};
    auto w = objective_weights(Weighting::critic, row_major(one, 1, 2), codes_of(codes));
    ASSERT_FALSE(w.ok());
    EXPECT_EQ(w.error().kind, ErrorKind::value_error);
}

}  // namespace
}  // namespace ternavik
