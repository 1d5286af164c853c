"""topsis and entropy_weight of a 1e8 x 8 matrix (6.4 GB) that never exists
in memory at once: Dask generates it block by block on a local cluster whose
workers spill to disk, and the peak resident memory of every process of the
run (this one, the workers and their nannies) is sampled as it goes.

    python bench/bench_dask.py [rows]
"""
import os
import sys
import tempfile
import threading
import time

import numpy as np

LIMIT = 2 * 1024 ** 3
BLOCK_ROWS = 1_000_000
M = 8


def resident_total(psutil, root):
    """Resident bytes of this process and all its descendants."""
    total = 0
    for process in [root] + root.children(recursive=True):
        try:
            total += process.memory_info().rss
        except psutil.Error:
            pass
    return total


def sample_peak(psutil, stop, peak):
    root = psutil.Process()
    while not stop.is_set():
        peak[0] = max(peak[0], resident_total(psutil, root))
        time.sleep(0.1)


def main():
    import dask
    import dask.array as da
    import distributed
    import psutil
    from ternavik import _dask

    rows = int(float(sys.argv[1])) if len(sys.argv) > 1 else 100_000_000
    w, codes = np.linspace(0.5, 2.0, M), np.array([1, 0] * (M // 2), np.int64)
    stop, peak = threading.Event(), [0]
    sampler = threading.Thread(target=sample_peak, args=(psutil, stop, peak), daemon=True)
    sampler.start()
    with tempfile.TemporaryDirectory(prefix="ternavik-spill-") as spill, \
            distributed.LocalCluster(n_workers=2, threads_per_worker=1, memory_limit="700MB",
                                     local_directory=spill, dashboard_address=None) as cluster, \
            distributed.Client(cluster):
        data = da.random.default_rng(11).normal(size=(rows, M), chunks=(BLOCK_ROWS, M))
        for name, result in (("topsis", lambda: (_dask.topsis(data, w, codes),)),
                             ("entropy_weight", lambda: _dask.entropy_weight(data, codes))):
            start = time.perf_counter()
            parts = result()
            summary = dask.compute(*[(p.sum(), p.max()) for p in parts])
            seconds = time.perf_counter() - start
            print(f"{name:15} {rows:.0e} x {M}: {seconds:7.1f} s   "
                  f"sum/max of each result {summary}")
    stop.set()
    sampler.join()
    print(f"peak resident memory of the whole run: {peak[0] / 2 ** 30:.2f} GiB "
          f"({'within' if peak[0] <= LIMIT else 'OVER'} the 2 GiB bound; "
          f"input {rows * M * 8 / 2 ** 30:.1f} GiB)")


if __name__ == "__main__":
    main()
