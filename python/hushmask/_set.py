"""SecretSet and SecretStream: libhushset, every occurrence of every secret
and of its encoded forms masked, one set serving many streams and threads."""

import ctypes
import threading
import warnings
import weakref

from . import _convert
from . import _library
from . import _writer

HUSHSET_OK = 0
HUSHSET_NOMEM = -1
HUSHSET_SHORT_BUFFER = -2

FORM_LINES = 1 << 0
FORM_BASE64 = 1 << 1
FORM_BASE64URL = 1 << 2
FORM_URL = 1 << 3
FORM_JSON = 1 << 4
FORM_XML = 1 << 5
FORM_SHELL = 1 << 6
FORMS_ALL = 0x7F
FORMS_DEFAULT = FORM_LINES | FORM_BASE64 | FORM_URL | FORM_JSON | FORM_XML | FORM_SHELL

_FORM_NAMES = {0: "the secret", FORM_LINES: "a line", FORM_BASE64: "its base64 form",
               FORM_BASE64URL: "its base64url form", FORM_URL: "its URL-encoded form",
               FORM_JSON: "its JSON form", FORM_XML: "its XML form", FORM_SHELL: "its shell form"}
_DIAG_TOO_SHORT = 1


def load_set_library():
    """Returns libhushset, loading it on first use (see the module doc)."""
    return _library.load("hushset")


def _check(status, what):
    if status == HUSHSET_NOMEM:
        raise MemoryError("hushmask: out of memory")
    if status != HUSHSET_OK:
        raise ValueError("hushmask: %s refused its arguments (status %d)" % (what, status))


class _SharedLock:
    """Many holders of the shared side, or one of the exclusive side; a
    waiting exclusive holder keeps new shared ones out, so add() is not
    starved by busy streams."""

    def __init__(self):
        self._cond = threading.Condition(threading.Lock())
        self._shared = 0
        self._exclusive = False
        self._waiting = 0

    def acquire_shared(self):
        with self._cond:
            while self._exclusive or self._waiting:
                self._cond.wait()
            self._shared += 1

    def release_shared(self):
        with self._cond:
            self._shared -= 1
            if not self._shared:
                self._cond.notify_all()

    def acquire_exclusive(self):
        with self._cond:
            self._waiting += 1
            while self._exclusive or self._shared:
                self._cond.wait()
            self._waiting -= 1
            self._exclusive = True

    def release_exclusive(self):
        with self._cond:
            self._exclusive = False
            self._cond.notify_all()


class SecretSet:
    """A set of secrets, masked by libhushset's every-occurrence rule.

    ``SecretSet(secrets, *, forms=FORMS_DEFAULT, max_stars=3, min_length=4)``
    adds every secret of a collection (bytes-like, or str encoded as UTF-8; a
    lone str, bytes or int is a TypeError) with the encoded forms that the
    FORM_* bits of ``forms`` enable, and builds the set.  Every occurrence of
    a secret or form is masked, also one inside another or inside a broken
    copy of a longer one; each run of them becomes at most ``max_stars``
    asterisks (0 removes runs).  Secrets and forms shorter than
    ``min_length`` bytes are left out, with a warning that gives only their
    length.

    mask() masks a whole text; stream() opens a SecretStream.  Any number of
    streams may be open at once and used from several threads, one thread
    per stream, while mask() runs on others.  add() takes effect at once: for
    the next mask() and for the next write on every open stream.

    close() (or leaving a ``with`` block) closes the open streams, which
    writes their held-back tails, and releases the set.
    """

    def __init__(self, secrets, *, forms=FORMS_DEFAULT, max_stars=3, min_length=4):
        secrets = _convert.secret_list(secrets)
        forms = _convert.count(forms, "forms")
        if forms & ~FORMS_ALL:
            raise ValueError("hushmask: unknown form bits 0x%x" % (forms & ~FORMS_ALL))
        self._lib = load_set_library()
        self._lock = _SharedLock()
        self._streams = weakref.WeakSet()
        self._closing = False
        self._left_out = []
        self._min_length = _convert.count(min_length, "min_length")
        # Kept alive as long as the set: the library calls it from add().
        self._diagnostic = _library.DIAGNOSTIC(self._on_diagnostic)
        options = _library.HushsetOptions()
        self._lib.hushset_options_init(ctypes.byref(options))
        options.forms = forms
        options.max_stars = _convert.count(max_stars, "max_stars")
        options.min_length = self._min_length
        options.diagnostic = ctypes.cast(self._diagnostic, ctypes.c_void_p)
        self._handle = self._lib.hushset_new(ctypes.byref(options))
        if not self._handle:
            raise MemoryError("hushmask: out of memory")
        self._max_stars = options.max_stars
        self._hold_limit = 0
        self._lock.acquire_exclusive()
        try:
            for secret in secrets:
                self._add(secret)
            self._build()
        finally:
            self._lock.release_exclusive()
        self._warn_left_out()

    @property
    def max_stars(self):
        return self._max_stars

    def add(self, secret):
        """Adds one more secret (and its forms) and rebuilds the set.  On
        MemoryError the set masks as before; adding the same secret again
        retries."""
        secret = _convert.as_bytes(secret, "a secret")
        self._lock.acquire_exclusive()
        try:
            self._add(secret)
            self._build()
        finally:
            self._lock.release_exclusive()
        self._warn_left_out()

    def mask(self, data):
        """Returns a masked copy of one whole text (str is encoded as UTF-8)."""
        data = _convert.as_bytes(data)
        out = ctypes.create_string_buffer(len(data)) if data else None
        out_len = ctypes.c_uint64(0)
        self._lock.acquire_shared()
        try:
            _check(self._lib.hushset_mask(self._live_handle(), data, len(data), out, len(data),
                                          ctypes.byref(out_len)), "hushset_mask")
        finally:
            self._lock.release_shared()
        return ctypes.string_at(out, out_len.value) if out_len.value else b""

    def stream(self, file=None):
        """Opens a SecretStream over this set, writing to ``file`` if given."""
        return SecretStream(self, file)

    def close(self):
        """Closes every open stream (writing its tail), then releases the set."""
        self._lock.acquire_exclusive()
        try:
            self._closing = True
        finally:
            self._lock.release_exclusive()
        for stream in list(self._streams):
            stream.close()
        self._lock.acquire_exclusive()
        try:
            if self._handle:
                self._lib.hushset_destroy(self._handle)
                self._handle = None
        finally:
            self._lock.release_exclusive()

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def __del__(self):
        # Streams hold their set, so none is left when this runs.  Attributes
        # may be missing when __init__ failed part-way.
        if getattr(self, "_handle", None):
            self._lib.hushset_destroy(self._handle)
            self._handle = None

    def _live_handle(self):
        if not self._handle or self._closing:
            raise ValueError("hushmask: the secret set is closed")
        return self._handle

    # The two below expect the exclusive lock to be held.

    def _add(self, secret):
        _check(self._lib.hushset_add(self._live_handle(), secret, len(secret)), "hushset_add")

    def _build(self):
        _check(self._lib.hushset_build(self._live_handle()), "hushset_build")
        self._hold_limit = self._lib.hushset_hold_limit(self._handle)

    def _on_diagnostic(self, _context, code, form, length):
        # Runs inside hushset_add; warnings wait until the lock is released.
        if code == _DIAG_TOO_SHORT:
            self._left_out.append("%s (%d bytes) is shorter than min_length %d"
                                  % (_FORM_NAMES.get(form, "a form"), length, self._min_length))

    def _warn_left_out(self):
        left_out, self._left_out = self._left_out, []
        for message in left_out:
            warnings.warn("hushmask: not masked: " + message, stacklevel=3)


class SecretStream(_writer.MaskingWriter):
    """A write-only binary file that masks one text arriving in pieces.

    write() masks a piece (str is encoded as UTF-8, so ``print(...,
    file=stream)`` works), writes the output that is final to the stream's
    file and returns the length taken; close() (or leaving a ``with`` block)
    writes the held-back tail and flushes the file, which is left open.
    Without a file, mask(piece) and finish() return the bytes instead.
    finish() ends one text; the stream may then begin the next.

    Concatenated, the outputs equal SecretSet.mask(whole text), however the
    text was cut.  One stream is for one thread at a time (calls from others
    wait their turn); streams of one set are independent of each other.
    """

    def __init__(self, secret_set, file=None):
        super().__init__(file)
        self._handle = None
        self._set = secret_set
        self._lock = threading.Lock()
        self._buffer = ctypes.create_string_buffer(0)
        self._out_len = ctypes.c_uint64(0)
        secret_set._lock.acquire_shared()
        try:
            self._handle = secret_set._lib.hushset_stream_new(secret_set._live_handle())
            if not self._handle:
                raise MemoryError("hushmask: out of memory")
            secret_set._streams.add(self)
        finally:
            secret_set._lock.release_shared()

    def mask(self, data):
        """Masks the next piece; returns the output that is final so far."""
        data = _convert.as_bytes(data)
        lib = self._set._lib
        with self._lock:
            self._raise_if_closed()
            self._set._lock.acquire_shared()
            try:
                self._reserve(len(data) + self._set._hold_limit)
                while True:
                    status = lib.hushset_write(self._handle, data, len(data), self._buffer,
                                               len(self._buffer), ctypes.byref(self._out_len))
                    if status != HUSHSET_SHORT_BUFFER:
                        break
                    self._reserve(self._out_len.value)
            finally:
                self._set._lock.release_shared()
            _check(status, "hushset_write")
            return ctypes.string_at(self._buffer, self._out_len.value) if self._out_len.value else b""

    def finish(self):
        """Ends the text: returns the held-back bytes."""
        with self._lock:
            self._raise_if_closed()
            return self._finish()

    def close(self):
        with self._lock:
            if self.closed:
                return
            try:
                if self._handle:
                    self._write_tail(self._finish())
            finally:
                if self._handle:
                    self._set._lib.hushset_stream_destroy(self._handle)
                    self._handle = None
                self._set._streams.discard(self)
                super().close()

    def _raise_if_closed(self):
        if self.closed:
            raise ValueError("I/O operation on closed hushmask stream")

    def _reserve(self, capacity):
        if len(self._buffer) < capacity:
            self._buffer = ctypes.create_string_buffer(max(capacity, 2 * len(self._buffer)))

    def _finish(self):
        # Expects self._lock to be held.
        lib = self._set._lib
        self._set._lock.acquire_shared()
        try:
            while True:
                status = lib.hushset_finish(self._handle, self._buffer, len(self._buffer),
                                            ctypes.byref(self._out_len))
                if status != HUSHSET_SHORT_BUFFER:
                    break
                self._reserve(self._out_len.value)
        finally:
            self._set._lock.release_shared()
        _check(status, "hushset_finish")
        return ctypes.string_at(self._buffer, self._out_len.value) if self._out_len.value else b""
