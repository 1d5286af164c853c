#include "binding/numpy_api.hpp"

#include <cstring>
#include <string>

#include "binding/arguments.hpp"
#include "binding/python_call.hpp"

namespace ternavik {

namespace {

// Descriptor layouts: the element size is an int at byte 32 in NumPy 1
// and an intptr at byte 40 in NumPy 2.
constexpr unsigned numpy2_feature_version = 0x12;
constexpr std::size_t numpy1_elsize_offset = 32;
constexpr std::size_t numpy2_elsize_offset = 40;

const char* core_name = nullptr;  // "numpy._core" or "numpy.core", once known
const NumpyApi* api = nullptr;
unsigned cached_feature_version = 0;

Result<const char*> find_core_name() {
    if (core_name != nullptr) return core_name;
    PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
    if (!numpy) return PyErr::fetch();
    PyRef version = PyRef::steal(PyObject_GetAttrString(numpy.get(), "__version__"));
    if (!version) return PyErr::fetch();
    PyRef lib = PyRef::steal(PyImport_ImportModule("numpy.lib"));
    if (!lib) return PyErr::fetch();
    PyRef parser = PyRef::steal(PyObject_GetAttrString(lib.get(), "NumpyVersion"));
    if (!parser) return PyErr::fetch();
    Result<PyRef> called = call_python(parser.get(), {version.clone().release()});
    if (!called.ok()) return std::move(called.error());
    PyRef parsed = std::move(called.value());
    PyRef major = PyRef::steal(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major) return PyErr::fetch();
    const long value = PyLong_AsLong(major.get());
    if (value == -1 && PyErr_Occurred()) return PyErr::fetch();
    if (value < 0 || value > 255)
        return PyErr::pending(PyExc_OverflowError, "out of range integral type conversion attempted");
    core_name = value >= 2 ? "numpy._core" : "numpy.core";
    return core_name;
}

Result<const NumpyApi*> load_numpy_api() {
    Result<PyRef> multiarray = import_core_multiarray();
    if (!multiarray.ok()) return std::move(multiarray.error());
    PyRef capsule = PyRef::steal(PyObject_GetAttrString(multiarray.value().get(), "_ARRAY_API"));
    if (!capsule) return PyErr::fetch();
    if (!PyCapsule_CheckExact(capsule.get())) return type_check_error(capsule.get(), "PyCapsule");
    const char* name = PyCapsule_GetName(capsule.get());
    if (name == nullptr) PyErr_Clear();
    void* table = PyCapsule_GetPointer(capsule.get(), name);
    if (table == nullptr) PyErr_Clear();
    capsule.release();  // kept for the life of the process: the table lives in it
    auto* loaded = new NumpyApi(static_cast<void**>(table));
    cached_feature_version = loaded->feature_version();
    return loaded;
}

}  // namespace

Result<PyRef> import_core_multiarray() {
    Result<const char*> core = find_core_name();
    if (!core.ok()) return std::move(core.error());
    std::string name = std::string(core.value()) + ".multiarray";
    PyRef module = PyRef::steal(PyImport_ImportModule(name.c_str()));
    if (!module) return PyErr::fetch();
    return module;
}

Result<const NumpyApi*> numpy_api() {
    if (api != nullptr) return api;
    Result<const NumpyApi*> loaded = load_numpy_api();
    if (loaded.ok()) api = loaded.value();
    return loaded;
}

const NumpyApi& require_numpy_api() {
    Result<const NumpyApi*> loaded = numpy_api();
    if (!loaded.ok())
        throw InternalFailure("Failed to access NumPy array API capsule: " + loaded.error().describe());
    return *loaded.value();
}

std::intptr_t NumpyApi::element_size(PyObject* array) const {
    const char* descr = reinterpret_cast<const char*>(array_fields(array)->descr);
    if (cached_feature_version >= numpy2_feature_version) {
        std::intptr_t size;
        std::memcpy(&size, descr + numpy2_elsize_offset, sizeof size);
        return size;
    }
    int size;
    std::memcpy(&size, descr + numpy1_elsize_offset, sizeof size);
    return size;
}

}  // namespace ternavik
