// The search-engine table reader (DelimitedReader, read_first_line,
// detect_format: src/isotope/io/delimited_reader.cpp,
// src/isotope/formats/engine_format.cpp) on arbitrary files. The first
// byte picks the separator (odd: tab, even: comma); the rest is the file.
//
// - reading fails with nothing but isotope::Error;
// - the records, their lines and the error do not depend on the read
//   chunk size (chunk ends fall inside quotes, CRLFs and UTF-8 sequences);
// - every record has at least one field, none is a lone field of blanks
//   (those lines are skipped), and lines never go backwards;
// - when the first line is not blank and holds no quote, the header names
//   detect_format reads from it are the reader's first record.
// The bytes are read from memory (ByteSource::memory, in the chunks a file
// would give): no file is written or opened per run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "isotope/formats/engine_format.hpp"
#include "isotope/io/delimited_reader.hpp"

namespace {

struct Outcome {
  std::vector<std::vector<std::string>> records;
  std::vector<long> lines;
  std::optional<std::string> error;
};

Outcome read_all(std::string_view bytes, char sep, std::size_t chunk) {
  Outcome o;
  o.error = fuzz::error_of("DelimitedReader", [&] {
    isotope::DelimitedReader reader(isotope::ByteSource::memory(bytes, "table"), sep, chunk);
    std::vector<std::string> fields;
    long line = 0;
    while (reader.next(fields, line)) {
      o.records.push_back(fields);
      o.lines.push_back(line);
    }
  });
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char sep = (data[0] & 1) ? '\t' : ',';
  const std::string_view bytes = fuzz::as_text(data + 1, size - 1);

  const Outcome big = read_all(bytes, sep, isotope::DelimitedReader::kChunkBytes);
  const Outcome small = read_all(bytes, sep, 4 + size % 7);
  FUZZ_CHECK(big.records == small.records && big.lines == small.lines && big.error == small.error,
             "records depend on the chunk size");
  for (std::size_t k = 0; k < big.records.size(); ++k) {
    const auto& r = big.records[k];
    FUZZ_CHECK(!r.empty(), "a record without fields");
    FUZZ_CHECK(r.size() > 1 || r[0].find_first_not_of(" \t") != std::string::npos || bytes.find('"') != std::string_view::npos,
               "a blank line was read as a record");
    FUZZ_CHECK(k == 0 || big.lines[k] > big.lines[k - 1], "lines go backwards");
  }

  std::string first;
  fuzz::must_succeed("read_first_line",
                     [&] { first = isotope::read_first_line(isotope::ByteSource::memory(bytes, "table")); });
  fuzz::only_isotope_errors("detect_format", [&] { (void)isotope::detect_format(first); });
  const bool plain = first.find('"') == std::string::npos && first.find_first_not_of(" \t") != std::string::npos &&
                     bytes.substr(0, 3) != "\xEF\xBB\xBF" && first.find('\0') == std::string::npos;
  const char header_sep = first.find('\t') != std::string::npos ? '\t' : ',';
  if (plain && header_sep == sep && !big.error && !big.records.empty())
    FUZZ_CHECK(isotope::header_names(first) == big.records[0], "header names differ from the first record");
  return 0;
}
