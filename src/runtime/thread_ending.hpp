#pragma once
#include <exception>

namespace ternavik {

// pthread_exit (and cancellation) end a thread by unwinding its stack with
// an exception that is not a C++ exception; CPython ends daemon threads that
// way when they try to take the interpreter lock while it shuts down. A
// catch (...) sees it and must let it go on (rethrow), or the process
// aborts. Inside catch (...) it is told apart by having no exception object
// (std::current_exception() is empty for any non-C++ unwind); catching it
// by type would bind a reference to an object that does not exist.
inline bool thread_is_ending() { return !std::current_exception(); }

}  // namespace ternavik
