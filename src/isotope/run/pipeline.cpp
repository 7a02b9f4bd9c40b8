// The single-file pipeline: the early checks, the typing pass, and the
// computing pass whose pieces are committed in table order.
#include "isotope/run/pipeline.hpp"

#include <cstdlib>
#include <mutex>
#include <tuple>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/formats/engine_format.hpp"
#include "isotope/io/delimited_reader.hpp"
#include "isotope/io/output_file.hpp"
#include "isotope/io/table.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/run/import_run.hpp"
#include "isotope/run/ms1_evidence.hpp"
#include "isotope/run/ordered_run.hpp"
#include "isotope/run/params.hpp"
#include "isotope/run/progress.hpp"
#include "isotope/run/table_run.hpp"
#include "morvandel/utils/path_full_split.hpp"

namespace isotope {

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

// Rows per piece of the typing pass, and rows and bytes per piece of the
// computing pass: small enough to keep every worker busy and memory low,
// large enough that handing pieces over costs nothing.
constexpr std::size_t kTypingPieceRows = 4096;
constexpr std::size_t kPieceRows = 2048;
constexpr std::size_t kPieceBytes = std::size_t{1} << 19;

std::vector<std::string> header_of(const RecordBatch& batch) {
  std::vector<std::string> fields(batch.fields(0));
  for (std::size_t i = 0; i < fields.size(); ++i) fields[i].assign(batch.field(0, i));
  return fields;
}

// ---------------------------------------------------------------------------
// The typing pass. Typing blocks are typed on their own (as pandas does),
// so each block goes to one worker, which types its pieces in order; blocks
// are typed in parallel.

TableLayout type_table(const std::string& path, unsigned threads, const std::vector<std::string>& watch,
                       Separator sep) {
  TableReader reader(path, sep);
  RecordBatch header;
  if (!reader.next(header)) throw Error::value("No columns to parse from file").at(path);
  const std::vector<std::string> names = header_names(header_of(header));
  const std::size_t width = names.size();
  const std::size_t block_rows = typing_block_rows(width);
  const std::vector<bool> watched = watched_columns(names, watch);

  struct Piece {
    RecordBatch records;
    std::size_t block = 0;
  };
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<Piece> slots(slots_for(threads));
  std::vector<BlockTyping> typing(threads, BlockTyping(width, watched));
  std::vector<std::size_t> current(threads, kNone);
  std::mutex mu;
  std::vector<BlockTypes> blocks;
  auto store = [&](std::size_t block, BlockTypes types) {
    std::lock_guard lock(mu);
    if (blocks.size() <= block) blocks.resize(block + 1);
    blocks[block] = std::move(types);
  };
  std::size_t rows = 0;

  OrderedWork w;
  w.slots = slots.size();
  w.read = [&](std::size_t s) {
    Piece& p = slots[s];
    p.records.clear();
    p.block = rows / block_rows;
    const std::size_t limit = std::min(kTypingPieceRows, block_rows - rows % block_rows);
    while (p.records.size() < limit && reader.next(p.records)) {
      check_row_width(p.records, p.records.size() - 1, width, path, sep);
      ++rows;
    }
    return !p.records.empty();
  };
  w.affinity = [&](std::size_t s) { return static_cast<int>(slots[s].block % threads); };
  w.work = [&](std::size_t s, unsigned k) {
    const Piece& p = slots[s];
    if (current[k] != p.block) {
      if (current[k] != kNone) store(current[k], typing[k].take());
      current[k] = p.block;
    }
    for (std::size_t i = 0; i < p.records.size(); ++i) typing[k].add(p.records, i);
  };
  w.commit = [](std::size_t) { return true; };
  run_ordered(threads, w);
  for (unsigned k = 0; k < threads; ++k)
    if (current[k] != kNone) store(current[k], typing[k].take());
  return assemble_layout(names, blocks);
}

// ---------------------------------------------------------------------------
// The output columns: the input's, then the computed ones it lacks.

struct OutputPlan {
  std::vector<std::string> names;
  std::vector<Added> added;        // per output column
  std::vector<std::size_t> which;  // per output column: the charge of an MzAt column
  std::size_t n_in = 0;
  std::ptrdiff_t pep_seq = -1;
  std::vector<std::ptrdiff_t> counts;  // per count column
  std::vector<std::string> count_names;
  std::ptrdiff_t charge = -1, precursor = -1;
  // The column options name, for the check that the table has them.
  std::optional<std::string> charge_name, precursor_name;
};

std::ptrdiff_t find_column(const std::vector<std::string>& names, std::size_t n, std::string_view name) {
  for (std::size_t i = 0; i < n; ++i)
    if (names[i] == name) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

OutputPlan plan_output(const TableLayout& layout, const Options& options, const GlycanVocabulary& glycans) {
  OutputPlan plan;
  for (const auto& c : layout.columns) plan.names.push_back(c.name);
  plan.n_in = plan.names.size();
  plan.added.assign(plan.n_in, Added::None);
  plan.which.assign(plan.n_in, 0);
  for (const auto& [name, kind, which] : added_columns(options)) {
    std::ptrdiff_t at = find_column(plan.names, plan.names.size(), name);
    if (at >= 0) {
      plan.added[static_cast<std::size_t>(at)] = kind;
      plan.which[static_cast<std::size_t>(at)] = which;
    } else {
      plan.names.push_back(name);
      plan.added.push_back(kind);
      plan.which.push_back(which);
    }
  }
  plan.pep_seq = find_column(plan.names, plan.n_in, "PepSeq");
  plan.count_names = glycans.count_column_names();
  for (const std::string& code : plan.count_names) plan.counts.push_back(find_column(plan.names, plan.n_in, code));
  plan.charge_name = options.charge_column;
  plan.precursor_name = options.precursor_mz_column;
  if (plan.charge_name) plan.charge = find_column(plan.names, plan.n_in, *plan.charge_name);
  if (plan.precursor_name) plan.precursor = find_column(plan.names, plan.n_in, *plan.precursor_name);
  return plan;
}

// A table with rows needs its columns; the error names the header. A
// header that holds commas or semicolons says why they are missing.
void check_columns(const OutputPlan& plan, const std::string& path) {
  std::string_view missing;
  for (std::size_t k = 0; k < plan.counts.size() && missing.empty(); ++k)
    if (plan.counts[k] < 0) missing = plan.count_names[k];
  if (missing.empty() && plan.pep_seq < 0) missing = "PepSeq";
  if (missing.empty() && plan.charge_name && plan.charge < 0) missing = *plan.charge_name;
  if (missing.empty() && plan.precursor_name && plan.precursor < 0) missing = *plan.precursor_name;
  if (missing.empty()) return;
  Error e = Error::lookup("table has no column", missing);
  for (std::size_t i = 0; i < plan.n_in; ++i) {
    for (char sep : {',', ';'}) {
      if (plan.names[i].find(sep) == std::string::npos) continue;
      e.explain(std::string("its header holds '") + sep + "': the table looks " +
                (sep == ',' ? "comma" : "semicolon") + "-separated, but its columns must be separated by blanks or tabs");
      throw e.at(path, 1);
    }
  }
  throw e.at(path, 1);
}

void append_header(std::string& out, const OutputPlan& plan) {
  for (std::size_t j = 0; j < plan.names.size(); ++j) {
    if (j) out += '\t';
    append_quoted_field(out, plan.names[j]);
  }
  out += '\n';
}

// ---------------------------------------------------------------------------
// The computing pass.

// The rows of our format: read in pieces of records, each row's cells
// typed by the typing pass, written with the input's columns. With MS1
// evidence, a first pass collects the rows' requests (writing nothing) and
// the second writes each row with its answer.
class FileRoute final : public TableRoute {
 public:
  FileRoute(const std::string& path, TableReader& reader, const TableLayout& layout, const OutputPlan& plan,
            Separator separator, OutputFile& file, std::size_t slots, Ms1Pass ms1 = {})
      : path_(path),
        reader_(reader),
        layout_(layout),
        plan_(plan),
        separator_(separator),
        file_(file),
        slots_(slots),
        ms1_(ms1) {}

  PieceState& state(std::size_t s) override { return slots_[s].state; }
  std::size_t rows(std::size_t s) const override { return slots_[s].records.size(); }
  long key(std::size_t s, std::size_t i) const override { return slots_[s].records.records[i].line; }
  void begin(std::size_t s) override {
    slots_[s].out.clear();
    slots_[s].requests.clear();
  }

  bool read(std::size_t s) override {
    RecordBatch& b = slots_[s].records;
    b.clear();
    b.first_row = rows_read_;
    while (b.size() < kPieceRows && b.bytes.size() < kPieceBytes && reader_.next(b)) ++rows_read_;
    return !b.empty();
  }

  void row(std::size_t s, std::size_t i, Worker& w, std::string_view& column) override {
    Piece& p = slots_[s];
    const std::vector<ColumnType>& types = layout_.row_types(p.records.first_row + i);
    const std::size_t fields = std::min(p.records.fields(i), plan_.n_in);
    auto cell = [&](std::ptrdiff_t j) {
      if (j < 0) return Cell{};
      auto c = static_cast<std::size_t>(j);
      return Cell{types[c], c < fields ? p.records.field(i, c) : std::string_view{}, true};
    };
    if (fields < plan_.n_in)
      w.notes.note(NoteKind::ShortRow, short_row_note(fields, plan_.n_in, separator_));
    w.cells.pep_seq = cell(plan_.pep_seq);
    w.cells.counts.resize(plan_.counts.size());
    for (std::size_t k = 0; k < plan_.counts.size(); ++k) w.cells.counts[k] = cell(plan_.counts[k]);
    w.cells.charge = cell(plan_.charge);
    w.cells.precursor = cell(plan_.precursor);
    w.rows.compute(w.cells, w.out, w.notes, column);
    const long line = p.records.records[i].line;
    for (std::size_t k = 0; k < plan_.counts.size(); ++k)
      if (plan_.counts[k] >= 0 && layout_.float_cause_line[static_cast<std::size_t>(plan_.counts[k])] == line)
        w.notes.note(NoteKind::CountColumn, float_column_note(plan_.count_names[k], w.cells.counts[k]));
    if (ms1_.collecting) {
      ms1_.run->ask(p.requests, w.out,
                    [&](std::size_t j) { return j < fields ? p.records.field(i, j) : std::string_view{}; });
      return;
    }
    if (ms1_.run) ms1_.run->answer(p.records.first_row + i, w.out, w.notes);
    append_row(p, i, types, fields, w.out);
  }

  void locate(Error& e, std::size_t s, std::size_t i, std::string_view column) const override {
    const Piece& p = slots_[s];
    const std::size_t fields = std::min(p.records.fields(i), plan_.n_in);
    if (fields < plan_.n_in) e.explain(shifted_row_hint(fields, plan_.n_in, separator_));
    e.at(path_, key(s, i), column);
  }

  void write(std::size_t s) override {
    Piece& p = slots_[s];
    if (ms1_.collecting) {
      ms1_.run->take(p.requests);
      return;
    }
    if (p.records.first_row == 0) {
      std::string header;
      append_header(header, plan_);
      file_.write(header);
    }
    file_.write(p.out);
  }

  std::size_t rows_read() const noexcept { return rows_read_; }

 private:
  struct Piece {
    RecordBatch records;
    std::string out;
    std::vector<SpectrumRequest> requests;
    PieceState state;
  };

  void append_row(Piece& p, std::size_t i, const std::vector<ColumnType>& types, std::size_t fields,
                  const RowOutput& out) const {
    std::string& b = p.out;
    for (std::size_t j = 0; j < plan_.names.size(); ++j) {
      if (j) b += '\t';
      switch (plan_.added[j]) {
        case Added::None:
          append_output_cell(b, types[j], j < fields ? p.records.field(i, j) : std::string_view{});
          break;
        case Added::Glycan:
        case Added::PepMods:
          append_quoted_field(b, added_text(out, plan_.added[j], plan_.which[j]));
          break;
        default:  // numbers: nothing to quote
          b += added_text(out, plan_.added[j], plan_.which[j]);
      }
    }
    b += '\n';
  }

  const std::string& path_;
  TableReader& reader_;
  const TableLayout& layout_;
  const OutputPlan& plan_;
  Separator separator_;
  OutputFile& file_;
  std::vector<Piece> slots_;
  Ms1Pass ms1_;
  std::size_t rows_read_ = 0;
};

std::vector<std::string> input_names(const OutputPlan& plan) {
  return {plan.names.begin(), plan.names.begin() + static_cast<std::ptrdiff_t>(plan.n_in)};
}

void skip_header(TableReader& reader) {
  RecordBatch header;
  reader.next(header);  // named by the typing pass
}

// The output file, or at once the error of a folder that cannot take it.
std::optional<OutputFile> open_output(const std::optional<std::string>& output_dir, const std::string& input_file,
                                      const std::string& base) {
  if (!output_dir)
    throw Error::type("no output directory given: cannot build the output path for " + py_repr(input_file))
        .explain("give the output folder (-o)");
  return std::optional<OutputFile>(std::in_place, output_path(*output_dir, base));
}

}  // namespace

void run_single_file(const std::string& input_file, const std::optional<std::string>& output_dir,
                     const std::string& param_file, const ModelTables& tables, const Console& console,
                     const RunSettings& settings) {
  console.out(start_message(input_file));
  const morvandel::utils::PathParts parts = morvandel::utils::path_full_split(input_file);
  std::optional<OutputFile> file = open_output(output_dir, input_file, parts.base);
  const Options options = read_options(read_param_file(param_file));
  const unsigned threads =
      settings.threads > 0 ? settings.threads : resolve_threads(options, std::getenv("ISOTOPE_THREADS"));

  const RunModel model = run_model(tables, options);
  if (options.input_format) {
    run_import(input_file, *file, options, model, console, threads);
    return;
  }
  // A search engine's table read as ours would fail on its shape, or worse:
  // say which option reads it, before any other check.
  if (auto engine = detect_format(read_first_line(input_file)))
    throw Error::value(format_hint(*engine)).at(input_file, 1);
  const TableLayout layout = type_table(input_file, threads, model.glycans.count_column_names(), options.separator);
  const OutputPlan plan = plan_output(layout, options, model.glycans);
  if (layout.rows > 0) check_columns(plan, input_file);

  Progress progress(console, layout.rows);
  TableNotes notes(
      [&](std::string_view text) { console.warning(text, [&](std::string_view shown) { progress.message(shown); }); },
      input_file, options.strict);
  std::optional<Ms1EvidenceRun> ms1;
  if (options.spectra) {
    ms1.emplace(options, located(input_file, 1, [&] { return spectra_columns(input_names(plan), options, layout.rows > 0); }),
                input_file);
    TableReader reader(input_file, options.separator);
    skip_header(reader);
    TableNotes quiet([](std::string_view) {}, input_file, options.strict);
    TableRun first(model, options, threads, quiet);
    FileRoute collect(input_file, reader, layout, plan, options.separator, *file, first.slots(), {&*ms1, true});
    first.run(collect);
    ms1->resolve(notes);
  }
  TableReader reader(input_file, options.separator);
  skip_header(reader);
  TableRun table(model, options, threads, notes);
  FileRoute route(input_file, reader, layout, plan, options.separator, *file, table.slots(),
                  {ms1 ? &*ms1 : nullptr, false});
  table.run(route, &progress);
  table.finish();
  if (layout.rows > 0 && options.peaks_num_value && *options.peaks_num_value == 0)
    notes.table("isotope_peaks_num = 0 sets no limit on the number of isotope peaks: rows got up to " +
                std::to_string(table.tally().max_peaks) + " peaks in " + input_file);
  progress.close();
  const std::string summary = precursor_summary(table.tally(), options.precursor_tolerance_ppm);
  if (!summary.empty()) console.err(summary);
  if (route.rows_read() == 0) {
    std::string empty(1, '\n');  // no rows: no columns either, an empty header line
    file->write(empty);
  }
  file->commit();
}

}  // namespace isotope
