"""The library's log, captured call by call for the systems that ask for it.

The library has one log for the whole process, opened by name (truncating the file) and turned
off whenever any handle is deleted. So that each System keeps a log of its own, the library logs
into a private scratch file only while a logged call runs; the text is then appended to that
System's log. Logged calls are serialised by a lock.
"""

import atexit
import collections
import os
import re
import shutil
import tempfile
import threading

PhaseTime = collections.namedtuple("PhaseTime", "wall cpu count")
PhaseTime.__doc__ = """Times of one library phase: wall-clock and processor seconds summed over
`count` completions."""

_COMPLETED = re.compile(r"^([AB]): (.+) completed in (\S+) sec \((\S+) CPU\)$")
_CONDITION = "Norm-1 condition number estimate: "

_lock = threading.Lock()
_scratch_dir = None


def _scratch_file():
    global _scratch_dir
    if _scratch_dir is None:
        _scratch_dir = tempfile.mkdtemp(prefix="orvsparse-")
        atexit.register(shutil.rmtree, _scratch_dir, True)
    return os.path.join(_scratch_dir, "library.log")


def add_phases(phases, text):
    """Adds the phase lines of text into phases, a dict "A: <name>" -> PhaseTime."""
    for line in text.splitlines():
        m = _COMPLETED.match(line)
        if m:
            key = f"{m.group(1)}: {m.group(2)}"
            old = phases.get(key, PhaseTime(0.0, 0.0, 0))
            phases[key] = PhaseTime(
                old.wall + float(m.group(3)), old.cpu + float(m.group(4)), old.count + 1
            )


def condition_in(text):
    """The last condition estimate the text reports, or None."""
    found = None
    for line in text.splitlines():
        if line.startswith(_CONDITION):
            found = float(line[len(_CONDITION):])
    return found


class Capture:
    """Runs one library call with the library's log written to a scratch file.

    Use as ``with Capture(api) as capture: ...``; afterwards ``capture.text`` holds what the
    library logged during the call, without the version banner (in ``capture.banner``).
    """

    def __init__(self, api):
        self._api = api
        self.text = ""
        self.banner = ""

    def __enter__(self):
        _lock.acquire()
        try:
            self._path = _scratch_file()
            if self._api.exp_logDestination_v3(None, self._path.encode()) != 0:
                raise OSError(f"the library could not open its log file {self._path}")
        except BaseException:
            _lock.release()
            raise
        return self

    def __exit__(self, *exc):
        try:
            self._api.exp_logDestination_v3(None, b"")
            with open(self._path, "r", encoding="latin-1", newline="") as f:
                banner = f.readline()
                self.banner = banner
                self.text = f.read()
        finally:
            _lock.release()
        return False
