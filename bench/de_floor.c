/* The floor for one DE/rand/1/bin generation: a plain single-threaded loop
 * making the same draws as the optimiser's serial path (xoshiro256++,
 * rejection-zone index draws, 53-bit unit draws), a native sphere and greedy
 * selection. Also exports the native objectives the benchmark hands to
 * optimize, so both sides evaluate with the same machine code. */
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef struct { uint64_t s[4]; } rng_t;

static inline uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

static inline uint64_t next_word(rng_t *g) {
    uint64_t *s = g->s;
    const uint64_t result = rotl(s[0] + s[3], 23) + s[0];
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0]; s[3] ^= s[1]; s[1] ^= s[2]; s[0] ^= s[3]; s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
}

static inline uint64_t draw_index(rng_t *g, uint64_t n) {
    const uint64_t zone = (n << __builtin_clzll(n)) - 1;
    for (;;) {
        const unsigned __int128 p = (unsigned __int128)next_word(g) * n;
        if ((uint64_t)p <= zone) return (uint64_t)(p >> 64);
    }
}

static inline double draw_unit(rng_t *g) { return (double)(next_word(g) >> 11) * 0x1.0p-53; }

void sphere(uint64_t rows, uint64_t cols, const double *x, double *f) {
    for (uint64_t i = 0; i < rows; ++i, x += cols) {
        double s = 0.0;
        for (uint64_t j = 0; j < cols; ++j) s += x[j] * x[j];
        f[i] = s;
    }
}

void rastrigin(uint64_t rows, uint64_t cols, const double *x, double *f) {
    const double two_pi = 6.283185307179586;
    for (uint64_t i = 0; i < rows; ++i, x += cols) {
        double s = 10.0 * (double)cols;
        for (uint64_t j = 0; j < cols; ++j) s += x[j] * x[j] - 10.0 * cos(two_pi * x[j]);
        f[i] = s;
    }
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

/* Seconds per generation over `iters` generations on [low, high]^dims, or
 * a negative value when memory runs out. */
double de_floor_seconds_per_generation(uint64_t pop, uint64_t dims, uint64_t iters, double F,
                                       double CR, double low, double high, uint64_t seed) {
    double *x = calloc(pop * dims, sizeof *x), *t = calloc(pop * dims, sizeof *t);
    double *fx = calloc(pop, sizeof *fx), *ft = calloc(pop, sizeof *ft);
    double *lo = calloc(dims, sizeof *lo), *hi = calloc(dims, sizeof *hi);
    if (!x || !t || !fx || !ft || !lo || !hi) return -1.0;
    for (uint64_t j = 0; j < dims; ++j) lo[j] = low, hi[j] = high;
    rng_t g = {{seed | 1, 0x9E3779B97F4A7C15ull, seed ^ 0xD1B54A32D192ED03ull, 7}};
    for (uint64_t k = 0; k < pop * dims; ++k) x[k] = (high - low) * draw_unit(&g) + low;
    sphere(pop, dims, x, fx);
    memset(t, 0, pop * dims * sizeof *t); /* first-touch page faults stay out of the timing */
    double best = INFINITY;
    const double start = now();
    for (uint64_t gen = 0; gen < iters; ++gen) {
        for (uint64_t i = 0; i < pop; ++i) {
            uint64_t r1 = draw_index(&g, pop), r2, r3;
            do r2 = draw_index(&g, pop); while (r2 == r1);
            do r3 = draw_index(&g, pop); while (r3 == r1 || r3 == r2);
            const uint64_t jrand = draw_index(&g, dims);
            const double *a = x + r1 * dims, *b = x + r2 * dims, *c = x + r3 * dims;
            const double *target = x + i * dims;
            double *out = t + i * dims;
            for (uint64_t j = 0; j < dims; ++j) {
                const double u = draw_unit(&g);
                if (j == jrand || u < CR) {
                    double v = (b[j] - c[j]) * F + a[j];
                    out[j] = lo[j] > v ? lo[j] : (hi[j] < v ? hi[j] : v);
                } else {
                    out[j] = target[j];
                }
            }
        }
        sphere(pop, dims, t, ft);
        for (uint64_t i = 0; i < pop; ++i) {
            if (ft[i] < fx[i]) {
                fx[i] = ft[i];
                memcpy(x + i * dims, t + i * dims, dims * sizeof *x);
                if (ft[i] < best) best = ft[i];
            }
        }
    }
    const double elapsed = now() - start;
    free(x); free(t); free(fx); free(ft); free(lo); free(hi);
    return elapsed / (double)iters;
}

/* Seconds per call of `objective` on rows x cols matrices spread over
 * [-5.12, 5.12]: the part of a generation no optimiser can save, or a
 * negative value when memory runs out. The calls cycle through several
 * matrices (as many as fit in 4 MB), as an optimiser hands over new points
 * each generation: on one matrix again and again the branch predictor learns
 * the data, and libm's cos, for one, then runs twice as fast as it can. */
double objective_seconds_per_call(void (*objective)(uint64_t, uint64_t, const double *, double *),
                                  uint64_t rows, uint64_t cols, uint64_t calls) {
    const uint64_t size = rows * cols;
    uint64_t count = (1u << 19) / (size ? size : 1);
    count = count < 1 ? 1 : (count > 64 ? 64 : count);
    double *x = malloc(count * size * sizeof *x), *f = malloc(rows * sizeof *f);
    if (x == NULL || f == NULL) {
        free(x);
        free(f);
        return -1.0;
    }
    rng_t g = {{1, 2, 3, 4}};
    for (uint64_t k = 0; k < count * size; ++k) x[k] = 10.24 * draw_unit(&g) - 5.12;
    objective(rows, cols, x, f);
    const double start = now();
    for (uint64_t c = 0; c < calls; ++c) objective(rows, cols, x + (c % count) * size, f);
    const double seconds = (now() - start) / (double)calls;
    free(x);
    free(f);
    return seconds;
}

/* Seconds per generation of the memory traffic alone of making rand/1/bin
 * trials on one thread: three random donor rows and the target read, the
 * trial written, with the donors and crossover masks drawn beforehand, so
 * no generator runs inside the timing. No engine that makes every trial
 * component can go below it; a negative value when memory runs out. */
double trial_traffic_seconds_per_generation(uint64_t pop, uint64_t dims, uint64_t passes) {
    double *x = malloc(pop * dims * sizeof *x), *t = malloc(pop * dims * sizeof *t);
    double *lo = malloc(dims * sizeof *lo), *hi = malloc(dims * sizeof *hi);
    uint64_t *take = malloc(dims * sizeof *take), *donors = malloc(3 * pop * sizeof *donors);
    double seconds = -1.0;
    if (!x || !t || !lo || !hi || !take || !donors || pop < 4) goto done;
    rng_t g = {{1, 2, 3, 4}};
    for (uint64_t k = 0; k < pop * dims; ++k) x[k] = 10.24 * draw_unit(&g) - 5.12, t[k] = 0.0;
    for (uint64_t j = 0; j < dims; ++j)
        lo[j] = -5.12, hi[j] = 5.12, take[j] = draw_unit(&g) < 0.7 ? ~0ull : 0;
    seconds = INFINITY;
    for (uint64_t pass = 0; pass < passes; ++pass) {
        for (uint64_t k = 0; k < 3 * pop; ++k) donors[k] = draw_index(&g, pop);
        const double start = now();
        for (uint64_t i = 0; i < pop; ++i) {
            const double *restrict a = x + donors[3 * i] * dims, *restrict b = x + donors[3 * i + 1] * dims;
            const double *restrict c = x + donors[3 * i + 2] * dims, *restrict target = x + i * dims;
            double *restrict out = t + i * dims;
            for (uint64_t j = 0; j < dims; ++j) {
                double v = (b[j] - c[j]) * 0.5 + a[j];
                v = lo[j] > v ? lo[j] : (hi[j] < v ? hi[j] : v);
                uint64_t vb, tb;
                memcpy(&vb, &v, 8), memcpy(&tb, target + j, 8);
                vb = (vb & take[j]) | (tb & ~take[j]);
                memcpy(out + j, &vb, 8);
            }
        }
        const double elapsed = now() - start;
        seconds = elapsed < seconds ? elapsed : seconds;
    }
done:
    free(x), free(t), free(lo), free(hi), free(take), free(donors);
    return seconds;
}
