#!/usr/bin/env python3
"""What the Python package adds to a solve of many right-hand sides and to an eigen-solution,
against the same library calls made from C++ (bench/binding_peer_bench) in the same run.

    cmake -S . -B build-bench -DORV_BUILD_BENCH=ON -DORV_BUILD_TESTS=OFF
    cmake --build build-bench -j2 --target binding_peer_bench orvsolve
    /usr/bin/python3 python/bench/bench_binding.py --build build-bench

A brick solid (orvsolve model solid, about 20 000 equations by default) is written as Matrix
Market; both sides read it, factorise it once and then time the calls alone: exp_solve_v3 with
100 right-hand sides against System.solve of the same n x 100 block (column-major, as a NumPy
user would hold it for a solver; a row-major block is timed as well, with its copy), and
exp_eigenSystem_v3 for 10 modes against System.eigsh(10). Rounds alternate the two sides so
that the load of a shared machine falls on both; medians are compared.
"""

import argparse
import json
import os
import pathlib
import platform
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import scipy.io

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))
import orvsparse  # noqa: E402


def c_side(build, env, min_time):
    """Per-call real times in seconds of the C++ benchmarks, one run."""
    out = subprocess.run(
        [str(build / "bin" / "binding_peer_bench"), "--benchmark_format=json",
         f"--benchmark_min_time={min_time}"],
        env=env, check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if "error_occurred" in b:
            raise RuntimeError(f"{b['name']}: {b.get('error_message')}")
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b["time_unit"]]
        times[b["name"].split("/")[0]] = b["real_time"] * scale
    return times


def timed(call, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build-bench", help="build folder (build-bench)")
    parser.add_argument("--size", default="40x12x12", help="solid size NXxNYxNZ (40x12x12)")
    parser.add_argument("--rounds", type=int, default=5, help="alternating rounds (5)")
    parser.add_argument("--rhs", type=int, default=100, help="right-hand sides (100)")
    parser.add_argument("--modes", type=int, default=10, help="eigenpairs (10)")
    args = parser.parse_args()
    build = (ROOT / args.build).resolve()
    orvsparse.load_library(build / "lib" / "libORVSparseSolverDLL3.so")

    folder = pathlib.Path(tempfile.mkdtemp(prefix="bench-binding-"))
    k_file, m_file = folder / "K.mtx", folder / "M.mtx"
    subprocess.run([str(build / "bin" / "orvsolve"), "model", "solid", "--size", args.size,
                    "--write", str(k_file), str(m_file)], check=True, stdout=subprocess.DEVNULL)
    K = scipy.io.mmread(str(k_file)).tocsc()
    M = scipy.io.mmread(str(m_file)).tocsc()
    n = K.shape[0]
    env = dict(os.environ, ORV_BENCH_K=str(k_file), ORV_BENCH_M=str(m_file))

    rows = np.arange(n)[:, None]
    columns = np.arange(args.rhs)[None, :]
    b = np.asfortranarray(np.sin(0.001 * rows + columns))
    b_rows = np.ascontiguousarray(b)
    system = orvsparse.System(K, M)
    system.factor()
    system.eigsh(args.modes)

    c_solve, c_eigen, py_solve, py_solve_rows, py_eigen = [], [], [], [], []
    for _ in range(args.rounds):
        c = c_side(build, env, 1.0)
        c_solve.append(c["solveFromC"])
        c_eigen.append(c["eigenFromC"])
        py_solve.append(timed(lambda: system.solve(b), 7))
        py_solve_rows.append(timed(lambda: system.solve(b_rows), 7))
        py_eigen.append(timed(lambda: system.eigsh(args.modes), 3))
    system.close()

    def row(what, python, c):
        p, q = statistics.median(python), statistics.median(c)
        print(f"| {what} | {q * 1e3:.1f} ms | {p * 1e3:.1f} ms | {p / q:.3f} |")

    print(f"brick solid {args.size}: {n} equations, {K.nnz} stored entries of K (both "
          f"triangles); {platform.processor() or platform.machine()}, load average "
          f"{os.getloadavg()[0]:.2f}; medians of {args.rounds} alternating rounds\n")
    print("| call | from C++ | from Python | Python / C++ |")
    print("|---|---:|---:|---:|")
    row(f"solve, {args.rhs} right-hand sides, column-major block", py_solve, c_solve)
    row(f"solve, {args.rhs} right-hand sides, row-major block (copied)", py_solve_rows, c_solve)
    row(f"smallest {args.modes} eigenpairs with vectors", py_eigen, c_eigen)


if __name__ == "__main__":
    main()
