#include "core/de/adaptation.hpp"
#include "core/de/distributions.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "runtime/internal_failure.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik {

namespace {

// jDE's trial: rand/1/bin with the individual's own F and CR.
struct Rand1Trial {
    template <class Repair, class Generator>
    static void make(Generator& rng, const AdaptiveInputs& in, std::uint64_t i, double* out) {
        const TrialInputs& b = in.base;
        std::uint64_t donors[5] = {0, 0, 0, 0, 0};
        draw_donors<3>(rng, b.pop, i, donors);
        MutationRows rows{};
        for (unsigned k = 0; k < 3; ++k) rows.d[k] = b.population + donors[k] * b.dimensions;
        rows.best = b.best;
        rows.target = b.population + i * b.dimensions;
        const double F = in.F[i];
        BlockBinomialCrossover::apply<Repair>(
            rng, b.dimensions, in.CR[i], b.min_bound, b.max_bound, rows.target, out,
            [&rows, F](std::uint64_t j) { return Rand1Mutation::component(rows, j, F); });
    }
};

// current-to-pbest/1/bin: v = x_i + F_w (x_pbest - x_i) + F (x_r1 - x~_r2),
// r1 from the population, r2 from the population and the archive, each
// distinct from i and from each other.
struct PbestTrial {
    template <class Repair, class Generator>
    static void make(Generator& rng, const AdaptiveInputs& in, std::uint64_t i, double* out) {
        const TrialInputs& b = in.base;
        const std::uint64_t dims = b.dimensions, pop = b.pop;
        std::uint64_t r1, r2;
        do r1 = draw_index(rng, pop); while (r1 == i);
        do r2 = draw_index(rng, pop + in.archive_size); while (r2 == i || r2 == r1);
        const double* __restrict target = b.population + i * dims;
        const double* __restrict pbest = b.population + in.pbest[i] * dims;
        const double* __restrict a = b.population + r1 * dims;
        const double* __restrict c =
            r2 < pop ? b.population + r2 * dims : in.archive + (r2 - pop) * dims;
        const double F = in.F[i], Fw = in.Fw_factor * in.F[i];
        BlockBinomialCrossover::apply<Repair>(
            rng, dims, in.CR[i], b.min_bound, b.max_bound, target, out,
            [=](std::uint64_t j) {
                return (pbest[j] - target[j]) * Fw + target[j] + (a[j] - c[j]) * F;
            });
    }
};

// Each trial from its own counter stream, as the fixed makers draw theirs.
template <class Trial, class Repair>
void make_adaptive_trials(const AdaptiveInputs& in, const TrialDraws& draws, std::uint64_t begin,
                          std::uint64_t end, double* trial) {
    const std::uint64_t dims = in.base.dimensions;
    for_each_counter_trial(draws, begin, end, [&in, trial, dims](auto& own, std::uint64_t i) {
        Trial::template make<Repair>(own, in, i, trial + i * dims);
    });
}

#if defined(__x86_64__) || defined(__i386__)
#define TERNAVIK_AVX2_ADAPTIVE_MAKERS 1
// The same trials with 256-bit vectors: every call inside is inlined and the
// operations are the same IEEE operations in the same order, so the bits
// are the same as the baseline maker's.
template <class Trial, class Repair>
[[gnu::target("avx2"), gnu::flatten]] void make_adaptive_trials_avx2(
    const AdaptiveInputs& in, const TrialDraws& draws, std::uint64_t begin, std::uint64_t end,
    double* trial) {
    make_adaptive_trials<Trial, Repair>(in, draws, begin, end, trial);
}
#endif

template <class Trial, class Repair>
AdaptiveTrialMaker widest_maker() {
#ifdef TERNAVIK_AVX2_ADAPTIVE_MAKERS
    if (widest_vectors() == VectorWidth::avx2) return &make_adaptive_trials_avx2<Trial, Repair>;
#endif
    return &make_adaptive_trials<Trial, Repair>;
}

}  // namespace

// Marsaglia and Tsang's construction of the 128 layers of equal area.
const ZigguratTables& ziggurat_tables() {
    static const ZigguratTables tables = [] {
        ZigguratTables t{};
        constexpr double m1 = 2147483648.0, area = 9.91256303526217e-3;
        double dn = ziggurat_tail, tn = dn;
        const double q = area / std::exp(-0.5 * dn * dn);
        t.k[0] = static_cast<std::uint32_t>((dn / q) * m1);
        t.k[1] = 0;
        t.w[0] = q / m1;
        t.w[127] = dn / m1;
        t.f[0] = 1.0;
        t.f[127] = std::exp(-0.5 * dn * dn);
        for (int i = 126; i >= 1; --i) {
            dn = std::sqrt(-2.0 * std::log(area / dn + std::exp(-0.5 * dn * dn)));
            t.k[i + 1] = static_cast<std::uint32_t>((dn / tn) * m1);
            tn = dn;
            t.f[i] = std::exp(-0.5 * dn * dn);
            t.w[i] = dn / m1;
        }
        return t;
    }();
    return tables;
}

AdaptationRule rule_of(Adaptation kind) {
    AdaptationRule r;
    if (kind == Adaptation::jso) {
        r.memory_size = 5;
        r.memory_F = 0.3;
        r.memory_CR = 0.8;
        r.archive_rate = 1.0;
        r.p_first = 0.25;
        r.p_last = 0.125;
        r.fixed_last_entry = true;
        r.staged = true;
        r.averaged = true;
    }
    if (kind == Adaptation::jde) r.reduces_population = false;
    return r;
}

AdaptiveTrialMaker choose_adaptive_maker(Adaptation kind, BoundHandling bounds) {
    if (kind == Adaptation::jde)
        return bounds == BoundHandling::clip ? widest_maker<Rand1Trial, ClipRepair>()
                                             : widest_maker<Rand1Trial, ReinitializeRepair>();
    return widest_maker<PbestTrial, MidpointRepair>();
}

void generate_adaptive_trials(AdaptiveTrialMaker maker, const AdaptiveInputs& in,
                              const TrialDraws& draws, double* trial, bool parallel) {
    if (!parallel) {
        maker(in, draws, 0, in.base.pop, trial);
        return;
    }
    run_parallel(in.base.pop, [maker, &in, &draws, trial](std::size_t begin, std::size_t end) {
        maker(in, draws, begin, end, trial);
    });
}

Adapter::Adapter(Adaptation kind, std::uint64_t initial_pop, std::uint64_t dims,
                 std::uint64_t budget, std::uint64_t min_pop, PhiloxKey key)
    : kind_(kind),
      rule_(rule_of(kind)),
      dims_(dims),
      initial_pop_(initial_pop),
      budget_(budget),
      min_pop_(std::min(min_pop, initial_pop)),
      current_pop_(initial_pop),
      key_(key),
      memory_F_(rule_.memory_size, rule_.memory_F),
      memory_CR_(rule_.memory_size, rule_.memory_CR),
      F_(initial_pop),
      CR_(initial_pop),
      kept_F_(kind == Adaptation::jde ? initial_pop : 0, 0.5),
      kept_CR_(kind == Adaptation::jde ? initial_pop : 0, 0.9),
      pbest_(initial_pop),
      archive_(kind == Adaptation::jde ? 0 : (archive_capacity(initial_pop) + 1) * dims),
      archive_rng_(counter_generator(key, Stream::archive, 0, 0)) {
    if (kind == Adaptation::none) throw InternalFailure("an adapter needs an adaptation rule");
    if (rule_.fixed_last_entry) memory_F_.back() = memory_CR_.back() = 0.9;
}

std::uint64_t Adapter::archive_capacity(std::uint64_t pop) const {
    if (kind_ == Adaptation::jde) return 0;
    return static_cast<std::uint64_t>(std::llround(rule_.archive_rate * static_cast<double>(pop)));
}

// Linear population size reduction: from the initial size at no evaluations
// to the minimum at the budget, rounded to the nearest size.
std::uint64_t Adapter::population_after(std::uint64_t evaluations) const {
    if (!rule_.reduces_population || budget_ == 0) return initial_pop_;
    const double share = std::min(1.0, static_cast<double>(evaluations) /
                                           static_cast<double>(budget_));
    const double size = (static_cast<double>(min_pop_) - static_cast<double>(initial_pop_)) *
                            share + static_cast<double>(initial_pop_);
    return std::max(min_pop_, static_cast<std::uint64_t>(std::llround(size)));
}

void Adapter::prepare(std::uint64_t generation, std::uint64_t evaluations,
                      const std::vector<Standing>& standings, Selection rule) {
    Xoshiro256pp g = counter_generator(key_, Stream::adaptation, generation, 0);
    archive_rng_ = counter_generator(key_, Stream::archive, generation, 0);
    current_pop_ = standings.size();
    success_F_.clear();
    success_CR_.clear();
    success_gain_.clear();
    if (kind_ == Adaptation::jde) {
        prepare_jde(g, standings.size());
        return;
    }
    const double progress =
        budget_ == 0 ? 0.0
                     : std::min(1.0, static_cast<double>(evaluations) / static_cast<double>(budget_));
    // Five or six words per individual, made serially: the fast stream,
    // seeded from the counter stream, keeps them off the longer carried
    // dependency of the counter stream's generator.
    WyRand fast(next_word(g));
    prepare_history(fast, progress, standings, rule);
}

// Each individual regenerates F in [0.1, 1) and CR in [0, 1) with
// probability 0.1 each; four draws per individual whatever happens.
void Adapter::prepare_jde(Xoshiro256pp& g, std::uint64_t pop) {
    constexpr double tau = 0.1, F_low = 0.1, F_span = 0.9;
    for (std::uint64_t i = 0; i < pop; ++i) {
        const double r1 = draw_unit(g), r2 = draw_unit(g), r3 = draw_unit(g), r4 = draw_unit(g);
        F_[i] = r2 < tau ? F_low + r1 * F_span : kept_F_[i];
        CR_[i] = r4 < tau ? r3 : kept_CR_[i];
    }
}

void Adapter::prepare_history(WyRand& g, double progress,
                              const std::vector<Standing>& standings, Selection rule) {
    const std::uint64_t pop = standings.size();
    std::vector<std::uint64_t>& ranked = ranked_;
    ranked.resize(pop);
    std::iota(ranked.begin(), ranked.end(), std::uint64_t{0});
    const double p = rule_.p_first + (rule_.p_last - rule_.p_first) * progress;
    const std::uint64_t best_count = std::min<std::uint64_t>(
        pop, std::max<std::uint64_t>(2, static_cast<std::uint64_t>(
                                            std::llround(p * static_cast<double>(pop)))));
    // Only the best few are needed, in order: ties go to the lower index,
    // which makes the order total and the result that of a stable sort.
    std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(best_count),
                      ranked.end(), [&](std::uint64_t a, std::uint64_t b) {
                          if (better(rule, standings[a], standings[b])) return true;
                          return !better(rule, standings[b], standings[a]) && a < b;
                      });
    Fw_factor_ = !rule_.staged ? 1.0 : progress < 0.2 ? 0.7 : progress < 0.4 ? 0.8 : 1.2;
    // The staged limits are fixed for the generation: a floor under CR
    // (0 where none applies, as CR is already in [0, 1]) and a cap on F.
    const double CR_floor = !rule_.staged ? 0.0 : progress < 0.25 ? 0.7 : progress < 0.5 ? 0.6 : 0.0;
    const double F_cap = rule_.staged && progress < 0.6 ? 0.7 : 1.0;
    const ZigguratTables& t = ziggurat_tables();
    const std::uint64_t slots = rule_.memory_size;
    const double* __restrict mF = memory_F_.data();
    const double* __restrict mCR = memory_CR_.data();
    double* __restrict Fs = F_.data();
    double* __restrict CRs = CR_.data();
    std::uint64_t* __restrict donors = pbest_.data();
    for (std::uint64_t i = 0; i < pop; ++i) {
        const std::uint64_t r = draw_index(g, slots);
        const double z = draw_normal(g, t, mCR[r], 0.1);
        const double CR = mCR[r] == terminal ? 0.0 : std::clamp(z, 0.0, 1.0);
        double F;
        do F = draw_cauchy(g, t, mF[r], 0.1); while (!(F > 0.0));
        Fs[i] = std::min(std::min(F, 1.0), F_cap);
        CRs[i] = std::max(CR, CR_floor);
        donors[i] = ranked[draw_index(g, best_count)];
    }
}

AdaptiveInputs Adapter::inputs(const TrialInputs& base) const {
    return AdaptiveInputs{base,     F_.data(),      CR_.data(), pbest_.data(),
                          archive_.data(), archive_size_, Fw_factor_};
}

void Adapter::record(std::uint64_t i, bool replaced, bool improved, double before, double after,
                     const double* parent) {
    if (kind_ == Adaptation::jde) {
        // The parameters that made a surviving trial survive with it.
        if (replaced) kept_F_[i] = F_[i], kept_CR_[i] = CR_[i];
        return;
    }
    if (!improved) return;
    success_F_.push_back(F_[i]);
    success_CR_.push_back(CR_[i]);
    success_gain_.push_back(std::fabs(before - after));
    add_to_archive(parent);
}

// A full archive makes room by replacing a random member.
void Adapter::add_to_archive(const double* row) {
    const std::uint64_t capacity = archive_capacity(current_pop_);
    if (capacity == 0) return;
    const std::uint64_t slot =
        archive_size_ < capacity ? archive_size_++ : draw_index(archive_rng_, capacity);
    if (dims_) std::memcpy(archive_.data() + slot * dims_, row, dims_ * sizeof(double));
}

namespace {

// sum w x^2 / sum w x, in index order.
double weighted_lehmer(const std::vector<double>& x, const std::vector<double>& w) {
    double top = 0.0, bottom = 0.0;
    for (std::size_t k = 0; k < x.size(); ++k) {
        top += w[k] * x[k] * x[k];
        bottom += w[k] * x[k];
    }
    return top / bottom;
}

}  // namespace

// Weights are the improvements; where one is not finite (an infeasible
// point's +inf energy) they cannot be compared, and every success counts
// the same.
void Adapter::update_memory() {
    if (success_F_.empty()) return;
    std::vector<double> w = success_gain_;
    double total = 0.0;
    bool finite = true;
    for (double x : w) finite &= std::isfinite(x), total += x;
    if (!finite || !(total > 0.0)) std::fill(w.begin(), w.end(), 1.0);
    const std::uint64_t k = next_entry_;
    const double F_mean = weighted_lehmer(success_F_, w);
    const bool no_crossover =
        memory_CR_[k] == terminal ||
        *std::max_element(success_CR_.begin(), success_CR_.end()) == 0.0;
    const double CR_mean = no_crossover ? terminal : weighted_lehmer(success_CR_, w);
    if (rule_.averaged) {
        memory_F_[k] = (memory_F_[k] + F_mean) * 0.5;
        memory_CR_[k] = CR_mean == terminal ? terminal : (memory_CR_[k] + CR_mean) * 0.5;
    } else {
        memory_F_[k] = F_mean;
        memory_CR_[k] = CR_mean;
    }
    const std::uint64_t entries = rule_.memory_size - (rule_.fixed_last_entry ? 1 : 0);
    next_entry_ = (next_entry_ + 1) % entries;
}

std::uint64_t Adapter::finish(std::uint64_t evaluations, std::uint64_t pop) {
    if (kind_ == Adaptation::jde) return pop;
    update_memory();
    const std::uint64_t next = std::min(pop, population_after(evaluations));
    // A smaller population keeps a smaller archive: random members leave.
    const std::uint64_t capacity = archive_capacity(next);
    while (archive_size_ > capacity) {
        const std::uint64_t leaving = draw_index(archive_rng_, archive_size_);
        --archive_size_;
        if (leaving != archive_size_ && dims_)
            std::memcpy(archive_.data() + leaving * dims_, archive_.data() + archive_size_ * dims_,
                        dims_ * sizeof(double));
    }
    return next;
}

void Adapter::keep(const std::vector<std::uint64_t>& survivors) {
    for (std::size_t k = 0; k < survivors.size(); ++k) {
        F_[k] = F_[survivors[k]];
        CR_[k] = CR_[survivors[k]];
        if (kind_ == Adaptation::jde) {
            kept_F_[k] = kept_F_[survivors[k]];
            kept_CR_[k] = kept_CR_[survivors[k]];
        }
    }
}

}  // namespace ternavik
