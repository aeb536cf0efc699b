"""Tests of the ctypes binding, run by CTest against the library just built
(HUSHMASK_LIBRARY points at it)."""

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
        masker = hushmask.Masker([b"x"])
        with self.assertRaises(TypeError):
            masker.mask("text is bytes, not str")
        with self.assertRaises(ValueError):
            masker.mask(b"x", max_stars=-1)
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
    def test_failure_status_becomes_memory_error(self):
        hushmask._check(0)
        with self.assertRaises(MemoryError):
            hushmask._check(-1)

    def test_failed_call_raises_and_leaves_the_masker_usable(self):
        masker = hushmask.Masker([b"secret"])
        real = masker._lib
        masker._lib = FailingLibrary(real)
        with self.assertRaises(MemoryError):
            masker.mask(b"a secret")
        with self.assertRaises(MemoryError):
            masker.stream().mask(b"a secret")
        masker._lib = real
        self.assertEqual(masker.mask(b"a secret", 1), b"a *")


@unittest.skipUnless(os.environ.get("HUSHMASK_LIBRARY"), "needs HUSHMASK_LIBRARY")
class LibraryLookupTest(unittest.TestCase):
    """Runs a fresh interpreter on a copy of the package laid out as it would
    be installed, with HUSHMASK_LIBRARY unset."""

    def setUp(self):
        self.library = pathlib.Path(os.environ["HUSHMASK_LIBRARY"]).resolve()
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="hushmask-lookup-"))

    def tearDown(self):
        shutil.rmtree(self.root)

    def place_package(self, site):
        site.mkdir(parents=True, exist_ok=True)
        shutil.copytree(PACKAGE_DIR, site / "hushmask",
                        ignore=shutil.ignore_patterns("__pycache__"))

    def place_library(self, directory):
        directory.mkdir(parents=True, exist_ok=True)
        shutil.copy(self.library, directory / "libhushmask.so.0")
        return directory / "libhushmask.so.0"

    def loaded_from(self, site, library_env=None):
        env = {k: v for k, v in os.environ.items() if k != "HUSHMASK_LIBRARY"}
        env["PYTHONPATH"] = str(site)
        if library_env is not None:
            env["HUSHMASK_LIBRARY"] = library_env
        script = ("import hushmask; m = hushmask.Masker([b'k']); "
                  "assert m.mask(b'a k', 1) == b'a *'; print(hushmask.load_library()._name)")
        run = subprocess.run([sys.executable, "-c", script], env=env, cwd=self.root,
                             capture_output=True, text=True)
        return run.returncode, run.stdout.strip(), run.stderr

    def test_next_to_the_package(self):
        site = self.root / "site"
        self.place_package(site)
        library = self.place_library(site / "hushmask")
        code, name, err = self.loaded_from(site)
        self.assertEqual(code, 0, err)
        self.assertEqual(name, str(library))

    def test_in_the_install_prefix(self):
        for libdir in ("lib", "lib64", "lib/x86_64-linux-gnu"):
            with self.subTest(libdir):
                prefix = self.root / libdir.replace("/", "_")
                site = prefix / "lib" / "python3" / "site-packages"
                self.place_package(site)
                library = self.place_library(prefix / libdir)
                code, name, err = self.loaded_from(site)
                self.assertEqual(code, 0, err)
                self.assertEqual(name, str(library))

    def test_environment_variable_wins_and_is_not_second_guessed(self):
        site = self.root / "site"
        self.place_package(site)
        self.place_library(site / "hushmask")
        elsewhere = self.place_library(self.root / "elsewhere")
        code, name, err = self.loaded_from(site, library_env=str(elsewhere))
        self.assertEqual(code, 0, err)
        self.assertEqual(name, str(elsewhere))
        code, _, err = self.loaded_from(site, library_env=str(self.root / "missing.so"))
        self.assertNotEqual(code, 0)
        self.assertIn("OSError", err)


if __name__ == "__main__":
    unittest.main()
