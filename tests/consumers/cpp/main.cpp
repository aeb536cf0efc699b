// A C++ program that uses hushmask through hushmask.hpp, built by CMake with
// find_package or FetchContent.  Masks one text whole and cut at every point.
#include <hushmask.hpp>

#include <cstdio>
#include <string>

int main() {
  hush::Masker masker({"hunter2", "s3cr3t"});
  const std::string text = "password=hunter2 token=s3cr3t hunter";
  const std::string expected = "password=*** token=*** hunter";

  int failures = 0;
  if (masker.mask(text, 3) != expected) {
    std::fprintf(stderr, "whole text: got \"%s\"\n", masker.mask(text, 3).c_str());
    ++failures;
  }
  hush::Stream stream(masker, 3);
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    std::string out = stream.mask(text.substr(0, cut));
    out += stream.mask(text.substr(cut));
    out += stream.finish();
    if (out != expected) {
      std::fprintf(stderr, "cut at %zu: got \"%s\"\n", cut, out.c_str());
      ++failures;
    }
  }
  if (failures == 0) {
    std::printf("c++ consumer: ok\n");
  }
  return failures == 0 ? 0 : 1;
}
