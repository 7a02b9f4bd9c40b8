// The in-memory route: pieces of rows computed on workers, their added
// cells and notes committed in row order.
#include "isotope/run/frame.hpp"

#include <cmath>
#include <limits>

#include "isotope/base/errors.hpp"
#include "isotope/formats/importers.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/run/import_run.hpp"
#include "isotope/run/notes.hpp"
#include "isotope/run/piece_notes.hpp"
#include "isotope/run/ordered_run.hpp"

namespace isotope {

namespace {

constexpr std::size_t kPieceRows = 2048;

struct Piece {
  std::size_t first = 0, count = 0;
  std::vector<CellColumn> cells;  // per added column but GP_Mass
  std::vector<double> mass;
  PieceNotes notes;  // by row of the frame
  std::optional<Error> error;
  std::size_t rows_done = 0;
};

struct Worker {
  RowComputer rows;
  RowOutput out;
  RowCells cells;
  RowNotes notes;
  std::vector<std::string> texts;  // a search-engine row's cells
  Worker(const ModelTables& tables, const ModificationResolver& resolver, const Options& options)
      : rows(tables, resolver, options) {}
};

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

}  // namespace

FrameResult annotate_frame(const FrameTable& frame, const Options& options, const ModelTables& tables,
                           const Console& console, unsigned threads) {
  prepare_isotope_patterns();
  const ModificationResolver resolver(tables.mod_comp, options.modifications,
                                      options.unimod_lookup() ? shared_unimod() : nullptr);
  const bool engine = options.input_format.has_value();
  const std::vector<AddedColumn> added = engine ? imported_columns() : added_columns(options);

  // Our format's columns, by name.
  std::ptrdiff_t pep_seq = -1, charge = -1, precursor = -1;
  std::array<std::ptrdiff_t, 5> counts{-1, -1, -1, -1, -1};
  std::optional<ImportColumns> import;
  if (engine) {
    if (frame.rows > 0) {
      try {
        import = import_columns(*options.input_format, frame.names);
      } catch (Error& e) {
        throw e.at("the DataFrame");
      }
    }
  } else {
    for (std::size_t k = 0; k < 5; ++k) counts[k] = required(frame, kCountColumns[k]);
    pep_seq = required(frame, "PepSeq");
    if (options.charge_column) charge = required(frame, *options.charge_column);
    if (options.precursor_mz_column) precursor = required(frame, *options.precursor_mz_column);
  }
  const ImportTables import_tables{tables.aa_comp, tables.gly_comp, resolver};

  FrameResult result;
  for (const AddedColumn& c : added) {
    if (c.kind == Added::Mass)
      result.mass_column = result.names.size();
    else
      ++result.text_columns;
    result.names.push_back(c.name);
  }
  result.mass.reserve(frame.rows);
  auto where = [&](std::size_t row) {
    return frame.row_name ? frame.row_name(row) : "row " + std::to_string(row);
  };
  TableNotes notes(
      [&](std::string_view text) { console.warning(text); },
      "the DataFrame", options.strict, [&](long row) { return where(static_cast<std::size_t>(row)); });

  std::vector<Piece> slots(2 * static_cast<std::size_t>(threads) + 2);
  std::vector<Worker> workers;
  workers.reserve(threads);
  for (unsigned k = 0; k < threads; ++k) workers.emplace_back(tables, resolver, options);
  std::size_t next = 0;

  auto cell = [&](std::ptrdiff_t j, std::size_t row) {
    if (j < 0) return Cell{};
    return frame.columns[static_cast<std::size_t>(j)]->cell(row);
  };

  OrderedWork w;
  w.slots = slots.size();
  w.read = [&](std::size_t s) {
    Piece& p = slots[s];
    p.first = next;
    p.count = std::min(kPieceRows, frame.rows - next);
    next += p.count;
    return p.count > 0;
  };
  w.work = [&](std::size_t s, unsigned k) {
    Piece& p = slots[s];
    Worker& wk = workers[k];
    p.cells.assign(result.text_columns, CellColumn{});
    p.mass.clear();
    p.notes.clear();
    p.error.reset();
    for (std::size_t i = 0; i < p.count; ++i) {
      const std::size_t row = p.first + i;
      p.rows_done = i;
      wk.notes.start(p.notes, row);
      std::string_view column;
      try {
        if (engine) {
          wk.texts.resize(frame.names.size());
          for (std::size_t j = 0; j < frame.names.size(); ++j) wk.texts[j].assign(frame.columns[j]->cell(row).raw);
          import_row(*import, wk.texts, import_tables, wk.rows, wk.out, wk.notes, column);
        } else {
          wk.cells.pep_seq = cell(pep_seq, row);
          for (std::size_t c = 0; c < 5; ++c) wk.cells.counts[c] = cell(counts[c], row);
          wk.cells.charge = cell(charge, row);
          wk.cells.precursor = cell(precursor, row);
          wk.rows.compute(wk.cells, wk.out, wk.notes, column);
          for (std::size_t c = 0; c < 5; ++c)
            if (frame.float_cause_row[c] == row)
              wk.notes.note(NoteKind::CountColumn, float_column_note(c, wk.cells.counts[c]));
        }
      } catch (Error& e) {
        e.at(where(row) + " of the DataFrame", 0, column);
        p.error = std::move(e);
        return;
      }
      std::size_t c = 0;
      for (const AddedColumn& a : added) {
        if (a.kind == Added::Mass) continue;
        p.cells[c++].push(ColumnType::TextAsRead, added_text(wk.out, a.kind, a.which));
      }
      p.mass.push_back(wk.out.mass.empty() ? std::numeric_limits<double>::quiet_NaN() : wk.out.mass_value);
    }
    p.rows_done = p.count;
  };
  w.commit = [&](std::size_t s) {
    Piece& p = slots[s];
    p.notes.commit(p.first + p.rows_done, notes, [](std::size_t row) { return static_cast<long>(row); });
    if (p.error) {
      notes.finish();
      if (notes.strict_failed()) throw notes.strict_error(&*p.error);
      throw *p.error;
    }
    result.pieces.push_back(std::move(p.cells));
    p.cells.clear();
    result.mass.insert(result.mass.end(), p.mass.begin(), p.mass.end());
    return true;
  };
  run_ordered(threads, w);
  notes.finish();
  if (notes.strict_failed()) throw notes.strict_error();
  return result;
}

}  // namespace isotope
