"""
How far does the winner hold?
=============================

Weights are judgements. ``sensitivity`` moves each criterion's weight from 0 to 1,
the others keeping their proportions, scores every step in one batched native call,
and reports the weight at which another alternative takes the lead.
"""

import pandas as pd

import ternavik

laptops = pd.DataFrame(
    {"price": [999, 1299, 799, 1099, 899, 1199], "battery_h": [10, 14, 7, 12, 9, 11],
     "weight_kg": [1.4, 1.2, 1.9, 1.6, 1.3, 1.1], "score": [4.2, 4.6, 3.9, 4.4, 4.0, 4.3]},
    index=["Ash", "Beech", "Cherry", "Elm", "Fir", "Hazel"],
)
report = ternavik.sensitivity(laptops, weights="critic", kinds="-+-+", method="topsis",
                              points=101)
print(report.summary())

# %%
# One panel per criterion: the dotted line marks the base weight, the dashed red
# line the nearest weight at which the top alternative changes.
fig = ternavik.plot_sensitivity(report, columns=2)
