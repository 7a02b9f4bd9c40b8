// Rows placed in their runs' spectra, and their envelopes matched there.
#include "isotope/run/ms1_evidence.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <set>

#include "isotope/base/errors.hpp"
#include "isotope/base/pyformat.hpp"
#include "isotope/base/text.hpp"
#include "isotope/formats/engine_format.hpp"
#include "isotope/run/ms1_quantities.hpp"
#include "isotope/spectra/envelope_match.hpp"
#include "isotope/spectra/ms_run.hpp"

namespace isotope {

namespace {

std::optional<std::size_t> column_named(const std::vector<std::string>& names, std::string_view name, bool engine) {
  for (std::size_t j = 0; j < names.size(); ++j)
    if (engine ? names_match(names[j], name) : names[j] == name) return j;
  return std::nullopt;
}

constexpr std::string_view kNeedsSpectrum =
    "isotope_spectra needs each row's spectrum: set isotope_scan_column (the column of its MS2 spectrum's scan "
    "number or native id) or isotope_rt_column (the column of its retention time, in minutes)";

}  // namespace

SpectraColumns spectra_columns(const std::vector<std::string>& names, const Options& options, bool has_rows) {
  const bool engine = options.input_format.has_value();
  const SpectrumColumnNames defaults = engine ? spectrum_columns(*options.input_format) : SpectrumColumnNames{};
  auto pick = [&](const std::optional<std::string>& named, std::string_view fallback) -> std::optional<std::size_t> {
    if (!named) return fallback.empty() ? std::nullopt : column_named(names, fallback, engine);
    std::optional<std::size_t> j = column_named(names, *named, engine);
    if (!j && has_rows) throw Error::lookup("table has no column", *named);
    return j;
  };
  SpectraColumns c;
  c.run = pick(options.spectra_file_column, defaults.run);
  c.scan = pick(options.scan_column, defaults.scan);
  c.rt = pick(options.rt_column, {});
  if (!c.scan && !c.rt && has_rows) throw Error::value(std::string(kNeedsSpectrum));
  return c;
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A run as rows name it: a spectrum title's run, without folders and
// without the extension of a raw or peak file.
std::string run_name(std::string_view cell) {
  std::string_view name = text::strip(cell);
  if (const auto title = spectrum_title(name)) name = title->run;
  if (const std::size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos) name = name.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) {
    constexpr std::string_view kExtensions[] = {".raw", ".mzml", ".mzxml", ".d", ".wiff", ".mgf"};
    const std::string_view extension = name.substr(dot);
    if (std::any_of(std::begin(kExtensions), std::end(kExtensions),
                    [&](std::string_view e) { return text::equals_ascii_lower(extension, e); }))
      name = name.substr(0, dot);
  }
  return std::string(name);
}

// The mzML files of isotope_spectra: one file, or a folder's by base name.
class RunFiles {
 public:
  explicit RunFiles(const std::string& spectra) : spectra_(spectra) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_regular_file(spectra, ec)) {
      one_ = spectra;
      return;
    }
    if (!fs::is_directory(spectra, ec))
      throw Error::value("isotope_spectra: no mzML file or folder " + py_repr(spectra));
    for (const fs::directory_entry& e : fs::directory_iterator(spectra, ec))
      if (e.is_regular_file(ec) && text::equals_ascii_lower(e.path().extension().string(), ".mzml"))
        by_name_.emplace(e.path().stem().string(), e.path().string());
  }

  bool one_file() const { return !one_.empty(); }
  std::string one_stem() const { return std::filesystem::path(one_).stem().string(); }

  // The file of a run; nullopt with the reason in why.
  std::optional<std::string> find(const std::string& run, bool several_runs, std::string& why) const {
    if (one_file()) {
      if (!several_runs || run.empty() || run == one_stem()) return one_;
      why = "the row's run " + py_repr(run) + " is not the run of isotope_spectra (" + one_ + ")";
      return std::nullopt;
    }
    if (run.empty()) {
      why = "the row names no run, and isotope_spectra is a folder (" + spectra_ + ")";
      return std::nullopt;
    }
    auto it = by_name_.find(run);
    if (it != by_name_.end()) return it->second;
    why = "no mzML file of run " + py_repr(run) + " in " + spectra_;
    return std::nullopt;
  }

 private:
  std::string spectra_, one_;
  std::map<std::string, std::string> by_name_;
};

// A scan cell as a number: "17", or "17.0" as a float column holds it.
std::optional<long> scan_number(std::string_view cell) {
  std::string_view digits = cell.substr(0, cell.find('.'));
  if (digits.empty() || digits.size() > 12 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const std::string_view rest = cell.substr(digits.size());
  if (!rest.empty() && (rest[0] != '.' || rest.find_first_not_of('0', 1) != std::string_view::npos)) return std::nullopt;
  return std::stol(std::string(digits));
}

enum class Numbering { Scan, Position };

// The spectrum a row's scan cell names, under a numbering of scan numbers.
std::optional<std::size_t> named_spectrum(const RunIndex& index, std::string_view scan, Numbering numbering) {
  std::optional<long> n = scan_number(scan);
  if (!n)
    if (const auto title = spectrum_title(scan)) n = title->scan;
  if (!n) return index.by_native_id(scan);
  return numbering == Numbering::Scan ? index.by_scan(*n) : index.by_number(*n);
}

}  // namespace

std::optional<std::size_t> spectrum_named(const RunIndex& index, std::string_view scan) {
  if (auto at = named_spectrum(index, scan, Numbering::Scan)) return at;
  return named_spectrum(index, scan, Numbering::Position);
}

namespace {

// Whether an MS2 spectrum's precursor is the row's: the row's observed
// precursor (else any of its reported peaks) within the tolerance of the
// spectrum's precursor m/z, or inside its isolation window.
bool agrees(const SpectrumInfo& s, const SpectrumRequest& r, double tolerance_ppm) {
  if (!s.precursor_mz) return true;  // nothing to check against
  const double p = *s.precursor_mz;
  auto near = [&](double mz) {
    return std::abs(mz - p) <= tolerance_ppm * 1e-6 * p ||
           (s.isolation_lower + s.isolation_upper > 0 && mz >= p - s.isolation_lower && mz <= p + s.isolation_upper);
  };
  if (r.observed_mz > 0) return near(r.observed_mz);
  return std::any_of(r.mz.begin(), r.mz.end(), near);
}

Ms1Evidence blank_evidence() {
  Ms1Evidence e;
  e.rt_value = e.found_value = e.cosine_value = e.ppm_value = e.offset_value = kNaN;
  e.area_value = e.apex_rt_value = e.overlaps_value = kNaN;
  return e;
}

// A row's evidence in its MS1 spectrum: the match, and the count of other
// identifications sharing its centroids there.
Ms1Evidence evidence_of(const SpectrumInfo& s, const EnvelopeMatch& m, std::size_t overlaps) {
  Ms1Evidence e = blank_evidence();
  e.scan = s.native_id;
  e.rt_value = s.rt_min;
  e.rt = float_repr(s.rt_min);
  e.intensity_values = m.intensities;
  for (std::size_t k = 0; k < m.intensities.size(); ++k) {
    if (k) e.intensities += ',';
    append_float_repr(e.intensities, m.intensities[k]);
  }
  e.found_value = static_cast<double>(m.found);
  e.found = std::to_string(m.found);
  if (m.cosine) e.cosine = float_repr(e.cosine_value = *m.cosine);
  if (m.ppm) e.ppm = float_repr(e.ppm_value = *m.ppm);
  if (m.offset) {
    e.offset_value = *m.offset;
    e.offset = std::to_string(*m.offset);
  }
  e.overlaps_value = static_cast<double>(overlaps);
  e.overlaps = std::to_string(overlaps);
  return e;
}

// The row's area and apex over its window, known once the run is read.
void add_area(Ms1Evidence& e, const std::optional<RunQuantities::Area>& area) {
  if (area) {
    e.area = float_repr(e.area_value = area->area);
    e.apex_rt = float_repr(e.apex_rt_value = area->apex_rt);
  }
}

}  // namespace

Ms1EvidenceRun::Ms1EvidenceRun(const Options& options, SpectraColumns columns, std::string table)
    : options_(options), columns_(columns), table_(std::move(table)) {}

void Ms1EvidenceRun::ask(std::vector<SpectrumRequest>& piece, const RowOutput& out,
                         const std::function<std::string_view(std::size_t)>& cell) const {
  SpectrumRequest& r = piece.emplace_back();
  const bool finite = std::all_of(out.isotopes_mz_value.begin(), out.isotopes_mz_value.end(),
                                  [](double v) { return std::isfinite(v); });
  if (out.charge == 0 || out.isotopes_mz_value.empty() || !finite) return;
  r.mz = out.isotopes_mz_value;
  r.theory.assign(out.intensity.begin(), out.intensity.end());
  r.observed_mz = out.observed_mz;
  r.charge = out.charge;
  if (columns_.run) r.run = run_name(cell(*columns_.run));
  if (columns_.scan) r.scan = std::string(text::strip(cell(*columns_.scan)));
  if (columns_.rt) r.rt_min = parse_float(text::strip(cell(*columns_.rt)));
}

void Ms1EvidenceRun::take(std::vector<SpectrumRequest>& piece) {
  requests_.insert(requests_.end(), std::make_move_iterator(piece.begin()), std::make_move_iterator(piece.end()));
  piece.clear();
}

void Ms1EvidenceRun::answer(std::size_t row, RowOutput& out, NoteSink& notes) const {
  out.ms1 = row < results_.size() ? &results_[row] : nullptr;
  if (row < notes_.size() && !notes_[row].empty()) notes.note(NoteKind::Spectrum, notes_[row]);
  if (row < overlaps_.size() && !overlaps_[row].empty()) notes.note(NoteKind::Overlap, overlaps_[row]);
}

// ---------------------------------------------------------------------------
// Reading the runs.

namespace {

// The rows of one run and where each is found.
struct RunRows {
  const RunIndex& index;
  const std::vector<SpectrumRequest>& requests;
  const std::vector<std::size_t>& rows;
  const Options& options;
  std::vector<std::string>& notes;  // per table row
};

// The numbering of a run's scan numbers: the native ids' scan numbers,
// unless most rows disagree under them and more agree under positions.
Numbering choose_numbering(const RunRows& rr, std::string& note) {
  std::size_t numbered = 0, by_scan = 0, by_position = 0;
  for (std::size_t row : rr.rows) {
    const SpectrumRequest& r = rr.requests[row];
    if (!scan_number(r.scan) && !spectrum_title(r.scan)) continue;
    ++numbered;
    auto holds = [&](Numbering n) {
      const std::optional<std::size_t> at = named_spectrum(rr.index, r.scan, n);
      return at && rr.index.spectra[*at].ms_level > 1 &&
             agrees(rr.index.spectra[*at], r, rr.options.precursor_tolerance_ppm);
    };
    by_scan += holds(Numbering::Scan);
    by_position += holds(Numbering::Position);
  }
  if (!(by_position > by_scan && 2 * (numbered - by_scan) > numbered)) return Numbering::Scan;
  note = "scan numbers were read as the spectra's one-based positions in " + rr.index.path + ": " +
         std::to_string(by_position) + " of " + std::to_string(numbered) + " rows' precursors agree so, " +
         std::to_string(by_scan) + " with the native ids' scan numbers";
  return Numbering::Position;
}

// Where a row is found: the MS1 spectrum its envelope is matched in, and
// the retention time its window is centred on (its MS2 spectrum's).
struct Place {
  std::size_t ms1 = 0;
  double center_rt = 0;
};

// A row's place; nullopt with the row's note set.
std::optional<Place> place_row(const RunRows& rr, std::size_t row, bool by_scan, Numbering numbering) {
  const SpectrumRequest& r = rr.requests[row];
  std::string& note = rr.notes[row];
  const std::string& run = rr.index.path;
  if (!by_scan) {
    if (!r.rt_min || !std::isfinite(*r.rt_min)) {
      note = "the row's retention time is no number: its MS1 columns were left empty";
      return std::nullopt;
    }
    const std::optional<std::size_t> ms1 = rr.index.ms1_near(*r.rt_min);
    if (!ms1) note = "the run holds no MS1 spectrum: the row's MS1 columns were left empty";
    return ms1 ? std::optional<Place>(Place{*ms1, *r.rt_min}) : std::nullopt;
  }
  const std::optional<std::size_t> at = r.scan.empty() ? std::nullopt : named_spectrum(rr.index, r.scan, numbering);
  if (!at) {
    note = "no spectrum " + py_repr(r.scan) + " in " + run + ": the row's MS1 columns were left empty";
    return std::nullopt;
  }
  const SpectrumInfo& s = rr.index.spectra[*at];
  if (s.ms_level == 1) return Place{*at, s.rt_min};
  if (!agrees(s, r, rr.options.precursor_tolerance_ppm)) {
    note = "spectrum " + py_repr(s.native_id) + " of " + run + " has precursor m/z " + float_repr(*s.precursor_mz) +
           ", which agrees with neither the row's " +
           (r.observed_mz > 0 ? "precursor m/z " + float_repr(r.observed_mz) : std::string("isotope peaks")) +
           " (within " + ppm_text(rr.options.precursor_tolerance_ppm) +
           " ppm) nor its isolation window: the row's MS1 columns were left empty";
    return std::nullopt;
  }
  const std::optional<std::size_t> ms1 = rr.index.precursor_ms1(*at);
  if (!ms1) {
    note = "no MS1 spectrum precedes spectrum " + py_repr(s.native_id) + " in " + run +
           ": the row's MS1 columns were left empty";
    return std::nullopt;
  }
  return Place{*ms1, s.rt_min};
}

EnvelopeMatch match_row(const Centroids& c, const SpectrumRequest& r, const Options& options) {
  return match_envelope(c, r.mz, r.theory, peak_spacing(r.mz, r.charge), options.ms1_tolerance_ppm,
                        options.ms1_offset_margin);
}

}  // namespace

void Ms1EvidenceRun::resolve(TableNotes& notes) {
  results_.assign(requests_.size(), blank_evidence());
  notes_.assign(requests_.size(), {});
  overlaps_.assign(requests_.size(), {});
  const RunFiles files(*options_.spectra);
  std::set<std::string> runs;
  for (const SpectrumRequest& r : requests_)
    if (!r.mz.empty()) runs.insert(r.run);
  std::map<std::string, std::vector<std::size_t>> by_file;
  for (std::size_t row = 0; row < requests_.size(); ++row) {
    if (requests_[row].mz.empty()) continue;
    if (auto file = files.find(requests_[row].run, runs.size() > 1, notes_[row]))
      by_file[*file].push_back(row);
    else
      notes_[row] += ": the row's MS1 columns were left empty";
  }
  for (const auto& [file, rows] : by_file) resolve_run(file, rows, notes);
  requests_ = {};
}

void Ms1EvidenceRun::resolve_run(const std::string& file, const std::vector<std::size_t>& rows, TableNotes& notes) {
  const RunIndex index = read_run_index(file);
  if (!index.deconvoluted.empty()) {
    notes.table(file + " holds deconvoluted spectra (" + index.deconvoluted +
                "): their peaks are no isotope envelopes, so the MS1 columns of its rows in " + table_ +
                " were left empty");
    return;
  }
  const RunRows rr{index, requests_, rows, options_, notes_};
  std::string numbering_note;
  const Numbering numbering = columns_.scan ? choose_numbering(rr, numbering_note) : Numbering::Scan;
  if (!numbering_note.empty()) notes.table(numbering_note + " (" + table_ + ")");
  std::map<std::size_t, std::vector<std::size_t>> at;  // MS1 position -> rows
  RunQuantities quantities(index, options_.rt_window_min, options_.ms1_tolerance_ppm);
  for (std::size_t row : rows)
    if (auto place = place_row(rr, row, columns_.scan.has_value(), numbering)) {
      at[place->ms1].push_back(row);
      quantities.add_row(row, requests_[row].mz, place->center_rt);
    }
  std::vector<std::size_t> wanted = quantities.close();
  if (!quantities.ordered())
    notes.table("the MS1 retention times of " + file + " do not increase through the file: MS1_Area and MS1_Apex_RT "
                "of its rows in " + table_ + " were left empty");
  for (const auto& [position, unused] : at) wanted.push_back(position);
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  read_spectra(index, wanted, [&](std::size_t position, const Centroids& c) {
    quantities.visit(position, c);
    for (std::size_t row : at[position]) {
      const EnvelopeMatch m = match_row(c, requests_[row], options_);
      results_[row] = evidence_of(index.spectra[position], m, quantities.overlaps(row, c, m, overlaps_[row]));
    }
  });
  for (const auto& [position, placed] : at)
    for (std::size_t row : placed) add_area(results_[row], quantities.area(row));
}

}  // namespace isotope
