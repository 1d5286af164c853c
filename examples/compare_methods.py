"""
Do the methods agree?
=====================

Six laptops ranked by five methods on the same CRITIC weights. The bump chart shows
where the methods part ways, and the correlation matrix how far their rankings agree
(Spearman's rho: 1 for the same order, -1 for the reverse).
"""

import matplotlib.pyplot as plt
import pandas as pd

import ternavik

laptops = pd.DataFrame(
    {"price": [999, 1299, 799, 1099, 899, 1199], "battery_h": [10, 14, 7, 12, 9, 11],
     "weight_kg": [1.4, 1.2, 1.9, 1.6, 1.3, 1.1], "score": [4.2, 4.6, 3.9, 4.4, 4.0, 4.3]},
    index=["Ash", "Beech", "Cherry", "Elm", "Fir", "Hazel"],
)
methods = ["topsis", "vikor", "promethee2", "mabac", "spotis"]
result = ternavik.compare(laptops, weights="critic", kinds="-+-+", methods=methods)
print(result.ranks)

# %%
# ``plot_ranks`` draws one line per alternative across the methods, rank 1 on top.
fig = ternavik.plot_ranks(result)

# %%
# The correlation between every pair of rankings, as a heat map.
corr = result.correlation
heat, ax = plt.subplots(figsize=(5.2, 4.2), layout="constrained")
image = ax.imshow(corr.to_numpy(), vmin=-1, vmax=1, cmap="RdBu")
ax.set_xticks(range(len(methods)), corr.columns, rotation=30)
ax.set_yticks(range(len(methods)), corr.index)
for i in range(len(methods)):
    for j in range(len(methods)):
        ax.text(j, i, f"{corr.iat[i, j]:.2f}", ha="center", va="center", fontsize=9)
heat.colorbar(image, ax=ax, label="Spearman's rho")
ax.set_title("Agreement between the rankings")
