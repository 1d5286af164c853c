#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/de/evolution.hpp"
#include "runtime/internal_failure.hpp"
#include "runtime/os_random.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {
namespace {

struct FailingIndex {
    std::size_t n;
    std::size_t failing;
};

class OneFailingIndex : public ::testing::TestWithParam<FailingIndex> {};

// One body failing at one index out of many: the caller gets that failure
// after every other index has been processed once, and the pool goes on.
TEST_P(OneFailingIndex, ReachesTheCallerAfterTheWholeLoop) {
    const auto [n, failing] = GetParam();
    std::vector<std::atomic<int>> visits(n);
    for (int round = 0; round < 2; ++round) {
        for (auto& v : visits) v = 0;
        try {
            run_parallel(n, [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) {
                    if (i == failing) throw InternalFailure("index " + std::to_string(i));
                    visits[i].fetch_add(1);
                }
            });
            ADD_FAILURE() << "no failure";
        } catch (const InternalFailure& failure) {
            EXPECT_EQ(failure.what(), "index " + std::to_string(failing));
        }
        // A piece stops at its failing index; every other piece runs in full.
        std::size_t unvisited = 0;
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_LE(visits[i].load(), 1) << i;
            unvisited += visits[i].load() == 0;
        }
        EXPECT_GE(unvisited, 1u);
        EXPECT_LE(unvisited, n - n / 2) << "pieces beside the failing one did not run";
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, OneFailingIndex,
                         ::testing::Values(FailingIndex{2, 0}, FailingIndex{2, 1},
                                           FailingIndex{1000, 0}, FailingIndex{1000, 499},
                                           FailingIndex{1000, 999}, FailingIndex{4097, 2048}));

class SphereFitness : public FitnessFunction {
public:
    bool evaluate(double* m, std::uint64_t rows, std::uint64_t cols, double* f) override {
        ++calls;
        for (std::uint64_t i = 0; i < rows; ++i) {
            double s = 0.0;
            for (std::uint64_t j = 0; j < cols; ++j) s += m[i * cols + j] * m[i * cols + j];
            f[i] = s;
        }
        return true;
    }
    bool is_native() const override { return true; }
    int calls = 0;
};

std::thread::id caller_thread;

// The OS source works for the caller (its run generator) and fails elsewhere.
int fails_off_the_caller(std::uint8_t* buffer, std::size_t length) {
    if (std::this_thread::get_id() != caller_thread) return 5;
    std::memset(buffer, 0x5A, length);
    return 0;
}

DeConfig wide_config() {
    DeConfig config;
    config.pop = 40000;
    config.dimensions = 6;  // 240000 elements: trial generation on the pool
    config.min_bound.assign(6, -1.0);
    config.max_bound.assign(6, 1.0);
    return config;
}

// Child: the workers' generators cannot be created at their first use in a
// parallel trial step; the run fails after its first evaluation, and once
// the source works again the next run succeeds.
[[noreturn]] void worker_generator_child() {
    caller_thread = std::this_thread::get_id();
    const OsFillFunction os = set_os_fill_for_testing(&fails_off_the_caller);
    const DeConfig config = wide_config();
    SphereFitness failing_run;
    int status = 1;
    try {
        run_evolution(config, failing_run, 2);
    } catch (const InternalFailure& failure) {
        status = std::strcmp(failure.what(), "could not initialize thread_rng: OS Error: 5") == 0
                     ? 0 : 2;
    }
    if (failing_run.calls != 1) status |= 4;
    set_os_fill_for_testing(os);
    SphereFitness good_run;
    const auto result = run_evolution(config, good_run, 2);
    if (!result || good_run.calls != 3) status |= 8;
    std::exit(status);
}

TEST(Faults, WorkerGeneratorFailsAtFirstUseInAParallelTrialStep) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(worker_generator_child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ternavik
