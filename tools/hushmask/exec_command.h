// The --exec form: run a command with its output masked, through one stream
// of the secret set for each of its output streams (one for both with
// --merge or --pty).
#ifndef HUSHMASK_CLI_EXEC_COMMAND_H
#define HUSHMASK_CLI_EXEC_COMMAND_H

#include <sys/resource.h>

#include <string>
#include <vector>

#include "control_socket.h"
#include "options.h"
#include "reports.h"
#include "secret_set.h"

namespace hushcli {

// What hushmask was started with and changed for itself; the command gets
// it back.
struct StartState {
  bool sigpipe_ignored = false;
  bool sigxfsz_ignored = false;
  rlim_t core_limit = 0;
};

// Starts options.command (searched in PATH), masks its output until the
// command and whatever inherited its output have closed it, and returns the
// exit status: the command's own, 128 + N when signal N ended it, 1 under
// --check when it succeeded but a secret was masked; 127 when it was not
// found, 126 when it could not be run, 2 when our side failed.
//
// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2 and SIGWINCH sent to
// hushmask are passed on; the command is killed when hushmask dies, since
// its output could no longer be masked.  The environment is ours, less the
// variables in `unset` (--unset-secrets).
int run_command(const Options &options, SecretSet &secrets, const std::vector<std::string> &unset,
                const StartState &start, Reports *reports, ControlServer *control);

}  // namespace hushcli

#endif
