#pragma once
#include <string>
#include <utility>
#include <variant>

namespace ternavik {

// The exception types that expected failures of the algorithms map to.
enum class ErrorKind { type_error, value_error, overflow_error, runtime_error };

// An expected failure of an algorithm, reported as a value; the binding
// turns it into the matching Python exception with this exact message.
struct CoreError {
    ErrorKind kind;
    std::string message;
};

// Either a value or an error; errors travel as values, not exceptions.
template <class T, class Error>
class Expected {
public:
    Expected(T value) : state_(std::move(value)) {}
    Expected(Error error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    T& value() { return std::get<0>(state_); }
    Error& error() { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// Either a result or a CoreError.
template <class T>
using Outcome = Expected<T, CoreError>;

}  // namespace ternavik
