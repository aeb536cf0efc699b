"""Finding and loading libhushmask and libhushset, and declaring their C
functions to ctypes.

Each library is looked up, in this order: the path in its environment
variable (HUSHMASK_LIBRARY, HUSHSET_LIBRARY); next to this package; in a
library directory of the install prefix this package lives under; the
system's library search path.  An explicit path is never silently replaced
by another copy.
"""

import ctypes
import ctypes.util
import os
import pathlib
import threading

_lock = threading.Lock()
_loaded = {}

_U8P = ctypes.POINTER(ctypes.c_uint8)
_U64P = ctypes.POINTER(ctypes.c_uint64)

# The run-time name carries the ABI version the binding speaks.
_NAMES = {
    "hushmask": ("HUSHMASK_LIBRARY", ("libhushmask.so.0", "libhushmask.so", "libhushmask.dylib",
                                      "hushmask.dll")),
    "hushset": ("HUSHSET_LIBRARY", ("libhushset.so.0", "libhushset.so", "libhushset.dylib",
                                    "hushset.dll")),
}


class HushsetOptions(ctypes.Structure):
    """struct hushset_options of hushset.h."""
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("forms", ctypes.c_uint32),
        ("max_stars", ctypes.c_uint64),
        ("min_length", ctypes.c_uint64),
        ("diagnostic", ctypes.c_void_p),
        ("context", ctypes.c_void_p),
    ]


# void (*diagnostic)(void *context, int32_t code, uint32_t form, uint64_t length)
DIAGNOSTIC = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int32, ctypes.c_uint32, ctypes.c_uint64)


def _declare(lib, name, restype, *argtypes):
    function = getattr(lib, name)
    function.restype = restype
    function.argtypes = list(argtypes)


def _declare_hushmask(lib):
    _declare(lib, "hush_new", ctypes.c_void_p)
    _declare(lib, "hush_destroy", None, ctypes.c_void_p)
    _declare(lib, "hush_insert", ctypes.c_int32, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint64)
    _declare(lib, "hush_build", ctypes.c_int32, ctypes.c_void_p)
    _declare(lib, "hush_mask", ctypes.c_int32, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint64,
             ctypes.c_uint64, ctypes.c_uint8, ctypes.POINTER(_U8P), _U64P)
    _declare(lib, "hush_free", None, _U8P, ctypes.c_uint64)
    _declare(lib, "hush_get_reminder", _U8P, ctypes.c_void_p, _U64P)
    _declare(lib, "hush_reset_reminder", None, ctypes.c_void_p)
    return lib


def _declare_hushset(lib):
    options_p = ctypes.POINTER(HushsetOptions)
    _declare(lib, "hushset_options_init", None, options_p)
    _declare(lib, "hushset_new", ctypes.c_void_p, options_p)
    _declare(lib, "hushset_add", ctypes.c_int32, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint64)
    _declare(lib, "hushset_build", ctypes.c_int32, ctypes.c_void_p)
    _declare(lib, "hushset_hold_limit", ctypes.c_uint64, ctypes.c_void_p)
    _declare(lib, "hushset_mask", ctypes.c_int32, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint64,
             ctypes.c_char_p, ctypes.c_uint64, _U64P)
    _declare(lib, "hushset_stream_new", ctypes.c_void_p, ctypes.c_void_p)
    _declare(lib, "hushset_write", ctypes.c_int32, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint64,
             ctypes.c_char_p, ctypes.c_uint64, _U64P)
    _declare(lib, "hushset_finish", ctypes.c_int32, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint64,
             _U64P)
    _declare(lib, "hushset_stream_destroy", None, ctypes.c_void_p)
    _declare(lib, "hushset_destroy", None, ctypes.c_void_p)
    return lib


_DECLARE = {"hushmask": _declare_hushmask, "hushset": _declare_hushset}


def _candidate_paths(file_names):
    """Places to look for a library, most specific first."""
    here = pathlib.Path(__file__).resolve().parent
    for name in file_names:
        yield here / name
    # Installed as <prefix>/<something>/.../hushmask/: try the library
    # directories (lib, lib64, lib/<multiarch>) of each ancestor up to the
    # prefix.  Four levels cover <prefix>/lib/python3.X/site-packages/hushmask.
    for ancestor in list(here.parents)[:4]:
        for libdir in sorted(ancestor.glob("lib*")) + sorted(ancestor.glob("lib/*-*")):
            for name in file_names:
                yield libdir / name


def load(stem):
    """Returns the loaded library `stem` ("hushmask" or "hushset"), loading it
    on first use."""
    with _lock:
        if stem in _loaded:
            return _loaded[stem]
        variable, file_names = _NAMES[stem]
        explicit = os.environ.get(variable)
        path = explicit
        tried = []
        if not path:
            for candidate in _candidate_paths(file_names):
                if candidate.is_file():
                    path = str(candidate)
                    break
                tried.append(str(candidate.parent))
        if not path:
            path = ctypes.util.find_library(stem)
        if not path:
            places = ", ".join(dict.fromkeys(tried))
            raise OSError("hushmask: lib%s not found; set %s or install it (looked in: %s and the "
                          "system search path)" % (stem, variable, places))
        _loaded[stem] = _DECLARE[stem](ctypes.CDLL(path))
        return _loaded[stem]
