// Runs a fuzz target's logic over saved inputs without libFuzzer, so the
// committed corpus is replayed by every normal test run and any compiler can
// build it.  Arguments are files or directories (every regular file in a
// directory, in name order so a failure is reproducible).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

bool run_file(const std::filesystem::path &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), input.size());
  // Copied to a block of exactly its size, so that a sanitizer sees any read
  // past the end as libFuzzer would.
  std::vector<std::uint8_t> exact(input.begin(), input.end());
  (void)LLVMFuzzerTestOneInput(exact.data(), exact.size());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  std::size_t replayed = 0;
  bool ok = true;
  for (int a = 1; a < argc; ++a) {
    const std::filesystem::path argument(argv[a]);
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(argument)) {
      for (const auto &entry : std::filesystem::directory_iterator(argument)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
    } else {
      files.push_back(argument);
    }
    for (const auto &file : files) {
      ok = run_file(file) && ok;
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  std::fprintf(stderr, "%zu inputs replayed\n", replayed);
  return ok ? 0 : 1;
}
