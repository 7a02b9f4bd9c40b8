// The engine-table route: read in pieces, map and compute on workers,
// commit in table order.
#include "isotope/run/import_run.hpp"

#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/formats/importers.hpp"
#include "isotope/io/cells.hpp"
#include "isotope/io/delimited_reader.hpp"
#include "isotope/run/notes.hpp"
#include "isotope/run/piece_notes.hpp"
#include "isotope/run/ordered_run.hpp"
#include "isotope/run/progress.hpp"

namespace isotope {

namespace {

constexpr std::size_t kPieceRows = 1024;


struct Piece {
  std::vector<std::vector<std::string>> rows;
  std::vector<long> lines;
  std::size_t count = 0;  // rows in use
  std::string out;
  PieceNotes notes;  // by row within the piece
  std::optional<Error> error;
  std::size_t rows_done = 0;
  std::size_t decoys = 0, with_offset = 0, off_mono = 0;
};

struct Worker {
  RowComputer rows;
  RowOutput out;
  RowNotes notes;
  Worker(const ModelTables& tables, const ModificationResolver& resolver, const Options& options)
      : rows(tables, resolver, options) {}
};

}  // namespace

RowStatus import_row(const ImportColumns& columns, const std::vector<std::string>& cells, const ImportTables& tables,
                     RowComputer& rows, RowOutput& out, NoteSink& notes, std::string_view& column) {
  const ImportedRow row = map_row(columns, cells, tables);
  if (row.status != RowStatus::Ok) {
    out = RowOutput{};
    if (row.status == RowStatus::Unmapped)
      notes.note(NoteKind::Unmapped, "row could not be mapped: " + row.problem + "; its computed cells were left empty");
    return row.status;
  }
  const bool charged = rows.compute_imported(row, out, column);
  out.pep_seq = row.pep_seq;
  for (std::size_t k = 0; k < 5; ++k) out.counts[k] = std::to_string(row.counts[k]);
  if (!row.warning.empty()) notes.note(NoteKind::Disagreeing, row.warning);
  if (!charged)
    notes.note(NoteKind::Charge, "the row's charge is missing or not a non-zero whole number: its m/z cells were left empty");
  else if (!out.has_offset)
    notes.note(NoteKind::Precursor, "the row's precursor m/z is missing or no positive number: its GP_Isotope_Offset "
                                    "and GP_PPM were left empty");
  return RowStatus::Ok;
}

void run_import(const std::string& input_file, OutputFile& file, const Options& options, const ModelTables& tables,
                const ModificationResolver& resolver, const Console& console, unsigned threads) {
  const EngineFormat format = *options.input_format;
  DelimitedReader reader(input_file, separator(format));
  std::vector<std::string> header;
  long line = 0;
  if (!reader.next(header, line)) throw Error::value("No columns to parse from file").at(input_file);
  ImportColumns columns;
  try {
    columns = import_columns(format, header);
  } catch (Error& e) {
    throw e.at(input_file, line);
  }
  const std::size_t n_in = header.size();
  const ImportTables import_tables{tables.aa_comp, tables.gly_comp, resolver};
  const std::vector<AddedColumn> added = imported_columns();

  std::vector<Piece> slots(2 * static_cast<std::size_t>(threads) + 2);
  std::vector<Worker> workers;
  workers.reserve(threads);
  for (unsigned k = 0; k < threads; ++k) workers.emplace_back(tables, resolver, options);

  // The rows are not counted beforehand: the counter shows no total.
  Progress progress(console, std::nullopt);
  TableNotes notes(
      [&](std::string_view text) { console.warning(text, [&](std::string_view shown) { progress.message(shown); }); },
      input_file, options.strict);

  std::size_t rows_read = 0, committed = 0, decoys = 0, with_offset = 0, off_mono = 0;
  OrderedWork w;
  w.slots = slots.size();
  w.read = [&](std::size_t s) {
    Piece& p = slots[s];
    p.count = 0;
    while (p.count < kPieceRows) {
      if (p.rows.size() == p.count) p.rows.emplace_back();
      if (p.lines.size() == p.count) p.lines.push_back(0);
      if (!reader.next(p.rows[p.count], p.lines[p.count])) break;
      ++p.count;
    }
    rows_read += p.count;
    return p.count > 0;
  };
  w.work = [&](std::size_t s, unsigned k) {
    Piece& p = slots[s];
    Worker& wk = workers[k];
    p.out.clear();
    p.notes.clear();
    p.error.reset();
    p.decoys = p.with_offset = p.off_mono = 0;
    for (std::size_t i = 0; i < p.count; ++i) {
      p.rows_done = i;
      const std::vector<std::string>& cells = p.rows[i];
      if (cells.size() != n_in)
        p.notes.add(i, NoteKind::ShortRow,
               "row has " + std::to_string(cells.size()) + " fields where the header has " + std::to_string(n_in) +
                   (cells.size() < n_in ? "; its last cells were read as empty" : "; the fields beyond were dropped"));
      std::string& b = p.out;
      const std::size_t start = b.size();
      for (std::size_t j = 0; j < n_in; ++j) {
        if (j) b += '\t';
        if (j < cells.size()) append_quoted_field(b, cells[j]);
      }
      std::string_view column;
      wk.notes.start(p.notes, i);
      RowStatus status;
      try {
        status = import_row(columns, cells, import_tables, wk.rows, wk.out, wk.notes, column);
      } catch (Error& e) {
        e.at(input_file, p.lines[i], column);
        p.error = std::move(e);
        b.resize(start);
        return;
      }
      p.decoys += status == RowStatus::Decoy;
      if (wk.out.has_offset) {
        ++p.with_offset;
        p.off_mono += wk.out.offset_value != 0;
      }
      for (const AddedColumn& c : added) {
        b += '\t';
        append_quoted_field(b, added_text(wk.out, c.kind, c.which));
      }
      b += '\n';
    }
    p.rows_done = p.count;
  };
  auto write_header = [&] {
    std::string head;
    for (std::size_t j = 0; j < n_in; ++j) {
      if (j) head += '\t';
      append_quoted_field(head, header[j]);
    }
    for (const AddedColumn& c : added) {
      head += '\t';
      head += c.name;
    }
    head += '\n';
    file.write(head);
  };
  w.commit = [&](std::size_t s) {
    Piece& p = slots[s];
    p.notes.commit(p.rows_done, notes, [&](std::size_t row) { return p.lines[row]; });
    if (p.error) {
      notes.finish();
      if (notes.strict_failed()) throw notes.strict_error(&*p.error);
      throw *p.error;
    }
    if (committed == 0) write_header();
    file.write(p.out);
    committed += p.count;
    decoys += p.decoys;
    with_offset += p.with_offset;
    off_mono += p.off_mono;
    progress.advance(p.count);
    return true;
  };
  run_ordered(threads, w);

  notes.finish();
  if (notes.strict_failed()) throw notes.strict_error();
  progress.close();
  if (decoys > 0)
    console.err("isotope: " + std::to_string(decoys) + " decoy row" + (decoys == 1 ? "" : "s") + " of " + input_file +
                (decoys == 1 ? " was" : " were") + " left without results\n");
  if (off_mono > 0)
    console.err("isotope: " + std::to_string(off_mono) + " of " + std::to_string(with_offset) +
                " rows match isotope peak +1 or another non-monoisotopic peak (GP_Isotope_Offset)\n");
  if (committed == 0) write_header();  // a header without rows: the header line alone
  file.commit();
}

}  // namespace isotope
