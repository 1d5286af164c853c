#include "runtime/parallel_for.hpp"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string>

#include "runtime/internal_failure.hpp"
#include "runtime/processor_count.hpp"
#include "runtime/thread_count.hpp"
#include "runtime/worker_threads.hpp"

namespace ternavik {
namespace {

// The process-wide pool, or why it could not be started.
struct PoolStart {
    WorkerThreads* pool = nullptr;
    std::string failure;
};

PoolStart start_pool() {
    const std::size_t size = thread_count_from_env(
        std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"), processor_count());
    // Never destroyed: detached workers use it until the process ends. After
    // a failed start the workers already created idle on it forever.
    auto* pool = new WorkerThreads(size);
    if (auto error = pool->start())
        return {nullptr, "The global thread pool has not been initialized.: " + *error};
    return {pool, {}};
}

WorkerThreads& global_pool() {
    static const PoolStart start = start_pool();
    if (start.pool == nullptr) throw InternalFailure(start.failure);
    return *start.pool;
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

std::exception_ptr run_range(const Loop& loop, Range range, bool migrated) noexcept;

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

// Runs `left` here while `right` is offered to idle workers; the first
// half's failure wins when both fail.
std::exception_ptr join(const Loop& loop, Range left, Range right, bool left_migrated) noexcept {
    RangeJob job(
        [](Job& base, bool migrated) {
            auto& self = static_cast<RangeJob&>(base);
            self.failure = run_range(*self.loop, self.range, migrated);
            self.done.set();
        },
        loop, right);
    WorkerThreads& pool = *loop.pool;
    pool.offer(job);
    const std::exception_ptr left_failure = run_range(loop, left, left_migrated);
    std::exception_ptr right_failure;
    if (pool.take_back(job)) {
        right_failure = run_range(loop, right, false);
    } else {
        pool.wait(job.done);
        right_failure = job.failure;
    }
    return left_failure ? left_failure : right_failure;
}

// Splits `range` as its budget allows and runs the pieces; the failure of
// the first piece (in index order) that failed, if any.
std::exception_ptr run_range(const Loop& loop, Range range, bool migrated) noexcept {
    if (try_split(range, migrated, loop.pool_size))
        return join(loop, left_half(range), right_half(range), false);
    try {
        loop.piece(loop.context, range.begin, range.end);
    } catch (...) {
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
            self.failure =
                join(*self.loop, left_half(self.range), right_half(self.range), true);
            self.done.set();
        },
        loop, whole);
    loop.pool->offer(job);
    loop.pool->wait(job.done);
    return job.failure;
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
