// Streams the records of a tab- or comma-separated text table (the result
// files of search engines), keeping every cell as text.
//
// The format is RFC 4180 with either separator, as a CSV reader such as
// Python's csv module or pandas gives the cells (no typing at all):
// - The file is UTF-8; a byte order mark at its very start is dropped.
//   Invalid UTF-8 is a decode Error placed at the record's line; its
//   position counts bytes from the start of the record.
// - LF, CRLF and a lone CR end lines. A line that is empty or holds only
//   blanks (spaces, and tabs when they do not separate) is skipped.
// - Fields are separated by the one separator byte; blanks belong to the
//   fields, so a field may be empty or hold only blanks.
// - A field that starts with '"' is quoted: it runs to the next lone '"'
//   and may hold separators, line ends and "" for one '"'. Text that
//   follows the closing quote belongs to the same field ("ab"cd -> abcd).
//   A '"' inside an unquoted field is an ordinary character.
// - End of file inside a quoted field is a value Error at the quote's line.
// - Without quotes (a search engine's tab-separated table, read verbatim),
//   '"' is an ordinary character everywhere: a field is the bytes between
//   separators.
// One record is held in memory at a time, in a buffer of the file's read
// chunk plus the record's own bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "isotope/io/byte_source.hpp"

namespace isotope {

class DelimitedReader {
 public:
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 16;

  // Reads the file at path (Error::os when it cannot be opened, or is a
  // folder) or the given bytes, chunk_bytes at a time (or the whole source
  // when smaller).
  DelimitedReader(const std::string& path, char separator, std::size_t chunk_bytes = kChunkBytes,
                  bool quotes = true);
  DelimitedReader(ByteSource source, char separator, std::size_t chunk_bytes = kChunkBytes, bool quotes = true);
  DelimitedReader(const DelimitedReader&) = delete;
  DelimitedReader& operator=(const DelimitedReader&) = delete;

  // Reads the next record (the header first) into fields, reusing their
  // strings, and sets line to the physical line (1-based) where it starts.
  // Returns false at the end of the file.
  bool next(std::vector<std::string>& fields, long& line);

  const std::string& path() const noexcept { return source_.path(); }

 private:
  enum class Quoting { Start, Plain, Quoted, AfterQuote };
  void skip_byte_order_mark();
  bool quoted_byte(char c, std::string& field, Quoting& state);
  std::size_t read_fields(std::vector<std::string>& fields, long line, bool& quoted_any);
  bool get(char& c);   // the next byte, false at the end of the file
  void unget() { --pos_; }  // only right after a successful get()
  void check_record_utf8(long line) const;

  ByteSource source_;
  char sep_;
  bool quotes_;
  std::vector<char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  bool eof_ = false, started_ = false;
  long line_ = 1;     // line of the next byte
  std::string raw_;   // the record's bytes, for its UTF-8 check
};

// The first line of a file as raw bytes: without a leading byte order mark
// and without its line end, at most max_bytes long. Reads nothing past it,
// so that a table's header can be recognised before any other check.
// Throws Error::os when the file cannot be read.
std::string read_first_line(const std::string& path, std::size_t max_bytes = std::size_t{1} << 16);
std::string read_first_line(ByteSource source, std::size_t max_bytes = std::size_t{1} << 16);

}  // namespace isotope
