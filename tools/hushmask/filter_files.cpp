#include "filter_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "pump.h"

namespace hushcli {
namespace {

// A FILE argument is named by its place, never quoted: a secret typed where
// a file name goes would be no registered secret.
std::string place_of(const std::vector<std::string> &names, std::size_t i) {
  return names[i] == "-" ? std::string("standard input") : "the " + ordinal(i + 1) + " FILE argument";
}

// Opens FILE `name` for reading ("-": standard input); returns the
// descriptor, or -1 with errno set.
int open_input(const std::string &name, struct stat &info) {
  const int fd = name == "-" ? STDIN_FILENO : open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
  }
  if (error == 0) return fd;
  if (fd != STDIN_FILENO) close(fd);
  errno = error;
  return -1;
}

struct Run {
  const Options &options;
  SecretSet &secrets;
  Reports *reports;
  ControlServer *control;
  ReadBuffer reads;
  bool failed = false;  // an input skipped or not read to its end, or a stream that failed
  bool masked = false;  // a run was masked in some input
};

// Reads one input into `stream`; returns the stream's status.
StreamStatus pump_input(Run &run, int fd, const std::string &place, MaskStream &stream, StreamInputs *inputs) {
  Channel channel;
  channel.fd = fd;
  channel.stream = &stream;
  channel.inputs = inputs;
  channel.finish_at_end = false;
  channel.place = place;
  Channel *channels[] = {&channel};
  pump(channels, run.reads, run.control);
  if (channel.read_error != 0) {
    print_error(run.secrets.set, "cannot read " + place + ": " + std::strerror(channel.read_error));
    run.failed = true;
  }
  return channel.status;
}

// Ends the run of a stream: its status, reported, as the exit status so far.
void settle(Run &run, MaskStream &stream, StreamStatus status) {
  report_stream_status(stream, status);
  if (masked_anything(stream)) run.masked = true;
  if (failed(status)) run.failed = true;
}

void concatenated(Run &run, const std::vector<std::string> &names) {
  const hushset *set = run.secrets.set;
  // Reading the file that standard output appends to would never end.
  // Only a regular file can be both; with -q nothing is written.
  struct stat output {};
  const bool output_is_file = !run.options.quiet && fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(output.st_mode);

  std::unique_ptr<StreamInputs> inputs;
  if (run.reports != nullptr) inputs = std::make_unique<StreamInputs>(*run.reports);
  MaskStream stream;
  if (!open_stream(stream, run.secrets, run.options.quiet ? -1 : STDOUT_FILENO, inputs.get(), run.options.directives)) {
    print_error(set, "out of memory while starting to mask");
    run.failed = true;
    return;
  }
  StreamStatus status = StreamStatus::ok;
  for (std::size_t i = 0; i < names.size() && status == StreamStatus::ok; ++i) {
    const std::string place = place_of(names, i);
    struct stat info {};
    const int fd = open_input(names[i], info);
    if (fd < 0) {
      print_error(set, "cannot read " + place + ": " + std::strerror(errno));
      run.failed = true;
      continue;
    }
    if (output_is_file && info.st_dev == output.st_dev && info.st_ino == output.st_ino) {
      print_error(set, place + " is the file standard output writes to: skipped");
      run.failed = true;
    } else {
      if (inputs) inputs->begin(run.reports->add_input(names[i]));
      status = pump_input(run, fd, place, stream, inputs.get());
      continue;
    }
    if (fd != STDIN_FILENO) close(fd);
  }
  // What was read before a failed read is still written, masked; after a
  // failed write or exhausted memory, nothing more is.
  if (status == StreamStatus::ok) status = finish(stream);
  settle(run, stream, status);
  close_stream(stream);
}

// The folder of `path` and a path there for the new file.
std::string temporary_template(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  return folder + (slash == std::string::npos ? "/" : "") + ".hushmask-XXXXXX";
}

// Masks one FILE into a new file beside it and puts that in its place.
// Returns an error line, or nothing.
std::string rewrite_one(Run &run, const std::string &name, const std::string &place, std::size_t index) {
  struct stat info {};
  const int fd = open_input(name, info);
  if (fd < 0) return std::string("cannot read ") + place + ": " + std::strerror(errno);
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return place + " is not a regular file: it cannot be rewritten";
  }
  // Until pump_input takes it.
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) close(fd);
    }
  } input_closer{fd};
  // A symbolic link stays one: the file it points to is rewritten.
  std::string target = name;
  struct stat link {};
  if (lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char *resolved = realpath(name.c_str(), nullptr);
    if (resolved == nullptr) return std::string("cannot rewrite ") + place + ": " + std::strerror(errno);
    target = resolved;
    std::free(resolved);
  }
  std::string temporary = temporary_template(target);
  const int out = mkostemp(temporary.data(), O_CLOEXEC);
  if (out < 0) return std::string("cannot rewrite ") + place + ": " + std::strerror(errno);
  struct Temporary {
    int fd;
    const std::string &path;
    bool kept = false;
    ~Temporary() {
      close(fd);
      if (!kept) unlink(path.c_str());
    }
  } temporary_file{out, temporary};
  // Owner first: a change of owner clears the set-user-ID and set-group-ID
  // bits that the mode then puts back.
  if ((fchown(out, info.st_uid, info.st_gid) != 0 && (info.st_uid != geteuid() || info.st_gid != getegid())) ||
      fchmod(out, info.st_mode & 07777) != 0) {
    return std::string("cannot give the new copy of ") + place + " its owner and mode: " + std::strerror(errno) +
           "; left as it was";
  }
  if (info.st_nlink > 1) {
    print_warning(run.secrets.set, place + " has other hard links, which keep the unmasked contents");
  }

  std::unique_ptr<StreamInputs> inputs;
  if (run.reports != nullptr) {
    inputs = std::make_unique<StreamInputs>(*run.reports);
    inputs->begin(index);
  }
  MaskStream stream;
  if (!open_stream(stream, run.secrets, out, inputs.get(), run.options.directives)) {
    return "out of memory while starting to mask " + place + "; left as it was";
  }
  input_closer.fd = -1;
  StreamStatus status = pump_input(run, fd, place, stream, inputs.get());
  const bool read_failed = run.failed;
  if (status == StreamStatus::ok) status = finish(stream);
  const int write_error = stream.write_error;
  if (masked_anything(stream)) run.masked = true;
  close_stream(stream);
  if (read_failed) return place + " was not read to its end: left as it was";
  switch (status) {
    case StreamStatus::ok: break;
    case StreamStatus::out_of_memory: return "out of memory while masking " + place + "; left as it was";
    case StreamStatus::output_closed:
    case StreamStatus::write_failed:
      return std::string("cannot write the new copy of ") + place + ": " + std::strerror(write_error) +
             "; left as it was";
  }
  if (rename(temporary.c_str(), target.c_str()) != 0) {
    return std::string("cannot put the masked copy in place of ") + place + ": " + std::strerror(errno) +
           "; left as it was";
  }
  temporary_file.kept = true;
  return {};
}

void in_place(Run &run, const std::vector<std::string> &names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::size_t index = run.reports != nullptr ? run.reports->add_input(names[i]) : 0;
    const bool failed_before = run.failed;
    run.failed = false;
    const std::string error = rewrite_one(run, names[i], place_of(names, i), index);
    if (!error.empty()) print_error(run.secrets.set, error);
    run.failed = failed_before || run.failed || !error.empty();
  }
}

}  // namespace

int run_filter(const Options &options, SecretSet &secrets, Reports *reports, ControlServer *control) {
  Run run{options, secrets, reports, control, {}};
  if (!open_read_buffer(run.reads, options.chunk_size)) {
    print_error(secrets.set, "out of memory while starting to mask");
    return 2;
  }
  const std::vector<std::string> names = options.files.empty() ? std::vector<std::string>{"-"} : options.files;
  if (options.in_place) {
    in_place(run, names);
  } else {
    concatenated(run, names);
  }
  if (reports != nullptr) reports->write_summary(secrets.set);
  if (run.failed) return 2;
  return options.check && run.masked ? 1 : 0;
}

}  // namespace hushcli
