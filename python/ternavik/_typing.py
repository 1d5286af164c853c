"""Type aliases for the forms of data, kinds, weights and options the front ends take."""

from typing import TYPE_CHECKING, Any, Literal, Mapping, Sequence, Union

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    import pandas as pd

# Spelled as a Union of one-word Literals: the stub comparison reads a Literal
# of several words as a Union and finds none at run time otherwise.
NanPolicy = Union[Literal["raise"], Literal["propagate"], Literal["omit"]]

Vector = npt.NDArray[np.float64]
Kind = Union[int, str]
MatrixLike = Union[npt.NDArray[Any], Sequence[Sequence[float]]]
KindsLike = Union[str, Sequence[Kind], Mapping[Any, Kind], npt.NDArray[Any], "pd.Series[Any]"]
WeightsLike = Union[str, Sequence[float], Mapping[Any, float], npt.NDArray[Any],
                    "pd.Series[Any]"]
