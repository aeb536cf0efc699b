#include "filter_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "fd_io.h"
#include "mask_stream.h"

namespace hushcli {
namespace {

struct Input {
  std::string name;
  int fd;
};

std::string describe_input(const std::string &name) {
  return name == "-" ? std::string("standard input") : "'" + name + "'";
}

void close_inputs(const std::vector<Input> &inputs) {
  for (const Input &input : inputs) {
    if (input.fd != STDIN_FILENO) close(input.fd);
  }
}

// Opens every input; on failure prints the error, closes what was opened
// and returns false.
bool open_inputs(const std::vector<std::string> &names, std::vector<Input> &inputs) {
  for (const std::string &name : names) {
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
        print_error("cannot read " + describe_input(name) + ": " + std::strerror(errno));
        close_inputs(inputs);
        return false;
      }
    }
    inputs.push_back(Input{name, fd});
  }
  return true;
}

}  // namespace

int run_filter(const Options &options, const std::vector<RegisteredSecret> &secrets, const SecretLayers &layers) {
  const std::vector<std::string> names = options.files.empty() ? std::vector<std::string>{"-"} : options.files;
  std::vector<Input> inputs;
  if (!open_inputs(names, inputs)) return 2;

  MaskStream stream;
  if (!open_stream(stream, secrets, layers, options.max_stars, options.check, STDOUT_FILENO)) {
    print_error("out of memory while registering secrets");
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
        print_error("cannot read " + describe_input(input.name) + ": " + std::strerror(errno));
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
  report_stream_status(stream, status);
  const bool masked = masked_anything(stream);
  close_stream(stream);
  close_inputs(inputs);

  if (failed || status == StreamStatus::write_failed || status == StreamStatus::out_of_memory) return 2;
  return options.check && masked ? 1 : 0;
}

}  // namespace hushcli
