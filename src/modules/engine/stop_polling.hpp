#pragma once
// The engine's per-generation "stop now?" hook, answered from the
// interpreter's pending signals so Ctrl-C ends a run between generations.
#include <optional>

#include "binding/interrupt_check.hpp"
#include "core/de/engine.hpp"

namespace ternavik::engine {

// Stops the run when a signal handler raised (KeyboardInterrupt for
// Ctrl-C) and keeps that exception for the caller to raise.
class InterruptStop final : public StopHook {
public:
    // `released`: the scope through which the run gave up the interpreter
    // lock, or nullptr when it holds the lock.
    explicit InterruptStop(GilRelease* released = nullptr) : check_(released) {}

    bool stop_now() override {
        error = check_.poll();
        return error.has_value();
    }

    std::optional<PyErr> error;

private:
    InterruptCheck check_;
};

}  // namespace ternavik::engine
