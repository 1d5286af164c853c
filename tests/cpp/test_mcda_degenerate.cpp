// Degenerate data in the decision kernels: constant and all-zero criteria,
// an alternative worst on every criterion, cost shares that underflow, and
// tied rankings in Kendall's tau. Each has a defined, finite result.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/mcda/methods.hpp"
#include "core/mcda/normalization.hpp"
#include "core/mcda/rank_correlation.hpp"

namespace ternavik::mcda {
namespace {

struct Problem {
    std::vector<double> x, w;
    std::vector<std::int64_t> kinds;
    std::size_t n, m;
    MethodInput input() const {
        return {{reinterpret_cast<const char*>(x.data()), n, m,
                 static_cast<std::ptrdiff_t>(m * 8), 8},
                {reinterpret_cast<const char*>(w.data()), 1, m, static_cast<std::ptrdiff_t>(m * 8),
                 8},
                {reinterpret_cast<const char*>(kinds.data()), m, 8}};
    }
};

bool all_finite(const std::vector<double>& v) {
    for (double e : v)
        if (!std::isfinite(e)) return false;
    return true;
}

TEST(McdaDegenerate, ConstantAndZeroColumnsNormaliseToFiniteEqualValues) {
    struct Case {
        Normalization method;
        double value, expected;
    };
    for (const Case& c : {Case{Normalization::vector, 0.0, 0.0}, Case{Normalization::max, 0.0, 1.0},
                          Case{Normalization::enhanced_accuracy, 5.0, 1.0},
                          Case{Normalization::logarithmic, 1.0, 1.0 / 3.0}}) {
        double column[] = {c.value, c.value, c.value};
        ASSERT_TRUE(normalize_column(c.method, column, 3, IndicatorKind::Benefit));
        for (double v : column) EXPECT_EQ(v, c.expected) << static_cast<int>(c.method);
    }
}

TEST(McdaDegenerate, EdasOnAnAllEqualMatrixScoresOneHalf) {
    const Problem p{{2.0, 0.0, 2.0, 0.0, 2.0, 0.0}, {0.5, 0.5}, {1, 0}, 3, 2};
    auto scores = edas(p.input());
    ASSERT_TRUE(scores.ok());
    EXPECT_EQ(scores.value(), std::vector<double>(3, 0.5));
}

TEST(McdaDegenerate, CocosoStaysFiniteWhenOneAlternativeIsWorstEverywhere) {
    // Row 3 is worst on both criteria: S = P = 0 there.
    const Problem p{{250, 16, 200, 16, 300, 32, 310, 8}, {0.5, 0.5}, {0, 1}, 4, 2};
    auto scores = cocoso(p.input(), 0.5);
    ASSERT_TRUE(scores.ok());
    EXPECT_TRUE(all_finite(scores.value()));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_GT(scores.value()[i], scores.value()[3]);
}

TEST(McdaDegenerate, CoprasTakesTheLimitWhenCostSharesUnderflow) {
    const Problem p{{1.0, 9e15, 2.0, 1.0, 3.0, 2.2250738585072014e-308}, {0.5, 0.5}, {1, 0}, 3, 2};
    auto scores = copras(p.input());
    ASSERT_TRUE(scores.ok());
    EXPECT_TRUE(all_finite(scores.value()));
    EXPECT_EQ(scores.value()[2], 1.0);  // the vanishing cost share is the best
}

TEST(RankCorrelationTies, KendallIsTauBWithTiesAndTauAWithout) {
    const double x[] = {1, 2, 2, 4};
    const double y[] = {1, 3, 2, 4};
    // C - D = 5 of 6 pairs (the pair tied in x counts for neither); tau-b
    // divides by sqrt((6 - 1)(6 - 0)).
    EXPECT_DOUBLE_EQ(rank_coefficient(RankCoefficient::kendall_tau, x, y, 4), 5.0 / std::sqrt(30.0));
    const double z[] = {1, 2, 3, 4};
    EXPECT_EQ(rank_coefficient(RankCoefficient::kendall_tau, z, y, 4), (2.0 / 12.0) * 4.0);
}

}  // namespace
}  // namespace ternavik::mcda
