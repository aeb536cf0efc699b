#include "vectorscan_masker.h"

#include <hs.h>

#include <cstdint>

namespace hush_bench {
namespace {

int collect_match(unsigned int id, unsigned long long, unsigned long long to, unsigned int, void *context) {
  auto &masker = *static_cast<VectorscanMasker *>(context);
  masker.matches.push_back({to - masker.lengths[id], to});
  return 0;  // keep scanning
}

}  // namespace

bool compile_vectorscan(const std::vector<std::string> &secrets, VectorscanMasker &masker, std::string &error) {
  std::vector<const char *> expressions;
  std::vector<std::size_t> lengths;
  std::vector<unsigned> flags(secrets.size(), 0);
  std::vector<unsigned> ids;
  for (std::size_t i = 0; i < secrets.size(); ++i) {
    expressions.push_back(secrets[i].data());
    lengths.push_back(secrets[i].size());
    ids.push_back(static_cast<unsigned>(i));
  }
  hs_compile_error_t *compile_error = nullptr;
  hs_database_t *database = nullptr;
  if (hs_compile_lit_multi(expressions.data(), flags.data(), ids.data(), lengths.data(),
                           static_cast<unsigned>(secrets.size()), HS_MODE_BLOCK, nullptr, &database,
                           &compile_error) != HS_SUCCESS) {
    error = compile_error != nullptr ? compile_error->message : "hs_compile_lit_multi failed";
    hs_free_compile_error(compile_error);
    return false;
  }
  hs_scratch_t *scratch = nullptr;
  if (hs_alloc_scratch(database, &scratch) != HS_SUCCESS) {
    hs_free_database(database);
    error = "hs_alloc_scratch failed";
    return false;
  }
  masker.database = database;
  masker.scratch = scratch;
  masker.lengths.assign(lengths.begin(), lengths.end());
  masker.matches.clear();
  masker.matches.reserve(1 << 16);
  return true;
}

void release_vectorscan(VectorscanMasker &masker) {
  hs_free_scratch(masker.scratch);
  hs_free_database(masker.database);
  masker.scratch = nullptr;
  masker.database = nullptr;
}

std::size_t vectorscan_database_bytes(const VectorscanMasker &masker) {
  std::size_t database = 0;
  std::size_t scratch = 0;
  hs_database_size(masker.database, &database);
  hs_scratch_size(masker.scratch, &scratch);
  return database + scratch;
}

MaskResult vectorscan_mask(VectorscanMasker &masker, std::string_view text, std::uint64_t max_stars,
                           std::uint8_t *out) {
  masker.matches.clear();
  if (hs_scan(masker.database, text.data(), static_cast<unsigned>(text.size()), 0, masker.scratch, collect_match,
              &masker) != HS_SUCCESS) {
    return {0, UINT64_MAX};
  }
  return mask_intervals(text, masker.matches, max_stars, out);
}

}  // namespace hush_bench
