// Options from parameter lines: each option's text converted and checked in
// one place, with errors that name the option and its line.
#include "isotope/run/options.hpp"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>

#include "isotope/base/pyformat.hpp"
#include "isotope/base/text.hpp"
#include "isotope/model/close_matches.hpp"

namespace isotope {

namespace {

constexpr std::string_view kPeaksNum = "isotope_peaks_num";
constexpr std::string_view kModificationPrefix = "isotope_modification.";
constexpr std::string_view kMonosaccharidePrefix = "isotope_monosaccharide.";

// isotope_peaks_num as Python's int() reads it, or the error a row meets.
void read_peaks_num(const ParamFile& file, Options& options) {
  const std::string* value = find_param(file.params, kPeaksNum);
  if (!value) {
    options.peaks_num_error = Error::lookup("parameter file has no option", kPeaksNum).at(file.path);
    return;
  }
  try {
    options.peaks_num_value = text::parse_int(*value);
  } catch (Error& e) {
    options.peaks_num_error = e.at(file.path);
    return;
  }
  if (!options.peaks_num_value)
    options.peaks_num_error = Error::value("invalid literal for int() with base 10: " + py_repr(*value) + " (" +
                                           std::string(kPeaksNum) + ")")
                                  .at(file.path);
}

// One option's value with its line, for the typed readers below.
struct Value {
  std::string_view name;
  std::string_view text;
  long line;
  const std::string& file;

  [[noreturn]] void fail(const std::string& why) const {
    throw Error::value(std::string(name) + " = " + py_repr(text) + ": " + why).at(file, line);
  }

  bool boolean() const {
    for (auto word : {"true", "yes", "1"})
      if (text::equals_ascii_lower(text, word)) return true;
    for (auto word : {"false", "no", "0"})
      if (text::equals_ascii_lower(text, word)) return false;
    fail("expected true or false");
  }

  std::int64_t integer() const {
    std::optional<std::int64_t> n;
    try {
      n = text::parse_int(text);
    } catch (const Error&) {
      fail("the number is too large");
    }
    if (!n) fail("expected a whole number");
    return *n;
  }
};

std::optional<Value> find(const ParamFile& file, std::string_view name) {
  for (std::size_t k = 0; k < file.params.size(); ++k)
    if (file.params[k].first == name) return Value{name, file.params[k].second, file.lines[k], file.path};
  return std::nullopt;
}

std::vector<int> read_charges(const Value& v) {
  std::vector<int> charges;
  std::string_view rest = v.text;
  while (true) {
    std::size_t comma = rest.find(',');
    std::string_view piece = text::strip(rest.substr(0, comma));
    std::optional<std::int64_t> z;
    try {
      z = text::parse_int(piece);
    } catch (const Error&) {
    }
    if (!z || *z == 0 || *z > 1000 || *z < -1000)
      v.fail("expected non-zero whole charges separated by commas, such as 2,3,4");
    for (int c : charges)
      if (c == *z) v.fail("charge " + std::to_string(*z) + " is listed twice");
    charges.push_back(static_cast<int>(*z));
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  return charges;
}

std::string column_name(const Value& v) {
  if (v.text.empty()) v.fail("expected a column name");
  return std::string(v.text);
}

// --- The options, one row each --------------------------------------------

void read_strict(const Value& v, Options& o) { o.strict = v.boolean(); }

void read_on_error(const Value& v, Options& o) {
  if (v.text == "stop")
    o.on_error = OnError::Stop;
  else if (v.text == "continue")
    o.on_error = OnError::Continue;
  else
    v.fail("expected stop or continue");
}

void read_threads(const Value& v, Options& o) {
  const std::int64_t n = v.integer();
  if (!thread_count(n)) v.fail("expected a number of threads from 0 (every core) to 4096");
  o.threads = static_cast<unsigned>(n);
}

void read_charge_column(const Value& v, Options& o) { o.charge_column = column_name(v); }
void read_charges_option(const Value& v, Options& o) { o.charges = read_charges(v); }

void read_coverage(const Value& v, Options& o) {
  const std::optional<double> c = parse_float(v.text);
  if (!c || !(*c > 0.0 && *c <= 1.0)) v.fail("expected a share above 0 and at most 1, such as 0.99");
  o.coverage = *c;
}

void read_normalize(const Value& v, Options& o) {
  const std::optional<Normalize> n = normalize_from_text(v.text);
  if (!n) v.fail("expected sum, max or none");
  o.normalize = *n;
}

void read_precursor_column(const Value& v, Options& o) {
  o.precursor_mz_column = column_name(v);
  if (!o.charge_column) v.fail("needs isotope_charge_column, the column of each row's charge");
}

double positive_ppm(const Value& v, std::string_view example) {
  const std::optional<double> t = parse_float(v.text);
  if (!t || !(*t > 0.0) || !std::isfinite(*t)) v.fail("expected a positive number of ppm, such as " + std::string(example));
  return *t;
}

void read_tolerance(const Value& v, Options& o) { o.precursor_tolerance_ppm = positive_ppm(v, "20"); }
void read_ms1_tolerance(const Value& v, Options& o) { o.ms1_tolerance_ppm = positive_ppm(v, "10"); }

void read_offset_margin(const Value& v, Options& o) {
  const std::optional<double> m = parse_float(v.text);
  if (!m || !(*m >= 0.0 && *m < 1.0)) v.fail("expected a cosine margin from 0 to below 1, such as 0.05");
  o.ms1_offset_margin = *m;
}

void read_rt_window(const Value& v, Options& o) {
  const std::optional<double> w = parse_float(v.text);
  if (!w || !(*w > 0.0) || !std::isfinite(*w)) v.fail("expected a positive number of minutes, such as 0.5");
  o.rt_window_min = *w;
}

void read_spectra(const Value& v, Options& o) {
  if (text::strip(v.text).empty()) v.fail("expected the path of an mzML file or of a folder of them");
  o.spectra = std::string(text::strip(v.text));
}
void read_spectra_file_column(const Value& v, Options& o) { o.spectra_file_column = column_name(v); }
void read_scan_column(const Value& v, Options& o) { o.scan_column = column_name(v); }
void read_rt_column(const Value& v, Options& o) { o.rt_column = column_name(v); }

void read_unimod(const Value& v, Options& o) { o.unimod = v.boolean(); }
void read_proforma_column(const Value& v, Options& o) { o.proforma_column = column_name(v); }
void read_proforma_output(const Value& v, Options& o) { o.proforma_output = v.boolean(); }

void read_input_format(const Value& v, Options& o) {
  try {
    o.input_format = format_from_option(v.text);
  } catch (const Error& e) {
    v.fail(e.message());
  }
}

void read_separator(const Value& v, Options& o) {
  const std::optional<Separator> sep = separator_named(v.text);
  if (!sep) v.fail("expected whitespace, tab, comma or semicolon");
  if (o.input_format && *sep != Separator::Whitespace)
    v.fail("a search engine's table (isotope_input_format) is read with its own separator; "
           "isotope_separator is for the tool's own tables");
  o.separator = *sep;
}

void read_skip_outputs(const Value& v, Options& o) { o.skip_outputs = v.boolean(); }

void read_modification(const Value& v, Options& o) {
  std::string mod(v.name.substr(kModificationPrefix.size()));
  if (mod.empty() || mod.find_first_of("[],/") != std::string::npos)
    v.fail("a modification needs a name after the dot, without brackets, commas or slashes");
  try {
    o.modifications.push_back({std::move(mod), parse_modification_formula(v.text)});
  } catch (const Error& e) {
    v.fail(e.message());
  }
}

void read_monosaccharide(const Value& v, Options& o) {
  std::string name(v.name.substr(kMonosaccharidePrefix.size()));
  if (name.empty() || name.find_first_of("[](),;:/ \t") != std::string::npos)
    v.fail("a monosaccharide needs a name after the dot, without brackets, parentheses, commas, colons, slashes "
           "or blanks");
  try {
    o.monosaccharides.push_back({std::move(name), parse_modification_formula(v.text)});
  } catch (const Error& e) {
    v.fail(e.message());
  }
}

// isotope_count_columns: names the vocabulary holds (with the run's
// monosaccharide definitions), none a count column already, none twice.
void read_count_columns(const Value& v, Options& o) {
  GlycanVocabulary glycans = GlycanVocabulary::builtin();
  for (const MonosaccharideDefinition& d : o.monosaccharides) glycans.define(d.name, d.composition);
  std::vector<std::string> names;
  for (std::string_view rest = v.text;;) {
    const std::size_t comma = rest.find(',');
    const std::string name(text::strip(rest.substr(0, comma)));
    const std::optional<std::size_t> i = name.empty() ? std::nullopt : glycans.find(name);
    if (!i) v.fail(py_repr(name) + " is not in the glycan vocabulary (" + glycans.name_list() + ")");
    if (glycans[*i].count_column || std::find(names.begin(), names.end(), name) != names.end())
      v.fail(py_repr(name) + " is a count column already");
    names.push_back(name);
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  o.count_columns = std::move(names);
}

// An option: its name (a family's ends in '.', each of its options adding a
// NAME) and how its value is read (none: read apart, before the others).
struct OptionRow {
  std::string_view name;
  void (*read)(const Value&, Options&);
};

// Every option, in the order the values are read: a row may rely on the
// rows above it (isotope_precursor_mz_column on isotope_charge_column,
// isotope_separator on isotope_input_format, isotope_count_columns on the
// monosaccharide definitions). A new option is a new row.
constexpr OptionRow kOptions[] = {
    {kPeaksNum, nullptr},
    {"isotope_strict", read_strict},
    {"isotope_on_error", read_on_error},
    {"isotope_threads", read_threads},
    {"isotope_charge_column", read_charge_column},
    {"isotope_charges", read_charges_option},
    {"isotope_coverage", read_coverage},
    {"isotope_normalize", read_normalize},
    {"isotope_precursor_mz_column", read_precursor_column},
    {"isotope_precursor_tolerance_ppm", read_tolerance},
    {"isotope_unimod", read_unimod},
    {"isotope_input_format", read_input_format},
    {"isotope_separator", read_separator},
    {"isotope_skip_outputs", read_skip_outputs},
    {"isotope_proforma_column", read_proforma_column},
    {"isotope_proforma_output", read_proforma_output},
    {kModificationPrefix, read_modification},
    {kMonosaccharidePrefix, read_monosaccharide},
    {"isotope_count_columns", read_count_columns},
    {"isotope_spectra", read_spectra},
    {"isotope_spectra_file_column", read_spectra_file_column},
    {"isotope_scan_column", read_scan_column},
    {"isotope_rt_column", read_rt_column},
    {"isotope_ms1_tolerance_ppm", read_ms1_tolerance},
    {"isotope_ms1_offset_margin", read_offset_margin},
    {"isotope_rt_window_min", read_rt_window},
};

bool is_family(const OptionRow& row) { return row.name.back() == '.'; }

bool known(std::string_view name) {
  for (const OptionRow& row : kOptions)
    if (is_family(row) ? name.substr(0, row.name.size()) == row.name : name == row.name) return true;
  return false;
}

}  // namespace

std::int64_t Options::peaks_num() const {
  if (peaks_num_error) throw *peaks_num_error;
  return *peaks_num_value;
}

Options read_options(const ParamFile& file) {
  Options o;
  o.param_file = file.path;
  read_peaks_num(file, o);
  for (const OptionRow& row : kOptions) {
    if (!row.read) continue;
    if (!is_family(row)) {
      if (auto v = find(file, row.name)) row.read(*v, o);
      continue;
    }
    for (std::size_t k = 0; k < file.params.size(); ++k)
      if (std::string_view(file.params[k].first).substr(0, row.name.size()) == row.name)
        row.read(Value{file.params[k].first, file.params[k].second, file.lines[k], file.path}, o);
  }
  return o;
}

GlycanVocabulary run_vocabulary(const Options& options) {
  GlycanVocabulary glycans = GlycanVocabulary::builtin();
  for (const MonosaccharideDefinition& d : options.monosaccharides) glycans.define(d.name, d.composition);
  for (const std::string& name : options.count_columns) glycans.add_count_column(*glycans.find(name), name);
  return glycans;
}

std::vector<std::string> known_options() {
  std::vector<std::string> names;
  for (const OptionRow& row : kOptions) names.push_back(std::string(row.name) + (is_family(row) ? "NAME" : ""));
  return names;
}

// --- Option names checked -------------------------------------------------

namespace {

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// The edit distance (insertions, deletions, substitutions, swaps of two
// neighbours) between a and b, or 3 for anything above 2.
int distance_to_2(std::string_view a, std::string_view b) {
  if (a.size() > b.size() + 2 || b.size() > a.size() + 2) return 3;
  std::vector<std::vector<int>> d(a.size() + 1, std::vector<int>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = static_cast<int>(i);
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = static_cast<int>(j);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return std::min(d[a.size()][b.size()], 3);
}

// The options a name may stand for: each option's name, a family's with the
// name's own NAME (the text after its first dot, or "NAME").
std::vector<std::string> candidates(std::string_view name) {
  const std::size_t dot = name.find('.');
  const std::string suffix = dot == std::string_view::npos ? "NAME" : std::string(name.substr(dot + 1));
  std::vector<std::string> out;
  for (const OptionRow& row : kOptions) out.push_back(std::string(row.name) + (is_family(row) ? suffix : ""));
  return out;
}

// The known names within two edits of name (letter case aside), nearest
// first; a family compares by the part up to its dot.
std::vector<std::string> near_names(std::string_view name) {
  const std::string lower = ascii_lower(name);
  const std::size_t dot = lower.find('.');
  const std::vector<std::string> names = candidates(name);
  std::vector<std::pair<int, std::string>> near;
  for (std::size_t k = 0; k < std::size(kOptions); ++k) {
    const OptionRow& row = kOptions[k];
    const std::string_view head = is_family(row) ? row.name.substr(0, row.name.size() - 1) : row.name;
    const std::string_view compared = is_family(row) ? std::string_view(lower).substr(0, dot) : std::string_view(lower);
    const int d = distance_to_2(compared, head);
    if (d <= 2) near.emplace_back(d, names[k]);
  }
  std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (const auto& n : near) out.push_back(n.second);
  return out;
}

// The warning on an unknown name, or nothing for another tool's option.
std::optional<std::string> unknown_name_warning(std::string_view name) {
  if (known(name)) return std::nullopt;
  std::vector<std::string> names = near_names(name);
  if (names.empty()) {
    if (ascii_lower(name).compare(0, 8, "isotope_") != 0) return std::nullopt;
    names = close_matches(name, candidates(name), 3, 0.0);
  }
  if (names.size() > 3) names.resize(3);
  return "unknown option " + py_repr(name) + " " + did_you_mean(names) + ": it was ignored";
}

thread_local bool options_warned = false;

}  // namespace

std::vector<std::string> option_warnings(const ParamFile& file) {
  std::vector<std::pair<long, std::string>> found;
  const auto at = [&](long line) { return ", line " + std::to_string(line) + " of " + file.path; };
  for (std::size_t k = 0; k < file.params.size(); ++k)
    if (auto text = unknown_name_warning(file.params[k].first))
      found.emplace_back(file.lines[k], *text + at(file.lines[k]));
  for (const RepeatedParam& r : file.repeats) {
    if (ascii_lower(r.name).compare(0, 8, "isotope_") != 0) continue;
    found.emplace_back(r.line, "option " + py_repr(r.name) + " is set on line " + std::to_string(r.earlier_line) +
                                   " and again on line " + std::to_string(r.line) + " of " + file.path +
                                   ": the later value is used");
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (auto& f : found) out.push_back(std::move(f.second));
  return out;
}

void warn_options(const ParamFile& file, const Console& console) {
  if (options_warned) return;
  for (const std::string& text : option_warnings(file)) console.warning(text);
}

void warn_options(const std::string& param_file, const Console& console) {
  if (options_warned) return;
  std::optional<ParamFile> file;
  try {
    file = read_param_file(param_file);
  } catch (const Error&) {
    return;  // the run reads the file again and reports the error with its place
  }
  warn_options(*file, console);
}

OptionsWarned::OptionsWarned() : outer_(!options_warned) { options_warned = true; }
OptionsWarned::~OptionsWarned() {
  if (outer_) options_warned = false;
}

unsigned usable_cores() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
  return 1;
}

std::optional<unsigned> thread_count(std::int64_t n) {
  if (n < 0 || n > kMaxThreads) return std::nullopt;
  return n == 0 ? usable_cores() : static_cast<unsigned>(n);
}

unsigned resolve_threads(const Options& options, const char* env_threads) {
  if (options.threads) return *options.threads == 0 ? usable_cores() : *options.threads;
  if (!env_threads || *env_threads == 0) return usable_cores();
  std::optional<std::int64_t> n;
  try {
    n = text::parse_int(env_threads);
  } catch (const Error&) {
  }
  if (!n || !thread_count(*n))
    throw Error::value("ISOTOPE_THREADS = " + py_repr(env_threads) +
                       ": expected a number of threads from 0 (every core) to 4096");
  return *thread_count(*n);
}

}  // namespace isotope
