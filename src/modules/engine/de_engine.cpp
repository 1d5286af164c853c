// The stepping differential-evolution engine behind ternavik's
// differential_evolution: a handle (a capsule owning one DeEngine) and the
// functions that create, seed, run and read it.
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>

#include "binding/array_view.hpp"
#include "binding/binder.hpp"
#include "binding/py_fitness.hpp"
#include "core/checked_size.hpp"
#include "core/de/engine.hpp"
#include "entry_points.hpp"
#include "population_evaluator.hpp"
#include "stop_polling.hpp"

namespace ternavik::engine {

namespace {

constexpr const char* handle_name = "ternavik._engine.DEEngine";

// One engine and a flag that keeps two threads from running it at once
// (a native run releases the interpreter lock).
struct EngineBox {
    explicit EngineBox(EngineSettings settings) : engine(std::move(settings)) {}
    DeEngine engine;
    std::atomic<bool> busy{false};
};

void free_handle(PyObject* capsule) {
    delete static_cast<EngineBox*>(PyCapsule_GetPointer(capsule, handle_name));
}

// Marks an engine busy for one call.
class BusyMark {
public:
    explicit BusyMark(EngineBox* box) : box_(box) {
        bool idle = false;
        acquired_ = box_->busy.compare_exchange_strong(idle, true);
    }
    ~BusyMark() {
        if (acquired_) box_->busy.store(false);
    }
    BusyMark(const BusyMark&) = delete;
    BusyMark& operator=(const BusyMark&) = delete;
    bool acquired() const { return acquired_; }

private:
    EngineBox* box_;
    bool acquired_;
};

// A contiguous copy of a float64 vector.
std::vector<double> vector_copy(const ArrayView& view) {
    const StridedVector<double> values = view.float_vector();
    std::vector<double> copy(values.size());
    for (std::size_t j = 0; j < copy.size(); ++j) copy[j] = values[j];
    return copy;
}

// A row-major copy of a float64 matrix.
std::vector<double> matrix_copy(const StridedMatrix& m) {
    std::vector<double> flat(allocation_elements({m.rows, m.cols}));
    for (std::size_t i = 0; i < m.rows; ++i)
        for (std::size_t j = 0; j < m.cols; ++j) flat[i * m.cols + j] = m.at(i, j);
    return flat;
}

Result<EngineBox*> engine_box(const Arguments& a) {
    auto* box = static_cast<EngineBox*>(PyCapsule_IsValid(a.object(0), handle_name)
                                            ? PyCapsule_GetPointer(a.object(0), handle_name)
                                            : nullptr);
    if (box == nullptr)
        return PyErr::pending(PyExc_TypeError, "argument 'engine': expected an engine handle "
                                               "from de_engine_create()");
    return box;
}

// Runs `work(engine, fitness, hook)` with the fitness argument `k` a native
// function (the lock released, evaluations may be split over the pool) or a
// Python evaluator (lock held). A failed evaluation or an interrupt becomes
// the call's error.
template <class Work>
Result<StopReason> with_fitness(EngineBox* box, const Arguments& a, std::size_t k, Work&& work) {
    BusyMark busy(box);
    if (!busy.acquired())
        return PyErr::pending(PyExc_RuntimeError, "this engine is already running");
    if (a.is_native(k)) {
        NativeFitness native(a.u64(k));
        box->engine.allow_parallel_evaluation(true);
        std::optional<InterruptStop> stop;
        const StopReason reason = call_without_lock([&](GilRelease& released) {
            stop.emplace(&released);
            return work(box->engine, native, &*stop);
        });
        if (stop->error) return std::move(*stop->error);
        return reason;
    }
    PopulationEvaluator evaluator(a.object(k));
    box->engine.allow_parallel_evaluation(false);
    InterruptStop stop;
    const StopReason reason = work(box->engine, evaluator, &stop);
    if (reason == StopReason::failed) return std::move(*evaluator.error);
    if (stop.error) return std::move(*stop.error);
    return reason;
}

constexpr Parameter create_parameters[] = {
    {"low", Kind::float64_vector},
    {"high", Kind::float64_vector},
    {"pop", Kind::u64},
    {"mutation", Kind::code, 6},
    {"crossover", Kind::code, 2},
    {"bounds_handling", Kind::code, 2},
    {"F", Kind::number},
    {"F_high", Kind::number},
    {"CR", Kind::number},
    {"selection", Kind::code, 2},
    {"immediate", Kind::flag},
    {"key0", Kind::u64},
    {"key1", Kind::u64},
    {"integrality", Kind::float64_vector},
    {"constrained", Kind::flag},
    {"parallel_threshold", Kind::u64},
};
constexpr Signature create_signature{"de_engine_create", create_parameters,
                                     "A new differential-evolution engine handle."};

Result<EngineSettings> read_settings(const Arguments& a) {
    std::vector<double> low = vector_copy(a.view(0)), high = vector_copy(a.view(1));
    std::vector<double> integrality = vector_copy(a.view(13));
    if (low.size() != high.size() || a.u64(2) < 2 ||
        (!integrality.empty() && integrality.size() != low.size()))
        return PyErr::pending(PyExc_ValueError, "inconsistent engine settings");
    // The population and its trials are (pop, dims) matrices.
    if (!checked_elements({a.u64(2), low.size(), 4}))
        return PyErr::pending(PyExc_MemoryError, "the population cannot be allocated");
    EngineSettings s;
    s.box = DeConfig{std::move(low), std::move(high), a.u64(2), 0, a.real(6), a.real(8)};
    s.box.dimensions = s.box.min_bound.size();
    s.mutation = static_cast<Mutation>(a.u64(3));
    s.crossover = static_cast<Crossover>(a.u64(4));
    s.bounds = static_cast<BoundHandling>(a.u64(5));
    s.selection = static_cast<Selection>(a.u64(9));
    s.dither = a.real(7) != a.real(6);
    s.F_high = a.real(7);
    s.immediate = a.flag(10);
    s.constrained = a.flag(14);
    s.seeding = Seeding::counter;
    s.key = PhiloxKey{a.u64(11), a.u64(12)};
    s.donors_exclude_target = true;
    s.parallel_threshold = a.u64(15);
    for (double flag : integrality) s.integrality.push_back(flag != 0.0);
    if (s.box.pop <= donor_count(s.mutation))
        return PyErr::pending(PyExc_ValueError, "the population is too small for this strategy");
    return s;
}

Result<PyRef> create_body(const Arguments& a) {
    Result<EngineSettings> settings = read_settings(a);
    if (!settings.ok()) return std::move(settings.error());
    auto box = std::make_unique<EngineBox>(std::move(settings.value()));
    PyRef handle = PyRef::steal(PyCapsule_New(box.get(), handle_name, free_handle));
    if (!handle) return PyErr::fetch();
    box.release();
    return handle;
}

constexpr Parameter configure_parameters[] = {
    {"engine", Kind::object},
    {"adaptation", Kind::code, 4},
    {"budget", Kind::u64},
    {"scale_low", Kind::float64_vector},
    {"scale_high", Kind::float64_vector},
    {"objective_copy", Kind::flag},
};
constexpr Signature configure_signature{
    "de_engine_configure", configure_parameters,
    "Adaptation, unit-cube scaling and copies for the fitness, before init."};

// Settings beyond de_engine_create's, given before the population is drawn:
// the adaptation rule (0 none, 1 jDE, 2 L-SHADE, 3 jSO) and the evaluations
// its population schedule spans; the box the unit-cube population is scaled
// into (empty vectors: the population lives in the box itself); whether the
// fitness sees a copy of the rows. Rebuilds the engine's working state.
Result<PyRef> configure_body(const Arguments& a) {
    Result<EngineBox*> box = engine_box(a);
    if (!box.ok()) return std::move(box.error());
    std::vector<double> low = vector_copy(a.view(3)), high = vector_copy(a.view(4));
    BusyMark busy(box.value());
    if (!busy.acquired())
        return PyErr::pending(PyExc_RuntimeError, "this engine is already running");
    EngineSettings s = box.value()->engine.settings();
    const std::uint64_t dims = s.box.dimensions;
    if (low.size() != high.size() || (!low.empty() && low.size() != dims))
        return PyErr::pending(PyExc_ValueError, "inconsistent engine settings");
    s.adaptation = static_cast<Adaptation>(a.u64(1));
    s.adaptation_budget = a.u64(2);
    s.scale_low = std::move(low);
    s.scale_high = std::move(high);
    s.objective_copy = a.flag(5);
    box.value()->engine = DeEngine(std::move(s));
    return PyRef::borrow(Py_None);
}

constexpr Parameter init_parameters[] = {
    {"engine", Kind::object},
    {"kind", Kind::code, 3},
    {"rows", Kind::float64_matrix, 0, true},
};
constexpr Signature init_signature{"de_engine_init", init_parameters,
                                   "Sets the initial population."};

// kind 0: the given (pop, dims) rows; 1: Latin hypercube; 2: uniform.
Result<PyRef> init_body(const Arguments& a) {
    Result<EngineBox*> box = engine_box(a);
    if (!box.ok()) return std::move(box.error());
    DeEngine& engine = box.value()->engine;
    const DeConfig& shape = engine.settings().box;
    if (a.u64(1) == 1) {
        engine.draw_latin_hypercube();
    } else if (a.u64(1) == 2) {
        engine.draw_uniform();
    } else {
        const StridedMatrix m = a.view(2).matrix();
        if (!a.given(2) || m.rows != shape.pop || m.cols != shape.dimensions)
            return PyErr::pending(PyExc_ValueError, "initial rows do not match the population");
        engine.set_population(matrix_copy(m).data());
    }
    return PyRef::borrow(Py_None);
}

constexpr Parameter evaluate_parameters[] = {{"engine", Kind::object},
                                             {"fitness", Kind::fitness}};
constexpr Signature evaluate_signature{"de_engine_evaluate", evaluate_parameters,
                                       "Evaluates the whole population."};

Result<PyRef> evaluate_body(const Arguments& a) {
    Result<EngineBox*> box = engine_box(a);
    if (!box.ok()) return std::move(box.error());
    Result<StopReason> done = with_fitness(
        box.value(), a, 1, [](DeEngine& engine, FitnessFunction& fitness, StopHook*) {
            return engine.evaluate_population(fitness) ? StopReason::generations
                                                       : StopReason::failed;
        });
    if (!done.ok()) return std::move(done.error());
    return PyRef::borrow(Py_None);
}

constexpr Parameter run_parameters[] = {
    {"engine", Kind::object},      {"fitness", Kind::fitness},
    {"generations", Kind::u64},    {"tol", Kind::number},
    {"atol", Kind::number},        {"max_evaluations", Kind::u64},
    {"max_seconds", Kind::number},
};
constexpr Signature run_signature{"de_engine_run", run_parameters,
                                  "Runs generations until a limit; returns the stop reason."};

double steady_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs generations until a limit; returns the StopReason as an int. A NaN
// tol turns the convergence test off.
Result<PyRef> run_body(const Arguments& a) {
    Result<EngineBox*> box = engine_box(a);
    if (!box.ok()) return std::move(box.error());
    RunLimits limits;
    limits.generations = a.u64(2);
    limits.check_convergence = !std::isnan(a.real(3));
    limits.tol = a.real(3);
    limits.atol = a.real(4);
    limits.max_evaluations = a.u64(5);
    limits.deadline = steady_now() + a.real(6);
    Result<StopReason> reason = with_fitness(
        box.value(), a, 1, [&limits](DeEngine& engine, FitnessFunction& fitness, StopHook* hook) {
            return engine.run(fitness, limits, hook);
        });
    if (!reason.ok()) return std::move(reason.error());
    return checked(PyLong_FromLong(static_cast<long>(reason.value())));
}

constexpr Parameter state_parameters[] = {{"engine", Kind::object}};
constexpr Signature state_signature{"de_engine_state", state_parameters,
                                    "Population, energies, violations, best index, "
                                    "evaluations, generations, relative spread."};

// (population, energies, violations or None, best index or -1, evaluations,
// generations, relative spread of the energies).
Result<PyRef> state_body(const Arguments& a) {
    Result<EngineBox*> box = engine_box(a);
    if (!box.ok()) return std::move(box.error());
    const DeEngine& e = box.value()->engine;
    const std::uint64_t pop = e.settings().box.pop, dims = e.settings().box.dimensions;
    PyRef population = matrix_to_array(e.population(), pop, dims);
    PyRef energies = vector_to_array(std::vector<double>(e.energies(), e.energies() + pop));
    PyRef violations =
        e.settings().constrained
            ? vector_to_array(std::vector<double>(e.violations(), e.violations() + pop))
            : PyRef::borrow(Py_None);
    const long long best = e.best_index() == DeEngine::no_best
                               ? -1
                               : static_cast<long long>(e.best_index());
    PyRef best_index = checked(PyLong_FromLongLong(best));
    PyRef evaluations = checked(PyLong_FromUnsignedLongLong(e.evaluations()));
    PyRef generation = checked(PyLong_FromUnsignedLongLong(e.generation()));
    PyRef spread = checked(PyFloat_FromDouble(e.relative_spread()));
    return make_tuple({population.release(), energies.release(), violations.release(),
                       best_index.release(), evaluations.release(), generation.release(),
                       spread.release()});
}

constexpr Parameter native_parameters[] = {{"address", Kind::native},
                                           {"rows", Kind::float64_matrix}};
constexpr Signature native_signature{"evaluate_native", native_parameters,
                                     "Calls a native fitness function once."};

// One call of a native function on a copy of a (rows, dims) matrix, without
// the lock.
Result<PyRef> evaluate_native_body(const Arguments& a) {
    const StridedMatrix m = a.view(1).matrix();
    std::vector<double> flat = matrix_copy(m), energies(m.rows, 0.0);
    NativeFitness native(a.u64(0));
    call_without_lock([&](GilRelease&) {
        return native.evaluate(flat.data(), m.rows, m.cols, energies.data());
    });
    return vector_to_array(std::move(energies));
}

}  // namespace

std::vector<EntryPoint> de_engine_entry_points() {
    return {entry<create_signature, create_body>(),
            entry<configure_signature, configure_body>(),
            entry<init_signature, init_body>(),
            entry<evaluate_signature, evaluate_body>(),
            entry<run_signature, run_body>(),
            entry<state_signature, state_body>(),
            entry<native_signature, evaluate_native_body>()};
}

}  // namespace ternavik::engine
