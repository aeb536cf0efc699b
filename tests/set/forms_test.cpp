// Derived forms, checked against the encoders themselves: Python's standard
// library and bash encode seeded random secrets, and each encoding must
// contain a form that derive_forms made with that encoder's bit.

#include "set/forms.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hushset.h"
#include "support/recording_allocator.h"

namespace {

struct Derived {
  std::vector<std::pair<std::uint32_t, std::string>> forms;  // bit, bytes
  std::vector<std::uint64_t> blank_lines;

  [[nodiscard]] std::set<std::string> with_bit(std::uint32_t bit) const {
    std::set<std::string> found;
    for (const auto &[form_bit, bytes] : forms) {
      if (form_bit == bit) found.insert(bytes);
    }
    return found;
  }
};

const std::uint8_t *bytes_of(const std::string &text) { return reinterpret_cast<const std::uint8_t *>(text.data()); }

// Also checks what holds for every derivation: the secret comes first, and
// no form is empty.
Derived derive(const std::string &secret, std::uint32_t bits) {
  Derived derived;
  const hush::set::FormSink sink{
      &derived,
      [](void *context, std::uint32_t bit, const std::uint8_t *bytes, std::uint64_t len) noexcept {
        static_cast<Derived *>(context)->forms.emplace_back(bit,
                                                            std::string(reinterpret_cast<const char *>(bytes), len));
        return hush::core::Status::ok;
      },
      [](void *context, std::uint64_t len) noexcept { static_cast<Derived *>(context)->blank_lines.push_back(len); }};
  EXPECT_FALSE(hush::core::failed(
      hush::set::derive_forms(hush::core::c_heap_allocator, bytes_of(secret), secret.size(), bits, sink)));
  if (!secret.empty()) {
    EXPECT_EQ(derived.forms.at(0), std::make_pair(0u, secret));
  }
  for (const auto &form : derived.forms) EXPECT_FALSE(form.second.empty());
  return derived;
}

std::string hex(const std::string &bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text += "0123456789abcdef"[byte >> 4];
    text += "0123456789abcdef"[byte & 15u];
  }
  return text;
}

// Prints "S HEX" for each secret, then "E INDEX BIT NAME HEX" for every
// encoding of it.  Secrets: a third any bytes; a third UTF-8 text (accents,
// Greek, CJK, emoji above U+FFFF, the line separators, a C1 control, control
// bytes; assigned code points only, as bash writes unassigned ones in octal);
// a third ASCII heavy with what the encoders escape; then a few that random
// draws rarely make.  Where Python has no encoder of a style (upper-case hex,
// "\/", Go's HTML-safe JSON), its output is rewritten one escape at a time.
constexpr const char *REFERENCE_SCRIPT = R"PY(
import base64, html, json, random, re, subprocess
from urllib.parse import quote, quote_plus
from xml.sax.saxutils import escape, quoteattr

B64, B64URL, URL, JSON, XML, SHELL = 2, 4, 8, 16, 32, 64
rng = random.Random(20240611)
RANGES = [(0x20, 0x7E), (0xC0, 0x24F), (0x391, 0x3A1), (0x4E00, 0x4FFF), (0x1F600, 0x1F64F), (0x2028, 0x2029),
          (0x85, 0x85), (0x01, 0x1F)]
SPECIALS = "\"'\\/<>&~*!()=:#%+,;?[]{}|^$` \t\n\r\b\f\v\x01\x1b\x7f" + "abcdefghijklmnopqrstuvwxyz" * 2
secrets = []
for k in range(180):
    n = rng.randint(1, 24)
    if k % 3 == 0:
        secrets.append(rng.randbytes(n))
    elif k % 3 == 1:
        secrets.append("".join(chr(rng.randint(*rng.choice(RANGES))) for _ in range(n)).encode())
    else:
        secrets.append("".join(rng.choice(SPECIALS) for _ in range(n)).encode())
# One quote kind with whitespace (quoteattr picks its quotes by the value),
# tildes that printf %q escapes, terminal colours, non-ASCII with a quote.
secrets += [b"a\"b\r\tc d", b"x'y\n\"z", b"~u=~x:~y #z", "p@ss w\u00f6rd'".encode(), b"\x1b[31mred\x1b[0m"]
out = ["S " + s.hex() for s in secrets]

def emit(i, bit, name, data):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    out.append("E %d %d %s %s" % (i, bit, name, data.hex()))

def escapes(text, rewrite):
    return re.sub(r"\\(u[0-9a-f]{4}|.)", lambda m: rewrite(m.group(0)), text, flags=re.S)

def upper(e):
    return "\\u" + e[2:].upper() if e[1] == "u" else e

for i, s in enumerate(secrets):
    # A byte or two has no base64 characters of its own at every alignment.
    for lead in range(3 if len(s) >= 3 else 0):
        blob = rng.randbytes(lead + 3 * rng.randrange(3)) + s + rng.randbytes(rng.randrange(4))
        emit(i, B64, "b64encode_at_%d" % lead, base64.b64encode(blob))
        emit(i, B64URL, "urlsafe_b64encode_at_%d" % lead, base64.urlsafe_b64encode(blob))

    for name, enc in (("quote_safe_none", quote(s, safe="")), ("quote", quote(s)),
                      ("encodeURIComponent", quote(s, safe="!'()*")), ("quote_plus", quote_plus(s)),
                      ("html_form", quote_plus(s, safe="*").replace("~", "%7E"))):
        emit(i, URL, name, enc)
        emit(i, URL, name + "_lower_hex", re.sub("%..", lambda m: m.group(0).lower(), enc))

    text = s.decode("utf-8", "surrogateescape")
    unicode = json.dumps(text, ensure_ascii=False)
    emit(i, JSON, "dumps_unicode", unicode)
    emit(i, JSON, "dumps_unicode_slash", unicode.replace("/", "\\/"))
    emit(i, JSON, "dumps_unicode_upper_hex", escapes(unicode, upper))
    # surrogateescape stands for each byte that is not UTF-8 by U+DC80..U+DCFF.
    if not any(0xDC80 <= ord(c) <= 0xDCFF for c in text):
        ascii_only = json.dumps(text)
        emit(i, JSON, "dumps", ascii_only)
        emit(i, JSON, "dumps_slash", ascii_only.replace("/", "\\/"))
        emit(i, JSON, "dumps_upper_hex", escapes(ascii_only, upper))
        go = unicode
        for c in "<>&\u2028\u2029":
            go = go.replace(c, "\\u%04x" % ord(c))
        emit(i, JSON, "go_html_safe", go)
        emit(i, JSON, "go_html_safe_before_1_22", escapes(go, lambda e: {"\\b": "\\u0008", "\\f": "\\u000c"}.get(e, e)))

    latin = s.decode("latin-1")
    for name, enc in (("saxutils.escape", escape(latin)), ("saxutils.quoteattr", quoteattr(latin)),
                      ("html.escape", html.escape(latin)), ("html.escape_quote_false", html.escape(latin, False))):
        emit(i, XML, name, enc.encode("latin-1"))

# Neither environment variables nor bash variables can hold NUL.
shell = [i for i, s in enumerate(secrets) if b"\0" not in s]
script = r"""
BASH_XTRACEFD=1
for ((i = 0; i < N; i++)); do
  name=V$i; V=${!name}
  printf '%q\0' "$V"
  printf '%s\0' "${V@Q}"
  set -x; : "$V"; set +x
  printf '\0'
done
"""
for locale in ("C", "C.UTF-8"):
    env = {b"LC_ALL": locale.encode(), b"N": b"%d" % len(shell)}
    env.update({b"V%d" % k: secrets[i] for k, i in enumerate(shell)})
    chunks = subprocess.run(["bash", "-c", script], env=env, stdout=subprocess.PIPE, check=True).stdout.split(b"\0")
    for k, i in enumerate(shell):
        for j, name in enumerate(("printf_q", "at_Q", "set_x")):
            emit(i, SHELL, "%s_%s" % (name, locale), chunks[3 * k + j])

print("\n".join(out))
)PY";

struct Reference {
  std::size_t index;
  std::uint32_t bit;
  std::string name;
  std::string encoded;
};

class Forms : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The script goes in through a pipe: python3 reads its program from
    // standard input when given "-".
    const std::string command =
        "python3 - <<'HUSHSET_FORMS_SCRIPT'\n" + std::string(REFERENCE_SCRIPT) + "\nHUSHSET_FORMS_SCRIPT\n";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) != 0;) output.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0);
    auto unhex = [](const std::string &text) {
      std::string bytes;
      for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
      }
      return bytes;
    };
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      std::string kind, encoded;
      Reference reference;
      if (fields >> kind && kind == "S" && fields >> encoded) secrets.push_back(unhex(encoded));
      if (kind == "E" && fields >> reference.index >> reference.bit >> reference.name >> encoded) {
        reference.encoded = unhex(encoded);
        references.push_back(reference);
      }
    }
  }
  static inline std::vector<std::string> secrets;
  static inline std::vector<Reference> references;
};

TEST_F(Forms, EveryEncodingByPythonAndBashContainsAForm) {
  // At least 10 URL, 3 JSON and 4 XML encodings per secret.
  ASSERT_EQ(secrets.size(), 185u);
  ASSERT_GT(references.size(), secrets.size() * 17);
  // Line forms are off: a line's encoding must not stand in for the
  // secret's.
  std::vector<Derived> derived;
  for (const std::string &secret : secrets) derived.push_back(derive(secret, HUSHSET_FORMS_ALL & ~HUSHSET_FORM_LINES));
  std::map<std::string, int> failures;
  for (const Reference &reference : references) {
    bool contained = false;
    for (const std::string &form : derived[reference.index].with_bit(reference.bit)) {
      contained = contained || reference.encoded.find(form) != std::string::npos;
    }
    if (!contained && failures[reference.name]++ < 3) {
      ADD_FAILURE() << reference.name << " of " << hex(secrets[reference.index]) << " is " << hex(reference.encoded)
                    << ", containing none of its forms";
    }
  }
}

TEST_F(Forms, AHandfulOfFormsPerEncoderAndPlainValue) {
  // However many special bytes a value has, an encoder gives it at most ten
  // forms (percent-encoding's five styles in two cases), never one per
  // combination of escapes.
  std::vector<std::string> values = secrets;
  values.push_back(std::string(300, '\x01') + std::string(300, '"') + "\n\r\n" + std::string(300, '\xff'));
  for (const std::string &value : values) {
    std::map<std::uint32_t, std::size_t> per_bit;
    for (const auto &form : derive(value, HUSHSET_FORMS_ALL).forms) ++per_bit[form.first];
    const std::size_t plain_values = 1 + per_bit[HUSHSET_FORM_LINES];
    for (const auto &[bit, count] : per_bit) {
      if (bit != 0 && bit != HUSHSET_FORM_LINES) {
        EXPECT_LE(count, 10 * plain_values) << "bit " << bit << " for " << hex(value);
      }
    }
  }
}

TEST(FormsOf, GoEncodersAsGoWritesThem) {
  // Written by Go 1.19's encoding/json, html and encoding/xml; only the "\b"
  // and "\f" of Go 1.22 on are not taken from a run.
  const std::string mixed = "k\"y'<&>/\b\f\n\r\t\x01\x7f \xc3\xa9\xe2\x80\xa8\xf0\x9f\x98\x80";
  const std::string text = "p\"w'<&>/\n\r\t \xc3\xa9";
  const struct {
    std::string secret;
    std::uint32_t bit;
    std::string written;
  } cases[] = {
      {mixed, HUSHSET_FORM_JSON,
       "k\\\"y'\\u003c\\u0026\\u003e/\\u0008\\u000c\\n\\r\\t\\u0001\x7f \xc3\xa9\\u2028\xf0\x9f\x98\x80"},
      {mixed, HUSHSET_FORM_JSON,
       "k\\\"y'\\u003c\\u0026\\u003e/\\b\\f\\n\\r\\t\\u0001\x7f \xc3\xa9\\u2028\xf0\x9f\x98\x80"},
      {mixed, HUSHSET_FORM_XML,  // html.EscapeString
       "k&#34;y&#39;&lt;&amp;&gt;/\b\f\n\r\t\x01\x7f \xc3\xa9\xe2\x80\xa8\xf0\x9f\x98\x80"},
      {text, HUSHSET_FORM_XML, "p&#34;w&#39;&lt;&amp;&gt;/&#xA;&#xD;&#x9; \xc3\xa9"},  // xml.EscapeText
  };
  for (const auto &c : cases) EXPECT_EQ(derive(c.secret, c.bit).with_bit(c.bit).count(c.written), 1u) << hex(c.written);
}

TEST(FormsOf, LinesOfAMultiLineSecret) {
  // CRLF, a lone CR and LF end lines; a line of blanks is reported by its
  // length, empty lines are not reported.
  const std::string secret = "  user: ad\"min \r\npass\tword\r\t \n\nlast\n";
  const Derived derived = derive(secret, HUSHSET_FORM_LINES | HUSHSET_FORM_JSON);
  EXPECT_EQ(derived.with_bit(HUSHSET_FORM_LINES),
            (std::set<std::string>{"  user: ad\"min ", "user: ad\"min", "pass\tword", "last",
                                   "  user: ad\"min \npass\tword\n\t \n\nlast\n",
                                   "  user: ad\"min \r\npass\tword\r\n\t \r\n\r\nlast\r\n"}));
  EXPECT_EQ(derived.blank_lines, std::vector<std::uint64_t>{2});
  // Encoders apply to every line and rewrite too.
  const std::set<std::string> json = derived.with_bit(HUSHSET_FORM_JSON);
  for (const char *encoded :
       {"user: ad\\\"min", "pass\\tword", "  user: ad\\\"min \\npass\\tword\\n\\t \\n\\nlast\\n"}) {
    EXPECT_EQ(json.count(encoded), 1u) << encoded;
  }
  // A value with LF line ends is its own LF rewrite; a value without line
  // ends has no line forms.
  EXPECT_EQ(derive("one\ntwo", HUSHSET_FORM_LINES).with_bit(HUSHSET_FORM_LINES),
            (std::set<std::string>{"one", "two", "one\r\ntwo"}));
  EXPECT_TRUE(derive("  one line  ", HUSHSET_FORM_LINES).with_bit(HUSHSET_FORM_LINES).empty());
}

TEST(FormsOf, EveryAllocationAndEverySinkCallFailedInTurn) {
  // The sink counts its calls, fails the call numbered `fail_call`, and
  // notes any call made after the allocator failed a request.
  struct Watch {
    hush::core::testing::RecordingAllocator allocator;
    std::uint64_t calls = 0;
    std::uint64_t fail_call = 0;
    std::uint64_t calls_after_failure = 0;
  };
  const hush::set::FormSink sink{nullptr,
                                 [](void *context, std::uint32_t, const std::uint8_t *, std::uint64_t) noexcept {
                                   auto &watch = *static_cast<Watch *>(context);
                                   if (watch.allocator.failures() != 0) ++watch.calls_after_failure;
                                   return ++watch.calls == watch.fail_call ? hush::core::Status::failed
                                                                           : hush::core::Status::ok;
                                 },
                                 [](void *, std::uint64_t) noexcept {}};
  const std::string secret = "a\"b'c\r\nd/e\x01\xf0\x9f\x98\x80";
  auto run = [&](Watch &watch) {
    hush::set::FormSink bound = sink;
    bound.context = &watch;
    const hush::core::Status status =
        hush::set::derive_forms(watch.allocator.interface(), bytes_of(secret), secret.size(), HUSHSET_FORMS_ALL, bound);
    EXPECT_EQ(watch.allocator.live_blocks(), 0u);
    EXPECT_TRUE(watch.allocator.errors.empty());
    return status;
  };
  Watch full;
  ASSERT_FALSE(hush::core::failed(run(full)));
  EXPECT_EQ(full.calls, derive(secret, HUSHSET_FORMS_ALL).forms.size());
  ASSERT_GT(full.allocator.requests(), 0u);

  for (std::uint64_t k = 1; k <= full.allocator.requests(); ++k) {
    Watch watch;
    watch.allocator.fail_request(k);
    EXPECT_TRUE(hush::core::failed(run(watch))) << "request " << k;
    EXPECT_EQ(watch.calls_after_failure, 0u) << "request " << k;
  }
  for (std::uint64_t k = 1; k <= full.calls; ++k) {
    Watch watch;
    watch.fail_call = k;
    EXPECT_TRUE(hush::core::failed(run(watch))) << "call " << k;
    EXPECT_EQ(watch.calls, k);
  }

  // An empty secret, and a secret with no encoder enabled, need no memory.
  Watch empty;
  EXPECT_FALSE(hush::core::failed(hush::set::derive_forms(empty.allocator.interface(), nullptr, 0, HUSHSET_FORMS_ALL,
                                                          {&empty, sink.form, sink.blank_line})));
  EXPECT_FALSE(hush::core::failed(hush::set::derive_forms(empty.allocator.interface(), bytes_of(secret), 5, 0,
                                                          {&empty, sink.form, sink.blank_line})));
  EXPECT_EQ(empty.calls, 1u);
  EXPECT_EQ(empty.allocator.requests(), 0u);
}

}  // namespace
