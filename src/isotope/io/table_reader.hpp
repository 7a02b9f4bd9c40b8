// Streams the records of a whitespace-separated text table, as pandas' C
// tokenizer reads it with sep=r"\s+".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "isotope/io/byte_source.hpp"
#include "isotope/io/record_batch.hpp"

namespace isotope {

// Streams the records of one text table.
//
// Bytes are read in chunks; a record is held in memory only while it is
// read. The format is the one pandas' C tokenizer reads with sep=r"\s+":
// - The file is UTF-8; a byte order mark at its very start is dropped.
//   Invalid UTF-8 is a decode Error placed at the record's line; its
//   position counts bytes from the start of that line.
// - LF, CRLF and a lone CR end lines. Lines holding only spaces and tabs
//   are skipped.
// - Fields are separated by runs of spaces and tabs; blanks at the start
//   and end of a line are ignored. Other white space (\f, \v, U+00A0, ...)
//   belongs to the field.
// - A field that starts with '"' is quoted: it runs to the next lone '"'
//   and may hold blanks, line ends and "" for one '"'. Text that follows
//   the closing quote belongs to the same field ("ab"cd -> abcd). A '"'
//   inside an unquoted field is an ordinary character (ab"cd -> ab"cd).
// - A NUL byte ends the field's value: the rest of the field is dropped.
// - After a lone CR, a line of blanks only is not skipped but read as a
//   record with no fields (pandas' tokenizer does that).
// - End of file inside a quoted field is a value Error.
class TableReader {
 public:
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

  // Reads the file at path (Error::os when it cannot be opened, or is a
  // folder) or the given bytes, chunk_bytes at a time: the buffer holds a
  // chunk (or the whole source when smaller, plus 4 bytes), and grows
  // only for a record longer than it.
  explicit TableReader(const std::string& path, std::size_t chunk_bytes = kChunkBytes);
  explicit TableReader(ByteSource source, std::size_t chunk_bytes = kChunkBytes);
  TableReader(const TableReader&) = delete;
  TableReader& operator=(const TableReader&) = delete;

  // Appends the next record (the header first, then the rows) to the batch.
  // Returns false at the end of the file.
  bool next(RecordBatch& batch);

  // Reads the next record into fields, reusing its strings, and sets line to
  // the physical line (1-based) where the record starts. Returns false at
  // the end of the file.
  bool next(std::vector<std::string>& fields, long& line);

  // The line where the next record would start (after the records read).
  long line() const noexcept { return line_; }

  const std::string& path() const noexcept { return source_.path(); }

 private:
  enum class After : std::uint8_t { Line, Cr };
  enum class State : std::uint8_t { StartRecord, StartField, Field, Quoted, QuoteInQuoted, Blanks, Done };
  // The record being read.
  struct Record {
    RecordBatch* out = nullptr;    // where the fields go
    std::size_t first_field = 0;   // the record's first field in out->ends
    std::size_t count = 0;         // fields so far
    bool cut = false;              // the field's value ended at a NUL byte
    bool prev_cr = false;          // the line end just consumed was a CR
    long line = 0;                 // where the record starts
    long quote_line = 0;           // where the open quote is
  };

  bool refill();
  void check_record_utf8(std::size_t end, long line) const;

  void line_end(char c);
  void end_record_at(char c);
  void new_field();
  void append(const char* p, std::size_t n);
  bool finish(std::size_t end);
  State after_lone_cr();
  int next_plain_line(RecordBatch& batch);
  State on_start_record(char c);
  State on_start_field(char c);
  State on_field();
  State on_quoted();
  State on_quote_in_quoted(char c);
  State on_blanks(char c);

  ByteSource source_;
  std::vector<char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  std::size_t keep_ = 0;  // start of the bytes a refill must keep
  bool eof_ = false;
  bool started_ = false;
  After after_ = After::Line;
  long line_ = 1;  // line of the byte at pos_
  Record rec_;
  RecordBatch scratch_;  // for next(fields, line)
};

}  // namespace isotope
