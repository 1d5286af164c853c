#pragma once
#include <cstdint>

#include "core/de/strategy.hpp"

namespace ternavik {

// One contestant of a selection: its energy and its total constraint
// violation (0 when feasible or unconstrained).
struct Standing {
    double energy;
    double violation;
};

// Whether a trial replaces its target under the feasibility rule: feasible
// beats infeasible, ties of energy replace (so a population can drift across
// plateaus), and between infeasible points the smaller total violation wins.
inline bool feasibility_accepts(Standing trial, Standing current) {
    const bool trial_feasible = !(trial.violation > 0.0);
    const bool current_feasible = !(current.violation > 0.0);
    if (trial_feasible && current_feasible) return trial.energy <= current.energy;
    if (trial_feasible) return true;
    if (current_feasible) return false;
    return trial.violation <= current.violation;
}

// The same order made strict, for picking the best: ties keep the earlier.
inline bool feasibility_better(Standing a, Standing b) {
    const bool a_feasible = !(a.violation > 0.0);
    const bool b_feasible = !(b.violation > 0.0);
    if (a_feasible && b_feasible) return a.energy < b.energy;
    if (a_feasible != b_feasible) return a_feasible;
    return a.violation < b.violation;
}

// Whether a trial replaces its target under `selection`.
inline bool accepts(Selection selection, Standing trial, Standing current) {
    return selection == Selection::strict ? trial.energy < current.energy
                                          : feasibility_accepts(trial, current);
}

// Whether an accepted trial becomes the new best under `selection`.
inline bool better(Selection selection, Standing a, Standing b) {
    return selection == Selection::strict ? a.energy < b.energy : feasibility_better(a, b);
}

}  // namespace ternavik
