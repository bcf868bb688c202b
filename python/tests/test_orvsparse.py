"""The binding checked against SciPy and NumPy: solutions, eigenpairs, modal combination, the
dense packed solver, error mapping, argument checks, handle release and logging."""

import gc
import os
import re
import subprocess
import sys

import numpy as np
import pytest
import scipy.linalg
import scipy.sparse
import scipy.sparse.linalg

import orvsparse
from conftest import REPO, read_matrix


def relative(a, b):
    return np.linalg.norm(a - b) / np.linalg.norm(b)


@pytest.mark.parametrize("name", ["bcsstk14.mtx", "bcsstk05.mtx", "frame"])
def test_solutions_match_spsolve(name, frame):
    K = frame[0] if name == "frame" else read_matrix(name)
    n = K.shape[0]
    b = np.random.default_rng(7).standard_normal((n, 4))
    expected = scipy.sparse.linalg.spsolve(K, b)
    with orvsparse.System(K) as s:
        s.factor(checks=(1, 8, 16))
        for why, rhs in [("C-ordered block", np.ascontiguousarray(b)),
                         ("Fortran-ordered block", np.asfortranarray(b)),
                         ("strided block", np.repeat(b, 2, axis=1)[:, ::2]),
                         ("integer vector", np.arange(n))]:
            x = s.solve(rhs)
            assert x.shape == rhs.shape, why
            reference = expected if rhs.ndim == 2 else scipy.sparse.linalg.spsolve(K, rhs * 1.0)
            assert relative(x, reference) < 1e-9, why
        out = np.full((n, 4), np.nan, order="F")
        assert s.solve(b, out=out) is out
        assert relative(out, expected) < 1e-9


@pytest.mark.parametrize("pair", [("bcsstk05.mtx", "bcsstm05.mtx"), ("LUNDA.mtx", "lund_b.mtx"),
                                  "frame"])
def test_eigenpairs_match_eigh(pair, frame):
    K, M = frame if pair == "frame" else (read_matrix(pair[0]), read_matrix(pair[1]))
    w_ref, v_ref = scipy.linalg.eigh(K.toarray(), M.toarray(), subset_by_index=[0, 5])
    with orvsparse.System(K, M) as s:
        w, v = s.eigsh(6)
        w_only = s.eigsh(6, vectors=False)
        w_k, v_k = s.eigsh(6, normalize="stiffness")
    assert relative(w, w_ref) < 1e-9
    np.testing.assert_array_equal(w_only, w)
    signs = np.sign(np.sum(v * v_ref, axis=0))
    assert relative(v * signs, v_ref) < 1e-9
    assert np.abs(v_k.T @ K @ v_k - np.eye(6)).max() < 1e-9


def test_standard_problem_and_fewer_pairs_than_asked():
    K = read_matrix("bcsstk05.mtx")
    with orvsparse.System(K) as s:
        w = s.eigsh(3, vectors=False)
    assert relative(w, scipy.linalg.eigh(K.toarray(), eigvals_only=True)[:3]) < 1e-9
    # Mass on three unknowns only: three finite eigenvalues, those of the inverse of K^-1
    # restricted to them.
    masses = [10, 50, 90]
    M = scipy.sparse.coo_matrix((np.ones(3), (masses, masses)), shape=K.shape)
    with orvsparse.System(K, M) as s:
        w, v = s.eigsh(5)
    flexibility = np.linalg.inv(K.toarray())[np.ix_(masses, masses)]
    assert v.shape == (K.shape[0], 3)
    assert relative(w, np.sort(1 / np.linalg.eigvalsh(flexibility))) < 1e-9


def test_element_edits_are_solved_after_refactorisation():
    K = read_matrix("bcsstk05.mtx").tolil()
    b = np.ones(K.shape[0])
    with orvsparse.System(K) as s:
        s.solve(b)
        s.add_element(3, 3, 1e6)
        s.set_element(1, 7, K[7, 1] * 0.5)  # upper position: its lower pair changes
        K[3, 3] += 1e6
        K[7, 1] = K[1, 7] = K[7, 1] * 0.5
        assert relative(s.solve(b), scipy.sparse.linalg.spsolve(K.tocsc(), b)) < 1e-9
        assert relative(s.matvec(b), K @ b) < 1e-14


def cqc_closed_form(periods, u, xi):
    """Der Kiureghian's coefficients in float64; the library adds cross terms in magnitude."""
    r = periods[:, None] / periods[None, :]
    rho = 8 * xi**2 * (1 + r) * r**1.5 / ((1 - r**2) ** 2 + 4 * xi**2 * r * (1 + r) ** 2)
    u = u.astype(np.float64)
    cross = np.abs(u[:, None, :] * u[None, :, :]) * rho[:, :, None]
    return np.sqrt(cross.sum(axis=(0, 1)))


def test_modal_combination_matches_closed_forms():
    rng = np.random.default_rng(3)
    periods = np.sort(rng.uniform(0.05, 1.5, 12))[::-1]
    u = rng.standard_normal((2, 12, 24)).astype(np.float32)
    rows = [
        ("srss", np.sqrt((u[0].astype(np.float64) ** 2).sum(axis=0))),
        ("abs", np.abs(u[0].astype(np.float64)).sum(axis=0)),
        ("cqc", cqc_closed_form(periods, u[0], 0.05)),
    ]
    for method, expected in rows:
        first = orvsparse.combine(method, periods, u[0])
        second = orvsparse.combine(method, periods, u[0])
        assert first.dtype == np.float32, method
        np.testing.assert_allclose(first, expected, rtol=2e-6, err_msg=method)
        np.testing.assert_array_equal(second, first, err_msg=method)
    both = orvsparse.combine("CQC", periods, u, damping=0.02)
    np.testing.assert_allclose(both[1], cqc_closed_form(periods, u[1], 0.02), rtol=2e-6)


def test_dense_packed_solver_matches_eigh():
    A = read_matrix("LUNDA.mtx").toarray()
    B = read_matrix("lund_b.mtx").toarray()
    w, z = orvsparse.dspgvd(np.tril(A), B)
    assert relative(w, scipy.linalg.eigh(A, B, eigvals_only=True)) < 1e-9
    assert np.abs(z.T @ B @ z - np.eye(len(w))).max() < 1e-9
    packed = A.T[np.triu_indices(len(A))]
    np.testing.assert_array_equal(orvsparse.dspgvd(packed, B)[0], w)


def library_error(call):
    with pytest.raises(orvsparse.LibraryError) as caught:
        call()
    return caught.value.text, caught.value.function


def test_library_failures_carry_the_library_text(handles):
    K = read_matrix("bcsstk05.mtx").tolil()
    negative = K.copy()
    negative[5, 5] = -1.0
    with orvsparse.System(negative) as s:
        assert library_error(s.factor) == (
            "Pre-factor checks failed.\nMatrix is not SPD or ill conditioned", "exp_factor_v3")
        s.set_check(1, enabled=False)
        assert library_error(s.factor)[0] == "Numeric factorization failed"
        assert library_error(lambda: s.set_element(100, 0, 1.0))[0] == "Element not found"
    assert library_error(lambda: orvsparse.System(scipy.sparse.csc_matrix((4, 4)))) == (
        "Matrix is empty", "exp_createCCS_v3")
    B = np.diag([1.0, -1.0, 1.0])
    assert library_error(lambda: orvsparse.dspgvd(np.eye(3), B))[0] == (
        "B is not positive definite: its leading minor of order 2 is not")
    assert handles.live == set()


def test_bad_arguments_are_refused_before_the_library(handles):
    K = read_matrix("bcsstk05.mtx")
    n = K.shape[0]
    u = np.ones((3, 24))
    constructors = [
        (lambda: orvsparse.System(scipy.sparse.triu(K)), ValueError, "not symmetric"),
        (lambda: orvsparse.System(K[:, :10]), ValueError, "square"),
        (lambda: orvsparse.System(K * 1j), TypeError, "real"),
        (lambda: orvsparse.System(K, K[:10, :10]), ValueError, "M is 10 x 10"),
        (lambda: orvsparse.System(([0, 1], [0], [1.0, 2.0])), ValueError, "same length"),
        (lambda: orvsparse.System(([0], [0], [np.nan])), ValueError, "non-finite"),
        (lambda: orvsparse.combine("cqc", [1.0, 2.0], u), ValueError, "shape (3,)"),
        (lambda: orvsparse.combine("cqc", [1.0, 2.0, -1.0], u), ValueError, "positive"),
        (lambda: orvsparse.combine("srss", None, np.ones((3, 23))), ValueError, "(modes, 24)"),
        (lambda: orvsparse.combine("mean", None, u), ValueError, "method"),
        (lambda: orvsparse.dspgvd(np.eye(3), np.eye(4)), ValueError, "3 x 3"),
    ]
    for call, error, text in constructors:
        with pytest.raises(error, match=re.escape(text)):
            call()
    assert handles.calls == 0
    rhs = np.ones(n)
    with orvsparse.System(K) as s:
        calls = handles.calls
        methods = [
            (lambda: s.solve(np.ones(n + 1)), ValueError, f"({n},)"),
            (lambda: s.solve(np.ones((n, 2, 2))), ValueError, "shape"),
            (lambda: s.solve(np.full(n, np.inf)), ValueError, "non-finite"),
            (lambda: s.solve(np.ones(n, dtype=complex)), TypeError, "real"),
            (lambda: s.solve(np.ones((n, 2)), out=np.empty((n, 2))), ValueError, "column-major"),
            (lambda: s.solve(rhs, out=rhs), ValueError, "overlap"),
            (lambda: s.eigsh(0), ValueError, "between 1"),
            (lambda: s.eigsh(2.0), TypeError, "int"),
            (lambda: s.factor(ordering="amd"), ValueError, "ordering"),
            (lambda: s.factor(checks=(3,)), ValueError, "unknown check"),
            (lambda: s.set_element(n, 0, 1.0), ValueError, "outside"),
            (lambda: s.add_element(0, 0, 1.0, matrix="M"), ValueError, "no M"),
        ]
        for call, error, text in methods:
            with pytest.raises(error, match=re.escape(text)):
                call()
        assert handles.calls == calls
    with pytest.raises(ValueError, match="closed"):
        s.solve(np.ones(n))


def test_no_handle_outlives_its_system(handles):
    K, M = read_matrix("bcsstk05.mtx"), read_matrix("bcsstm05.mtx")
    s = orvsparse.System(K, M)
    assert len(handles.live) == 1
    del s
    gc.collect()
    assert handles.live == set()
    for _ in range(3):
        library_error(lambda: orvsparse.System(scipy.sparse.csc_matrix((4, 4))))
    with orvsparse.System(K, M) as s:
        s.set_check(1, enabled=False)
        s.add_element(0, 0, -1e12)
        library_error(s.factor)
    orvsparse.combine("cqc", np.ones(2), np.ones((2, 24)))
    assert handles.live == set()
    assert handles.calls > 0


def test_each_system_keeps_its_own_log(tmp_path):
    K, M = read_matrix("bcsstk05.mtx"), read_matrix("bcsstm05.mtx")
    path = tmp_path / "first.log"
    with orvsparse.System(K, M, log=path) as first, orvsparse.System(K, log=True) as second:
        quiet = orvsparse.System(K)
        first.eigsh(4)
        second.factor()
        scratch = orvsparse._log._scratch_file()
        size = os.path.getsize(scratch)
        quiet.factor()  # the library's log is off outside logged calls
        assert os.path.getsize(scratch) == size
        quiet.close()
        second.solve(np.ones(K.shape[0]))
        condition = second.condition_estimate()
        assert first.log_text == path.read_text(encoding="latin-1")
    assert first.log_text.startswith("Version 3, 0, 0, 0 - RELEASE")
    assert "A: Eigensystem calculation completed in" in first.log_text
    assert "A: Right hand sides solutions" not in first.log_text
    assert first.phase_times["B: CCS matrix creation"].count == 1
    assert second.phase_times["A: Right hand sides solutions"].count == 2
    assert "A: Eigensystem calculation" not in second.phase_times
    assert quiet.log_text is None and quiet.phase_times == {}
    assert condition == pytest.approx(np.linalg.cond(K.toarray(), 1), rel=1e-5)


def test_missing_library_is_reported_with_where_it_looked(tmp_path):
    missing = tmp_path / "libORVSparseSolverDLL3.so"
    env = dict(os.environ, ORVSPARSE_LIBRARY=str(missing), PYTHONPATH=str(REPO / "python"))
    run = subprocess.run([sys.executable, "-c", "import orvsparse; orvsparse.load_library()"],
                         env=env, capture_output=True, text=True)
    assert run.returncode != 0
    assert f"LibraryNotFoundError: libORVSparseSolverDLL3.so not found at {missing}" in run.stderr


def test_installed_package_loads_the_installed_library(tmp_path):
    build = os.environ.get("ORV_BUILD_DIR") or REPO / "build"
    cmake = os.environ.get("CMAKE_COMMAND") or "cmake"
    subprocess.run([cmake, "--install", str(build), "--prefix", str(tmp_path)], check=True,
                   stdout=subprocess.DEVNULL)
    env = {k: v for k, v in os.environ.items() if k != "ORVSPARSE_LIBRARY"}
    env["PYTHONPATH"] = str(tmp_path / "lib" / "python3" / "site-packages")
    script = ("import numpy as np, orvsparse; print(orvsparse.library_path()); "
              "print(*orvsparse.System(np.diag([4.0, 16.0, 64.0])).solve([8, 16, 32]))")
    run = subprocess.run([sys.executable, "-c", script], env=env, cwd=tmp_path,
                         capture_output=True, text=True, check=True)
    library = tmp_path / "lib" / "libORVSparseSolverDLL3.so.3"
    assert run.stdout.split() == [str(library), "2.0", "1.0", "0.5"]
