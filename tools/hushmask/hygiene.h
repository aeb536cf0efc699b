// Keeping the secrets a run holds in memory out of core files, the process
// table and freed memory.
#ifndef HUSHMASK_CLI_HYGIENE_H
#define HUSHMASK_CLI_HYGIENE_H

#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace hushcli {

// Turns core dumps off for this process: the soft RLIMIT_CORE to 0 (the hard
// limit is kept, so that an --exec command can get the caller's back) and
// not dumpable, which also covers a core_pattern that pipes to a program
// and keeps other users' debuggers out.  Returns the soft limit the caller
// gave us, for restore_core_limit.
rlim_t disable_core_dumps();

// In a child about to run a command: puts back the soft core limit that
// disable_core_dumps found.  (The dumpable flag is reset by execve.)
void restore_core_limit(rlim_t soft_limit);

// Overwrites `len` bytes at `data` in a way the compiler cannot drop.
void wipe(void *data, std::size_t len);
inline void wipe(std::string &text) {
  wipe(text.data(), text.size());
  text.clear();
}

// Appends `len` bytes to `text`.  When the string must grow, the larger
// block is taken first and the old one wiped, so that no block freed on
// the way keeps a copy of what it held.
void append_wiped(std::string &text, const void *data, std::size_t len);

// A byte buffer that is allocated but not filled, so that its capacity costs
// address space and no memory until bytes land in it, and that is wiped
// before it is released or replaced: it holds text that is not masked yet.
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;
  ~Buffer() { release(); }

  std::uint8_t *data() const { return data_; }
  std::size_t capacity() const { return capacity_; }

  // Makes room for at least `capacity` bytes, dropping the contents.
  // Returns false when memory is exhausted; the buffer is then as it was.
  bool reserve(std::size_t capacity);
  void release();

 private:
  std::uint8_t *data_ = nullptr;
  std::size_t capacity_ = 0;
};

}  // namespace hushcli

#endif
