"""
Weights from the data
=====================

Nine objective weightings on the ten-supplier example shipped with ternavik. They
read different things into the same matrix: entropy rewards criteria whose values
are unevenly spread, CRITIC criteria that are both spread out and unlike the
others, MEREC criteria whose removal changes the alternatives' performance most.
"""

from importlib.resources import files

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

import ternavik

suppliers = pd.read_csv(str(files("ternavik") / "data" / "suppliers.csv"), index_col=0)
kinds = {"price": "min", "lead_time": "min", "defect_rate": "min", "capacity": "max",
         "rating": "max"}
print(suppliers)

names = ["equal", "entropy", "sum_entropy", "standard_deviation", "variance", "critic",
         "merec", "gini", "angle"]
table = pd.DataFrame({name: ternavik.objective_weights(suppliers, weights=name, kinds=kinds)
                      for name in names})
print(table.round(3))

# %%
# Each group of bars is one weighting; each bar one criterion.
fig, ax = plt.subplots(figsize=(9, 4), layout="constrained")
width = 0.8 / len(table.index)
for k, criterion in enumerate(table.index):
    ax.bar(np.arange(len(names)) + k * width, table.loc[criterion], width, label=criterion)
ax.set_xticks(np.arange(len(names)) + 0.4 - width / 2, names, rotation=25)
ax.set_ylabel("weight")
ax.legend(ncols=len(table.index), fontsize=8, loc="upper center")
ax.set_title("Objective weightings of the supplier criteria")

# %%
# Do the weightings change the winner? TOPSIS under each of them:
ranks = pd.DataFrame({name: ternavik.rank(ternavik.topsis(suppliers, weights=name,
                                                           kinds=kinds))
                      for name in names})
print(ranks)
