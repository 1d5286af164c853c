#pragma once
// Every owned PyObject* lives in a PyRef, so failure paths need no
// reference bookkeeping at all.
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x03080000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <optional>
#include <utility>

#include "runtime/thread_ending.hpp"

namespace ternavik {

namespace detail {
// Set on a thread that the interpreter is ending: it no longer holds the
// lock, and the interpreter is being torn down, so the references its
// frames still own are left alone rather than released.
inline thread_local bool thread_ending = false;
}  // namespace detail

// Move-only owner of one strong reference (or of nothing).
class PyRef {
public:
    PyRef() = default;
    static PyRef steal(PyObject* object) { return PyRef(object); }
    static PyRef borrow(PyObject* object) {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(PyRef&& other) noexcept : object_(other.release()) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() {
        if (object_ != nullptr && !detail::thread_ending) Py_DECREF(object_);
    }

    PyObject* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller (e.g. as a function's result).
    PyObject* release() { return std::exchange(object_, nullptr); }
    void reset(PyObject* object = nullptr) { Py_XDECREF(std::exchange(object_, object)); }
    PyRef clone() const { return borrow(object_); }

private:
    explicit PyRef(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

// Releases the interpreter lock for its lifetime and takes it back on every
// way out, exceptions included.
class GilRelease {
public:
    GilRelease() : state_(PyEval_SaveThread()) {}
    // Not noexcept: while the interpreter shuts down, taking the lock back
    // ends this thread with pthread_exit, whose unwind must pass through.
    ~GilRelease() noexcept(false) {
        if (state_ != nullptr) retake();
    }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

    // Runs `body` with the lock held again, then gives it up anew. When
    // `body` throws, the lock stays held and this scope will not take it.
    template <class Body>
    auto with_lock(Body&& body) {
        retake();
        auto result = body();
        state_ = PyEval_SaveThread();
        return result;
    }

    // The thread is being ended: nothing may take the lock again.
    void abandon() { state_ = nullptr; }

private:
    void retake() {
        PyThreadState* state = std::exchange(state_, nullptr);
        try {
            PyEval_RestoreThread(state);
        } catch (...) {  // only a thread being ended can unwind out of it
            detail::thread_ending = true;
            throw;
        }
    }

    PyThreadState* state_;
};

// Runs body(released) with the interpreter lock released and takes the lock
// back on every path. A failure is carried past the re-take instead of
// unwinding through it, so the lock is never taken during an unwind; a
// thread that is being ended leaves without touching the interpreter again.
template <class Body>
auto call_without_lock(Body&& body) {
    using Value = decltype(body(std::declval<GilRelease&>()));
    std::optional<Value> result;
    std::exception_ptr failure;
    {
        GilRelease released;
        try {
            result.emplace(body(released));
        } catch (...) {
            if (thread_is_ending()) {
                released.abandon();
                detail::thread_ending = true;
                throw;
            }
            failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

}  // namespace ternavik
