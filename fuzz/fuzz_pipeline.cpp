// The whole single-file job on arbitrary table contents, with the
// parameter file "isotope_peaks_num = 5".
//
// run_single_file fails with nothing but isotope::Error. After success the
// output folder holds exactly the output file: it ends with a line feed and
// has one record per input row plus the header, all of one width. After a
// failure the output folder holds no file at all: no partial output and no
// temporary file; an output file from an earlier run is left unchanged.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "isotope/run/pipeline.hpp"
#include "isotope/io/table.hpp"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> folder_names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

// The field count of each record of text written with tab separators and
// minimal quoting: a '"' only ever appears in a quoted field, where inner
// quotes are doubled, so the quote parity tells whether a tab or line feed
// is inside a field.
std::vector<std::size_t> record_widths(const std::string& text) {
  std::vector<std::size_t> widths;
  bool quoted = false;
  std::size_t fields = 1;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '\t') {
      ++fields;
    } else if (!quoted && c == '\n') {
      widths.push_back(fields);
      fields = 1;
    }
  }
  FUZZ_CHECK(!quoted, "output ends inside a quoted field");
  return widths;
}

// Data rows of a table the job accepted: its records less the header, read
// from the input's bytes in memory.
std::size_t input_rows(std::string_view input) {
  std::size_t records = 0;
  fuzz::must_succeed("reading a table the job accepted", [&] {
    isotope::TableReader reader(isotope::ByteSource::memory(input, "table.txt"));
    isotope::RecordBatch batch;
    while (reader.next(batch)) {
      ++records;
      batch.clear();
    }
  });
  FUZZ_CHECK(records > 0, "the job accepted a table without a header");
  return records - 1;
}

void check_output(std::string_view input, const std::string& output) {
  const std::string text = fuzz::read_file(output);
  FUZZ_CHECK(!text.empty() && text.back() == '\n', "output does not end with a line feed");
  const std::size_t rows = input_rows(input);
  if (rows == 0) {
    FUZZ_CHECK(text == "\n", "a table without rows gives an empty header line");
    return;
  }
  const std::vector<std::size_t> widths = record_widths(text);
  FUZZ_CHECK(widths.size() == rows + 1,
             std::to_string(widths.size()) + " output records for " + std::to_string(rows) + " rows");
  for (std::size_t w : widths) FUZZ_CHECK(w == widths.front(), "output records of different widths");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchDir dir;
  static const std::string input = dir / "table.txt";
  static const std::string params = dir / "params.txt";
  static const std::string out_dir = dir / "out";
  static const std::string output = isotope::output_path(out_dir, "table");
  static const isotope::ModelTables tables = isotope::ModelTables::reference();
  static const isotope::Console quiet{[](std::string_view) {}, [](std::string_view) {}};
  static const bool ready = [] {
    fuzz::write_file(params, "isotope_peaks_num = 5\n");
    fs::create_directory(out_dir);
    return true;
  }();
  (void)ready;

  // On every other input an output from an earlier run is already there: a
  // failure must leave it as it was, a success must replace it.
  static const std::string previous = "an earlier output\n";
  const bool had_output = size % 2 == 1;
  if (had_output) fuzz::write_file(output, previous);

  fuzz::write_file(input, fuzz::as_text(data, size));
  // One input in eight runs on two worker threads, the rest on one: a run on
  // threads starts a reader and two workers per pass, which costs more
  // under the sanitizers than the run itself.
  const isotope::RunSettings settings{size % 8 == 0 ? 2u : 1u};
  const bool ok = fuzz::only_isotope_errors(
      "run_single_file", [&] { isotope::run_single_file(input, out_dir, params, tables, quiet, settings); });

  const std::vector<std::string> left = folder_names(out_dir);
  if (ok || had_output) {
    FUZZ_CHECK(left.size() == 1 && out_dir + "/" + left.front() == output,
               "the output folder must hold the output file alone, not " + std::to_string(left.size()) + " files");
  } else {
    FUZZ_CHECK(left.empty(), "a failed table left " + left.front() + " in the output folder");
  }
  if (ok)
    check_output(fuzz::as_text(data, size), output);
  else if (had_output)
    FUZZ_CHECK(fuzz::read_file(output) == previous, "a failed table changed the existing output");
  fs::remove(output);
  return 0;
}
