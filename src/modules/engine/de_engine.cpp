// The stepping differential-evolution engine behind ternavik's
// differential_evolution: a handle (a capsule owning one DeEngine) and the
// functions that create, seed, run and read it.
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>

#include "binding/arguments.hpp"
#include "binding/array_view.hpp"
#include "binding/py_fitness.hpp"
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

Result<EngineBox*> extract_handle(PyObject* object) {
    auto* box = static_cast<EngineBox*>(PyCapsule_GetPointer(object, handle_name));
    if (box == nullptr) return PyErr::fetch();
    return box;
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

Result<double> extract_double(PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return PyErr::fetch();
    return value;
}

Result<std::vector<double>> extract_vector(PyObject* object) {
    Result<ArrayView> view = extract_float64_vector(object);
    if (!view.ok()) return std::move(view.error());
    const StridedVector<double> values = view.value().float_vector();
    std::vector<double> copy(values.size());
    for (std::size_t j = 0; j < copy.size(); ++j) copy[j] = values[j];
    return copy;
}

// Runs `work(engine, fitness, hook)` with the fitness a native address (the
// lock released, evaluations may be split over the pool) or a Python
// evaluator (lock held). A failed evaluation or an interrupt becomes the
// call's error.
template <class Work>
Result<StopReason> with_fitness(EngineBox* box, PyObject* fitness, Work&& work) {
    BusyMark busy(box);
    if (!busy.acquired())
        return PyErr::pending(PyExc_RuntimeError, "this engine is already running");
    if (PyLong_Check(fitness)) {
        Result<std::uint64_t> address = extract_u64(fitness);
        if (!address.ok()) return std::move(address.error());
        NativeFitness native(address.value());
        box->engine.allow_parallel_evaluation(true);
        std::optional<InterruptStop> stop;
        const StopReason reason = call_without_lock([&](GilRelease& released) {
            stop.emplace(&released);
            return work(box->engine, native, &*stop);
        });
        if (stop->error) return std::move(*stop->error);
        return reason;
    }
    PopulationEvaluator evaluator(fitness);
    box->engine.allow_parallel_evaluation(false);
    InterruptStop stop;
    const StopReason reason = work(box->engine, evaluator, &stop);
    if (reason == StopReason::failed) return std::move(*evaluator.error);
    if (stop.error) return std::move(*stop.error);
    return reason;
}

const char* const create_parameters[] = {
    "low", "high", "pop", "mutation", "crossover", "bounds_handling", "F", "F_high", "CR",
    "selection", "immediate", "key0", "key1", "integrality", "constrained",
    "parallel_threshold"};
const ArgumentDescription create_arguments{"de_engine_create()", create_parameters, 16};

Result<EngineSettings> read_settings(PyObject** a) {
    EngineSettings s;
    Result<std::vector<double>> low = extract_vector(a[0]), high = extract_vector(a[1]);
    if (!low.ok()) return std::move(low.error());
    if (!high.ok()) return std::move(high.error());
    Result<std::uint64_t> u[6] = {extract_u64(a[2]), extract_u64(a[3]),  extract_u64(a[4]),
                                  extract_u64(a[5]), extract_u64(a[9]),  extract_u64(a[15])};
    for (auto& r : u)
        if (!r.ok()) return std::move(r.error());
    Result<double> d[3] = {extract_double(a[6]), extract_double(a[7]), extract_double(a[8])};
    for (auto& r : d)
        if (!r.ok()) return std::move(r.error());
    Result<std::uint64_t> key0 = extract_u64(a[11]), key1 = extract_u64(a[12]);
    if (!key0.ok()) return std::move(key0.error());
    if (!key1.ok()) return std::move(key1.error());
    Result<std::vector<double>> integrality = extract_vector(a[13]);
    if (!integrality.ok()) return std::move(integrality.error());
    if (low.value().size() != high.value().size() || u[0].value() < 2 ||
        u[1].value() > 5 || u[2].value() > 1 || u[3].value() > 1 || u[4].value() > 1 ||
        (!integrality.value().empty() && integrality.value().size() != low.value().size()))
        return PyErr::pending(PyExc_ValueError, "inconsistent engine settings");
    s.box = DeConfig{std::move(low.value()), std::move(high.value()), u[0].value(), 0,
                     d[0].value(), d[2].value()};
    s.box.dimensions = s.box.min_bound.size();
    s.mutation = static_cast<Mutation>(u[1].value());
    s.crossover = static_cast<Crossover>(u[2].value());
    s.bounds = static_cast<BoundHandling>(u[3].value());
    s.selection = static_cast<Selection>(u[4].value());
    s.dither = d[1].value() != d[0].value();
    s.F_high = d[1].value();
    s.immediate = PyObject_IsTrue(a[10]) == 1;
    s.constrained = PyObject_IsTrue(a[14]) == 1;
    s.seeding = Seeding::counter;
    s.key = PhiloxKey{key0.value(), key1.value()};
    s.donors_exclude_target = true;
    s.parallel_threshold = u[5].value();
    for (double flag : integrality.value()) s.integrality.push_back(flag != 0.0);
    if (s.box.pop <= donor_count(s.mutation))
        return PyErr::pending(PyExc_ValueError, "the population is too small for this strategy");
    return s;
}

Result<PyRef> create_body(PyObject* args, PyObject* kwargs) {
    PyObject* a[16];
    Status bound = bind_arguments(create_arguments, args, kwargs, a);
    if (!bound.ok()) return std::move(bound.error());
    Result<EngineSettings> settings = read_settings(a);
    if (!settings.ok()) return std::move(settings.error());
    auto box = std::make_unique<EngineBox>(std::move(settings.value()));
    PyRef handle = PyRef::steal(PyCapsule_New(box.get(), handle_name, free_handle));
    if (!handle) return PyErr::fetch();
    box.release();
    return handle;
}

const char* const configure_parameters[] = {"engine",    "adaptation", "budget",
                                            "scale_low", "scale_high", "objective_copy"};
const ArgumentDescription configure_arguments{"de_engine_configure()", configure_parameters, 6};

// Settings beyond de_engine_create's, given before the population is drawn:
// the adaptation rule (0 none, 1 jDE, 2 L-SHADE, 3 jSO) and the evaluations
// its population schedule spans; the box the unit-cube population is scaled
// into (empty vectors: the population lives in the box itself); whether the
// fitness sees a copy of the rows. Rebuilds the engine's working state.
Result<PyRef> configure_body(PyObject* args, PyObject* kwargs) {
    PyObject* a[6];
    Status bound = bind_arguments(configure_arguments, args, kwargs, a);
    if (!bound.ok()) return std::move(bound.error());
    Result<EngineBox*> box = extract_handle(a[0]);
    if (!box.ok()) return std::move(box.error());
    Result<std::uint64_t> adaptation = extract_u64(a[1]), budget = extract_u64(a[2]);
    if (!adaptation.ok()) return std::move(adaptation.error());
    if (!budget.ok()) return std::move(budget.error());
    const int copy = PyObject_IsTrue(a[5]);
    if (copy < 0) return PyErr::fetch();
    Result<std::vector<double>> low = extract_vector(a[3]), high = extract_vector(a[4]);
    if (!low.ok()) return std::move(low.error());
    if (!high.ok()) return std::move(high.error());
    BusyMark busy(box.value());
    if (!busy.acquired())
        return PyErr::pending(PyExc_RuntimeError, "this engine is already running");
    EngineSettings s = box.value()->engine.settings();
    const std::uint64_t dims = s.box.dimensions;
    if (adaptation.value() > 3 || low.value().size() != high.value().size() ||
        (!low.value().empty() && low.value().size() != dims))
        return PyErr::pending(PyExc_ValueError, "inconsistent engine settings");
    s.adaptation = static_cast<Adaptation>(adaptation.value());
    s.adaptation_budget = budget.value();
    s.scale_low = std::move(low.value());
    s.scale_high = std::move(high.value());
    s.objective_copy = copy == 1;
    box.value()->engine = DeEngine(std::move(s));
    return PyRef::borrow(Py_None);
}

const char* const init_parameters[] = {"engine", "kind", "rows"};
const ArgumentDescription init_arguments{"de_engine_init()", init_parameters, 3};

// kind 0: the given (pop, dims) rows; 1: Latin hypercube; 2: uniform.
Result<PyRef> init_body(PyObject* args, PyObject* kwargs) {
    PyObject* a[3];
    Status bound = bind_arguments(init_arguments, args, kwargs, a);
    if (!bound.ok()) return std::move(bound.error());
    Result<EngineBox*> box = extract_handle(a[0]);
    if (!box.ok()) return std::move(box.error());
    Result<std::uint64_t> kind = extract_u64(a[1]);
    if (!kind.ok()) return std::move(kind.error());
    DeEngine& engine = box.value()->engine;
    const DeConfig& shape = engine.settings().box;
    if (kind.value() == 1) {
        engine.draw_latin_hypercube();
    } else if (kind.value() == 2) {
        engine.draw_uniform();
    } else {
        Result<ArrayView> rows = extract_float64_matrix(a[2]);
        if (!rows.ok()) return std::move(rows.error());
        const StridedMatrix m = rows.value().matrix();
        if (m.rows != shape.pop || m.cols != shape.dimensions)
            return PyErr::pending(PyExc_ValueError, "initial rows do not match the population");
        std::vector<double> flat(m.rows * m.cols);
        for (std::size_t i = 0; i < m.rows; ++i)
            for (std::size_t j = 0; j < m.cols; ++j) flat[i * m.cols + j] = m.at(i, j);
        engine.set_population(flat.data());
    }
    return PyRef::borrow(Py_None);
}

const char* const evaluate_parameters[] = {"engine", "fitness"};
const ArgumentDescription evaluate_arguments{"de_engine_evaluate()", evaluate_parameters, 2};

Result<PyRef> evaluate_body(PyObject* args, PyObject* kwargs) {
    PyObject* a[2];
    Status bound = bind_arguments(evaluate_arguments, args, kwargs, a);
    if (!bound.ok()) return std::move(bound.error());
    Result<EngineBox*> box = extract_handle(a[0]);
    if (!box.ok()) return std::move(box.error());
    Result<StopReason> done = with_fitness(
        box.value(), a[1], [](DeEngine& engine, FitnessFunction& fitness, StopHook*) {
            return engine.evaluate_population(fitness) ? StopReason::generations
                                                       : StopReason::failed;
        });
    if (!done.ok()) return std::move(done.error());
    return PyRef::borrow(Py_None);
}

const char* const run_parameters[] = {"engine", "fitness", "generations", "tol", "atol",
                                      "max_evaluations", "max_seconds"};
const ArgumentDescription run_arguments{"de_engine_run()", run_parameters, 7};

double steady_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs generations until a limit; returns the StopReason as an int. A NaN
// tol turns the convergence test off.
Result<PyRef> run_body(PyObject* args, PyObject* kwargs) {
    PyObject* a[7];
    Status bound = bind_arguments(run_arguments, args, kwargs, a);
    if (!bound.ok()) return std::move(bound.error());
    Result<EngineBox*> box = extract_handle(a[0]);
    if (!box.ok()) return std::move(box.error());
    Result<std::uint64_t> generations = extract_u64(a[2]), budget = extract_u64(a[5]);
    if (!generations.ok()) return std::move(generations.error());
    if (!budget.ok()) return std::move(budget.error());
    Result<double> tol = extract_double(a[3]), atol = extract_double(a[4]),
                   seconds = extract_double(a[6]);
    for (auto* r : {&tol, &atol, &seconds})
        if (!r->ok()) return std::move(r->error());
    RunLimits limits;
    limits.generations = generations.value();
    limits.check_convergence = !std::isnan(tol.value());
    limits.tol = tol.value();
    limits.atol = atol.value();
    limits.max_evaluations = budget.value();
    limits.deadline = steady_now() + seconds.value();
    Result<StopReason> reason = with_fitness(
        box.value(), a[1], [&limits](DeEngine& engine, FitnessFunction& fitness, StopHook* hook) {
            return engine.run(fitness, limits, hook);
        });
    if (!reason.ok()) return std::move(reason.error());
    return checked(PyLong_FromLong(static_cast<long>(reason.value())));
}

const char* const state_parameters[] = {"engine"};
const ArgumentDescription state_arguments{"de_engine_state()", state_parameters, 1};

// (population, energies, violations or None, best index or -1, evaluations,
// generations, relative spread of the energies).
Result<PyRef> state_body(PyObject* args, PyObject* kwargs) {
    PyObject* a[1];
    Status bound = bind_arguments(state_arguments, args, kwargs, a);
    if (!bound.ok()) return std::move(bound.error());
    Result<EngineBox*> box = extract_handle(a[0]);
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

const char* const native_parameters[] = {"address", "rows"};
const ArgumentDescription native_arguments{"evaluate_native()", native_parameters, 2};

// One call of a native function on a (rows, dims) matrix, without the lock.
Result<PyRef> evaluate_native_body(PyObject* args, PyObject* kwargs) {
    PyObject* a[2];
    Status bound = bind_arguments(native_arguments, args, kwargs, a);
    if (!bound.ok()) return std::move(bound.error());
    Result<std::uint64_t> address = extract_u64(a[0]);
    if (!address.ok()) return std::move(address.error());
    Result<ArrayView> rows = extract_float64_matrix(a[1]);
    if (!rows.ok()) return std::move(rows.error());
    const StridedMatrix m = rows.value().matrix();
    std::vector<double> flat(m.rows * m.cols), energies(m.rows, 0.0);
    for (std::size_t i = 0; i < m.rows; ++i)
        for (std::size_t j = 0; j < m.cols; ++j) flat[i * m.cols + j] = m.at(i, j);
    NativeFitness native(address.value());
    call_without_lock([&](GilRelease&) {
        return native.evaluate(flat.data(), m.rows, m.cols, energies.data());
    });
    return vector_to_array(std::move(energies));
}

}  // namespace

PyObject* de_engine_create(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return create_body(args, kwargs); });
}
PyObject* de_engine_configure(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return configure_body(args, kwargs); });
}
PyObject* de_engine_init(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return init_body(args, kwargs); });
}
PyObject* de_engine_evaluate(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return evaluate_body(args, kwargs); });
}
PyObject* de_engine_run(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return run_body(args, kwargs); });
}
PyObject* de_engine_state(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return state_body(args, kwargs); });
}
PyObject* evaluate_native(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return evaluate_native_body(args, kwargs); });
}

}  // namespace ternavik::engine
