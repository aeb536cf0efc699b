// The calling contract of hushset.h: bad arguments, short buffers, sets
// that were never built, diagnostics, and many streams of one set.

#include <gtest/gtest.h>

#include <random>

#include "set/set_support.h"

namespace hush::set::testing {
namespace {

TEST(SetApi, BadArgumentsAreRefused) {
  hushset_options options;
  hushset_options_init(&options);
  options.size = sizeof(options) - 1;
  EXPECT_EQ(hushset_new(&options), nullptr);
  hushset_options_init(&options);
  options.forms = HUSHSET_FORMS_ALL + 1;
  EXPECT_EQ(hushset_new(&options), nullptr);

  const SetHandle unbuilt(hushset_new(nullptr));
  std::uint8_t out[8];
  std::uint64_t out_len = 0;
  // A set never built must not pass text through by mistake.
  EXPECT_EQ(hushset_mask(unbuilt.get(), out, 1, out, 8, &out_len), HUSHSET_INVALID);
  EXPECT_EQ(hushset_stream_new(unbuilt.get()), nullptr);
  EXPECT_EQ(hushset_hold_limit(unbuilt.get()), 0u);
  EXPECT_EQ(hushset_add(unbuilt.get(), nullptr, 3), HUSHSET_INVALID);
  EXPECT_EQ(hushset_add(nullptr, out, 3), HUSHSET_INVALID);
  EXPECT_EQ(hushset_build(nullptr), HUSHSET_INVALID);

  const SetHandle set = make_set({"secret"}, 3);
  const StreamHandle stream(hushset_stream_new(set.get()));
  EXPECT_EQ(hushset_mask(set.get(), nullptr, 1, out, 8, &out_len), HUSHSET_INVALID);
  EXPECT_EQ(hushset_mask(set.get(), out, 1, nullptr, 8, &out_len), HUSHSET_INVALID);
  EXPECT_EQ(hushset_mask(set.get(), out, 1, out, 8, nullptr), HUSHSET_INVALID);
  EXPECT_EQ(hushset_write(stream.get(), nullptr, 1, out, 8, &out_len), HUSHSET_INVALID);
  EXPECT_EQ(hushset_write(nullptr, out, 1, out, 8, &out_len), HUSHSET_INVALID);
  EXPECT_EQ(hushset_finish(stream.get(), nullptr, 8, &out_len), HUSHSET_INVALID);
  // Null with nothing to read or write is fine.
  EXPECT_EQ(hushset_mask(set.get(), nullptr, 0, nullptr, 0, &out_len), HUSHSET_OK);
  EXPECT_EQ(out_len, 0u);
  hushset_stream_destroy(nullptr);
  hushset_destroy(nullptr);
}

// Below the documented size a call writes nothing, says what it needs and
// changes nothing: the stream goes on as if the call had not been made.
TEST(SetApi, ShortBuffersChangeNothing) {
  const SetHandle set = make_set({"secret-value"}, 3);
  const StreamHandle stream(hushset_stream_new(set.get()));
  Bytes output;
  write_exact(stream.get(), data_of(Bytes("log: secret-va")), 14, output);
  const Bytes rest = "lue and more";
  Bytes out(rest.size() + 20, '#');
  std::uint64_t needed = 0;
  ASSERT_EQ(
      hushset_write(stream.get(), data_of(rest), rest.size(), reinterpret_cast<std::uint8_t *>(out.data()), 0, &needed),
      HUSHSET_SHORT_BUFFER);
  ASSERT_GT(needed, rest.size());
  std::uint64_t short_len = 0;
  EXPECT_EQ(hushset_write(stream.get(), data_of(rest), rest.size(), reinterpret_cast<std::uint8_t *>(out.data()),
                          needed - 1, &short_len),
            HUSHSET_SHORT_BUFFER);
  EXPECT_EQ(short_len, needed);
  EXPECT_EQ(out, Bytes(rest.size() + 20, '#'));
  write_exact(stream.get(), data_of(rest), rest.size(), output);
  finish_exact(stream.get(), output);
  EXPECT_EQ(output, "log: *** and more");

  EXPECT_EQ(hushset_mask(set.get(), data_of(rest), rest.size(), reinterpret_cast<std::uint8_t *>(out.data()),
                         rest.size() - 1, &short_len),
            HUSHSET_SHORT_BUFFER);
  EXPECT_EQ(short_len, rest.size());
}

// Bytes the walk wrote past the length a call reports (text a run took
// back, bytes now held back in the stream) must not stay in the caller's
// buffer.
TEST(SetApi, NothingOfASecretStaysPastTheReportedLength) {
  const SetHandle set = make_set({"hunter22-secret"}, 0);
  const Bytes text = "pw=hunter22-secret;pw=hunter22-se";
  Bytes out(text.size() + hushset_hold_limit(set.get()), '#');
  std::uint64_t out_len = 0;
  ASSERT_EQ(hushset_mask(set.get(), data_of(text), text.size(), reinterpret_cast<std::uint8_t *>(out.data()),
                         out.size(), &out_len),
            HUSHSET_OK);
  EXPECT_EQ(out.substr(0, out_len), "pw=;pw=hunter22-se");
  EXPECT_EQ(out.find("secret", out_len), Bytes::npos);

  const StreamHandle stream(hushset_stream_new(set.get()));
  out.assign(out.size(), '#');
  ASSERT_EQ(hushset_write(stream.get(), data_of(text), text.size(), reinterpret_cast<std::uint8_t *>(out.data()),
                          out.size(), &out_len),
            HUSHSET_OK);
  EXPECT_EQ(out.substr(0, out_len), "pw=;pw=");
  EXPECT_EQ(out.find("hunter", out_len), Bytes::npos);
}

TEST(SetApi, DiagnosticsNameFormsLeftOutByLength) {
  struct Seen {
    std::int32_t code;
    std::uint32_t form;
    std::uint64_t length;
    bool operator==(const Seen &) const = default;
  };
  std::vector<Seen> seen;
  hushset_options options = raw_options(3);
  options.min_length = 5;
  options.context = &seen;
  options.diagnostic = [](void *context, std::int32_t code, std::uint32_t form, std::uint64_t length) {
    static_cast<std::vector<Seen> *>(context)->push_back({code, form, length});
  };
  const SetHandle set(hushset_new(&options));
  ASSERT_EQ(hushset_add(set.get(), data_of(Bytes("abcd")), 4), HUSHSET_OK);
  ASSERT_EQ(hushset_add(set.get(), nullptr, 0), HUSHSET_OK);
  ASSERT_EQ(hushset_add(set.get(), data_of(Bytes("abcde")), 5), HUSHSET_OK);
  EXPECT_EQ(seen, (std::vector<Seen>{{HUSHSET_DIAG_TOO_SHORT, 0, 4}, {HUSHSET_DIAG_TOO_SHORT, 0, 0}}));
  ASSERT_EQ(hushset_build(set.get()), HUSHSET_OK);
  EXPECT_EQ(mask_whole(set.get(), "abcd abcde"), "abcd ***");
}

// Streams of one set are independent: interleaved write by write, each
// gives what its text gives alone.
TEST(SetApi, InterleavedStreamsOfOneSet) {
  std::mt19937_64 random(5);
  const std::vector<Bytes> forms = {"alpha-token", "beta", "token-beta-gamma", "amma"};
  const SetHandle set = make_set(forms, 2);
  std::vector<Bytes> texts(5);
  for (Bytes &text : texts) {
    while (text.size() < 600) {
      const Bytes &form = forms[random() % forms.size()];
      text += random() % 3 ? form : form.substr(0, random() % form.size());
      text += "-_"[random() % 2];
    }
  }
  std::vector<StreamHandle> streams;
  std::vector<Bytes> outputs(texts.size());
  std::vector<std::size_t> at(texts.size(), 0);
  for (std::size_t s = 0; s < texts.size(); ++s) streams.emplace_back(hushset_stream_new(set.get()));
  for (bool busy = true; busy;) {
    busy = false;
    for (std::size_t s = 0; s < texts.size(); ++s) {
      const std::size_t len = std::min<std::size_t>(random() % 9, texts[s].size() - at[s]);
      write_exact(streams[s].get(), data_of(texts[s]) + at[s], len, outputs[s]);
      at[s] += len;
      busy = busy || at[s] < texts[s].size();
    }
  }
  for (std::size_t s = 0; s < texts.size(); ++s) {
    finish_exact(streams[s].get(), outputs[s]);
    EXPECT_EQ(outputs[s], mask_whole(set.get(), texts[s])) << "stream " << s;
  }
}

}  // namespace
}  // namespace hush::set::testing
