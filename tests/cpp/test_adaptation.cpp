#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "core/de/adaptation.hpp"
#include "core/de/distributions.hpp"
#include "core/de/engine.hpp"

using namespace ternavik;

namespace {

class Sphere : public FitnessFunction {
public:
    explicit Sphere(bool writes = false) : writes_(writes) {}
    bool evaluate(double* m, std::uint64_t rows, std::uint64_t cols, double* f) override {
        for (std::uint64_t i = 0; i < rows; ++i) {
            double sum = 0.0;
            for (std::uint64_t j = 0; j < cols; ++j) {
                const double x = m[i * cols + j] - 0.25;
                sum += x * x;
                if (writes_) m[i * cols + j] = 1e6;  // must never reach the population
            }
            f[i] = sum;
        }
        return true;
    }
    bool is_native() const override { return true; }

private:
    bool writes_;
};

EngineSettings adaptive_settings(Adaptation kind, std::uint64_t pop, std::uint64_t dims,
                                 std::uint64_t budget) {
    EngineSettings s;
    s.box.pop = pop;
    s.box.dimensions = dims;
    s.box.min_bound.assign(dims, 0.0);
    s.box.max_bound.assign(dims, 1.0);
    s.scale_low.assign(dims, -2.0);
    s.scale_high.assign(dims, 3.0);
    s.bounds = BoundHandling::reinitialize;
    s.selection = Selection::feasibility;
    s.seeding = Seeding::counter;
    s.key = PhiloxKey{7, 11};
    s.donors_exclude_target = true;
    s.adaptation = kind;
    s.adaptation_budget = budget;
    return s;
}

std::vector<Standing> ranked_standings(std::uint64_t pop) {
    std::vector<Standing> s(pop);
    for (std::uint64_t i = 0; i < pop; ++i) s[i] = Standing{static_cast<double>(pop - i), 0.0};
    return s;  // the last individual is the best
}

double lehmer(const std::vector<double>& x, const std::vector<double>& w) {
    double top = 0, bottom = 0;
    for (std::size_t k = 0; k < x.size(); ++k) top += w[k] * x[k] * x[k], bottom += w[k] * x[k];
    return top / bottom;
}

}  // namespace

class AdaptiveRule : public testing::TestWithParam<Adaptation> {};

// Memories move to the weighted Lehmer means of the successful F and CR
// (halfway there under jSO), entries in turn, and every improved parent
// enters the archive.
TEST_P(AdaptiveRule, MemoriesAndArchiveLearnFromImprovementsOnly) {
    const Adaptation kind = GetParam();
    const AdaptationRule rule = rule_of(kind);
    const std::uint64_t pop = 12, dims = 3;
    Adapter a(kind, pop, dims, 10000, 4, PhiloxKey{1, 2});
    std::vector<double> expected_F = a.memory_F(), expected_CR = a.memory_CR();
    for (std::uint64_t generation = 0; generation < rule.memory_size + 1; ++generation) {
        a.prepare(generation, 100, ranked_standings(pop), Selection::feasibility);
        std::vector<double> sF, sCR, gains;
        std::vector<double> parent(dims);
        for (std::uint64_t i = 0; i < pop; ++i) {
            const bool improved = (i + generation) % 3 == 0;
            std::fill(parent.begin(), parent.end(), static_cast<double>(i));
            const double before = 10.0 + i, after = improved ? 10.0 - i : 10.0 + i;
            if (improved)
                sF.push_back(a.F()[i]), sCR.push_back(a.CR()[i]), gains.push_back(before - after);
            a.record(i, improved, improved, before, after, parent.data());
        }
        const std::uint64_t entries = rule.memory_size - (rule.fixed_last_entry ? 1 : 0);
        const std::uint64_t k = generation % entries;
        const double F_mean = lehmer(sF, gains), CR_mean = lehmer(sCR, gains);
        expected_F[k] = rule.averaged ? (expected_F[k] + F_mean) * 0.5 : F_mean;
        expected_CR[k] = rule.averaged ? (expected_CR[k] + CR_mean) * 0.5 : CR_mean;
        EXPECT_EQ(a.finish(100, pop), pop);  // a tiny share of the budget: no reduction yet
        EXPECT_EQ(a.memory_F(), expected_F);
        EXPECT_EQ(a.memory_CR(), expected_CR);
        const auto capacity =
            static_cast<std::uint64_t>(std::llround(rule.archive_rate * static_cast<double>(pop)));
        EXPECT_EQ(a.archive_size(), std::min<std::uint64_t>(capacity, 4 * (generation + 1)));
        for (std::uint64_t r = 0; r < a.archive_size(); ++r)  // parents' rows, whole
            EXPECT_TRUE(a.archive()[r * dims] == a.archive()[r * dims + 2]);
    }
    if (rule.fixed_last_entry) {
        EXPECT_EQ(a.memory_F().back(), 0.9);
        EXPECT_EQ(a.memory_CR().back(), 0.9);
    }
}

// Parameters drawn from the memories stay in their ranges; jSO's early
// stages bound F from above and CR from below.
TEST_P(AdaptiveRule, DrawnParametersRespectTheirRanges) {
    const Adaptation kind = GetParam();
    const std::uint64_t pop = 400;
    Adapter a(kind, pop, 2, 100000, 4, PhiloxKey{3, 4});
    for (std::uint64_t evaluations : {0, 30000, 55000, 90000}) {
        a.prepare(1, evaluations, ranked_standings(pop), Selection::strict);
        for (std::uint64_t i = 0; i < pop; ++i) {
            ASSERT_GT(a.F()[i], 0.0);
            ASSERT_LE(a.F()[i], 1.0);
            ASSERT_GE(a.CR()[i], 0.0);
            ASSERT_LE(a.CR()[i], 1.0);
            if (kind == Adaptation::jso && evaluations < 25000) { ASSERT_GE(a.CR()[i], 0.7); }
            if (kind == Adaptation::jso && evaluations < 50000) { ASSERT_GE(a.CR()[i], 0.6); }
            if (kind == Adaptation::jso && evaluations < 60000) { ASSERT_LE(a.F()[i], 0.7); }
        }
    }
}

// Linear population size reduction: round((min - init) / budget * nfe + init).
TEST_P(AdaptiveRule, PopulationShrinksLinearlyOverTheBudget) {
    const Adaptation kind = GetParam();
    const std::uint64_t dims = 3, pop = 54, budget = 3000;
    DeEngine engine(adaptive_settings(kind, pop, dims, budget));
    engine.draw_latin_hypercube();
    Sphere sphere;
    ASSERT_TRUE(engine.evaluate_population(sphere));
    while (engine.evaluations() + engine.settings().box.pop <= budget) {
        const std::uint64_t before = engine.evaluations();
        ASSERT_TRUE(engine.step(sphere));
        const double size = (4.0 - 54.0) / 3000.0 * static_cast<double>(engine.evaluations()) + 54.0;
        EXPECT_EQ(engine.settings().box.pop, std::max<std::uint64_t>(4, std::llround(size)))
            << "after " << before << " evaluations";
        // The survivors are the best, and the archive is no larger than allowed.
        const Adapter& adapter = *engine.adapter();
        EXPECT_LE(adapter.archive_size(),
                  static_cast<std::uint64_t>(std::llround(rule_of(kind).archive_rate *
                                                          static_cast<double>(engine.settings().box.pop))));
    }
    EXPECT_LE(engine.settings().box.pop, 5u);
    EXPECT_LT(engine.best_energy(), 1e-3);
}

INSTANTIATE_TEST_SUITE_P(SuccessHistory, AdaptiveRule,
                         testing::Values(Adaptation::lshade, Adaptation::jso));

// jDE regenerates F in [0.1, 1) and CR with probability 0.1 each, and an
// individual carries its parameters only when its trial replaced it.
TEST(Jde, ParametersRegenerateRarelyAndSurviveWithTheirTrial) {
    const std::uint64_t pop = 2000;
    Adapter a(Adaptation::jde, pop, 2, 0, 4, PhiloxKey{5, 6});
    a.prepare(0, 0, ranked_standings(pop), Selection::strict);
    std::uint64_t changed_F = 0, changed_CR = 0;
    for (std::uint64_t i = 0; i < pop; ++i) {
        changed_F += a.F()[i] != 0.5;
        changed_CR += a.CR()[i] != 0.9;
        ASSERT_TRUE(a.F()[i] == 0.5 || (a.F()[i] >= 0.1 && a.F()[i] < 1.0));
        ASSERT_TRUE(a.CR()[i] == 0.9 || (a.CR()[i] >= 0.0 && a.CR()[i] < 1.0));
    }
    EXPECT_NEAR(static_cast<double>(changed_F) / pop, 0.1, 0.03);
    EXPECT_NEAR(static_cast<double>(changed_CR) / pop, 0.1, 0.03);
    const std::vector<double> first_F = a.F(), first_CR = a.CR();
    double row[2] = {0, 0};
    for (std::uint64_t i = 0; i < pop; ++i) a.record(i, i % 2 == 0, i % 2 == 0, 1.0, 0.5, row);
    EXPECT_EQ(a.finish(10, pop), pop);
    a.prepare(1, 10, ranked_standings(pop), Selection::strict);
    std::uint64_t kept_odd = 0, odd_changed = 0;
    for (std::uint64_t i = 1; i < pop; i += 2) {
        // An odd individual's trial failed: it is back to 0.5 unless redrawn now.
        odd_changed += first_F[i] != 0.5;
        kept_odd += first_F[i] != 0.5 && a.F()[i] == first_F[i];
    }
    EXPECT_LT(kept_odd, odd_changed / 4 + 1);
    std::uint64_t kept_even = 0, even_changed = 0;
    for (std::uint64_t i = 0; i < pop; i += 2) {
        even_changed += first_F[i] != 0.5;
        kept_even += first_F[i] != 0.5 && a.F()[i] == first_F[i];
    }
    EXPECT_GT(kept_even, even_changed * 3 / 4);
}

class AdaptiveEngine : public testing::TestWithParam<Adaptation> {};

// The same key gives the same bits on one thread or on the pool, and the
// fitness's writes into the rows it sees never reach the population.
TEST_P(AdaptiveEngine, SameBitsSeriallyAndOnThePoolAndWritesStayInTheCopy) {
    auto run = [](Adaptation kind, std::uint64_t threshold, bool writes) {
        EngineSettings s = adaptive_settings(kind, 40, 6, 4000);
        s.parallel_threshold = threshold;
        DeEngine engine(s);
        engine.draw_latin_hypercube();
        Sphere sphere(writes);
        EXPECT_TRUE(engine.evaluate_population(sphere));
        for (int g = 0; g < 30; ++g) EXPECT_TRUE(engine.step(sphere));
        const std::uint64_t n = engine.settings().box.pop * 6;
        std::vector<double> out(engine.population(), engine.population() + n);
        out.insert(out.end(), engine.energies(), engine.energies() + engine.settings().box.pop);
        return out;
    };
    const Adaptation kind = GetParam();
    const std::vector<double> serial = run(kind, 1u << 30, false);
    const std::vector<double> pooled = run(kind, 0, false);
    ASSERT_EQ(serial.size(), pooled.size());
    EXPECT_EQ(std::memcmp(serial.data(), pooled.data(), serial.size() * sizeof(double)), 0);
    const std::vector<double> written = run(kind, 1u << 30, true);
    EXPECT_EQ(std::memcmp(serial.data(), written.data(), serial.size() * sizeof(double)), 0);
    for (std::size_t k = 0; k + 40 < serial.size(); ++k) {
        // Unit-cube rows: never the 1e6 the fitness wrote.
        if (k < serial.size() - 40) { EXPECT_LE(serial[k], 1.0); }
    }
}

INSTANTIATE_TEST_SUITE_P(All, AdaptiveEngine,
                         testing::Values(Adaptation::jde, Adaptation::lshade, Adaptation::jso));

// A converged unit-cube population collapses onto one point exactly, so the
// spread of its energies reaches zero.
TEST(ScaledEngine, ConvergedPopulationCollapsesExactly) {
    EngineSettings s = adaptive_settings(Adaptation::none, 25, 5, 0);
    s.mutation = Mutation::best1;
    s.dither = true;
    s.box.F = 0.5;
    s.F_high = 1.0;
    s.immediate = true;
    DeEngine engine(s);
    engine.draw_latin_hypercube();
    Sphere sphere;
    ASSERT_TRUE(engine.evaluate_population(sphere));
    RunLimits limits;
    limits.generations = 1000;
    limits.check_convergence = true;
    limits.tol = 0.01;
    EXPECT_EQ(engine.run(sphere, limits, nullptr), StopReason::converged);
    EXPECT_LT(engine.generation(), 1000u);
}

// The ziggurat's draws have the normal's moments and tail mass, and the
// ratio of two of them the Cauchy's quartiles (fixed seeds: no flakiness).
TEST(Distributions, ZigguratNormalAndCauchyHaveTheirShapes) {
    Xoshiro256pp g = counter_generator(PhiloxKey{9, 9}, Stream::adaptation, 0, 0);
    const int n = 400000;
    double sum = 0, squares = 0;
    int beyond_two = 0, tail = 0;
    std::vector<double> cauchy(n);
    for (int k = 0; k < n; ++k) {
        const double z = draw_standard_normal(g);
        sum += z, squares += z * z;
        beyond_two += std::fabs(z) > 2.0;
        tail += std::fabs(z) > 3.5;  // reaches the base strip's tail
        cauchy[k] = draw_cauchy(g, 0.5, 0.1);
    }
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_NEAR(squares / n, 1.0, 0.01);
    EXPECT_NEAR(static_cast<double>(beyond_two) / n, 0.0455, 0.002);
    EXPECT_NEAR(static_cast<double>(tail) / n, 4.65e-4, 1.5e-4);
    std::sort(cauchy.begin(), cauchy.end());
    EXPECT_NEAR(cauchy[n / 2], 0.5, 0.002);
    EXPECT_NEAR(cauchy[n / 4], 0.4, 0.002);
    EXPECT_NEAR(cauchy[3 * n / 4], 0.6, 0.002);
}

// The draws that leave the ziggurat's rectangles (wedge tests, the base
// strip's tail, redraws) are a few in a hundred, so the moments above
// barely see them; their shape shows in the counts of narrow bins. On both
// generators the engine uses, the counts in 0.05-wide bins over
// [-3.5, 3.5] and the two beyond pass a chi-square test against the
// normal's at six standard deviations (fixed seeds: no flakiness).
double normal_cdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

template <class Generator>
void expect_normal_counts(Generator g) {
    constexpr int n = 1 << 22, inner = 140;
    constexpr double edge = 3.5, width = 2 * edge / inner;
    std::vector<int> count(inner + 2, 0);  // below -edge, the inner bins, from +edge on
    for (int k = 0; k < n; ++k) {
        const double z = draw_standard_normal(g);
        ++count[z < -edge  ? 0
                : z >= edge ? inner + 1
                            : std::min(inner, 1 + static_cast<int>((z + edge) / width))];
    }
    double chi_square = 0.0;
    for (int b = 0; b < inner + 2; ++b) {
        const double low = b == 0 ? -INFINITY : -edge + (b - 1) * width;
        const double high = b == inner + 1 ? INFINITY : -edge + b * width;
        const double expected = n * (normal_cdf(high) - normal_cdf(low));
        chi_square += (count[b] - expected) * (count[b] - expected) / expected;
    }
    const double freedom = inner + 1;
    EXPECT_LT(chi_square, freedom + 6.0 * std::sqrt(2.0 * freedom));
}

TEST(Distributions, ZigguratCountsInNarrowBinsAreTheNormals) {
    expect_normal_counts(counter_generator(PhiloxKey{3, 4}, Stream::adaptation, 7, 0));
    expect_normal_counts(WyRand(12345));
}

// The base strip's tail, drawn alone as after a first word in layer 0
// outside its rectangle: on the first word's side, and beyond the tail's
// start as the normal is there, P(|z| > t + e | |z| > t) = Q(t + e) / Q(t),
// to a Kolmogorov distance of 2 / sqrt(n).
TEST(Distributions, ZigguratTailIsTheNormalsTail) {
    WyRand g(99);
    constexpr int n = 200000;
    std::vector<double> excess(n);
    for (int k = 0; k < n; ++k) {
        const std::int32_t side = k % 2 ? 1 : -1;
        const double z = finish_standard_normal(g, side, 0);
        ASSERT_GT(z * side, ziggurat_tail) << "draw " << k;
        excess[k] = std::fabs(z) - ziggurat_tail;
    }
    std::sort(excess.begin(), excess.end());
    const auto upper = [](double x) { return 0.5 * std::erfc(x / std::sqrt(2.0)); };
    double distance = 0.0;
    for (int k = 0; k < n; ++k) {
        const double cdf = 1.0 - upper(ziggurat_tail + excess[k]) / upper(ziggurat_tail);
        distance = std::max({distance, cdf - static_cast<double>(k) / n,
                             static_cast<double>(k + 1) / n - cdf});
    }
    EXPECT_LT(distance, 2.0 / std::sqrt(n));
}

// The midpoint repair by masks chooses as the conditional form would,
// including a NaN (kept) and components exactly on a bound (kept).
TEST(MidpointRepair, MasksChooseAsConditionsWould) {
    const double low = -2.0, high = 3.0, target = 1.0;
    const double cases[] = {-5.0, -2.0, -1.9999, 0.0, -0.0, 2.5, 3.0, 3.0001, 1e300,
                            -INFINITY, INFINITY, NAN};
    for (double v : cases) {
        const double expected =
            v < low ? (low + target) * 0.5 : (v > high ? (high + target) * 0.5 : v);
        const double got = MidpointRepair::bounded(v, low, high, target);
        EXPECT_EQ(std::memcmp(&expected, &got, sizeof got), 0) << v;
    }
}
