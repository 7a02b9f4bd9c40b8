// The engine-table route: read in pieces, map and compute on workers,
// commit in table order.
#include "isotope/run/import_run.hpp"

#include <set>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/formats/importers.hpp"
#include "isotope/io/cells.hpp"
#include "isotope/io/delimited_reader.hpp"
#include "isotope/io/table_layout.hpp"
#include "isotope/run/ms1_evidence.hpp"
#include "isotope/run/table_run.hpp"

namespace isotope {

namespace {

constexpr std::size_t kPieceRows = 1024;

// An engine's rows: read as text cells, written with the input's cells
// and the added ones. A tab-separated table's cells are written as the
// input holds them (verbatim: quotes are text there), and mapped with the
// quotes of a cell wholly in quotes removed. A row's empty last field
// beyond the header's is read without it. With MS1 evidence, a first pass
// collects the rows' requests (writing nothing) and the second writes each
// row with its answer.
class EngineRoute final : public TableRoute {
 public:
  EngineRoute(const std::string& path, DelimitedReader& reader, const ImportColumns& columns,
              const std::vector<std::string>& header, const RunModel& model, const Options& options, OutputFile& file,
              std::size_t slots, bool verbatim, Ms1Pass ms1 = {})
      : path_(path),
        reader_(reader),
        columns_(columns),
        header_(header),
        model_(model),
        added_(imported_columns(model.glycans, options)),
        file_(file),
        slots_(slots),
        verbatim_(verbatim),
        ms1_(ms1) {}

  PieceState& state(std::size_t s) override { return slots_[s].state; }
  std::size_t rows(std::size_t s) const override { return slots_[s].count; }
  long key(std::size_t s, std::size_t i) const override { return slots_[s].lines[i]; }
  void begin(std::size_t s) override {
    slots_[s].out.clear();
    slots_[s].requests.clear();
  }
  void locate(Error& e, std::size_t s, std::size_t i, std::string_view column) const override {
    e.at(path_, key(s, i), column);
  }

  bool read(std::size_t s) override {
    Piece& p = slots_[s];
    p.first = rows_read_;
    p.count = 0;
    while (p.count < kPieceRows) {
      if (p.rows.size() == p.count) p.rows.emplace_back();
      if (p.lines.size() == p.count) p.lines.push_back(0);
      std::vector<std::string>& cells = p.rows[p.count];
      if (!reader_.next(cells, p.lines[p.count])) break;
      if (cells.size() == header_.size() + 1 && cells.back().empty()) {
        cells.pop_back();
        trimmed_ = true;
      }
      ++p.count;
    }
    rows_read_ += p.count;
    return p.count > 0;
  }

  // Whether a row ended in an empty field beyond the header's.
  bool trimmed() const noexcept { return trimmed_; }

  void row(std::size_t s, std::size_t i, Worker& w, std::string_view& column) override {
    Piece& p = slots_[s];
    const std::vector<std::string>& cells = p.rows[i];
    const std::size_t n_in = header_.size();
    if (cells.size() != n_in) w.notes.note(NoteKind::ShortRow, short_row_note(cells.size(), n_in, Separator::Tab));
    std::string& b = p.out;
    const std::size_t start = b.size();
    for (std::size_t j = 0; j < n_in; ++j) {
      if (j) b += '\t';
      if (j < cells.size()) append_cell(b, cells[j]);
    }
    if (verbatim_) {
      w.texts.resize(cells.size());
      for (std::size_t j = 0; j < cells.size(); ++j) unquote(cells[j], w.texts[j]);
    }
    RowStatus status;
    try {
      status = import_row(columns_, verbatim_ ? w.texts : cells, model_, w.rows, w.out, w.notes, column);
    } catch (Error&) {
      b.resize(start);
      throw;
    }
    p.state.tally.decoys += status == RowStatus::Decoy;
    if (ms1_.collecting) {
      const std::vector<std::string>& texts = verbatim_ ? w.texts : cells;
      ms1_.run->ask(p.requests, w.out,
                    [&](std::size_t j) { return j < texts.size() ? std::string_view(texts[j]) : std::string_view{}; });
      b.resize(start);
      return;
    }
    if (ms1_.run) ms1_.run->answer(p.first + i, w.out, w.notes);
    for (const AddedColumn& c : added_) {
      b += '\t';
      append_quoted_field(b, added_text(w.out, c.kind, c.which));
    }
    b += '\n';
  }

  void write(std::size_t s) override {
    if (ms1_.collecting) {
      ms1_.run->take(slots_[s].requests);
      return;
    }
    if (!header_written_) write_header();
    file_.write(slots_[s].out);
  }

  // The header line alone, for a table without rows.
  void finish() {
    if (!header_written_) write_header();
  }

 private:
  struct Piece {
    std::vector<std::vector<std::string>> rows;
    std::vector<long> lines;
    std::size_t count = 0;  // rows in use
    std::size_t first = 0;  // the table row of the first
    std::string out;
    std::vector<SpectrumRequest> requests;
    PieceState state;
  };

  void append_cell(std::string& out, const std::string& cell) const {
    if (verbatim_)
      out += cell;
    else
      append_quoted_field(out, cell);
  }

  void write_header() {
    std::string head;
    for (std::size_t j = 0; j < header_.size(); ++j) {
      if (j) head += '\t';
      append_cell(head, header_[j]);
    }
    for (const AddedColumn& c : added_) {
      head += '\t';
      head += c.name;
    }
    head += '\n';
    file_.write(head);
    header_written_ = true;
  }

  const std::string& path_;
  DelimitedReader& reader_;
  const ImportColumns& columns_;
  const std::vector<std::string>& header_;
  const RunModel& model_;
  const std::vector<AddedColumn> added_;
  OutputFile& file_;
  std::vector<Piece> slots_;
  const bool verbatim_;
  Ms1Pass ms1_;
  bool header_written_ = false;
  bool trimmed_ = false;
  std::size_t rows_read_ = 0;
};

ImportColumns columns_of(const std::vector<std::string>& header, const Options& options, const std::string& path,
                         long line) {
  try {
    return run_columns(header, options);
  } catch (Error& e) {
    throw e.at(path, line);
  }
}

// The charges a GlycReSoft identification export lists in its
// charge_states column, over every row, in increasing order.
std::vector<int> listed_charges(const std::string& path, EngineFormat format, std::size_t column) {
  const bool verbatim = separator(format) == '\t';
  DelimitedReader reader(path, separator(format), DelimitedReader::kChunkBytes, !verbatim);
  std::vector<std::string> cells;
  long line = 0;
  std::set<int> seen;
  for (bool header = true; reader.next(cells, line); header = false)
    if (!header && column < cells.size())
      for (long z : parse_charge_states(unquote(cells[column]))) seen.insert(static_cast<int>(z));
  return {seen.begin(), seen.end()};
}

}  // namespace

ImportColumns run_columns(const std::vector<std::string>& header, const Options& options) {
  ImportColumns columns = import_columns(*options.input_format, header, options.proforma_column);
  columns.tolerance_ppm = options.precursor_tolerance_ppm;
  return columns;
}

std::string table_note(const ImportColumns& columns) {
  if (columns.format != EngineFormat::FragPipe || columns.index[ImportColumns::Glycan]) return {};
  return "the table holds no glycan composition (no column 'Total Glycan Composition'): its rows are read as "
         "peptides, and a row whose Delta Mass is no isotope error is left unmapped";
}

RowStatus import_row(const ImportColumns& columns, const std::vector<std::string>& cells, const RunModel& model,
                     RowComputer& rows, RowOutput& out, NoteSink& notes, std::string_view& column) {
  const ImportedRow row = map_row(columns, cells, model);
  if (row.status != RowStatus::Ok) {
    out = RowOutput{};
    out.counts.resize(model.glycans.count_columns().size());
    if (row.status == RowStatus::Unmapped)
      notes.note(NoteKind::Unmapped, "row could not be mapped: " + row.problem + "; its computed cells were left empty");
    return row.status;
  }
  const bool charged = rows.compute_imported(row, out, column);
  out.pep_seq = row.pep_seq;
  const std::vector<std::size_t>& count_columns = model.glycans.count_columns();
  out.counts.resize(count_columns.size());
  for (std::size_t k = 0; k < count_columns.size(); ++k) out.counts[k] = std::to_string(row.counts[count_columns[k]]);
  if (!row.warning.empty()) notes.note(NoteKind::Disagreeing, row.warning);
  if (!out.non_finite_note.empty()) notes.note(NoteKind::NonFinite, out.non_finite_note);
  // A table without a charge or precursor column (ProForma's) has nothing to
  // note on their cells.
  const bool observed = columns.index[ImportColumns::PrecursorMz] || columns.index[ImportColumns::NeutralMass];
  if (!charged && columns.index[ImportColumns::Charge])
    notes.note(NoteKind::Charge, "the row's charge is missing or not a non-zero whole number: its m/z cells were left empty");
  else if (charged && !out.has_offset && observed)
    notes.note(NoteKind::Precursor, "the row's precursor m/z is missing or no positive number: its GP_Isotope_Offset "
                                    "and GP_PPM were left empty");
  else if (out.has_offset && !out.matched)
    notes.note(NoteKind::Unmatched, out.offset_note);
  return RowStatus::Ok;
}

namespace {

// A table's header: the raw cells (written back as they are) and the names
// its columns are found by; an empty last field is read without it.
struct Header {
  std::vector<std::string> cells, names;
  long line = 0;
  bool trimmed = false;
};

Header read_header(DelimitedReader& reader, bool verbatim, const std::string& path) {
  Header h;
  if (!reader.next(h.cells, h.line)) throw Error::value("No columns to parse from file").at(path);
  if (h.cells.size() > 1 && h.cells.back().empty()) {
    h.cells.pop_back();
    h.trimmed = true;
  }
  for (const std::string& cell : h.cells) h.names.push_back(verbatim ? unquote(cell) : cell);
  return h;
}

// The lines a run ends with: the decoys left without results and the
// precursor check's summary.
void report_end(const Console& console, const RunTally& tally, const std::string& path, double tolerance_ppm) {
  if (tally.decoys > 0)
    console.err("isotope: " + std::to_string(tally.decoys) + " decoy row" + (tally.decoys == 1 ? "" : "s") + " of " +
                path + (tally.decoys == 1 ? " was" : " were") + " left without results\n");
  const std::string summary = precursor_summary(tally, tolerance_ppm);
  if (!summary.empty()) console.err(summary);
}

constexpr std::string_view kTrimmedNote =
    "the header ends with an empty field (a separator at the line's end): the table was read without it, and so "
    "is a row's empty last field";

}  // namespace

void run_import(const std::string& input_file, OutputFile& file, const Options& options, const RunModel& model,
                const Console& console, unsigned threads) {
  const EngineFormat format = *options.input_format;
  const bool verbatim = separator(format) == '\t';
  DelimitedReader reader(input_file, separator(format), DelimitedReader::kChunkBytes, !verbatim);
  const Header header = read_header(reader, verbatim, input_file);
  const ImportColumns columns = columns_of(header.names, options, input_file, header.line);
  // An engine table's m/z columns at fixed charges are those its rows list.
  Options run_options = options;
  run_options.charges.clear();
  if (const auto& states = columns.index[ImportColumns::ChargeStates])
    run_options.charges = listed_charges(input_file, format, *states);

  // The rows are not counted beforehand: the counter shows no total.
  Progress progress(console, std::nullopt);
  TableNotes notes(
      [&](std::string_view text) { console.warning(text, [&](std::string_view shown) { progress.message(shown); }); },
      input_file, options.strict);
  if (const std::string note = table_note(columns); !note.empty()) notes.table(note + " in " + input_file);
  if (header.trimmed) notes.table(std::string(kTrimmedNote) + " in " + input_file);
  std::optional<Ms1EvidenceRun> ms1;
  if (options.spectra) {
    ms1.emplace(options, located(input_file, header.line, [&] { return spectra_columns(header.names, options, true); }),
                input_file);
    DelimitedReader again(input_file, separator(format), DelimitedReader::kChunkBytes, !verbatim);
    read_header(again, verbatim, input_file);
    TableNotes quiet([](std::string_view) {}, input_file, options.strict);
    TableRun first(model, run_options, threads, quiet);
    EngineRoute collect(input_file, again, columns, header.cells, model, run_options, file, first.slots(), verbatim,
                        {&*ms1, true});
    first.run(collect);
    ms1->resolve(notes);
  }
  TableRun table(model, run_options, threads, notes);
  EngineRoute route(input_file, reader, columns, header.cells, model, run_options, file, table.slots(), verbatim,
                    {ms1 ? &*ms1 : nullptr, false});
  table.run(route, &progress);
  table.finish();
  if (route.trimmed() && !header.trimmed)
    notes.table("rows end with an empty field beyond the header's (a separator at the line's end): they were read "
                "without it in " + input_file);
  progress.close();
  report_end(console, table.tally(), input_file, options.precursor_tolerance_ppm);
  route.finish();
  file.commit();
}

}  // namespace isotope
