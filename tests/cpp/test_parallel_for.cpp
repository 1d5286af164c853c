#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/internal_failure.hpp"
#include "runtime/os_thread.hpp"
#include "runtime/parallel_for.hpp"
#include "runtime/thread_count.hpp"

namespace ternavik {
namespace {

TEST(ThreadCount, FromEnvironment) {
    struct Case {
        const char* num_threads;
        const char* rs_num_cpus;
        std::size_t expected;
    };
    const Case cases[] = {
        {"4", nullptr, 4},       {"+4", nullptr, 4},     {"0", nullptr, 6},
        {nullptr, nullptr, 6},   {"", nullptr, 6},       {"abc", nullptr, 6},
        {"-1", nullptr, 6},      {" 4", nullptr, 6},     {"4 ", nullptr, 6},
        {"+", nullptr, 6},       {"++4", nullptr, 6},    {"0", "8", 6},
        {"", "8", 8},            {"x", "+3", 3},         {nullptr, "8", 8},
        {nullptr, "0", 6},       {nullptr, "-2", 6},     {"100000", nullptr, 65535},
        {"65535", nullptr, 65535}, {"18446744073709551615", nullptr, 65535},
        {"18446744073709551616", "2", 2}, {"007", nullptr, 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(thread_count_from_env(c.num_threads, c.rs_num_cpus, 6), c.expected)
            << (c.num_threads ? c.num_threads : "(unset)") << " / "
            << (c.rs_num_cpus ? c.rs_num_cpus : "(unset)");
    }
    EXPECT_EQ(thread_count_from_env(nullptr, nullptr, 0), 1u);
    EXPECT_EQ(thread_count_from_env(nullptr, nullptr, 100000), 65535u);
}

// Runs a loop over [0, n) and checks that its pieces cover it exactly once.
::testing::AssertionResult covers_exactly_once(std::size_t n) {
    std::vector<std::atomic<int>> visits(n);
    std::atomic<bool> bad_piece{false};
    run_parallel(n, [&](std::size_t begin, std::size_t end) {
        if (begin >= end || end > n) bad_piece = true;
        for (std::size_t i = begin; i < end && i < n; ++i) visits[i].fetch_add(1);
    });
    if (bad_piece) return ::testing::AssertionFailure() << "bad piece for n=" << n;
    for (std::size_t i = 0; i < n; ++i)
        if (visits[i].load() != 1)
            return ::testing::AssertionFailure()
                   << "index " << i << " of " << n << " visited " << visits[i].load() << " times";
    return ::testing::AssertionSuccess();
}

// Whether any piece of a loop over [0, n) ran on the calling thread.
bool ran_on_caller(std::size_t n) {
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> on_caller{false};
    run_parallel(n, [&](std::size_t, std::size_t) {
        if (std::this_thread::get_id() == caller) on_caller = true;
    });
    return on_caller;
}

// Nested loops from inside pieces, checked cell by cell.
::testing::AssertionResult nested_loops_cover(std::size_t outer, std::size_t inner) {
    std::vector<std::atomic<int>> visits(outer * inner);
    run_parallel(outer, [&](std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row)
            run_parallel(inner, [&](std::size_t b, std::size_t e) {
                for (std::size_t col = b; col < e; ++col) visits[row * inner + col].fetch_add(1);
            });
    });
    for (auto& v : visits)
        if (v.load() != 1) return ::testing::AssertionFailure() << "nested cell visited " << v;
    return ::testing::AssertionSuccess();
}

// Every loop property that must hold whatever the pool size.
::testing::AssertionResult pool_behaves() {
    for (std::size_t n = 0; n <= 100; ++n)
        if (auto result = covers_exactly_once(n); !result) return result;
    for (std::size_t n : {1000u, 4097u, 100000u})
        if (auto result = covers_exactly_once(n); !result) return result;
    for (std::size_t n : {2u, 3u, 17u, 1000u})
        if (ran_on_caller(n)) return ::testing::AssertionFailure() << "n=" << n << " on caller";
    if (!ran_on_caller(1)) return ::testing::AssertionFailure() << "n=1 left the caller";
    return nested_loops_cover(9, 37);
}

TEST(RunParallel, CoversRangeOnWorkers) { EXPECT_TRUE(pool_behaves()); }

TEST(RunParallel, EmptyLoopStartsThePoolAndRunsNothing) {
    bool called = false;
    run_parallel(0, [&](std::size_t, std::size_t) { called = true; });
    EXPECT_FALSE(called);
    EXPECT_GE(pool_size(), 1u);
}

TEST(RunParallel, FailureOfTheFirstPieceWinsAfterTheLoopStopped) {
    for (std::size_t n : {2u, 3u, 10u, 257u, 5000u}) {
        std::atomic<int> running{0};
        std::atomic<std::size_t> processed{0};
        try {
            run_parallel(n, [&](std::size_t begin, std::size_t end) {
                running.fetch_add(1);
                // Every piece fails at its first index; later pieces linger
                // so that the caller would notice them still running.
                std::this_thread::sleep_for(std::chrono::microseconds(begin == 0 ? 0 : 200));
                processed.fetch_add(end - begin - 1);
                running.fetch_sub(1);
                throw InternalFailure("piece " + std::to_string(begin));
            });
            ADD_FAILURE() << "no failure for n=" << n;
        } catch (const InternalFailure& failure) {
            EXPECT_STREQ(failure.what(), "piece 0");
            EXPECT_EQ(running.load(), 0) << "loop still running after the failure";
        }
    }
}

TEST(RunParallel, CarriesMemoryExhaustionAndLeavesOtherPiecesRunning) {
    std::vector<std::atomic<int>> visits(64);
    EXPECT_THROW(run_parallel(64,
                              [&](std::size_t begin, std::size_t end) {
                                  for (std::size_t i = begin; i < end; ++i) visits[i] = 1;
                                  if (begin <= 40 && 40 < end) throw std::bad_alloc();
                              }),
                 std::bad_alloc);
    for (auto& v : visits) EXPECT_EQ(v.load(), 1);
    EXPECT_TRUE(covers_exactly_once(50));  // the pool is still usable
}

TEST(RunParallel, FailureOnTheCallerForSingleIndex) {
    EXPECT_THROW(run_parallel(1, [](std::size_t, std::size_t) { throw InternalFailure("one"); }),
                 InternalFailure);
}

TEST(RunParallel, SeveralCallersAtOnce) {
    std::vector<std::thread> callers;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&, t] {
            for (std::size_t round = 0; round < 150; ++round) {
                if (!covers_exactly_once((round * 7 + static_cast<std::size_t>(t)) % 300))
                    failures.fetch_add(1);
                if (round % 50 == 0 && !nested_loops_cover(5, 11)) failures.fetch_add(1);
            }
        });
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(failures.load(), 0);
}

// The pool is process-wide, so other pool sizes and a failed start are
// checked in a re-executed copy of this binary.
class FreshProcess : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Pieces of a loop over [0, n) in the order they ran (one worker only).
std::vector<std::pair<std::size_t, std::size_t>> pieces_of(std::size_t n) {
    std::vector<std::pair<std::size_t, std::size_t>> pieces;
    std::mutex mutex;
    run_parallel(n, [&](std::size_t begin, std::size_t end) {
        std::lock_guard lock(mutex);
        pieces.emplace_back(begin, end);
    });
    return pieces;
}

// Child: a pool of one worker.
[[noreturn]] void single_worker_child() {
    setenv("RAYON_NUM_THREADS", "1", 1);
    const bool ok = pool_size() == 1 && pool_behaves();
    // With one worker nothing is stolen, so the cut is fixed: the handed-over
    // half regains a full budget, the rest only halves.
    const std::vector<std::pair<std::size_t, std::size_t>> expected = {
        {0, 125}, {125, 250}, {250, 375}, {375, 500}, {500, 1000}};
    const bool cut_ok = pieces_of(1000) == expected;
    setenv("RAYON_NUM_THREADS", "3", 1);  // read only at start
    std::exit(ok && cut_ok && pool_size() == 1 ? 0 : 1);
}

TEST_F(FreshProcess, SingleWorkerRunsEverythingAndSplitsByBudget) {
    EXPECT_EXIT(single_worker_child(), ::testing::ExitedWithCode(0), "");
}

// Child: the size comes from the second variable when the first is unparsable.
[[noreturn]] void sized_pool_child(const char* size) {
    setenv("RAYON_NUM_THREADS", "abc", 1);
    setenv("RAYON_RS_NUM_CPUS", size, 1);
    std::exit(pool_size() == std::stoul(size) && pool_behaves() ? 0 : 1);
}

TEST_F(FreshProcess, OtherPoolSizes) {
    for (const char* size : {"3", "4"})
        EXPECT_EXIT(sized_pool_child(size), ::testing::ExitedWithCode(0), "") << size;
}

int started_threads = 0;
std::optional<std::string> fail_second_thread(ThreadEntry entry, void* argument,
                                              pthread_t& thread) {
    if (++started_threads == 2) return "injected failure";
    return pthread_create(&thread, nullptr, entry, argument) == 0
               ? std::nullopt
               : std::optional<std::string>("pthread_create failed");
}

// Threads of this process, as the kernel counts them.
std::size_t live_threads() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0) return std::stoul(line.substr(8));
    return 0;
}

// 0 when a call fails with a message that starts with `prefix`.
template <class Call>
int fails_with_prefix(Call call, const std::string& prefix) {
    try {
        call();
    } catch (const InternalFailure& failure) {
        return std::string(failure.what()).rfind(prefix, 0) == 0 ? 0 : 2;
    }
    return 1;
}

// Child: the second worker thread cannot be created.
[[noreturn]] void failed_start_child() {
    setenv("RAYON_NUM_THREADS", "3", 1);
    set_thread_start_for_testing(&fail_second_thread);
    // A sanitizer starts a helper thread with the first thread: start one now.
    std::thread([] {}).join();
    const std::size_t threads_before = live_threads();
    const std::string sentence = "The global thread pool has not been initialized.";
    int status = fails_with_prefix([] { pool_size(); }, sentence + ": injected failure");
    status |= fails_with_prefix([] { run_parallel(0, [](auto, auto) {}); }, sentence);
    status |= fails_with_prefix([] { run_parallel(5, [](auto, auto) {}); }, sentence);
    // The worker that did start was stopped and joined, not left idling.
    status |= live_threads() == threads_before ? 0 : 4;
    std::exit(status);
}

TEST_F(FreshProcess, FailedStartFailsEveryLoop) {
    EXPECT_EXIT(failed_start_child(), ::testing::ExitedWithCode(0), "");
}

// Child: a pool used before fork() is replaced in the forked child by a
// fresh one of the same size (the variables are not read again), and the
// parent's pool goes on working. Another thread keeps handing loops to the
// pool meanwhile, so forks land while jobs are being queued.
[[noreturn]] void forked_child_pool() {
    setenv("RAYON_NUM_THREADS", "3", 1);
    bool ok = pool_behaves();
    setenv("RAYON_NUM_THREADS", "5", 1);
    std::atomic<bool> stop{false}, background_ok{true};
    std::thread background([&] {
        while (!stop.load())
            if (!covers_exactly_once(97)) background_ok = false;
    });
    for (int round = 0; round < 20 && ok; ++round) {
        const pid_t child = fork();
        if (child == 0) {
            alarm(60);  // a child that hangs must not outlive the test
            _exit(pool_size() == 3 && pool_behaves() ? 0 : 1);
        }
        ok = ok && pool_behaves();
        int status = 0;
        ok = ok && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
             WEXITSTATUS(status) == 0;
    }
    stop = true;
    background.join();
    std::exit(ok && background_ok && pool_size() == 3 ? 0 : 1);
}

TEST_F(FreshProcess, ForkedChildStartsItsOwnPool) {
    EXPECT_EXIT(forked_child_pool(), ::testing::ExitedWithCode(0), "");
}

// Child: a piece ends its worker thread (as pthread_exit does when a native
// function meets an interpreter that is shutting down). The unwind passes
// through the pool, the caller gets a failure instead of waiting forever,
// and the remaining workers still run loops.
[[noreturn]] void worker_ended_child() {
    setenv("RAYON_NUM_THREADS", "3", 1);
    std::atomic<bool> ended{false};
    const int status = fails_with_prefix(
        [&] {
            run_parallel(64, [&](std::size_t begin, std::size_t) {
                if (begin == 0 && !ended.exchange(true)) pthread_exit(nullptr);
            });
        },
        "a worker thread was ended");
    std::exit(status == 0 && covers_exactly_once(1000) && covers_exactly_once(7) ? 0 : 1);
}

TEST_F(FreshProcess, EndedWorkerDoesNotStrandTheCaller) {
    EXPECT_EXIT(worker_ended_child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ternavik
