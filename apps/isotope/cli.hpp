// The native isotope program's command line: the same parser, help and
// messages as the Python module's main (argparse's), over the core's
// directory batch and single-file pipeline.
#pragma once

namespace isotope {

// Parses argv as the tool's argparse parser does, then runs the directory
// batch (-d) or one table (-i). Returns the exit status: 0 on success and
// after the help, 2 for a usage problem, 1 when the work fails (after one
// line on standard error naming the error).
int run_main(int argc, char** argv);

}  // namespace isotope
