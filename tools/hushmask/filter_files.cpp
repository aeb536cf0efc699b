#include "filter_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "fd_io.h"
#include "mask_stream.h"

namespace hushcli {
namespace {

struct Input {
  std::string place;  // how messages name it: "standard input", "the second FILE argument"
  int fd;
};

void close_inputs(const std::vector<Input> &inputs) {
  for (const Input &input : inputs) {
    if (input.fd != STDIN_FILENO) close(input.fd);
  }
}

// Opens every input; on failure prints the error, closes what was opened
// and returns false.
bool open_inputs(const hushset *set, const std::vector<std::string> &names, std::vector<Input> &inputs) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string &name = names[i];
    // A FILE argument is named by its place, never quoted: a secret typed
    // where a file name goes would be no registered secret.
    const std::string place = name == "-" ? "standard input" : "the " + ordinal(i + 1) + " FILE argument";
    int fd = STDIN_FILENO;
    if (name != "-") {
      fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat info {};
      if (fd >= 0 && fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        fd = -1;
        errno = EISDIR;
      }
      if (fd < 0) {
        print_error(set, "cannot read " + place + ": " + std::strerror(errno));
        close_inputs(inputs);
        return false;
      }
    }
    inputs.push_back(Input{place, fd});
  }
  return true;
}

}  // namespace

int run_filter(const Options &options, const hushset *set) {
  const std::vector<std::string> names = options.files.empty() ? std::vector<std::string>{"-"} : options.files;
  std::vector<Input> inputs;
  if (!open_inputs(set, names, inputs)) return 2;

  MaskStream stream;
  if (!open_stream(stream, set, options.chunk_size, STDOUT_FILENO)) {
    print_error(set, "out of memory while starting to mask");
    close_inputs(inputs);
    return 2;
  }
  std::vector<std::uint8_t> buffer(options.chunk_size);
  bool failed = false;
  StreamStatus status = StreamStatus::ok;
  for (const Input &input : inputs) {
    while (status == StreamStatus::ok) {
      const long count = read_some(input.fd, buffer.data(), buffer.size());
      if (count < 0) {
        print_error(set, "cannot read " + input.place + ": " + std::strerror(errno));
        failed = true;
        break;
      }
      if (count == 0) break;
      status = feed(stream, buffer.data(), static_cast<std::size_t>(count));
    }
    if (failed || status != StreamStatus::ok) break;
  }
  // What was read before a read error is still written, masked.
  if (status == StreamStatus::ok) status = finish(stream);
  report_stream_status(set, stream, status);
  const bool masked = masked_anything(stream);
  close_stream(stream);
  close_inputs(inputs);

  if (failed || status == StreamStatus::write_failed || status == StreamStatus::out_of_memory) return 2;
  return options.check && masked ? 1 : 0;
}

}  // namespace hushcli
