"""The library's exports without a matrix handle: the dense packed generalised eigen-solver and
seismic modal combination."""

import ctypes
import numbers

import numpy as np

from ._library import LibraryError, load_library
from .system import _real_array, _require_finite

RESPONSES = 24
_METHODS = {"srss": 1, "cqc": 2, "abs": 3}
_MAX_PACKED_ORDER = 32766


def _packed_lower(matrix, name):
    """matrix as LAPACK packed lower storage (column by column from the diagonal down): a
    square 2-D array (its lower triangle is used) or already packed; returns (packed, n)."""
    a = _real_array(matrix, name)
    if a.ndim == 2:
        if a.shape[0] != a.shape[1]:
            raise ValueError(f"{name} must be square, not {a.shape[0]} x {a.shape[1]}")
        n = a.shape[0]
        packed = a.T[np.triu_indices(n)]
    elif a.ndim == 1:
        n = int(round((np.sqrt(8 * a.size + 1) - 1) / 2))
        if n * (n + 1) // 2 != a.size:
            raise ValueError(f"{name} has {a.size} values, which is not n(n+1)/2 for any n")
        packed = a
    else:
        raise ValueError(f"{name} must be a square 2-D array or a packed 1-D array")
    _require_finite(packed, name)
    return np.ascontiguousarray(packed, dtype=np.float64), n


def dspgvd(A, B):
    """All eigenvalues and eigenvectors of the dense problem A z = λ B z, A symmetric and B
    symmetric positive definite, by the library's packed solver (LAPACK DSPGVD).

    A and B: square 2-D arrays (only the lower triangle is read) or 1-D arrays in LAPACK packed
    lower storage (n(n+1)/2 values, column by column from the diagonal down); n <= 32766.
    Returns ``(w, z)``: w the n eigenvalues ascending, z the n x n eigenvectors as columns with
    z.T @ B @ z = I. Raises LibraryError when B is not positive definite (the text names the
    order of the leading minor that is not) or the iteration does not converge.
    """
    api = load_library()
    ap, n = _packed_lower(A, "A")
    bsource, nb = _packed_lower(B, "B")
    if nb != n:
        raise ValueError(f"A is {n} x {n} but B is {nb} x {nb}")
    if n > _MAX_PACKED_ORDER:
        raise ValueError(f"order {n} exceeds the packed solver's limit of {_MAX_PACKED_ORDER}")
    w = np.empty(n)
    z = np.empty((n, n), order="F")
    if n == 0:
        return w, z
    bp = np.empty_like(bsource)
    pointer = ctypes.POINTER(ctypes.c_double)
    info = api.exp_LAPACK_DSPGVD_v3(
        n, 0, ap.ctypes.data_as(pointer), bsource.ctypes.data_as(pointer),
        bp.ctypes.data_as(pointer), w.ctypes.data_as(pointer), z.ctypes.data_as(pointer))
    if info == 0:
        return w, z
    if 0 < info <= n:
        text = f"no convergence: {info} off-diagonal elements did not converge to zero"
    elif info > n:
        text = f"B is not positive definite: its leading minor of order {info - n} is not"
    else:
        text = f"the packed solver failed (INFO = {info}): out of memory"
    raise LibraryError(text, "exp_LAPACK_DSPGVD_v3")


def _aligned_float32(shape):
    """A zeroed float32 array of the shape whose data start on a 16-byte boundary."""
    count = int(np.prod(shape))
    raw = np.zeros(count + 4, dtype=np.float32)
    skip = (-raw.ctypes.data % 16) // 4
    return raw[skip:skip + count].reshape(shape)


def combine(method, modal_values, responses, damping=0.05):
    """Combines the peak modal responses of 24 quantities into one value each, as the library
    computes it in float32.

    method: "srss" (square root of the sum of squares), "cqc" (complete quadratic
    combination) or "abs" (sum of absolute values).
    modal_values: for "cqc", one positive value per mode: the circular frequencies, the
    frequencies or the periods (only their ratios enter); may be None for the others.
    responses: array of shape (modes, 24), mode by mode, or (sets, modes, 24) for several sets
    combined with the same modes; real and finite (converted to float32).
    damping: the damping ratio common to all modes, 0 < damping < 1 ("cqc" only).

    CQC gives, for each quantity, sqrt(sum_i u_i^2 + sum_{i<j} 2 rho_ij |u_i u_j|) with
    rho_ij = 8 xi^2 (1 + r) r^1.5 / ((1 - r^2)^2 + 4 xi^2 r (1 + r)^2), r = w_i / w_j (the
    library adds the cross terms in absolute value). Returns a fresh float32 array of shape
    (24,) or (sets, 24).
    """
    api = load_library()
    kind = _METHODS.get(method.lower() if isinstance(method, str) else None)
    if kind is None:
        raise ValueError(f'method must be "srss", "cqc" or "abs", not {method!r}')
    u = _real_array(responses, "responses")
    if u.ndim not in (2, 3) or u.shape[-1] != RESPONSES:
        raise ValueError(f"responses must have shape (modes, 24) or (sets, modes, 24), not "
                         f"{u.shape}")
    _require_finite(u, "responses")
    single = u.ndim == 2
    blocks = u[np.newaxis] if single else u
    modes = blocks.shape[1]
    values = None
    if kind == 2:
        if modal_values is None:
            raise ValueError("cqc needs the modal values")
        v = _real_array(modal_values, "modal_values")
        if v.shape != (modes,):
            raise ValueError(f"modal_values must have shape ({modes},), not {v.shape}")
        if modes and not (np.isfinite(v).all() and (v > 0).all()):
            raise ValueError("modal_values must be positive and finite")
        if not isinstance(damping, numbers.Real) or not 0 < damping < 1:
            raise ValueError(f"damping must be a real number between 0 and 1, not {damping!r}")
        values = np.ascontiguousarray(v, dtype=np.float32)
    data = _aligned_float32(blocks.shape)
    data[...] = blocks
    out = _aligned_float32((blocks.shape[0], RESPONSES))
    pointer = ctypes.POINTER(ctypes.c_float)
    handle = ctypes.c_void_p()
    if api.exp_mediaSismica_init_v3(
            ctypes.byref(handle), kind, modes,
            values.ctypes.data_as(pointer) if values is not None else None,
            float(damping)) != 0:
        raise LibraryError("the modal combination could not be set up (out of memory)",
                           "exp_mediaSismica_init_v3")
    try:
        for s in range(blocks.shape[0]):
            if api.exp_mediaSismica_calc24_v3(handle, data[s].ctypes.data_as(pointer),
                                              out[s].ctypes.data_as(pointer)) != 0:
                raise LibraryError("the modal combination failed", "exp_mediaSismica_calc24_v3")
    finally:
        api.exp_mediaSismica_free_v3(ctypes.byref(handle))
    return out[0].copy() if single else out.copy()
