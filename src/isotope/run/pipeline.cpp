#include "morvandel/plugins/isotope/pipeline.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "morvandel/plugins/isotope/cli.hpp"
#include "morvandel/plugins/isotope/errors.hpp"
#include "morvandel/plugins/isotope/isotope_pattern.hpp"
#include "morvandel/plugins/isotope/pyformat.hpp"
#include "morvandel/plugins/isotope/table.hpp"
#include "morvandel/plugins/isotope/text.hpp"
#include "morvandel/plugins/utils/path_full_split.hpp"

namespace isotope {

Console Console::standard() {
  auto writer = [](std::FILE* f) {
    return [f](std::string_view s) {
      std::fwrite(s.data(), 1, s.size(), f);
      std::fflush(f);
    };
  };
  return Console{writer(stdout), writer(stderr)};
}

ModelTables ModelTables::reference() {
  const ReferenceTables& t = reference_tables();
  return ModelTables{t.aa_comp, t.mod_comp, t.gly_comp};
}

std::string start_message(std::string_view input_file) {
  std::string line = "Build isotope patterns for ";
  line += input_file;
  line += '\n';
  return line;
}

std::string output_path(std::string_view output_dir, std::string_view base_name) {
  std::string path(output_dir);
  path += '/';
  path += base_name;
  path += "_isotope_pyopenms.txt";
  return path;
}

namespace {

// ---------------------------------------------------------------------------
// Progress counter in the style of tqdm without a total:
// "12345it [00:01, 9876.54it/s]", redrawn at most ten times a second.

class Progress {
 public:
  explicit Progress(const Console& console) : console_(console), start_(Clock::now()), last_(start_) {
    draw(start_);
  }

  void tick() {
    ++n_;
    // Reading the clock costs little, but not nothing: look every 64 rows.
    if ((n_ & 63) != 0) return;
    auto now = Clock::now();
    if (now - last_ >= std::chrono::milliseconds(100)) draw(now);
  }

  void close() {
    draw(Clock::now());
    console_.err("\n");
  }

 private:
  using Clock = std::chrono::steady_clock;

  void draw(Clock::time_point now) {
    last_ = now;
    double elapsed = std::chrono::duration<double>(now - start_).count();
    auto secs = static_cast<long>(elapsed);
    char clock[32];
    if (secs >= 3600)
      std::snprintf(clock, sizeof clock, "%ld:%02ld:%02ld", secs / 3600, secs / 60 % 60, secs % 60);
    else
      std::snprintf(clock, sizeof clock, "%02ld:%02ld", secs / 60, secs % 60);
    char rate[48];
    double r = elapsed > 0 ? static_cast<double>(n_) / elapsed : 0;
    if (r <= 0)
      std::snprintf(rate, sizeof rate, "?it/s");
    else if (r < 1)
      std::snprintf(rate, sizeof rate, "%5.2fs/it", 1 / r);
    else
      std::snprintf(rate, sizeof rate, "%5.2fit/s", r);
    char line[160];
    std::snprintf(line, sizeof line, "\r%zuit [%s, %s]", n_, clock, rate);
    console_.err(line);
  }

  const Console& console_;
  std::size_t n_ = 0;
  Clock::time_point start_, last_;
};

// ---------------------------------------------------------------------------
// The output file: written into a temporary file in the output folder and
// renamed over the target when complete. Any failure is remembered rather
// than thrown at once, so that a bad row later in the table is still
// reported first, as it would be if the table were written only at the end.

mode_t current_umask() {
  static const mode_t mask = [] {
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return mask;
}

class OutputFile {
 public:
  explicit OutputFile(std::string target) : target_(std::move(target)) {
    std::string dir = target_.substr(0, target_.rfind('/') + 1);
    std::string tmpl = dir + ".isotope-tmp-XXXXXX";
    fd_ = ::mkstemp(tmpl.data());
    if (fd_ < 0) {
      fail(errno);
      return;
    }
    temp_ = tmpl;
    // A new file gets the mode an ordinary create would give it; a replaced
    // file keeps its mode.
    struct stat st;
    mode_t mode = ::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? (st.st_mode & 07777)
                                                                           : (0666 & ~current_umask());
    if (::fchmod(fd_, mode) != 0) fail(errno);
  }

  ~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
  }

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes out the buffer (and empties it) unless an earlier step failed.
  void write(std::string& buffer) {
    const char* p = buffer.data();
    std::size_t left = buffer.size();
    while (!error_ && left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        fail(errno);
        break;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    buffer.clear();
  }

  // Makes the file durable and moves it into place, or throws the first
  // failure met.
  void commit() {
    if (!error_ && ::fsync(fd_) != 0 && errno != EINVAL) fail(errno);
    if (!error_ && ::close(fd_) != 0) fail(errno);
    fd_ = -1;
    if (!error_ && ::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno);
    if (error_) throw Error::os(error_, target_);
    committed_ = true;
  }

 private:
  void fail(int err) {
    if (!error_) error_ = err;
  }

  std::string target_;
  std::string temp_;
  int fd_ = -1;
  int error_ = 0;
  bool committed_ = false;
};

// ---------------------------------------------------------------------------

constexpr std::size_t kFlushBytes = std::size_t{1} << 20;
constexpr std::array<std::string_view, 5> kCountColumns = {"N", "H", "F", "S", "G"};
constexpr std::array<std::string_view, 4> kAddedColumns = {"Glycan", "PepMods", "GP_Mass", "GP_Isotopes"};

std::ptrdiff_t find_column(const std::vector<std::string>& names, std::string_view name) {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

// "isotope_peaks_num" as Python's int() reads it.
std::int64_t isotope_peaks_num(const Params& param, const std::string& param_file) {
  constexpr std::string_view kOption = "isotope_peaks_num";
  const std::string* value = find_param(param, kOption);
  if (!value) throw Error::lookup("parameter file has no option", kOption).at(param_file);
  std::optional<std::int64_t> n;
  try {
    n = text::parse_int(*value);
  } catch (Error& e) {
    throw e.at(param_file);
  }
  if (!n)
    throw Error::value("invalid literal for int() with base 10: " + py_repr(*value) + " (" +
                       std::string(kOption) + ")")
        .at(param_file);
  return *n;
}

void append_intensities(std::string& out, const std::vector<double>& intensities) {
  for (std::size_t i = 0; i < intensities.size(); ++i) {
    if (i) out += ',';
    append_float_repr(out, intensities[i]);
  }
}

// What a row adds to the table, in output form.
struct GlycopeptideResult {
  std::string mods;      // PepMods
  std::string mass;      // GP_Mass
  std::string isotopes;  // GP_Isotopes
};

// Computes the results of a glycopeptide from its PepSeq text and glycan
// string. The same glycopeptide comes back in many rows (one per spectrum),
// so results are remembered by those two texts, and isotope patterns by
// formula; both memories are bounded. Only successful results are kept: a
// failing row is computed afresh and fails the same way. `column` follows
// the step at work, for the place of an error.
class GlycopeptideComputer {
 public:
  GlycopeptideComputer(const ModelTables& tables, const Params& param, const std::string& param_file)
      : tables_(tables), param_(param), param_file_(param_file) {}

  const GlycopeptideResult& compute(std::string_view pep_seq, const std::string& glycan, std::string_view& column) {
    key_.assign(pep_seq);
    key_ += '\0';
    key_ += glycan;
    if (auto hit = rows_.find(key_); hit != rows_.end()) return hit->second;

    GlycopeptideResult result;
    column = "PepSeq";
    split_peptide(pep_seq, peptide_);
    Composition gp = calc_pep_comp(peptide_.seq, peptide_.mods, tables_.aa_comp, tables_.mod_comp);
    column = "Glycan";
    gp += calc_glycan_comp(glycan, tables_.gly_comp);
    gp += water_;
    column = {};
    if (!n_) n_ = isotope_peaks_num(param_, param_file_);
    column = "GP_Isotopes";
    formula_.clear();
    append_formula(formula_, gp);
    if (auto hit = patterns_.find(formula_); hit != patterns_.end()) {
      result.isotopes = hit->second;
    } else {
      append_intensities(result.isotopes, calc_iso_dist(formula_, IsoOptions{true, *n_}));
      remember(patterns_, patterns_bytes_, formula_, result.isotopes, formula_.size() + result.isotopes.size());
    }
    column = "GP_Mass";
    append_float_repr(result.mass, gp.mass());
    result.mods = peptide_.mods;
    std::size_t bytes = key_.size() + result.mods.size() + result.mass.size() + result.isotopes.size();
    return remember(rows_, rows_bytes_, key_, std::move(result), bytes);
  }

 private:
  // Each memory holds at most this many bytes of text: when the next entry
  // would pass it, the memory starts afresh. Realistic tables repeat a few
  // thousand glycopeptides; a table of megabyte cells cannot fill memory.
  static constexpr std::size_t kMaxCachedBytes = std::size_t{4} << 20;

  template <class Value>
  static const Value& remember(std::unordered_map<std::string, Value>& memory, std::size_t& used,
                               const std::string& key, Value value, std::size_t bytes) {
    constexpr std::size_t kEntryOverhead = 64;  // node, hash and string headers
    if (used + bytes + kEntryOverhead > kMaxCachedBytes) {
      memory.clear();
      used = 0;
    }
    used += bytes + kEntryOverhead;
    return memory.insert_or_assign(key, std::move(value)).first->second;
  }

  const ModelTables& tables_;
  const Params& param_;
  const std::string& param_file_;
  const Composition water_ = {{"H", 2}, {"O", 1}};
  std::optional<std::int64_t> n_;  // isotope_peaks_num, read at the first row
  std::unordered_map<std::string, GlycopeptideResult> rows_;
  std::unordered_map<std::string, std::string> patterns_;
  std::size_t rows_bytes_ = 0, patterns_bytes_ = 0;
  std::string key_, formula_;
  PeptideParts peptide_;
};

}  // namespace

void run_single_file(const std::string& input_file, const std::optional<std::string>& output_dir,
                     const std::string& param_file, const ModelTables& tables, const Console& console) {
  console.out(start_message(input_file));
  const morvandel::utils::PathParts parts = morvandel::utils::path_full_split(input_file);
  const Params param = read_param(param_file);
  const TableLayout layout = scan_table(input_file);

  // Output columns: the input's, then the computed ones it lacks.
  std::vector<std::string> names;
  for (const auto& c : layout.columns) names.push_back(c.name);
  const std::size_t n_in = names.size();
  for (auto added : kAddedColumns)
    if (find_column(names, added) < 0) names.emplace_back(added);
  const auto glycan_col = static_cast<std::size_t>(find_column(names, "Glycan"));
  const auto mods_col = static_cast<std::size_t>(find_column(names, "PepMods"));
  const auto mass_col = static_cast<std::size_t>(find_column(names, "GP_Mass"));
  const auto iso_col = static_cast<std::size_t>(find_column(names, "GP_Isotopes"));
  const std::ptrdiff_t pep_col = find_column(names, "PepSeq");
  std::array<std::ptrdiff_t, 5> count_cols;
  for (std::size_t k = 0; k < 5; ++k) count_cols[k] = find_column(names, kCountColumns[k]);
  // find_column looks at the output names, which start with the input's.
  auto input_column = [&](std::ptrdiff_t i) { return i >= 0 && static_cast<std::size_t>(i) < n_in; };

  std::optional<OutputFile> file;
  std::string target;
  if (output_dir) {
    target = output_path(*output_dir, parts.base);
    file.emplace(target);
  }

  TableReader reader(input_file);
  std::vector<std::string> fields;
  long line = 0;
  reader.next(fields, line);  // the header, already named by scan_table

  std::string buffer, glycan;
  GlycopeptideComputer computer(tables, param, param_file);
  Progress progress(console);
  std::size_t row = 0;
  std::string_view column;
  for (; reader.next(fields, line); ++row) {
    const std::vector<ColumnType>& types = layout.row_types(row);
    fields.resize(n_in);  // a short row has missing cells at its end
    try {
      // The glycan string from the five count cells, as str() shows them.
      column = "Glycan";
      glycan.clear();
      for (std::size_t k = 0; k < 5; ++k) {
        if (!input_column(count_cols[k])) {
          column = {};
          throw Error::lookup("table has no column", kCountColumns[k]);
        }
        auto c = static_cast<std::size_t>(count_cols[k]);
        glycan += kCountColumns[k];
        append_py_str(glycan, types[c], fields[c]);
      }
      column = {};
      if (!input_column(pep_col)) throw Error::lookup("table has no column", "PepSeq");
      column = "PepSeq";
      auto p = static_cast<std::size_t>(pep_col);
      if (!is_text_value(types[p], fields[p]))
        throw Error::type("expected string or bytes-like object, got a " +
                          std::string(is_missing_value(types[p], fields[p]) ? "missing cell" : "number"));
      const GlycopeptideResult& result = computer.compute(fields[p], glycan, column);

      if (file) {
        if (row == 0) {
          for (std::size_t j = 0; j < names.size(); ++j) {
            if (j) buffer += '\t';
            append_quoted_field(buffer, names[j]);
          }
          buffer += '\n';
        }
        for (std::size_t j = 0; j < names.size(); ++j) {
          if (j) buffer += '\t';
          if (j == glycan_col)
            append_quoted_field(buffer, glycan);
          else if (j == mods_col)
            append_quoted_field(buffer, result.mods);
          else if (j == mass_col)
            buffer += result.mass;
          else if (j == iso_col)
            buffer += result.isotopes;
          else
            append_output_cell(buffer, types[j], fields[j]);
        }
        buffer += '\n';
        if (buffer.size() >= kFlushBytes) file->write(buffer);
      }
    } catch (Error& e) {
      throw e.at(input_file, line, column);
    }
    progress.tick();
  }
  progress.close();

  if (!output_dir)
    throw Error::type("no output directory given: cannot build the output path for " + py_repr(input_file));
  if (row == 0) buffer = "\n";  // no rows: no columns either, an empty header line
  file->write(buffer);
  file->commit();
}

}  // namespace isotope
