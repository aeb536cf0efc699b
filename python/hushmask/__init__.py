"""Mask known secret strings in bytes, whole or as streams of pieces.

A thin ctypes binding over the hushmask libraries; nothing to compile.

SecretSet (libhushset) is what masking logs needs: every occurrence of every
secret, and of the encoded forms it takes in logs, is masked, and one set
serves any number of streams and threads.

    import sys
    from hushmask import SecretSet

    secrets = SecretSet([b"hunter2", "s3cr3t"])      # str secrets are UTF-8
    secrets.mask(b"password=hunter2")                # b"password=***"

    with secrets.stream(sys.stdout.buffer) as out:   # a write-only binary file
        print("login with s3cr3t", file=out)         # str is written as UTF-8
        out.write(b"token=hunt")
        out.write(b"er2\\n")                          # masked across the cut
    # leaving the block wrote the held-back tail

Masker (libhushmask) is the exact longest-match engine: one stream per
handle, a longest partial match reported.  Each run of secret bytes becomes
at most ``max_stars`` asterisks (0 removes runs).  A stream gives byte for
byte what ``mask`` gives for the whole text, however the text was cut.

Text given to mask(), write() or print(file=...) may be bytes-like or str;
str is encoded as UTF-8.  A collection of secrets must be one: a lone str,
bytes or int raises TypeError (it would otherwise be taken character by
character).  max_stars and min_length must be ints >= 0.

Each library is looked up, in this order: the path in the environment
variable HUSHMASK_LIBRARY (libhushmask) or HUSHSET_LIBRARY (libhushset);
next to this package; in a library directory of the install prefix this
package lives under; the system's library search path.

Out of memory inside a library raises MemoryError; the set or masker is
unchanged and the same call can be made again.
"""

from ._masker import Masker, MaskingStream, load_library
from ._set import (FORM_BASE64, FORM_BASE64URL, FORM_JSON, FORM_LINES, FORM_SHELL, FORM_URL,
                   FORM_XML, FORMS_ALL, FORMS_DEFAULT, SecretSet, SecretStream, load_set_library)

__all__ = [
    "SecretSet", "SecretStream", "Masker", "MaskingStream", "load_library", "load_set_library",
    "FORM_LINES", "FORM_BASE64", "FORM_BASE64URL", "FORM_URL", "FORM_JSON", "FORM_XML",
    "FORM_SHELL", "FORMS_ALL", "FORMS_DEFAULT",
]
__version__ = "0.1.0"
