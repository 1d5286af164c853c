#include "binding/borrow_registry.hpp"

#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "binding/arguments.hpp"
#include "binding/numpy_api.hpp"

namespace ternavik {

namespace {

// Half-open address range [first, second) that an array's elements reach.
using Range = std::pair<std::intptr_t, std::intptr_t>;

// Per group (the arrays sharing one ultimate base): a count per range,
// positive for shared borrows and -1 for one exclusive borrow.
struct Bookkeeping {
    std::unordered_map<PyObject*, std::map<Range, long>> groups;
};

BorrowRegistry* registry = nullptr;

// The object that owns the memory: follow `base` while it is an array.
PyObject* group_of(const NumpyApi& numpy, PyObject* array) {
    for (;;) {
        PyObject* base = array_fields(array)->base;
        if (base == nullptr) return array;
        if (!numpy.is_array(base)) return base;
        array = base;
    }
}

Range range_of(const NumpyApi& numpy, PyObject* array) {
    const NpyArrayFields* fields = array_fields(array);
    auto start = reinterpret_cast<std::intptr_t>(fields->data);
    std::intptr_t end = start;
    for (int d = 0; d < fields->nd; ++d) {
        if (fields->dimensions[d] == 0) return {start, start};
        const std::intptr_t extent = (fields->dimensions[d] - 1) * fields->strides[d];
        (extent < 0 ? start : end) += extent;
    }
    return {start, end + numpy.element_size(array)};
}

bool overlaps(const Range& a, const Range& b) {
    return a == b || (a.first < b.second && b.first < a.second);
}

// Whether any range of `ranges` overlapping `range` satisfies `held`.
template <class Held>
bool any_overlapping(const std::map<Range, long>& ranges, const Range& range, Held held) {
    for (const auto& [other, count] : ranges)
        if (overlaps(other, range) && held(count)) return true;
    return false;
}

int shared_borrow(void* state, PyObject* array) {
    try {
        const NumpyApi& numpy = require_numpy_api();
        auto& ranges = static_cast<Bookkeeping*>(state)->groups[group_of(numpy, array)];
        const Range range = range_of(numpy, array);
        auto found = ranges.find(range);
        if (found != ranges.end() && found->second > 0) {
            ++found->second;
            return 0;
        }
        if (any_overlapping(ranges, range, [](long count) { return count < 0; })) return -1;
        ranges[range] = 1;
        return 0;
    } catch (...) {
        if (thread_is_ending()) throw;
        return -1;
    }
}

int exclusive_borrow(void* state, PyObject* array) {
    try {
        const NumpyApi& numpy = require_numpy_api();
        if ((array_fields(array)->flags & npy_array_writeable) == 0) return -2;
        auto& ranges = static_cast<Bookkeeping*>(state)->groups[group_of(numpy, array)];
        const Range range = range_of(numpy, array);
        if (any_overlapping(ranges, range, [](long count) { return count != 0; })) return -1;
        ranges[range] = -1;
        return 0;
    } catch (...) {
        if (thread_is_ending()) throw;
        return -1;
    }
}

// Applies `update` to the count of the array's range and drops empty entries.
template <class Update>
void release(void* state, PyObject* array, Update update) {
    try {
        const NumpyApi& numpy = require_numpy_api();
        auto& groups = static_cast<Bookkeeping*>(state)->groups;
        auto group = groups.find(group_of(numpy, array));
        if (group == groups.end()) return;
        auto found = group->second.find(range_of(numpy, array));
        if (found != group->second.end() && update(found->second) == 0)
            group->second.erase(found);
        if (group->second.empty()) groups.erase(group);
    } catch (...) {
        if (thread_is_ending()) throw;
    }
}

void shared_release(void* state, PyObject* array) {
    release(state, array, [](long& count) { return --count; });
}

void exclusive_release(void* state, PyObject* array) {
    release(state, array, [](long& count) { return count = 0; });
}

void destroy_registry(PyObject* capsule) {
    auto* record = static_cast<BorrowRegistry*>(PyCapsule_GetPointer(capsule, borrow_registry_name));
    if (record == nullptr) {
        PyErr_Clear();
        return;
    }
    delete static_cast<Bookkeeping*>(record->state);
    delete record;
}

Result<PyRef> install_registry(PyObject* module) {
    auto* record = new BorrowRegistry{1,
                                      new Bookkeeping,
                                      shared_borrow,
                                      exclusive_borrow,
                                      shared_release,
                                      exclusive_release};
    PyRef capsule = PyRef::steal(PyCapsule_New(record, borrow_registry_name, destroy_registry));
    if (!capsule) {
        delete static_cast<Bookkeeping*>(record->state);
        delete record;
        return PyErr::fetch();
    }
    if (PyObject_SetAttrString(module, borrow_registry_name, capsule.get()) != 0)
        return PyErr::fetch();
    return capsule;
}

Result<BorrowRegistry*> find_or_install() {
    Result<PyRef> module = import_core_multiarray();
    if (!module.ok()) return std::move(module.error());
    PyRef capsule = PyRef::steal(PyObject_GetAttrString(module.value().get(), borrow_registry_name));
    if (!capsule) {
        PyErr_Clear();
        Result<PyRef> installed = install_registry(module.value().get());
        if (!installed.ok()) return std::move(installed.error());
        capsule = std::move(installed.value());
    }
    if (!PyCapsule_CheckExact(capsule.get())) return type_check_error(capsule.get(), "PyCapsule");
    auto* record = static_cast<BorrowRegistry*>(
        PyCapsule_GetPointer(capsule.get(), borrow_registry_name));
    if (record == nullptr) return PyErr::fetch();
    if (record->version < 1)
        return PyErr::pending(PyExc_TypeError,
                              "Version " + std::to_string(record->version) +
                                  " of borrow checking API is not supported by this version of ternavik");
    capsule.release();  // kept for the life of the process
    return record;
}

BorrowRegistry& require_registry() {
    Result<BorrowRegistry*> found = borrow_registry();
    if (!found.ok())
        throw InternalFailure("Interal borrow checking API error: " + found.error().describe());
    return *found.value();
}

}  // namespace

Result<BorrowRegistry*> borrow_registry() {
    if (registry != nullptr) return registry;
    Result<BorrowRegistry*> found = find_or_install();
    if (found.ok()) registry = found.value();
    return found;
}

void borrow_shared(PyObject* array) {
    BorrowRegistry& record = require_registry();
    const int code = record.borrow_shared(record.state, array);
    if (code == 0) return;
    if (code == -1)
        throw InternalFailure("called `Result::unwrap()` on an `Err` value: AlreadyBorrowed");
    throw InternalFailure("Unexpected return code " + std::to_string(code) +
                          " from borrow checking API");
}

void release_shared(PyObject* array) {
    BorrowRegistry& record = require_registry();
    record.release_shared(record.state, array);
}

}  // namespace ternavik
