// The native isotope program: see `isotope -h`.
#include <csignal>

#include "cli.hpp"

int main(int argc, char** argv) {
  // A write beyond the file-size limit then fails with EFBIG, which the
  // pipeline reports, instead of killing the process halfway.
  std::signal(SIGXFSZ, SIG_IGN);
  return isotope::run_main(argc, argv);
}
