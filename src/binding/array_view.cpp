#include "binding/array_view.hpp"

#include <cstring>

#include "binding/arguments.hpp"
#include "binding/borrow_registry.hpp"
#include "binding/numpy_api.hpp"

namespace ternavik {

namespace {

constexpr char array_expected[] = "PyArray<T, D>";
constexpr char keeper_name[] = "ternavik.buffer";

bool has_dtype(const NumpyApi& numpy, PyObject* array, int type_number) {
    // Held: setting the array's dtype from Python would drop the descriptor.
    const PyRef actual = PyRef::borrow(array_fields(array)->descr);
    PyRef required = PyRef::steal(numpy.descr_from_type(type_number));
    if (!required) api_call_failed();
    return actual.get() == required.get() || numpy.equiv_types(actual.get(), required.get());
}

void free_kept_buffer(PyObject* capsule) {
    delete static_cast<std::vector<double>*>(PyCapsule_GetPointer(capsule, keeper_name));
}

}  // namespace

Result<ArrayView> extract_array(PyObject* object, int ndim, int type_number) {
    const NumpyApi& numpy = require_numpy_api();
    if (!numpy.is_array(object) || array_fields(object)->nd != ndim ||
        !has_dtype(numpy, object, type_number))
        return type_check_error(object, array_expected);
    borrow_shared(object);
    ArrayView view;
    view.array_ = PyRef::borrow(object);
    const NpyArrayFields* fields = array_fields(object);
    view.data_ = fields->data;
    for (int d = 0; d < ndim; ++d) {
        view.shape_[d] = static_cast<std::size_t>(fields->dimensions[d]);
        view.strides_[d] = fields->strides[d];
    }
    return view;
}

Result<ArrayView> extract_float64_matrix(PyObject* object) { return extract_array(object, 2, npy_double); }
Result<ArrayView> extract_float64_vector(PyObject* object) { return extract_array(object, 1, npy_double); }
Result<ArrayView> extract_int64_vector(PyObject* object) { return extract_array(object, 1, npy_int64); }

ArrayView& ArrayView::operator=(ArrayView&& other) noexcept {
    if (this != &other) {
        release();
        array_ = std::move(other.array_);
        data_ = other.data_;
        std::memcpy(shape_, other.shape_, sizeof shape_);
        std::memcpy(strides_, other.strides_, sizeof strides_);
    }
    return *this;
}

ArrayView::~ArrayView() { release(); }

void ArrayView::release() {
    if (!array_) return;
    try {
        release_shared(array_.get());
    } catch (...) {
        if (thread_is_ending()) throw;
        // The registry was found when the borrow was taken and is cached for
        // the process, so it cannot be missing here.
    }
    array_.reset();
}

StridedMatrix ArrayView::matrix() const {
    return {data_, shape_[0], shape_[1], strides_[0], strides_[1]};
}
StridedVector<double> ArrayView::float_vector() const { return {data_, shape_[0], strides_[0]}; }
StridedVector<std::int64_t> ArrayView::int_vector() const {
    return {data_, shape_[0], strides_[0]};
}

PyRef vector_to_array(std::vector<double>&& buffer) {
    const NumpyApi& numpy = require_numpy_api();
    if (buffer.capacity() == 0) buffer.reserve(1);  // a real address even when empty
    auto* owned = new std::vector<double>(std::move(buffer));
    PyRef keeper = PyRef::steal(PyCapsule_New(owned, keeper_name, free_kept_buffer));
    if (!keeper) {
        delete owned;
        PyErr err = PyErr::fetch();
        throw InternalFailure("Failed to create slice container: " + err.describe());
    }
    const std::intptr_t dims[1] = {static_cast<std::intptr_t>(owned->size())};
    const std::intptr_t strides[1] = {sizeof(double)};
    PyRef array = PyRef::steal(numpy.new_from_descr(numpy.array_type(),
                                                    numpy.descr_from_type(npy_double), 1, dims,
                                                    strides, owned->data(), npy_array_writeable,
                                                    nullptr));
    if (!array) api_call_failed();
    if (numpy.set_base_object(array.get(), keeper.release()) != 0) api_call_failed();
    return array;
}

PyRef matrix_to_array(const double* data, std::size_t rows, std::size_t cols) {
    const NumpyApi& numpy = require_numpy_api();
    const std::intptr_t dims[2] = {static_cast<std::intptr_t>(rows),
                                   static_cast<std::intptr_t>(cols)};
    PyRef array = PyRef::steal(numpy.new_from_descr(numpy.array_type(),
                                                    numpy.descr_from_type(npy_double), 2, dims,
                                                    nullptr, nullptr, 0, nullptr));
    if (!array) api_call_failed();
    if (rows * cols != 0)
        std::memcpy(array_fields(array.get())->data, data, rows * cols * sizeof(double));
    return array;
}

PyRef make_tuple(std::initializer_list<PyObject*> items) {
    // Take ownership first so that every item is released on any failure.
    std::vector<PyRef> owned;
    for (PyObject* item : items) owned.push_back(PyRef::steal(item));
    for (const PyRef& item : owned)
        if (!item) api_call_failed();
    PyRef tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(owned.size())));
    for (std::size_t k = 0; k < owned.size(); ++k)
        if (PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(k), owned[k].release()) != 0)
            api_call_failed();
    return tuple;
}

}  // namespace ternavik
