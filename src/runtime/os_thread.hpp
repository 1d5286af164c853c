#pragma once
#include <optional>
#include <pthread.h>
#include <string>

namespace ternavik {

using ThreadEntry = void* (*)(void* argument);

// Starts a joinable thread with a 2 MiB stack running entry(argument) and
// stores its handle in `thread`. Returns a description of the error when the
// thread cannot be created. The caller joins or detaches it.
using ThreadStartFunction = std::optional<std::string> (*)(ThreadEntry entry, void* argument,
                                                           pthread_t& thread);

// Starts a thread through the current starter (the OS unless a test replaced it).
std::optional<std::string> start_thread(ThreadEntry entry, void* argument, pthread_t& thread);

// Replaces the starter used by start_thread and returns the previous one.
ThreadStartFunction set_thread_start_for_testing(ThreadStartFunction start);

}  // namespace ternavik
