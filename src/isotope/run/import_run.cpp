// The engine-table route: read in pieces, map and compute on workers,
// commit in table order.
#include "isotope/run/import_run.hpp"

#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/formats/importers.hpp"
#include "isotope/io/cells.hpp"
#include "isotope/io/delimited_reader.hpp"
#include "isotope/run/notes.hpp"
#include "isotope/run/ordered_run.hpp"
#include "isotope/run/progress.hpp"

namespace isotope {

namespace {

constexpr std::size_t kPieceRows = 1024;

constexpr const char* kAddedColumns[] = {"PepSeq",         "N",           "H",         "F",
                                         "S",              "G",           "Glycan",    "PepMods",
                                         "GP_Mass",        "GP_Isotopes", "GP_MZ",     "GP_Isotopes_MZ",
                                         "GP_Isotope_Offset", "GP_PPM"};
constexpr std::size_t kAdded = sizeof kAddedColumns / sizeof kAddedColumns[0];

struct Piece {
  struct Note {
    std::size_t row;
    NoteKind kind;
    std::size_t begin, end;
  };
  std::vector<std::vector<std::string>> rows;
  std::vector<long> lines;
  std::size_t count = 0;  // rows in use
  std::string out;
  std::vector<Note> notes;
  std::string note_text;
  std::optional<Error> error;
  std::size_t rows_done = 0;
  std::size_t decoys = 0, with_offset = 0, off_mono = 0;

  void note(std::size_t row, NoteKind kind, std::string_view text) {
    std::size_t begin = note_text.size();
    note_text += text;
    notes.push_back({row, kind, begin, note_text.size()});
  }
};

struct Worker {
  RowComputer rows;
  RowOutput out;
  Worker(const ModelTables& tables, const ModificationResolver& resolver, const Options& options)
      : rows(tables, resolver, options) {}
};

void append_empty(std::string& b, std::size_t cells) {
  for (std::size_t i = 0; i < cells; ++i) b += '\t';
}

}  // namespace

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

  std::vector<Piece> slots(2 * static_cast<std::size_t>(threads) + 2);
  std::vector<Worker> workers;
  workers.reserve(threads);
  for (unsigned k = 0; k < threads; ++k) workers.emplace_back(tables, resolver, options);

  // The rows are not counted beforehand: the counter shows no total.
  Progress progress(console, std::nullopt);
  TableNotes notes(
      [&](std::string_view text) {
        if (console.warn)
          console.warn(text);
        else
          progress.message("isotope: warning: " + std::string(text) + "\n");
      },
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
    p.note_text.clear();
    p.error.reset();
    p.decoys = p.with_offset = p.off_mono = 0;
    for (std::size_t i = 0; i < p.count; ++i) {
      p.rows_done = i;
      const std::vector<std::string>& cells = p.rows[i];
      if (cells.size() != n_in)
        p.note(i, NoteKind::ShortRow,
               "row has " + std::to_string(cells.size()) + " fields where the header has " + std::to_string(n_in) +
                   (cells.size() < n_in ? "; its last cells were read as empty" : "; the fields beyond were dropped"));
      const ImportedRow row = map_row(columns, cells, import_tables);
      std::string& b = p.out;
      for (std::size_t j = 0; j < n_in; ++j) {
        if (j) b += '\t';
        if (j < cells.size()) append_quoted_field(b, cells[j]);
      }
      if (row.status == RowStatus::Decoy) {
        ++p.decoys;
        append_empty(b, kAdded);
        b += '\n';
        continue;
      }
      if (row.status == RowStatus::Unmapped) {
        p.note(i, NoteKind::Unmapped, "row could not be mapped: " + row.problem + "; its computed cells were left empty");
        append_empty(b, kAdded);
        b += '\n';
        continue;
      }
      std::string_view column;
      bool charged = false;
      try {
        charged = wk.rows.compute_imported(row, wk.out, column);
      } catch (Error& e) {
        e.at(input_file, p.lines[i], column);
        p.error = std::move(e);
        p.out.resize(p.out.rfind('\n') == std::string::npos ? 0 : p.out.rfind('\n') + 1);
        return;
      }
      if (!row.warning.empty()) p.note(i, NoteKind::Disagreeing, row.warning);
      if (!charged)
        p.note(i, NoteKind::Charge, "the row's charge is missing or not a non-zero whole number: its m/z cells were left empty");
      else if (!wk.out.has_offset)
        p.note(i, NoteKind::Precursor, "the row's precursor m/z is missing or no positive number: its GP_Isotope_Offset "
                                       "and GP_PPM were left empty");
      if (wk.out.has_offset) {
        ++p.with_offset;
        p.off_mono += wk.out.offset_value != 0;
      }
      const RowOutput& o = wk.out;
      b += '\t';
      append_quoted_field(b, row.pep_seq);
      for (Count c : row.counts) b += '\t' + std::to_string(c);
      b += '\t';
      b += o.glycan;
      b += '\t';
      append_quoted_field(b, o.mods);
      b += '\t';
      b += o.mass;
      b += '\t';
      b += o.isotopes;
      b += '\t';
      b += o.mz;
      b += '\t';
      append_quoted_field(b, o.isotopes_mz);
      b += '\t';
      b += o.offset;
      b += '\t';
      b += o.ppm;
      b += '\n';
    }
    p.rows_done = p.count;
  };
  std::string head;
  w.commit = [&](std::size_t s) {
    Piece& p = slots[s];
    for (const Piece::Note& n : p.notes) {
      if (n.row >= p.rows_done) break;
      notes.row(n.kind, std::string_view(p.note_text).substr(n.begin, n.end - n.begin), p.lines[n.row]);
    }
    if (p.error) {
      notes.finish();
      if (notes.strict_failed()) throw notes.strict_error(&*p.error);
      throw *p.error;
    }
    if (committed == 0) {
      for (std::size_t j = 0; j < n_in; ++j) {
        if (j) head += '\t';
        append_quoted_field(head, header[j]);
      }
      for (const char* name : kAddedColumns) {
        head += '\t';
        head += name;
      }
      head += '\n';
      file.write(head);
    }
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
  if (committed == 0) {
    // A header without rows: the header line alone.
    for (std::size_t j = 0; j < n_in; ++j) {
      if (j) head += '\t';
      append_quoted_field(head, header[j]);
    }
    for (const char* name : kAddedColumns) {
      head += '\t';
      head += name;
    }
    head += '\n';
    file.write(head);
  }
  file.commit();
}

}  // namespace isotope
