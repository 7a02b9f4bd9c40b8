// The directory batch: which entries of a folder are tables, and the run
// over them.
#include "isotope/run/batch.hpp"

#include <dirent.h>

#include <cerrno>
#include <memory>

#include <algorithm>

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

// The tables of a folder run, in sorted order: names ending in "txt", or
// with isotope_input_format the engine's files whose header is the
// engine's (the others skipped with a note each).
std::vector<std::string> select_tables(const std::string& input_dir, const std::vector<std::string>& entries,
                                       std::optional<EngineFormat> format, const Console& console) {
  std::vector<std::string> tables;
  for (const std::string& n : entries) {
    if (!(format ? selects_file(*format, n) : is_table_name(n))) continue;
    if (format && !holds_engine_table(input_dir + "/" + n, *format)) {
      console.warning("folder run: " + py_repr(n) + " was skipped: its header is not that of a " +
                      std::string(engine_name(*format)) + " result table");
      continue;
    }
    tables.push_back(n);
  }
  return tables;
}

}  // namespace

BatchReport run_batch(const std::string& input_dir, const std::optional<std::string>& param_file,
                      const Console& console, const RunOne& run_one, const Describe& describe) {
  const std::vector<std::string> entries = list_entries(input_dir);
  // The options that shape the batch: isotope_input_format picks the
  // files, isotope_on_error says what a failure does. A parameter file that
  // cannot be read leaves the defaults: the first table then fails on it.
  std::optional<EngineFormat> format;
  OnError on_error = OnError::Stop;
  if (param_file && !entries.empty()) {
    try {
      Options options = read_options(read_param_file(*param_file));
      format = options.input_format;
      on_error = options.on_error;
    } catch (const Error&) {
    }
  }
  const std::vector<std::string> tables = select_tables(input_dir, entries, format, console);
  BatchReport report;
  if (tables.empty()) {
    console.warning(no_table_warning(input_dir, entries, format));
    return report;
  }
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
