#include "hygiene.h"

#include <sys/prctl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace hushcli {

rlim_t disable_core_dumps() {
  struct rlimit limit {};
  rlim_t original = 0;
  if (getrlimit(RLIMIT_CORE, &limit) == 0) {
    original = limit.rlim_cur;
    limit.rlim_cur = 0;
    setrlimit(RLIMIT_CORE, &limit);
  }
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  return original;
}

void restore_core_limit(rlim_t soft_limit) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_CORE, &limit) != 0) return;
  limit.rlim_cur = soft_limit;
  setrlimit(RLIMIT_CORE, &limit);
}

void wipe(void *data, std::size_t len) {
  if (data != nullptr && len != 0) explicit_bzero(data, len);
}

void append_wiped(std::string &text, const void *data, std::size_t len) {
  if (text.size() + len > text.capacity()) {
    std::string larger;
    larger.reserve(std::max(text.capacity() * 2, text.size() + len));
    larger.append(text);
    wipe(text);
    text.swap(larger);
  }
  text.append(static_cast<const char *>(data), len);
}

bool Buffer::reserve(std::size_t capacity) {
  if (capacity <= capacity_) return true;
  // malloc, not new[] or a vector: nothing is written into the block, so
  // the pages stay untouched until a read fills them.
  auto *block = static_cast<std::uint8_t *>(std::malloc(capacity));
  if (block == nullptr) return false;
  release();
  data_ = block;
  capacity_ = capacity;
  return true;
}

void Buffer::release() {
  wipe(data_, capacity_);
  std::free(data_);
  data_ = nullptr;
  capacity_ = 0;
}

}  // namespace hushcli
