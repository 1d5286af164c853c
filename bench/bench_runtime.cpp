// Fork-join latency of the worker pool, its idle cost, and the throughput
// of the generators. Prints medians; compare against the naive alternative
// printed beside each pool figure.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "runtime/chacha_rng.hpp"
#include "runtime/random.hpp"
#include "runtime/parallel_for.hpp"

using namespace ternavik;
using Clock = std::chrono::steady_clock;

namespace {

double elapsed_us(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median time of an empty loop over n indices, `reps` loops back to back.
double back_to_back_us(std::size_t n, int reps) {
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const auto start = Clock::now();
        run_parallel(n, [](std::size_t, std::size_t) {});
        times.push_back(elapsed_us(start));
    }
    return median(times);
}

// Median time of one empty loop entered after the pool idled `idle`.
double after_idle_us(std::chrono::milliseconds idle, int reps) {
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        std::this_thread::sleep_for(idle);
        const auto start = Clock::now();
        run_parallel(2, [](std::size_t, std::size_t) {});
        times.push_back(elapsed_us(start));
    }
    return median(times);
}

// Median cost of starting and joining one thread: the naive alternative.
double thread_spawn_us(int reps) {
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const auto start = Clock::now();
        std::thread([] {}).join();
        times.push_back(elapsed_us(start));
    }
    return median(times);
}

// Median round trip to a thread that slept `idle` on a condition variable:
// the operating system's own wake-up cost, for comparison.
double condvar_round_trip_us(std::chrono::milliseconds idle, int reps) {
    std::mutex mutex;
    std::condition_variable cv;
    int turn = 0;  // odd: the helper's turn
    std::thread helper([&] {
        std::unique_lock lock(mutex);
        for (int i = 0; i < reps; ++i) {
            cv.wait(lock, [&] { return turn % 2 == 1; });
            ++turn;
            cv.notify_all();
        }
    });
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        std::this_thread::sleep_for(idle);
        const auto start = Clock::now();
        std::unique_lock lock(mutex);
        ++turn;
        cv.notify_all();
        cv.wait(lock, [&] { return turn % 2 == 0; });
        times.push_back(elapsed_us(start));
    }
    helper.join();
    return median(times);
}

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// CPU time the whole process uses while the pool idles for `window`,
// measured `settle` after the last loop (zero settle includes the spin tail).
double idle_cpu_ms(std::chrono::milliseconds settle, std::chrono::milliseconds window) {
    run_parallel(1000, [](std::size_t, std::size_t) {});
    std::this_thread::sleep_for(settle);
    const double before = cpu_seconds();
    std::this_thread::sleep_for(window);
    return (cpu_seconds() - before) * 1e3;
}

template <class Body>
double ns_per_call(long calls, Body body) {
    const auto start = Clock::now();
    body(calls);
    return elapsed_us(start) * 1e3 / static_cast<double>(calls);
}

volatile double sink;

}  // namespace

int main() {
    std::printf("pool size                              %zu\n", pool_size());
    back_to_back_us(2, 1000);  // warm up
    const double spawn = thread_spawn_us(2000);
    const double two = back_to_back_us(2, 20000);
    const double thousand = back_to_back_us(1000, 20000);
    std::printf("empty loop n=2, back to back           %8.2f us  (thread spawn+join %.2f us, ratio %.2f)\n",
                two, spawn, two / spawn);
    std::printf("empty loop n=1000, back to back        %8.2f us\n", thousand);
    const auto idle = std::chrono::milliseconds(50);
    const double woken = after_idle_us(idle, 40);
    const double round_trip = condvar_round_trip_us(idle, 40);
    std::printf("empty loop n=2 after 50 ms idle        %8.2f us  (condvar round trip %.2f us, ratio %.2f)\n",
                woken, round_trip, woken / round_trip);
    using std::chrono::milliseconds;
    std::printf("CPU used over 200 ms right after a loop %7.3f ms\n",
                idle_cpu_ms(milliseconds(0), milliseconds(200)));
    std::printf("CPU used over 200 ms from 5 ms after    %7.3f ms\n",
                idle_cpu_ms(milliseconds(5), milliseconds(200)));

    Xoshiro256pp rng = seed_from_value(1);
    std::printf("draw_unit                              %8.3f ns/draw\n", ns_per_call(200000000, [&](long n) {
                    double sum = 0;
                    for (long i = 0; i < n; ++i) sum += draw_unit(rng);
                    sink = sum;
                }));
    ChaChaRng& stream = thread_rng();
    std::printf("seed_from_value(thread_rng) + draw     %8.3f ns/seed\n", ns_per_call(20000000, [&](long n) {
                    double sum = 0;
                    for (long i = 0; i < n; ++i) {
                        Xoshiro256pp individual = seed_from_value(next_word(stream));
                        sum += draw_unit(individual);
                    }
                    sink = sum;
                }));
    std::printf("thread_rng next_word                   %8.3f ns/word\n", ns_per_call(50000000, [&](long n) {
                    std::uint64_t acc = 0;
                    for (long i = 0; i < n; ++i) acc ^= next_word(stream);
                    sink = static_cast<double>(acc);
                }));
}
