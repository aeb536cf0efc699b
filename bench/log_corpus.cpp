#include "log_corpus.h"

#include <cstdio>
#include <string_view>
#include <unordered_set>

#include "prng.h"

namespace hush_bench {
namespace {

constexpr char SECRET_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
static_assert(sizeof(SECRET_ALPHABET) == 65);
constexpr std::size_t MIN_SECRET = 8;
constexpr std::size_t MAX_SECRET = 64;

// Secrets land 20 to 40 KB apart: one every 30 KB on average.
constexpr std::uint64_t MIN_SECRET_GAP = 20'000;
constexpr std::uint64_t MAX_SECRET_GAP = 40'000;

constexpr std::uint64_t LOG_SEED = 0x10C5EED;
constexpr std::uint64_t PLACEMENT_SEED = 0x5EC2E75;
constexpr std::uint64_t SECRET_SEED = 0xC0FFEE;

constexpr const char *PROJECTS[] = {"atlas", "hermes", "orbit", "quarry", "lumen", "pylon"};
constexpr const char *DIRS[] = {"src",      "src/net",    "src/core", "src/io",
                                "lib/util", "tests/unit", "tools",    "include/api"};
constexpr const char *FILES[] = {"http_client",   "parser",      "scheduler",    "buffer_pool",
                                 "config_loader", "tls_session", "json_writer",  "thread_pool",
                                 "main",          "metrics",     "retry_policy", "arena"};
constexpr const char *WARNINGS[] = {
    "comparison of integer expressions of different signedness: 'int' and 'size_t' [-Wsign-compare]",
    "unused variable 'result' [-Wunused-variable]",
    "conversion from 'long unsigned int' to 'unsigned int' may change value [-Wconversion]",
    "declaration of 'count' shadows a member of 'Scheduler' [-Wshadow]",
    "'ptr' may be used uninitialized [-Wmaybe-uninitialized]",
    "this statement may fall through [-Wimplicit-fallthrough=]",
    "unused parameter 'context' [-Wunused-parameter]"};
constexpr const char *CODE[] = {"    for (int i = 0; i < items.size(); ++i) {",
                                "    auto result = pool.acquire(size);",
                                "    unsigned n = buffer.length();",
                                "    int count = next_batch();",
                                "      case State::open: flush(out);",
                                "static void on_ready(Context &context, int fd) {"};
constexpr const char *COMMANDS[] = {
    "+ cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release",
    "+ cmake --build build --parallel 4",
    "+ ctest --test-dir build --output-on-failure -j 4",
    "$ npm ci --no-audit --no-fund",
    "$ python3 -m pip install --upgrade pip setuptools wheel",
    "+ git fetch --no-tags --prune --depth=1 origin +refs/heads/main:refs/remotes/origin/main",
    "+ docker build -t registry.example.com/org/app:ci --build-arg VERSION=1.4.2 .",
    "##[group]Run actions/checkout@v4",
    "##[endgroup]",
    "+ tar -czf dist/app-linux-x86_64.tar.gz -C build/out .",
    "$ cargo build --release --locked",
    "+ rsync -a --delete build/out/ /srv/artifacts/"};
constexpr const char *LEVELS[] = {"info", "info", "info", "debug", "warn", "error"};
constexpr const char *MESSAGES[] = {"uploaded artifact", "cache restored",     "cache miss",
                                    "step finished",     "retrying request",   "resolved dependency",
                                    "container started", "health check passed"};
constexpr const char *HOSTS[] = {"registry.npmjs.example",  "files.pythonhosted.example", "github.example.com",
                                 "objects.example-cdn.net", "api.ci.example.org",         "mirror.debian.example"};
constexpr const char *PACKAGES[] = {"requests", "urllib3", "left-pad", "serde_json", "lodash",
                                    "protobuf", "numpy",   "tokio",    "zlib",       "openssl-sys"};
constexpr const char *TESTS[] = {"ParserTest.HandlesEmptyInput",          "SchedulerTest.RunsInOrder",
                                 "BufferPoolTest.ReusesBlocks",           "TlsSessionTest.RejectsExpiredCertificate",
                                 "RetryPolicyTest.BacksOffExponentially", "JsonWriterTest.EscapesControlBytes"};

// Everything the line writers share: the output, the random source and the
// clock that stamps each line.
struct LogWriter {
  std::string &out;
  Prng prng;
  std::uint64_t clock_ms;  // milliseconds since the job started
};

void append_format(std::string &out, const char *format, auto... args) {
  char line[512];
  const int length = std::snprintf(line, sizeof line, format, args...);
  if (length > 0)
    out.append(line,
               static_cast<std::size_t>(length) < sizeof line ? static_cast<std::size_t>(length) : sizeof line - 1);
}

void append_hex(LogWriter &log, std::size_t digits) {
  static constexpr char HEX[] = "0123456789abcdef";
  for (std::size_t i = 0; i < digits; ++i) log.out.push_back(HEX[below(log.prng, 16)]);
}

// "2024-05-06T07:08:09.1234567Z ", the stamp a hosted runner puts on a line.
void append_timestamp(LogWriter &log) {
  log.clock_ms += between(log.prng, 0, 400);
  const std::uint64_t seconds = log.clock_ms / 1000;
  append_format(log.out, "2024-05-%02uT%02u:%02u:%02u.%03u%04uZ ", unsigned(6 + seconds / 86400 % 20),
                unsigned(seconds / 3600 % 24), unsigned(seconds / 60 % 60), unsigned(seconds % 60),
                unsigned(log.clock_ms % 1000), unsigned(below(log.prng, 10000)));
}

void append_path(LogWriter &log) {
  append_format(log.out, "/home/runner/work/%s/%s/%s/%s.cpp", pick(log.prng, PROJECTS), pick(log.prng, PROJECTS),
                pick(log.prng, DIRS), pick(log.prng, FILES));
}

void write_progress(LogWriter &log) {
  append_format(log.out, "[%3u%%] Building CXX object %s/CMakeFiles/%s.dir/%s.cpp.o\n", unsigned(below(log.prng, 101)),
                pick(log.prng, DIRS), pick(log.prng, PROJECTS), pick(log.prng, FILES));
}

void write_warning(LogWriter &log) {
  const auto line = unsigned(between(log.prng, 1, 2400));
  const auto column = unsigned(between(log.prng, 1, 60));
  append_path(log);
  append_format(log.out, ":%u:%u: warning: %s\n", line, column, pick(log.prng, WARNINGS));
  append_timestamp(log);
  append_format(log.out, "%5u | %s\n", line, pick(log.prng, CODE));
  append_timestamp(log);
  append_format(log.out, "      | %*s~~^~~~~~~~~\n", int(column % 30), "");
}

void write_command(LogWriter &log) { append_format(log.out, "%s\n", pick(log.prng, COMMANDS)); }

void write_json(LogWriter &log) {
  append_format(
      log.out,
      "{\"ts\":%llu,\"level\":\"%s\",\"logger\":\"%s.%s\",\"msg\":\"%s\",\"path\":\"dist/%s-%u.%u.%u.tar.gz\","
      "\"bytes\":%u,\"duration_ms\":%u,\"request_id\":\"",
      static_cast<unsigned long long>(1714979289000u + log.clock_ms), pick(log.prng, LEVELS), pick(log.prng, PROJECTS),
      pick(log.prng, FILES), pick(log.prng, MESSAGES), pick(log.prng, PACKAGES), unsigned(below(log.prng, 5)),
      unsigned(below(log.prng, 30)), unsigned(below(log.prng, 12)), unsigned(below(log.prng, 50'000'000)),
      unsigned(below(log.prng, 9000)));
  append_hex(log, 8);
  for (int group = 0; group < 3; ++group) {
    log.out += '-';
    append_hex(log, 4);
  }
  log.out += '-';
  append_hex(log, 12);
  log.out += "\"}\n";
}

void write_digest(LogWriter &log) {
  switch (below(log.prng, 3)) {
    case 0:
      log.out += "sha256:";
      append_hex(log, 64);
      append_format(log.out, "  dist/%s-linux-x86_64.tar.gz\n", pick(log.prng, PACKAGES));
      break;
    case 1:
      log.out += "HEAD is now at ";
      append_hex(log, 7);
      append_format(log.out, " Merge pull request #%u from %s/fix-%s\n", unsigned(between(log.prng, 100, 9999)),
                    pick(log.prng, PROJECTS), pick(log.prng, FILES));
      break;
    default:
      append_format(log.out, "Cache key: %s-build-", pick(log.prng, PROJECTS));
      append_hex(log, 40);
      log.out += '\n';
      break;
  }
}

void write_url(LogWriter &log) {
  const char *package = pick(log.prng, PACKAGES);
  if (below(log.prng, 2) == 0) {
    append_format(log.out, "Downloading https://%s/packages/%02x/%02x/%s-%u.%u.%u-py3-none-any.whl (%u kB)\n",
                  pick(log.prng, HOSTS), unsigned(below(log.prng, 256)), unsigned(below(log.prng, 256)), package,
                  unsigned(below(log.prng, 4)), unsigned(below(log.prng, 40)), unsigned(below(log.prng, 10)),
                  unsigned(between(log.prng, 3, 9000)));
  } else {
    append_format(log.out, "GET https://%s/v2/repos/org/%s/actions/runs/%u?page=%u 200 OK in %ums\n",
                  pick(log.prng, HOSTS), package, unsigned(between(log.prng, 100'000'000, 999'999'999)),
                  unsigned(between(log.prng, 1, 9)), unsigned(between(log.prng, 2, 900)));
  }
}

void write_test(LogWriter &log) {
  const char *test = pick(log.prng, TESTS);
  append_format(log.out, "[ RUN      ] %s\n", test);
  append_timestamp(log);
  append_format(log.out, "[       OK ] %s (%u ms)\n", test, unsigned(below(log.prng, 250)));
}

void write_listing(LogWriter &log) {
  append_format(log.out, "  adding: build/out/lib/lib%s.so.%u.%u (deflated %u%%)\n", pick(log.prng, PROJECTS),
                unsigned(below(log.prng, 4)), unsigned(below(log.prng, 20)), unsigned(between(log.prng, 10, 90)));
}

// One ordinary log line (or a short group of lines), weighted roughly as in
// a C++ project's CI job.
void write_log_line(LogWriter &log) {
  append_timestamp(log);
  const std::uint64_t kind = below(log.prng, 100);
  if (kind < 22) return write_progress(log);
  if (kind < 34) return write_warning(log);
  if (kind < 46) return write_command(log);
  if (kind < 62) return write_json(log);
  if (kind < 72) return write_digest(log);
  if (kind < 84) return write_url(log);
  if (kind < 94) return write_test(log);
  return write_listing(log);
}

// A line that carries one secret, as credentials leak into logs.
void write_secret_line(LogWriter &log, std::string_view secret, std::uint64_t form) {
  append_timestamp(log);
  switch (form % 5) {
    case 0: log.out += "+ export API_TOKEN="; break;
    case 1: log.out += "> Authorization: Bearer "; break;
    case 2: log.out += "+ git clone https://ci-bot:"; break;
    case 3: log.out += "{\"level\":\"debug\",\"msg\":\"using credentials\",\"token\":\""; break;
    default: log.out += "+ ./deploy.sh --region eu-west-1 --password "; break;
  }
  log.out += secret;
  switch (form % 5) {
    case 2: log.out += "@github.example.com/org/atlas.git\n"; break;
    case 3: log.out += "\"}\n"; break;
    default: log.out += '\n'; break;
  }
}

}  // namespace

std::vector<std::string> make_secret_set(std::size_t count) {
  Prng prng{SECRET_SEED ^ (count * 0x9E3779B97F4A7C15u)};
  std::unordered_set<std::string> seen;
  std::vector<std::string> secrets;
  secrets.reserve(count);
  while (secrets.size() < count) {
    std::string secret(between(prng, MIN_SECRET, MAX_SECRET), '\0');
    for (char &c : secret) c = SECRET_ALPHABET[below(prng, 64)];
    if (seen.insert(secret).second) secrets.push_back(std::move(secret));
  }
  return secrets;
}

CiLog make_ci_log(const std::vector<std::string> &secrets, std::size_t size) {
  CiLog log{std::string(), 0};
  log.text.reserve(size + 4096);
  // The log lines come from their own generator so that they are the same
  // for every secret set; the placement generator picks secrets and gaps.
  LogWriter writer{log.text, Prng{LOG_SEED}, 0};
  Prng placement{PLACEMENT_SEED};
  std::size_t next_secret_at = between(placement, MIN_SECRET_GAP, MAX_SECRET_GAP);
  while (true) {
    const std::size_t line_start = log.text.size();
    const bool with_secret = !secrets.empty() && line_start >= next_secret_at;
    if (with_secret) {
      write_secret_line(writer, secrets[below(placement, secrets.size())], next_u64(placement));
    } else {
      write_log_line(writer);
    }
    if (log.text.size() > size) {
      // The last line does not fit: drop it and pad with a line of dots,
      // which no secret contains.
      log.text.resize(line_start);
      if (size > line_start) {
        log.text.append(size - line_start - 1, '.');
        log.text += '\n';
      }
      break;
    }
    if (with_secret) {
      ++log.embedded_secrets;
      next_secret_at = log.text.size() + between(placement, MIN_SECRET_GAP, MAX_SECRET_GAP);
    }
  }
  return log;
}

}  // namespace hush_bench

namespace hush_bench {
namespace {

constexpr std::uint64_t CORPUS_SEED = 0xC0A905;

// Appends `secret` to `out` once `out` has grown past `next_at`, and moves
// `next_at` on by 20 to 40 KB.
void maybe_embed(std::string &out, const std::vector<std::string> &secrets, Prng &prng, std::uint64_t &next_at) {
  if (out.size() < next_at || secrets.empty()) return;
  out += secrets[below(prng, secrets.size())];
  next_at = out.size() + between(prng, MIN_SECRET_GAP, MAX_SECRET_GAP);
}

void append_alphabet(std::string &out, Prng &prng, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) out.push_back(SECRET_ALPHABET[below(prng, 64)]);
}

std::string cut_to(std::string text, std::size_t size) {
  text.resize(size, '\n');
  return text;
}

}  // namespace

std::vector<std::string> make_prefixed_secret_set(std::size_t count, const std::string &prefix) {
  Prng prng{SECRET_SEED ^ (prefix.size() * 0x9E37u)};
  std::unordered_set<std::string> seen;
  std::vector<std::string> secrets;
  secrets.reserve(count);
  while (secrets.size() < count) {
    std::string secret = prefix;
    append_alphabet(secret, prng, between(prng, 12, 40));
    if (seen.insert(secret).second) secrets.push_back(std::move(secret));
  }
  return secrets;
}

std::string make_prefix_dense_text(const std::vector<std::string> &secrets, const std::string &prefix,
                                   std::size_t size) {
  Prng prng{CORPUS_SEED};
  std::string out;
  out.reserve(size + 128);
  std::uint64_t next_at = between(prng, MIN_SECRET_GAP, MAX_SECRET_GAP);
  while (out.size() < size) {
    out += prefix;
    append_alphabet(out, prng, 16 - prefix.size());
    maybe_embed(out, secrets, prng, next_at);
  }
  return cut_to(std::move(out), size);
}

std::string make_random_text(const std::vector<std::string> &secrets, std::size_t size) {
  Prng prng{CORPUS_SEED + 1};
  std::string out;
  out.reserve(size + 128);
  std::uint64_t next_at = between(prng, MIN_SECRET_GAP, MAX_SECRET_GAP);
  while (out.size() < size) {
    std::uint64_t word = next_u64(prng);
    for (int i = 0; i < 8; ++i, word >>= 8)
      out.push_back(static_cast<char>(word & 0xFF) == '*' ? '+' : static_cast<char>(word & 0xFF));
    maybe_embed(out, secrets, prng, next_at);
  }
  return cut_to(std::move(out), size);
}

std::string make_base64_log(const std::vector<std::string> &secrets, std::size_t size) {
  static constexpr char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Prng prng{CORPUS_SEED + 2};
  std::string out;
  out.reserve(size + 4096);
  std::uint64_t next_at = between(prng, MIN_SECRET_GAP, MAX_SECRET_GAP);
  while (out.size() < size) {
    out += pick(prng, LEVELS);
    out += " upload chunk=";
    out += std::to_string(below(prng, 100000));
    out += " data=";
    const std::uint64_t blob = between(prng, 48, 3000);
    for (std::uint64_t i = 0; i < blob / 3 * 4; ++i) out.push_back(BASE64[below(prng, 64)]);
    if (below(prng, 4) == 0) out += "==";
    out += '\n';
    maybe_embed(out, secrets, prng, next_at);
  }
  return cut_to(std::move(out), size);
}

}  // namespace hush_bench
