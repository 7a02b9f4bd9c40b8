// The directory batch: which entries of a folder are tables, and the run
// over them.
#include "isotope/run/batch.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "isotope/base/errors.hpp"
#include "isotope/io/delimited_reader.hpp"
#include "isotope/run/options.hpp"

namespace isotope {

bool is_table_name(std::string_view name) {
  if (!name.empty() && name.back() == '\n') name.remove_suffix(1);
  return name.size() >= 4 && name.substr(name.size() - 3) == "txt" && name[name.size() - 4] != '\n';
}

std::vector<std::string> list_entries(const std::string& input_dir) {
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
    names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string selection_words(std::optional<EngineFormat> format) {
  if (!format) return "a name ending in 'txt'";
  switch (*format) {
    case EngineFormat::PGlyco3: return "a pGlyco3 table: a name ending in 'txt'";
    case EngineFormat::FragPipe: return "a FragPipe table: 'psm.tsv' or a name ending in '.tsv'";
    case EngineFormat::MetaMorpheus: return "a MetaMorpheus table: a name ending in '.psmtsv'";
    case EngineFormat::GlycReSoft: return "a GlycReSoft table: a name ending in '.csv'";
    case EngineFormat::ProForma: return "a ProForma table: a name ending in 'txt' or '.tsv'";
  }
  return "";
}

std::vector<std::string> list_tables(const std::string& input_dir) {
  std::vector<std::string> names = list_entries(input_dir);
  names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& n) { return !is_table_name(n); }),
              names.end());
  return names;
}

std::string no_table_warning(const std::string& input_dir, const std::vector<std::string>& entries,
                             std::optional<EngineFormat> format) {
  std::string text = "folder " + py_repr(input_dir) + " holds no table (" + selection_words(format) + ")";
  if (entries.empty()) return text + ": it is empty";
  text += ": it holds ";
  constexpr std::size_t kShown = 5;
  for (std::size_t i = 0; i < entries.size() && i < kShown; ++i) {
    if (i) text += ", ";
    text += py_repr(entries[i]);
  }
  if (entries.size() > kShown) text += " and " + std::to_string(entries.size() - kShown) + " more";
  return text;
}

std::string describe_error(const std::exception& e) {
  if (const auto* error = dynamic_cast<const Error*>(&e)) return error->kind_name() + ": " + error->what();
  return std::string("error: ") + e.what();
}

bool is_output_name(std::string_view name) {
  constexpr std::string_view kSuffix = "_isotope_pyopenms.txt";
  return name.size() >= kSuffix.size() && name.substr(name.size() - kSuffix.size()) == kSuffix;
}

bool same_folder(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string earlier_output_warning(const std::string& input_dir, const std::string& name) {
  const std::string again = name.substr(0, name.size() - 4) + "_isotope_pyopenms.txt";
  return py_repr(name) + " in " + py_repr(input_dir) +
         " is an earlier output of isotope (the output folder is the input folder): it is read as a table "
         "and gives " + py_repr(again) + "; isotope_skip_outputs = true skips such names";
}

namespace {

// Whether a file an engine's names select holds the engine's result table:
// its header says so (a table of ours, an earlier output among them,
// carries PepSeq and is not). A ProForma table has no header of its own;
// a file whose first line cannot be read is left to its run to fail on.
bool holds_engine_table(const std::string& path, EngineFormat format) {
  if (format == EngineFormat::ProForma) return true;
  try {
    return detect_format(read_first_line(path)) == format;
  } catch (const Error&) {
    return true;
  }
}

// The options that shape a batch: isotope_input_format picks the files,
// isotope_on_error says what a failure does, isotope_skip_outputs drops
// earlier outputs. A parameter file that cannot be read leaves the
// defaults: the first table then fails on it, with its place.
struct BatchOptions {
  std::optional<EngineFormat> format;
  OnError on_error = OnError::Stop;
  bool skip_outputs = false;
};

BatchOptions batch_options(const std::optional<std::string>& param_file, const Console& console) {
  BatchOptions b;
  if (!param_file) return b;
  try {
    const ParamFile file = read_param_file(*param_file);
    warn_options(file, console);
    const Options options = read_options(file);
    b.format = options.input_format;
    b.on_error = options.on_error;
    b.skip_outputs = options.skip_outputs;
  } catch (const Error&) {
    // The first table's run reads the file again and reports the error.
  }
  return b;
}

// The tables of the folder, in order; earlier outputs in the output folder
// named (or skipped).
std::vector<std::string> select_tables(const std::string& input_dir, const std::vector<std::string>& entries,
                                       const BatchOptions& options, const std::optional<std::string>& output_dir,
                                       const Console& console) {
  const bool own_output = output_dir && same_folder(input_dir, *output_dir);
  std::vector<std::string> tables;
  for (const std::string& n : entries) {
    if (!(options.format ? selects_file(*options.format, n) : is_table_name(n))) continue;
    if (is_output_name(n) && options.skip_outputs) continue;
    if (options.format && !holds_engine_table(input_dir + "/" + n, *options.format)) {
      console.warning("folder run: " + py_repr(n) + " was skipped: its header is not that of a " +
                      std::string(engine_name(*options.format)) + " result table");
      continue;
    }
    if (is_output_name(n) && own_output) console.warning(earlier_output_warning(input_dir, n));
    tables.push_back(n);
  }
  return tables;
}

}  // namespace

BatchReport run_batch(const std::string& input_dir, const std::optional<std::string>& param_file,
                      const Console& console, const RunOne& run_one, const Describe& describe,
                      const std::optional<std::string>& output_dir) {
  const std::vector<std::string> entries = list_entries(input_dir);
  const BatchOptions options = entries.empty() ? BatchOptions{} : batch_options(param_file, console);
  const std::vector<std::string> tables = select_tables(input_dir, entries, options, output_dir, console);
  const OnError on_error = options.on_error;
  BatchReport report;
  if (tables.empty()) {
    console.warning(no_table_warning(input_dir, entries, options.format));
    return report;
  }
  const OptionsWarned warned;  // the tables' runs read the same options
  for (const std::string& name : tables) {
    const std::string path = input_dir + "/" + name;
    if (on_error == OnError::Stop) {
      run_one(path);
      ++report.written;
      continue;
    }
    try {
      run_one(path);
      ++report.written;
    } catch (const std::exception& e) {
      std::string what = describe(e);
      console.err("isotope: " + what + "\n");
      report.failed.push_back({name, std::move(what)});
    }
  }
  if (!report.failed.empty()) {
    std::string summary = "isotope: " + std::to_string(report.written) + " table" +
                          (report.written == 1 ? "" : "s") + " written, " + std::to_string(report.failed.size()) +
                          " failed: ";
    for (std::size_t i = 0; i < report.failed.size(); ++i) {
      if (i) summary += ", ";
      const std::string& what = report.failed[i].what;
      summary += report.failed[i].name + " (" + what.substr(0, what.find('\n')) + ")";
    }
    console.err(summary + "\n");
  }
  return report;
}

}  // namespace isotope
