"""Tests of Masker, the ctypes binding of libhushmask, run by CTest against
the libraries just built (HUSHMASK_LIBRARY and HUSHSET_LIBRARY point at
them)."""

import io
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

import hushmask

PACKAGE_DIR = pathlib.Path(hushmask.__file__).resolve().parent

# Secrets that share prefixes and suffixes, nest, overlap and repeat, so that
# cuts land inside matches, between overlapping matches and inside a prefix
# that never completes.
SCENARIOS = [
    ([b"abcab", b"bca", b"cabx", b"b"], b"xxabcabcabxabcaby abcab-abca cabx bbbb abcabcab"),
    ([b"password", b"pass"], b"passwor passw password passpassword"),
    ([b"aaa"], b"aa aaaa aaaaaaa a aaa"),
    ([b"\0\1\0", b"\xff\xff"], b"\0\1\0\1\0\xff\xff\xff\0\0\1"),
]


def masked_in_pieces(stream, text, cuts):
    out = []
    begin = 0
    for cut in list(cuts) + [len(text)]:
        out.append(stream.mask(text[begin:cut]))
        begin = cut
    out.append(stream.finish())
    return b"".join(out)


class MaskTest(unittest.TestCase):
    def test_examples(self):
        cases = [
            # name, secrets, text, max_stars, expected
            ("no secrets", [], b"plain", 3, b"plain"),
            ("one secret", [b"hunter2"], b"pw=hunter2;", 3, b"pw=***;"),
            ("default max_stars is 3", [b"hunter2"], b"pw=hunter2;", None, b"pw=***;"),
            ("max_stars 0 removes", [b"hunter2"], b"pw=hunter2;", 0, b"pw=;"),
            ("overlapping matches form one run", [b"abc", b"cde"], b"-abcde-", 10, b"-*****-"),
            ("touching matches form two runs", [b"ab", b"cd"], b"abcd", 1, b"**"),
            ("NUL bytes", [b"a\0b"], b"xa\0by", 3, b"x***y"),
            ("str secrets are UTF-8", ["pässword"], "a pässword".encode(), 1, b"a *"),
            ("bytearray and memoryview", [bytearray(b"key")], memoryview(b"a key"), 1, b"a *"),
            ("empty text", [b"abc"], b"", 3, b""),
        ]
        for name, secrets, text, max_stars, expected in cases:
            with self.subTest(name):
                masker = hushmask.Masker(secrets)
                if max_stars is None:
                    self.assertEqual(masker.mask(text), expected)
                else:
                    self.assertEqual(masker.mask(text, max_stars=max_stars), expected)

    def test_insert_then_build(self):
        masker = hushmask.Masker()
        masker.insert(b"beta")
        self.assertEqual(masker.mask(b"beta", 1), b"beta", "nothing masked before build()")
        masker.build()
        self.assertEqual(masker.mask(b"beta", 1), b"*")

    def test_rejects_bad_arguments(self):
        for lone in ("hunter2", b"hunter2", 7):
            with self.subTest(lone=lone), self.assertRaises(TypeError):
                hushmask.Masker(lone)
        masker = hushmask.Masker([b"x"])
        self.assertEqual(masker.mask("a x, \u00e9", 1), "a *, \u00e9".encode(), "str is UTF-8")
        for text in (7, None, [b"x"]):
            with self.subTest(text=text), self.assertRaises(TypeError):
                masker.mask(text)
        for max_stars, error in ((1.5, TypeError), (True, TypeError), ("3", TypeError),
                                 (-1, ValueError), (1 << 64, ValueError)):
            with self.subTest(max_stars=max_stars), self.assertRaises(error):
                masker.mask(b"x", max_stars=max_stars)
        masker.close()
        with self.assertRaises(ValueError):
            masker.mask(b"x")
        masker.close()  # twice is harmless

    def test_threads_may_share_a_masker(self):
        masker = hushmask.Masker([b"secret"])
        text = b"a secret and another secret " * 200
        expected = masker.mask(text, 2)
        results = []

        def work():
            results.extend(masker.mask(text, 2) for _ in range(50))

        threads = [threading.Thread(target=work) for _ in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(results, [expected] * 200)


class StreamTest(unittest.TestCase):
    def test_every_cut_gives_the_whole_text_result(self):
        for secrets, text in SCENARIOS:
            for max_stars in (0, 1, 3, 100):
                masker = hushmask.Masker(secrets)
                whole = masker.mask(text, max_stars)
                stream = masker.stream(max_stars=max_stars)  # reused: finish() resets
                for i in range(len(text) + 1):
                    for j in range(i, len(text) + 1):
                        got = masked_in_pieces(stream, text, [i, j])
                        if got != whole:
                            self.fail("%r, max_stars %d, cuts %d, %d: %r != %r"
                                      % (text, max_stars, i, j, got, whole))

    def test_file_like_stream_writes_to_its_sink(self):
        for secrets, text in SCENARIOS:
            masker = hushmask.Masker(secrets)
            whole = masker.mask(text, 2)
            for width in range(1, len(text) + 1):
                sink = io.BytesIO()
                with masker.stream(sink, max_stars=2) as out:
                    for begin in range(0, len(text), width):
                        chunk = bytearray(text[begin:begin + width])
                        self.assertEqual(out.write(chunk), len(chunk))
                self.assertTrue(out.closed)
                self.assertFalse(sink.closed, "the sink belongs to the caller")
                self.assertEqual(sink.getvalue(), whole, "chunks of %d" % width)

    def test_close_flushes_the_held_back_tail(self):
        masker = hushmask.Masker([b"abc"])
        sink = io.BytesIO()
        out = masker.stream(sink)
        out.write(b"xyzab")
        self.assertEqual(sink.getvalue(), b"xyz", "'ab' may still become a secret")
        out.close()
        self.assertEqual(sink.getvalue(), b"xyzab")
        out.close()
        self.assertEqual(sink.getvalue(), b"xyzab", "closing twice writes nothing more")
        with self.assertRaises(ValueError):
            out.write(b"more")
        self.assertTrue(out.writable())

    def test_one_open_stream_per_masker(self):
        masker = hushmask.Masker([b"abcdef"])
        sink = io.BytesIO()
        stream = masker.stream(sink)
        stream.write(b"x abc")
        with self.assertRaises(RuntimeError):
            masker.stream()
        with self.assertRaises(RuntimeError):
            masker.mask(b"abcdef")
        print("def", file=stream)  # str, as print writes it
        stream.close()
        self.assertEqual(sink.getvalue(), b"x ***\n", "the open stream was not disturbed")
        self.assertEqual(masker.mask(b"abcdef"), b"***")
        with masker.stream() as again:
            self.assertEqual(again.mask(b"abcdef") + again.finish(), b"***")

    def test_write_needs_a_sink(self):
        with hushmask.Masker([b"abc"]).stream() as stream:
            with self.assertRaises(ValueError):
                stream.write(b"abc")

    def test_a_stream_starts_fresh_and_leaves_nothing_behind(self):
        masker = hushmask.Masker([b"abc"])
        # The whole-text call leaves the walk after "ab"; a new stream must
        # not continue it, or the lone "c" would be taken for a secret.
        self.assertEqual(masker.mask(b"ab"), b"ab")
        stream = masker.stream()
        self.assertEqual(stream.mask(b"c") + stream.finish(), b"c")
        # An abandoned stream holding "ab" must not leak into the next one.
        self.assertEqual(stream.mask(b"ab"), b"")
        stream.close()
        stream = masker.stream()
        self.assertEqual(stream.mask(b"c") + stream.finish(), b"c")


class FailingLibrary:
    """The real library, except that every masking call runs out of memory."""

    def __init__(self, real):
        self._real = real

    def __getattr__(self, name):
        return getattr(self._real, name)

    @staticmethod
    def hush_mask(*args):
        return -1


class OutOfMemoryTest(unittest.TestCase):
    def test_failed_call_raises_and_leaves_the_masker_usable(self):
        masker = hushmask.Masker([b"secret"])
        real = masker._lib
        masker._lib = FailingLibrary(real)
        with self.assertRaises(MemoryError):
            masker.mask(b"a secret")
        stream = masker.stream()
        with self.assertRaises(MemoryError):
            stream.mask(b"a secret")
        masker._lib = real
        self.assertEqual(stream.mask(b"a secret") + stream.finish(), b"a ***")
        stream.close()
        self.assertEqual(masker.mask(b"a secret", 1), b"a *")


@unittest.skipUnless(os.environ.get("HUSHMASK_LIBRARY") and os.environ.get("HUSHSET_LIBRARY"),
                     "needs HUSHMASK_LIBRARY and HUSHSET_LIBRARY")
class LibraryLookupTest(unittest.TestCase):
    """Runs a fresh interpreter on a copy of the package laid out as it would
    be installed, with HUSHMASK_LIBRARY and HUSHSET_LIBRARY unset."""

    VARIABLES = ("HUSHMASK_LIBRARY", "HUSHSET_LIBRARY")

    def setUp(self):
        self.libraries = {name: pathlib.Path(os.environ[name]).resolve() for name in self.VARIABLES}
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="hushmask-lookup-"))

    def tearDown(self):
        shutil.rmtree(self.root)

    def place_package(self, site):
        site.mkdir(parents=True, exist_ok=True)
        shutil.copytree(PACKAGE_DIR, site / "hushmask",
                        ignore=shutil.ignore_patterns("__pycache__"))

    def place_libraries(self, directory):
        """Copies both libraries under their run-time names; returns their
        paths in the order of VARIABLES."""
        directory.mkdir(parents=True, exist_ok=True)
        placed = []
        for variable, soname in zip(self.VARIABLES, ("libhushmask.so.0", "libhushset.so.0")):
            shutil.copy(self.libraries[variable], directory / soname)
            placed.append(str(directory / soname))
        return placed

    def loaded_from(self, site, **library_env):
        env = {k: v for k, v in os.environ.items() if k not in self.VARIABLES}
        env["PYTHONPATH"] = str(site)
        env.update(library_env)
        script = ("import hushmask\n"
                  "assert hushmask.Masker([b'key1']).mask(b'a key1', 1) == b'a *'\n"
                  "assert hushmask.SecretSet([b'key2']).mask(b'a key2') == b'a ***'\n"
                  "print(hushmask.load_library()._name)\n"
                  "print(hushmask.load_set_library()._name)\n")
        run = subprocess.run([sys.executable, "-c", script], env=env, cwd=self.root,
                             capture_output=True, text=True)
        return run.returncode, run.stdout.split(), run.stderr

    def test_next_to_the_package(self):
        site = self.root / "site"
        self.place_package(site)
        libraries = self.place_libraries(site / "hushmask")
        code, names, err = self.loaded_from(site)
        self.assertEqual(code, 0, err)
        self.assertEqual(names, libraries)

    def test_in_the_install_prefix(self):
        for libdir in ("lib", "lib64", "lib/x86_64-linux-gnu"):
            for site in ("lib/python3/site-packages", "lib/python3.11/site-packages"):
                with self.subTest(libdir=libdir, site=site):
                    prefix = self.root / (libdir + site).replace("/", "_")
                    self.place_package(prefix / site)
                    libraries = self.place_libraries(prefix / libdir)
                    code, names, err = self.loaded_from(prefix / site)
                    self.assertEqual(code, 0, err)
                    self.assertEqual(names, libraries)

    def test_environment_variables_win_and_are_not_second_guessed(self):
        site = self.root / "site"
        self.place_package(site)
        self.place_libraries(site / "hushmask")
        elsewhere = self.place_libraries(self.root / "elsewhere")
        code, names, err = self.loaded_from(site, **dict(zip(self.VARIABLES, elsewhere)))
        self.assertEqual(code, 0, err)
        self.assertEqual(names, elsewhere)
        for variable in self.VARIABLES:
            with self.subTest(variable):
                code, _, err = self.loaded_from(site, **{variable: str(self.root / "missing.so")})
                self.assertNotEqual(code, 0)
                self.assertIn("OSError", err)


if __name__ == "__main__":
    unittest.main()
