#include "support/masker_access.h"

#include <gtest/gtest.h>

namespace hush::core::testing {

Handle make_handle() {
  Handle handle(hush_new());
  EXPECT_NE(handle, nullptr);
  return handle;
}

std::int32_t insert(const Handle &handle, const Bytes &secret) {
  return hush_insert(handle.get(), reinterpret_cast<const std::uint8_t *>(secret.data()), secret.size());
}

Handle make_built(const std::vector<Bytes> &secrets) {
  Handle handle = make_handle();
  for (const Bytes &secret : secrets) EXPECT_EQ(insert(handle, secret), 0);
  EXPECT_EQ(hush_build(handle.get()), 0);
  return handle;
}

std::optional<NodeIndex> node_of(const Masker &masker, const Bytes &path) {
  NodeIndex node = 0;
  for (char byte : path) {
    node = find_edge(masker.nodes[node], static_cast<std::uint8_t>(byte));
    if (node == 0) return std::nullopt;
  }
  return node;
}

MaskCall mask(const Handle &handle, const Bytes &text, std::uint64_t max_stars, bool streaming) {
  std::uint8_t *out = reinterpret_cast<std::uint8_t *>(0x1);  // must be overwritten on success
  std::uint64_t out_len = 12345;
  const std::int32_t status = hush_mask(handle.get(), reinterpret_cast<const std::uint8_t *>(text.data()),
                                        text.size(), max_stars, streaming ? 1 : 0, &out, &out_len);
  MaskCall call{status, {}};
  if (status == 0) {
    EXPECT_EQ(out == nullptr, out_len == 0) << "null exactly when empty";
    if (out != nullptr) call.output.assign(reinterpret_cast<const char *>(out), out_len);
    hush_free(out, out_len);
  }
  return call;
}

Bytes reminder_of(const Handle &handle) {
  std::uint64_t len = 99;
  const std::uint8_t *held = hush_get_reminder(handle.get(), &len);
  EXPECT_EQ(held == nullptr, len == 0);
  return held == nullptr ? Bytes{} : Bytes(reinterpret_cast<const char *>(held), len);
}

Bytes stream_through(const Handle &handle, const Bytes &text, const std::vector<std::size_t> &cuts,
                     std::uint64_t max_stars, std::size_t *longest_reminder) {
  Bytes result;
  std::size_t from = 0;
  std::size_t longest = 0;
  auto feed = [&](std::size_t to) {
    const MaskCall call = mask(handle, text.substr(from, to - from), max_stars, true);
    EXPECT_EQ(call.status, 0);
    result += call.output;
    longest = std::max(longest, reminder_of(handle).size());
    from = to;
  };
  for (std::size_t cut : cuts) feed(cut);
  feed(text.size());
  result += reminder_of(handle);
  hush_reset_reminder(handle.get());
  if (longest_reminder != nullptr) *longest_reminder = longest;
  return result;
}

}  // namespace hush::core::testing
