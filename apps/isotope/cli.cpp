#include "morvandel/plugins/isotope/cli.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "morvandel/plugins/isotope/argparse.hpp"
#include "morvandel/plugins/isotope/errors.hpp"
#include "morvandel/plugins/isotope/pipeline.hpp"
#include "morvandel/plugins/isotope/text.hpp"

namespace isotope {

const std::string* find_param(const Params& params, std::string_view option) {
  for (const auto& [name, value] : params)
    if (name == option) return &value;
  return nullptr;
}

namespace {

std::string read_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error::os(errno, path);
  std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { ::close(*f); });
  std::string bytes;
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error::os(errno, path);
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  return bytes;
}

}  // namespace

Params parse_params(std::string_view bytes, const std::string& param_file) {
  try {
    text::check_utf8(bytes);
  } catch (Error& e) {
    throw e.at(param_file);
  }
  Params params;
  long line_no = 0;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    // One line, its end included: LF, CRLF or a lone CR.
    std::size_t end = bytes.find_first_of("\r\n", pos);
    std::size_t next = end == std::string_view::npos ? bytes.size()
                       : (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? end + 2
                                                                                                  : end + 1;
    std::string_view line = text::strip(bytes.substr(pos, next - pos));
    ++line_no;
    pos = next;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
      throw Error::index("list index out of range: parameter line has no \"=\"").at(param_file, line_no);
    std::size_t eq2 = line.find('=', eq + 1);
    std::string_view option = text::strip(line.substr(0, eq));
    std::string_view value = text::strip(line.substr(eq + 1, eq2 == std::string_view::npos ? eq2 : eq2 - eq - 1));
    bool found = false;
    for (auto& [name, v] : params) {
      if (name == option) {
        v = value;
        found = true;
        break;
      }
    }
    if (!found) params.emplace_back(option, value);
  }
  return params;
}

Params read_param(const std::string& param_file) { return parse_params(read_file(param_file), param_file); }

bool is_table_name(std::string_view name) {
  if (!name.empty() && name.back() == '\n') name.remove_suffix(1);
  return name.size() >= 4 && name.substr(name.size() - 3) == "txt" && name[name.size() - 4] != '\n';
}

std::vector<std::string> list_tables(const std::string& input_dir) {
  DIR* dir = ::opendir(input_dir.c_str());
  if (!dir) throw Error::os(errno, input_dir);
  std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
  std::vector<std::string> names;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (!entry) {
      if (errno) throw Error::os(errno, input_dir);
      break;
    }
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (is_table_name(name)) names.emplace_back(name);
  }
  return names;
}

void run_multiple_files(const std::string& input_dir,
                        const std::function<void(const std::string& input_file)>& run_one) {
  for (const std::string& name : list_tables(input_dir)) run_one(input_dir + "/" + name);
}

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
  if (!given(kParam)) {
    help();
    return 2;
  }
  if (!given(kDir) && !given(kFile)) {
    help();
    return 2;
  }

  try {
    // An output folder given as a list is as unusable as none: the rows are
    // computed, then building the output path fails.
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
      run_multiple_files(*parsed.values[kDir], run_one);
    } else {
      if (parsed.empty_list[kFile]) {
        console.out(start_message("[]"));
        not_a_path();
      }
      run_one(*parsed.values[kFile]);
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
