#pragma once
#include <optional>
#include <string>

namespace ternavik {

using ThreadEntry = void* (*)(void* argument);

// Starts a detached thread with a 2 MiB stack running entry(argument).
// Returns a description of the error when the thread cannot be created.
using ThreadStartFunction = std::optional<std::string> (*)(ThreadEntry entry, void* argument);

// Starts a thread through the current starter (the OS unless a test replaced it).
std::optional<std::string> start_detached_thread(ThreadEntry entry, void* argument);

// Replaces the starter used by start_detached_thread and returns the previous one.
ThreadStartFunction set_thread_start_for_testing(ThreadStartFunction start);

}  // namespace ternavik
