#pragma once
#include <stdexcept>
#include <string>

namespace ternavik {

// A broken invariant or an unexpected failure of a call that must not fail.
// It unwinds (across worker threads too) to the entry-point guard, which
// raises it in Python as the internal-failure exception type.
class InternalFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ternavik
