#include "core/interruption.hpp"

namespace ternavik {

namespace {
thread_local InterruptPoll* current = nullptr;
}  // namespace

ScopedInterruptPoll::ScopedInterruptPoll(InterruptPoll& poll) : previous_(current) {
    current = &poll;
}

ScopedInterruptPoll::~ScopedInterruptPoll() { current = previous_; }

void check_interrupt() {
    if (current != nullptr && current->stop_requested()) throw Interrupted{};
}

}  // namespace ternavik
