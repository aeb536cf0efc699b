"""End-to-end tests of the hushmask command: each test spawns the built binary.

The binary is named by the HUSHMASK_BIN environment variable (CTest sets it).
Only the Python standard library is used, so every form the tool claims to
catch is produced here by an independent encoder: Python's base64, urllib,
json, html, xml.sax.saxutils and shlex, and bash's printf %q and set -x.
"""

import base64
import html
import json
import os
import random
import re
import resource
import select
import shlex
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import xml.sax.saxutils

BIN = os.environ.get("HUSHMASK_BIN", "hushmask")
HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")
SECRET = "SECRETVALUE-93f1"


def run(args, stdin=b"", env=None, timeout=60):
    return subprocess.run([BIN, *args], input=stdin, capture_output=True, env=env, timeout=timeout)


def reference_mask(text, secrets, max_stars):
    """Masks `text` the naive way: every occurrence of every secret, also one
    inside another, occurrences that share a byte joined into runs, each run
    replaced by min(length, max_stars) stars."""
    matches = []
    for secret in secrets:
        start = text.find(secret)
        while start >= 0:
            matches.append((start, start + len(secret)))
            start = text.find(secret, start + 1)
    matches.sort()
    out = bytearray()
    position = 0
    i = 0
    while i < len(matches):
        run_start, run_end = matches[i]
        i += 1
        while i < len(matches) and matches[i][0] < run_end:
            run_end = max(run_end, matches[i][1])
            i += 1
        out += text[position:run_start] + b"*" * min(run_end - run_start, max_stars)
        position = run_end
    return bytes(out + text[position:])


class TempDirTest(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.dir = self._dir.name

    def tearDown(self):
        self._dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path


class StreamingTest(TempDirTest):
    def test_every_small_chunk_size_gives_the_whole_read_output(self):
        sample = os.path.join(EXAMPLES, "sample.log")
        secrets = os.path.join(EXAMPLES, "secrets.txt")
        for max_stars in ("0", "3", "100"):
            whole = run(["-f", secrets, "-n", max_stars, sample])
            self.assertEqual(whole.returncode, 0, whole.stderr)
            with open(sample, "rb") as f:
                self.assertNotEqual(whole.stdout, f.read())
            for chunk in range(1, 10):
                with self.subTest(max_stars=max_stars, chunk=chunk):
                    cut = run(["-f", secrets, "-n", max_stars, "--chunk-size", str(chunk), sample])
                    self.assertEqual(cut.returncode, 0, cut.stderr)
                    self.assertEqual(cut.stdout, whole.stdout)

    def test_random_texts_match_a_naive_reference_at_every_chunk_size(self):
        # Over three letters the secrets nest and overlap all the time: a
        # secret inside another, or inside a partial copy of a longer one, is
        # masked like any other occurrence.
        rng = random.Random(20261208)
        for round_ in range(6):
            secrets = sorted({bytes(rng.choice(b"ab\xff") for _ in range(rng.randint(2, 6)))
                              for _ in range(rng.randint(2, 6))})
            args = ["-f", self.write("secrets", b"\n".join(secrets)), "--encodings", "none", "--min-length", "1"]
            text = bytes(rng.choice(b"ab\x00\xff") for _ in range(rng.randrange(50, 300)))
            for max_stars in (0, 2, 5):
                expected = reference_mask(text, secrets, max_stars)
                for chunk in (1, 2, 3, 5, 7, 65536):
                    with self.subTest(round=round_, max_stars=max_stars, chunk=chunk, secrets=secrets):
                        result = run(args + ["-n", str(max_stars), "--chunk-size", str(chunk)], text)
                        self.assertEqual(result.returncode, 0, result.stderr)
                        self.assertEqual(result.stdout, expected)

    def test_several_files_form_one_stream(self):
        first = self.write("a", b"start " + SECRET[:7].encode())
        second = self.write("b", SECRET[7:].encode() + b" end\n")
        result = run(["-s", SECRET, first, second])
        self.assertEqual(result.stdout, b"start *** end\n")
        piped = run(["-s", SECRET, first, "-", second], stdin=b"|")
        self.assertEqual(piped.stdout, b"start " + SECRET[:7].encode() + b"|" + SECRET[7:].encode() + b" end\n")

    def test_each_line_is_written_as_it_arrives(self):
        proc = subprocess.Popen([BIN, "-s", SECRET], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        try:
            for n in range(3):
                proc.stdin.write(f"line {n} {SECRET} end\n".encode())
                proc.stdin.flush()
                expected = f"line {n} *** end\n".encode()
                got = b""
                deadline = time.monotonic() + 10
                while len(got) < len(expected) and time.monotonic() < deadline:
                    ready, _, _ = select.select([proc.stdout], [], [], 0.5)
                    if ready:
                        got += os.read(proc.stdout.fileno(), 4096)
                self.assertEqual(got, expected, "output must not wait for more input")
        finally:
            proc.stdin.close()
            proc.wait(timeout=10)
            proc.stdout.close()
            proc.stderr.close()


class PassthroughTest(TempDirTest):
    def test_binary_input_passes_byte_for_byte(self):
        rng = random.Random(7)
        data = bytes(range(256)) * 16 + b"\x00\xff" * 300 + bytes(rng.randrange(256) for _ in range(5000))
        for chunk in ("1", "3", "65536"):
            with self.subTest(chunk=chunk):
                result = run(["-s", SECRET, "--chunk-size", chunk], data)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, data)

    def test_secrets_with_nul_and_ff_bytes_are_masked(self):
        secrets = self.write("bin", b"\x00\xffAB\x00\x01\n")
        data = b"\xff\xfe\x00\xffAB\x00\x01\xfe\n"
        result = run(["-f", secrets, "--chunk-size", "2"], data)
        self.assertEqual(result.stdout, b"\xff\xfe***\xfe\n")

    def test_allow_empty_passes_input_through_with_a_warning(self):
        data = b"nothing\x00to\xffmask\n"
        result = run(["--allow-empty"], data)
        self.assertEqual((result.returncode, result.stdout), (0, data))
        self.assertIn(b"warning", result.stderr)


class SourcesTest(TempDirTest):
    def test_every_source_masks_its_secrets(self):
        lf = self.write("lf.txt", b"alpha-secret-1\n\n\nbravo-secret-2\ncharlie-no-newline")
        crlf = self.write("crlf.txt", b"delta-secret-4\r\n\r\necho-secret-5\r\n")
        text = (b"a alpha-secret-1 b bravo-secret-2 c charlie-no-newline d delta-secret-4\r\n"
                b"e echo-secret-5 f foxtrot-6 g golf-secret-7 h\n")
        result = run(["-f", lf, "-f", crlf, "-s", "foxtrot-6", "--secret=golf-secret-7"], text)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, b"a *** b *** c *** d ***\r\ne *** f *** g *** h\n")

    def test_nul_separated_multi_line_secret_is_masked_whole_and_by_line(self):
        key = b"-----BEGIN DEMO KEY-----\nMIIBdemoLineOne\r\nZm9vYmFyTineTwo\n-----END DEMO KEY-----"
        path = self.write("keys", key + b"\0other-secret\0\0")
        whole = run(["-0", "-f", path], b"key: " + key + b" done\n")
        self.assertEqual(whole.stdout, b"key: *** done\n")
        # A log that prints the value line by line, with its own prefixes.
        by_line = b"".join(b"log| " + line.rstrip(b"\r") + b"\n" for line in key.split(b"\n"))
        result = run(["-0", "-f", path], by_line + b"other-secret\n")
        self.assertEqual(result.stdout, b"log| ***\n" * 4 + b"***\n")

    def test_environment_globs_pick_variables_by_name(self):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "API_KEY": "api-key-value-1",
            "CI_TOKEN": "ci-token-value-2",
            "DEPLOY_TOKEN": "deploy-token-value-3",
            "TOKENS_NOT": "not-a-token-value",
        }
        text = b"api-key-value-1 ci-token-value-2 deploy-token-value-3 not-a-token-value\n"
        cases = [
            (["-e", "*_TOKEN"], b"api-key-value-1 *** *** not-a-token-value\n"),
            (["--env", "API_KEY"], b"*** ci-token-value-2 deploy-token-value-3 not-a-token-value\n"),
            (["-e", "[AC]*_*"], b"*** *** deploy-token-value-3 not-a-token-value\n"),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                result = run(args, text, env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, expected)
        unmatched = run(["-e", "API_KEY", "-e", "NO_SUCH_*", "-s", SECRET], b"x", env=env)
        self.assertEqual(unmatched.stderr, b"hushmask: warning: the second -e pattern matches no variable\n")

    def test_secrets_on_standard_input_need_the_text_elsewhere(self):
        log = self.write("log", b"a stdin-secret-1 b\n")
        piped = run(["-f", "-", log], b"stdin-secret-1\n")
        self.assertEqual((piped.returncode, piped.stdout), (0, b"a *** b\n"), piped.stderr)
        executed = run(["-f", "-", "--exec", "cat", log], b"stdin-secret-1\n")
        self.assertEqual((executed.returncode, executed.stdout), (0, b"a *** b\n"), executed.stderr)
        with open(log, "rb") as redirected:
            same = subprocess.run([BIN, "-f", log], stdin=redirected, capture_output=True, timeout=60)
        for name, result in (("-f -", run(["-f", "-"], b"stdin-secret-1\n")),
                             ("-f - with FILE -", run(["-f", "-", log, "-"], b"stdin-secret-1\n")),
                             ("-f /dev/stdin", run(["-f", "/dev/stdin"], b"stdin-secret-1\n")),
                             ("-f the file on standard input", same)):
            with self.subTest(name):
                self.assertEqual((result.returncode, result.stdout), (2, b""))
                self.assertIn(b"standard input", result.stderr)

    def test_a_byte_order_mark_is_dropped_with_a_warning(self):
        path = self.write("bom.txt", b"\xef\xbb\xbffirst-secret\r\nsecond-secret\r\n")
        result = run(["-f", path], b"first-secret second-secret \xef\xbb\xbf\n")
        self.assertEqual(result.stdout, b"*** *** \xef\xbb\xbf\n")
        self.assertEqual(result.stderr, b"hushmask: warning: the first -f file starts with a UTF-8 byte-order mark: "
                                        b"dropped\n")

    def test_unreadable_secrets_file_fails(self):
        result = run(["-f", os.path.join(self.dir, "missing")])
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"cannot read the first -f file", result.stderr)


# Secrets for the form tables: quotes, slashes, spaces, '%', markup, non-ASCII
# text (a character outside the BMP too, for JSON surrogate pairs) and
# control bytes, the bytes each encoder treats specially.
FORM_SECRETS = [
    "p@ss w/rd:100%",
    'say "hi" & <bye>',
    "it's-a-secret",
    "pässwörd-42 ✓",
    "emoji-\U0001F600-key",
    "tab\there\nnew\\line",
]


def lower_hex(text):
    return re.sub(r"%[0-9A-F]{2}", lambda m: m.group().lower(), text)


def json_inner(text, **kwargs):
    return json.dumps(text, **kwargs)[1:-1]


def unquote_shell(quoted):
    """The quoted argument without its outer quotes, as the forms hold it."""
    if quoted.startswith("$'") and quoted.endswith("'"):
        return quoted[2:-1]
    if len(quoted) >= 2 and quoted.startswith("'") and quoted.endswith("'"):
        return quoted[1:-1]
    return quoted


def bash(script, value, locale):
    env = dict(os.environ, V=value, LC_ALL=locale)
    result = subprocess.run(["bash", "-c", script], capture_output=True, env=env, timeout=30)
    return result.stdout + result.stderr


def bash_rows(secret):
    """(style, text, form) of bash's quoting of `secret`, in the C and a
    UTF-8 locale: the text bash prints and the part of it that must be
    masked."""
    rows = []
    for locale in ("C", "C.UTF-8"):
        quoted = bash('printf %q "$V"', secret, locale)
        rows.append((f"printf %q {locale}", quoted, unquote_shell(quoted.decode(errors="surrogateescape"))))
        trace = bash('set -x; : "$V"', secret, locale).rstrip(b"\n")
        assert trace.startswith(b"+ : "), trace
        rows.append((f"set -x {locale}", trace, unquote_shell(trace[4:].decode(errors="surrogateescape"))))
    return [(style, text, form.encode(errors="surrogateescape")) for style, text, form in rows]


def encoder_rows(form, secret):
    """(style, text, masked) rows for one form: `text` is what an encoder
    writes for `secret`, `masked` the part of it that must come out as one
    run."""
    if form == "shell":
        rows = bash_rows(secret)
        quoted = shlex.quote(secret)
        rows.append(("shlex.quote", quoted.encode(), unquote_shell(quoted).encode()))
        return rows
    styles = {
        "url": [
            ("quote", lambda v: urllib.parse.quote(v)),
            ("quote safe=''", lambda v: urllib.parse.quote(v, safe="")),
            ("quote safe='' lower hex", lambda v: lower_hex(urllib.parse.quote(v, safe=""))),
            ("quote_plus", lambda v: urllib.parse.quote_plus(v)),
            ("urlencode", lambda v: urllib.parse.urlencode({"k": v})[2:]),
            ("urlencode lower hex", lambda v: lower_hex(urllib.parse.urlencode({"k": v})[2:])),
        ],
        "json": [
            ("dumps", lambda v: json_inner(v)),
            ("dumps upper hex", lambda v: re.sub(r"\\u[0-9a-f]{4}", lambda m: m.group().upper().replace("\\U", "\\u"),
                                                 json_inner(v))),
            ("dumps ensure_ascii=False", lambda v: json_inner(v, ensure_ascii=False)),
            ("dumps with \\/", lambda v: json_inner(v).replace("/", "\\/")),
            ("dumps html-safe", lambda v: json_inner(v).replace("<", "\\u003c").replace(">", "\\u003e")
             .replace("&", "\\u0026")),
        ],
        "xml": [
            ("html.escape", lambda v: html.escape(v)),
            ("html.escape quote=False", lambda v: html.escape(v, quote=False)),
            ("saxutils.escape", lambda v: xml.sax.saxutils.escape(v)),
            ("saxutils.quoteattr", lambda v: xml.sax.saxutils.quoteattr(v)[1:-1]),
        ],
    }[form]
    return [(style, encode(secret).encode(), encode(secret).encode()) for style, encode in styles]


def base64_rows(secret, encode):
    """The secret inside longer blobs at each byte alignment: the blob, and
    the characters of it that the secret's bytes alone decide."""
    rows = []
    for before in range(4):
        for after in range(3):
            blob = encode(b"\x01" * before + secret + b"\xfe" * after)
            start, end = 8 * before, 8 * (before + len(secret))  # bit range of the secret
            inner = blob[-(-start // 6):(end - 6) // 6 + 1]
            rows.append((f"{before} before, {after} after", blob, inner))
    return rows


class FormsTest(unittest.TestCase):
    """Each form's table: what a standard encoder writes for a secret, inside
    a longer text, comes out with the encoded secret as one masked run."""

    def check_rows(self, form, secret, rows):
        for style, text, masked in rows:
            line = b"before " + text + b" after\n"
            self.assertEqual(line.count(masked), 1, (style, line))
            with self.subTest(form=form, style=style, secret=secret):
                result = run(["-s", secret, "--encodings", form], line)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, line.replace(masked, b"***"))

    def test_url_json_xml_and_shell_encoders(self):
        for form in ("url", "json", "xml", "shell"):
            for secret in FORM_SECRETS:
                self.check_rows(form, secret, encoder_rows(form, secret))

    def test_base64_inside_longer_blobs_at_each_alignment(self):
        for secret in (b"base64-secret/val+ue", "pässwörd-42 ✓".encode(), bytes(range(250, 256)) * 2):
            self.check_rows("base64", secret, base64_rows(secret, base64.b64encode))
            self.check_rows("base64url", secret, base64_rows(secret, base64.urlsafe_b64encode))

    def test_default_forms_and_none(self):
        secret = 'p@ss w/rd "100%"'
        text = (urllib.parse.quote(secret) + " " + json.dumps({"k": secret}) + " " + html.escape(secret) + " "
                + base64.b64encode(secret.encode()).decode() + "\n").encode()
        self.assertNotIn(b"100", run(["-s", secret], text).stdout)
        self.assertEqual(run(["-s", secret, "--encodings", "none"], text).stdout, text)


def line_forms(secret):
    """The lines form written from its documented rule: each line (split at
    CRLF, LF or a lone CR), trimmed too, blank ones left out; the whole with
    LF and with CRLF line ends."""
    lines = re.split(rb"\r\n|\n|\r", secret)
    forms = {secret, b"\n".join(lines), b"\r\n".join(lines)}
    for line in lines:
        if line.strip(b" \t\v\f"):
            forms |= {line, line.strip(b" \t\v\f")}
    return sorted(forms)


class MultiLineTest(unittest.TestCase):
    LINES = [b"-----BEGIN DEMO KEY-----", b"  \"client_key\": \"k-2f9a\",", b"", b" \t ",
             b"MIIBdemoLineThree", b"-----END DEMO KEY-----"]

    def test_whole_values_lines_and_reindented_copies(self):
        for name, line_end in (("LF", b"\n"), ("CRLF", b"\r\n"), ("CR", b"\r")):
            secret = line_end.join(self.LINES)
            texts = [b"key: " + self.LINES[0] + end + b"".join(l + end for l in self.LINES[1:]) + b"done\n"
                     for end in (b"\n", b"\r\n", b"\r")]
            # A log that prints the value line by line, indented its own way.
            texts.append(b"".join(b"log|" + b"\t" * (i % 3) + l.strip() + b"\n" for i, l in enumerate(self.LINES)))
            texts.append(b"spaces    and\t\ttabs stay\n")
            for number, text in enumerate(texts):
                expected = reference_mask(text, line_forms(secret), 3)
                for chunk in (1, 7, 65536):
                    with self.subTest(line_end=name, text=number, chunk=chunk):
                        result = run(["-s", secret, "--encodings", "lines", "--chunk-size", str(chunk)], text)
                        self.assertEqual(result.returncode, 0, result.stderr)
                        self.assertEqual(result.stdout, expected)
            self.assertIn(b"a line of -s #1 holds only whitespace (3 bytes): left out", result.stderr)
            self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)


class WarningsTest(TempDirTest):
    def test_short_secrets_are_named_by_source_and_length_only(self):
        secrets = self.write("s.txt", b"long-enough-secret\nQz7\n")
        env = dict(os.environ, SHORT_VAR="Xy")
        result = run(["-s", "Kw9", "-f", secrets, "-e", "SHORT_VAR", "-s", SECRET], b"Kw9 Qz7 Xy\n", env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, b"Kw9 Qz7 Xy\n")
        errors = result.stderr.decode()
        self.assertIn("-s #1 is 3 bytes long, shorter than --min-length 4", errors)
        self.assertIn("line 2 of the first -f file is 3 bytes long", errors)
        self.assertIn("the first -e variable is 2 bytes long", errors)
        for value in ("Kw9", "Qz7", "Xy", SECRET):
            self.assertNotIn(value, errors)
        lowered = run(["-s", "ab", "--min-length", "2", "--encodings", "none"], b"cabd\n")
        self.assertEqual((lowered.stdout, lowered.stderr), (b"c**d\n", b""))

    def test_exit_statuses(self):
        # A source that yields no secret is normal in CI and only warns;
        # exit 2 is for no source option at all and for a source that cannot
        # be read (the text is then not read either).
        env = dict(os.environ, EMPTY_VAR="")
        missing = os.path.join(self.dir, "missing")
        cases = [
            ("no source option", [], 2, b""),
            ("--allow-empty", ["--allow-empty"], 0, b"text ab\n"),
            ("empty variable", ["-e", "EMPTY_VAR"], 0, b"text ab\n"),
            ("glob matching nothing", ["-e", "UNSET_VAR_*"], 0, b"text ab\n"),
            ("every form too short", ["-s", "ab"], 0, b"text ab\n"),
            ("empty value", ["-s", ""], 0, b"text ab\n"),
            ("empty file", ["-f", self.write("empty", b"")], 0, b"text ab\n"),
            ("file of blank lines", ["-f", self.write("blank", b"\n\r\n")], 0, b"text ab\n"),
            ("unreadable file", ["-f", missing], 2, b""),
            ("unreadable beside a secret", ["-s", "text", "-f", missing], 2, b""),
        ]
        for name, args, status, stdout in cases:
            with self.subTest(name):
                result = run(args, b"text ab\n", env=env)
                self.assertEqual((result.returncode, result.stdout), (status, stdout), result.stderr)
                self.assertIn(b"error: " if status else b"warning: ", result.stderr)


class NestingTest(TempDirTest):
    """A secret inside another one, not at its start, is masked wherever it
    occurs: also next to a partial copy of the longer one."""
    PEM = b"-----BEGIN-----\nLINE2SECRET\n-----END-----"

    def test_a_secret_inside_a_partial_copy_of_a_longer_one_is_masked(self):
        result = run(["-s", "ABCDEFGHXX", "-s", "DEFGH", "-s", "HIJK"], b"ABCDEFGHIJK\n")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"ABC***\n", b""))

    def test_lines_of_a_multi_line_secret_are_masked_next_to_a_partial_copy(self):
        path = self.write("ml.bin", self.PEM + b"\0")
        cases = [
            ("truncated copy", b"-----BEGIN-----\nLINE2SECRET\n(truncated)\n", b"***\n***\n(truncated)\n"),
            ("whole secret is one run", b"key: " + self.PEM + b" done\n", b"key: *** done\n"),
            ("lines on their own", b"| LINE2SECRET |\n| -----END----- |\n", b"| *** |\n| *** |\n"),
        ]
        for encodings in ("lines", "default"):
            for name, text, expected in cases:
                for chunk in [*range(1, 10), 65536]:
                    with self.subTest(name, encodings=encodings, chunk=chunk):
                        result = run(["-0", "-f", path, "--encodings", encodings, "--chunk-size", str(chunk)], text)
                        self.assertEqual((result.returncode, result.stderr), (0, b""))
                        self.assertEqual(result.stdout, expected)


class CheckTest(unittest.TestCase):
    def test_exit_status_tells_whether_anything_was_masked(self):
        cases = [
            ("nothing", ["-s", SECRET], b"clean text\n", 0),
            ("masked", ["-s", SECRET], f"a {SECRET} b\n".encode(), 1),
            ("removed", ["-s", SECRET, "-n", "0"], f"a {SECRET} b\n".encode(), 1),
            ("stars unchanged", ["-s", "****", "-n", "4"], b"a **** b\n", 1),
            ("split", ["-s", SECRET, "--chunk-size", "1"], f"a {SECRET}".encode(), 1),
        ]
        for name, args, text, status in cases:
            with self.subTest(name):
                plain = run(args, text)
                checked = run(args + ["--check"], text)
                self.assertEqual(checked.returncode, status, checked.stderr)
                self.assertEqual(checked.stdout, plain.stdout)


class ExecTest(unittest.TestCase):
    def test_both_streams_are_masked_and_the_status_passes_through(self):
        script = f"echo out {SECRET}; echo err {SECRET} >&2; cat; exit 7"
        result = run(["-s", SECRET, "--exec", "sh", "-c", script], stdin=f"in {SECRET}\n".encode())
        self.assertEqual(result.returncode, 7)
        self.assertEqual(result.stdout, b"out ***\nin ***\n")
        self.assertEqual(result.stderr, b"err ***\n")

    def test_signal_death_is_reported_as_128_plus_signal(self):
        for sig in (signal.SIGTERM, signal.SIGKILL):
            with self.subTest(sig=sig):
                result = run(["-s", SECRET, "--exec", "sh", "-c", f"echo {SECRET}; kill -{int(sig)} $$"])
                self.assertEqual(result.returncode, 128 + int(sig))
                self.assertEqual(result.stdout, b"***\n")

    def test_sigint_and_sigterm_are_passed_on(self):
        child = ("import signal, sys, time\n"
                 "def done(n, f):\n"
                 f"    print('got', n, '{SECRET}', flush=True); sys.exit(40 + n)\n"
                 "signal.signal(signal.SIGINT, done); signal.signal(signal.SIGTERM, done)\n"
                 "print('ready', flush=True)\n"
                 "time.sleep(30)\n")
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(sig=sig):
                proc = subprocess.Popen([BIN, "-s", SECRET, "--exec", sys.executable, "-c", child],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertEqual(proc.stdout.readline(), b"ready\n")
                proc.send_signal(sig)
                out, err = proc.communicate(timeout=20)
                self.assertEqual(out, f"got {int(sig)} ***\n".encode(), err)
                self.assertEqual(proc.returncode, 40 + int(sig))

    def test_check_applies_to_a_successful_command(self):
        self.assertEqual(run(["--check", "-s", SECRET, "--exec", "echo", SECRET]).returncode, 1)
        self.assertEqual(run(["--check", "-s", SECRET, "--exec", "echo", "clean"]).returncode, 0)
        self.assertEqual(run(["--check", "-s", SECRET, "--exec", "sh", "-c", f"echo {SECRET}; exit 3"]).returncode, 3)


class ErrorsTest(TempDirTest):
    def test_usage_errors_exit_2_with_one_line(self):
        cases = [
            ("unknown long option", ["--secrett=" + SECRET]),
            ("unknown short option", ["-x" + SECRET]),
            ("bad max-stars", ["-n", "three"]),
            ("negative min-length", ["--min-length", "-1"]),
            ("zero chunk size", ["--chunk-size", "0"]),
            ("huge chunk size", ["--chunk-size", "99999999999999999999"]),
            ("unknown encoding", ["--encodings", "base64,rot13"]),
            ("none mixed", ["--encodings", "none,url"]),
            ("missing value", ["--max-stars"]),
            ("flag with value", ["--check=yes"]),
            ("missing file", [os.path.join(self.dir, "absent.log")]),
            ("directory", [self.dir]),
            ("exec without command", ["--exec"]),
            ("files and exec", ["input.log", "--exec", "true"]),
        ]
        for name, args in cases:
            with self.subTest(name):
                result = run(["-s", SECRET] + args, b"input\n")
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, b"")
                self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
                self.assertTrue(result.stderr.startswith(b"hushmask: error: "), result.stderr)
                self.assertNotIn(SECRET.encode(), result.stderr)

    def test_help_and_version(self):
        help_ = run(["--help"])
        self.assertEqual(help_.returncode, 0)
        self.assertIn(b"Command lines are visible to other", help_.stdout)
        version = run(["--version"])
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout.decode(), r"^hushmask \d+\.\d+\.\d+\n$")

    def test_closed_output_pipe_ends_quietly(self):
        big = self.write("big.log", (f"line with {SECRET} in it\n" * 200000).encode())
        for mode in ([big], ["--exec", "cat", big]):
            with self.subTest(mode=mode[0]):
                script = '"$0" -s "$1" "${@:2}" | head -c 10; echo "status=${PIPESTATUS[0]}" >&2'
                result = subprocess.run(["bash", "-c", script, BIN, SECRET, *mode], stdin=subprocess.DEVNULL,
                                        capture_output=True, timeout=60)
                self.assertEqual(result.stdout, b"line with ")
                # The filter ends with its own status; cat under --exec dies of SIGPIPE.
                expected = b"status=0\n" if mode[0] == big else b"status=141\n"
                self.assertEqual(result.stderr, expected)


class MessagesTest(TempDirTest):
    TYPED = "tYpEd-SeCrEt-42"

    def test_a_value_typed_where_a_name_goes_is_never_printed(self):
        # Registered or not, a secret given as a pattern, a path, a FILE, a
        # command or an option name is named by its place.
        places = [
            ("-e pattern", ["-e", self.TYPED], 0),
            ("-f path", ["-f", self.TYPED], 2),
            ("-f path in a directory", ["-f", os.path.join(self.dir, self.TYPED)], 2),
            ("FILE", [self.TYPED], 2),
            ("--exec command", ["--exec", self.TYPED], 127),
            ("--exec path", ["--exec", os.path.join(self.dir, self.TYPED)], 127),
            ("long option", ["--" + self.TYPED], 2),
        ]
        for registered in (["-s", self.TYPED], ["-s", "another-secret"]):
            for name, args, status in places:
                with self.subTest(name, registered=registered[1]):
                    result = run(registered + args, b"text\n")
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertNotEqual(result.stderr, b"")
                    self.assertNotIn(self.TYPED.encode(), result.stderr)

    def test_messages_are_masked_by_the_set(self):
        # A glob names the variables it picked from the environment; one
        # whose name is itself a secret shows up masked.
        env = dict(os.environ, NAME_IS_SECRET_TOKEN="")
        result = run(["-s", "NAME_IS_SECRET", "-e", "*_TOKEN"], b"x\n", env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"variable ***_TOKEN of the first -e pattern is empty", result.stderr)


def wait_for(condition, what, timeout=30):
    """Polls `condition` until it holds; fails the test with `what` after
    `timeout` seconds, which a loaded machine never needs."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)


def read_until(stream, expected, timeout=30):
    """Reads from a pipe until `expected` has arrived (or the pipe ends)."""
    got = b""
    deadline = time.monotonic() + timeout
    while not got.endswith(expected) and time.monotonic() < deadline:
        ready, _, _ = select.select([stream], [], [], 0.5)
        if ready:
            chunk = os.read(stream.fileno(), 65536)
            if not chunk:
                break
            got += chunk
    return got


def process_gone(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except FileNotFoundError:
        return True


class DirectivesTest(TempDirTest):
    TOKEN = "minted-token-7c1e"

    def test_a_directive_masks_its_own_line_and_everything_after(self):
        text = (f"before {self.TOKEN}\n::add-mask::{self.TOKEN}\r\nafter {self.TOKEN} x\n"
                f"  ::add-mask::not-a-directive\n::add-mask::{self.TOKEN}").encode()
        expected = (f"before {self.TOKEN}\n::add-mask::***\r\nafter *** x\n"
                    f"  ::add-mask::not-a-directive\n::add-mask::***").encode()
        for chunk in ("1", "5", "65536"):
            with self.subTest(chunk=chunk):
                result = run(["--directives", "--allow-empty", "--chunk-size", chunk, "--check"], text)
                self.assertEqual((result.returncode, result.stdout), (1, expected), result.stderr)
        off = run(["--allow-empty"], text)
        self.assertEqual(off.stdout, text)

    def test_a_directive_on_stderr_masks_stdout_past_its_held_back_bytes(self):
        # stdout holds back "known-sec" (a prefix of a secret) while stderr
        # registers another secret; the command goes on only once the
        # directive is out, masked.
        fifo = os.path.join(self.dir, "go")
        os.mkfifo(fifo)
        script = (f"printf 'x known-sec'; printf '::add-mask::{self.TOKEN}\\n' >&2; read go < {fifo}; "
                  f"printf 'ret-1 {self.TOKEN}\\n'; printf 'err {self.TOKEN}\\n' >&2")
        proc = subprocess.Popen([BIN, "-s", "known-secret-1", "--directives", "--exec", "sh", "-c", script],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            self.assertEqual(read_until(proc.stderr, b"\n"), b"::add-mask::***\n")
            with open(fifo, "w") as go:
                go.write("go\n")
            out, err = proc.communicate(timeout=30)
        finally:
            proc.kill()
            proc.wait()
        self.assertEqual((proc.returncode, out, err), (0, b"x *** ***\n", b"err ***\n"))

    def test_the_control_socket_adds_secrets_to_a_running_filter(self):
        path = os.path.join(self.dir, "ctl")
        proc = subprocess.Popen([BIN, "-s", "known-secret-1", "--control", path], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            wait_for(lambda: os.path.exists(path), "the control socket")
            self.assertEqual(os.stat(path).st_mode & 0o777, 0o600)
            # Once the first line is out, the rest of the write is held back
            # ("known-sec" may still become the secret).
            proc.stdin.write(b"visible line\nx known-sec")
            proc.stdin.flush()
            self.assertEqual(read_until(proc.stdout, b"x "), b"visible line\nx ")
            added = run(["--add-secret", path], stdin=f"{self.TOKEN}\n".encode())
            self.assertEqual((added.returncode, added.stderr), (0, b""))
            # Any client may write lines; each is a secret, in force once
            # the server has answered.
            with socket.socket(socket.AF_UNIX) as client:
                client.connect(path)
                client.sendall(b"line-secret-aa\r\nline-secret-bb")
                client.shutdown(socket.SHUT_WR)
                self.assertEqual(client.recv(16), b"ok\n")
            proc.stdin.write(f"ret-1 {self.TOKEN} line-secret-aa line-secret-bb\n".encode())
            proc.stdin.close()
            out = proc.stdout.read()
            self.assertEqual(proc.wait(timeout=30), 0)
        finally:
            proc.kill()
            proc.wait()
            proc.stdout.close()
            proc.stderr.close()
        self.assertEqual(out, b"*** *** *** ***\n")
        self.assertFalse(os.path.exists(path), "the socket is removed at exit")

    def test_add_secret_takes_its_value_from_standard_input_only(self):
        path = os.path.join(self.dir, "ctl")
        extra = run(["--add-secret", path, self.TOKEN], stdin=b"x\n")
        self.assertEqual(extra.returncode, 2)
        self.assertNotIn(self.TOKEN.encode(), extra.stderr)
        nobody = run(["--add-secret", path], stdin=f"{self.TOKEN}\n".encode())
        self.assertEqual(nobody.returncode, 2)
        self.assertIn(b"cannot connect", nobody.stderr)
        self.assertNotIn(self.TOKEN.encode(), nobody.stderr)


def reference_runs(text, secret):
    """(start, span) of every run of `secret` in `text`, the naive way."""
    runs = []
    start = text.find(secret)
    while start >= 0:
        end = start + len(secret)
        if runs and start < runs[-1][0] + runs[-1][1]:
            runs[-1] = (runs[-1][0], end - runs[-1][0])
        else:
            runs.append((start, len(secret)))
        start = text.find(secret, start + 1)
    return runs


class ReportsTest(TempDirTest):
    SECRET = "rep-secret-31"

    def test_counts_names_and_locations_over_several_files(self):
        s = self.SECRET.encode()
        contents = {
            "a.log": b"one " + s + b" two " + s + b"\nline two\n\tthird " + s + s + b"\n",
            "b.log": b"clean\n",
            "c.log": b"ends with half " + s[:5],
            "d.log": s[5:] + b" done\n" + s,
        }
        names = [self.write(name, data) for name, data in contents.items()]
        # The files are one stream: the run split across c.log and d.log is
        # found, and belongs to the file it begins in.
        whole = b"".join(contents.values())
        starts, expected_locations, counts = [], [], dict.fromkeys(names, 0)
        offset = 0
        for name, data in zip(names, contents.values()):
            starts.append((offset, name, data))
            offset += len(data)
        for start, span in reference_runs(whole, s):
            base, name, data = [entry for entry in starts if entry[0] <= start][-1]
            at = start - base
            line = data[:at].count(b"\n") + 1
            column = at - (data.rfind(b"\n", 0, at) + 1) + 1
            expected_locations.append(f"{name}:{line}:{column}:{span}")
            counts[name] += 1
        report = os.path.join(self.dir, "report.txt")
        result = run(["-s", self.SECRET, "--locations", "-c", "-l", "--report", report, *names])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stdout, reference_mask(whole, [s], 3))
        with open(report) as f:
            lines = f.read().splitlines()
        self.assertEqual(lines, expected_locations + [f"{n}:{c}" for n, c in counts.items()]
                         + [n for n, c in counts.items() if c])
        self.assertEqual(counts[names[1]], 0)
        self.assertEqual(counts[names[2]], 1)

        quiet = run(["-s", self.SECRET, "-q", "-l", *names, "-"], stdin=b"stdin " + s + b"\n")
        self.assertEqual((quiet.returncode, quiet.stdout), (1, b""))
        self.assertEqual(quiet.stderr.decode().splitlines(), [names[0], names[2], names[3], "-"])
        clean = run(["-s", self.SECRET, "-c", names[1]])
        self.assertEqual((clean.returncode, clean.stderr), (0, f"{names[1]}:0\n".encode()))


class FilesTest(TempDirTest):
    def test_every_file_is_tried_and_unreadable_ones_skipped(self):
        a = self.write("a", f"a {SECRET}\n".encode())
        b = self.write("b", f"b {SECRET}\n".encode())
        result = run(["-s", SECRET, a, os.path.join(self.dir, "missing"), self.dir, b])
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stdout, b"a ***\nb ***\n")
        self.assertEqual(result.stderr.decode().splitlines(), [
            "hushmask: error: cannot read the second FILE argument: No such file or directory",
            "hushmask: error: cannot read the third FILE argument: Is a directory"])

    def test_the_file_standard_output_appends_to_is_refused(self):
        log = self.write("x.log", f"x {SECRET}\n".encode())
        other = self.write("y.log", f"y {SECRET}\n".encode())
        for args in ([log], [other, log], ["-"]):
            with self.subTest(args=args), open(log, "ab") as out, open(log, "rb") as stdin:
                before = os.path.getsize(log)
                result = subprocess.run([BIN, "-s", SECRET, *args], stdin=stdin, stdout=out, stderr=subprocess.PIPE,
                                        timeout=60)
                self.assertEqual(result.returncode, 2)
                self.assertIn(b"is the file standard output writes to: skipped", result.stderr)
                self.assertEqual(os.path.getsize(log) - before, 6 if other in args else 0)

    def test_in_place_rewrites_each_file_and_keeps_the_one_that_failed(self):
        small = f"small {SECRET}\n".encode()
        big = (f"big {SECRET}\n" * 20000).encode()
        paths = [self.write("1.log", small), self.write("2.log", big), self.write("3.log", small)]
        os.chmod(paths[0], 0o640)
        os.chown(paths[0], 1234, 4321)
        link = os.path.join(self.dir, "link.log")
        os.symlink("3.log", link)
        # Files may grow to 8 KiB only: the big one fails midway.
        script = 'ulimit -f 8; exec "$@"'
        result = subprocess.run(["bash", "-c", script, "bash", BIN, "-s", SECRET, "-i", "-c", paths[0], paths[1],
                                 link], capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertEqual(result.stdout, b"")
        self.assertIn(b"the second FILE argument", result.stderr)
        self.assertIn(b"left as it was", result.stderr)
        self.assertNotIn(SECRET.encode(), result.stderr)
        with open(paths[1], "rb") as f:
            self.assertEqual(f.read(), big)
        for path in (paths[0], paths[2]):
            with open(path, "rb") as f:
                self.assertEqual(f.read(), b"small ***\n")
        info = os.stat(paths[0])
        self.assertEqual((info.st_mode & 0o777, info.st_uid, info.st_gid), (0o640, 1234, 4321))
        self.assertTrue(os.path.islink(link))
        self.assertEqual(sorted(os.listdir(self.dir)), ["1.log", "2.log", "3.log", "link.log"])
        self.assertEqual(run(["-s", SECRET, "-i"]).returncode, 2)


class ExecModesTest(TempDirTest):
    def test_command_not_found_127_and_not_runnable_126(self):
        plain = self.write("plain.txt", b"not a program\n")
        for command, status in (("no-such-command-xyz", 127), (os.path.join(self.dir, "missing"), 127),
                                (plain, 126), (self.dir, 126)):
            with self.subTest(command=command):
                result = run(["-s", SECRET, "--exec", command])
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(result.stderr.count(b"\n"), 1)

    def test_merge_masks_a_secret_split_across_stdout_and_stderr(self):
        script = f"printf '{SECRET[:6]}'; printf '{SECRET[6:]} end\\n' >&2; echo tail"
        merged = run(["-s", SECRET, "--merge", "--exec", "sh", "-c", script])
        self.assertEqual((merged.returncode, merged.stdout, merged.stderr), (0, b"*** end\ntail\n", b""))

    def test_pty_keeps_colours_and_masks(self):
        script = f"printf '\\033[1;31mred {SECRET}\\033[0m\\n'; [ -t 1 ] && [ -t 2 ] && echo terminal"
        result = run(["-s", SECRET, "--pty", "--exec", "sh", "-c", script])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, b"\x1b[1;31mred ***\x1b[0m\nterminal\n")

    CHILD = ("import os, signal, sys, time\n"
             "def got(n, f):\n"
             f"    print('got', n, '{SECRET}', flush=True)\n"
             "    if n == signal.SIGTERM: sys.exit(40 + n)\n"
             "for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1,\n"
             "          signal.SIGUSR2, signal.SIGWINCH):\n"
             "    signal.signal(s, got)\n"
             "print('ready', os.getpid(), flush=True)\n"
             "while True: time.sleep(1)\n")

    def test_each_signal_is_passed_on(self):
        signals = [signal.SIGINT, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1, signal.SIGUSR2, signal.SIGWINCH,
                   signal.SIGTERM]
        for mode in ([], ["--pty"]):
            with self.subTest(mode=mode):
                proc = subprocess.Popen([BIN, "-s", SECRET, *mode, "--exec", sys.executable, "-c", self.CHILD],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                try:
                    self.assertTrue(read_until(proc.stdout, b"\n").startswith(b"ready"))
                    for sig in signals:
                        proc.send_signal(sig)
                        expected = f"got {int(sig)} ***\n".encode()
                        self.assertEqual(read_until(proc.stdout, expected), expected)
                    self.assertEqual(proc.wait(timeout=30), 40 + signal.SIGTERM)
                finally:
                    proc.kill()
                    proc.wait()
                    proc.stdout.close()
                    proc.stderr.close()

    def test_killing_hushmask_ends_the_command(self):
        proc = subprocess.Popen([BIN, "-s", SECRET, "--exec", sys.executable, "-c", self.CHILD],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            child = int(read_until(proc.stdout, b"\n").split()[1])
            proc.kill()
            proc.wait(timeout=30)
            wait_for(lambda: process_gone(child), "the command to end")
        finally:
            proc.stdout.close()
            proc.stderr.close()

    def test_the_held_back_tail_is_written_whatever_ended_the_command(self):
        for script in (f"printf 'tail {SECRET[:5]}'; kill -KILL $$", f"printf 'tail {SECRET[:5]}'; exit 3"):
            with self.subTest(script=script):
                result = run(["-s", SECRET, "--exec", "sh", "-c", script])
                self.assertEqual(result.stdout, f"tail {SECRET[:5]}".encode())


class HygieneTest(TempDirTest):
    def test_no_core_file_after_sigquit_with_core_dumps_allowed(self):
        def start(argv, replace=False):
            """Runs argv in self.dir with core dumps allowed up to the hard
            limit: in a new process, or in place of this forked one."""
            pid = 0 if replace else os.fork()
            if pid == 0:
                try:
                    os.chdir(self.dir)
                    hard = resource.getrlimit(resource.RLIMIT_CORE)[1]
                    resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))
                    os.execv(argv[0], argv)
                finally:
                    os._exit(127)
            return pid

        # The same limits let an ordinary program dump core: otherwise this
        # machine writes no core files at all and the test shows nothing.
        sleeper = start(["/bin/sleep", "60"])
        wait_for(lambda: os.readlink(f"/proc/{sleeper}/exe").endswith("sleep"), "sleep to start")
        os.kill(sleeper, signal.SIGQUIT)
        _, status = os.waitpid(sleeper, 0)
        if not os.WCOREDUMP(status):
            self.skipTest("this machine writes no core files")
        for name in os.listdir(self.dir):
            os.unlink(os.path.join(self.dir, name))

        read_end, write_end = os.pipe()
        out_read, out_write = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                os.dup2(read_end, 0)
                os.dup2(out_write, 1)
            finally:
                start([BIN, "-s", SECRET], replace=True)
        os.close(read_end)
        os.close(out_write)
        os.write(write_end, f"{SECRET}\n".encode())
        with os.fdopen(out_read, "rb") as out:
            self.assertEqual(read_until(out, b"***\n"), b"***\n")
            os.kill(pid, signal.SIGQUIT)
            _, status = os.waitpid(pid, 0)
        os.close(write_end)
        self.assertTrue(os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGQUIT)
        self.assertFalse(os.WCOREDUMP(status))
        self.assertEqual(os.listdir(self.dir), [])

    def test_secret_values_leave_the_command_line_and_the_environment(self):
        env = dict(os.environ, DEPLOY_TOKEN="deploy-token-value-1", DB_PASSWORD="db-password-value-2",
                   STRIPE_API_KEY="stripe-api-key-3", PLAIN="plain-value-4")
        cmdline = os.path.join(self.dir, "cmdline")
        script = (f"tr '\\0' ' ' < /proc/$PPID/cmdline > {cmdline}; "
                  'echo "${DEPLOY_TOKEN-unset} ${DB_PASSWORD-unset} ${STRIPE_API_KEY-unset} $PLAIN"')
        result = run(["-s", SECRET, "--env-defaults", "--unset-secrets", "--exec", "sh", "-c", script], env=env)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(result.stdout, b"unset unset unset plain-value-4\n")
        with open(cmdline, "rb") as f:
            self.assertIn(b" -s " + b"*" * len(SECRET) + b" --env-defaults", f.read())
        kept = run(["--env-defaults", "--exec", "sh", "-c", 'echo "$DEPLOY_TOKEN $DB_PASSWORD $STRIPE_API_KEY"'],
                   env=env)
        self.assertEqual(kept.stdout, b"*** *** ***\n")


def built_with_asan():
    with open(BIN, "rb") as f:
        return b"__asan_init" in f.read()


@unittest.skipIf(built_with_asan(), "AddressSanitizer reserves more address space than any limit here")
class MemoryTest(TempDirTest):
    def limited(self, kib, args, stdin=b""):
        return subprocess.run(["bash", "-c", f'ulimit -v {kib}; exec "$@"', "bash", BIN, *args], input=stdin,
                              capture_output=True, timeout=120)

    def test_exhausted_memory_is_one_line_and_status_2(self):
        rng = random.Random(5)
        many = self.write("many.txt", "".join("".join(rng.choice("abcdefgh0123") for _ in range(40)) + "\n"
                                              for _ in range(500)).encode())
        huge = self.write("huge.txt", b"x" * (24 << 20))
        text = b"nothing secret here\n"
        outcomes = set()
        for kib in (8000, 12000, 16000, 24000, 32000, 48000, 64000, 96000, 192000):
            for args in (["-f", many], ["-f", huge], ["-s", SECRET, "--chunk-size", str(1 << 30)]):
                with self.subTest(kib=kib, args=args[:2]):
                    result = self.limited(kib, args, text)
                    if b"error while loading shared libraries" in result.stderr:
                        continue  # too little to start any program
                    if result.returncode == 0:
                        self.assertEqual(result.stdout, text)
                        outcomes.add("done")
                    else:
                        self.assertEqual(result.returncode, 2, result.stderr)
                        self.assertEqual(result.stdout, b"")
                        self.assertRegex(result.stderr, rb"^hushmask: error: out of memory[^\n]*\n$")
                        outcomes.add("out of memory")
        self.assertEqual(outcomes, {"done", "out of memory"})

    def test_a_huge_chunk_size_costs_nothing_for_a_small_input(self):
        result = self.limited(64000, ["-s", SECRET, "--chunk-size", str(1 << 30)], b"9 bytes\n\n")
        self.assertEqual((result.returncode, result.stdout), (0, b"9 bytes\n\n"), result.stderr)

if __name__ == "__main__":
    unittest.main()
