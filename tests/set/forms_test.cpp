// Derived forms, checked against the encoders themselves: Python's standard
// library and bash print the encodings of seeded random secrets, and each of
// those must contain a form that derive_forms made with that encoder's bit.

#include "set/forms.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "alloc/allocator.h"
#include "hushset.h"
#include "support/recording_allocator.h"

namespace {

struct Form {
  std::uint32_t bit;
  std::string bytes;
};

struct Derived {
  std::vector<Form> forms;
  std::vector<std::uint64_t> blank_lines;
  hush::core::Status status = hush::core::Status::ok;

  [[nodiscard]] std::set<std::string> with_bit(std::uint32_t bit) const {
    std::set<std::string> found;
    for (const Form &form : forms) {
      if (form.bit == bit) found.insert(form.bytes);
    }
    return found;
  }
};

hush::set::FormSink sink_into(Derived &derived) {
  return {
      &derived,
      [](void *context, std::uint32_t bit, const std::uint8_t *bytes, std::uint64_t len) noexcept {
        static_cast<Derived *>(context)->forms.push_back(
            {bit, std::string(reinterpret_cast<const char *>(bytes), len)});
        return hush::core::Status::ok;
      },
      [](void *context, std::uint64_t len) noexcept { static_cast<Derived *>(context)->blank_lines.push_back(len); }};
}

Derived derive(const std::string &secret, std::uint32_t bits,
               const hush::core::Allocator &allocator = hush::core::c_heap_allocator) {
  Derived derived;
  derived.status = hush::set::derive_forms(allocator, reinterpret_cast<const std::uint8_t *>(secret.data()),
                                           secret.size(), bits, sink_into(derived));
  // What holds for every derivation that succeeds: the secret comes first,
  // and no form is empty.
  if (!hush::core::failed(derived.status) && !secret.empty()) {
    EXPECT_FALSE(derived.forms.empty());
    if (!derived.forms.empty()) {
      EXPECT_EQ(derived.forms.front().bit, 0u);
      EXPECT_EQ(derived.forms.front().bytes, secret);
    }
  }
  for (const Form &form : derived.forms) EXPECT_FALSE(form.bytes.empty());
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

std::string unhex(const std::string &text) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

void append_utf8(std::string &text, std::uint32_t cp) {
  if (cp < 0x80) {
    text += static_cast<char>(cp);
  } else if (cp < 0x800) {
    text += static_cast<char>(0xC0 | (cp >> 6));
    text += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    text += static_cast<char>(0xE0 | (cp >> 12));
    text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (cp >> 18));
    text += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A third each: any bytes; UTF-8 text (accents, Greek, CJK, emoji above
// U+FFFF, the line separators, a C1 control, control bytes); and ASCII
// heavy with what the encoders escape.  Code points are drawn from assigned
// ranges only, since the shell writes unassigned ones in octal (see
// encode_shell.cpp).
std::vector<std::string> random_secrets(std::uint32_t seed, int count) {
  std::mt19937 rng(seed);
  auto pick = [&](std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng); };
  const std::string specials = "\"'\\/<>&~*!()=:#%+,;?[]{}|^$` \t\n\r\b\f\v\x01\x1b\x7f";
  const std::uint32_t ranges[][2] = {{0x20, 0x7E},       {0xC0, 0x24F},    {0x391, 0x3A1}, {0x4E00, 0x4FFF},
                                     {0x1F600, 0x1F64F}, {0x2028, 0x2029}, {0x85, 0x85},   {0x01, 0x1F}};
  std::vector<std::string> secrets;
  for (int k = 0; k < count; ++k) {
    std::string secret;
    const std::uint32_t len = 1 + pick(24);
    for (std::uint32_t i = 0; i < len; ++i) {
      if (k % 3 == 0) {
        secret += static_cast<char>(pick(256));
      } else if (k % 3 == 1) {
        const auto &range = ranges[pick(std::size(ranges))];
        append_utf8(secret, range[0] + pick(range[1] - range[0] + 1));
      } else {
        secret += pick(2) == 0 ? specials[pick(static_cast<std::uint32_t>(specials.size()))]
                               : static_cast<char>('a' + pick(26));
      }
    }
    secrets.push_back(secret);
  }
  return secrets;
}

// Reads hex secrets, one a line, from argv[1]; prints "INDEX BIT NAME HEX"
// for every encoding the standard library and bash give of each.  Where a
// style has no encoder in Python (upper-case hex, "\/", Go's HTML-safe JSON),
// it is made from Python's output by rewriting one escape at a time.
constexpr const char *REFERENCE_SCRIPT = R"PY(
import base64, html, json, random, re, subprocess, sys
from urllib.parse import quote, quote_plus
from xml.sax.saxutils import escape, quoteattr

B64, B64URL, URL, JSON, XML, SHELL = 2, 4, 8, 16, 32, 64
secrets = [bytes.fromhex(line) for line in open(sys.argv[1]).read().split()]
rng = random.Random(int(sys.argv[2]))
out = []

def emit(i, bit, name, data):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    out.append("%d %d %s %s" % (i, bit, name, data.hex()))

def escapes(text, rewrite):
    return re.sub(r"\\(u[0-9a-f]{4}|.)", lambda m: rewrite(m.group(0)), text, flags=re.S)

def upper(e):
    return "\\u" + e[2:].upper() if e[1] == "u" else e

for i, s in enumerate(secrets):
    for lead in range(3):
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
    try:
        s.decode("utf-8")
    except UnicodeDecodeError:
        pass
    else:
        ascii_only = json.dumps(text)
        emit(i, JSON, "dumps", ascii_only)
        emit(i, JSON, "dumps_slash", ascii_only.replace("/", "\\/"))
        emit(i, JSON, "dumps_upper_hex", escapes(ascii_only, upper))
        go = unicode
        for c in "<>&\u2028\u2029":
            go = go.replace(c, "\\u%04x" % ord(c))
        emit(i, JSON, "go_html_safe", go)
        emit(i, JSON, "go_html_safe_before_1_22",
             escapes(go, lambda e: {"\\b": "\\u0008", "\\f": "\\u000c"}.get(e, e)))

    latin = s.decode("latin-1")
    for name, enc in (("saxutils.escape", escape(latin)), ("saxutils.quoteattr", quoteattr(latin)),
                      ("html.escape", html.escape(latin)), ("html.escape_quote_false", html.escape(latin, False))):
        emit(i, XML, name, enc.encode("latin-1"))

# Environment variables cannot hold NUL, nor can bash variables.
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

std::vector<Reference> reference_encodings(const std::vector<std::string> &secrets, std::uint32_t seed) {
  const std::string base = testing::TempDir() + "hushset_forms_" + std::to_string(getpid());
  {
    std::ofstream script(base + ".py");
    script << REFERENCE_SCRIPT;
    std::ofstream input(base + ".hex");
    for (const std::string &secret : secrets) input << hex(secret) << '\n';
  }
  const std::string command = "python3 " + base + ".py " + base + ".hex " + std::to_string(seed);
  FILE *pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  std::string output;
  if (pipe != nullptr) {
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) != 0;) output.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
  }
  std::remove((base + ".py").c_str());
  std::remove((base + ".hex").c_str());
  std::vector<Reference> references;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    Reference reference;
    std::string encoded_hex;
    fields >> reference.index >> reference.bit >> reference.name >> encoded_hex;
    reference.encoded = unhex(encoded_hex);
    references.push_back(reference);
  }
  return references;
}

TEST(Forms, EveryEncodingByPythonAndBashContainsAForm) {
  constexpr std::uint32_t seed = 20240611;
  std::vector<std::string> secrets = random_secrets(seed, 180);
  // And a few that random draws rarely make: one quote kind with whitespace
  // (quoteattr picks its quotes by the value), tildes where printf %q escapes
  // them, terminal colours, printable non-ASCII with a quote.
  for (const char *picked : {"a\"b\r\tc d", "x'y\n\"z", "~u=~x:~y #z", "p@ss w\xc3\xb6rd'", "\x1b[31mred\x1b[0m"}) {
    secrets.emplace_back(picked);
  }
  const std::vector<Reference> references = reference_encodings(secrets, seed);
  // Each secret gives 6 base64, 10 URL, 4 or 8 JSON, 4 XML and 6 shell
  // encodings (shell ones only without NUL); the script must have run.
  ASSERT_GT(references.size(), secrets.size() * 28);

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

TEST(Forms, GoEncodersAsGoWritesThem) {
  // Written by Go 1.19's encoding/json, html and encoding/xml; the "\b" and
  // "\f" of Go 1.22 on are the only part not taken from a run.
  struct Case {
    std::string secret;
    std::uint32_t bit;
    std::string written;
  };
  const std::string mixed = "k\"y'<&>/\b\f\n\r\t\x01\x7f \xc3\xa9\xe2\x80\xa8\xf0\x9f\x98\x80";
  const std::string text = "p\"w'<&>/\n\r\t \xc3\xa9";
  const Case cases[] = {
      {mixed, HUSHSET_FORM_JSON,
       "k\\\"y'\\u003c\\u0026\\u003e/\\u0008\\u000c\\n\\r\\t\\u0001\x7f \xc3\xa9\\u2028\xf0\x9f\x98\x80"},
      {mixed, HUSHSET_FORM_JSON,
       "k\\\"y'\\u003c\\u0026\\u003e/\\b\\f\\n\\r\\t\\u0001\x7f \xc3\xa9\\u2028\xf0\x9f\x98\x80"},
      {mixed, HUSHSET_FORM_XML,
       "k&#34;y&#39;&lt;&amp;&gt;/\b\f\n\r\t\x01\x7f \xc3\xa9\xe2\x80\xa8\xf0\x9f\x98\x80"},  // html.EscapeString
      {text, HUSHSET_FORM_XML, "p&#34;w&#39;&lt;&amp;&gt;/&#xA;&#xD;&#x9; \xc3\xa9"},         // xml.EscapeText
  };
  for (const Case &c : cases) {
    EXPECT_EQ(derive(c.secret, c.bit).with_bit(c.bit).count(c.written), 1u) << hex(c.written);
  }
}

TEST(Forms, LinesOfAMultiLineSecret) {
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

  // A value that already has LF line ends is its own LF rewrite; one line
  // without line ends has no line forms at all.
  EXPECT_EQ(derive("one\ntwo", HUSHSET_FORM_LINES).with_bit(HUSHSET_FORM_LINES),
            (std::set<std::string>{"one", "two", "one\r\ntwo"}));
  EXPECT_TRUE(derive("  one line  ", HUSHSET_FORM_LINES).with_bit(HUSHSET_FORM_LINES).empty());
}

TEST(Forms, AHandfulOfFormsPerEncoderAndPlainValue) {
  // However many special bytes a value has, an encoder gives it at most ten
  // forms (percent-encoding's five styles in two cases), never one per
  // combination of escapes.
  std::vector<std::string> secrets = random_secrets(7, 60);
  secrets.push_back(std::string(300, '\x01') + std::string(300, '"') + "\n\r\n" + std::string(300, '\xff'));
  for (const std::string &secret : secrets) {
    const Derived derived = derive(secret, HUSHSET_FORMS_ALL);
    std::map<std::uint32_t, std::size_t> per_bit;
    for (const Form &form : derived.forms) ++per_bit[form.bit];
    const std::size_t plain_values = 1 + per_bit[HUSHSET_FORM_LINES];
    for (const auto &[bit, count] : per_bit) {
      if (bit != 0 && bit != HUSHSET_FORM_LINES) {
        EXPECT_LE(count, 10 * plain_values) << "bit " << bit;
      }
    }
  }
}

TEST(Forms, EveryAllocationFailedInTurn) {
  const std::string secret = "a\"b'c\r\nd/e\x01\xf0\x9f\x98\x80";
  const Derived full = derive(secret, HUSHSET_FORMS_ALL);
  hush::core::testing::RecordingAllocator counter;
  EXPECT_EQ(derive(secret, HUSHSET_FORMS_ALL, counter.interface()).forms.size(), full.forms.size());
  const std::uint64_t requests = counter.requests();
  ASSERT_GT(requests, 0u);
  EXPECT_EQ(counter.live_blocks(), 0u);

  for (std::uint64_t k = 1; k <= requests; ++k) {
    hush::core::testing::RecordingAllocator allocator;
    allocator.fail_request(k);
    // The sink notes whether the failure has happened when it is called.
    struct Watch {
      hush::core::testing::RecordingAllocator *allocator;
      std::uint64_t calls_after_failure = 0;
    } watch{&allocator};
    const hush::set::FormSink sink{&watch,
                                   [](void *context, std::uint32_t, const std::uint8_t *, std::uint64_t) noexcept {
                                     auto &w = *static_cast<Watch *>(context);
                                     if (w.allocator->failures() != 0) ++w.calls_after_failure;
                                     return hush::core::Status::ok;
                                   },
                                   [](void *, std::uint64_t) noexcept {}};
    EXPECT_TRUE(hush::core::failed(hush::set::derive_forms(allocator.interface(),
                                                           reinterpret_cast<const std::uint8_t *>(secret.data()),
                                                           secret.size(), HUSHSET_FORMS_ALL, sink)))
        << "request " << k;
    EXPECT_EQ(watch.calls_after_failure, 0u) << "request " << k;
    EXPECT_EQ(allocator.live_blocks(), 0u) << "request " << k;
    EXPECT_TRUE(allocator.errors.empty()) << "request " << k;
  }

  // An empty secret, and a secret with no encoder enabled, need no memory.
  hush::core::testing::RecordingAllocator unused;
  EXPECT_TRUE(derive("", HUSHSET_FORMS_ALL, unused.interface()).forms.empty());
  EXPECT_EQ(derive("plain", 0, unused.interface()).forms.size(), 1u);
  EXPECT_EQ(unused.requests(), 0u);
}

TEST(Forms, AFailingSinkStopsTheDerivation) {
  const std::string secret = "x'y\"z\n<w>";
  const std::size_t total = derive(secret, HUSHSET_FORMS_ALL).forms.size();
  for (std::size_t k = 1; k <= total; ++k) {
    struct Countdown {
      std::size_t left;
      std::size_t calls = 0;
    } countdown{k};
    const hush::set::FormSink sink{&countdown,
                                   [](void *context, std::uint32_t, const std::uint8_t *, std::uint64_t) noexcept {
                                     auto &c = *static_cast<Countdown *>(context);
                                     ++c.calls;
                                     return --c.left == 0 ? hush::core::Status::failed : hush::core::Status::ok;
                                   },
                                   [](void *, std::uint64_t) noexcept {}};
    hush::core::testing::RecordingAllocator allocator;
    EXPECT_TRUE(hush::core::failed(hush::set::derive_forms(allocator.interface(),
                                                           reinterpret_cast<const std::uint8_t *>(secret.data()),
                                                           secret.size(), HUSHSET_FORMS_ALL, sink)));
    EXPECT_EQ(countdown.calls, k);
    EXPECT_EQ(allocator.live_blocks(), 0u);
  }
}

}  // namespace
