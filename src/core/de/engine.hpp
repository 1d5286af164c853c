#pragma once
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "core/de/adaptation.hpp"
#include "core/de/config.hpp"
#include "core/de/fitness.hpp"
#include "core/de/strategy.hpp"
#include "core/de/trial_generation.hpp"
#include "core/de/working_state.hpp"
#include "runtime/philox.hpp"

namespace ternavik {

// Everything that varies between configurations of the engine. The default
// is the fixed optimiser's DE/rand/1/bin.
struct EngineSettings {
    DeConfig box;  // pop, dimensions, bounds, F (without dithering) and CR
    Mutation mutation = Mutation::rand1;
    Crossover crossover = Crossover::binomial;
    BoundHandling bounds = BoundHandling::clip;
    Selection selection = Selection::strict;
    Seeding seeding = Seeding::run_generator;
    PhiloxKey key;                        // Seeding::counter
    bool dither = false;                  // F drawn in [box.F, F_high) per generation
    double F_high = 0.0;
    bool donors_exclude_target = false;
    bool immediate = false;               // select each trial as soon as it is evaluated
    bool constrained = false;             // the fitness also reports violations
    std::vector<std::uint8_t> integrality;  // empty, or 1 where a coordinate is rounded
    // Above this many elements trials (and a thread-safe native function's
    // evaluations) go to the worker pool.
    std::uint64_t parallel_threshold = 200000;
    bool parallel_evaluation = false;     // the fitness may run on disjoint rows at once
    // Self-adaptive F and CR (and, for the success-history rules, an archive
    // and a population that shrinks to `min_pop` over `adaptation_budget`
    // evaluations). Needs Seeding::counter; generations are deferred.
    Adaptation adaptation = Adaptation::none;
    std::uint64_t adaptation_budget = 0;
    std::uint64_t min_pop = 4;
    // When given, the population lives in the unit cube (box is [0, 1]) and
    // row u is shown to the fitness as scale_low + (u - 0.5) * width, kept
    // inside [scale_low, scale_high]: a converged population then collapses
    // onto one point exactly, as SciPy's does.
    std::vector<double> scale_low, scale_high;
    // The fitness sees a copy of the rows, so what it writes there never
    // reaches the population (implied by scaling and integrality).
    bool objective_copy = false;
};

// Which stopping rule ended a run of generations.
enum class StopReason : std::uint8_t {
    generations,  // the requested number of generations was made
    converged,    // std of energies <= atol + tol * |mean|
    evaluations,  // another generation would exceed the evaluation budget
    time,         // the deadline passed
    requested,    // the stop hook asked to stop
    failed,       // the fitness function reported a failure
};

// The per-generation "stop now?" question, answered by the host (for
// example: has the user pressed Ctrl-C?). A value, never an exception, so
// the engine stops between generations with its state intact.
class StopHook {
public:
    virtual ~StopHook() = default;
    virtual bool stop_now() = 0;
};

// Limits of one run of generations; zero or infinity where unlimited.
struct RunLimits {
    std::uint64_t generations = 0;
    double tol = 0.0, atol = 0.0;
    bool check_convergence = false;
    std::uint64_t max_evaluations = std::numeric_limits<std::uint64_t>::max();
    double deadline = std::numeric_limits<double>::infinity();  // steady-clock seconds
};

// One differential-evolution engine: a population, its energies and the
// policies chosen once for the run. Steps a generation at a time.
class DeEngine {
public:
    static constexpr std::uint64_t no_best = std::numeric_limits<std::uint64_t>::max();

    // Allocates the working state (InternalFailure for an unrepresentable
    // shape, std::bad_alloc when it cannot be had); draws nothing.
    explicit DeEngine(EngineSettings settings);

    // Initial population: draw_between row by row from the run generator,
    // a Latin hypercube or uniform draws from the counter streams, or rows
    // given by the caller.
    void seed_run_generator(Xoshiro256pp generator) { run_generator_ = generator; }
    void draw_population_from_run_generator();
    void draw_latin_hypercube();
    void draw_uniform();
    void set_population(const double* rows);

    // Evaluates the whole population and finds the best. False when the
    // fitness function failed.
    bool evaluate_population(FitnessFunction& fitness);

    // One generation: trials, evaluation, selection. False on failure.
    bool step(FitnessFunction& fitness);

    // Generations until a limit is reached or the hook asks to stop.
    StopReason run(FitnessFunction& fitness, const RunLimits& limits, StopHook* hook);

    // std(energies) <= atol + tol * |mean(energies)|; never with an infinite energy.
    bool converged(double tol, double atol) const;
    // std / |mean| (infinity with an infinite energy), SciPy's convergence measure.
    double relative_spread() const;

    // Whether the fitness may be called on disjoint rows from several threads
    // at once (true for a native function, which is then split over the pool).
    void allow_parallel_evaluation(bool allowed) { settings_.parallel_evaluation = allowed; }

    const EngineSettings& settings() const { return settings_; }
    const double* population() const { return state_.population.data(); }
    const double* energies() const { return state_.fitness.data(); }
    const double* violations() const { return violations_.data(); }
    std::uint64_t best_index() const { return best_index_; }
    double best_energy() const { return best_energy_; }
    std::uint64_t evaluations() const { return evaluations_; }
    std::uint64_t generation() const { return generation_; }
    const Adapter* adapter() const { return adapter_ ? &*adapter_ : nullptr; }

private:
    bool evaluate(FitnessFunction& fitness, double* matrix, std::uint64_t rows, double* energies,
                  double* violations);
    void select(std::uint64_t i);
    void find_best();
    double scale_factor();
    TrialInputs trial_inputs(double F) const;
    void step_immediately(FitnessFunction& fitness, bool& ok);
    bool step_adaptively(FitnessFunction& fitness);
    bool parallel_trials(const FitnessFunction& fitness) const;
    double* shown_rows(double* matrix, std::uint64_t rows);
    std::vector<Standing> standings() const;
    void shrink(std::uint64_t size);

    EngineSettings settings_;
    WorkingState state_;
    ZeroedArray violations_, trial_violations_;
    ZeroedArray shown_;  // the matrix as the fitness sees it, when not the engine's own
    std::vector<double> centre_, width_;  // of the box, when the population is scaled
    TrialMaker maker_;
    std::optional<Adapter> adapter_;
    AdaptiveTrialMaker adaptive_maker_ = nullptr;
    Xoshiro256pp run_generator_;
    std::uint64_t best_index_ = no_best;
    double best_energy_ = std::numeric_limits<double>::infinity();
    std::uint64_t evaluations_ = 0;
    std::uint64_t generation_ = 0;
};

}  // namespace ternavik
