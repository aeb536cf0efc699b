#pragma once
// A broken property must crash the fuzzer (so libFuzzer keeps the input) and
// fail the corpus replay test, in every build type: abort() after saying
// what broke, never an assert that NDEBUG could compile away.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);   \
      std::abort();                                                                           \
    }                                                                                         \
  } while (false)
