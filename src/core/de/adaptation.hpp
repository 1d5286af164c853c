#pragma once
// Self-adaptive control parameters: one more policy of the engine, chosen
// once per run. Between generations an Adapter draws each individual's F and
// CR (and, for the success-history family, its p-best donor), learns from
// the generation's selections in index order, and says how large the next
// population is. The trials themselves are made by the makers below, on the
// worker pool, from the per-trial counter streams.
#include <cstdint>
#include <vector>

#include "core/de/selection.hpp"
#include "core/de/trial_generation.hpp"
#include "core/de/working_state.hpp"
#include "runtime/philox.hpp"

namespace ternavik {

enum class Adaptation : std::uint8_t {
    none,
    jde,     // Brest, Greiner, Boskovic, Mernik and Zumer (2006)
    lshade,  // Tanabe and Fukunaga (2014)
    jso,     // Brest, Maucec and Boskovic (2017)
};

// The constants of each rule, as its paper gives them.
struct AdaptationRule {
    std::uint64_t memory_size = 6;  // H
    double memory_F = 0.5, memory_CR = 0.5;  // initial memory contents
    double archive_rate = 2.6;      // archive capacity / population size
    double p_first = 0.11, p_last = 0.11;  // share of the best the p-best donor comes from
    bool fixed_last_entry = false;  // jSO: the last memory entry stays at 0.9
    bool staged = false;            // jSO: staged F, CR and F_w over the budget
    bool averaged = false;          // jSO: a memory entry moves halfway to the new mean
    bool reduces_population = true;
};
AdaptationRule rule_of(Adaptation kind);

// What the trial makers read besides the population.
struct AdaptiveInputs {
    TrialInputs base;
    const double* F;               // per individual
    const double* CR;              // per individual
    const std::uint64_t* pbest;    // per individual (success-history family)
    const double* archive;         // archive_size rows
    std::uint64_t archive_size;
    double Fw_factor;              // F_w = Fw_factor * F for the p-best difference
};

using AdaptiveTrialMaker = void (*)(const AdaptiveInputs& in, const TrialDraws& draws,
                                    std::uint64_t begin, std::uint64_t end, double* trial);

// The maker for one rule: jDE's rand/1/bin under `bounds`, or
// current-to-pbest/1/bin with the archive and the midpoint repair.
AdaptiveTrialMaker choose_adaptive_maker(Adaptation kind, BoundHandling bounds);

// All trial rows, on the worker pool when `parallel`.
void generate_adaptive_trials(AdaptiveTrialMaker maker, const AdaptiveInputs& in,
                              const TrialDraws& draws, double* trial, bool parallel);

// The learning state of one run.
class Adapter {
public:
    // `budget`: the evaluations the population schedule spans; `min_pop`:
    // where it ends.
    Adapter(Adaptation kind, std::uint64_t initial_pop, std::uint64_t dims, std::uint64_t budget,
            std::uint64_t min_pop, PhiloxKey key);

    // Draws every individual's F, CR and p-best donor for `generation`, made
    // after `evaluations` evaluations; `standings` are the population's.
    void prepare(std::uint64_t generation, std::uint64_t evaluations,
                 const std::vector<Standing>& standings, Selection rule);
    AdaptiveInputs inputs(const TrialInputs& base) const;

    // The outcome of trial i, in index order: `replaced` when it took the
    // target's place, `improved` when strictly better; `parent` is the
    // target's row before any replacement.
    void record(std::uint64_t i, bool replaced, bool improved, double before, double after,
                const double* parent);

    // Ends the generation: memories updated, the next population size (no
    // larger than `pop`) decided and the archive cut to match.
    std::uint64_t finish(std::uint64_t evaluations, std::uint64_t pop);

    // After a reduction: the per-individual state of the survivors, in order.
    void keep(const std::vector<std::uint64_t>& survivors);

    // For tests and the front end.
    const std::vector<double>& memory_F() const { return memory_F_; }
    const std::vector<double>& memory_CR() const { return memory_CR_; }
    std::uint64_t archive_size() const { return archive_size_; }
    const double* archive() const { return archive_.data(); }
    const std::vector<double>& F() const { return F_; }
    const std::vector<double>& CR() const { return CR_; }
    std::uint64_t population_after(std::uint64_t evaluations) const;

    static constexpr double terminal = -1.0;  // the memory's terminal CR value

private:
    void prepare_jde(Xoshiro256pp& g, std::uint64_t pop);
    void prepare_history(WyRand& g, double progress, const std::vector<Standing>& standings,
                         Selection rule);
    void update_memory();
    void add_to_archive(const double* row);
    std::uint64_t archive_capacity(std::uint64_t pop) const;

    Adaptation kind_;
    AdaptationRule rule_;
    std::uint64_t dims_, initial_pop_, budget_, min_pop_, current_pop_;
    PhiloxKey key_;
    std::vector<double> memory_F_, memory_CR_;
    std::uint64_t next_entry_ = 0;
    std::vector<double> F_, CR_;              // this generation's, per individual
    std::vector<double> kept_F_, kept_CR_;    // jDE: what each individual carries
    std::vector<std::uint64_t> pbest_;
    std::vector<std::uint64_t> ranked_;  // reused each generation
    double Fw_factor_ = 1.0;
    std::vector<double> success_F_, success_CR_, success_gain_;
    ZeroedArray archive_;
    std::uint64_t archive_size_ = 0;
    Xoshiro256pp archive_rng_;
};

}  // namespace ternavik
