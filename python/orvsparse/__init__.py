"""orvsparse: the ORVSparseSolver library (libORVSparseSolverDLL3) from NumPy and SciPy.

Sparse symmetric positive-definite systems K x = b, the smallest eigenpairs of K x = λ M x, a
dense packed generalised eigen-solver and seismic modal combination, through the library's C
interface (ctypes; no compiled extension).

    import orvsparse, scipy.io
    K = scipy.io.mmread("K.mtx"); M = scipy.io.mmread("M.mtx")
    with orvsparse.System(K, M) as s:      # K, M: scipy.sparse, dense, or (rows, cols, values)
        s.factor(ordering="metis_node", checks=(1, 8))
        x = s.solve(b)                     # b of shape (n,) or (n, k)
        w, v = s.eigsh(10)                 # 10 smallest eigenpairs, v.T @ M @ v = I
        print(s.condition_estimate())

    orvsparse.combine("cqc", periods, peaks, damping=0.05)   # peaks: (modes, 24)
    w, z = orvsparse.dspgvd(A, B)                           # dense A z = λ B z

The library is found on first use: the file named by $ORVSPARSE_LIBRARY, the install prefix
(``cmake --install`` installs this package beside the library), ``build/lib`` of the source tree
holding this package, then the system loader's path; see load_library. Failures of the library
raise LibraryError with its text; bad arguments raise ValueError or TypeError before the library
is called.
"""

from ._library import (
    ENVIRONMENT_VARIABLE,
    LibraryError,
    LibraryNotFoundError,
    library_path,
    load_library,
)
from ._log import PhaseTime
from .dense import combine, dspgvd
from .system import CHECK_CODES, ORDERINGS, CheckSetting, System

__all__ = [
    "CHECK_CODES",
    "ENVIRONMENT_VARIABLE",
    "ORDERINGS",
    "CheckSetting",
    "LibraryError",
    "LibraryNotFoundError",
    "PhaseTime",
    "System",
    "combine",
    "dspgvd",
    "library_path",
    "load_library",
]
