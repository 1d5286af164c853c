"""Times every ranking method against pymcdm 1.4 side by side in one run,
through the ternavik front end (what users call) and the bare _engine kernel.

    python bench/bench_methods.py [--quick]

Ratios are pymcdm time / ternavik time (higher is better for ternavik).
PROMETHEE II and CODAS compare every pair of alternatives: pymcdm builds
n x n tables per criterion (PROMETHEE) or loops over the pairs in Python
(CODAS), so at 100000 x 16 it cannot run; those two are measured at the
largest size pymcdm finishes in seconds. Our step preference functions
(usual, u-shape, level) count by binary search and stay fast at any size;
the ramps (v-shape, linear) and the Gaussian compare every pair.
"""
import sys

import numpy as np

from ternavik import _engine, methods
from timing import fmt, per_call

try:
    from pymcdm import methods as mcdm
    from pymcdm import normalizations as mcdm_norm
except ImportError:
    sys.exit('pymcdm is needed: pip install "pymcdm==1.4.*"')






def problem(n, m, seed=0):
    rng = np.random.default_rng(seed)
    x = rng.uniform(1.0, 100.0, (n, m))
    signs = np.where(np.arange(m) % 3 == 1, -1, 1)
    w = rng.uniform(0.1, 1.0, m)
    return x, signs, w / w.sum()


def cases(x, signs, w):
    """(name, ternavik front end, bare kernel, pymcdm) closures for one problem."""
    kinds = (signs == 1).astype(np.int64)
    wb = w.reshape(1, -1)
    spread = x.std(axis=0)
    m = x.shape[1]
    def promethee(ours, code, theirs):
        functions = np.full(m, code, dtype=np.int64)
        return (f"promethee2 ({ours})",
                lambda: methods.promethee2(x, w, kinds, preference=ours, q=0.25 * spread, p=spread),
                lambda: _engine.promethee2_scores(x, wb, kinds, functions, 0.25 * spread, spread,
                                                  spread),
                lambda: mcdm.PROMETHEE_II(theirs, p=spread, q=0.25 * spread)(x, w, signs))
    bounds = np.column_stack((x.min(axis=0), x.max(axis=0)))
    esp = np.where(kinds == 1, bounds[:, 1], bounds[:, 0])
    return [
        ("topsis (min-max)", lambda: methods.topsis(x, w, kinds, normalization="minmax"),
         lambda: _engine.topsis_scores(x, wb, kinds, 0), lambda: mcdm.TOPSIS()(x, w, signs)),
        ("topsis (vector)", lambda: methods.topsis(x, w, kinds, normalization="vector"),
         lambda: _engine.topsis_scores(x, wb, kinds, 3),
         lambda: mcdm.TOPSIS(mcdm_norm.vector_normalization)(x, w, signs)),
        ("vikor", lambda: methods.vikor(x, w, kinds), lambda: _engine.vikor_scores(x, wb, kinds, 0.5),
         lambda: mcdm.VIKOR()(x, w, signs)),
        promethee("usual", 0, "usual"),
        promethee("level", 3, "level"),
        promethee("linear", 4, "vshape_2"),
        ("copras", lambda: methods.copras(x, w, kinds), lambda: _engine.copras_scores(x, wb, kinds),
         lambda: mcdm.COPRAS()(x, w, signs)),
        ("waspas", lambda: methods.waspas(x, w, kinds), lambda: _engine.waspas_scores(x, wb, kinds, 0.5),
         lambda: mcdm.WASPAS()(x, w, signs)),
        ("edas", lambda: methods.edas(x, w, kinds), lambda: _engine.edas_scores(x, wb, kinds),
         lambda: mcdm.EDAS()(x, w, signs)),
        ("moora", lambda: methods.moora(x, w, kinds), lambda: _engine.moora_scores(x, wb, kinds),
         lambda: mcdm.MOORA()(x, w, signs)),
        ("aras", lambda: methods.aras(x, w, kinds), lambda: _engine.aras_scores(x, wb, kinds),
         lambda: mcdm.ARAS()(x, w, signs)),
        ("mabac", lambda: methods.mabac(x, w, kinds), lambda: _engine.mabac_scores(x, wb, kinds),
         lambda: mcdm.MABAC()(x, w, signs)),
        ("codas", lambda: methods.codas(x, w, kinds), lambda: _engine.codas_scores(x, wb, kinds, 0.02),
         lambda: mcdm.CODAS()(x, w, signs)),
        ("cocoso", lambda: methods.cocoso(x, w, kinds), lambda: _engine.cocoso_scores(x, wb, kinds, 0.5),
         lambda: mcdm.COCOSO()(x, w, signs)),
        ("mairca", lambda: methods.mairca(x, w, kinds), lambda: _engine.mairca_scores(x, wb, kinds),
         lambda: mcdm.MAIRCA()(x, w, signs)),
        ("marcos", lambda: methods.marcos(x, w, kinds), lambda: _engine.marcos_scores(x, wb, kinds),
         lambda: mcdm.MARCOS()(x, w, signs)),
        ("spotis", lambda: methods.spotis(x, w, kinds, bounds=bounds),
         lambda: _engine.spotis_scores(x, wb, kinds, bounds, esp),
         lambda: mcdm.SPOTIS(bounds)(x, w, signs)),
    ]


PAIRWISE = {"promethee2 (usual)": 2000, "promethee2 (level)": 2000,
            "promethee2 (linear)": 2000, "codas": 1000}


def main():
    quick = "--quick" in sys.argv
    budget = 0.2 if quick else 1.0
    print(f"{'method':22} {'shape':>12} {'pymcdm':>11} {'ternavik':>11} {'kernel':>11} "
          f"{'ratio':>7} {'kernel ratio':>13}")
    for n, m in ((10, 5), (100000, 16)):
        for name, front, kernel, peer in cases(*problem(n, m)):
            rows = n
            if n > 10 and name in PAIRWISE:
                rows = PAIRWISE[name] // (4 if quick else 1)
                front, kernel, peer = [c for c in cases(*problem(rows, m)) if c[0] == name][0][1:]
            t_peer = per_call(peer, budget)
            t_front = per_call(front, budget)
            t_kernel = per_call(kernel, budget)
            print(f"{name:22} {f'{rows}x{m}':>12} {fmt(t_peer)} {fmt(t_front)} {fmt(t_kernel)} "
                  f"{t_peer / t_front:6.1f}x {t_peer / t_kernel:12.1f}x", flush=True)


if __name__ == "__main__":
    main()
