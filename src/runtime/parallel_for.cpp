#include "runtime/parallel_for.hpp"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/internal_failure.hpp"
#include "runtime/processor_count.hpp"
#include "runtime/thread_count.hpp"
#include "runtime/thread_ending.hpp"
#include "runtime/worker_threads.hpp"

namespace ternavik {
namespace {

// The process-wide pool. It starts at the first loop; a failed start is
// final. A forked child has none of the parent's workers, so the fork
// handlers below make the pool count as not started there, and the child's
// first loop starts a fresh one of the parent's size.
struct PoolState {
    std::mutex start_mutex;  // held while starting, and across fork()
    std::atomic<WorkerThreads*> pool{nullptr};
    std::string failure;           // why the start failed, if it did
    std::size_t size_in_child = 0;  // the parent's size, after a fork
    bool fork_handlers_installed = false;
};

// Never destroyed: detached workers use the pool until the process ends.
PoolState& pool_state() {
    static PoolState* state = new PoolState;
    return *state;
}

// Before fork(): no pool is half started and no job half queued.
void before_fork() {
    PoolState& state = pool_state();
    state.start_mutex.lock();
    if (WorkerThreads* pool = state.pool.load()) pool->lock_queue();
}

void after_fork_in_parent() {
    PoolState& state = pool_state();
    if (WorkerThreads* pool = state.pool.load()) pool->unlock_queue();
    state.start_mutex.unlock();
}

// The child's copy of the pool has no threads: leave it (its memory may be
// referenced by copied stacks) and start afresh on demand.
void after_fork_in_child() {
    PoolState& state = pool_state();
    if (WorkerThreads* pool = state.pool.load()) {
        state.size_in_child = pool->size();
        state.pool.store(nullptr);
    }
    state.start_mutex.unlock();
}

// Starts the pool; the caller holds the start mutex.
void start_pool(PoolState& state) {
    if (!state.fork_handlers_installed) {
        if (const int error = pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child))
            throw InternalFailure("pthread_atfork failed with error " + std::to_string(error));
        state.fork_handlers_installed = true;
    }
    const std::size_t size =
        state.size_in_child != 0
            ? state.size_in_child
            : thread_count_from_env(std::getenv("RAYON_NUM_THREADS"),
                                    std::getenv("RAYON_RS_NUM_CPUS"), processor_count());
    auto pool = std::make_unique<WorkerThreads>(size);
    if (auto error = pool->start()) {
        state.failure = "The global thread pool has not been initialized.: " + *error;
        return;
    }
    state.pool.store(pool.release());
}

WorkerThreads& global_pool() {
    PoolState& state = pool_state();
    if (WorkerThreads* pool = state.pool.load(std::memory_order_acquire)) return *pool;
    std::lock_guard lock(state.start_mutex);
    if (state.failure.empty() && state.pool.load() == nullptr) start_pool(state);
    if (!state.failure.empty()) throw InternalFailure(state.failure);
    return *state.pool.load();
}

struct Loop {
    PieceFunction piece;
    void* context;
    WorkerThreads* pool;
    std::size_t pool_size;
};

// A piece [begin, end) and the number of further splits it may make.
struct Range {
    std::size_t begin;
    std::size_t end;
    std::size_t budget;
};

// Whether `range` splits now; updates its budget. A piece taken over by an
// idle worker regains a full budget, since idleness means more splitting pays.
bool try_split(Range& range, bool migrated, std::size_t pool_size) {
    if (range.end - range.begin <= 1) return false;
    if (migrated) {
        range.budget = std::max(pool_size, range.budget / 2);
        return true;
    }
    if (range.budget == 0) return false;
    range.budget /= 2;
    return true;
}

Range left_half(const Range& range) {
    return {range.begin, range.begin + (range.end - range.begin) / 2, range.budget};
}

Range right_half(const Range& range) {
    return {range.begin + (range.end - range.begin) / 2, range.end, range.budget};
}

std::exception_ptr run_range(const Loop& loop, Range range, bool migrated);

// Right half of a fork-join pair, or (for a loop entered from outside the
// pool) the whole pair, offered to idle workers.
struct RangeJob : Job {
    RangeJob(RunFunction run_function, const Loop& loop_ref, Range job_range)
        : Job(run_function), loop(&loop_ref), range(job_range) {}

    const Loop* loop;
    Range range;
    std::exception_ptr failure;
    Latch done;
};

// Runs a taken job's work and sets its latch. If this worker is ended
// meanwhile, the owner is still answered, so it never waits forever.
template <class Work>
void complete(RangeJob& job, Work&& work) {
    try {
        job.failure = work();
    } catch (...) {
        const bool ending = thread_is_ending();
        job.failure = ending ? std::make_exception_ptr(InternalFailure(
                                   "a worker thread was ended while it ran part of a loop"))
                             : std::current_exception();
        job.done.set();
        if (ending) throw;
        return;
    }
    job.done.set();
}

// A job offered from a frame lives on that frame's stack, so it must be out
// of the pool's hands before the frame goes, also when the frame unwinds
// because its thread is being ended: then it is withdrawn or waited for.
class OfferedJob {
public:
    OfferedJob(WorkerThreads& pool, RangeJob& job) : pool_(pool), job_(job) { pool_.offer(job_); }
    ~OfferedJob() {
        if (!settled_ && !pool_.take_back(job_)) job_.done.sleep_until_set();
    }
    OfferedJob(const OfferedJob&) = delete;
    OfferedJob& operator=(const OfferedJob&) = delete;

    // Withdraws the job if nobody has taken it yet.
    bool take_back() { return settled_ = pool_.take_back(job_); }

    // Waits until the worker that took the job is done; its failure.
    std::exception_ptr wait() {
        pool_.wait(job_.done);
        settled_ = true;
        return job_.failure;
    }

private:
    WorkerThreads& pool_;
    RangeJob& job_;
    bool settled_ = false;
};

// Runs `left` here while `right` is offered to idle workers; the first
// half's failure wins when both fail.
std::exception_ptr join(const Loop& loop, Range left, Range right, bool left_migrated) {
    RangeJob job(
        [](Job& base, bool migrated) {
            auto& self = static_cast<RangeJob&>(base);
            complete(self, [&] { return run_range(*self.loop, self.range, migrated); });
        },
        loop, right);
    OfferedJob offered(*loop.pool, job);
    const std::exception_ptr left_failure = run_range(loop, left, left_migrated);
    const std::exception_ptr right_failure =
        offered.take_back() ? run_range(loop, right, false) : offered.wait();
    return left_failure ? left_failure : right_failure;
}

// Splits `range` as its budget allows and runs the pieces; the failure of
// the first piece (in index order) that failed, if any.
std::exception_ptr run_range(const Loop& loop, Range range, bool migrated) {
    if (try_split(range, migrated, loop.pool_size))
        return join(loop, left_half(range), right_half(range), false);
    try {
        loop.piece(loop.context, range.begin, range.end);
    } catch (...) {
        if (thread_is_ending()) throw;
        return std::current_exception();
    }
    return nullptr;
}

// From outside the pool: split once here, hand the pair to the workers and
// block until it is done. The pair counts as taken over by a worker.
std::exception_ptr run_from_outside(const Loop& loop, Range whole) {
    try_split(whole, false, loop.pool_size);
    RangeJob job(
        [](Job& base, bool) {
            auto& self = static_cast<RangeJob&>(base);
            complete(self, [&] {
                return join(*self.loop, left_half(self.range), right_half(self.range), true);
            });
        },
        loop, whole);
    OfferedJob offered(*loop.pool, job);
    return offered.wait();
}

}  // namespace

std::size_t pool_size() { return global_pool().size(); }

void run_parallel_pieces(std::size_t n, PieceFunction piece, void* context) {
    WorkerThreads& pool = global_pool();
    const Loop loop{piece, context, &pool, pool.size()};
    if (n <= 1) {
        if (n == 1) piece(context, 0, 1);
        return;
    }
    const Range whole{0, n, loop.pool_size};
    const std::exception_ptr failure = WorkerThreads::current_worker() >= 0
                                           ? run_range(loop, whole, false)
                                           : run_from_outside(loop, whole);
    if (failure) std::rethrow_exception(failure);
}

}  // namespace ternavik
