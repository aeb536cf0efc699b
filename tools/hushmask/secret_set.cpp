#include "secret_set.h"

#include <algorithm>

#include "diagnostics.h"

namespace hushcli {
namespace {

std::string describe_length(std::uint64_t length) {
  return std::to_string(length) + (length == 1 ? " byte" : " bytes");
}

std::string describe(const SecretSet &set, const LeftOut &left);

void record_diagnostic(SecretSet &set, std::int32_t code, std::uint32_t form, std::uint64_t length) {
  const LeftOut left{code, form, length};
  const auto same = [&](const LeftOut &seen) {
    return seen.code == left.code && seen.form == left.form && seen.length == left.length;
  };
  // Forms of several styles can share a length; one line says it for all.
  if (std::any_of(set.left_out.begin(), set.left_out.end(), same)) return;
  set.left_out.push_back(left);
  set.warnings.push_back(describe(set, left));
}

std::string describe(const SecretSet &set, const LeftOut &left) {
  if (left.code == HUSHSET_DIAG_BLANK_LINE) {
    return "a line of " + set.source + " holds only whitespace (" + describe_length(left.length) + "): left out";
  }
  const std::string too_short =
      " is " + describe_length(left.length) + " long, shorter than --min-length " + std::to_string(set.min_length);
  if (left.form == 0) {
    if (left.length == 0) return set.source + " is empty: nothing to mask";
    return set.source + too_short + ": not masked";
  }
  if (left.form == HUSHSET_FORM_LINES) return "a line of " + set.source + too_short + ": left out";
  return "a " + std::string(form_name(left.form)) + " form of " + set.source + too_short + ": left out";
}

// Runs inside hushset_add, which cannot pass an exception on: a failure to
// record the line is kept as a flag instead.
extern "C" void take_diagnostic(void *context, std::int32_t code, std::uint32_t form, std::uint64_t length) noexcept {
  auto &set = *static_cast<SecretSet *>(context);
  try {
    record_diagnostic(set, code, form, length);
  } catch (...) {
    set.diagnostics_lost = true;
  }
}

}  // namespace

bool open_secret_set(SecretSet &set, const Options &options) {
  hushset_options settings;
  hushset_options_init(&settings);
  settings.forms = options.forms;
  settings.max_stars = options.max_stars;
  settings.min_length = options.min_length;
  settings.diagnostic = take_diagnostic;
  settings.context = &set;
  set.min_length = options.min_length;
  set.set = hushset_new(&settings);
  return set.set != nullptr;
}

bool add_secret(SecretSet &set, std::string_view value, std::string source) {
  set.source = std::move(source);
  set.left_out.clear();
  // The library gives diagnostics only for an add that succeeds.
  const auto *bytes = reinterpret_cast<const std::uint8_t *>(value.data());
  return hushset_add(set.set, bytes, value.size()) == HUSHSET_OK;
}

bool build_secret_set(SecretSet &set) { return hushset_build(set.set) == HUSHSET_OK; }

bool add_secret_now(SecretSet &set, std::string_view value, std::string source) {
  set.warnings.clear();
  if (!add_secret(set, value, std::move(source)) || !build_secret_set(set)) return false;
  for (const std::string &warning : set.warnings) print_warning(set.set, warning);
  set.warnings.clear();
  return true;
}

void close_secret_set(SecretSet &set) {
  hushset_destroy(set.set);
  set.set = nullptr;
}

}  // namespace hushcli
