"""
Weights from judgements, a ranking from them, and how robust it is
==================================================================

``python examples/ahp_topsis_smaa.py [chart.png]``

An analyst compares the phones' criteria pairwise (AHP), feeds the weights
to TOPSIS, then asks how much the ranking depends on those weights: SMAA
draws 10 000 weight vectors that keep the analyst's order of importance and
counts how often each phone takes each rank. The chart is saved as a PNG
(by default in the system's temporary folder).
"""

import sys
import tempfile
from pathlib import Path

import pandas as pd

import ternavik

# Beside this script (argv[0], which the documentation's gallery sets too).
phones = pd.read_csv(Path(sys.argv[0]).with_name("phones.csv"), index_col="phone")
kinds = {"price": "min", "storage": "max", "camera": "max"}

# Row criterion against column criterion on Saaty's 1-9 scale: price is
# moderately more important than storage and strongly more than the camera.
criteria = ["price", "storage", "camera"]
pairwise = pd.DataFrame([[1, 3, 5], [1 / 3, 1, 2], [1 / 5, 1 / 2, 1]],
                        index=criteria, columns=criteria)
ahp = ternavik.subjective.ahp(pairwise)
print(ahp)

closeness = ternavik.topsis(phones, ahp.weights, kinds)
print(ternavik.rank(closeness).sort_values())

order = {name: int(rank) for name, rank in ahp.weights.rank(ascending=False).items()}
robust = ternavik.smaa(phones, kinds, method="topsis", samples=10_000, seed=7, weights=order)
print(robust.acceptability.round(3))

default = Path(tempfile.gettempdir()) / "smaa_acceptability.png"
chart = Path(sys.argv[1]) if len(sys.argv) > 1 else default
figure = robust.plot(title="TOPSIS rank acceptability, weights in the AHP order")
figure.savefig(chart, dpi=120)
print(f"chart saved to {chart}")
