"""Mask known secret strings in bytes, whole or as a stream of chunks.

A thin ctypes binding over the hushmask shared library; nothing to compile.

    from hushmask import Masker

    masker = Masker([b"hunter2", b"s3cr3t"])
    masker.mask(b"password=hunter2")            # b"password=***"

    with masker.stream(sys.stdout.buffer) as out:  # file-like, write-only
        for chunk in chunks:
            out.write(chunk)                    # masked bytes go to stdout
    # close() wrote the held-back tail

Each run of secret bytes becomes at most ``max_stars`` asterisks (0 removes
secrets).  A stream gives byte for byte what ``mask`` gives for the whole
text, however the text was cut.

The library is looked up, in this order: the path in the environment variable
HUSHMASK_LIBRARY; next to this package; in a library directory of the install
prefix this package lives under; the system's library search path.

Out of memory inside the library raises MemoryError; the masker is unchanged
and the same call can be made again.  A Masker serialises its own calls, so it
may be shared between threads (they take turns).
"""

import ctypes
import ctypes.util
import io
import os
import pathlib
import threading

__all__ = ["Masker", "MaskingStream", "load_library"]
__version__ = "0.1.0"

# The binding speaks the ABI of this SONAME.
_SONAME = "libhushmask.so.0"
_FILE_NAMES = (_SONAME, "libhushmask.so", "libhushmask.dylib", "hushmask.dll")

_library = None
_library_lock = threading.Lock()


def _candidate_paths():
    """Places to look for the library, most specific first."""
    here = pathlib.Path(__file__).resolve().parent
    for name in _FILE_NAMES:
        yield here / name
    # Installed as <prefix>/<something>/.../hushmask/: try the library
    # directories (lib, lib64, lib/<multiarch>) of each ancestor up to the
    # prefix.  Four levels cover <prefix>/lib/python3/site-packages/hushmask.
    for ancestor in list(here.parents)[:4]:
        for libdir in sorted(ancestor.glob("lib*")) + sorted(ancestor.glob("lib/*-*")):
            for name in _FILE_NAMES:
                yield libdir / name


def _declare(lib):
    u8p = ctypes.POINTER(ctypes.c_uint8)
    lib.hush_new.restype = ctypes.c_void_p
    lib.hush_new.argtypes = []
    lib.hush_destroy.restype = None
    lib.hush_destroy.argtypes = [ctypes.c_void_p]
    lib.hush_insert.restype = ctypes.c_int32
    lib.hush_insert.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint64]
    lib.hush_build.restype = ctypes.c_int32
    lib.hush_build.argtypes = [ctypes.c_void_p]
    lib.hush_mask.restype = ctypes.c_int32
    lib.hush_mask.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint64, ctypes.c_uint64,
                              ctypes.c_uint8, ctypes.POINTER(u8p), ctypes.POINTER(ctypes.c_uint64)]
    lib.hush_free.restype = None
    lib.hush_free.argtypes = [u8p, ctypes.c_uint64]
    lib.hush_get_reminder.restype = u8p
    lib.hush_get_reminder.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint64)]
    lib.hush_reset_reminder.restype = None
    lib.hush_reset_reminder.argtypes = [ctypes.c_void_p]
    return lib


def load_library():
    """Returns the loaded library, loading it on first use (see module doc)."""
    global _library
    with _library_lock:
        if _library is not None:
            return _library
        explicit = os.environ.get("HUSHMASK_LIBRARY")
        if explicit:
            # An explicit choice is never silently replaced by another copy.
            _library = _declare(ctypes.CDLL(explicit))
            return _library
        tried = []
        for path in _candidate_paths():
            if path.is_file():
                _library = _declare(ctypes.CDLL(str(path)))
                return _library
            tried.append(str(path.parent))
        found = ctypes.util.find_library("hushmask")
        if found:
            _library = _declare(ctypes.CDLL(found))
            return _library
        places = ", ".join(dict.fromkeys(tried))
        raise OSError("hushmask: shared library not found; set HUSHMASK_LIBRARY "
                      "or install it (looked in: %s and the system search path)" % places)


def _check(status):
    """Maps a status of the C interface: 0 is success, anything else (only -1
    is ever returned) is exhausted memory."""
    if status != 0:
        raise MemoryError("hushmask: out of memory")


def _check_max_stars(max_stars):
    # ctypes would wrap a negative number round to a huge one.
    if not 0 <= max_stars < 1 << 64:
        raise ValueError("hushmask: max_stars must be in [0, 2**64)")


def _as_bytes(data):
    # bytes pass to C without a copy; other buffers (bytearray, memoryview)
    # are copied once.
    return data if isinstance(data, bytes) else bytes(data)


class Masker:
    """Owns one masker handle with its secrets.

    ``Masker(secrets)`` registers every secret (bytes-like; str is encoded as
    UTF-8) and builds the automaton.  More secrets can be added with insert()
    followed by build().  close() (or leaving a ``with`` block) releases the
    handle; it is also released when the object is collected.
    """

    def __init__(self, secrets=()):
        self._lib = load_library()
        self._lock = threading.RLock()
        self._handle = self._lib.hush_new()
        if not self._handle:
            raise MemoryError("hushmask: out of memory")
        for secret in secrets:
            self.insert(secret)
        self.build()

    def insert(self, secret):
        """Registers one more secret; call build() before masking with it."""
        if isinstance(secret, str):
            secret = secret.encode("utf-8")
        secret = _as_bytes(secret)
        with self._lock:
            _check(self._lib.hush_insert(self._live_handle(), secret, len(secret)))

    def build(self):
        """Completes the automaton over every secret inserted so far."""
        with self._lock:
            _check(self._lib.hush_build(self._live_handle()))

    def mask(self, data, max_stars=3):
        """Returns a masked copy of one whole text.  Abandons a stream in
        progress on this masker."""
        _check_max_stars(max_stars)
        data = _as_bytes(data)
        with self._lock:
            return self._call_mask(data, max_stars, streaming=0)

    def stream(self, sink=None, max_stars=3):
        """Starts masking one text that arrives in chunks; see MaskingStream.
        One stream at a time per masker."""
        return MaskingStream(self, sink, max_stars)

    def close(self):
        with self._lock:
            if self._handle:
                self._lib.hush_destroy(self._handle)
                self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def __del__(self):
        # Attributes may be missing when __init__ failed part-way.
        if getattr(self, "_handle", None):
            self._lib.hush_destroy(self._handle)
            self._handle = None

    def _live_handle(self):
        if not self._handle:
            raise ValueError("hushmask: the masker is closed")
        return self._handle

    # The helpers below expect self._lock to be held.

    def _call_mask(self, data, max_stars, streaming):
        out = ctypes.POINTER(ctypes.c_uint8)()
        out_len = ctypes.c_uint64(0)
        _check(self._lib.hush_mask(self._live_handle(), data, len(data), max_stars, streaming,
                                   ctypes.byref(out), ctypes.byref(out_len)))
        try:
            return ctypes.string_at(out, out_len.value) if out_len.value else b""
        finally:
            self._lib.hush_free(out, out_len.value)

    def _held_back(self):
        length = ctypes.c_uint64(0)
        held = self._lib.hush_get_reminder(self._live_handle(), ctypes.byref(length))
        return ctypes.string_at(held, length.value) if length.value else b""

    def _reset_walk(self):
        # An empty non-streaming call drops the held-back bytes and puts the
        # walk at its start, even when it reports failure.
        out = ctypes.POINTER(ctypes.c_uint8)()
        out_len = ctypes.c_uint64(0)
        if self._lib.hush_mask(self._live_handle(), None, 0, 0, 0,
                               ctypes.byref(out), ctypes.byref(out_len)) == 0:
            self._lib.hush_free(out, out_len.value)


class MaskingStream(io.RawIOBase):
    """A write-only binary file that masks what is written through it.

    With a ``sink`` (any object with a ``write(bytes)`` method, such as a
    binary file), write() masks the chunk, writes the output that is final so
    far to the sink and returns the number of bytes taken; close() writes the
    held-back tail.  The sink itself is left open.

    Without a sink, use mask(chunk) and finish(), which return the bytes
    instead.  finish() ends one text and the stream may begin the next.

    Concatenated, the outputs equal Masker.mask(whole text, max_stars).
    Starting a stream resets the masker's walk; closing or abandoning one
    resets it again.
    """

    def __init__(self, masker, sink=None, max_stars=3):
        super().__init__()
        _check_max_stars(max_stars)
        self._masker = masker
        self._sink = sink
        self._max_stars = max_stars
        with masker._lock:
            masker._reset_walk()

    @property
    def max_stars(self):
        return self._max_stars

    def writable(self):
        return True

    def mask(self, chunk):
        """Masks the next chunk; returns the output that is final so far."""
        self._raise_if_closed()
        chunk = _as_bytes(chunk)
        with self._masker._lock:
            return self._masker._call_mask(chunk, self._max_stars, streaming=1)

    def finish(self):
        """Ends the text: returns the held-back bytes and resets."""
        self._raise_if_closed()
        with self._masker._lock:
            tail = self._masker._held_back()
            self._masker._reset_walk()
            return tail

    def write(self, data):
        if self._sink is None:
            raise ValueError("hushmask: stream has no sink; use mask() and finish()")
        data = _as_bytes(data)
        output = self.mask(data)
        if output:
            self._sink.write(output)
        return len(data)

    def _raise_if_closed(self):
        if self.closed:
            raise ValueError("I/O operation on closed hushmask stream")

    def close(self):
        if self.closed:
            return
        try:
            if self._masker._handle:
                tail = self.finish()
                if tail and self._sink is not None:
                    self._sink.write(tail)
                if self._sink is not None and hasattr(self._sink, "flush"):
                    self._sink.flush()
        finally:
            super().close()
