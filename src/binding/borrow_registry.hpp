#pragma once
#include <cstdint>

#include "binding/errors.hpp"

namespace ternavik {

// The record that native extensions of one process share, through a capsule
// on NumPy's core multiarray module, to keep each other from writing into
// arrays that someone is reading. Its layout is shared with other
// extensions and must not change.
struct BorrowRegistry {
    std::uint64_t version;
    void* state;
    int (*borrow_shared)(void* state, PyObject* array);
    int (*borrow_exclusive)(void* state, PyObject* array);
    void (*release_shared)(void* state, PyObject* array);
    void (*release_exclusive)(void* state, PyObject* array);
};

inline constexpr char borrow_registry_name[] = "_RUST_NUMPY_BORROW_CHECKING_API";

// The registry, found or installed on first use; cached for the process.
Result<BorrowRegistry*> borrow_registry();

// Registers / ends a shared borrow of `array`; failures are internal.
void borrow_shared(PyObject* array);
void release_shared(PyObject* array);

}  // namespace ternavik
