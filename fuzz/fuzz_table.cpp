// The table reader on arbitrary file contents.
//
// scan_table either fails with an isotope::Error or returns a layout that
// the second pass can rely on: TableReader yields exactly layout.rows + 1
// records (header first), none wider than the header, every cell typed by
// the layout converts without error, and the records do not depend on the
// size of the chunks the file is read in.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "isotope/io/table.hpp"

namespace {

struct Record {
  std::vector<std::string> fields;
  long line;
  bool operator==(const Record&) const = default;
};

struct Reading {
  std::vector<Record> records;
  std::optional<std::string> error;  // what() of the error that ended it
};

Reading read_all(const std::string& path, std::size_t chunk_bytes) {
  Reading r;
  r.error = fuzz::error_of("TableReader", [&] {
    isotope::TableReader reader(path, chunk_bytes);
    std::vector<std::string> fields;
    long line = 0;
    while (reader.next(fields, line)) r.records.push_back({fields, line});
  });
  return r;
}

// Every cell of every row, typed as the layout says, goes through the
// conversions the pipeline makes.
void check_cells(const isotope::TableLayout& layout, const std::vector<Record>& records) {
  const std::size_t width = layout.columns.size();
  std::string out;
  for (std::size_t row = 0; row + 1 < records.size(); ++row) {
    std::vector<std::string> fields = records[row + 1].fields;
    FUZZ_CHECK(fields.size() <= width, "row " + std::to_string(row) + " is wider than the header");
    fields.resize(width);
    const std::vector<isotope::ColumnType>& types = layout.row_types(row);
    FUZZ_CHECK(types.size() == width, "row types of row " + std::to_string(row));
    for (std::size_t c = 0; c < width; ++c) {
      fuzz::must_succeed("converting a scanned cell", [&] {
        out.clear();
        isotope::append_output_cell(out, types[c], fields[c]);
        isotope::append_py_str(out, types[c], fields[c]);
        (void)isotope::is_text_value(types[c], fields[c]);
        (void)isotope::is_missing_value(types[c], fields[c]);
      });
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchDir dir;
  static const std::string path = dir / "table.txt";
  fuzz::write_file(path, fuzz::as_text(data, size));

  std::optional<isotope::TableLayout> layout;
  const bool scanned = fuzz::only_isotope_errors("scan_table", [&] { layout = isotope::scan_table(path); });

  // The whole file in one chunk, and in tiny chunks that split records,
  // quotes, line ends and UTF-8 sequences everywhere. (A chunk just larger
  // than the file reads as the default 1 MiB one does, without the cost of
  // a fresh megabyte per run under the address sanitizer.)
  const Reading whole = read_all(path, size + 1);
  const Reading pieces = read_all(path, 4 + size % 13);
  FUZZ_CHECK(whole.records == pieces.records, "records depend on the chunk size");
  FUZZ_CHECK(whole.error == pieces.error, "errors depend on the chunk size");
  for (std::size_t i = 1; i < whole.records.size(); ++i)
    FUZZ_CHECK(whole.records[i].line > whole.records[i - 1].line, "record lines must increase");

  if (!scanned) return 0;
  FUZZ_CHECK(!whole.error, "scan_table accepted a file the reader rejects: " + *whole.error);
  FUZZ_CHECK(whole.records.size() == layout->rows + 1,
             std::to_string(whole.records.size()) + " records for " + std::to_string(layout->rows) + " rows");
  const std::vector<std::string> names = isotope::header_names(whole.records.front().fields);
  FUZZ_CHECK(names.size() == layout->columns.size(), "header width");
  for (std::size_t c = 0; c < names.size(); ++c) FUZZ_CHECK(names[c] == layout->columns[c].name, "column name");
  check_cells(*layout, whole.records);
  return 0;
}
