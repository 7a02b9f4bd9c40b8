// The native program: argparse's parsing and texts, then the directory
// batch or one table, with errors turned into one line and an exit status.
#include "cli.hpp"

#include <cerrno>
#include <functional>

#include "argparse.hpp"
#include "isotope/base/errors.hpp"
#include "isotope/run/batch.hpp"
#include "isotope/run/options.hpp"
#include "isotope/run/pipeline.hpp"

namespace isotope {

namespace {

argparse::Parser make_parser(std::string prog) {
  return argparse::Parser{std::move(prog),
                          "isotope",
                          {{"-d", "input_dir", "Add input directory"},
                           {"-i", "input_file", "Add input file"},
                           {"-o", "output_dir", "Add output directory"},
                           {"-p", "param_file", "Add parameter file"}}};
}

// argparse stores an empty list for an option whose attached value is "--";
// such a value is given but is no path, and fails where it is first used.
[[noreturn]] void not_a_path() { throw Error::type("expected str, bytes or os.PathLike object, not list"); }

// One table (-i): its options checked first; a folder given as the table
// gets the option that reads folders named.
void run_file(const std::string& input_file, const std::optional<std::string>& param_file, const Console& console,
              const std::function<void(const std::string&)>& run_one) {
  if (param_file) warn_options(*param_file, console);
  try {
    run_one(input_file);
  } catch (Error& e) {
    if (e.kind() == ErrorKind::OS && e.os_errno() == EISDIR && e.filename() == input_file)
      e.explain("a folder is read with -d (-i reads one table)");
    throw;
  }
}

}  // namespace

int run_main(int argc, char** argv) {
  const Console console = Console::standard();
  const std::string prog = argparse::prog_name(argc > 0 ? argv[0] : "isotope");
  const argparse::Parser parser = make_parser(prog);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const argparse::Parsed parsed = argparse::parse_args(parser, args);
  auto help = [&] { console.out(argparse::format_help(parser, argparse::help_width())); };

  switch (parsed.status) {
    case argparse::Parsed::Status::Help:
      help();
      return 0;
    case argparse::Parsed::Status::Error:
      console.err("error: " + parsed.error + "\n");
      help();
      return 2;
    case argparse::Parsed::Status::Ok:
      break;
  }
  enum { kDir, kFile, kOut, kParam };
  auto given = [&](int k) { return parsed.values[k].has_value() || parsed.empty_list[k]; };
  if (!given(kParam) || (!given(kDir) && !given(kFile))) {
    help();
    return 2;
  }

  try {
    // An output folder given as a list is as unusable as none.
    const std::optional<std::string>& output_dir = parsed.values[kOut];
    const ModelTables tables = ModelTables::reference();
    auto run_one = [&](const std::string& input_file) {
      if (parsed.empty_list[kParam]) {
        console.out(start_message(input_file));
        not_a_path();
      }
      run_single_file(input_file, output_dir, *parsed.values[kParam], tables, console);
    };
    if (given(kDir)) {
      if (parsed.empty_list[kDir]) not_a_path();
      BatchReport report =
          run_batch(*parsed.values[kDir], parsed.values[kParam], console, run_one, describe_error, output_dir);
      if (!report.failed.empty()) return 1;
    } else {
      if (parsed.empty_list[kFile]) {
        console.out(start_message("[]"));
        not_a_path();
      }
      run_file(*parsed.values[kFile], parsed.values[kParam], console, run_one);
    }
  } catch (const Error& e) {
    console.err(prog + ": " + e.kind_name() + ": " + e.what() + "\n");
    return 1;
  } catch (const std::exception& e) {
    console.err(prog + ": error: " + e.what() + "\n");
    return 1;
  }
  return 0;
}

}  // namespace isotope
