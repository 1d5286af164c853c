#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "core/mcda/loops.hpp"
#include "core/mcda/methods.hpp"
#include "core/mcda/normalization.hpp"

#include "mcda_problem.hpp"

namespace ternavik::mcda {
namespace {

TEST(McdaLoops, SmallWorkRunsOnTheCallingThreadInOnePiece) {
    const auto caller = std::this_thread::get_id();
    int pieces = 0;
    run_split(50, 50 * 5, [&](std::size_t begin, std::size_t end) {
        ++pieces;
        EXPECT_EQ(std::this_thread::get_id(), caller);
        EXPECT_EQ(begin, 0u);
        EXPECT_EQ(end, 50u);
    });
    EXPECT_EQ(pieces, 1);
}

TEST(McdaNormalization, HandValuesByKind) {
    double benefit[] = {1.0, 2.0, 4.0};
    ASSERT_TRUE(normalize_column(Normalization::minmax, benefit, 3, IndicatorKind::Benefit));
    EXPECT_EQ(benefit[1], 1.0 / 3.0);
    double cost[] = {1.0, 2.0, 4.0};
    ASSERT_TRUE(normalize_column(Normalization::linear, cost, 3, IndicatorKind::Cost));
    EXPECT_EQ(cost[2], 0.25);
    double constant[] = {7.0, 7.0};
    ASSERT_TRUE(normalize_column(Normalization::minmax, constant, 2, IndicatorKind::Cost));
    EXPECT_EQ(constant[0], 1.0);
    double shares[] = {1.0, 3.0};
    ASSERT_TRUE(normalize_column(Normalization::sum, shares, 2, IndicatorKind::Cost));
    EXPECT_EQ(shares[0], 1.0 / (1.0 + 1.0 / 3.0));
}

TEST(McdaNormalization, DomainFailuresNameTheCriterion) {
    const Problem p{{1.0, 0.0, 2.0, 1.0}, {0.5, 0.5}, {1, 1}, 2, 2, 1};
    auto out = normalize_matrix(p.input().data, criterion_kinds(p.input()), Normalization::sum);
    ASSERT_FALSE(out.ok());
    EXPECT_EQ(out.error().message, "criterion #1: the sum normalisation needs every value > 0");
}

TEST(McdaPromethee, PreferenceFunctionsAtKnownDifferences) {
    // Two alternatives 3 apart on one benefit criterion, q = 1, p = 4, s = 3.
    const Problem p{{0.0, 3.0}, {1.0}, {1}, 2, 1, 1};
    const std::vector<double> q{1.0}, pp{4.0}, s{3.0};
    const double expected[] = {1.0, 1.0, 0.75, 0.5, 2.0 / 3.0, 1.0 - std::exp(-9.0 / 18.0)};
    for (std::int64_t f = 0; f < preference_count; ++f) {
        const std::vector<std::int64_t> function{f};
        const PreferenceFunctions pref{{reinterpret_cast<const char*>(function.data()), 1, 8},
                                       {reinterpret_cast<const char*>(q.data()), 1, 8},
                                       {reinterpret_cast<const char*>(pp.data()), 1, 8},
                                       {reinterpret_cast<const char*>(s.data()), 1, 8}};
        auto flows = promethee2(p.input(), pref);
        ASSERT_TRUE(flows.ok());
        EXPECT_DOUBLE_EQ(flows.value()[1], expected[f]) << "function " << f;
        EXPECT_DOUBLE_EQ(flows.value()[0], -expected[f]) << "function " << f;
    }
}

TEST(McdaMethods, NoCriteriaGiveDefinedResultsWithoutCrashing) {
    const Problem p{{}, {}, {}, 3, 0, 2};
    auto closeness = topsis(p.input(), Normalization::vector);
    ASSERT_TRUE(closeness.ok());
    EXPECT_EQ(closeness.value(), std::vector<double>(6, 0.5));
    auto vik = vikor(p.input(), 0.5);
    ASSERT_TRUE(vik.ok());
    EXPECT_EQ(vik.value().q, std::vector<double>(6, 0.0));
    for (auto method : {mcda::edas, mcda::moora, mcda::mabac, mcda::mairca, mcda::marcos,
                        mcda::copras, mcda::aras})
        EXPECT_TRUE(method(p.input()).ok());
}

TEST(McdaMethods, ShapeMismatchIsAValueError) {
    const Problem p{{1.0, 2.0, 3.0, 4.0}, {1.0}, {1, 1}, 2, 2, 1};
    MethodInput input = p.input();
    input.weights.cols = 1;
    auto out = mabac(input);
    ASSERT_FALSE(out.ok());
    EXPECT_EQ(out.error().kind, ErrorKind::value_error);
}

}  // namespace
}  // namespace ternavik::mcda
