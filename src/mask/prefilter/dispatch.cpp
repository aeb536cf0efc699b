// The one place that knows which kernels exist and which this CPU runs.
// The choice is made when a filter is built and stored in it, so masking
// pays one indirect call per search and no global state is kept.

#include "mask/prefilter/kernels.h"

namespace hush::core {
namespace {

bool cpu_runs(PrefilterKernel kernel) noexcept {
#if HUSH_PREFILTER_X86
  switch (kernel) {
    case PrefilterKernel::scalar: return true;
    case PrefilterKernel::ssse3: return __builtin_cpu_supports("ssse3") != 0;
    case PrefilterKernel::avx2: return __builtin_cpu_supports("avx2") != 0;
    case PrefilterKernel::avx512:
      return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
             __builtin_cpu_supports("avx512vbmi") != 0;
  }
  return false;
#else
  return kernel == PrefilterKernel::scalar;
#endif
}

CandidateSearch compiled_search(PrefilterKind kind, PrefilterKernel kernel) noexcept {
  if (kind == PrefilterKind::literal) {
    switch (kernel) {
      case PrefilterKernel::scalar: return search_literal_scalar;
#if HUSH_PREFILTER_X86
      case PrefilterKernel::ssse3: return search_literal_ssse3;
      case PrefilterKernel::avx2: return search_literal_avx2;
      case PrefilterKernel::avx512: return search_literal_avx512;
#endif
      default: return nullptr;
    }
  }
  if (kind == PrefilterKind::buckets) {
    switch (kernel) {
      case PrefilterKernel::scalar: return search_buckets_scalar;
#if HUSH_PREFILTER_X86
      case PrefilterKernel::avx512: return search_buckets_avx512;
#endif
      default: return nullptr;
    }
  }
  if (kind == PrefilterKind::sampled) {
    switch (kernel) {
      case PrefilterKernel::scalar: return search_sampled_scalar;
#if HUSH_PREFILTER_X86
      case PrefilterKernel::avx2: return search_sampled_avx2;
#endif
      default: return nullptr;
    }
  }
  if (kind == PrefilterKind::bitset) {
    switch (kernel) {
      case PrefilterKernel::scalar: return search_bitset_scalar;
#if HUSH_PREFILTER_X86
      case PrefilterKernel::avx2: return search_bitset_avx2;
#endif
      default: return nullptr;
    }
  }
  switch (kernel) {
    case PrefilterKernel::scalar: return search_buckets_scalar;
#if HUSH_PREFILTER_X86
    case PrefilterKernel::ssse3: return search_nibble_ssse3;
    case PrefilterKernel::avx2: return search_nibble_avx2;
    case PrefilterKernel::avx512: return search_nibble_avx512;
#endif
    default: return nullptr;
  }
}

}  // namespace

CandidateSearch prefilter_search(PrefilterKind kind, PrefilterKernel kernel) noexcept {
  return cpu_runs(kernel) ? compiled_search(kind, kernel) : nullptr;
}

PrefilterKernel best_prefilter_kernel(PrefilterKind kind) noexcept {
  for (unsigned rank = PREFILTER_KERNELS; rank-- > 0;) {
    const auto kernel = static_cast<PrefilterKernel>(rank);
    if (prefilter_search(kind, kernel) != nullptr) return kernel;
  }
  return PrefilterKernel::scalar;
}

bool force_prefilter_kernel(Prefilter &filter, PrefilterKernel kernel) noexcept {
  const CandidateSearch search = prefilter_search(filter.kind, kernel);
  if (search == nullptr) return false;
  filter.search = search;
  filter.kernel = kernel;
  return true;
}

}  // namespace hush::core
