#!/usr/bin/env python3
"""Modal analysis of a structure given by its stiffness K and mass M in Matrix Market files.

Computes the first vibration modes with orvsparse, prints their periods, frequencies and
effective modal masses, and, when matplotlib is installed, saves a plot of both as PNG.

    python3 python/examples/modal_analysis.py ../shared/matrices/bcsstk05.mtx \
        ../shared/matrices/bcsstm05.mtx --modes 12 --plot modes.png

The effective modal mass of mode i along direction d is (phi_i' M r_d)^2 with phi_i
M-normalised and r_d the rigid unit displacement along d, given as a share of r_d' M r_d. The
unknowns are taken as --dofs-per-node per node, the first three of each being the translations
X, Y and Z (3 for a truss such as bcsstk05, 6 for the frames of `orvsolve model frame`).
"""

import argparse
import importlib.util
import pathlib
import sys

import numpy as np
import scipy.io

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # run from the source tree
import orvsparse  # noqa: E402

DIRECTIONS = "XYZ"


def effective_masses(M, vectors, dofs_per_node):
    """Shares of the total mass (one row per mode, one column per translation direction)."""
    n = M.shape[0]
    shares = []
    for d in range(min(3, dofs_per_node)):
        r = np.zeros(n)
        r[d::dofs_per_node] = 1.0
        Mr = M @ r
        shares.append((vectors.T @ Mr) ** 2 / (r @ Mr))
    return np.column_stack(shares)


def plot(path, title, periods, shares):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    modes = np.arange(1, len(periods) + 1)
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(8, 7.5), sharex=True)
    top.bar(modes, periods, color="tab:blue")
    top.set_ylabel("period [s]")
    top.set_title(title)
    top.grid(axis="y", alpha=0.3)
    width = 0.8 / shares.shape[1]
    handles = []
    for d in range(shares.shape[1]):
        offset = (d - (shares.shape[1] - 1) / 2) * width
        bars = bottom.bar(modes + offset, 100 * shares[:, d], width, label=f"{DIRECTIONS[d]}")
        (line,) = bottom.plot(modes, 100 * np.cumsum(shares[:, d]), marker="o", markersize=3,
                              color=bars.patches[0].get_facecolor(),
                              label=f"{DIRECTIONS[d]} cumulative")
        handles += [bars, line]
    bottom.set_xlabel("mode")
    bottom.set_ylabel("effective modal mass [% of total]")
    bottom.set_ylim(0, 105)
    bottom.set_xticks(modes)
    bottom.grid(axis="y", alpha=0.3)
    bottom.legend(handles=handles, ncol=shares.shape[1], fontsize="small", loc="upper center",
                  bbox_to_anchor=(0.5, -0.16))
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("stiffness", help="K as a Matrix Market file")
    parser.add_argument("mass", help="M as a Matrix Market file")
    parser.add_argument("--modes", type=int, default=12, help="number of modes (12)")
    parser.add_argument("--dofs-per-node", type=int, default=3,
                        help="unknowns per node, translations X, Y, Z first (3)")
    parser.add_argument("--plot", default="modal_analysis.png",
                        help="PNG to write when matplotlib is present (modal_analysis.png)")
    args = parser.parse_args()

    K = scipy.io.mmread(args.stiffness).tocsc()
    M = scipy.io.mmread(args.mass).tocsc()
    with orvsparse.System(K, M, log=True) as system:
        eigenvalues, vectors = system.eigsh(args.modes)
        seconds = system.phase_times["A: Eigensystem calculation"].wall
    periods = 2 * np.pi / np.sqrt(eigenvalues)
    shares = effective_masses(M, vectors, args.dofs_per_node)

    name = pathlib.Path(args.stiffness).stem
    print(f"{name}: {K.shape[0]} equations, {len(eigenvalues)} modes in {seconds:.3g} s")
    header = "".join(f"  mass {d} [%]" for d in DIRECTIONS[: shares.shape[1]])
    print(f"mode  period [s]  frequency [Hz]{header}")
    for i, (t, share) in enumerate(zip(periods, shares), start=1):
        print(f"{i:4d}  {t:10.5f}  {1 / t:14.4f}" + "".join(f"  {100 * s:10.2f}" for s in share))
    print("sum" + " " * 29 + "".join(f"  {100 * s:10.2f}" for s in shares.sum(axis=0)))

    if importlib.util.find_spec("matplotlib") is None:
        print("matplotlib is not installed: no plot")
        return
    title = (f"{name}, {pathlib.Path(args.mass).stem} ({K.shape[0]} equations): "
             f"first {len(periods)} modes")
    plot(args.plot, title, periods, shares)
    print(f"plot written to {args.plot}")


if __name__ == "__main__":
    main()
