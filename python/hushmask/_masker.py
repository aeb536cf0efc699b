"""Masker and MaskingStream: libhushmask's longest-match engine, one stream
per handle."""

import ctypes
import threading
import weakref

from . import _convert
from . import _library
from . import _writer


def load_library():
    """Returns libhushmask, loading it on first use (see the module doc)."""
    return _library.load("hushmask")


def _check(status):
    """Maps a status of hushmask.h: 0 is success, anything else (only -1 is
    ever returned) is exhausted memory."""
    if status != 0:
        raise MemoryError("hushmask: out of memory")


class Masker:
    """Owns one libhushmask handle with its secrets.

    ``Masker(secrets)`` registers every secret of a collection (bytes-like,
    or str encoded as UTF-8; a lone str or bytes is a TypeError) and builds
    the automaton.  More secrets can be added with insert() followed by
    build().  close() (or leaving a ``with`` block) releases the handle; it
    is also released when the object is collected.

    A handle walks one text at a time: while a stream of this masker is open,
    mask() and a second stream() raise RuntimeError.  SecretSet has no such
    limit.
    """

    def __init__(self, secrets=()):
        secrets = _convert.secret_list(secrets)
        self._lib = load_library()
        self._lock = threading.RLock()
        self._stream = None  # weak reference to the open stream
        self._handle = self._lib.hush_new()
        if not self._handle:
            raise MemoryError("hushmask: out of memory")
        for secret in secrets:
            self.insert(secret)
        self.build()

    def insert(self, secret):
        """Registers one more secret; call build() before masking with it."""
        secret = _convert.as_bytes(secret, "a secret")
        with self._lock:
            _check(self._lib.hush_insert(self._live_handle(), secret, len(secret)))

    def build(self):
        """Completes the automaton over every secret inserted so far."""
        with self._lock:
            _check(self._lib.hush_build(self._live_handle()))

    def mask(self, data, max_stars=3):
        """Returns a masked copy of one whole text (str is encoded as UTF-8)."""
        max_stars = _convert.count(max_stars, "max_stars")
        data = _convert.as_bytes(data)
        with self._lock:
            self._refuse_if_streaming("mask()")
            return self._call_mask(data, max_stars, streaming=0)

    def stream(self, sink=None, max_stars=3):
        """Starts masking one text that arrives in chunks; see MaskingStream.
        One open stream at a time per masker."""
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

    def _refuse_if_streaming(self, what):
        stream = self._stream() if self._stream is not None else None
        if stream is not None and not stream.closed:
            raise RuntimeError("hushmask: %s while a stream of this Masker is open would break "
                               "the stream; close it first, or use a SecretSet, which serves many "
                               "streams" % what)

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


class MaskingStream(_writer.MaskingWriter):
    """A write-only binary file that masks what is written through it.

    With a ``sink`` (any object with a ``write(bytes)`` method, such as a
    binary file), write() masks the chunk (str is encoded as UTF-8, so
    ``print(..., file=stream)`` works), writes the output that is final so
    far to the sink and returns the length taken; close() writes the
    held-back tail.  The sink itself is left open.

    Without a sink, use mask(chunk) and finish(), which return the bytes
    instead.  finish() ends one text and the stream may begin the next.

    Concatenated, the outputs equal Masker.mask(whole text, max_stars).
    While the stream is open its masker serves nothing else.
    """

    def __init__(self, masker, sink=None, max_stars=3):
        super().__init__(sink)
        # False until this stream owns the masker's walk: closing a stream
        # that was refused (collected, say) must not touch the walk.
        self._owns_walk = False
        self._max_stars = _convert.count(max_stars, "max_stars")
        self._masker = masker
        with masker._lock:
            masker._refuse_if_streaming("a second stream()")
            masker._reset_walk()
            masker._stream = weakref.ref(self)
            self._owns_walk = True

    @property
    def max_stars(self):
        return self._max_stars

    def mask(self, chunk):
        """Masks the next chunk; returns the output that is final so far."""
        self._raise_if_closed()
        chunk = _convert.as_bytes(chunk)
        with self._masker._lock:
            return self._masker._call_mask(chunk, self._max_stars, streaming=1)

    def finish(self):
        """Ends the text: returns the held-back bytes and resets."""
        self._raise_if_closed()
        with self._masker._lock:
            tail = self._masker._held_back()
            self._masker._reset_walk()
            return tail

    def _raise_if_closed(self):
        if self.closed:
            raise ValueError("I/O operation on closed hushmask stream")

    def close(self):
        if self.closed:
            return
        try:
            if self._owns_walk and self._masker._handle:
                self._write_tail(self.finish())
        finally:
            super().close()
