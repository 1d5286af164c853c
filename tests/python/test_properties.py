"""Property-based tests over every entry point: any objects, by position or
keyword, arrays of every dtype, shape and memory layout. Each call must end
exactly as an independent model of the argument rules predicts, leave its
inputs untouched, and leave the module giving the same answers as before."""
import collections
import operator
import os
import sys

import numpy as np
import pytest
from hypothesis import HealthCheck, assume, given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import _ternavik
from _ternavik import _DE, entropy_weight, topsis
from conftest import BadIndex, Index, is_panic
from reliability_report import report
from test_optimize import address, native  # noqa: F401  (session fixture)

EXAMPLES = int(os.environ.get("TERNAVIK_HYPOTHESIS_EXAMPLES", "200"))
settings.register_profile(
    "reliability", max_examples=EXAMPLES, deadline=None, derandomize=False,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                           HealthCheck.filter_too_much])
settings.load_profile("reliability")

tried = collections.Counter()


@pytest.fixture(scope="module", autouse=True)
def record_examples():
    yield
    for name in sorted({name for name, _ in tried}):
        ends = {end: count for (entry, end), count in tried.items() if entry == name}
        report(f"hypothesis examples tried on {name}: {sum(ends.values())} "
               f"({', '.join(f'{end} {count}' for end, count in sorted(ends.items()))})")


class Sub(np.ndarray):
    """An ndarray subclass: accepted wherever an array is."""


class BadFloat:
    def __float__(self):
        raise ZeroDivisionError("float")


F64, I64 = np.dtype(np.float64), np.dtype(np.int64)
SPECIAL = [np.nan, np.inf, -np.inf, 0.0, -0.0, 5e-324, 1.7e308, -1.7e308, 1e-170, -1.0]

# ---------------------------------------------------------------- strategies


def all_dtypes():
    plain = st.one_of(hnp.scalar_dtypes(), hnp.byte_string_dtypes(max_len=3),
                      hnp.unicode_string_dtypes(max_len=3))
    return st.one_of(plain, plain.map(lambda d: d.newbyteorder()),
                     hnp.array_dtypes(subtype_strategy=hnp.scalar_dtypes(), max_size=3))


@st.composite
def any_array(draw):
    dtype = draw(all_dtypes())
    shape = draw(hnp.array_shapes(min_dims=0, max_dims=4, min_side=0, max_side=4))
    return np.zeros(shape, dtype)


JUNK = st.one_of(
    st.none(), st.booleans(), st.integers(-2**70, 2**70), st.floats(), st.text(max_size=3),
    st.lists(st.floats(), max_size=4), st.tuples(st.integers(), st.floats()),
    st.dictionaries(st.sampled_from(["F", "CR", "c1", "c2", "x"]), st.floats(), max_size=3),
    any_array(), st.builds(np.float64, st.floats()), st.builds(np.int64, st.integers(-9, 9)),
    st.builds(Index, st.integers(-2**65, 2**65)), st.just(BadIndex()), st.just(BadFloat()),
    st.just(np.array([None, 1, "x"], dtype=object)), st.just(len), st.just(Sub), st.just(b"ab"),
)


@st.composite
def values(draw, shape, integer=False):
    """Logical values of a given shape: random, tied or constant, with specials."""
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    if integer:
        pool = np.array([1, 0, -1, 2, 1, 2**63 - 1, -2**63], dtype=np.int64)
        return pool[rng.integers(0, len(pool), shape)]
    style = draw(st.sampled_from(["normal", "ties", "constant", "wide"]))
    x = {"normal": lambda: rng.normal(size=shape),
         "ties": lambda: rng.integers(0, 3, shape).astype(float),
         "constant": lambda: np.full(shape, rng.normal()),
         "wide": lambda: rng.normal(size=shape) * 10.0 ** rng.integers(-300, 300, shape)}[style]()
    if x.size and draw(st.booleans()):
        for _ in range(draw(st.integers(1, 5))):
            x.flat[draw(st.integers(0, x.size - 1))] = draw(st.sampled_from(SPECIAL))
    return x


def laid_out(logical, layout):
    """An array with the logical values of `logical` in the given memory layout."""
    if layout == "C":
        return logical.copy()
    if layout == "F":
        return np.asfortranarray(logical)
    if layout == "reversed":
        return np.ascontiguousarray(logical[(slice(None, None, -1),) * logical.ndim])[
            (slice(None, None, -1),) * logical.ndim]
    if layout == "step":
        base = np.zeros(tuple(2 * s + 1 for s in logical.shape), logical.dtype)
        view = base[(slice(1, None, 2),) * logical.ndim]
        view[...] = logical
        return view
    if layout == "packed":  # byte strides of 9: not a multiple of 8
        packed = np.zeros(logical.shape, np.dtype([("pad", "u1"), ("x", logical.dtype)]))
        packed["x"] = logical
        return packed["x"]
    if layout == "readonly":
        out = logical.copy()
        out.flags.writeable = False
        return out
    if layout == "subclass":
        return logical.copy().view(Sub)
    raise AssertionError(layout)


LAYOUTS = ["C", "F", "reversed", "step", "packed", "readonly", "subclass"]


@st.composite
def array_of(draw, shape, integer=False):
    """A valid array argument; zero strides are made by broadcasting."""
    if len(shape) and all(shape) and draw(st.integers(0, 7)) == 0:
        axis = draw(st.integers(0, len(shape) - 1))
        one = list(shape)
        one[axis] = 1
        small = draw(values(tuple(one), integer))
        return np.broadcast_to(small, shape)
    return laid_out(draw(values(shape, integer)), draw(st.sampled_from(LAYOUTS)))


@st.composite
def arguments(draw, params, valid):
    """Values for `params` (valid ones mostly, junk sometimes) and how to pass
    them: some by position, the rest by keyword in any order, with an
    occasional surplus, unknown, duplicate or missing argument."""
    junk = draw(st.sampled_from(params)) if draw(st.integers(0, 3)) == 0 else None
    chosen = {p: draw(JUNK if p == junk else valid[p]) for p in params}
    npos = draw(st.integers(0, len(params)))
    positional = [chosen[p] for p in params[:npos]]
    keywords = list(params[npos:])
    keywords = draw(st.permutations(keywords))
    twist = draw(st.sampled_from(["none"] * 16 + ["surplus", "unknown", "duplicate", "missing"]))
    kw = {k: chosen[k] for k in keywords}
    if twist == "surplus":
        positional = [chosen[p] for p in params] + [draw(JUNK)]
        kw = {}
    elif twist == "unknown":
        kw[draw(st.sampled_from(["iterations", "Data", "x", "pop_size"]))] = None
    elif twist == "duplicate" and npos:
        kw = {params[draw(st.integers(0, npos - 1))]: None, **kw}
    elif twist == "missing" and kw:
        kw.pop(draw(st.sampled_from(sorted(kw))))
    elif twist == "missing":
        positional = positional[:-1]
    return positional, kw


# --------------------------------------------------------------------- model


class Expect:
    """The predicted end of a call: success, or an exception and message."""

    def __init__(self, kind=None, message=None, prefix=False, same=None):
        self.kind, self.message, self.prefix, self.same = kind, message, prefix, same


class Fail(Exception):
    def __init__(self, expect):
        self.expect = expect


def binding(name, params, positional, kw):
    """Slots filled by position and keyword, or the binding TypeError."""
    n = len(params)
    if len(positional) > n:
        verb = "was" if len(positional) == 1 else "were"
        raise Fail(Expect(TypeError, f"{name} takes {n} positional arguments but "
                                     f"{len(positional)} {verb} given"))
    slots = dict(zip(params, positional))
    for key, value in kw.items():
        if key not in params:
            raise Fail(Expect(TypeError, f"{name} got an unexpected keyword argument '{key}'"))
        if key in slots:
            raise Fail(Expect(TypeError, f"{name} got multiple values for argument '{key}'"))
        slots[key] = value
    missing = [f"'{p}'" for p in params if p not in slots]
    if missing:
        listed = (missing[0] if len(missing) == 1 else " and ".join(missing) if len(missing) == 2
                  else ", ".join(missing[:-1]) + ", and " + missing[-1])
        word = "argument" if len(missing) == 1 else "arguments"
        raise Fail(Expect(TypeError, f"{name} missing {len(missing)} required positional "
                                     f"{word}: {listed}"))
    return slots


def not_convertible(obj, expected, name=None):
    text = f"'{type(obj).__qualname__}' object cannot be converted to '{expected}'"
    return Fail(Expect(TypeError, f"argument '{name}': {text}" if name else text))


def array_arg(obj, ndim, dtype, name=None):
    if not (isinstance(obj, np.ndarray) and obj.ndim == ndim
            and np.can_cast(obj.dtype, dtype, casting="no")):
        raise not_convertible(obj, "PyArray<T, D>", name)
    return obj


def u64_arg(obj, name):
    if not isinstance(obj, int):
        try:
            obj = operator.index(obj)
        except TypeError as e:
            raise Fail(Expect(TypeError, f"argument '{name}': {e}"))
        except Exception as e:  # any other exception of __index__ passes unchanged
            raise Fail(Expect(type(e)))
    if not 0 <= obj < 2**64:
        raise Fail(Expect(OverflowError))
    return obj


def decision_model(function, params, positional, kw):
    slots = binding(f"{function.__name__}()", params, positional, kw)
    data = array_arg(slots["data"], 2, F64, "data")
    weights = array_arg(slots["weights"], 1, F64, "weights") if "weights" in slots else None
    kinds = array_arg(slots["indicator_type"], 1, I64, "indicator_type")
    n, m = data.shape
    if n < 2:
        raise Fail(Expect(ValueError, "Data must have more than one row"))
    if len(kinds) != m or (weights is not None and len(weights) != m):
        raise Fail(Expect(BaseException, "assertion failed: part.equal_dim(dimension)"))
    args = [np.ascontiguousarray(data)] + ([np.ascontiguousarray(weights)] if weights is not None
                                           else []) + [np.ascontiguousarray(kinds)]
    return Expect(same=args)


# ------------------------------------------------------------------- checks


def snapshot(objs):
    """Bytes of every array reachable from the arguments (and their bases)."""
    out = []
    stack = list(objs)
    while stack:
        obj = stack.pop()
        if isinstance(obj, (tuple, list)):
            stack.extend(obj)
        elif isinstance(obj, dict):
            stack.extend(obj.values())
        elif isinstance(obj, np.ndarray) and obj.dtype != object:
            out.append((obj, obj.tobytes()))
            if isinstance(obj.base, np.ndarray):
                stack.append(obj.base)
    return out


CANARY = (np.array([[1.0, 2.0, 3.0], [2.0, 2.0, 1.0], [4.0, 2.0, 2.0], [3.0, 2.0, 5.0]]),
          np.array([0.2, 0.3, 0.5]), np.array([1, 1, 0], dtype=np.int64))


def canary():
    data, weights, kinds = CANARY
    return topsis(data, weights, kinds).tobytes() + b"".join(
        a.tobytes() for a in entropy_weight(data, kinds))


CANARY_BITS = canary()


def outcome(call, expect):
    """Runs the call and checks it against the prediction; returns the result."""
    try:
        result = call()
    except BaseException as e:  # noqa: B902 - internal failures are BaseExceptions
        if expect.kind is None:
            raise AssertionError(f"expected success, got {type(e).__name__}: {e}") from e
        if expect.kind is BaseException:
            assert is_panic(e), f"expected a PanicException, got {type(e).__name__}: {e}"
        else:
            assert type(e) is expect.kind and not is_panic(e), f"{type(e).__name__}: {e}"
        if expect.message is not None:
            assert e.args == (expect.message,), (e.args, expect.message)
        return None
    assert expect.kind is None, f"expected {expect.kind.__name__} {expect.message!r}, got {result!r}"
    return result


def new_float_vector(a, length):
    assert type(a) is np.ndarray and a.dtype == F64 and a.shape == (length,)
    assert a.flags.c_contiguous and a.flags.writeable


def same_bits(a, b):
    return a.shape == b.shape and a.tobytes() == b.tobytes()


def check_call(name, call, expect, objs, check_result):
    before = snapshot(objs)
    result = outcome(call, expect)
    if result is not None:
        check_result(result)
    for array, data in before:
        assert array.tobytes() == data, "an input array was modified"
    assert canary() == CANARY_BITS, "a call changed the results of later calls"
    tried[name, "PanicException" if expect.kind is BaseException
          else expect.kind.__name__ if expect.kind else "returned"] += 1


# -------------------------------------------------------------------- tests


@st.composite
def decision_call(draw, function):
    params = (["data", "weights", "indicator_type"] if function is topsis
              else ["data", "indicator_type"])
    n = draw(st.one_of(st.integers(0, 3), st.integers(0, 300)))
    m = draw(st.one_of(st.integers(0, 9), st.integers(0, max(0, min(300, 40000 // max(n, 1))))))
    lengths = {p: max(0, m + draw(st.sampled_from([0] * 8 + [-1, 1]))) for p in params}
    valid = {"data": array_of((n, m)),
             "weights": array_of((lengths.get("weights", 0),)),
             "indicator_type": array_of((lengths["indicator_type"],), integer=True)}
    return params, draw(arguments(params, valid))


@pytest.mark.parametrize("function", [topsis, entropy_weight], ids=lambda f: f.__name__)
@given(data=st.data())
def test_decision_functions(function, data):
    params, (positional, kw) = data.draw(decision_call(function))
    try:
        expect = decision_model(function, params, positional, kw)
    except Fail as f:
        expect = f.expect

    def check_result(result):
        reference = function(*expect.same)
        if function is topsis:
            new_float_vector(result, expect.same[0].shape[0])
            assert same_bits(result, reference), "result depends on the memory layout"
        else:
            assert type(result) is tuple and len(result) == 2
            new_float_vector(result[0], expect.same[0].shape[1])
            new_float_vector(result[1], expect.same[0].shape[0])
            assert all(same_bits(a, b) for a, b in zip(result, reference))

    check_call(function.__name__, lambda: function(*positional, **kw), expect,
               (positional, kw), check_result)


def bounds_of(dims):
    pair = st.tuples(array_of((dims,)), array_of((dims,)))
    odd = st.one_of(st.tuples(array_of((dims,))), st.tuples(array_of((dims + 1,)), array_of((dims,))),
                    st.tuples(array_of((dims,)), JUNK), st.tuples(JUNK, array_of((dims,))),
                    st.lists(array_of((dims,)), min_size=2, max_size=2))
    return st.one_of(pair, pair, pair, odd)


def constructor_model(positional, kw):
    params = ["pop", "dimensions", "options", "bounds"]
    slots = binding("_DE.__new__()", params, positional, kw)
    pop = u64_arg(slots["pop"], "pop")
    dims = u64_arg(slots["dimensions"], "dimensions")
    if not isinstance(slots["options"], dict):
        raise not_convertible(slots["options"], "PyDict", "options")
    bounds = slots["bounds"]
    if not isinstance(bounds, tuple):
        raise not_convertible(bounds, "PyTuple", "bounds")
    if pop < 4:
        raise Fail(Expect(ValueError, "Population size must be at least 4 for DE"))
    if len(bounds) != 2:
        raise Fail(Expect(ValueError, "Bounds must be a tuple of (min_bound, max_bound)"))
    low, high = (array_arg(b, 1, F64) for b in bounds)
    if len(low) != dims or len(high) != dims:
        raise Fail(Expect(ValueError, "Bounds dimensions must match problem dimensions"))
    return Expect()


OPTIONS = st.dictionaries(st.sampled_from(["F", "CR", "c1", "c2", "w"]),
                          st.one_of(st.floats(), st.integers(-5, 5), JUNK), max_size=4)


@st.composite
def constructor_call(draw):
    dims = draw(st.integers(0, 12))
    valid = {"pop": st.one_of(st.integers(0, 40), st.builds(Index, st.integers(0, 40))),
             "dimensions": st.just(dims), "options": OPTIONS, "bounds": bounds_of(dims)}
    return draw(arguments(["pop", "dimensions", "options", "bounds"], valid))


@given(constructor_call())
def test_constructor(call):
    positional, kw = call
    try:
        expect = constructor_model(positional, kw)
    except Fail as f:
        expect = f.expect
    check_call("_DE.__new__", lambda: _DE(*positional, **kw), expect, (positional, kw),
               lambda de: None if type(de) is _DE else pytest.fail(repr(de)))


class Returns:
    """A fitness callable that returns what its kind says, counting calls."""

    def __init__(self, kind, junk):
        self.kind, self.junk, self.calls, self.raised = kind, junk, 0, None

    def __call__(self, x):
        self.calls += 1
        pop = x.shape[0]
        with np.errstate(all="ignore"):
            values = (x * x).sum(axis=1) if x.shape[1] else np.zeros(pop)
        if self.kind == "ok":
            return values
        if self.kind == "strided":
            return np.repeat(values, 2)[::2]
        if self.kind == "reversed":
            return values[::-1].copy()[::-1]
        if self.kind == "nan":
            return np.full(pop, np.nan)
        if self.kind == "wrong length" or (self.kind == "later wrong length" and self.calls > 1):
            return np.zeros(pop + 1)
        if self.kind == "later wrong length":
            return values
        if self.kind == "raises":
            self.raised = KeyError("x")
            raise self.raised
        return self.junk


def first_evaluation(fitness, pop):
    """The prediction for a callable's first result, or None when it is fine."""
    kind = fitness.kind
    if kind == "raises":
        return Expect(KeyError)
    if kind == "junk":
        value = fitness.junk
        try:
            array_arg(value, 1, F64)
        except Fail as f:
            return f.expect
        if len(value) != pop:
            return Expect(ValueError, "Fitness function returned incorrect shape")
        return None
    if kind == "wrong length":
        return Expect(ValueError, "Fitness function returned incorrect shape")
    return None


def optimize_model(de_shape, sphere, positional, kw):
    pop, dims = de_shape
    slots = binding("_DE.optimize()", ["fitness_function", "iters"], positional, kw)
    iters = u64_arg(slots["iters"], "iters")
    fitness = slots["fitness_function"]
    if fitness is not sphere:
        if not callable(fitness):
            raise Fail(Expect(TypeError, "Fitness function must be a callable or an address int"))
        early = first_evaluation(fitness, pop)
        if early:
            raise Fail(early)
    if dims == 0 and iters >= 1:
        raise Fail(Expect(BaseException, "cannot sample empty range"))
    if fitness is not sphere and fitness.kind == "later wrong length" and iters >= 1:
        raise Fail(Expect(ValueError, "Fitness function returned incorrect shape"))
    return Expect()


def is_address_like(obj):
    try:
        return 0 <= operator.index(obj) < 2**64
    except Exception:
        return False


@st.composite
def optimize_call(draw, sphere):
    pop, dims = draw(st.integers(4, 40)), draw(st.integers(0, 6))
    low = draw(array_of((dims,)))
    high = draw(array_of((dims,)))
    de = _DE(pop, dims, draw(OPTIONS), (low, high))
    kinds = ["ok", "strided", "reversed", "nan", "wrong length", "later wrong length", "raises", "junk"]
    choice = draw(st.integers(0, 5))
    fitness = (JUNK.filter(lambda o: not (is_address_like(o) or callable(o))) if choice == 5
               else st.just(sphere) if choice == 4
               else st.builds(Returns, st.sampled_from(kinds), JUNK))
    valid = {"fitness_function": fitness,
             "iters": st.one_of(st.integers(0, 3), st.builds(Index, st.integers(0, 3)))}
    return de, (pop, dims), (low, high), draw(arguments(["fitness_function", "iters"], valid))


def test_optimize(native):  # noqa: F811
    sphere = address(native, "sphere")

    @given(optimize_call(sphere))
    def run(call):
        de, shape, bounds, (positional, kw) = call
        slots = dict(zip(["fitness_function", "iters"], positional), **kw)
        # Any other address would be called: only the real one may be passed.
        fitness = slots.get("fitness_function")
        assume(fitness is sphere or isinstance(fitness, Returns)
               or not (is_address_like(fitness) or callable(fitness)))
        iters = slots.get("iters")
        assume(not is_address_like(iters) or operator.index(iters) <= 3)  # runs stay short
        try:
            expect = optimize_model(shape, sphere, positional, kw)
        except Fail as f:
            expect = f.expect

        def check_result(result):
            assert type(result) is tuple and len(result) == 2 and type(result[0]) is float
            new_float_vector(result[1], shape[1])
            if np.isnan(result[0]) or result[0] == np.inf:
                assert result[0] == np.inf and not result[1].any()

        check_call("_DE.optimize", lambda: de.optimize(*positional, **kw), expect,
                   (positional, kw, bounds), check_result)
        # A KeyError may also come from an `iters` whose __index__ raises it.
        if (isinstance(fitness, Returns) and fitness.kind == "raises" and expect.kind is KeyError
                and not isinstance(iters, BadIndex)):
            try:
                de.optimize(*positional, **kw)
            except KeyError as e:
                assert e is fitness.raised, "the callable's exception was replaced"

    run()
