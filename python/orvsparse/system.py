"""System: a sparse symmetric positive-definite pair (K, M) held by the library."""

import collections
import contextlib
import ctypes
import numbers
import os
import weakref

import numpy as np
import scipy.sparse

from . import _log
from ._library import LibraryError, descriptor, last_error, load_library

ORDERINGS = ("metis_node", "metis", "metis_edge", "amdv1_1", "tree", "random", "identity")
CHECK_CODES = (1, 2, 4, 8, 16)
_COUNTED_CHECKS = (8, 16)
_MAX_ORDER = 2**31 - 1

CheckSetting = collections.namedtuple("CheckSetting", "enabled threshold count")
CheckSetting.__doc__ = """One numerical check: whether it is on, its threshold and, for checks 8
and 16, its count (estimator columns for 8, refinement passes for 16; None for the others)."""


def _real_array(value, name):
    array = np.asarray(value)
    if array.dtype.kind not in "biuf":
        raise TypeError(f"{name} must hold real numbers, not {array.dtype}")
    return array


def _require_finite(array, name):
    # A sum costs a third of a mask; only a sum that is not finite (a NaN, an infinity, or an
    # overflow of finite values) needs the exact test.
    if array.dtype.kind != "f" or not array.size:
        return
    with np.errstate(over="ignore", invalid="ignore"):
        if np.isfinite(array.sum()):
            return
    if not np.isfinite(array).all():
        raise ValueError(f"{name} holds a non-finite value (NaN or infinity)")


def _index_array(value, name):
    array = np.asarray(value)
    if array.dtype.kind not in "iu":
        raise TypeError(f"{name} must hold integers, not {array.dtype}")
    if array.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional")
    return array


def _as_coo(matrix, name, n):
    """matrix (scipy.sparse, 2-D array or (rows, cols, values)) as a square COO matrix."""
    if isinstance(matrix, tuple):
        if len(matrix) != 3:
            raise ValueError(f"{name} as a tuple must be (rows, cols, values)")
        rows = _index_array(matrix[0], f"{name} rows")
        cols = _index_array(matrix[1], f"{name} cols")
        values = _real_array(matrix[2], f"{name} values")
        if not rows.shape == cols.shape == values.shape:
            raise ValueError(f"{name} rows, cols and values must have the same length")
        if rows.size and (rows.min() < 0 or cols.min() < 0):
            raise ValueError(f"{name} has a negative index")
        if n is None:
            n = int(max(rows.max(), cols.max())) + 1 if rows.size else 0
        if rows.size and max(rows.max(), cols.max()) >= n:
            raise ValueError(f"{name} has an index outside 0..{n - 1}")
        return scipy.sparse.coo_matrix(
            (values.astype(np.float64), (rows, cols)), shape=(n, n)
        )
    if scipy.sparse.issparse(matrix):
        coo = matrix.tocoo()
    else:
        dense = _real_array(matrix, name)
        if dense.ndim != 2:
            raise ValueError(f"{name} must be a sparse matrix, a 2-D array or (rows, cols, values)")
        coo = scipy.sparse.coo_matrix(dense)
    if coo.dtype.kind not in "biuf":
        raise TypeError(f"{name} must hold real numbers, not {coo.dtype}")
    if coo.shape[0] != coo.shape[1]:
        raise ValueError(f"{name} must be square, not {coo.shape[0]} x {coo.shape[1]}")
    return coo


def _lower_entries(matrix, name, lower, n):
    """The entries (row >= col) of the lower triangle of matrix: rows, cols, values, order."""
    coo = _as_coo(matrix, name, n)
    order = coo.shape[0]
    if order > _MAX_ORDER:
        raise ValueError(f"{name} has {order} rows; the library takes at most {_MAX_ORDER}")
    _require_finite(coo.data, name)
    if not lower:
        csr = coo.tocsr()
        asymmetry = abs(csr - csr.T)
        largest = asymmetry.max() if asymmetry.nnz else 0.0
        if largest > 1e-12 * abs(csr).max():
            i, j = (int(k[0]) for k in (asymmetry == largest).nonzero())
            raise ValueError(
                f"{name} is not symmetric: {name}[{i}, {j}] = {csr[i, j]!r} but "
                f"{name}[{j}, {i}] = {csr[j, i]!r}; pass lower=True to use its lower triangle"
            )
    keep = coo.row >= coo.col
    return (
        coo.row[keep].astype(np.int32).tolist(),
        coo.col[keep].astype(np.int32).tolist(),
        coo.data[keep].astype(np.float64).tolist(),
        order,
    )


def _matrix_code(matrix):
    if matrix in ("K", 0):
        return 0
    if matrix in ("M", 1):
        return 1
    raise ValueError(f'matrix must be "K" or "M", not {matrix!r}')


def _release(api, handle):
    if handle.value:
        api.exp_deleteMatrix_v3(ctypes.byref(handle))


class System:
    """A sparse symmetric positive-definite stiffness matrix K, and optionally a mass matrix M,
    held by the library: factorisation, solution and the smallest eigenpairs of K x = λ M x.

    ``System(K, M=None, *, log=None, lower=False, n=None)``

    K and M may each be any scipy.sparse matrix, a dense 2-D NumPy array, or a tuple
    ``(rows, cols, values)`` of equal-length 1-D arrays (0-based indices, repeated positions
    summed; the order is ``n``, or the largest index plus one). Values must be real and finite.
    Only the lower triangle (row >= col) is passed to the library, explicit zeros included (they
    become positions that set_element/add_element may change later). A matrix that is not
    symmetric (some ``|K[i,j] - K[j,i]| > 1e-12 max|K|``) is refused with ValueError unless
    ``lower=True``, which takes the lower triangle as it is and ignores the upper one (use it
    for data that hold the lower triangle only). M must have K's order.

    log: None (the default) logs nothing; True keeps the library's log of this System in memory
    (``log_text``, ``phase_times``); a path also writes it to that file (created or truncated
    now, appended after every call). The library keeps one log for the whole process, so work
    that other threads run at the moment of a logged call lands in that System's log too.

    Attributes: ``n``, the order of K; ``has_mass``, whether M was given.

    Release the library's memory with ``close()`` or a ``with`` block; a System that is garbage
    collected is closed too. A System is for one thread at a time; different Systems may be used
    from different threads.

    Failures of the library raise orvsparse.LibraryError carrying the library's text; bad
    arguments raise ValueError or TypeError before the library is called; using a closed System
    raises ValueError. If construction fails, nothing is left allocated.

    Example::

        with orvsparse.System(K, M) as s:
            s.factor()
            x = s.solve(b)            # K x = b, b of shape (n,) or (n, k)
            w, v = s.eigsh(6)         # 6 smallest eigenpairs of K v = w M v
    """

    def __init__(self, K, M=None, *, log=None, lower=False, n=None):
        self._api = load_library()
        self._handle = ctypes.c_void_p()
        self._closer = weakref.finalize(self, _release, self._api, self._handle)
        k_entries = _lower_entries(K, "K", lower, n)
        self.n = k_entries[3]
        m_entries = None
        if M is not None:
            m_entries = _lower_entries(M, "M", lower, self.n)
            if m_entries[3] != self.n:
                raise ValueError(
                    f"M is {m_entries[3]} x {m_entries[3]} but K is {self.n} x {self.n}")
        self.has_mass = M is not None
        self._identity_mass = False
        self._log_path = None
        self._log_parts = None
        self._phases = {}
        if log is not None and log is not False:
            self._log_parts = []
            if log is not True:
                self._log_path = os.fspath(log)
                open(self._log_path, "w", encoding="latin-1").close()
        try:
            with self._logged():
                self._assemble(0, k_entries)
                if m_entries is not None:
                    self._assemble(1, m_entries)
        except BaseException:
            self.close()
            raise

    # ---- life cycle -----------------------------------------------------------------------

    def close(self):
        """Releases the library's object; later calls raise ValueError. Closing twice is fine."""
        self._closer()

    @property
    def closed(self):
        """True once close() ran."""
        return not self._closer.alive

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        state = "closed" if self.closed else f"n={self.n}"
        return f"<orvsparse.System {state}{' with M' if self.has_mass else ''}>"

    # ---- log ------------------------------------------------------------------------------

    @property
    def log_text(self):
        """Everything the library logged for this System (None when created with log=None)."""
        return None if self._log_parts is None else "".join(self._log_parts)

    @property
    def log_path(self):
        """The log file given as log=..., or None."""
        return self._log_path

    @property
    def phase_times(self):
        """The library's phases logged so far for this System, as a dict mapping the phase
        ("A: Numeric factorization", "B: CCS matrix creation", ...; A is K and B is M) to a
        PhaseTime(wall, cpu, count) of seconds summed over its count completions. Empty when
        the System was created with log=None."""
        return dict(self._phases)

    @contextlib.contextmanager
    def _logged(self, always=False):
        """Runs the enclosed calls with the library's log captured when this System logs (or
        always); yields the capture, or None."""
        if self._log_parts is None and not always:
            yield None
            return
        capture = _log.Capture(self._api)
        try:
            with capture:
                yield capture
        finally:
            if self._log_parts is not None:
                self._append_log(capture)

    def _append_log(self, capture):
        if not self._log_parts:
            self._log_parts.append(capture.banner)
        self._log_parts.append(capture.text)
        _log.add_phases(self._phases, capture.text)
        if self._log_path is not None:
            with open(self._log_path, "a", encoding="latin-1", newline="") as f:
                if len(self._log_parts) == 2:
                    f.write(capture.banner)
                f.write(capture.text)

    # ---- calls ----------------------------------------------------------------------------

    def _live(self):
        if self.closed or not self._handle.value:
            raise ValueError("operation on a closed System")
        return self._handle.value

    def _check(self, result, function):
        if result != 0:
            raise LibraryError(last_error(self._api, self._handle.value), function)

    def _assemble(self, which, entries):
        rows, cols, values, order = entries
        api = self._api
        self._check(api.exp_initMatrix_v3(ctypes.byref(self._handle), order, which),
                    "exp_initMatrix_v3")
        handle = self._handle.value
        incr = api.exp_incrMatrixElem_v3
        failed = [r for r in map(incr, [handle] * len(rows), rows, cols, values,
                                 [which] * len(rows)) if r != 0]
        if failed:
            self._check(failed[0], "exp_incrMatrixElem_v3")
        self._check(api.exp_createCCS_v3(handle, which), "exp_createCCS_v3")

    def _ensure_mass(self):
        """M for an eigen-solution: the identity when the System was made without one."""
        if self.has_mass or self._identity_mass:
            return
        n = self.n
        self._assemble(1, (list(range(n)), list(range(n)), [1.0] * n, n))
        self._identity_mass = True

    # ---- factorisation and checks ---------------------------------------------------------

    def factor(self, ordering="metis_node", checks=None):
        """Orders and factorises K (Cholesky), running the enabled numerical checks.

        ordering: one of "metis_node" (default), "metis", "metis_edge", "amdv1_1", "tree",
        "random", "identity"; it is used once per pattern. checks: None keeps the current check
        settings; otherwise an iterable of the check codes to enable (every other check is
        disabled, thresholds kept), e.g. ``checks=(1, 8, 16)``, or their sum as an int. See
        set_check for the codes. After a success a second call does nothing; after
        set_element/add_element it refactorises (numeric work and checks only). solve and eigsh
        factorise by themselves when needed, with the default ordering.

        Raises LibraryError, e.g. "Numeric factorization failed" for a matrix that is not
        positive definite or "Post-factor checks failed. System is ill conditioned".
        Returns self.
        """
        handle = self._live()
        if ordering not in ORDERINGS:
            raise ValueError(f"ordering must be one of {', '.join(ORDERINGS)}; not {ordering!r}")
        if checks is not None:
            wanted = self._check_codes(checks)
            for code in CHECK_CODES:
                self.set_check(code, enabled=code in wanted)
        with self._logged():
            self._check(self._api.exp_factor_v3(handle, ordering.encode()), "exp_factor_v3")
        return self

    @staticmethod
    def _check_codes(checks):
        if isinstance(checks, numbers.Integral) and not isinstance(checks, bool):
            if checks < 0 or checks & ~31:
                raise ValueError(f"checks as an int must be a sum of {CHECK_CODES}, not {checks}")
            return {code for code in CHECK_CODES if checks & code}
        try:
            wanted = set(checks)
        except TypeError:
            raise TypeError("checks must be None, an iterable of check codes or an int") from None
        unknown = wanted - set(CHECK_CODES)
        if unknown:
            raise ValueError(f"unknown check codes {sorted(unknown)}; codes are {CHECK_CODES}")
        return wanted

    def _check_call(self, code, enable, threshold, count):
        enable_c = ctypes.c_int32(enable)
        value_c = ctypes.c_double(threshold)
        count_c = ctypes.c_int32(count)
        self._check(
            self._api.exp_checksSettings_v3(
                self._live(), ctypes.byref(enable_c), ctypes.byref(value_c),
                ctypes.byref(count_c), code),
            "exp_checksSettings_v3",
        )
        return CheckSetting(bool(enable_c.value), value_c.value,
                            count_c.value if code in _COUNTED_CHECKS else None)

    def check(self, code):
        """The setting of check `code` as a CheckSetting(enabled, threshold, count)."""
        if code not in CHECK_CODES:
            raise ValueError(f"check code must be one of {CHECK_CODES}, not {code!r}")
        return self._check_call(code, -1, 0.0, 0)

    @property
    def checks(self):
        """Every check setting, as a dict code -> CheckSetting(enabled, threshold, count)."""
        return {code: self.check(code) for code in CHECK_CODES}

    def set_check(self, code, enabled=True, threshold=None, count=None):
        """Turns numerical check `code` on or off, optionally with a new threshold and count.

        Codes (defaults in brackets):
          1  before factorisation, K's diagonal positive and log10(max/min) <= threshold [on, 310]
          2  log10(max/min) of the factor's diagonal <= threshold [off, 310]
          4  largest relative diagonal residual of L L' < threshold / n [off, 0.001]
          8  log10 of the norm-1 condition estimate <= threshold, estimated with `count`
             columns [on, 12, 2]
          16 every solution column's log10(|Kx-b|_1 / |b|_1) < threshold, with up to `count`
             refinement passes [off, -7.5, 2]
        threshold and count left as None keep their current values; count is only for codes
        8 and 16. Returns the new CheckSetting.
        """
        current = self.check(code)
        if count is not None and code not in _COUNTED_CHECKS:
            raise ValueError(f"check {code} has no count; only checks 8 and 16 do")
        if threshold is None:
            threshold = current.threshold
        elif not isinstance(threshold, numbers.Real) or not np.isfinite(threshold):
            raise ValueError(f"threshold must be a finite real number, not {threshold!r}")
        if count is None:
            count = current.count or 0
        elif not isinstance(count, numbers.Integral) or not 0 <= count < 2**31:
            raise ValueError(f"count must be a non-negative int, not {count!r}")
        setting = self._check_call(code, 1, float(threshold), int(count))
        if not enabled:
            setting = self._check_call(code, 0, 0.0, 0)
        return setting

    def condition_estimate(self):
        """The library's estimate of K's norm-1 condition number, |K|_1 |K^-1|_1, with
        |K^-1|_1 estimated from two columns (a lower bound of the true value, usually close);
        6 significant digits. Factorises first when needed."""
        handle = self._live()
        saved = self.check(16)
        zero = np.zeros(self.n)
        x = np.empty(self.n)
        try:
            self.set_check(16)
            with self._logged(always=True) as capture:
                self._check(self._api.exp_solve_v3(handle, descriptor(x), descriptor(zero)),
                            "exp_solve_v3")
        finally:
            self.set_check(16, saved.enabled, saved.threshold, saved.count)
        return _log.condition_in(capture.text)

    # ---- solution and eigenpairs ----------------------------------------------------------

    def solve(self, b, out=None):
        """The solution x of K x = b.

        b: a vector of n values or an n x k block of k right-hand sides (real, finite; any
        memory order and dtype, copied to float64 column-major only when it is not already).
        out: optional array to write x into instead of a new one, so that repeated solves need
        no new memory: float64 of b's shape, column-major for a block, not overlapping b.
        Returns x (out when given) of b's shape, float64, a block in column-major order.
        Factorises K first when needed. With check 16 on, each column is checked and refined;
        a column that still fails raises LibraryError("Post-factor checks failed. System is
        ill conditioned").
        """
        handle = self._live()
        b = _real_array(b, "b")
        if b.ndim not in (1, 2) or b.shape[0] != self.n:
            raise ValueError(f"b must have shape ({self.n},) or ({self.n}, k), not {b.shape}")
        _require_finite(b, "b")
        rhs = np.asfortranarray(b, dtype=np.float64)
        if out is None:
            x = np.empty(b.shape, order="F")
        else:
            x = out
            if not isinstance(x, np.ndarray) or x.dtype != np.float64:
                raise TypeError("out must be a float64 NumPy array")
            if x.shape != b.shape or not x.flags.f_contiguous or not x.flags.writeable:
                raise ValueError(f"out must be a writeable column-major array of shape {b.shape}")
            if np.may_share_memory(x, rhs):
                raise ValueError("out must not overlap b")
        with self._logged():
            self._check(self._api.exp_solve_v3(handle, descriptor(x), descriptor(rhs)),
                        "exp_solve_v3")
        return x

    def eigsh(self, k, vectors=True, normalize="mass"):
        """The k smallest eigenvalues of K x = λ M x (ascending) and, with vectors=True, their
        eigenvectors. Named after scipy.sparse.linalg.eigsh, but always the smallest
        eigenvalues: no `which` or `sigma` is needed.

        Without M the identity is used (the standard problem K x = λ x). Returns ``w`` of
        length m, or ``(w, v)`` with v of shape (n, m), where m <= k is the number of valid
        pairs the library found (it stops at the first λ <= 0 or >= 1e12 and at the number of
        non-zero diagonal entries of M). normalize="mass" (default, as SciPy) scales the
        vectors so that v.T @ M @ v = I; normalize="stiffness" keeps the library's scaling
        v.T @ K @ v = I. Factorises K first when needed.
        """
        handle = self._live()
        if not isinstance(k, numbers.Integral) or isinstance(k, bool):
            raise TypeError(f"k must be an int, not {type(k).__name__}")
        if not 1 <= k <= self.n:
            raise ValueError(f"k must be between 1 and n = {self.n}, not {k}")
        if normalize not in ("mass", "stiffness"):
            raise ValueError(f'normalize must be "mass" or "stiffness", not {normalize!r}')
        values = np.empty(k)
        vectors_out = np.empty((self.n, k), order="F") if vectors else None
        found = ctypes.c_int32(0)
        with self._logged():
            self._ensure_mass()
            self._check(
                self._api.exp_eigenSystem_v3(
                    handle, k, descriptor(values),
                    descriptor(vectors_out) if vectors else None, ctypes.byref(found)),
                "exp_eigenSystem_v3",
            )
        m = found.value
        w = values[:m].copy()
        if not vectors:
            return w
        v = vectors_out[:, :m]
        if normalize == "mass":
            v *= np.sqrt(w)
        return w, v

    # ---- element edits and services -------------------------------------------------------

    def _edit(self, function, i, j, value, matrix):
        handle = self._live()
        which = _matrix_code(matrix)
        if which == 1 and not self.has_mass:
            raise ValueError("this System has no M")
        for index in (i, j):
            if not isinstance(index, numbers.Integral) or not 0 <= index < self.n:
                raise ValueError(f"index {index!r} outside 0..{self.n - 1}")
        if not isinstance(value, numbers.Real) or not np.isfinite(value):
            raise ValueError(f"value must be a finite real number, not {value!r}")
        row, col = max(int(i), int(j)), min(int(i), int(j))
        with self._logged():
            self._check(getattr(self._api, function)(handle, row, col, float(value), which),
                        function)

    def set_element(self, i, j, value, matrix="K"):
        """Sets entry (i, j) and its symmetric pair (j, i) of K (or matrix="M") to value.

        Only positions stored at construction can change (LibraryError "Element not found"
        otherwise). The factor is dropped; the next factor(), solve() or eigsh() refactorises
        with the same ordering."""
        self._edit("exp_setMatrixElem_v3", i, j, value, matrix)

    def add_element(self, i, j, value, matrix="K"):
        """Adds value to entry (i, j) and its symmetric pair of K (or matrix="M"); otherwise as
        set_element."""
        self._edit("exp_incrMatrixElem_v3", i, j, value, matrix)

    def matvec(self, x, matrix="K"):
        """K @ x (or M @ x with matrix="M") for a vector x of n values, computed by the
        library."""
        handle = self._live()
        which = _matrix_code(matrix)
        if which == 1 and not self.has_mass:
            raise ValueError("this System has no M")
        x = _real_array(x, "x")
        if x.shape != (self.n,):
            raise ValueError(f"x must have shape ({self.n},), not {x.shape}")
        x = np.ascontiguousarray(x, dtype=np.float64)
        y = np.empty(self.n)
        pointer = ctypes.POINTER(ctypes.c_double)
        with self._logged():
            self._check(
                self._api.exp_multVector_v3(handle, x.ctypes.data_as(pointer),
                                            y.ctypes.data_as(pointer), which),
                "exp_multVector_v3",
            )
        return y
