"""Times ternavik's objective weightings against pymcdm 1.4, side by side in
one run, on 10 x 5 and 100000 x 16 matrices, and prints the speed ratios.

    python bench/bench_weights.py [--quick]

pymcdm's Gini weighting compares every pair of alternatives in a Python
loop (O(n^2)); at 100000 rows it is timed on the first 2000 rows and scaled
by (100000 / 2000)^2, and the line says so.
"""
import sys
import warnings

import numpy as np

from ternavik.weighting import WEIGHTINGS, weights_of
from timing import fmt, per_call

try:
    import pymcdm.weights as pm
except ImportError:
    sys.exit('bench_weights needs pymcdm: pip install "pymcdm==1.4.*"')

SHAPES = [(10, 5), (100000, 16)]
QUADRATIC_SAMPLE = 2000

PEERS = {
    "equal": lambda x, t: pm.equal_weights(x),
    "sum_entropy": lambda x, t: pm.entropy_weights(x),
    "standard_deviation": lambda x, t: pm.standard_deviation_weights(x),
    "variance": lambda x, t: pm.variance_weights(x),
    "critic": lambda x, t: pm.critic_weights(x),
    "merec": lambda x, t: pm.merec_weights(x, t),
    "gini": lambda x, t: pm.gini_weights(x),
    "angle": lambda x, t: pm.angle_weights(x),
}






def main():
    quick = "--quick" in sys.argv
    budget = 0.2 if quick else 1.0
    rng = np.random.default_rng(0)
    warnings.simplefilter("ignore")
    print(f"{'weighting':<20}{'shape':>12}{'ternavik':>13}{'pymcdm':>13}{'ratio':>10}")
    for n, m in SHAPES:
        x = rng.uniform(1.0, 100.0, (n, m))
        codes = rng.integers(0, 2, m).astype(np.int64)
        types = np.where(codes == 1, 1, -1)
        for name in WEIGHTINGS:
            if name not in PEERS:
                continue
            ours = per_call(lambda: weights_of(name, x, codes), budget)
            note = ""
            if name == "gini" and n > QUADRATIC_SAMPLE:
                part = x[:QUADRATIC_SAMPLE]
                theirs = per_call(lambda: PEERS[name](part, types), budget)
                theirs *= (n / QUADRATIC_SAMPLE) ** 2
                note = "  (pymcdm scaled from 2000 rows)"
            else:
                theirs = per_call(lambda: PEERS[name](x, types), budget)
            print(f"{name:<20}{f'{n}x{m}':>12}{fmt(ours):>13}{fmt(theirs):>13}"
                  f"{theirs / ours:>9.1f}x{note}")


if __name__ == "__main__":
    main()
