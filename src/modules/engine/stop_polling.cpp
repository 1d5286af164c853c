#include "stop_polling.hpp"

namespace ternavik::engine {

namespace {

// Holds the interpreter lock for its lifetime, from a thread that released it.
class LockHeld {
public:
    LockHeld() : state_(PyGILState_Ensure()) {}
    ~LockHeld() { PyGILState_Release(state_); }
    LockHeld(const LockHeld&) = delete;
    LockHeld& operator=(const LockHeld&) = delete;

private:
    PyGILState_STATE state_;
};

}  // namespace

bool LockedInterruptPoll::stop_now() {
    if (PyErr_CheckSignals() == 0) return false;
    error = PyErr::fetch();
    return true;
}

bool UnlockedInterruptPoll::stop_now() {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_check_) return false;
    next_check_ = now + period;
    LockHeld lock;
    if (PyErr_CheckSignals() == 0) return false;
    error = PyErr::fetch();
    return true;
}

}  // namespace ternavik::engine
