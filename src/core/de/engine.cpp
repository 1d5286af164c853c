#include "core/de/engine.hpp"

#include <chrono>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <numeric>
#include <utility>

#include "core/de/selection.hpp"
#include "runtime/internal_failure.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

namespace {

std::uint64_t element_count(const DeConfig& box) {
    const unsigned __int128 n = static_cast<unsigned __int128>(box.pop) * box.dimensions;
    return n > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(n);
}

double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The rows as the fitness sees them: coordinates marked in `integrality`
// rounded half to even, as NumPy rounds.
void round_marked(const double* rows, std::uint64_t count, std::uint64_t dims,
                  const std::uint8_t* integrality, double* out) {
    for (std::uint64_t i = 0; i < count; ++i)
        for (std::uint64_t j = 0; j < dims; ++j) {
            const double v = rows[i * dims + j];
            out[i * dims + j] = integrality[j] ? std::nearbyint(v) : v;
        }
}

// Splits an evaluation over the worker pool; a row's value is the same
// whichever piece computes it.
bool evaluate_in_pieces(FitnessFunction& fitness, double* matrix, std::uint64_t rows,
                        std::uint64_t dims, double* energies) {
    run_parallel(rows, [&](std::size_t begin, std::size_t end) {
        fitness.evaluate(matrix + begin * dims, end - begin, dims, energies + begin);
    });
    return true;
}

bool shows_a_copy(const EngineSettings& s) {
    return s.objective_copy || !s.scale_low.empty() || !s.integrality.empty();
}

}  // namespace

DeEngine::DeEngine(EngineSettings settings)
    : settings_(std::move(settings)),
      state_(settings_.box.pop, settings_.box.dimensions),
      violations_(settings_.constrained ? settings_.box.pop : 0),
      trial_violations_(settings_.constrained ? settings_.box.pop : 0),
      shown_(shows_a_copy(settings_) ? settings_.box.pop * settings_.box.dimensions : 0),
      maker_(choose_trial_maker(settings_.mutation, settings_.crossover, settings_.bounds,
                                settings_.seeding)) {
    const DeConfig& box = settings_.box;
    if (!settings_.scale_low.empty()) {
        if (settings_.scale_low.size() != box.dimensions ||
            settings_.scale_high.size() != box.dimensions)
            throw InternalFailure("the scaled box does not match the dimensions");
        for (std::uint64_t j = 0; j < box.dimensions; ++j) {
            centre_.push_back(0.5 * (settings_.scale_low[j] + settings_.scale_high[j]));
            width_.push_back(settings_.scale_high[j] - settings_.scale_low[j]);
        }
    }
    if (settings_.adaptation != Adaptation::none) {
        if (settings_.seeding != Seeding::counter)
            throw InternalFailure("adaptive trials draw from the counter streams");
        adapter_.emplace(settings_.adaptation, box.pop, box.dimensions,
                         settings_.adaptation_budget, settings_.min_pop, settings_.key);
        adaptive_maker_ = choose_adaptive_maker(settings_.adaptation, settings_.bounds);
    }
}

void DeEngine::draw_population_from_run_generator() {
    const DeConfig& box = settings_.box;
    double* x = state_.population.data();
    for (std::uint64_t i = 0; i < box.pop; ++i, x += box.dimensions)
        for (std::uint64_t j = 0; j < box.dimensions; ++j)
            x[j] = draw_between(run_generator_, box.min_bound[j], box.max_bound[j]);
}

// Row i of column j falls in the stratum perm_j[i] of pop equal strata.
void DeEngine::draw_latin_hypercube() {
    const DeConfig& box = settings_.box;
    Xoshiro256pp g = counter_generator(settings_.key, Stream::initial_population, 0, 0);
    std::vector<std::uint64_t> stratum(box.pop);
    const double width = 1.0 / static_cast<double>(box.pop);
    for (std::uint64_t j = 0; j < box.dimensions; ++j) {
        std::iota(stratum.begin(), stratum.end(), std::uint64_t{0});
        for (std::uint64_t k = box.pop; k > 1; --k)
            std::swap(stratum[k - 1], stratum[draw_index(g, k)]);
        const double low = box.min_bound[j], span = box.max_bound[j] - box.min_bound[j];
        for (std::uint64_t i = 0; i < box.pop; ++i) {
            const double unit = (static_cast<double>(stratum[i]) + draw_unit(g)) * width;
            state_.population.data()[i * box.dimensions + j] = span * unit + low;
        }
    }
}

void DeEngine::draw_uniform() {
    run_generator_ = counter_generator(settings_.key, Stream::initial_population, 0, 0);
    draw_population_from_run_generator();
}

void DeEngine::set_population(const double* rows) {
    const std::uint64_t n = settings_.box.pop * settings_.box.dimensions;
    if (n) std::memcpy(state_.population.data(), rows, n * sizeof(double));
}

// Evaluates `rows` rows; under integrality the fitness sees a rounded copy,
// and under the feasibility rule a NaN energy counts as +inf.
bool DeEngine::evaluate(FitnessFunction& fitness, double* matrix, std::uint64_t rows,
                        double* energies, double* violations) {
    const std::uint64_t dims = settings_.box.dimensions;
    double* shown = shown_rows(matrix, rows);
    bool ok;
    if (settings_.constrained)
        ok = fitness.evaluate_constrained(shown, rows, dims, energies, violations);
    else if (settings_.parallel_evaluation && rows > 1 &&
             rows * dims > settings_.parallel_threshold)
        ok = evaluate_in_pieces(fitness, shown, rows, dims, energies);
    else
        ok = fitness.evaluate(shown, rows, dims, energies);
    if (!ok) return false;
    evaluations_ += rows;
    if (settings_.selection == Selection::feasibility)
        for (std::uint64_t i = 0; i < rows; ++i)
            if (std::isnan(energies[i])) energies[i] = std::numeric_limits<double>::infinity();
    return true;
}

// The rows as the fitness sees them: scaled into the box, a plain copy, or
// the engine's own matrix when nothing asks for a copy.
double* DeEngine::shown_rows(double* matrix, std::uint64_t rows) {
    if (!shows_a_copy(settings_)) return matrix;
    const std::uint64_t dims = settings_.box.dimensions;
    double* out = shown_.data();
    if (!centre_.empty()) {
        const double* low = settings_.scale_low.data();
        const double* high = settings_.scale_high.data();
        for (std::uint64_t i = 0; i < rows; ++i)
            for (std::uint64_t j = 0; j < dims; ++j) {
                const double v = (matrix[i * dims + j] - 0.5) * width_[j] + centre_[j];
                out[i * dims + j] = low[j] > v ? low[j] : (high[j] < v ? high[j] : v);
            }
    } else if (rows * dims != 0) {
        std::memcpy(out, matrix, rows * dims * sizeof(double));
    }
    if (!settings_.integrality.empty())
        round_marked(out, rows, dims, settings_.integrality.data(), out);
    return out;
}

bool DeEngine::evaluate_population(FitnessFunction& fitness) {
    if (!evaluate(fitness, state_.population.data(), settings_.box.pop, state_.fitness.data(),
                  violations_.data()))
        return false;
    find_best();
    return true;
}

// Strict rule: the first value strictly below +inf and all before it wins,
// so NaN never does and with no finite value there is no best. Feasibility
// rule: row 0 unless a later row is better.
void DeEngine::find_best() {
    const Selection rule = settings_.selection;
    best_index_ = rule == Selection::strict ? no_best : 0;
    best_energy_ = rule == Selection::strict ? std::numeric_limits<double>::infinity()
                                             : state_.fitness.data()[0];
    Standing best{best_energy_, settings_.constrained ? violations_.data()[0] : 0.0};
    for (std::uint64_t i = 0; i < settings_.box.pop; ++i) {
        const Standing s{state_.fitness.data()[i],
                         settings_.constrained ? violations_.data()[i] : 0.0};
        if (better(rule, s, best)) best = s, best_index_ = i, best_energy_ = s.energy;
    }
}

// Trial i against row i; the best moves only when a trial replaces its
// target and beats the best, so equal values never displace it.
void DeEngine::select(std::uint64_t i) {
    const std::uint64_t dims = settings_.box.dimensions;
    const bool constrained = settings_.constrained;
    const Standing trial{state_.trial_fitness.data()[i],
                         constrained ? trial_violations_.data()[i] : 0.0};
    const Standing current{state_.fitness.data()[i], constrained ? violations_.data()[i] : 0.0};
    if (!accepts(settings_.selection, trial, current)) return;
    const Standing best{best_energy_, constrained && best_index_ != no_best
                                          ? violations_.data()[best_index_]
                                          : 0.0};
    state_.fitness.data()[i] = trial.energy;
    if (constrained) violations_.data()[i] = trial.violation;
    double* row = state_.population.data() + i * dims;
    std::memcpy(row, state_.trial.data() + i * dims, dims * sizeof(double));
    // An accepted trial is never worse than its target, so a best row that
    // is replaced stays the best.
    if (best_index_ == i || better(settings_.selection, trial, best)) {
        best_index_ = i;
        best_energy_ = trial.energy;
    }
}

double DeEngine::scale_factor() {
    const DeConfig& box = settings_.box;
    if (!settings_.dither) return box.F;
    if (settings_.seeding == Seeding::counter) {
        Xoshiro256pp g = counter_generator(settings_.key, Stream::scale_factor, generation_, 0);
        return draw_between(g, box.F, settings_.F_high);
    }
    return draw_between(run_generator_, box.F, settings_.F_high);
}

TrialInputs DeEngine::trial_inputs(double F) const {
    TrialInputs in(settings_.box, state_.population.data());
    in.F = F;
    in.donors_exclude_target = settings_.donors_exclude_target;
    if (best_index_ != no_best) in.best = in.population + best_index_ * settings_.box.dimensions;
    return in;
}

// Each trial sees the population and best as left by the trials before it.
void DeEngine::step_immediately(FitnessFunction& fitness, bool& ok) {
    const std::uint64_t dims = settings_.box.dimensions;
    TrialInputs in = trial_inputs(scale_factor());
    TrialDraws draws{settings_.seeding, &run_generator_, settings_.key, generation_};
    for (std::uint64_t i = 0; i < settings_.box.pop && ok; ++i) {
        if (best_index_ != no_best) in.best = in.population + best_index_ * dims;
        maker_(in, draws, i, i + 1, state_.trial.data());
        ok = evaluate(fitness, state_.trial.data() + i * dims, 1, state_.trial_fitness.data() + i,
                      trial_violations_.data() + i);
        if (ok) select(i);
    }
}

bool DeEngine::parallel_trials(const FitnessFunction& fitness) const {
    // The fixed optimiser's rule: the pool pays off only for native
    // functions on large populations, and there its trials seed from
    // the thread streams. Counter streams make the pool safe for any.
    const bool large = element_count(settings_.box) > settings_.parallel_threshold;
    return large && (fitness.is_native() || settings_.seeding == Seeding::counter);
}

std::vector<Standing> DeEngine::standings() const {
    std::vector<Standing> s(settings_.box.pop);
    for (std::uint64_t i = 0; i < s.size(); ++i)
        s[i] = Standing{energies()[i], settings_.constrained ? violations()[i] : 0.0};
    return s;
}

// One generation under an adaptation rule: the adapter draws the
// parameters, the trials are made and evaluated as a whole, and each
// selection is reported to the adapter in index order before the
// population may shrink.
bool DeEngine::step_adaptively(FitnessFunction& fitness) {
    const std::uint64_t pop = settings_.box.pop, dims = settings_.box.dimensions;
    const Selection rule = settings_.selection;
    adapter_->prepare(generation_, evaluations_, standings(), rule);
    const AdaptiveInputs in = adapter_->inputs(trial_inputs(settings_.box.F));
    const TrialDraws draws{Seeding::counter, &run_generator_, settings_.key, generation_};
    generate_adaptive_trials(adaptive_maker_, in, draws, state_.trial.data(),
                             parallel_trials(fitness));
    if (!evaluate(fitness, state_.trial.data(), pop, state_.trial_fitness.data(),
                  trial_violations_.data()))
        return false;
    const bool constrained = settings_.constrained;
    for (std::uint64_t i = 0; i < pop; ++i) {
        const Standing trial{state_.trial_fitness.data()[i],
                             constrained ? trial_violations_.data()[i] : 0.0};
        const Standing current{energies()[i], constrained ? violations()[i] : 0.0};
        adapter_->record(i, accepts(rule, trial, current), better(rule, trial, current),
                         current.energy, trial.energy, population() + i * dims);
        select(i);
    }
    const std::uint64_t next = adapter_->finish(evaluations_, pop);
    if (next < pop) shrink(next);
    ++generation_;
    return true;
}

// Keeps the `size` best individuals (ties to the lower index) in their
// order, and forgets the rest.
void DeEngine::shrink(std::uint64_t size) {
    const std::vector<Standing> s = standings();
    std::vector<std::uint64_t> order(s.size());
    std::iota(order.begin(), order.end(), std::uint64_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::uint64_t a, std::uint64_t b) {
        return better(settings_.selection, s[a], s[b]);
    });
    order.resize(size);
    std::sort(order.begin(), order.end());
    const std::uint64_t dims = settings_.box.dimensions;
    double* rows = state_.population.data();
    for (std::uint64_t k = 0; k < size; ++k) {
        const std::uint64_t from = order[k];
        if (from == k) continue;
        if (dims) std::memcpy(rows + k * dims, rows + from * dims, dims * sizeof(double));
        state_.fitness.data()[k] = state_.fitness.data()[from];
        if (settings_.constrained) violations_.data()[k] = violations_.data()[from];
    }
    adapter_->keep(order);
    settings_.box.pop = size;
    find_best();
}

bool DeEngine::step(FitnessFunction& fitness) {
    if (adapter_) return step_adaptively(fitness);
    bool ok = true;
    if (settings_.immediate) {
        step_immediately(fitness, ok);
    } else {
        const TrialInputs in = trial_inputs(scale_factor());
        const bool parallel = parallel_trials(fitness);
        TrialDraws draws{settings_.seeding, &run_generator_, settings_.key, generation_};
        if (parallel && settings_.seeding == Seeding::run_generator)
            draws.seeding = Seeding::thread_stream;
        generate_trials(maker_, in, draws, state_.trial.data(), parallel);
        ok = evaluate(fitness, state_.trial.data(), settings_.box.pop, state_.trial_fitness.data(),
                      trial_violations_.data());
        for (std::uint64_t i = 0; ok && i < settings_.box.pop; ++i) select(i);
    }
    if (ok) ++generation_;
    return ok;
}

StopReason DeEngine::run(FitnessFunction& fitness, const RunLimits& limits, StopHook* hook) {
    for (std::uint64_t k = 0; k < limits.generations; ++k) {
        if (hook != nullptr && hook->stop_now()) return StopReason::requested;
        if (evaluations_ > limits.max_evaluations ||
            limits.max_evaluations - evaluations_ < settings_.box.pop)
            return StopReason::evaluations;
        if (limits.deadline != std::numeric_limits<double>::infinity() &&
            steady_seconds() >= limits.deadline)
            return StopReason::time;
        if (!step(fitness)) return StopReason::failed;
        if (limits.check_convergence && converged(limits.tol, limits.atol))
            return StopReason::converged;
    }
    return StopReason::generations;
}

namespace {

// Mean and population standard deviation, summed in index order.
std::pair<double, double> mean_and_spread(const double* e, std::uint64_t n) {
    double sum = 0.0;
    for (std::uint64_t i = 0; i < n; ++i) sum += e[i];
    const double mean = sum / static_cast<double>(n);
    double squares = 0.0;
    for (std::uint64_t i = 0; i < n; ++i) squares += (e[i] - mean) * (e[i] - mean);
    return {mean, std::sqrt(squares / static_cast<double>(n))};
}

bool any_infinite(const double* e, std::uint64_t n) {
    for (std::uint64_t i = 0; i < n; ++i)
        if (std::isinf(e[i])) return true;
    return false;
}

}  // namespace

bool DeEngine::converged(double tol, double atol) const {
    const std::uint64_t n = settings_.box.pop;
    if (any_infinite(energies(), n)) return false;
    const auto [mean, spread] = mean_and_spread(energies(), n);
    return spread <= atol + tol * std::fabs(mean);
}

double DeEngine::relative_spread() const {
    const std::uint64_t n = settings_.box.pop;
    if (any_infinite(energies(), n)) return std::numeric_limits<double>::infinity();
    const auto [mean, spread] = mean_and_spread(energies(), n);
    return spread / (std::fabs(mean) + std::numeric_limits<double>::epsilon());
}

}  // namespace ternavik
