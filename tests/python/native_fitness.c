/* Native fitness functions for the optimiser tests, built into a shared
 * library by the test session and reached through ctypes addresses. */
#include <stdint.h>
#include <string.h>
#include <time.h>

void sphere(uint64_t rows, uint64_t cols, const double *x, double *f) {
    for (uint64_t i = 0; i < rows; ++i, x += cols) {
        double s = 0.0;
        for (uint64_t j = 0; j < cols; ++j) s += x[j] * x[j];
        f[i] = s;
    }
}

/* How many busy_sphere calls are running right now, and the most ever seen. */
int busy_active = 0;
int busy_max_active = 0;
static int64_t busy_nanoseconds = 20000000;

void set_busy_nanoseconds(int64_t ns) { busy_nanoseconds = ns; }

static int64_t now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

/* sphere after spinning for a while, so overlapping calls can be seen. */
void busy_sphere(uint64_t rows, uint64_t cols, const double *x, double *f) {
    int active = __atomic_add_fetch(&busy_active, 1, __ATOMIC_SEQ_CST);
    int seen = __atomic_load_n(&busy_max_active, __ATOMIC_SEQ_CST);
    while (active > seen &&
           !__atomic_compare_exchange_n(&busy_max_active, &seen, active, 0, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST)) {
    }
    const int64_t end = now_ns() + busy_nanoseconds;
    while (now_ns() < end) {
    }
    sphere(rows, cols, x, f);
    __atomic_sub_fetch(&busy_active, 1, __ATOMIC_SEQ_CST);
}

/* Copies of every matrix recording_sphere is shown, while they fit. */
static double *record_buffer = 0;
static uint64_t record_capacity = 0;
uint64_t record_used = 0;

void set_record_buffer(double *buffer, uint64_t capacity) {
    record_buffer = buffer;
    record_capacity = capacity;
    record_used = 0;
}

void recording_sphere(uint64_t rows, uint64_t cols, const double *x, double *f) {
    const uint64_t n = rows * cols;
    if (record_used + n <= record_capacity) {
        memcpy(record_buffer + record_used, x, n * sizeof *x);
        record_used += n;
    }
    sphere(rows, cols, x, f);
}
