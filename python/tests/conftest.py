"""Fixtures of the binding's tests: the real matrices, a generated frame, and a hook that counts
the library's live handles at the C boundary."""

import os
import pathlib
import subprocess
import sys

import pytest
import scipy.io

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "python"))

import orvsparse  # noqa: E402


def matrix_path(name):
    """A real matrix, from $ORV_MATRICES_DIR or ../shared/matrices beside the repository."""
    folder = os.environ.get("ORV_MATRICES_DIR") or REPO / ".." / "shared" / "matrices"
    return pathlib.Path(folder) / name


def read_matrix(name):
    return scipy.io.mmread(str(matrix_path(name))).tocsc()


@pytest.fixture(scope="session")
def frame(tmp_path_factory):
    """K and M of a 3-storey building frame written by orvsolve ($ORVSOLVE or build/bin)."""
    orvsolve = os.environ.get("ORVSOLVE") or REPO / "build" / "bin" / "orvsolve"
    folder = tmp_path_factory.mktemp("frame")
    k, m = folder / "K.mtx", folder / "M.mtx"
    subprocess.run([str(orvsolve), "model", "frame", "--size", "3x2x2", "--write", str(k), str(m)],
                   check=True, stdout=subprocess.DEVNULL)
    return scipy.io.mmread(str(k)).tocsc(), scipy.io.mmread(str(m)).tocsc()


class HandleCounter:
    """Wraps the exports that create and destroy handles and keeps the set of live ones."""

    def __init__(self, api, monkeypatch):
        self.live = set()
        self.calls = 0
        for create, destroy in (("exp_initMatrix_v3", "exp_deleteMatrix_v3"),
                                ("exp_mediaSismica_init_v3", "exp_mediaSismica_free_v3")):
            monkeypatch.setattr(api, create, self._creating(getattr(api, create)))
            monkeypatch.setattr(api, destroy, self._destroying(getattr(api, destroy)))

    def _creating(self, function):
        def call(handle, *args):
            self.calls += 1
            variable = handle._obj
            before = variable.value
            result = function(handle, *args)
            if before is None and variable.value is not None:
                self.live.add(variable.value)
            return result
        return call

    def _destroying(self, function):
        def call(handle):
            self.calls += 1
            before = handle._obj.value
            result = function(handle)
            self.live.discard(before)
            return result
        return call


@pytest.fixture
def handles(monkeypatch):
    return HandleCounter(orvsparse.load_library(), monkeypatch)
