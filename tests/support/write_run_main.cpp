// write_run DESCRIPTION OUTPUT.mzML: writes the run a text description gives
// (the format is described in run_writer.cpp); DESCRIPTION "-" reads it
// from standard input. Exit status 2 and one line on standard error when
// the description is malformed or the file cannot be written.
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "run_writer.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: write_run DESCRIPTION OUTPUT.mzML\n";
    return 2;
  }
  try {
    const std::string source = argv[1];
    std::ifstream file;
    if (source != "-") {
      file.open(source);
      if (!file) throw std::runtime_error("cannot open " + source);
    }
    const testing_support::RunSpec run = testing_support::parse_run_spec(source == "-" ? std::cin : file);
    testing_support::write_run(argv[2], run);
  } catch (const std::exception& e) {
    std::cerr << "write_run: " << e.what() << "\n";
    return 2;
  }
  return 0;
}
