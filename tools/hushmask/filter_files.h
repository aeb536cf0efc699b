// The filter form: hushmask [OPTIONS] [FILE...].
#ifndef HUSHMASK_CLI_FILTER_FILES_H
#define HUSHMASK_CLI_FILTER_FILES_H

#include "control_socket.h"
#include "options.h"
#include "reports.h"
#include "secret_set.h"

namespace hushcli {

// Masks the files named in `options` (standard input when there are none)
// and returns the exit status.
//
// To standard output, the files form one stream, as if they had been
// concatenated: the output equals that of `cat FILE... | hushmask`, and a
// secret split across two files is masked.  A run is reported in the file
// where it begins.  Each file is opened when its turn comes; one that
// cannot be read, or that is the file standard output writes to, is
// reported and skipped, and the status is 2 at the end.
//
// With --in-place each file is its own stream, masked into a new file in
// its folder that then replaces it; on any failure the file is left as it
// was.
int run_filter(const Options &options, SecretSet &secrets, Reports *reports, ControlServer *control);

}  // namespace hushcli

#endif
