#include "runtime/worker_threads.hpp"

#include <cstdint>

#include "runtime/os_thread.hpp"
#include "runtime/spin_wait.hpp"

namespace ternavik {
namespace {

thread_local int worker_index = -1;

}  // namespace

Job::Job(RunFunction run_function) : run(run_function), owner(WorkerThreads::current_worker()) {}

WorkerThreads::WorkerThreads(std::size_t size) {
    seats_.reserve(size);
    for (std::size_t i = 0; i < size; ++i) seats_.push_back({this, static_cast<int>(i)});
}

std::optional<std::string> WorkerThreads::start() {
    threads_.resize(seats_.size());
    for (std::size_t i = 0; i < seats_.size(); ++i) {
        if (auto error = start_thread(&WorkerThreads::worker_entry, &seats_[i], threads_[i])) {
            stop_and_join(i);
            return error;
        }
    }
    // The pool lives until the process ends; nobody will join its workers.
    for (pthread_t thread : threads_) pthread_detach(thread);
    threads_.clear();
    return std::nullopt;
}

// After a failed start: wakes the first `started` workers, which see the
// flag and return, and joins them, so no idle thread is left behind.
void WorkerThreads::stop_and_join(std::size_t started) {
    stopping_.store(true);
    offers_.fetch_add(1);
    futex_wake(offers_, INT32_MAX);
    for (std::size_t i = 0; i < started; ++i) pthread_join(threads_[i], nullptr);
    threads_.clear();
}

int WorkerThreads::current_worker() { return worker_index; }

void* WorkerThreads::worker_entry(void* seat) {
    const Seat& place = *static_cast<Seat*>(seat);
    place.pool->run_worker(place.index);
    return nullptr;
}

// A worker's life: run offered jobs, poll a little when idle, then sleep.
void WorkerThreads::run_worker(int index) {
    worker_index = index;
    while (!stopping_.load()) {
        if (Job* job = take_oldest()) {
            execute(*job);
            continue;
        }
        searchers_.fetch_add(1);
        const bool found = spin_until([this] { return has_work(); });
        // Leaving the search before announcing the sleep keeps offer() from
        // missing us: it sees either a searcher or the sleeper.
        searchers_.fetch_sub(1);
        if (!found) sleep_until_work();
    }
}

void WorkerThreads::offer(Job& job) {
    {
        std::lock_guard lock(mutex_);
        job.queued = true;
        job.previous = tail_;
        job.next = nullptr;
        (tail_ ? tail_->next : head_) = &job;
        tail_ = &job;
        queued_.fetch_add(1);
    }
    // Sequentially consistent with the checks in run_worker and
    // sleep_until_work: either a worker sees the job or this sees that it
    // must wake one. A searching worker will take it without a wake-up.
    offers_.fetch_add(1);
    wake_one_if_none_searching();
}

void WorkerThreads::wake_one_if_none_searching() {
    if (searchers_.load() == 0 && sleepers_.load() > 0) futex_wake(offers_, 1);
}

bool WorkerThreads::take_back(Job& job) {
    std::lock_guard lock(mutex_);
    if (!job.queued) return false;
    unlink(job);
    return true;
}

Job* WorkerThreads::take_oldest() {
    if (!has_work()) return nullptr;
    std::lock_guard lock(mutex_);
    Job* job = head_;
    if (job) unlink(*job);
    // A searcher that skipped a wake-up in offer() may have taken another
    // job; pass the remaining ones on to a sleeper.
    if (job && head_) wake_one_if_none_searching();
    return job;
}

// Removes a queued job from the list; the caller holds the mutex.
void WorkerThreads::unlink(Job& job) {
    (job.previous ? job.previous->next : head_) = job.next;
    (job.next ? job.next->previous : tail_) = job.previous;
    job.queued = false;
    queued_.fetch_sub(1);
}

void WorkerThreads::execute(Job& job) { job.run(job, job.owner != worker_index); }

void WorkerThreads::sleep_until_work() {
    sleepers_.fetch_add(1);
    const std::uint32_t seen = offers_.load();
    if (!has_work() && !stopping_.load()) futex_wait(offers_, seen);
    sleepers_.fetch_sub(1);
}

void WorkerThreads::wait(Latch& latch) {
    if (worker_index < 0) {
        // A short poll catches quick loops; longer ones release the processor
        // to the workers, of which there are as many as processors.
        if (!spin_until([&] { return latch.is_set(); }, caller_spin_duration))
            latch.sleep_until_set();
        return;
    }
    // A worker keeps the pool busy while the job it waits for runs elsewhere.
    while (!latch.is_set()) {
        if (Job* job = take_oldest()) {
            execute(*job);
            continue;
        }
        if (!spin_until([&] { return latch.is_set() || has_work(); })) latch.sleep_until_set();
    }
}

}  // namespace ternavik
