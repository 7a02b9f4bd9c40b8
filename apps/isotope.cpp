// The native isotope program: see `isotope -h`.
#include "morvandel/plugins/isotope/cli.hpp"

int main(int argc, char** argv) { return isotope::run_main(argc, argv); }
