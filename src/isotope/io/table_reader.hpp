// Streams the records of a text table, as pandas' C tokenizer reads it with
// sep=r"\s+" or with one separator byte (sep="\t", "," or ";").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/io/byte_source.hpp"
#include "isotope/io/record_batch.hpp"

namespace isotope {

// What separates the fields of a table: runs of blanks (the default,
// pandas' sep=r"\s+"), or one tab, comma or semicolon.
enum class Separator : std::uint8_t { Whitespace, Tab, Comma, Semicolon };

// The separator an option value names ("whitespace", "tab", "comma",
// "semicolon"), or nothing.
std::optional<Separator> separator_named(std::string_view name);
// The separator's byte ('\t', ',', ';'), or 0 for Whitespace.
char separator_byte(Separator separator);

// Streams the records of one text table.
//
// Bytes are read in chunks; a record is held in memory only while it is
// read. With Separator::Whitespace the format is the one pandas' C
// tokenizer reads with sep=r"\s+":
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
// With a separator byte, as pandas' C tokenizer reads with sep="\t", ","
// or ";" (quotechar '"', doublequote):
// - Each separator ends exactly one field: a field may be empty (a missing
//   cell), and a line ending in a separator ends with an empty field.
//   Blanks belong to the fields; a line of blanks only (spaces, and tabs
//   that do not separate) is skipped, a line of separators is a record of
//   empty fields.
// - Quoting as above: a field that starts with '"' runs to the next lone
//   '"' and may hold separators and line ends; text after the closing
//   quote joins the field; a '"' later in a field is an ordinary
//   character. The UTF-8, byte order mark, line end, NUL and end-of-file
//   rules are those above; a lone CR ends a line like any other line end.
// - A separator right after a lone CR that ends a blank line is dropped
//   (pandas' tokenizer does that).
class TableReader {
 public:
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

  // Reads the file at path (Error::os when it cannot be opened, or is a
  // folder) or the given bytes, chunk_bytes at a time: the buffer holds a
  // chunk (or the whole source when smaller, plus 4 bytes), and grows
  // only for a record longer than it.
  explicit TableReader(const std::string& path, Separator separator = Separator::Whitespace,
                       std::size_t chunk_bytes = kChunkBytes);
  explicit TableReader(ByteSource source, Separator separator = Separator::Whitespace,
                       std::size_t chunk_bytes = kChunkBytes);
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
  enum class State : std::uint8_t { StartRecord, BlankLine, StartField, Field, Quoted, QuoteInQuoted, Blanks, Done };
  // The record being read.
  struct Record {
    RecordBatch* out = nullptr;    // where the fields go
    std::size_t first_field = 0;   // the record's first field in out->ends
    std::size_t count = 0;         // fields so far
    bool cut = false;              // the field's value ended at a NUL byte
    bool prev_cr = false;          // the line end just consumed was a CR
    bool blank_cr = false;         // ... and it ended a skipped blank line
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
  int next_fast_line(RecordBatch& batch);
  long split_at_blanks(RecordBatch& batch, std::size_t stop) const;
  long split_at_separator(RecordBatch& batch, std::size_t stop) const;
  bool is_separator(char c) const noexcept { return sep_ != 0 && c == sep_; }
  State on_start_record(char c);
  State on_blank_line(char c);
  State on_start_field(char c);
  State on_field();
  State on_quoted();
  State on_quote_in_quoted(char c);
  State on_blanks(char c);

  ByteSource source_;
  char sep_ = 0;  // the separator byte, 0 for runs of blanks
  std::array<bool, 256> field_stop_{};         // bytes that end an unquoted run
  std::array<std::uint8_t, 256> line_class_{};  // byte classes of the plain-line fast path
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
