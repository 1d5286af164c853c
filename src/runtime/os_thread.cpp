#include "runtime/os_thread.hpp"

#include <atomic>
#include <system_error>

namespace ternavik {
namespace {

constexpr std::size_t worker_stack_bytes = 2 * 1024 * 1024;

std::string describe_os_error(int code) {
    return std::system_category().message(code) + " (os error " + std::to_string(code) + ")";
}

// pthread_create with a fixed stack size; joinable, so that a pool whose
// start fails can take back the threads it already made.
std::optional<std::string> start_pthread(ThreadEntry entry, void* argument, pthread_t& thread) {
    pthread_attr_t attributes;
    if (const int error = pthread_attr_init(&attributes); error != 0)
        return describe_os_error(error);
    int error = pthread_attr_setstacksize(&attributes, worker_stack_bytes);
    if (error == 0) error = pthread_create(&thread, &attributes, entry, argument);
    pthread_attr_destroy(&attributes);
    if (error != 0) return describe_os_error(error);
    return std::nullopt;
}

std::atomic<ThreadStartFunction> current_start{&start_pthread};

}  // namespace

std::optional<std::string> start_thread(ThreadEntry entry, void* argument, pthread_t& thread) {
    return current_start.load(std::memory_order_acquire)(entry, argument, thread);
}

ThreadStartFunction set_thread_start_for_testing(ThreadStartFunction start) {
    return current_start.exchange(start, std::memory_order_acq_rel);
}

}  // namespace ternavik
