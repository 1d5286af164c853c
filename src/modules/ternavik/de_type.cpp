// The class _DE: an immutable optimiser configuration and its optimize().
#include <atomic>
#include <new>

#include "binding/arguments.hpp"
#include "binding/array_view.hpp"
#include "core/de/evolution.hpp"
#include "entry_points.hpp"
#include "binding/py_fitness.hpp"

namespace ternavik {

namespace {

struct DeObject {
    PyObject_HEAD
    DeConfig config;
    // Number of optimize calls using the instance; they may run at once on
    // several threads without the interpreter lock, hence atomic.
    std::atomic<std::int64_t> borrow_count;
};

DeObject* as_de(PyObject* self) { return reinterpret_cast<DeObject*>(self); }

const char* const new_parameters[] = {"pop", "dimensions", "options", "bounds"};
const ArgumentDescription new_arguments{"_DE.__new__()", new_parameters, 4};
const char* const optimize_parameters[] = {"fitness_function", "iters"};
const ArgumentDescription optimize_arguments{"_DE.optimize()", optimize_parameters, 2};

// options[key] by the dictionary's own lookup, as a strong reference (the
// dictionary's own may go while the value's __float__ runs), or empty when
// absent.
Result<PyRef> lookup_option(PyObject* options, const char* key) {
    PyRef name = checked(PyUnicode_FromString(key));
    PyObject* value = PyDict_GetItemWithError(options, name.get());
    if (value == nullptr && PyErr_Occurred()) return PyErr::fetch();
    return PyRef::borrow(value);
}

// A control parameter from its key, else its alternative key, else the
// default. A value whose conversion to float raises an ordinary exception
// silently gives the default; KeyboardInterrupt, SystemExit and the other
// exceptions that are not an Exception propagate.
Result<double> read_option(PyObject* options, const char* key, const char* alternative,
                           double fallback) {
    Result<PyRef> value = lookup_option(options, key);
    if (!value.ok()) return std::move(value.error());
    if (!value.value()) {
        value = lookup_option(options, alternative);
        if (!value.ok()) return std::move(value.error());
        if (!value.value()) return fallback;
    }
    const double converted = PyFloat_AsDouble(value.value().get());
    if (converted == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_Exception)) return PyErr::fetch();
        PyErr_Clear();
        return fallback;
    }
    return converted;
}

// A contiguous copy of a bound, in logical order.
std::vector<double> copy_of(const StridedVector<double>& values) {
    std::vector<double> copy(values.size());
    for (std::size_t j = 0; j < copy.size(); ++j) copy[j] = values[j];
    return copy;
}

struct Bounds {
    std::vector<double> lower, upper;
};

// Private copies of bounds[0] and bounds[1]: both arrays are borrowed, then
// both copied, then released in reverse order of borrowing.
Result<Bounds> copy_bounds(PyObject* bounds) {
    const PyRef lower_object = PyRef::borrow(PyTuple_GetItem(bounds, 0));
    const PyRef upper_object = PyRef::borrow(PyTuple_GetItem(bounds, 1));
    Result<ArrayView> lower = extract_float64_vector(lower_object.get());
    if (!lower.ok()) return std::move(lower.error());
    Result<ArrayView> upper = extract_float64_vector(upper_object.get());
    if (!upper.ok()) return std::move(upper.error());
    Bounds copies{copy_of(lower.value().float_vector()), copy_of(upper.value().float_vector())};
    upper.value().release();
    lower.value().release();
    return copies;
}

Result<PyRef> allocate_instance(PyTypeObject* type, DeConfig config) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    if (alloc == nullptr) alloc = PyType_GenericAlloc;
    PyRef self = PyRef::steal(alloc(type, 0));
    if (!self) return PyErr::fetch();
    new (&as_de(self.get())->config) DeConfig(std::move(config));
    new (&as_de(self.get())->borrow_count) std::atomic<std::int64_t>(0);
    return self;
}

Result<PyRef> new_body(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyRef slots[4];
    Status bound = bind_arguments(new_arguments, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    Result<std::uint64_t> pop = convert_argument("pop", slots[0].get(), extract_u64);
    if (!pop.ok()) return std::move(pop.error());
    Result<std::uint64_t> dimensions = convert_argument("dimensions", slots[1].get(), extract_u64);
    if (!dimensions.ok()) return std::move(dimensions.error());
    Result<PyObject*> options = convert_argument("options", slots[2].get(), extract_dict);
    if (!options.ok()) return std::move(options.error());
    Result<PyObject*> bounds = convert_argument("bounds", slots[3].get(), extract_tuple);
    if (!bounds.ok()) return std::move(bounds.error());

    if (pop.value() < 4)
        return PyErr::pending(PyExc_ValueError, "Population size must be at least 4 for DE");
    Result<double> F = read_option(options.value(), "F", "c1", 0.5);
    if (!F.ok()) return std::move(F.error());
    Result<double> CR = read_option(options.value(), "CR", "c2", 0.7);
    if (!CR.ok()) return std::move(CR.error());
    if (PyTuple_Size(bounds.value()) != 2)
        return PyErr::pending(PyExc_ValueError, "Bounds must be a tuple of (min_bound, max_bound)");
    Result<Bounds> copies = copy_bounds(bounds.value());
    if (!copies.ok()) return std::move(copies.error());
    Bounds& box = copies.value();
    if (box.lower.size() != dimensions.value() || box.upper.size() != dimensions.value())
        return PyErr::pending(PyExc_ValueError, "Bounds dimensions must match problem dimensions");

    return allocate_instance(type, DeConfig{std::move(box.lower), std::move(box.upper),
                                            pop.value(), dimensions.value(), F.value(),
                                            CR.value()});
}

// A shared borrow of an instance for the length of one optimize call.
class SharedBorrow {
public:
    explicit SharedBorrow(DeObject* self) : self_(self) {
        std::int64_t count = self_->borrow_count.load();
        while (!self_->borrow_count.compare_exchange_weak(count, count + 1)) {
        }
    }
    ~SharedBorrow() { self_->borrow_count.fetch_sub(1); }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

private:
    DeObject* self_;
};

// (best fitness as a float, best position as a new array).
Result<PyRef> result_tuple(DeResult result) {
    PyRef best_fitness = checked(PyFloat_FromDouble(result.best_fitness));
    PyRef best_position = vector_to_array(std::move(result.best_position));
    return make_tuple({best_fitness.release(), best_position.release()});
}

Result<PyRef> run(const DeConfig& config, ClassifiedFitness& fitness, std::uint64_t iters) {
    if (auto* native = std::get_if<NativeFitness>(&fitness)) {
        std::optional<DeResult> result = call_without_lock([&](GilRelease& released) {
            native->watch_interrupts(released);
            return run_evolution(config, *native, iters);
        });
        if (!result) return native->take_error();
        return result_tuple(std::move(*result));
    }
    auto& callable = std::get<CallableFitness>(fitness);
    std::optional<DeResult> result = run_evolution(config, callable, iters);
    if (!result) return callable.take_error();
    return result_tuple(std::move(*result));
}

Result<PyRef> optimize_body(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyRef slots[2];
    Status bound = bind_arguments(optimize_arguments, args, kwargs, slots);
    if (!bound.ok()) return std::move(bound.error());
    // The instance must outlive the borrow, whatever the fitness function does.
    const PyRef instance = PyRef::borrow(self);
    SharedBorrow borrow(as_de(self));
    Result<std::uint64_t> iters = convert_argument("iters", slots[1].get(), extract_u64);
    if (!iters.ok()) return std::move(iters.error());
    Result<ClassifiedFitness> fitness = classify_fitness_function(slots[0].get());
    if (!fitness.ok()) return std::move(fitness.error());
    return run(as_de(self)->config, fitness.value(), iters.value());
}

PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return new_body(type, args, kwargs); });
}

PyObject* optimize_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
    return entry_guard([&] { return optimize_body(self, args, kwargs); });
}

// Frees the configuration, then the memory through the actual type's free
// slot, and drops the instance's reference to its heap type.
void dealloc_entry(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    as_de(self)->config.~DeConfig();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
}

PyMethodDef de_methods[] = {
    {"optimize", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(optimize_entry)),
     METH_VARARGS | METH_KEYWORDS, "optimize($self, fitness_function, iters)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

const char de_doc[] = "_DE(pop, dimensions, options, bounds)\n--\n\n";

PyType_Slot de_slots[] = {
    {Py_tp_doc, const_cast<char*>(de_doc)},
    {Py_tp_new, reinterpret_cast<void*>(new_entry)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_entry)},
    {Py_tp_methods, de_methods},
    {0, nullptr},
};

PyType_Spec de_spec = {"builtins._DE", static_cast<int>(sizeof(DeObject)), 0,
                       Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, de_slots};

PyObject* type_cell = nullptr;

}  // namespace

Result<PyObject*> de_type() {
    if (type_cell != nullptr) return type_cell;
    PyObject* type = PyType_FromSpec(&de_spec);
    if (type == nullptr) {
        PyErr cause = PyErr::fetch();
        return PyErr::pending(PyExc_RuntimeError, "An error occurred while initializing class _DE",
                              cause.value());
    }
    type_cell = type;
    return type_cell;
}

}  // namespace ternavik
