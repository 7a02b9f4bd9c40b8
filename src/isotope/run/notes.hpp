// The warnings of one table, in table order, capped per kind; or, in strict
// mode, the list of problems that fails the table.
//
// TableNotes is the one owner of what a table prints as warnings: rows are
// handed to it in table order (the pipeline commits them in that order
// whatever the number of threads), so the lines, the caps and the counts of
// rows beyond the caps are the same for every run of the same table.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "isotope/base/errors.hpp"
#include "isotope/run/note_kind.hpp"

namespace isotope {

class TableNotes {
 public:
  static constexpr std::size_t kLinesPerKind = 10;
  static constexpr std::size_t kStrictLines = 20;

  // print shows one warning: its text, without prefix or line end. file
  // names the table ("data/s1.txt", "the DataFrame"); where names a row
  // from its key (by default "line <key>").
  TableNotes(std::function<void(std::string_view)> print, std::string file, bool strict,
             std::function<std::string(long)> where = {});

  // A note on the row with this key (its line in a file).
  void row(NoteKind kind, std::string_view text, long key);
  // A warning on the whole table, printed as it comes, uncapped.
  void table(std::string_view text);
  // Prints, for each kind past its cap, how many more rows it had.
  void finish();

  // Strict mode: whether rows rested on a guess, and the error that lists
  // them (`then`, when given, is the error that stopped the table).
  bool strict_failed() const noexcept { return strict_rows_ > 0; }
  Error strict_error(const Error* then = nullptr) const;

 private:
  std::function<void(std::string_view)> print_;
  std::string file_;
  bool strict_;
  std::function<std::string(long)> where_;
  std::array<std::size_t, kNoteKinds> counts_{};
  std::size_t strict_rows_ = 0;
  long last_strict_line_ = 0;
  std::string strict_lines_;
};

// True for the kinds strict mode turns into errors.
bool is_row_problem(NoteKind kind);

}  // namespace isotope
