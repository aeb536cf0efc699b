// The --exec form: run a command with its standard output and standard
// error masked, each through its own stream of the secret set, to ours.
#ifndef HUSHMASK_CLI_EXEC_COMMAND_H
#define HUSHMASK_CLI_EXEC_COMMAND_H

#include <hushset.h>

#include "options.h"

namespace hushcli {

// Starts options.command (searched in PATH) with both output streams on
// pipes, masks each until the command and whatever inherited the pipes have
// closed them, and returns the exit status: the command's own, 128 + N when
// signal N ended it, 1 under --check when it succeeded but a secret was
// masked, 2 when it could not be started or our output failed.  SIGINT,
// SIGTERM and SIGHUP sent to hushmask are passed on to the command, which
// keeps the signal dispositions hushmask was started with (SIGPIPE
// included: `sigpipe_ignored` tells what it was).
int run_command(const Options &options, const hushset *set, bool sigpipe_ignored);

}  // namespace hushcli

#endif
