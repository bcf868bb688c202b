"""Finding and loading libORVSparseSolverDLL3, and the C prototypes of its exports."""

import ctypes
import os
import pathlib
import threading

LIBRARY_FILE = "libORVSparseSolverDLL3.so"
ENVIRONMENT_VARIABLE = "ORVSPARSE_LIBRARY"


class LibraryNotFoundError(OSError):
    """The shared library could not be found or loaded; the message lists where it looked."""


class LibraryError(RuntimeError):
    """A call into the library failed.

    ``str(error)`` and ``error.text`` are the library's own error text (for instance
    ``"Numeric factorization failed"``); ``error.function`` names the C export that failed.
    """

    def __init__(self, text, function):
        super().__init__(text)
        self.text = text
        self.function = function


class _SafeArrayBound(ctypes.Structure):
    _fields_ = [("cElements", ctypes.c_uint32), ("lLbound", ctypes.c_int32)]


class SafeArray2(ctypes.Structure):
    """The array descriptor of the exports, with room for two bounds."""

    _fields_ = [
        ("cDims", ctypes.c_uint16),
        ("fFeatures", ctypes.c_uint16),
        ("cbElements", ctypes.c_uint32),
        ("cLocks", ctypes.c_uint32),
        ("pvData", ctypes.c_void_p),
        ("rgsabound", _SafeArrayBound * 2),
    ]


def descriptor(array):
    """A SAFEARRAY** over a float64 array, as the exports take it: 1-D, or 2-D in column-major
    order (rows, columns). The caller keeps the array alive while the descriptor is used."""
    d = SafeArray2()
    d.cbElements = 8
    d.pvData = array.ctypes.data
    if array.ndim == 1:
        d.cDims = 1
        d.rgsabound[0].cElements = array.shape[0]
    else:
        d.cDims = 2
        d.rgsabound[0].cElements = array.shape[1]
        d.rgsabound[1].cElements = array.shape[0]
    return ctypes.pointer(ctypes.pointer(d))


_HANDLE = ctypes.c_void_p
_INT = ctypes.c_int32
_DOUBLE_P = ctypes.POINTER(ctypes.c_double)
_FLOAT_P = ctypes.POINTER(ctypes.c_float)
_INT_P = ctypes.POINTER(ctypes.c_int32)
_DESCRIPTOR_PP = ctypes.POINTER(ctypes.POINTER(SafeArray2))

# name: (result type, argument types)
_PROTOTYPES = {
    "SysStringByteLen": (ctypes.c_uint32, [ctypes.c_void_p]),
    "SysFreeString": (None, [ctypes.c_void_p]),
    "exp_initMatrix_v3": (_INT, [ctypes.POINTER(_HANDLE), _INT, _INT]),
    "exp_deleteMatrix_v3": (None, [ctypes.POINTER(_HANDLE)]),
    "exp_logDestination_v3": (_INT, [_HANDLE, ctypes.c_char_p]),
    "exp_getLastError_v3": (ctypes.c_void_p, [_HANDLE]),
    "exp_incrMatrixElem_v3": (_INT, [_HANDLE, _INT, _INT, ctypes.c_double, _INT]),
    "exp_setMatrixElem_v3": (_INT, [_HANDLE, _INT, _INT, ctypes.c_double, _INT]),
    "exp_createCCS_v3": (_INT, [_HANDLE, _INT]),
    "exp_multVector_v3": (_INT, [_HANDLE, _DOUBLE_P, _DOUBLE_P, _INT]),
    "exp_getMaxDiag_v3": (_INT, [_HANDLE, _DOUBLE_P]),
    "exp_factor_v3": (_INT, [_HANDLE, ctypes.c_char_p]),
    "exp_solve_v3": (_INT, [_HANDLE, _DESCRIPTOR_PP, _DESCRIPTOR_PP]),
    "exp_eigenSystem_v3": (_INT, [_HANDLE, _INT, _DESCRIPTOR_PP, _DESCRIPTOR_PP, _INT_P]),
    "exp_checksSettings_v3": (_INT, [_HANDLE, _INT_P, _DOUBLE_P, _INT_P, _INT]),
    "exp_LAPACK_DSPGVD_v3": (
        _INT,
        [_INT, _INT, _DOUBLE_P, _DOUBLE_P, _DOUBLE_P, _DOUBLE_P, _DOUBLE_P],
    ),
    "exp_mediaSismica_init_v3": (
        _INT,
        [ctypes.POINTER(ctypes.c_void_p), _INT, _INT, _FLOAT_P, ctypes.c_float],
    ),
    "exp_mediaSismica_calc24_v3": (_INT, [ctypes.c_void_p, _FLOAT_P, _FLOAT_P]),
    "exp_mediaSismica_free_v3": (_INT, [ctypes.POINTER(ctypes.c_void_p)]),
}


def _candidates():
    """Where the library is looked for, in order, with the reason for each."""
    here = pathlib.Path(__file__).resolve().parent
    found = []
    try:
        from . import _install  # written by cmake --install

        found.append((pathlib.Path(_install.LIBRARY), "the install prefix"))
    except ImportError:
        pass
    # python/orvsparse in a source tree whose build folder is build/
    found.append((here.parent.parent / "build" / "lib" / LIBRARY_FILE, "the build tree"))
    return found


class _Loaded:
    """The loaded library: its path and the exports with their prototypes."""

    def __init__(self, path):
        self.path = str(path)
        self.cdll = ctypes.CDLL(self.path)
        for name, (restype, argtypes) in _PROTOTYPES.items():
            function = getattr(self.cdll, name)
            function.restype = restype
            function.argtypes = argtypes
            setattr(self, name, function)


_lock = threading.Lock()
_loaded = None


def load_library(path=None):
    """Loads the shared library and returns the object holding its exports.

    With no path, the first of these that exists is loaded: the file named by the environment
    variable ORVSPARSE_LIBRARY (which must exist when set), the library of the prefix the
    package was installed with by ``cmake --install``, ``build/lib`` of the source tree the
    package sits in, then the system's loader search (LD_LIBRARY_PATH, ldconfig). A second call
    returns the library already loaded; a path that differs from it raises
    LibraryNotFoundError. Every other function of the package calls this on first use.
    """
    global _loaded
    with _lock:
        if _loaded is not None:
            if path is not None and os.path.realpath(path) != os.path.realpath(_loaded.path):
                raise LibraryNotFoundError(
                    f"the library is already loaded from {_loaded.path}; cannot load {path}"
                )
            return _loaded
        if path is not None:
            _loaded = _load(pathlib.Path(path), "the path given")
            return _loaded
        named = os.environ.get(ENVIRONMENT_VARIABLE)
        if named:
            _loaded = _load(pathlib.Path(named), f"${ENVIRONMENT_VARIABLE}")
            return _loaded
        looked = []
        for candidate, why in _candidates():
            if candidate.is_file():
                _loaded = _load(candidate, why)
                return _loaded
            looked.append(f"{candidate} ({why})")
        try:
            _loaded = _Loaded(LIBRARY_FILE + ".3")
            return _loaded
        except OSError:
            looked.append(f"{LIBRARY_FILE}.3 (the system's loader search path)")
        raise LibraryNotFoundError(
            f"{LIBRARY_FILE} not found; looked in: "
            + "; ".join(looked)
            + f". Set {ENVIRONMENT_VARIABLE} to the library file."
        )


def _load(path, why):
    if not path.is_file():
        raise LibraryNotFoundError(f"{LIBRARY_FILE} not found at {path} ({why})")
    try:
        return _Loaded(path)
    except OSError as error:
        raise LibraryNotFoundError(f"cannot load {path} ({why}): {error}") from error


def library_path():
    """The file the library was loaded from (loading it first when needed)."""
    return load_library().path


def last_error(api, handle):
    """The library's last-error text of handle (None: the process-wide text), as str."""
    text = api.exp_getLastError_v3(handle)
    if not text:
        return "Out of memory"
    try:
        return ctypes.string_at(text, api.SysStringByteLen(text)).decode("latin-1")
    finally:
        api.SysFreeString(text)
