// The filter form: hushmask [OPTIONS] [FILE...].
#ifndef HUSHMASK_CLI_FILTER_FILES_H
#define HUSHMASK_CLI_FILTER_FILES_H

#include <hushset.h>

#include "options.h"

namespace hushcli {

// Masks the files named in `options` (standard input when there are none)
// to standard output and returns the exit status.  The files form one
// stream, as if they had been concatenated: the output equals that of
// `cat FILE... | hushmask`.  Every file is opened before the first byte is
// read, so a missing one fails the run before any output.
int run_filter(const Options &options, const hushset *set);

}  // namespace hushcli

#endif
