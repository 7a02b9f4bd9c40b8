// Options from parameter lines: each option's text converted and checked in
// one place, with errors that name the option and its line.
#include "isotope/run/options.hpp"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "isotope/base/pyformat.hpp"
#include "isotope/base/text.hpp"

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

}  // namespace

std::int64_t Options::peaks_num() const {
  if (peaks_num_error) throw *peaks_num_error;
  return *peaks_num_value;
}

namespace {

// isotope_strict, isotope_on_error, isotope_threads.
void read_run_options(const ParamFile& file, Options& o) {
  if (auto v = find(file, "isotope_strict")) o.strict = v->boolean();
  if (auto v = find(file, "isotope_on_error")) {
    if (v->text == "stop")
      o.on_error = OnError::Stop;
    else if (v->text == "continue")
      o.on_error = OnError::Continue;
    else
      v->fail("expected stop or continue");
  }
  if (auto v = find(file, "isotope_threads")) {
    std::int64_t n = v->integer();
    if (!thread_count(n)) v->fail("expected a number of threads from 0 (every core) to 4096");
    o.threads = static_cast<unsigned>(n);
  }
}

// The options of the columns a run adds and of the precursor check.
void read_column_options(const ParamFile& file, Options& o) {
  if (auto v = find(file, "isotope_charge_column")) o.charge_column = column_name(*v);
  if (auto v = find(file, "isotope_charges")) o.charges = read_charges(*v);
  if (auto v = find(file, "isotope_coverage")) {
    std::optional<double> c = parse_float(v->text);
    if (!c || !(*c > 0.0 && *c <= 1.0)) v->fail("expected a share above 0 and at most 1, such as 0.99");
    o.coverage = *c;
  }
  if (auto v = find(file, "isotope_normalize")) {
    std::optional<Normalize> n = normalize_from_text(v->text);
    if (!n) v->fail("expected sum, max or none");
    o.normalize = *n;
  }
  if (auto v = find(file, "isotope_precursor_mz_column")) {
    o.precursor_mz_column = column_name(*v);
    if (!o.charge_column) v->fail("needs isotope_charge_column, the column of each row's charge");
  }
  if (auto v = find(file, "isotope_precursor_tolerance_ppm")) {
    std::optional<double> t = parse_float(v->text);
    if (!t || !(*t > 0.0) || !std::isfinite(*t)) v->fail("expected a positive number of ppm, such as 20");
    o.precursor_tolerance_ppm = *t;
  }
}

// What a definition's NAME must be: not empty, without the characters of
// `forbidden`, which `rule` words.
struct NameRule {
  std::string_view what, forbidden, rule;
};

// Calls on_definition(value, name) for each option `prefix`NAME, in file
// order, with NAME checked.
template <class OnDefinition>
void for_each_definition(const ParamFile& file, std::string_view prefix, const NameRule& rule,
                         OnDefinition on_definition) {
  for (std::size_t k = 0; k < file.params.size(); ++k) {
    const std::string& name = file.params[k].first;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const Value v{name, file.params[k].second, file.lines[k], file.path};
    std::string defined = name.substr(prefix.size());
    if (defined.empty() || defined.find_first_of(rule.forbidden) != std::string::npos)
      v.fail("a " + std::string(rule.what) + " needs a name after the dot, " + std::string(rule.rule));
    try {
      on_definition(v, std::move(defined));
    } catch (const Error& e) {
      v.fail(e.message());
    }
  }
}

// isotope_count_columns: names the vocabulary holds, none a count column
// already, none twice.
std::vector<std::string> read_count_columns(const Value& v, const GlycanVocabulary& glycans) {
  std::vector<std::string> names;
  for (std::string_view rest = v.text;;) {
    const std::size_t comma = rest.find(',');
    const std::string name(text::strip(rest.substr(0, comma)));
    const std::optional<std::size_t> i = name.empty() ? std::nullopt : glycans.find(name);
    if (!i) v.fail(py_repr(name) + " is not in the glycan vocabulary (" + glycans.name_list() + ")");
    if (glycans[*i].count_column || std::find(names.begin(), names.end(), name) != names.end())
      v.fail(py_repr(name) + " is a count column already");
    names.push_back(name);
    if (comma == std::string_view::npos) return names;
    rest = rest.substr(comma + 1);
  }
}

// The definitions of modifications and monosaccharides, then the count
// columns they may name.
void read_definitions(const ParamFile& file, Options& o) {
  static constexpr NameRule kModification{"modification", "[],/", "without brackets, commas or slashes"};
  static constexpr NameRule kMonosaccharide{"monosaccharide", "[](),;:/ \t",
                                            "without brackets, parentheses, commas, colons, slashes or blanks"};
  for_each_definition(file, kModificationPrefix, kModification, [&](const Value& v, std::string name) {
    o.modifications.push_back({std::move(name), parse_modification_formula(v.text)});
  });
  for_each_definition(file, kMonosaccharidePrefix, kMonosaccharide, [&](const Value& v, std::string name) {
    o.monosaccharides.push_back({std::move(name), parse_modification_formula(v.text)});
  });
  if (auto v = find(file, "isotope_count_columns")) {
    GlycanVocabulary glycans = GlycanVocabulary::builtin();
    for (const MonosaccharideDefinition& d : o.monosaccharides) glycans.define(d.name, d.composition);
    o.count_columns = read_count_columns(*v, glycans);
  }
}

}  // namespace

Options read_options(const ParamFile& file) {
  Options o;
  o.param_file = file.path;
  read_peaks_num(file, o);
  read_run_options(file, o);
  read_column_options(file, o);
  if (auto v = find(file, "isotope_unimod")) o.unimod = v->boolean();
  if (auto v = find(file, "isotope_input_format")) {
    try {
      o.input_format = format_from_option(v->text);
    } catch (const Error& e) {
      v->fail(e.message());
    }
  }
  if (auto v = find(file, "isotope_proforma_column")) o.proforma_column = column_name(*v);
  if (auto v = find(file, "isotope_proforma_output")) o.proforma_output = v->boolean();
  read_definitions(file, o);
  return o;
}

GlycanVocabulary run_vocabulary(const Options& options) {
  GlycanVocabulary glycans = GlycanVocabulary::builtin();
  for (const MonosaccharideDefinition& d : options.monosaccharides) glycans.define(d.name, d.composition);
  for (const std::string& name : options.count_columns) glycans.add_count_column(*glycans.find(name), name);
  return glycans;
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
