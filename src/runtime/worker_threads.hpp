#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <vector>

#include "runtime/latch.hpp"

namespace ternavik {

// A unit of work offered to idle workers. It lives on the stack of the
// thread that offered it, which either takes it back or waits for it.
struct Job {
    // `migrated` is true when a thread other than the offering one runs it.
    using RunFunction = void (*)(Job& job, bool migrated);

    explicit Job(RunFunction run_function);

    RunFunction run;
    int owner;  // worker index of the offering thread, -1 outside the pool
    Job* previous = nullptr;
    Job* next = nullptr;
    bool queued = false;
};

// A fixed set of worker threads sharing one queue of offered jobs. Idle
// workers take the oldest job (usually the largest piece), spin briefly
// when there is none and then sleep until a job is offered.
class WorkerThreads {
public:
    explicit WorkerThreads(std::size_t size);

    std::size_t size() const { return seats_.size(); }

    // Creates the worker threads; a description of the error if one fails,
    // in which case the threads already made have been stopped and joined.
    std::optional<std::string> start();

    // Held across fork() so that no job is half linked into the queue.
    void lock_queue() { mutex_.lock(); }
    void unlock_queue() { mutex_.unlock(); }

    // Makes `job` available to idle workers, waking one if none is awake.
    void offer(Job& job);

    // Withdraws `job` if nobody has taken it yet.
    bool take_back(Job& job);

    // Returns once `latch` is set; a worker runs offered jobs meanwhile.
    void wait(Latch& latch);

    // Index of the calling worker thread, -1 for any other thread.
    static int current_worker();

private:
    struct Seat {
        WorkerThreads* pool;
        int index;
    };

    static void* worker_entry(void* seat);
    void run_worker(int index);
    void stop_and_join(std::size_t started);
    bool has_work() const { return queued_.load() > 0; }
    Job* take_oldest();
    void unlink(Job& job);
    static void execute(Job& job);
    void sleep_until_work();
    void wake_one_if_none_searching();

    std::vector<Seat> seats_;
    std::vector<pthread_t> threads_;
    // Set only when the start fails: the workers made so far return.
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    Job* head_ = nullptr;
    Job* tail_ = nullptr;
    std::atomic<std::size_t> queued_{0};
    // Bumped at every offer; sleeping workers wait for it to change.
    std::atomic<std::uint32_t> offers_{0};
    std::atomic<std::uint32_t> sleepers_{0};
    // Idle workers that are still polling for work.
    std::atomic<std::uint32_t> searchers_{0};
};

}  // namespace ternavik
