#pragma once
#include <cstdint>

#include "binding/errors.hpp"

namespace ternavik {

// NumPy's type numbers that this module asks descriptors for.
inline constexpr int npy_double = 12;
// The platform's 64-bit signed integer (C long on LP64 Linux).
inline constexpr int npy_int64 = sizeof(long) == 8 ? 7 : 9;
inline constexpr int npy_array_writeable = 0x0400;

// The leading fields of NumPy's array object; stable across NumPy 1 and 2.
struct NpyArrayFields {
    PyObject_HEAD
    char* data;
    int nd;
    std::intptr_t* dimensions;
    std::intptr_t* strides;
    PyObject* base;
    PyObject* descr;
    int flags;
    PyObject* weakreflist;
};

inline NpyArrayFields* array_fields(PyObject* array) {
    return reinterpret_cast<NpyArrayFields*>(array);
}

// NumPy's C function table, found at run time (no NumPy headers at build
// time). Slot numbers are those of NumPy's own multiarray API table.
class NumpyApi {
public:
    explicit NumpyApi(void** table) : table_(table) {}

    PyTypeObject* array_type() const { return static_cast<PyTypeObject*>(table_[2]); }
    // New reference to the descriptor of a type number.
    PyObject* descr_from_type(int type_number) const {
        return reinterpret_cast<PyObject* (*)(int)>(table_[45])(type_number);
    }
    // Steals `descr`, also on failure.
    PyObject* new_from_descr(PyTypeObject* subtype, PyObject* descr, int nd,
                             const std::intptr_t* dims, const std::intptr_t* strides, void* data,
                             int flags, PyObject* obj) const {
        using Fn = PyObject* (*)(PyTypeObject*, PyObject*, int, const std::intptr_t*,
                                 const std::intptr_t*, void*, int, PyObject*);
        return reinterpret_cast<Fn>(table_[94])(subtype, descr, nd, dims, strides, data, flags,
                                                obj);
    }
    bool equiv_types(PyObject* a, PyObject* b) const {
        return reinterpret_cast<unsigned char (*)(PyObject*, PyObject*)>(table_[182])(a, b) != 0;
    }
    unsigned feature_version() const {
        return reinterpret_cast<unsigned (*)()>(table_[211])();
    }
    // Steals `base`, also on failure.
    int set_base_object(PyObject* array, PyObject* base) const {
        return reinterpret_cast<int (*)(PyObject*, PyObject*)>(table_[282])(array, base);
    }

    bool is_array(PyObject* object) const {
        PyTypeObject* type = Py_TYPE(object);
        return type == array_type() || PyType_IsSubtype(type, array_type());
    }
    // Element size of an array's dtype; the descriptor layout differs
    // between NumPy 1 and NumPy 2.
    std::intptr_t element_size(PyObject* array) const;

private:
    void** table_;
};

// The table, loaded on first use; failures leave nothing cached.
Result<const NumpyApi*> numpy_api();

// numpy_api() or the internal failure that array conversions report.
const NumpyApi& require_numpy_api();

// "numpy._core" or "numpy.core" followed by ".multiarray", imported.
Result<PyRef> import_core_multiarray();

}  // namespace ternavik
