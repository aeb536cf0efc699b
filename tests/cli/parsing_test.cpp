// Secrets files, environment globs and the command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "directives.h"
#include "env_match.h"
#include "options.h"
#include "secret_records.h"

namespace {

using namespace std::string_literals;
using hushcli::RecordSeparator;

struct RecordCase {
  const char *name;
  std::string content;
  RecordSeparator separator;
  std::vector<std::pair<std::string, std::uint64_t>> expected;
};

TEST(SplitSecretRecords, Table) {
  const RecordCase cases[] = {
      {"empty file", "", RecordSeparator::line, {}},
      {"lines", "one\ntwo\n", RecordSeparator::line, {{"one", 1}, {"two", 2}}},
      {"no final newline", "one\ntwo", RecordSeparator::line, {{"one", 1}, {"two", 2}}},
      {"empty lines skipped, numbers kept", "\none\n\n\r\ntwo\n\n", RecordSeparator::line, {{"one", 2}, {"two", 5}}},
      {"crlf", "one\r\ntwo\r\n", RecordSeparator::line, {{"one", 1}, {"two", 2}}},
      {"only one cr goes", "one\r\r\n", RecordSeparator::line, {{"one\r", 1}}},
      {"inner cr kept", "o\rne\n", RecordSeparator::line, {{"o\rne", 1}}},
      {"nul bytes inside a line", "a\0b\n"s, RecordSeparator::line, {{"a\0b"s, 1}}},
      {"nul records keep newlines",
       "line1\nline2\r\n\0two\0"s,
       RecordSeparator::nul,
       {{"line1\nline2\r\n", 1}, {"two", 2}}},
      {"empty nul records skipped", "\0\0a\0"s, RecordSeparator::nul, {{"a", 3}}},
      {"nul record without terminator", "a\0b"s, RecordSeparator::nul, {{"a", 1}, {"b", 2}}},
  };
  for (const RecordCase &c : cases) {
    const auto records = hushcli::split_secret_records(c.content, c.separator);
    std::vector<std::pair<std::string, std::uint64_t>> got;
    for (const auto &record : records) got.emplace_back(std::string(record.value), record.number);
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

TEST(MatchEnvironment, Table) {
  const std::vector<std::string_view> environment = {
      "API_KEY=k1", "CI_TOKEN=t=1", "DEPLOY_TOKEN=", "=nameless", "NOEQUALS", "api_key=lower", "PATH=/bin",
  };
  const struct {
    const char *pattern;
    std::vector<std::pair<std::string, std::string>> expected;
  } cases[] = {
      {"API_KEY", {{"API_KEY", "k1"}}},
      {"*_TOKEN", {{"CI_TOKEN", "t=1"}, {"DEPLOY_TOKEN", ""}}},
      {"?I_*", {{"CI_TOKEN", "t=1"}}},
      {"[Aa][Pp]*", {{"API_KEY", "k1"}, {"api_key", "lower"}}},
      {"NOEQUALS", {}},
      {"", {}},
      {"\\API_KEY", {{"API_KEY", "k1"}}},
  };
  for (const auto &c : cases) {
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto &match : hushcli::match_environment(environment, c.pattern)) {
      got.emplace_back(std::string(match.name), std::string(match.value));
    }
    EXPECT_EQ(got, c.expected) << c.pattern;
  }
}

hushcli::ParsedCommandLine parse(std::vector<std::string_view> args) { return hushcli::parse_command_line(args); }

TEST(ParseCommandLine, AcceptsEveryForm) {
  using hushcli::SecretSource;
  const auto parsed = parse({"-s",
                             "one",
                             "--secret=two",
                             "-stwo2",
                             "-0f",
                             "file",
                             "--env",
                             "*_TOKEN",
                             "-n0",
                             "--max-stars",
                             "7",
                             "--min-length=2",
                             "--encodings",
                             "json,base64url",
                             "--check",
                             "--allow-empty",
                             "--chunk-size",
                             "5",
                             "in.log",
                             "-",
                             "--",
                             "--not-an-option"});
  ASSERT_EQ(parsed.error, "");
  const auto &o = parsed.options;
  ASSERT_EQ(o.sources.size(), 5u);
  EXPECT_EQ(o.sources[0].text, "one");
  EXPECT_EQ(o.sources[1].text, "two");
  EXPECT_EQ(o.sources[2].text, "two2");
  EXPECT_EQ(o.sources[3].kind, SecretSource::Kind::file);
  EXPECT_EQ(o.sources[3].text, "file");
  EXPECT_EQ(o.sources[4].kind, SecretSource::Kind::env);
  EXPECT_TRUE(o.null_separated);
  EXPECT_EQ(o.max_stars, 7u);
  EXPECT_EQ(o.min_length, 2u);
  EXPECT_EQ(o.forms, HUSHSET_FORM_JSON | HUSHSET_FORM_BASE64URL);
  EXPECT_TRUE(o.check);
  EXPECT_TRUE(o.allow_empty);
  EXPECT_EQ(o.chunk_size, 5u);
  EXPECT_EQ(o.files, (std::vector<std::string>{"in.log", "-", "--not-an-option"}));
  EXPECT_TRUE(o.command.empty());
}

TEST(ParseCommandLine, ExecTakesTheRestOfTheLine) {
  const auto parsed = parse({"-s", "abcd", "--exec", "make", "-s", "--check"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.command, (std::vector<std::string>{"make", "-s", "--check"}));
  EXPECT_FALSE(parsed.options.check);
  EXPECT_EQ(parsed.options.sources.size(), 1u);
}

TEST(ParseCommandLine, SecretsOnStandardInputNeedAnotherText) {
  EXPECT_EQ(parse({"-f", "-", "in.log"}).error, "");
  EXPECT_EQ(parse({"-f", "-", "--exec", "make"}).error, "");
  EXPECT_FALSE(hushcli::reads_text_from_standard_input(parse({"-s", "abcd", "a.log", "b.log"}).options));
  EXPECT_TRUE(hushcli::reads_text_from_standard_input(parse({"-s", "abcd", "a.log", "-"}).options));
}

TEST(ParseCommandLine, ReportsImplyCheckAndSecretValuesAreFound) {
  const std::vector<std::string_view> args = {"-lc", "-s", "one-secret", "--secret=two-secret", "a.log"};
  const auto parsed = parse(args);
  ASSERT_EQ(parsed.error, "");
  EXPECT_TRUE(parsed.options.check);
  EXPECT_TRUE(parsed.options.files_with_matches && parsed.options.count);
  // The views point into the arguments themselves, where they are wiped.
  ASSERT_EQ(parsed.secret_values.size(), 2u);
  EXPECT_EQ(parsed.secret_values[0].data(), args[2].data());
  EXPECT_EQ(parsed.secret_values[1], "two-secret");
  EXPECT_EQ(parsed.secret_values[1].data(), args[3].data() + 9);
  EXPECT_EQ(parse({"--add-secret", "/run/ctl"}).options.add_secret_path, "/run/ctl");
  EXPECT_EQ(parse({"--env-defaults"}).options.sources.size(), std::size(hushcli::DEFAULT_ENV_PATTERNS));
}

TEST(ParseCommandLine, DefaultsAndEncodingNone) {
  const auto defaults = parse({});
  EXPECT_EQ(defaults.options.max_stars, 3u);
  EXPECT_EQ(defaults.options.min_length, 4u);
  EXPECT_EQ(defaults.options.chunk_size, 65536u);
  EXPECT_EQ(defaults.options.forms, HUSHSET_FORMS_DEFAULT);
  EXPECT_EQ(parse({"--encodings", "none"}).options.forms, 0u);
  EXPECT_EQ(parse({"--encodings", "default"}).options.forms, HUSHSET_FORMS_DEFAULT);
  EXPECT_EQ(parse({"--encodings", "lines,base64,base64url,url,json,xml,shell"}).options.forms, HUSHSET_FORMS_ALL);
  EXPECT_EQ(parse({"--encodings", "default,base64url"}).options.forms, HUSHSET_FORMS_ALL);
}

// Errors name the problem without quoting anything that may be a secret.
TEST(ParseCommandLine, ErrorsNeverQuoteSecretValues) {
  const std::vector<std::vector<std::string_view>> cases = {
      {"--secrett=hunter2-value"},
      {"-xhunter2-value"},
      {"-s"},
      {"--secret"},
      {"-n", "hunter2-value"},
      {"--max-stars=-1"},
      {"--min-length=hunter2-value"},
      {"--encodings", "hunter2-value"},
      {"--chunk-size", "0"},
      {"--chunk-size", "1073741825"},
      {"--min-length", "+4"},
      {"--encodings", ""},
      {"--encodings", "base64,"},
      {"--encodings", "none,json"},
      {"--check=hunter2-value"},
      {"--exec"},
      {"--exec=hunter2-value"},
      {"file", "--exec", "true"},
      {"--hunter2-value"},
      {"--hunter2-value=x"},
      // Standard input cannot be both the secrets and the text.
      {"-f", "-"},
      {"-f", "-", "in.log", "-"},
      {"-f", "-", "-f", "-", "in.log"},
      // Options that need others, or exclude them.
      {"--add-secret", "/run/ctl", "hunter2-value"},
      {"-s", "hunter2-value", "--add-secret", "/run/ctl"},
      {"--report", "r.txt", "in.log"},
      {"-i"},
      {"-i", "-", "in.log"},
      {"-iq", "in.log"},
      {"-i", "--exec", "true"},
      {"--merge", "in.log"},
      {"--pty"},
      {"--unset-secrets", "in.log"},
  };
  for (const auto &args : cases) {
    const auto parsed = parse(args);
    EXPECT_NE(parsed.error, "") << args.front();
    EXPECT_EQ(parsed.error.find("hunter2"), std::string::npos) << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error;
  }
}

// Records what the scanner hands on: text as "[...]", directives as
// "{value|line}".
class Recorder final : public hushcli::DirectiveSink {
 public:
  std::string log;
  bool pass(const std::uint8_t *data, std::size_t len) override {
    log.append("[").append(reinterpret_cast<const char *>(data), len).append("]");
    return true;
  }
  bool directive(std::string_view value, const std::uint8_t *line, std::size_t len) override {
    log.append("{").append(value).append("|").append(reinterpret_cast<const char *>(line), len).append("}");
    return true;
  }
};

// Every cutting of the text into two writes hands on the same bytes in the
// same order, and directives whole.
TEST(ScanDirectives, Table) {
  const struct {
    const char *name;
    std::string text;
    std::string expected;  // pieces joined, since where text pieces are cut depends on the writes
  } cases[] = {
      {"plain lines", "a\nb\n", "[a\nb\n]"},
      {"directive", "x\n::add-mask::tok\ny\n", "[x\n]{tok|::add-mask::tok\n}[y\n]"},
      {"CR before LF dropped from the value", "::add-mask::tok\r\n", "{tok|::add-mask::tok\r\n}"},
      {"inner CR kept", "::add-mask::t\rk\n", "{t\rk|::add-mask::t\rk\n}"},
      {"not at a line start", "a::add-mask::tok\n", "[a::add-mask::tok\n]"},
      {"prefix broken", "::add-mas\n::add-maskX\n", "[::add-mas\n::add-maskX\n]"},
      {"no LF at the end still counts", "::add-mask::tok", "{tok|::add-mask::tok}"},
      {"prefix alone at the end", "::add", "[::add]"},
      {"empty value", "::add-mask::\n", "{|::add-mask::\n}"},
      {"two in a row", "::add-mask::a1\n::add-mask::b2\n", "{a1|::add-mask::a1\n}{b2|::add-mask::b2\n}"},
  };
  const auto joined = [](const std::string &log) {
    // Adjacent text pieces merged: "[a][b]" -> "[ab]".
    std::string out;
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i] == ']' && i + 1 < log.size() && log[i + 1] == '[') {
        ++i;
        continue;
      }
      out += log[i];
    }
    return out;
  };
  for (const auto &c : cases) {
    for (std::size_t cut = 0; cut <= c.text.size(); ++cut) {
      hushcli::DirectiveScan scan;
      Recorder recorder;
      const auto *bytes = reinterpret_cast<const std::uint8_t *>(c.text.data());
      EXPECT_TRUE(hushcli::scan_directives(scan, bytes, cut, recorder));
      EXPECT_TRUE(hushcli::scan_directives(scan, bytes + cut, c.text.size() - cut, recorder));
      EXPECT_TRUE(hushcli::end_directives(scan, recorder));
      EXPECT_EQ(joined(recorder.log), c.expected) << c.name << ", cut at " << cut;
    }
  }
}

}  // namespace
