# Types of the native extension module.
from typing import Any, Callable, Dict, SupportsIndex, Tuple, Type, TypeVar, Union

import numpy as np
import numpy.typing as npt
from typing_extensions import disjoint_base

_Float64Array = npt.NDArray[np.float64]
_Int64Array = npt.NDArray[np.int64]
_Self = TypeVar("_Self", bound="_DE")

__all__ = ["entropy_weight", "topsis", "_DE"]

def entropy_weight(
    data: _Float64Array, indicator_type: _Int64Array
) -> Tuple[_Float64Array, _Float64Array]: ...
def topsis(
    data: _Float64Array, weights: _Float64Array, indicator_type: _Int64Array
) -> _Float64Array: ...

# Instances carry native fields, so _DE cannot share a subclass with another
# such type.
@disjoint_base
class _DE:
    def __new__(
        cls: Type[_Self],
        pop: SupportsIndex,
        dimensions: SupportsIndex,
        options: Dict[str, Any],
        bounds: Tuple[_Float64Array, _Float64Array],
    ) -> _Self: ...
    def optimize(
        self,
        fitness_function: Union[Callable[[_Float64Array], _Float64Array], SupportsIndex],
        iters: SupportsIndex,
    ) -> Tuple[float, _Float64Array]: ...
