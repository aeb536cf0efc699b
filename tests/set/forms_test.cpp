#include "set/forms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alloc/allocator.h"

namespace {

std::vector<std::string> forms_of(const std::string &secret, std::uint32_t forms) {
  std::vector<std::string> seen;
  hush::set::FormSink sink{&seen,
                           [](void *context, std::uint32_t, const std::uint8_t *bytes, std::uint64_t len) noexcept {
                             static_cast<std::vector<std::string> *>(context)->emplace_back(
                                 reinterpret_cast<const char *>(bytes), len);
                             return hush::core::Status::ok;
                           },
                           [](void *, std::uint64_t) noexcept {}};
  EXPECT_FALSE(hush::core::failed(hush::set::derive_forms(hush::core::c_heap_allocator,
                                                          reinterpret_cast<const std::uint8_t *>(secret.data()),
                                                          secret.size(), forms, sink)));
  return seen;
}

TEST(Forms, SecretItselfComesFirst) {
  const auto forms = forms_of("hunter22", 0);
  ASSERT_FALSE(forms.empty());
  EXPECT_EQ(forms.front(), "hunter22");
}

}  // namespace
