/* The floor for topsis and entropy_weight: plain C loops on two threads in
 * the operation order that fixes the results bit for bit. Column passes give
 * each thread half of the criteria (every sum still runs in row order over
 * a row-major matrix); row passes give each thread half of the rows.
 * Built by bench_decision.py with the same flags as the module. */
#include <math.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>

typedef struct {
    const double *x;
    size_t n, m, begin, end; /* [begin, end): criteria or rows */
    const double *w, *lo, *hi, *f, *best, *worst;
    const int64_t *codes;
    double *q, *out_lo, *out_hi, *s, *t, *out;
} job_t;

typedef void *(*body_t)(void *);

/* Runs body on two halves of [0, count): one on a new thread, one here. */
static void on_two_threads(body_t body, job_t job, size_t count) {
    job_t first = job, second = job;
    first.begin = 0, first.end = count / 2;
    second.begin = count / 2, second.end = count;
    pthread_t thread;
    pthread_create(&thread, NULL, body, &second);
    body(&first);
    pthread_join(thread, NULL);
}

static void *squares(void *arg) {
    job_t *j = arg;
    for (size_t c = j->begin; c < j->end; ++c) j->q[c] = 0.0;
    for (size_t i = 0; i < j->n; ++i) {
        const double *row = j->x + i * j->m;
        for (size_t c = j->begin; c < j->end; ++c) j->q[c] = j->q[c] + row[c] * row[c];
    }
    return NULL;
}

static void *weighted_extremes(void *arg) {
    job_t *j = arg;
    for (size_t c = j->begin; c < j->end; ++c) j->out_lo[c] = INFINITY, j->out_hi[c] = -INFINITY;
    for (size_t i = 0; i < j->n; ++i) {
        const double *row = j->x + i * j->m;
        for (size_t c = j->begin; c < j->end; ++c) {
            const double v = row[c] * j->f[c];
            if (v < j->out_lo[c]) j->out_lo[c] = v;
            if (v > j->out_hi[c]) j->out_hi[c] = v;
        }
    }
    return NULL;
}

static void *closeness(void *arg) {
    job_t *j = arg;
    for (size_t i = j->begin; i < j->end; ++i) {
        const double *row = j->x + i * j->m;
        double p = 0.0, q = 0.0;
        for (size_t c = 0; c < j->m; ++c) {
            const double v = row[c] * j->f[c];
            p = p + (v - j->best[c]) * (v - j->best[c]);
            q = q + (v - j->worst[c]) * (v - j->worst[c]);
        }
        const double plus = sqrt(p), minus = sqrt(q), both = plus + minus;
        j->out[i] = both == 0.0 ? 0.5 : minus / both;
    }
    return NULL;
}

void topsis_floor(const double *x, size_t n, size_t m, const double *w, const int64_t *codes,
                  double *out) {
    double *buffer = malloc(6 * m * sizeof(double) + 1);
    double *q = buffer, *f = q + m, *lo = f + m, *hi = lo + m, *best = hi + m, *worst = best + m;
    job_t job = {.x = x, .n = n, .m = m, .w = w, .codes = codes, .q = q, .f = f,
                 .out_lo = lo, .out_hi = hi, .best = best, .worst = worst, .out = out};
    on_two_threads(squares, job, m);
    for (size_t c = 0; c < m; ++c) f[c] = q[c] == 0.0 ? 0.0 : w[c] / sqrt(q[c]);
    on_two_threads(weighted_extremes, job, m);
    for (size_t c = 0; c < m; ++c) {
        if (q[c] == 0.0) lo[c] = hi[c] = 0.0;
        best[c] = codes[c] == 1 ? hi[c] : lo[c];
        worst[c] = codes[c] == 1 ? lo[c] : hi[c];
    }
    on_two_threads(closeness, job, n);
    free(buffer);
}

static void *raw_extremes(void *arg) {
    job_t *j = arg;
    for (size_t c = j->begin; c < j->end; ++c) j->out_lo[c] = INFINITY, j->out_hi[c] = -INFINITY;
    for (size_t i = 0; i < j->n; ++i) {
        const double *row = j->x + i * j->m;
        for (size_t c = j->begin; c < j->end; ++c) {
            if (row[c] < j->out_lo[c]) j->out_lo[c] = row[c];
            if (row[c] > j->out_hi[c]) j->out_hi[c] = row[c];
        }
    }
    return NULL;
}

static double normalised(const job_t *j, size_t c, double x) {
    const double r = j->hi[c] - j->lo[c];
    return j->codes[c] == 1 ? (x - j->lo[c]) / r : (j->hi[c] - x) / r;
}

static void *entropy_sums(void *arg) {
    job_t *j = arg;
    for (size_t c = j->begin; c < j->end; ++c) j->s[c] = 0.0, j->t[c] = 0.0;
    for (size_t i = 0; i < j->n; ++i) {
        const double *row = j->x + i * j->m;
        for (size_t c = j->begin; c < j->end; ++c) {
            const double y = normalised(j, c, row[c]);
            j->s[c] = j->s[c] + y;
            if (y > 1e-12) j->t[c] = j->t[c] + log(y) * y;
        }
    }
    return NULL;
}

static void *scores(void *arg) {
    job_t *j = arg;
    for (size_t i = j->begin; i < j->end; ++i) {
        const double *row = j->x + i * j->m;
        double s = 0.0;
        for (size_t c = 0; c < j->m; ++c) {
            const double y = j->hi[c] - j->lo[c] == 0.0 ? 1.0 : normalised(j, c, row[c]);
            s = s + y * j->w[c];
        }
        j->out[i] = s;
    }
    return NULL;
}

void entropy_floor(const double *x, size_t n, size_t m, const int64_t *codes, double *weights,
                   double *out) {
    double *buffer = malloc(4 * m * sizeof(double) + 1);
    double *lo = buffer, *hi = lo + m, *s = hi + m, *t = s + m;
    job_t job = {.x = x, .n = n, .m = m, .codes = codes, .lo = lo, .hi = hi, .out_lo = lo,
                 .out_hi = hi, .s = s, .t = t, .w = weights, .out = out};
    on_two_threads(raw_extremes, job, m);
    on_two_threads(entropy_sums, job, m);
    double total = 0.0; /* the eight-way divergence sum only matters for m >= 8 */
    double p[8] = {0};
    const size_t whole = m / 8 * 8;
    for (size_t c = 0; c < m; ++c) {
        double e = 1.0;
        if (hi[c] - lo[c] != 0.0 && s[c] > 0.0)
            e = (-1.0 / log((double)n)) * (t[c] / s[c] - log(s[c]));
        weights[c] = 1.0 - e;
    }
    if (m < 8) {
        for (size_t c = 0; c < m; ++c) total = total + weights[c];
    } else {
        for (size_t c = 0; c < whole; ++c) p[c % 8] = p[c % 8] + weights[c];
        total = (((0.0 + (p[0] + p[4])) + (p[1] + p[5])) + (p[2] + p[6])) + (p[3] + p[7]);
        for (size_t c = whole; c < m; ++c) total = total + weights[c];
    }
    for (size_t c = 0; c < m; ++c) weights[c] = total == 0.0 ? 1.0 / (double)m : weights[c] / total;
    on_two_threads(scores, job, n);
    free(buffer);
}
