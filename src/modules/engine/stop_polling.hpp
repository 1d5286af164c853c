#pragma once
// The engine's per-generation "stop now?" hook, answered from the
// interpreter's signal flags so Ctrl-C ends a run between generations.
#include <chrono>
#include <optional>

#include "binding/errors.hpp"
#include "core/de/engine.hpp"

namespace ternavik::engine {

// For runs that hold the interpreter lock: runs the pending signal
// handlers after every generation; KeyboardInterrupt (or whatever a handler
// raises) stops the run and is kept for the caller to raise.
class LockedInterruptPoll final : public StopHook {
public:
    bool stop_now() override;
    std::optional<PyErr> error;
};

// For runs without the lock: takes it at most every `period` to run the
// pending signal handlers, so a short generation costs a clock read.
class UnlockedInterruptPoll final : public StopHook {
public:
    bool stop_now() override;
    std::optional<PyErr> error;

private:
    static constexpr std::chrono::milliseconds period{20};
    std::chrono::steady_clock::time_point next_check_ = std::chrono::steady_clock::now() + period;
};

}  // namespace ternavik::engine
