// The in-memory route: pieces of rows computed on workers, their added
// cells and notes committed in row order.
#include "isotope/run/frame.hpp"

#include <cmath>
#include <limits>
#include <set>
#include <span>

#include "isotope/base/errors.hpp"
#include "isotope/base/pyformat.hpp"
#include "isotope/formats/importers.hpp"
#include "isotope/run/import_run.hpp"
#include "isotope/run/ordered_run.hpp"
#include "isotope/run/ms1_evidence.hpp"
#include "isotope/run/table_run.hpp"

namespace isotope {

namespace {

constexpr std::size_t kPieceRows = 2048;

std::ptrdiff_t column_of(const FrameTable& frame, std::string_view name) {
  for (std::size_t j = 0; j < frame.names.size(); ++j)
    if (frame.names[j] == name) return static_cast<std::ptrdiff_t>(j);
  return -1;
}

// The column a run needs, or the error of a frame without it.
std::ptrdiff_t required(const FrameTable& frame, std::string_view name) {
  std::ptrdiff_t j = column_of(frame, name);
  if (j < 0 && frame.rows > 0) throw Error::lookup("table has no column", name).at("the DataFrame");
  return j;
}

// Where our format's columns stand in the frame.
struct OurColumns {
  std::ptrdiff_t pep_seq = -1, charge = -1, precursor = -1;
  std::vector<std::ptrdiff_t> counts;  // per count column
  std::vector<std::string> count_names;
};

OurColumns our_columns(const FrameTable& frame, const Options& options, const GlycanVocabulary& glycans) {
  OurColumns c;
  c.count_names = glycans.count_column_names();
  for (const std::string& code : c.count_names) c.counts.push_back(required(frame, code));
  c.pep_seq = required(frame, "PepSeq");
  if (options.charge_column) c.charge = required(frame, *options.charge_column);
  if (options.precursor_mz_column) c.precursor = required(frame, *options.precursor_mz_column);
  return c;
}

constexpr double kEmpty = std::numeric_limits<double>::quiet_NaN();

// How annotate hands an added column over.
FrameColumnKind frame_kind(Added kind, bool arrays) {
  switch (kind) {
    case Added::Mass:
    case Added::Mz:
    case Added::MzAt:
    case Added::Ppm: return FrameColumnKind::Number;
    case Added::Ms1Rt:
    case Added::Ms1Area:
    case Added::Ms1ApexRt:
    case Added::Ms1Cosine:
    case Added::Ms1Ppm: return FrameColumnKind::Number;
    case Added::Offset:
    case Added::Ms1Found:
    case Added::Ms1Overlaps:
    case Added::Ms1Offset: return FrameColumnKind::Integer;
    case Added::Isotopes:
    case Added::IsotopesMz:
    case Added::Ms1Intensities: return arrays ? FrameColumnKind::Array : FrameColumnKind::Text;
    default: return FrameColumnKind::Text;
  }
}

// The number an added cell is written from; NaN for an empty cell.
double added_number(const RowOutput& out, const AddedColumn& a) {
  if (added_text(out, a.kind, a.which).empty()) return kEmpty;
  switch (a.kind) {
    case Added::Mass: return out.mass_value;
    case Added::Mz: return out.mz_value;
    case Added::MzAt: return out.mz_at_value[a.which];
    case Added::Ppm: return out.ppm_value;
    case Added::Offset: return out.offset_value;
    case Added::Ms1Rt: return out.ms1->rt_value;
    case Added::Ms1Found: return out.ms1->found_value;
    case Added::Ms1Cosine: return out.ms1->cosine_value;
    case Added::Ms1Ppm: return out.ms1->ppm_value;
    case Added::Ms1Offset: return out.ms1->offset_value;
    case Added::Ms1Area: return out.ms1->area_value;
    case Added::Ms1ApexRt: return out.ms1->apex_rt_value;
    case Added::Ms1Overlaps: return out.ms1->overlaps_value;
    default: return kEmpty;
  }
}

// The numbers a list cell (GP_Isotopes, GP_Isotopes_MZ, MS1_Intensities)
// is written from; none for an empty cell.
std::span<const double> added_numbers(const RowOutput& out, const AddedColumn& a) {
  if (added_text(out, a.kind, a.which).empty()) return {};
  if (a.kind == Added::Ms1Intensities) return out.ms1->intensity_values;
  return a.kind == Added::Isotopes ? out.intensity : std::span<const double>(out.isotopes_mz_value);
}

void push_added(FrameCells& cells, FrameColumnKind kind, const RowOutput& out, const AddedColumn& a) {
  switch (kind) {
    case FrameColumnKind::Text: cells.text.push(ColumnType::TextAsRead, added_text(out, a.kind, a.which)); break;
    case FrameColumnKind::Number:
    case FrameColumnKind::Integer: cells.numbers.push_back(added_number(out, a)); break;
    case FrameColumnKind::Array: {
      std::span<const double> values = added_numbers(out, a);
      cells.numbers.insert(cells.numbers.end(), values.begin(), values.end());
      cells.ends.push_back(cells.numbers.size());
      break;
    }
  }
}

std::optional<ImportColumns> engine_columns(const FrameTable& frame, const Options& options) {
  if (frame.rows == 0) return std::nullopt;
  try {
    return run_columns(frame.names, options);
  } catch (Error& e) {
    throw e.at("the DataFrame");
  }
}

// The rows of a frame: pieces of row numbers, their added cells kept as
// FrameResult's kinds say.
class FrameRoute final : public TableRoute {
 public:
  FrameRoute(const FrameTable& frame, const Options& options, const RunModel& model,
             const std::vector<AddedColumn>& added, FrameResult& result, std::size_t slots, Ms1Pass ms1 = {})
      : frame_(frame), model_(model), added_(added), result_(result), slots_(slots), ms1_(ms1) {
    if (options.input_format) {
      import_ = engine_columns(frame, options);
      return;
    }
    ours_ = our_columns(frame, options, model.glycans);
    float_causes_.resize(ours_.counts.size());
    for (std::size_t c = 0; c < ours_.counts.size(); ++c)
      if (ours_.counts[c] >= 0 && c < frame.float_columns.size() && frame.float_columns[c])
        float_causes_[c] = float_cause_row(*frame.columns[static_cast<std::size_t>(ours_.counts[c])]);
  }

  PieceState& state(std::size_t s) override { return slots_[s].state; }
  std::size_t rows(std::size_t s) const override { return slots_[s].count; }
  long key(std::size_t s, std::size_t i) const override { return static_cast<long>(slots_[s].first + i); }
  void locate(Error& e, std::size_t s, std::size_t i, std::string_view column) const override {
    e.at(where(slots_[s].first + i) + " of the DataFrame", 0, column);
  }

  const std::optional<ImportColumns>& import_columns() const noexcept { return import_; }
  // The rows' MS1 evidence, answered in the pass this route runs.
  void answer_with(Ms1EvidenceRun* run) { ms1_ = {run, false}; }

  std::string where(std::size_t row) const {
    return frame_.row_name ? frame_.row_name(row) : "row " + std::to_string(row);
  }

  bool read(std::size_t s) override {
    Piece& p = slots_[s];
    p.first = next_;
    p.count = std::min(kPieceRows, frame_.rows - next_);
    next_ += p.count;
    return p.count > 0;
  }

  void begin(std::size_t s) override {
    slots_[s].cells.assign(added_.size(), FrameCells{});
    slots_[s].requests.clear();
  }

  void row(std::size_t s, std::size_t i, Worker& w, std::string_view& column) override {
    Piece& p = slots_[s];
    const std::size_t row = p.first + i;
    if (import_)
      engine_row(row, w, column);
    else
      our_row(row, w, column);
    if (ms1_.collecting) {
      ms1_.run->ask(p.requests, w.out, [&](std::size_t j) {
        if (import_) return j < w.texts.size() ? std::string_view(w.texts[j]) : std::string_view{};
        return frame_.columns[j] ? frame_.columns[j]->cell(row).raw : std::string_view{};
      });
      return;
    }
    if (ms1_.run) ms1_.run->answer(row, w.out, w.notes);
    for (std::size_t c = 0; c < added_.size(); ++c) push_added(p.cells[c], result_.kinds[c], w.out, added_[c]);
  }

  void write(std::size_t s) override {
    Piece& p = slots_[s];
    if (ms1_.collecting) {
      ms1_.run->take(p.requests);
      return;
    }
    result_.pieces.push_back(std::move(p.cells));
    p.cells.clear();
  }

 private:
  struct Piece {
    std::size_t first = 0, count = 0;
    std::vector<FrameCells> cells;  // per added column
    std::vector<SpectrumRequest> requests;
    PieceState state;
  };

  Cell cell(std::ptrdiff_t j, std::size_t row) const {
    if (j < 0) return Cell{};
    return frame_.columns[static_cast<std::size_t>(j)]->cell(row);
  }

  void engine_row(std::size_t row, Worker& w, std::string_view& column) const {
    w.texts.resize(frame_.names.size());
    for (std::size_t j = 0; j < frame_.names.size(); ++j) unquote(frame_.columns[j]->cell(row).raw, w.texts[j]);
    import_row(*import_, w.texts, model_, w.rows, w.out, w.notes, column);
  }

  void our_row(std::size_t row, Worker& w, std::string_view& column) const {
    w.cells.pep_seq = cell(ours_.pep_seq, row);
    w.cells.counts.resize(ours_.counts.size());
    for (std::size_t c = 0; c < ours_.counts.size(); ++c) w.cells.counts[c] = cell(ours_.counts[c], row);
    w.cells.charge = cell(ours_.charge, row);
    w.cells.precursor = cell(ours_.precursor, row);
    w.rows.compute(w.cells, w.out, w.notes, column);
    for (std::size_t c = 0; c < ours_.counts.size(); ++c)
      if (float_causes_[c] == row)
        w.notes.note(NoteKind::CountColumn, float_column_note(ours_.count_names[c], w.cells.counts[c]));
  }

  const FrameTable& frame_;
  const RunModel& model_;
  const std::vector<AddedColumn>& added_;
  FrameResult& result_;
  std::optional<ImportColumns> import_;
  OurColumns ours_;
  std::vector<std::optional<std::size_t>> float_causes_;  // per count column
  std::vector<Piece> slots_;
  Ms1Pass ms1_;
  std::size_t next_ = 0;
};

// An engine frame's options: its m/z columns at fixed charges are those
// its rows list (GlycReSoft's charge_states).
Options with_listed_charges(const FrameTable& frame, const Options& options) {
  if (!options.input_format) return options;
  Options out = options;
  out.charges.clear();
  const std::optional<ImportColumns> columns = engine_columns(frame, options);
  if (!columns || !columns->index[ImportColumns::ChargeStates]) return out;
  std::set<int> seen;
  const CellColumn& states = *frame.columns[*columns->index[ImportColumns::ChargeStates]];
  for (std::size_t row = 0; row < frame.rows; ++row)
    for (long z : parse_charge_states(states.cell(row).raw)) seen.insert(static_cast<int>(z));
  out.charges.assign(seen.begin(), seen.end());
  return out;
}

}  // namespace

void add_frame_defaults(ParamFile& params) {
  for (const auto& [name, value] : params.params)
    if (name == "isotope_peaks_num") return;
  params.params.insert(params.params.begin(), {"isotope_peaks_num", "5"});
  params.lines.insert(params.lines.begin(), 0);
}

std::vector<std::string> count_columns(const Options& options) {
  return run_vocabulary(options).count_column_names();
}

std::vector<std::string> columns_read(const Options& options) {
  std::vector<std::string> names = {"PepSeq"};
  for (std::string& code : run_vocabulary(options).count_column_names()) names.push_back(std::move(code));
  if (options.charge_column) names.push_back(*options.charge_column);
  if (options.precursor_mz_column) names.push_back(*options.precursor_mz_column);
  for (const auto* spectra : {&options.spectra_file_column, &options.scan_column, &options.rt_column})
    if (options.spectra && *spectra) names.push_back(**spectra);
  return names;
}

std::optional<std::size_t> float_cause_row(const CellColumn& column) {
  if (column.size() == 0) return std::nullopt;
  for (std::size_t i = 0; i < column.size(); ++i) {
    const Cell c = column.cell(i);
    std::optional<double> v = is_missing_value(c.type, c.raw) ? std::nullopt : parse_float(c.raw);
    if (!v || !std::isfinite(*v) || *v != std::floor(*v)) return i;
  }
  return 0;
}

FrameResult annotate_frame(const FrameTable& frame, const Options& frame_options, const ModelTables& tables,
                           const Console& console, unsigned threads, bool arrays) {
  const Options options = with_listed_charges(frame, frame_options);
  const RunModel model = run_model(tables, options);
  const std::vector<AddedColumn> added =
      options.input_format ? imported_columns(model.glycans, options) : added_columns(options);
  FrameResult result;
  for (const AddedColumn& c : added) {
    result.names.push_back(c.name);
    result.kinds.push_back(frame_kind(c.kind, arrays));
  }
  FrameRoute route(frame, options, model, added, result, slots_for(threads));
  TableNotes notes([&](std::string_view text) { console.warning(text); }, "the DataFrame", options.strict,
                   [&](long row) { return route.where(static_cast<std::size_t>(row)); });
  if (route.import_columns())
    if (const std::string note = table_note(*route.import_columns()); !note.empty()) notes.table(note + " in the DataFrame");
  std::optional<Ms1EvidenceRun> ms1;
  if (options.spectra) {
    ms1.emplace(options, located("the DataFrame", 0, [&] { return spectra_columns(frame.names, options, frame.rows > 0); }),
                "the DataFrame");
    FrameResult unused;
    FrameRoute collect(frame, options, model, added, unused, slots_for(threads), {&*ms1, true});
    TableNotes quiet([](std::string_view) {}, "the DataFrame", options.strict);
    TableRun first(model, options, threads, quiet);
    first.run(collect);
    ms1->resolve(notes);
    route.answer_with(&*ms1);
  }
  TableRun table(model, options, threads, notes);
  table.run(route);
  table.finish();
  return result;
}

}  // namespace isotope
