"""Plain-Python model of entropy_weight and topsis, one float operation at a
time in the module's order, so results can be compared bit for bit. Where two
NaNs meet, the first operand's NaN (quieted) is the result, NaNs included."""
import math
import struct

INF = math.inf


def _quiet(x):
    bits, = struct.unpack("<Q", struct.pack("<d", x))
    return struct.unpack("<d", struct.pack("<Q", bits | 1 << 51))[0]


def _ordered(op):
    def apply(a, b):
        if a != a:
            return _quiet(a)
        if b != b:
            return _quiet(b)
        return op(a, b)
    return apply


_add = _ordered(lambda a, b: a + b)
_sub = _ordered(lambda a, b: a - b)
_mul = _ordered(lambda a, b: a * b)
_div = _ordered(lambda a, b: a / b)


def _sqrt(x):
    return _quiet(x) if x != x else math.sqrt(x)


def _extremes(values):
    low, high = INF, -INF
    for v in values:
        if v < low:
            low = v
        if v > high:
            high = v
    return low, high


def _log(x):
    # math.log raises where C's log returns -inf or NaN.
    if x != x or x < 0:
        return math.nan
    return -INF if x == 0 else math.log(x)


def _entropy(column, benefit, ys):
    low, high = _extremes(column)
    r = high - low
    if r == 0.0:
        ys.extend([1.0] * len(column))
        return 1.0
    s = t = 0.0
    for x in column:
        y = _div(_sub(x, low), r) if benefit else _div(_sub(high, x), r)
        ys.append(y)
        s = s + y
        if y > 1e-12:
            t = t + _log(y) * y
    if not s > 0.0:
        return 1.0
    return (-1.0 / _log(float(len(column)))) * (t / s - _log(s))


def _divergence_sum(d):
    if len(d) < 8:
        acc = 0.0
        for v in d:
            acc = acc + v
        return acc
    whole = len(d) // 8 * 8
    p = [0.0] * 8
    for j in range(whole):
        p[j % 8] = p[j % 8] + d[j]
    acc = (((0.0 + (p[0] + p[4])) + (p[1] + p[5])) + (p[2] + p[6])) + (p[3] + p[7])
    for v in d[whole:]:
        acc = acc + v
    return acc


def entropy_weight(rows, codes):
    """rows: n lists of m floats, codes: m ints -> (weights, scores)."""
    n, m = len(rows), len(codes)
    ys = [[] for _ in range(m)]
    e = [_entropy([row[j] for row in rows], codes[j] == 1, ys[j]) for j in range(m)]
    d = [1.0 - v for v in e]
    total = _divergence_sum(d)
    w = [1.0 / m] * m if total == 0.0 and m else [v / total for v in d]
    scores = []
    for i in range(n):
        s = 0.0
        for j in range(m):
            s = _add(s, _mul(ys[j][i], w[j]))
        scores.append(s)
    return w, scores


def _weigh(column, weight, benefit):
    q = 0.0
    for x in column:
        q = _add(q, _mul(x, x))
    if q == 0.0:
        return [0.0] * len(column), 0.0, 0.0
    f = _div(weight, _sqrt(q))
    vs = [_mul(x, f) for x in column]
    low, high = _extremes(vs)
    return (vs, high, low) if benefit else (vs, low, high)


def topsis(rows, weights, codes):
    """rows: n lists of m floats, weights: m floats, codes: m ints -> closeness."""
    m = len(codes)
    cols = [_weigh([row[j] for row in rows], weights[j], codes[j] == 1) for j in range(m)]
    result = []
    for i in range(len(rows)):
        p = q = 0.0
        for vs, best, worst in cols:
            plus, minus = _sub(vs[i], best), _sub(vs[i], worst)
            p = _add(p, _mul(plus, plus))
            q = _add(q, _mul(minus, minus))
        plus, minus = _sqrt(p), _sqrt(q)
        both = _add(plus, minus)
        result.append(0.5 if both == 0.0 else _div(minus, both))
    return result


# ---- Inputs and comparisons shared by the tests (these need NumPy) ----

def random_case(seed):
    """A decision matrix with ties, constant, zero, tiny, NaN and infinite
    columns, plus codes and weights (zero and negative ones included)."""
    import numpy as np
    rng = np.random.default_rng(seed)
    n = int(rng.choice([2, 3, int(rng.integers(2, 40)), int(rng.integers(40, 300))]))
    m = int(rng.choice([0, 1, 7, 8, 9, 17, int(rng.integers(0, 41))]))
    data = rng.normal(size=(n, m)) * 10.0 ** rng.integers(-3, 4, size=m)
    for j in range(m):
        kind = rng.integers(0, 9)
        if kind == 0:
            data[:, j] = rng.normal()  # constant
        elif kind == 1:
            data[:, j] = 0.0
        elif kind == 2:
            data[:, j] = rng.integers(0, 3, size=n)  # ties and exact zeros
        elif kind == 3:
            data[:, j] *= 1e-170  # squares underflow
        elif kind == 4:
            data[rng.integers(0, n), j] = rng.choice([np.nan, np.inf, -np.inf])
    codes = rng.choice([1, 1, 0, -1, 2], size=m).astype(np.int64)
    weights = rng.normal(size=m)
    weights[rng.random(m) < 0.15] = 0.0
    return data, weights, codes


def nan_case(seed):
    """A wide matrix whose NaNs (of both signs and several payloads) and
    infinities, in the data and the weights, meet in the sums."""
    import numpy as np
    rng = np.random.default_rng(seed)
    n, m = int(rng.integers(2, 70)), int(rng.choice([5, 8, 17, 128]))
    nans = np.array([0x7FF8000000000000, 0xFFF8000000000000, 0x7FF8000000000123,
                     0xFFF4000000000456, 0x7FF0000000000001], np.uint64).view(np.float64)
    specials = np.concatenate([nans, [np.inf, -np.inf, 0.0]])
    data = rng.standard_normal((n, m))
    hit = rng.random((n, m)) < 0.08
    data[hit] = rng.choice(specials, size=hit.sum())
    weights = np.ones(m)
    hit = rng.random(m) < 0.3
    weights[hit] = rng.choice(specials, size=hit.sum())
    codes = rng.choice([1, 0], size=m).astype(np.int64)
    return data, weights, codes


def assert_identical_bits(got, want):
    """Equal bit patterns, NaN sign and payload included."""
    import numpy as np
    got, want = np.asarray(got, np.float64), np.asarray(want, np.float64)
    assert got.shape == want.shape and got.tobytes() == want.tobytes()


def assert_same_bits(got, want):
    """Equal bit patterns, except that any NaN matches any NaN."""
    import numpy as np
    got = np.asarray(got, dtype=np.float64)
    want = np.asarray(want, dtype=np.float64)
    assert got.dtype == np.float64 and got.shape == want.shape
    nan = np.isnan(want)
    assert np.array_equal(np.isnan(got), nan)
    assert np.array_equal(got[~nan].view(np.uint64), want[~nan].view(np.uint64))


def layouts(a):
    """The same logical matrix (or a broadcast of its first row/column) in
    every memory order the module must accept, keyed by a name."""
    import numpy as np
    n, m = a.shape
    strided = np.full((2 * n, 3 * m + 1), 99.0)
    strided[::2, 1::3] = a
    packed = np.zeros(a.shape, np.dtype([("pad", "u1"), ("x", "f8")]))
    packed["x"] = a
    frozen = a.copy()
    frozen.flags.writeable = False
    return {
        "C": np.ascontiguousarray(a),
        "F": np.asfortranarray(a),
        "reversed": a[::-1, ::-1].copy()[::-1, ::-1],
        "strided": strided[::2, 1::3],
        "packed": packed["x"],
        "frozen": frozen,
        "row_broadcast": np.broadcast_to(a[:1], a.shape),
        "column_broadcast": np.broadcast_to(a[:, :1], (n, m)) if m else a,
    }
