#include "support/recording_allocator.h"

#include <cstring>

#include "api/masker.h"
#include "mask/prefilter/prefilter.h"

namespace hush::core::testing {

RecordingAllocator::RecordingAllocator() : vtable_{do_alloc, do_resize, do_remap, do_free} {}

void RecordingAllocator::install(hush_masker *masker) {
  Masker &record = *to_masker(masker);
  record.allocator = interface();
  if (record.node_capacity != 0) live_[record.nodes] = {record.node_capacity * sizeof(Node), ALIGN_ARRAY};
  // A prefilter built before is adopted too, so that dropping it later
  // (a rebuild, an insertion) is no accounting error.
  if (record.prefilter != nullptr) live_[record.prefilter] = {record.prefilter->block_len, ALIGN_PREFILTER};
}

void RecordingAllocator::fail_request(std::uint64_t k) { fail_once_.insert(requests_ + k); }
void RecordingAllocator::fail_from(std::uint64_t k) { fail_from_ = requests_ + k; }
void RecordingAllocator::fail_randomly(std::uint32_t one_in, std::uint64_t seed) {
  random_one_in_ = one_in;
  random_state_ = seed | 1;
}
void RecordingAllocator::stop_failing() {
  fail_once_.clear();
  fail_from_ = 0;
  random_one_in_ = 0;
}

bool RecordingAllocator::should_fail() {
  const std::uint64_t number = ++requests_;
  bool fail = fail_once_.erase(number) != 0 || (fail_from_ != 0 && number >= fail_from_);
  if (!fail && random_one_in_ != 0) {
    random_state_ ^= random_state_ << 13;
    random_state_ ^= random_state_ >> 7;
    random_state_ ^= random_state_ << 17;
    fail = random_state_ % random_one_in_ == 0;
  }
  if (fail) ++failures_;
  return fail;
}

std::uint64_t RecordingAllocator::live_bytes() const noexcept {
  std::uint64_t total = 0;
  for (const auto &[block, info] : live_) total += info.len;
  return total;
}

void RecordingAllocator::forget(const void *block) {
  if (block != nullptr) live_.erase(block);
}

void RecordingAllocator::release_output(std::uint8_t *block, std::uint64_t len) {
  forget(block);
  hush_free(block, len);
}

void RecordingAllocator::note_release(void *block, std::uint64_t len, std::uint8_t align_exp, const char *what) {
  const auto found = live_.find(block);
  if (found == live_.end()) {
    errors.push_back(std::string(what) + " of a block not handed out");
    return;
  }
  if (found->second.len != len || (found->second.align_exp & 0x3F) != (align_exp & 0x3F)) {
    errors.push_back(std::string(what) + " with length " + std::to_string(len) + "/exp " +
                     std::to_string(align_exp) + ", block has " + std::to_string(found->second.len) + "/exp " +
                     std::to_string(found->second.align_exp));
  }
  live_.erase(found);
}

void *RecordingAllocator::do_alloc(void *context, std::uint64_t len, std::uint8_t align_exp,
                                   CallerAddress caller) noexcept {
  auto &self = *static_cast<RecordingAllocator *>(context);
  if (len == 0) self.errors.push_back("alloc of 0 bytes");
  void *result = nullptr;
  if (!self.should_fail()) {
    result = c_heap_allocator.vtable->alloc(nullptr, len, align_exp, caller);
    // Fresh blocks are filled with a pattern so that tests can tell which
    // bytes the library wrote.
    if (result != nullptr) {
      std::memset(result, 0xAB, len);
      self.live_[result] = {len, align_exp};
    }
  }
  self.calls.push_back({Op::alloc, nullptr, len, align_exp, 0, result, caller, {}});
  return result;
}

bool RecordingAllocator::do_resize(void *context, void *block, std::uint64_t old_len, std::uint8_t align_exp,
                                   std::uint64_t new_len, CallerAddress caller) noexcept {
  auto &self = *static_cast<RecordingAllocator *>(context);
  const bool fits = c_heap_allocator.vtable->resize(nullptr, block, old_len, align_exp, new_len, caller);
  if (fits) self.live_[block] = {new_len, align_exp};
  self.calls.push_back({Op::resize, block, old_len, align_exp, new_len, fits ? block : nullptr, caller, {}});
  return fits;
}

void *RecordingAllocator::do_remap(void *context, void *block, std::uint64_t old_len, std::uint8_t align_exp,
                                   std::uint64_t new_len, CallerAddress caller) noexcept {
  auto &self = *static_cast<RecordingAllocator *>(context);
  void *result = nullptr;
  const bool refused = self.should_fail() || (self.refuse_remap && new_len > old_len);
  if (!refused) {
    const auto found = self.live_.find(block);
    if (found == self.live_.end() || found->second.len != old_len) {
      self.errors.push_back("remap with a length other than the block's");
    }
    result = c_heap_allocator.vtable->remap(nullptr, block, old_len, align_exp, new_len, caller);
    if (result != nullptr) {
      self.live_.erase(block);
      self.live_[result] = {new_len, align_exp};
    }
  }
  self.calls.push_back({Op::remap, block, old_len, align_exp, new_len, result, caller, {}});
  return result;
}

void RecordingAllocator::do_free(void *context, void *block, std::uint64_t len, std::uint8_t align_exp,
                                 CallerAddress caller) noexcept {
  auto &self = *static_cast<RecordingAllocator *>(context);
  if (len == 0) self.errors.push_back("free with length 0");
  AllocatorCall call{Op::free, block, len, align_exp, 0, nullptr, caller, {}};
  if ((align_exp & 0x3F) == ALIGN_ARRAY || self.keep_all_freed_contents) {
    const auto *bytes = static_cast<const std::uint8_t *>(block);
    call.freed_contents.assign(bytes, bytes + len);
  }
  self.note_release(block, len, align_exp, "free");
  self.calls.push_back(std::move(call));
  c_heap_allocator.vtable->free(nullptr, block, len, align_exp, caller);
}

}  // namespace hush::core::testing
