// Secrets files, environment globs and the command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  };
  for (const auto &args : cases) {
    const auto parsed = parse(args);
    EXPECT_NE(parsed.error, "") << args.front();
    EXPECT_EQ(parsed.error.find("hunter2"), std::string::npos) << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error;
  }
}

}  // namespace
