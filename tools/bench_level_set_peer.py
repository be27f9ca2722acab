#!/usr/bin/env python3
"""Times scikit-fmm computing the distance on the grid exported by level_set_bench (same lattice,
same cell size, same zero crossing) and sets it beside our timings from that run's JSON."""
import json
import statistics
import sys
import time

import numpy as np
import skfmm


def read_grid(path):
    with open(path, "rb") as f:
        counts = np.frombuffer(f.read(12), dtype="<i4")
        h = float(np.frombuffer(f.read(8), dtype="<f8")[0])
        values = np.frombuffer(f.read(), dtype="<f8")
    return values.reshape(tuple(int(c) for c in counts)), h


def median_ms(fn, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        times.append((time.perf_counter() - start) * 1e3)
    return statistics.median(times)


def ours_ms(path):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    out = {}
    for run in runs:
        name = run.get("run_name", run["name"])
        if run.get("aggregate_name", "median") != "median":
            continue
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run.get("time_unit", "ns")]
        out[name] = run["real_time"] * scale
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: bench_level_set_peer.py <exported grid> <benchmark json>")
    phi, h = read_grid(sys.argv[1])
    ours = ours_ms(sys.argv[2])
    print(f"grid {phi.shape[0]} x {phi.shape[1]} x {phi.shape[2]}, cell {h * 1000:.2f} mm, "
          f"{int((phi < 0).sum())} cells inside")
    peer = {}
    for order in (1, 2):
        d = skfmm.distance(phi, dx=h, order=order)
        agree = float(np.mean(np.sign(d) == np.sign(phi))) * 100
        peer[order] = median_ms(lambda: skfmm.distance(phi, dx=h, order=order), 7)
        print(f"scikit-fmm distance, order {order}: {peer[order]:8.1f} ms  (sign agreement "
              f"{agree:.2f} %)")
    for name in ("BM_LevelsetBinning", "BM_LevelsetDirectValues", "BM_LevelsetMarch",
                 "BM_LevelsetRefinement", "BM_LevelsetWhole"):
        if name in ours:
            print(f"ours {name[len('BM_Levelset'):]:<14} {ours[name]:8.1f} ms")
    for name in ("BM_LevelsetMarch", "BM_LevelsetWhole"):
        if name in ours:
            print(f"ratio ours {name[len('BM_Levelset'):]} / scikit-fmm order 1: "
                  f"{ours[name] / peer[1]:.3f}, / order 2: {ours[name] / peer[2]:.3f}")


if __name__ == "__main__":
    main()
