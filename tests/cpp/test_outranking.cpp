#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "core/mcda/outranking.hpp"

#include "mcda_problem.hpp"

namespace ternavik::mcda {
namespace {

TEST(Gra, HandGradesAndWeightScale) {
    // Benefit, cost: r = [[0, 1], [0.5, 0], [1, 0.5]], Delta = 1 - r,
    // Delta_min 0, Delta_max 1, zeta 0.5: xi = 0.5 / (Delta + 0.5).
    const Problem p{{1, 2, 2, 4, 3, 3}, {1, 3, 10, 30}, {1, 0}, 3, 2, 2};
    auto grades = gra(p.input(), 0.5);
    ASSERT_TRUE(grades.ok());
    const double xi[3][2] = {{1.0 / 3.0, 1.0}, {0.5, 1.0 / 3.0}, {1.0, 0.5}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(grades.value()[i], 0.25 * xi[i][0] + 0.75 * xi[i][1]);
        EXPECT_EQ(grades.value()[i], grades.value()[3 + i]) << "weights x10 change nothing";
    }
}

TEST(Gra, ConstantMatrixTiesAtOneAndZetaIsChecked) {
    const Problem p{{5, 5, 5, 5}, {1, 1}, {1, 0}, 2, 2, 1};
    auto grades = gra(p.input(), 0.5);
    ASSERT_TRUE(grades.ok());
    EXPECT_EQ(grades.value()[0], 1.0);
    EXPECT_EQ(grades.value()[1], 1.0);
    for (double zeta : {0.0, -0.5, 1.5, std::nan("")}) EXPECT_FALSE(gra(p.input(), zeta).ok());
}

TEST(PrometheeFlows, NetFlowIsExactlyTheDifference) {
    const Problem p{{1, 9, 3, 2, 7, 4, 5, 5, 8, 1, 6, 2}, {0.2, 0.5, 0.3, 1, 1, 1}, {1, 0, 1}, 4, 3, 2};
    const std::vector<std::int64_t> functions{0, 2, 4};
    const std::vector<double> q{0, 0, 1}, pp{0, 3, 4}, s{1, 1, 1};
    const PreferenceFunctions pref{{reinterpret_cast<const char*>(functions.data()), 3, 8},
                                   {reinterpret_cast<const char*>(q.data()), 3, 8},
                                   {reinterpret_cast<const char*>(pp.data()), 3, 8},
                                   {reinterpret_cast<const char*>(s.data()), 3, 8}};
    auto flows = promethee_flows(p.input(), pref);
    auto net = promethee2(p.input(), pref);
    ASSERT_TRUE(flows.ok() && net.ok());
    for (std::size_t e = 0; e < 8; ++e) {
        EXPECT_EQ(net.value()[e], flows.value().positive[e] - flows.value().negative[e]);
        EXPECT_GE(flows.value().positive[e], 0.0);
    }
}

TEST(Electre1, HandOutrankingWithCostAndThresholds) {
    // a dominates b on both criteria; c beats a on the cost criterion only.
    //      benefit  cost
    // a      10      5
    // b       8      6
    // c       2      1
    const Problem p{{10, 5, 8, 6, 2, 1}, {1, 1}, {1, 0}, 3, 2, 1};
    auto out = electre1(p.input(), 0.5, 0.5);
    ASSERT_TRUE(out.ok());
    // Largest range 8 (benefit). a vs c: concordance 0.5, c beats a on cost
    // by 4 -> 0.5. b vs c: c beats b on cost by 5 -> 0.625 > d.
    const std::uint8_t expected[9] = {0, 1, 1, 0, 0, 0, 0, 0, 0};
    for (std::size_t e = 0; e < 9; ++e) EXPECT_EQ(out.value()[e], expected[e]) << e;
    auto strict = electre1(p.input(), 0.6, 0.5);
    EXPECT_EQ(strict.value()[2], 0) << "a vs c has only half the weight";
}

TEST(Electre1, ExtremeValuesStayFinite) {
    const double big = std::numeric_limits<double>::max();
    const Problem p{{-big, 1, big, 2}, {1, 1}, {1, 1}, 2, 2, 1};
    auto out = electre1(p.input(), 0.5, 0.5);
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(out.value()[1], 0) << "row 0 loses by the whole range on criterion 0";
    EXPECT_EQ(out.value()[2], 1) << "row 1 wins everywhere";
}

// The counts a straightforward pairwise model gives.
void reference_counts(const std::vector<double>& s, const std::vector<double>& w, std::size_t k,
                      std::size_t n, std::size_t m, bool higher, std::vector<double>& counts,
                      std::vector<double>& central) {
    counts.assign(n * n, 0.0);
    central.assign(n * m, 0.0);
    for (std::size_t r = 0; r < k; ++r)
        for (std::size_t i = 0; i < n; ++i) {
            std::size_t rank = 0;
            const double mine = s[r * n + i];
            for (std::size_t o = 0; o < n; ++o) {
                const double other = s[r * n + o];
                if (std::isnan(mine) ? !std::isnan(other)
                                     : !std::isnan(other) && (higher ? other > mine : other < mine))
                    ++rank;
            }
            counts[i * n + rank] += 1.0;
            if (rank == 0)
                for (std::size_t j = 0; j < m; ++j) central[i * m + j] += w[r * m + j];
        }
}

TEST(RankCounts, MatchesThePairwiseModelWithTiesAndNaN) {
    const std::size_t k = 2500, n = 6, m = 3;  // more than two fixed chunks
    std::vector<double> s(k * n), w(k * m);
    std::uint64_t state = 12345;
    auto next = [&] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    for (double& v : s) v = std::floor(next() * 4.0);  // many ties
    for (std::size_t r = 0; r < k; r += 7) s[r * n + (r % n)] = std::nan("");
    for (double& v : w) v = next();
    for (bool higher : {true, false}) {
        auto got = rank_counts(view(s, k, n), view(w, k, m), higher);
        ASSERT_TRUE(got.ok());
        std::vector<double> counts, central;
        reference_counts(s, w, k, n, m, higher, counts, central);
        EXPECT_EQ(got.value().counts, counts);
        for (std::size_t e = 0; e < n * m; ++e)
            EXPECT_NEAR(got.value().central[e], central[e], 1e-9 * k);
        for (std::size_t i = 0; i < n; ++i) {
            double row = 0.0;
            for (std::size_t r = 0; r < n; ++r) row += got.value().counts[i * n + r];
            EXPECT_EQ(row, static_cast<double>(k));
        }
    }
}

TEST(RankCounts, RefusesMismatchedRows) {
    const std::vector<double> s(6), w(4);
    EXPECT_FALSE(rank_counts(view(s, 3, 2), view(w, 2, 2), true).ok());
}

// ELECTRE III's thresholds as views of vectors the test owns.
struct Thresholds {
    std::vector<double> q, p, v;
    PseudoCriteria views() const {
        auto of = [](const std::vector<double>& x) {
            return StridedVector<double>{reinterpret_cast<const char*>(x.data()), x.size(), 8};
        };
        return {of(q), of(p), of(v)};
    }
};

TEST(Electre3, HandCredibilityWithRampsAndVeto) {
    //      benefit  cost     f = (10, -5), (8, -6), (2, -1)
    // a      10      5       q = 1, p = 3 on both; v = 8 on the first, none on the second
    // b       8      6
    // c       2      1
    const Problem pr{{10, 5, 8, 6, 2, 1}, {1, 1, 2, 0}, {1, 0}, 3, 2, 2};
    const double inf = std::numeric_limits<double>::infinity();
    const Thresholds t{{1, 1}, {3, 3}, {8, inf}};
    auto sigma = electre3_credibility(pr.input(), t.views());
    ASSERT_TRUE(sigma.ok());
    // b trails a by 2 on the first criterion: (3 - 2) / (3 - 1); c trails b
    // by 6: concordance 0.5, discordance 0.6 -> 0.5 * 0.4 / 0.5; c trails a by v.
    const double equal[9] = {1, 1, 0.5, 0.75, 1, 0.5, 0, 0.4, 1};
    for (std::size_t e = 0; e < 9; ++e) EXPECT_DOUBLE_EQ(sigma.value()[e], equal[e]) << e;
    // Second weight vector: the first criterion alone, which still vetoes.
    const double first[9] = {1, 1, 1, 0.5, 1, 1, 0, 0, 1};
    for (std::size_t e = 0; e < 9; ++e) EXPECT_DOUBLE_EQ(sigma.value()[9 + e], first[e]) << e;
}

TEST(Electre3, RefusesThresholdsOutOfOrder) {
    const Problem pr{{1, 2, 2, 1}, {1, 1}, {1, 1}, 2, 2, 1};
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    for (const Thresholds& t : {Thresholds{{2, 0}, {1, 1}, {inf, inf}},
                                Thresholds{{-1, 0}, {1, 1}, {inf, inf}},
                                Thresholds{{0, 0}, {2, 1}, {1, inf}},
                                Thresholds{{0, 0}, {nan, 1}, {inf, inf}},
                                Thresholds{{0, 0}, {inf, inf}, {inf, inf}},
                                Thresholds{{0}, {1}, {inf}}})
        EXPECT_FALSE(electre3_credibility(pr.input(), t.views()).ok());
}

TEST(Electre3, ExtremeDifferencesStayFinite) {
    const double big = std::numeric_limits<double>::max();
    const Problem pr{{-big, big}, {1}, {1}, 2, 1, 1};
    const Thresholds t{{0}, {big}, {big}};
    auto sigma = electre3_credibility(pr.input(), t.views());
    ASSERT_TRUE(sigma.ok());
    EXPECT_EQ(sigma.value()[1], 0.0) << "trails by twice the largest double: vetoed";
    EXPECT_EQ(sigma.value()[2], 1.0);
}

}  // namespace
}  // namespace ternavik::mcda
