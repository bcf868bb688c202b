#!/usr/bin/env python3
"""What the Python package adds to a solve of many right-hand sides and to an eigen-solution,
against the same library calls made from C++ (bench/binding_peer_bench) in the same run.

    cmake -S . -B build-bench -DORV_BUILD_BENCH=ON -DORV_BUILD_TESTS=OFF
    cmake --build build-bench -j2 --target binding_peer_bench orvsolve
    /usr/bin/python3 python/bench/bench_binding.py --build build-bench

A brick solid (orvsolve model solid, about 20 000 equations by default) is written as Matrix
Market; both sides read it, factorise it once and then time the calls alone (mean time per call
over repeated calls for at least --min-time seconds): exp_solve_v3 with
100 right-hand sides against System.solve of the same n x 100 block (column-major, as a NumPy
user would hold it for a solver; also into a reused out= block, as the C++ side reuses its
solution block, and from a row-major block, with its copy), and
exp_eigenSystem_v3 for 10 modes against System.eigsh(10). Rounds alternate the two sides so
that the load of a shared machine falls on both; medians of wall-clock and of the calling
thread's CPU time are compared. Then the same Python calls are split into the time spent inside
the export and the rest, which is what the binding adds, free of the noise between two runs.
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
    """Per-call (wall, thread CPU) seconds of the C++ benchmarks, one run."""
    out = subprocess.run(
        [str(build / "bin" / "binding_peer_bench"), "--benchmark_format=json",
         f"--benchmark_min_time={min_time}"],
        env=env, check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if "error_occurred" in b:
            raise RuntimeError(f"{b['name']}: {b.get('error_message')}")
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b["time_unit"]]
        times[b["name"].split("/")[0]] = (b["real_time"] * scale, b["cpu_time"] * scale)
    return times


def timed(call, min_time):
    """Mean (wall, thread CPU) seconds per call over calls repeated for at least min_time, as
    Google Benchmark measures the C++ side."""
    calls = 0
    start, start_cpu = time.perf_counter(), time.thread_time()
    while True:
        call()
        calls += 1
        elapsed = time.perf_counter() - start
        if elapsed >= min_time:
            return elapsed / calls, (time.thread_time() - start_cpu) / calls


class InsideExport:
    """Wraps one export of the loaded library and sums the wall time spent inside it."""

    def __init__(self, api, name):
        self.api, self.name, self.inside = api, name, 0.0
        self.function = getattr(api, name)

    def __enter__(self):
        def timed_call(*args):
            start = time.perf_counter()
            try:
                return self.function(*args)
            finally:
                self.inside += time.perf_counter() - start
        setattr(self.api, self.name, timed_call)
        return self

    def __exit__(self, *exc):
        setattr(self.api, self.name, self.function)


def binding_share(name, call, calls):
    """(time of the Python calls - time inside the export) / time inside the export, over the
    same calls."""
    with InsideExport(orvsparse.load_library(), name) as probe:
        start = time.perf_counter()
        for _ in range(calls):
            call()
        total = time.perf_counter() - start
    return (total - probe.inside) / probe.inside


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build-bench", help="build folder (build-bench)")
    parser.add_argument("--size", default="40x12x12", help="solid size NXxNYxNZ (40x12x12)")
    parser.add_argument("--rounds", type=int, default=5, help="alternating rounds (5)")
    parser.add_argument("--rhs", type=int, default=100, help="right-hand sides (100)")
    parser.add_argument("--modes", type=int, default=10, help="eigenpairs (10)")
    parser.add_argument("--min-time", type=float, default=2.0,
                        help="seconds each side repeats a call for in a round (2)")
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

    x = np.empty_like(b, order="F")
    c_solve, c_eigen, py_solve, py_solve_out, py_solve_rows, py_eigen = [], [], [], [], [], []
    for _ in range(args.rounds):
        c = c_side(build, env, args.min_time)
        c_solve.append(c["solveFromC"])
        c_eigen.append(c["eigenFromC"])
        py_solve.append(timed(lambda: system.solve(b), args.min_time))
        py_solve_out.append(timed(lambda: system.solve(b, out=x), args.min_time))
        py_solve_rows.append(timed(lambda: system.solve(b_rows), args.min_time))
        py_eigen.append(timed(lambda: system.eigsh(args.modes), args.min_time))
        print(f"round (wall, CPU): solve C++ {c_solve[-1]}, Python {py_solve[-1]} "
              f"(out= {py_solve_out[-1]}, row-major {py_solve_rows[-1]}); eigen C++ {c_eigen[-1]}, "
              f"Python {py_eigen[-1]}", file=sys.stderr)
    share_solve = binding_share("exp_solve_v3", lambda: system.solve(b), 10)
    share_out = binding_share("exp_solve_v3", lambda: system.solve(b, out=x), 10)
    share_rows = binding_share("exp_solve_v3", lambda: system.solve(b_rows), 10)
    share_eigen = binding_share("exp_eigenSystem_v3", lambda: system.eigsh(args.modes), 3)
    system.close()

    def row(what, python, c, share):
        p = [statistics.median(t[k] for t in python) for k in (0, 1)]
        q = [statistics.median(t[k] for t in c) for k in (0, 1)]
        print(f"| {what} | {q[0] * 1e3:.1f} ms | {p[0] * 1e3:.1f} ms | {p[0] / q[0]:.3f} "
              f"| {q[1] * 1e3:.1f} ms | {p[1] * 1e3:.1f} ms | {p[1] / q[1]:.3f} "
              f"| {100 * share:.2f} % |")

    print(f"brick solid {args.size}: {n} equations, {K.nnz} stored entries of K (both "
          f"triangles); {platform.processor() or platform.machine()}, load average "
          f"{os.getloadavg()[0]:.2f}; medians of {args.rounds} alternating rounds; "
          f"OMP_NUM_THREADS={os.environ.get('OMP_NUM_THREADS', 'unset')}\n")
    print("| call | wall, C++ | wall, Python | Python / C++ | CPU, C++ | CPU, Python "
          "| Python / C++ | outside the export |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    row(f"solve, {args.rhs} right-hand sides, column-major block", py_solve, c_solve,
        share_solve)
    row(f"solve, {args.rhs} right-hand sides, into a reused out= block", py_solve_out, c_solve,
        share_out)
    row(f"solve, {args.rhs} right-hand sides, row-major block (copied)", py_solve_rows, c_solve,
        share_rows)
    row(f"smallest {args.modes} eigenpairs with vectors", py_eigen, c_eigen, share_eigen)
    print("\nCPU: time of the calling thread (all of the work when OMP_NUM_THREADS=1 and "
          "OPENBLAS_NUM_THREADS=1). Outside the export: the Python calls' time less the time "
          "spent inside exp_solve_v3 or exp_eigenSystem_v3 during the same calls, as a share of "
          "the latter.")


if __name__ == "__main__":
    main()
