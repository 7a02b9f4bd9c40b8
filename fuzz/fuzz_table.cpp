// The table reader on arbitrary file contents.
//
// scan_table either fails with an isotope::Error or returns a layout that
// the second pass can rely on: TableReader yields exactly layout.rows + 1
// records (header first), none wider than the header, every cell typed by
// the layout converts without error, and the records do not depend on the
// size of the chunks the file is read in. Every other input is split at
// blanks, the others at a tab, a comma or a semicolon. The bytes are read
// from memory (ByteSource::memory, in the chunks a file would give): no
// file is written or opened per run. fuzz_pipeline reads its tables from
// files.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "isotope/io/table.hpp"

namespace {

// Every record of a reading in one batch (two arenas, not a string per
// field: the target stays fast on inputs of thousands of fields).
struct Reading {
  isotope::RecordBatch records;
  std::optional<std::string> error;  // what() of the error that ended it
};

Reading read_all(std::string_view bytes, isotope::Separator sep, std::size_t chunk_bytes) {
  Reading r;
  // Room for every field at once: the arenas do not grow while reading.
  r.records.bytes.reserve(bytes.size());
  r.records.ends.reserve(bytes.size() / 2 + 1);
  r.records.records.reserve(bytes.size() / 2 + 1);
  r.error = fuzz::error_of("TableReader", [&] {
    isotope::TableReader reader(isotope::ByteSource::memory(bytes, "table.txt"), sep, chunk_bytes);
    while (reader.next(r.records)) {
    }
  });
  return r;
}

bool same_records(const isotope::RecordBatch& a, const isotope::RecordBatch& b) {
  if (a.bytes != b.bytes || a.ends != b.ends || a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto &ra = a.records[i], &rb = b.records[i];
    if (ra.first_field != rb.first_field || ra.fields != rb.fields || ra.line != rb.line) return false;
  }
  return true;
}

// Every cell of every row, typed as the layout says, goes through the
// conversions the pipeline makes.
void check_cells(const isotope::TableLayout& layout, const isotope::RecordBatch& records) {
  const std::size_t width = layout.columns.size();
  std::string out;
  for (std::size_t row = 0; row + 1 < records.size(); ++row) {
    const std::size_t fields = records.fields(row + 1);
    FUZZ_CHECK(fields <= width, "row " + std::to_string(row) + " is wider than the header");
    const std::vector<isotope::ColumnType>& types = layout.row_types(row);
    FUZZ_CHECK(types.size() == width, "row types of row " + std::to_string(row));
    for (std::size_t c = 0; c < width; ++c) {
      const std::string_view cell = c < fields ? records.field(row + 1, c) : std::string_view{};
      fuzz::must_succeed("converting a scanned cell", [&] {
        out.clear();
        isotope::append_output_cell(out, types[c], cell);
        isotope::append_py_str(out, types[c], cell);
        (void)isotope::is_text_value(types[c], cell);
        (void)isotope::is_missing_value(types[c], cell);
      });
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::as_text(data, size);
  // Runs of blanks on every other input, a tab, comma or semicolon on the
  // others.
  const auto sep = static_cast<isotope::Separator>(size % 2 == 0 ? 0 : 1 + size / 2 % 3);
  std::optional<isotope::TableLayout> layout;
  const bool scanned = fuzz::only_isotope_errors("scan_table", [&] {
    layout = isotope::scan_table(isotope::ByteSource::memory(bytes, "table.txt"), sep);
  });

  // The whole file in one chunk, and in tiny chunks that split records,
  // quotes, line ends and UTF-8 sequences everywhere.
  const Reading whole = read_all(bytes, sep, isotope::TableReader::kChunkBytes);
  const Reading pieces = read_all(bytes, sep, 4 + size % 13);
  FUZZ_CHECK(same_records(whole.records, pieces.records), "records depend on the chunk size");
  FUZZ_CHECK(whole.error == pieces.error, "errors depend on the chunk size");
  for (std::size_t i = 1; i < whole.records.size(); ++i)
    FUZZ_CHECK(whole.records.records[i].line > whole.records.records[i - 1].line, "record lines must increase");

  if (!scanned) return 0;
  FUZZ_CHECK(!whole.error, "scan_table accepted a file the reader rejects: " + *whole.error);
  FUZZ_CHECK(whole.records.size() == layout->rows + 1,
             std::to_string(whole.records.size()) + " records for " + std::to_string(layout->rows) + " rows");
  std::vector<std::string> header(whole.records.fields(0));
  for (std::size_t c = 0; c < header.size(); ++c) header[c] = whole.records.field(0, c);
  const std::vector<std::string> names = isotope::header_names(header);
  FUZZ_CHECK(names.size() == layout->columns.size(), "header width");
  for (std::size_t c = 0; c < names.size(); ++c) FUZZ_CHECK(names[c] == layout->columns[c].name, "column name");
  check_cells(*layout, whole.records);
  return 0;
}
