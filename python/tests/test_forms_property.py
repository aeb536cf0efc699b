"""A property of the derived forms, checked against the encoders of Python's
standard library: for random secrets (any bytes, UTF-8 text, quotes,
slashes, spaces, newlines, control bytes), what an encoder writes for the
secret, inside a longer text, comes out as one masked run, and only the
characters that encoder makes depend on the neighbouring bytes may
survive at its edges (one on each side for base64, none elsewhere)."""

import base64
import html
import json
import random
import shlex
import unittest
import urllib.parse
import xml.sax.saxutils

import hushmask

ALPHABETS = [
    "abcdefghijklmnopqrstuvwxyz0123456789",
    "ab/ :'\"\\%&<>=+?#~!*()\t\n",
    "äöü€✓😀中文",
    "".join(chr(c) for c in range(1, 32)) + "\x7f",
]


def random_secret(rng):
    length = rng.randint(6, 24)
    text = "".join(rng.choice(rng.choice(ALPHABETS)) for _ in range(length))
    return text.strip() or "x" * length


def text_encoders():
    """(name, form bit, encoder of a str secret to the str a program prints)."""
    return [
        ("json ascii", hushmask.FORM_JSON, lambda s: json.dumps(s)[1:-1]),
        ("json utf-8", hushmask.FORM_JSON, lambda s: json.dumps(s, ensure_ascii=False)[1:-1]),
        ("quote", hushmask.FORM_URL, urllib.parse.quote),
        ("quote safe=''", hushmask.FORM_URL, lambda s: urllib.parse.quote(s, safe="")),
        ("quote_plus", hushmask.FORM_URL, urllib.parse.quote_plus),
        ("saxutils.escape", hushmask.FORM_XML, xml.sax.saxutils.escape),
        ("saxutils.quoteattr", hushmask.FORM_XML, lambda s: xml.sax.saxutils.quoteattr(s)[1:-1]),
        ("html.escape", hushmask.FORM_XML, html.escape),
        ("shlex.quote", hushmask.FORM_SHELL, lambda s: shlex.quote(s)),
    ]


def masked_as_one_run(output, text, start, end, edge):
    """Whether `output` is `text` with its bytes [start, end) turned into one
    run of '***', up to `edge` bytes at each side of it kept."""
    for kept_left in range(edge + 1):
        for kept_right in range(edge + 1):
            if output == text[:start + kept_left] + b"***" + text[end - kept_right:]:
                return True
    return False


class FormsPropertyTest(unittest.TestCase):
    def test_standard_library_encodings_are_masked(self):
        rng = random.Random(2026)
        for _ in range(150):
            secret = random_secret(rng)
            for name, form, encode in text_encoders():
                encoded = encode(secret).encode("utf-8", "surrogateescape")
                if name == "shlex.quote" and encoded.startswith(b"'") and encoded.endswith(b"'"):
                    encoded = encoded[1:-1]  # the form stands for the value inside the quotes
                text = b"before [" + encoded + b"] after"
                start = text.index(encoded)
                output = hushmask.SecretSet([secret], forms=form).mask(text)
                with self.subTest(encoder=name, secret=secret):
                    self.assertTrue(masked_as_one_run(output, text, start, start + len(encoded), 0), output)

    def test_base64_inside_longer_blobs(self):
        rng = random.Random(64)
        for _ in range(150):
            secret = random_secret(rng).encode() if rng.random() < 0.5 else rng.randbytes(rng.randint(6, 24))
            before, after = rng.randbytes(rng.randint(0, 5)), rng.randbytes(rng.randint(0, 5))
            for form, encode in ((hushmask.FORM_BASE64, base64.b64encode),
                                 (hushmask.FORM_BASE64URL, base64.urlsafe_b64encode)):
                blob = encode(before + secret + after)
                # The characters that carry the secret's bits.
                start = len(before) * 8 // 6
                end = -(-(len(before) + len(secret)) * 8 // 6)
                output = hushmask.SecretSet([secret], forms=form).mask(blob)
                with self.subTest(form=form, secret=secret, before=len(before)):
                    self.assertTrue(masked_as_one_run(output, blob, start, end, 1), (blob, output))


if __name__ == "__main__":
    unittest.main()
