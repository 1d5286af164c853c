#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "core/de/engine.hpp"
#include "core/de/evolution.hpp"
#include "core/de/selection.hpp"
#include "runtime/internal_failure.hpp"
#include "runtime/random.hpp"
#if __has_include("runtime/os_random.hpp")
#include "runtime/os_random.hpp"
#define TERNAVIK_HAVE_OS_FILL_SEAM 1
#endif

namespace ternavik {
namespace {

using Matrix = std::vector<double>;
// Fills (or partly fills) the fitness slots; may also write into the matrix.
using Objective = std::function<void(double* matrix, std::uint64_t rows, std::uint64_t cols,
                                     double* fitness)>;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

Xoshiro256pp fixed_generator() { return seed_from_value(0x5EEDull); }

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool same_bits(const Matrix& a, const Matrix& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * 8) == 0;
}

void sphere(double* m, std::uint64_t rows, std::uint64_t cols, double* f) {
    for (std::uint64_t i = 0; i < rows; ++i) {
        double s = 0.0;
        for (std::uint64_t j = 0; j < cols; ++j) s += m[i * cols + j] * m[i * cols + j];
        f[i] = s;
    }
}

// A fitness function that records every matrix it is shown, as the loop
// sees it after the objective has run, and can fail on a chosen call.
class RecordingFitness : public FitnessFunction {
public:
    RecordingFitness(Objective objective, bool native) : objective_(std::move(objective)), native_(native) {}

    bool evaluate(double* m, std::uint64_t rows, std::uint64_t cols, double* f) override {
        if (calls++ == fail_at) return false;
        objective_(m, rows, cols, f);
        matrices.emplace_back(m, m + rows * cols);
        values.emplace_back(f, f + rows);
        return true;
    }
    bool is_native() const override { return native_; }

    std::uint64_t calls = 0;
    std::uint64_t fail_at = std::numeric_limits<std::uint64_t>::max();
    std::vector<Matrix> matrices;
    std::vector<Matrix> values;

private:
    Objective objective_;
    bool native_;
};

DeConfig make_config(std::uint64_t pop, std::vector<double> low, std::vector<double> high,
                     double F = 0.5, double CR = 0.7) {
    DeConfig c;
    c.dimensions = low.size();
    c.min_bound = std::move(low);
    c.max_bound = std::move(high);
    c.pop = pop;
    c.F = F;
    c.CR = CR;
    return c;
}

DeConfig uniform_config(std::uint64_t pop, std::uint64_t dims, double low, double high,
                        double F = 0.5, double CR = 0.7) {
    return make_config(pop, Matrix(dims, low), Matrix(dims, high), F, CR);
}

// The package's configuration: redraws outside the box, the feasibility
// rule, per-trial counter streams and donors other than the target.
EngineSettings package_settings(DeConfig box, PhiloxKey key) {
    EngineSettings settings;
    settings.box = std::move(box);
    settings.bounds = BoundHandling::reinitialize;
    settings.selection = Selection::feasibility;
    settings.seeding = Seeding::counter;
    settings.key = key;
    settings.donors_exclude_target = true;
    return settings;
}

// Straightforward DE/rand/1/bin written from the description, drawing from a
// generator seeded like the run's; it keeps every matrix it evaluated.
struct Shadow {
    std::vector<Matrix> matrices;
    double best = inf;
    Matrix best_position;

    Shadow(const DeConfig& c, std::uint64_t iters, const Objective& objective) {
        const std::uint64_t n = c.pop, d = c.dimensions;
        Xoshiro256pp g = fixed_generator();
        std::vector<Matrix> x(n, Matrix(d));
        for (auto& row : x)
            for (std::uint64_t j = 0; j < d; ++j) row[j] = draw_between(g, c.min_bound[j], c.max_bound[j]);
        Matrix f(n, 0.0), tf(n, 0.0);
        evaluate(x, f, objective);
        best_position.assign(d, 0.0);
        for (std::uint64_t i = 0; i < n; ++i)
            if (f[i] < best) best = f[i], best_position = x[i];
        for (std::uint64_t k = 0; k < iters; ++k) {
            std::vector<Matrix> t(n, Matrix(d));
            for (std::uint64_t i = 0; i < n; ++i) {
                std::uint64_t r1 = draw_index(g, n), r2, r3;
                do r2 = draw_index(g, n); while (r2 == r1);
                do r3 = draw_index(g, n); while (r3 == r1 || r3 == r2);
                std::uint64_t jrand = draw_index(g, d);
                for (std::uint64_t j = 0; j < d; ++j) {
                    double u = draw_unit(g);
                    if (j == jrand || u < c.CR) {
                        double v = (x[r2][j] - x[r3][j]) * c.F + x[r1][j];
                        if (c.min_bound[j] > v) v = c.min_bound[j];
                        else if (c.max_bound[j] < v) v = c.max_bound[j];
                        t[i][j] = v;
                    } else {
                        t[i][j] = x[i][j];
                    }
                }
            }
            evaluate(t, tf, objective);
            for (std::uint64_t i = 0; i < n; ++i) {
                if (tf[i] < f[i]) {
                    f[i] = tf[i];
                    x[i] = t[i];
                    if (tf[i] < best) best = tf[i], best_position = x[i];
                }
            }
        }
    }

    void evaluate(std::vector<Matrix>& rows, Matrix& f, const Objective& objective) {
        const std::uint64_t d = rows.empty() ? 0 : rows[0].size();
        Matrix flat;
        for (auto& r : rows) flat.insert(flat.end(), r.begin(), r.end());
        objective(flat.data(), rows.size(), d, f.data());
        for (std::size_t i = 0; i < rows.size(); ++i)
            std::copy(flat.begin() + i * d, flat.begin() + (i + 1) * d, rows[i].begin());
        matrices.push_back(flat);
    }
};

struct ShadowCase {
    const char* name;
    DeConfig config;
    std::uint64_t iters;
    Objective objective;
    bool native;
};

// Sphere rounded to a coarse grid so ties are common, NaN on every third row.
void coarse_sphere_with_nans(double* m, std::uint64_t rows, std::uint64_t cols, double* f) {
    sphere(m, rows, cols, f);
    for (std::uint64_t i = 0; i < rows; ++i) f[i] = i % 3 == 2 ? nan : std::floor(f[i] * 4.0);
}

// Writes only the even slots and moves every row into the unit box, so the
// run must keep stale slots and take the rewritten matrix.
void even_slots_and_rewrites(double* m, std::uint64_t rows, std::uint64_t cols, double* f) {
    for (std::uint64_t k = 0; k < rows * cols; ++k) m[k] = std::fmod(m[k], 1.0);
    Matrix all(rows);
    sphere(m, rows, cols, all.data());
    for (std::uint64_t i = 0; i < rows; i += 2) f[i] = all[i] - 1.0;
}

std::vector<ShadowCase> shadow_cases() {
    return {
        {"sphere", uniform_config(10, 7, -5.0, 5.0), 25, sphere, false},
        {"smallest_population", uniform_config(4, 3, -1.0, 2.0), 30, sphere, true},
        {"reversed_and_equal_bounds", make_config(6, {3.0, 2.0, -1.0}, {-3.0, 2.0, 1.0}), 20, sphere, false},
        {"no_crossover", uniform_config(8, 5, -2.0, 2.0, 0.9, 0.0), 15, sphere, false},
        {"nan_crossover", uniform_config(8, 5, -2.0, 2.0, 0.9, nan), 5, sphere, false},
        {"copy_of_base", uniform_config(8, 5, -2.0, 2.0, 0.0, 1.0), 10, sphere, false},
        {"wild_scale", uniform_config(7, 4, -1.0, 1.0, -3.0, 5.0), 10, sphere, false},
        {"infinite_bounds", uniform_config(5, 2, -inf, inf), 3, sphere, false},
        {"ties_and_nans", uniform_config(9, 3, -3.0, 3.0), 20, coarse_sphere_with_nans, false},
        {"stale_slots_rewritten_matrix", uniform_config(6, 3, -4.0, 4.0), 12, even_slots_and_rewrites, true},
        {"threshold_native_serial", uniform_config(4, 50000, -1.0, 1.0), 2, sphere, true},
        {"callable_above_threshold", uniform_config(4, 50001, -1.0, 1.0), 1, sphere, false},
    };
}

void PrintTo(const ShadowCase& c, std::ostream* os) { *os << c.name; }

class EvolutionShadow : public testing::TestWithParam<ShadowCase> {};

TEST_P(EvolutionShadow, ReplaysTheReferenceModelBitForBit) {
    const ShadowCase& c = GetParam();
    RecordingFitness fitness(c.objective, c.native);
    const auto result = run_evolution_from(c.config, fitness, c.iters, fixed_generator);
    const Shadow shadow(c.config, c.iters, c.objective);
    ASSERT_TRUE(result.has_value());
    ASSERT_EQ(fitness.calls, c.iters + 1);
    for (std::size_t k = 0; k < shadow.matrices.size(); ++k)
        ASSERT_TRUE(same_bits(fitness.matrices[k], shadow.matrices[k])) << "evaluation " << k;
    EXPECT_TRUE(same_bits(result->best_fitness, shadow.best));
    EXPECT_TRUE(same_bits(result->best_position, shadow.best_position));
}

INSTANTIATE_TEST_SUITE_P(Cases, EvolutionShadow, testing::ValuesIn(shadow_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Evolution, EntropySeededRunEvaluatesItersPlusOneTimes) {
    for (std::uint64_t iters : {0, 1, 7}) {
        RecordingFitness fitness(sphere, false);
        const auto result = run_evolution(uniform_config(5, 2, -1.0, 1.0), fitness, iters);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(fitness.calls, iters + 1);
        EXPECT_EQ(result->best_position.size(), 2u);
    }
}

TEST(Evolution, OnlyNanOrInfinityGivesInfinityAndZeros) {
    const Objective bad = [](double*, std::uint64_t rows, std::uint64_t, double* f) {
        for (std::uint64_t i = 0; i < rows; ++i) f[i] = i % 2 ? nan : inf;
    };
    RecordingFitness fitness(bad, false);
    const auto result = run_evolution(uniform_config(6, 3, 1.0, 2.0), fitness, 5);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->best_fitness, inf);
    EXPECT_EQ(result->best_position, Matrix(3, 0.0));
}

TEST(Evolution, TiesKeepTheLowerIndex) {
    const Objective ties = [](double*, std::uint64_t rows, std::uint64_t, double* f) {
        for (std::uint64_t i = 0; i < rows; ++i) f[i] = i == 0 ? 9.0 : 1.0;
    };
    RecordingFitness fitness(ties, false);
    const auto result = run_evolution(uniform_config(5, 2, -1.0, 1.0), fitness, 3);
    ASSERT_TRUE(result.has_value());
    // Equal trial values replace nothing, so row 1 of the initial population stays best.
    const Matrix& initial = fitness.matrices[0];
    EXPECT_EQ(result->best_fitness, 1.0);
    EXPECT_EQ(result->best_position, Matrix(initial.begin() + 2, initial.begin() + 4));
}

TEST(Evolution, NoDimensions) {
    RecordingFitness fitness([](double*, std::uint64_t rows, std::uint64_t, double* f) {
        for (std::uint64_t i = 0; i < rows; ++i) f[i] = 10.0 - static_cast<double>(i);
    }, true);
    const auto result = run_evolution(uniform_config(4, 0, 0.0, 0.0), fitness, 0);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->best_fitness, 7.0);
    EXPECT_TRUE(result->best_position.empty());
    try {
        run_evolution(uniform_config(4, 0, 0.0, 0.0), fitness, 1);
        FAIL() << "expected a failure";
    } catch (const InternalFailure& failure) {
        EXPECT_STREQ(failure.what(), "cannot sample empty range");
    }
    EXPECT_EQ(fitness.calls, 2u);
}

TEST(Evolution, EvaluationFailureEndsTheRun) {
    for (std::uint64_t fail_at : {0, 1, 4}) {
        RecordingFitness fitness(sphere, true);
        fitness.fail_at = fail_at;
        EXPECT_FALSE(run_evolution(uniform_config(5, 2, -1.0, 1.0), fitness, 10).has_value());
        EXPECT_EQ(fitness.calls, fail_at + 1);
    }
}

TEST(Evolution, UnrepresentableShapeFailsBeforeSeeding) {
    struct Shape { std::uint64_t pop, dims; };
    for (Shape s : {Shape{1ull << 32, 1ull << 31}, Shape{1ull << 63, 0}, Shape{4, 1ull << 62}}) {
        RecordingFitness fitness(sphere, false);
        DeConfig config;
        config.pop = s.pop;
        config.dimensions = s.dims;
        try {
            run_evolution_from(config, fitness, 1, [] () -> Xoshiro256pp { throw std::logic_error("seeded"); });
            FAIL() << "expected a failure";
        } catch (const InternalFailure& failure) {
            EXPECT_STREQ(failure.what(),
                         "ndarray: Shape too large, product of non-zero axis lengths overflows isize");
        }
    }
}

TEST(Evolution, UnallocatableStateIsBadAlloc) {
    struct Shape { std::uint64_t pop, dims; };
    for (Shape s : {Shape{1ull << 61, 1}, Shape{1ull << 45, 1}, Shape{1ull << 45, 0}, Shape{4, 1ull << 60}}) {
        RecordingFitness fitness(sphere, false);
        DeConfig config;
        config.pop = s.pop;
        config.dimensions = s.dims;
        EXPECT_THROW(run_evolution(config, fitness, 1), std::bad_alloc);
        EXPECT_EQ(fitness.calls, 0u);
    }
}

// Above the threshold a native run makes its trials on the pool, each from a
// donor triple of mutually distinct rows of the generation's population.
TEST(Evolution, ParallelTrialsObeyTheTrialRowRule) {
    const DeConfig config = make_config(4, {-1.0, 0.5, 2.0}, {1.0, 0.5, -2.0}, 0.8, 0.5);
    DeConfig wide = config;
    for (int k = 0; k < 16667; ++k) {  // 4 x 50001 elements
        wide.min_bound.insert(wide.min_bound.end(), config.min_bound.begin(), config.min_bound.end());
        wide.max_bound.insert(wide.max_bound.end(), config.max_bound.begin(), config.max_bound.end());
    }
    wide.dimensions = wide.min_bound.size();
    ASSERT_EQ(wide.dimensions, 50004u);
    const std::uint64_t iters = 3, n = wide.pop, d = wide.dimensions;
    RecordingFitness fitness(sphere, true);
    ASSERT_TRUE(run_evolution_from(wide, fitness, iters, fixed_generator).has_value());
    const Shadow serial(wide, 1, sphere);
    EXPECT_FALSE(same_bits(fitness.matrices[1], serial.matrices[1])) << "trials were made serially";

    Matrix x = fitness.matrices[0], f = fitness.values[0];
    for (std::uint64_t k = 1; k <= iters; ++k) {
        const Matrix& t = fitness.matrices[k];
        for (std::uint64_t i = 0; i < n; ++i) {
            bool explained = false;
            for (std::uint64_t r1 = 0; r1 < n && !explained; ++r1)
                for (std::uint64_t r2 = 0; r2 < n && !explained; ++r2)
                    for (std::uint64_t r3 = 0; r3 < n && !explained; ++r3) {
                        if (r1 == r2 || r1 == r3 || r2 == r3) continue;
                        bool all = true;
                        for (std::uint64_t j = 0; j < d && all; ++j) {
                            double v = (x[r2 * d + j] - x[r3 * d + j]) * wide.F + x[r1 * d + j];
                            if (wide.min_bound[j] > v) v = wide.min_bound[j];
                            else if (wide.max_bound[j] < v) v = wide.max_bound[j];
                            const double tj = t[i * d + j];
                            all = same_bits(tj, v) || same_bits(tj, x[i * d + j]);
                        }
                        explained = all;
                    }
            EXPECT_TRUE(explained) << "generation " << k << " row " << i;
        }
        for (std::uint64_t i = 0; i < n; ++i)
            if (fitness.values[k][i] < f[i]) {
                f[i] = fitness.values[k][i];
                std::copy(t.begin() + i * d, t.begin() + (i + 1) * d, x.begin() + i * d);
            }
    }
}

struct StrategyCase {
    const char* name;
    Mutation mutation;
    Crossover crossover;
};

void PrintTo(const StrategyCase& c, std::ostream* os) { *os << c.name; }

// The mutant of each strategy as written in its textbook definition.
double reference_mutant(Mutation m, const std::vector<const double*>& d, const double* best,
                        const double* target, std::uint64_t j, double F) {
    switch (m) {
        case Mutation::best1: return best[j] + F * (d[0][j] - d[1][j]);
        case Mutation::rand1: return d[0][j] + F * (d[1][j] - d[2][j]);
        case Mutation::rand2: return d[0][j] + F * (d[1][j] + d[2][j] - d[3][j] - d[4][j]);
        case Mutation::best2: return best[j] + F * (d[0][j] + d[1][j] - d[2][j] - d[3][j]);
        case Mutation::rand_to_best1:
            return d[0][j] + F * (best[j] - d[0][j]) + F * (d[1][j] - d[2][j]);
        case Mutation::current_to_best1:
            return target[j] + F * (best[j] - target[j] + d[0][j] - d[1][j]);
    }
    return nan;
}

// Every ordered tuple of `count` distinct rows other than `target`.
void for_each_donor_tuple(std::uint64_t pop, unsigned count, std::uint64_t target,
                          const std::function<bool(const std::vector<std::uint64_t>&)>& visit) {
    std::vector<std::uint64_t> tuple;
    std::function<bool()> extend = [&]() {
        if (tuple.size() == count) return visit(tuple);
        for (std::uint64_t r = 0; r < pop; ++r) {
            if (r == target || std::find(tuple.begin(), tuple.end(), r) != tuple.end()) continue;
            tuple.push_back(r);
            if (extend()) return true;
            tuple.pop_back();
        }
        return false;
    };
    extend();
}

bool close_to(double a, double b) { return std::fabs(a - b) <= 1e-12 * (1.0 + std::fabs(b)); }

// Which components of a trial came from the mutant of some donor tuple, or
// nothing when no tuple explains the row.
std::optional<std::vector<bool>> explain_trial(const StrategyCase& c, const Matrix& x,
                                               const double* trial, std::uint64_t i,
                                               std::uint64_t best, std::uint64_t pop,
                                               std::uint64_t d, double F) {
    std::optional<std::vector<bool>> taken;
    for_each_donor_tuple(pop, donor_count(c.mutation), i, [&](const auto& tuple) {
        std::vector<const double*> rows;
        for (std::uint64_t r : tuple) rows.push_back(x.data() + r * d);
        std::vector<bool> from_mutant(d);
        for (std::uint64_t j = 0; j < d; ++j) {
            const double v = reference_mutant(c.mutation, rows, x.data() + best * d,
                                              x.data() + i * d, j, F);
            from_mutant[j] = close_to(trial[j], v);
            if (!from_mutant[j] && !same_bits(trial[j], x[i * d + j])) return false;
        }
        taken = from_mutant;
        return true;
    });
    return taken;
}

// Exponential crossover takes one circular run of components.
bool is_circular_run(const std::vector<bool>& taken) {
    std::size_t starts = 0;
    for (std::size_t j = 0; j < taken.size(); ++j)
        starts += taken[j] && !taken[(j + taken.size() - 1) % taken.size()];
    const bool all = std::all_of(taken.begin(), taken.end(), [](bool t) { return t; });
    return all || starts == 1;
}

class EngineStrategy : public testing::TestWithParam<StrategyCase> {};

// One generation of each strategy: every trial row must be the textbook
// mutant of distinct donors other than the target (so a wrong base vector or
// difference is caught) on the components the crossover rule allows.
TEST_P(EngineStrategy, TrialsFollowTheTextbookDefinition) {
    const StrategyCase& c = GetParam();
    const std::uint64_t pop = 7, d = 6;
    const double F = 0.7;
    EngineSettings settings =
        package_settings(uniform_config(pop, d, -1e3, 1e3, F, 0.5), PhiloxKey{12345, 678});
    settings.mutation = c.mutation;
    settings.crossover = c.crossover;
    DeEngine engine(settings);
    Matrix initial(pop * d);
    Xoshiro256pp g = fixed_generator();
    for (double& v : initial) v = draw_between(g, -1.0, 1.0);
    // The best row sits in the middle, away from row 0, which unused donor
    // slots default to, so a mutant built on the wrong row cannot pass.
    for (std::uint64_t j = 0; j < d; ++j) initial[3 * d + j] = 0.01 * initial[3 * d + j];
    engine.set_population(initial.data());
    RecordingFitness fitness(sphere, true);
    ASSERT_TRUE(engine.evaluate_population(fitness));
    const std::uint64_t best = engine.best_index();
    ASSERT_EQ(best, 3u);
    ASSERT_TRUE(engine.step(fitness));
    std::size_t from_target = 0;
    for (std::uint64_t i = 0; i < pop; ++i) {
        const auto taken = explain_trial(c, initial, fitness.matrices[1].data() + i * d, i, best,
                                         pop, d, F);
        ASSERT_TRUE(taken.has_value()) << "row " << i << " is no mutant of distinct donors";
        EXPECT_TRUE(std::any_of(taken->begin(), taken->end(), [](bool t) { return t; }));
        if (c.crossover == Crossover::exponential) {
            EXPECT_TRUE(is_circular_run(*taken)) << "row " << i;
        }
        from_target += std::count(taken->begin(), taken->end(), false);
    }
    EXPECT_GT(from_target, 0u) << "the crossover took every component from the mutant";
}

std::vector<StrategyCase> all_strategies() {
    return {StrategyCase{"best1bin", Mutation::best1, Crossover::binomial},
            StrategyCase{"best1exp", Mutation::best1, Crossover::exponential},
            StrategyCase{"rand1bin", Mutation::rand1, Crossover::binomial},
            StrategyCase{"rand1exp", Mutation::rand1, Crossover::exponential},
            StrategyCase{"rand2bin", Mutation::rand2, Crossover::binomial},
            StrategyCase{"rand2exp", Mutation::rand2, Crossover::exponential},
            StrategyCase{"best2bin", Mutation::best2, Crossover::binomial},
            StrategyCase{"best2exp", Mutation::best2, Crossover::exponential},
            StrategyCase{"randtobest1bin", Mutation::rand_to_best1, Crossover::binomial},
            StrategyCase{"randtobest1exp", Mutation::rand_to_best1,
                         Crossover::exponential},
            StrategyCase{"currenttobest1bin", Mutation::current_to_best1,
                         Crossover::binomial},
            StrategyCase{"currenttobest1exp", Mutation::current_to_best1,
                         Crossover::exponential}};
}

INSTANTIATE_TEST_SUITE_P(All, EngineStrategy, testing::ValuesIn(all_strategies()),
                         [](const auto& info) { return std::string(info.param.name); });

// Counter-seeded binomial crossover works in blocks of components: over
// several blocks it still takes the forced component wherever it falls, about
// CR of the rest, and redraws every taken component that left the box.
class BlockCrossover : public testing::TestWithParam<double> {};

TEST_P(BlockCrossover, TakesTheForcedComponentAndStaysInTheBox) {
    const double CR = GetParam();
    const std::uint64_t pop = 12, d = 700;
    DeEngine engine(package_settings(uniform_config(pop, d, -1.0, 1.0, 0.9, CR), PhiloxKey{7, 8}));
    engine.draw_uniform();
    const Matrix initial(engine.population(), engine.population() + pop * d);
    RecordingFitness fitness(sphere, true);
    ASSERT_TRUE(engine.evaluate_population(fitness));
    ASSERT_TRUE(engine.step(fitness));
    const Matrix& trial = fitness.matrices[1];
    std::uint64_t taken_total = 0;
    for (std::uint64_t i = 0; i < pop; ++i) {
        std::uint64_t taken = 0;
        for (std::uint64_t j = 0; j < d; ++j) {
            const double v = trial[i * d + j];
            ASSERT_TRUE(v >= -1.0 && v <= 1.0) << "row " << i << " component " << j;
            taken += !same_bits(v, initial[i * d + j]);
        }
        if (CR == 0.0) {
            EXPECT_EQ(taken, 1u) << "row " << i;
        }
        if (CR == 1.0) {
            EXPECT_EQ(taken, d) << "row " << i;
        }
        taken_total += taken;
    }
    const double share = static_cast<double>(taken_total) / static_cast<double>(pop * d);
    EXPECT_NEAR(share, CR, 0.03);
}

INSTANTIATE_TEST_SUITE_P(Rates, BlockCrossover, testing::Values(0.0, 0.3, 1.0));

// The wide-vector trial makers are the same trials, bit for bit, whatever
// the strategy and repair, with NaN and infinite components in play.
TEST(Engine, TrialMakersOfEveryWidthAgree) {
    if (widest_vectors() == VectorWidth::baseline) GTEST_SKIP() << "no AVX2 here";
    const std::uint64_t pop = 9, d = 300;
    const DeConfig box = uniform_config(pop, d, -1.0, 1.0, 0.8, 0.6);
    Matrix population(pop * d);
    Xoshiro256pp g = fixed_generator();
    for (double& v : population) v = draw_between(g, -1.5, 1.5);
    population[5] = nan, population[d + 7] = inf, population[2 * d + 9] = -inf;
    for (const StrategyCase& c : all_strategies())
        for (BoundHandling bounds : {BoundHandling::clip, BoundHandling::reinitialize}) {
            TrialInputs in(box, population.data());
            in.best = population.data() + 4 * d;
            in.donors_exclude_target = true;
            const TrialDraws draws{Seeding::counter, nullptr, PhiloxKey{3, 4}, 11};
            Matrix narrow(pop * d), wide(pop * d);
            choose_trial_maker(c.mutation, c.crossover, bounds, Seeding::counter,
                               VectorWidth::baseline)(in, draws, 0, pop, narrow.data());
            choose_trial_maker(c.mutation, c.crossover, bounds, Seeding::counter,
                               VectorWidth::avx2)(in, draws, 0, pop, wide.data());
            EXPECT_TRUE(same_bits(narrow, wide)) << c.name;
        }
}

// Several trials share one counter derivation, so a piece that starts or
// ends inside such a group must still make each row from its own stream.
TEST(Engine, CounterSeededTrialsDoNotDependOnPieceBoundaries) {
    const std::uint64_t pop = 11, d = 7;
    const DeConfig box = uniform_config(pop, d, -1.0, 1.0, 0.8, 0.6);
    Matrix population(pop * d);
    Xoshiro256pp g = fixed_generator();
    for (double& v : population) v = draw_between(g, -1.5, 1.5);
    const TrialInputs in(box, population.data());
    const TrialDraws draws{Seeding::counter, nullptr, PhiloxKey{5, 6}, 2};
    const TrialMaker maker = choose_trial_maker(Mutation::rand1, Crossover::binomial,
                                                BoundHandling::reinitialize, Seeding::counter);
    Matrix whole(pop * d), pieces(pop * d);
    maker(in, draws, 0, pop, whole.data());
    for (auto [begin, end] : {std::pair{0, 1}, {1, 6}, {6, 7}, {7, 11}})
        maker(in, draws, begin, end, pieces.data());
    EXPECT_TRUE(same_bits(whole, pieces));
    for (std::uint64_t i = 1; i < pop; ++i)
        EXPECT_FALSE(std::equal(whole.begin(), whole.begin() + d, whole.begin() + i * d)) << i;
}
// Counter-seeded trials do not depend on the thread that makes them: the
// pool and the calling thread make the same generation bit for bit.
TEST(Engine, CounterSeededTrialsAreTheSameOnThePool) {
    auto run = [](std::uint64_t threshold) {
        EngineSettings settings =
            package_settings(uniform_config(40, 30, -5.0, 5.0, 0.5, 0.9), PhiloxKey{1, 2});
        settings.mutation = Mutation::rand_to_best1;
        settings.dither = true;
        settings.F_high = 1.0;
        settings.parallel_threshold = threshold;
        DeEngine engine(settings);
        engine.draw_latin_hypercube();
        RecordingFitness fitness(sphere, true);
        EXPECT_TRUE(engine.evaluate_population(fitness));
        for (int k = 0; k < 5; ++k) EXPECT_TRUE(engine.step(fitness));
        return fitness.matrices;
    };
    const auto serial = run(UINT64_MAX), pooled = run(0);
    ASSERT_EQ(serial.size(), pooled.size());
    for (std::size_t k = 0; k < serial.size(); ++k) EXPECT_TRUE(same_bits(serial[k], pooled[k]));
}

// Each Latin-hypercube column holds one point in each of pop equal strata.
TEST(Engine, LatinHypercubeFillsEveryStratumOnce) {
    EngineSettings settings;
    settings.box = make_config(8, {0.0, -4.0, 10.0}, {1.0, 4.0, 10.0});
    settings.seeding = Seeding::counter;
    DeEngine engine(settings);
    engine.draw_latin_hypercube();
    for (std::uint64_t j = 0; j < 2; ++j) {
        std::vector<int> hits(8, 0);
        const double low = settings.box.min_bound[j], high = settings.box.max_bound[j];
        for (std::uint64_t i = 0; i < 8; ++i)
            ++hits[static_cast<int>((engine.population()[i * 3 + j] - low) / (high - low) * 8)];
        EXPECT_EQ(hits, std::vector<int>(8, 1)) << "column " << j;
    }
    for (std::uint64_t i = 0; i < 8; ++i) EXPECT_EQ(engine.population()[i * 3 + 2], 10.0);
}

// Feasibility rule: feasible beats infeasible, ties replace, the smaller
// total violation wins between infeasible points; NaN counts as +inf.
TEST(Engine, FeasibilitySelection) {
    EXPECT_TRUE(feasibility_accepts({1.0, 0.0}, {1.0, 0.0}));
    EXPECT_FALSE(feasibility_accepts({2.0, 0.0}, {1.0, 0.0}));
    EXPECT_TRUE(feasibility_accepts({inf, 0.0}, {-5.0, 0.1}));
    EXPECT_FALSE(feasibility_accepts({-5.0, 0.1}, {inf, 0.0}));
    EXPECT_TRUE(feasibility_accepts({9.0, 0.2}, {1.0, 0.3}));
    EXPECT_FALSE(feasibility_accepts({1.0, 0.3}, {9.0, 0.2}));
    EXPECT_FALSE(feasibility_better({1.0, 0.0}, {1.0, 0.0}));

    EngineSettings settings;
    settings.box = uniform_config(6, 2, -1.0, 1.0);
    settings.selection = Selection::feasibility;
    settings.seeding = Seeding::counter;
    DeEngine engine(settings);
    engine.draw_uniform();
    RecordingFitness fitness([](double*, std::uint64_t rows, std::uint64_t, double* f) {
        for (std::uint64_t i = 0; i < rows; ++i) f[i] = nan;
    }, true);
    ASSERT_TRUE(engine.evaluate_population(fitness));
    for (std::uint64_t i = 0; i < 6; ++i) EXPECT_EQ(engine.energies()[i], inf);
    EXPECT_EQ(engine.best_index(), 0u);
    // +inf ties replace, so a population stuck on NaN still moves.
    ASSERT_TRUE(engine.step(fitness));
    EXPECT_TRUE(same_bits(Matrix(engine.population(), engine.population() + 12),
                          fitness.matrices[1]));
}

TEST(Philox, KnownAnswers) {
    const PhiloxBlock zero = philox4x64({0, 0, 0, 0}, {0, 0});
    EXPECT_EQ(zero, (PhiloxBlock{0x16554d9eca36314cull, 0xdb20fe9d672d0fdcull,
                                 0xd7e772cee186176bull, 0x7e68b68aec7ba23bull}));
    const PhiloxBlock pi = philox4x64(
        {0x243f6a8885a308d3ull, 0x13198a2e03707344ull, 0xa4093822299f31d0ull,
         0x082efa98ec4e6c89ull},
        {0x452821e638d01377ull, 0xbe5466cf34e90c6cull});
    EXPECT_EQ(pi, (PhiloxBlock{0xa528f45403e61d95ull, 0x38c72dbd566e9788ull,
                               0xa5a1610e72fd18b5ull, 0x57bd43b5e52b7fe6ull}));
}

TEST(Philox, InterleavedRunEqualsOneCounterAtATime) {
    const PhiloxKey key{0x452821e638d01377ull, 0xbe5466cf34e90c6cull};
    PhiloxBlock run[8];
    for (unsigned count : {1u, 5u, 8u}) {
        philox4x64_run(1000, 17, 2, 0, key, count, run);
        for (unsigned n = 0; n < count; ++n)
            EXPECT_EQ(run[n], philox4x64({1000 + n, 17, 2, 0}, key)) << count << " " << n;
    }
}

#ifdef TERNAVIK_HAVE_OS_FILL_SEAM
int zero_bytes(std::uint8_t* buffer, std::size_t length) {
    std::memset(buffer, 0, length);
    return 0;
}

int failing_source(std::uint8_t*, std::size_t) { return 5; }

Xoshiro256pp zero_seeded() {
    const std::uint8_t zeros[32] = {};
    return Xoshiro256pp::from_seed_bytes(zeros);
}

// Puts the operating-system source back however the test ends.
struct OsFillOverride {
    explicit OsFillOverride(OsFillFunction source) : previous(set_os_fill_for_testing(source)) {}
    ~OsFillOverride() { set_os_fill_for_testing(previous); }
    OsFillFunction previous;
};

// With the entropy source pinned, a real run seeds from the OS exactly once,
// after allocation, and replays like a run given the same generator.
TEST(Evolution, EntropySeededRunReplaysWithAPinnedSource) {
    const DeConfig config = make_config(7, {-2.0, 0.0, 3.0}, {2.0, 1.0, -3.0}, 0.6, 0.4);
    RecordingFitness seeded(coarse_sphere_with_nans, true), replayed(coarse_sphere_with_nans, true);
    std::optional<DeResult> a;
    {
        OsFillOverride pinned(zero_bytes);
        a = run_evolution(config, seeded, 15);
    }
    const auto b = run_evolution_from(config, replayed, 15, zero_seeded);
    ASSERT_TRUE(a && b);
    for (std::size_t k = 0; k < 16; ++k) EXPECT_TRUE(same_bits(seeded.matrices[k], replayed.matrices[k]));
    EXPECT_TRUE(same_bits(a->best_fitness, b->best_fitness));
    EXPECT_TRUE(same_bits(a->best_position, b->best_position));
}

TEST(Evolution, EntropyFailureEndsTheRunBeforeAnyEvaluation) {
    OsFillOverride pinned(failing_source);
    RecordingFitness fitness(sphere, false);
    try {
        run_evolution(uniform_config(4, 2, 0.0, 1.0), fitness, 3);
        FAIL() << "expected a failure";
    } catch (const InternalFailure& failure) {
        EXPECT_STREQ(failure.what(), "from_entropy failed: OS Error: 5");
    }
    EXPECT_EQ(fitness.calls, 0u);
}
#endif

}  // namespace
}  // namespace ternavik
