#include "diagnostics.h"

#include <unistd.h>

#include <string>

#include "fd_io.h"

namespace hushcli {
namespace {

void print_line(std::string_view kind, std::string_view text) {
  std::string line = "hushmask: ";
  line += kind;
  line += text;
  line += '\n';
  // Nothing useful can be done when standard error itself fails.
  (void)write_all(STDERR_FILENO, reinterpret_cast<const std::uint8_t *>(line.data()), line.size());
}

}  // namespace

void print_warning(std::string_view text) { print_line("warning: ", text); }

void print_error(std::string_view text) { print_line("error: ", text); }

}  // namespace hushcli
