// Warning lines and the strict-mode listing.
#include "isotope/run/notes.hpp"

namespace isotope {

namespace {

const char* kind_words(NoteKind kind) {
  switch (kind) {
    case NoteKind::ShortRow: return "fewer fields than the header";
    case NoteKind::PepSeq: return "skipped PepSeq characters";
    case NoteKind::Counts: return "count cells that are no non-negative whole number";
    case NoteKind::CountColumn: return "count columns that became floats";
    case NoteKind::Charge: return "charge cells that are no non-zero whole number";
    case NoteKind::Precursor: return "precursor m/z cells that are no number";
    case NoteKind::Unmapped: return "rows that could not be mapped";
    case NoteKind::Disagreeing: return "rows whose own columns disagree";
    case NoteKind::Unmatched: return "precursors within the tolerance of no isotope peak";
    case NoteKind::NonFinite: return "patterns or masses that are not finite";
    case NoteKind::Hint: return "hints";
    case NoteKind::Spectrum: return "rows without their MS1 spectrum";
    case NoteKind::Overlap: return "rows whose MS1 envelope shares centroids with another's";
  }
  return "warnings";
}

}  // namespace

// A float-held count column, a precursor that matches no peak, a hint and
// a row without its spectrum or sharing its centroids are findings about the table, not guesses
// strict mode fails on.
bool is_row_problem(NoteKind kind) {
  return kind != NoteKind::CountColumn && kind != NoteKind::Unmatched && kind != NoteKind::Hint &&
         kind != NoteKind::Spectrum && kind != NoteKind::Overlap;
}

namespace {

std::size_t cap_of(NoteKind kind) { return kind == NoteKind::Hint ? 1 : TableNotes::kLinesPerKind; }

}  // namespace

TableNotes::TableNotes(std::function<void(std::string_view)> print, std::string file, bool strict,
                       std::function<std::string(long)> where)
    : print_(std::move(print)), file_(std::move(file)), strict_(strict), where_(std::move(where)) {
  if (!where_) where_ = [](long line) { return "line " + std::to_string(line); };
}

void TableNotes::row(NoteKind kind, std::string_view text, long line) {
  if (strict_ && is_row_problem(kind)) {
    if (line != last_strict_line_) ++strict_rows_;
    last_strict_line_ = line;
    if (++counts_[static_cast<std::size_t>(kind)] && strict_lines_.size() < 64 * 1024 &&
        std::count(strict_lines_.begin(), strict_lines_.end(), '\n') < static_cast<long>(kStrictLines)) {
      strict_lines_ += "\n  " + where_(line) + ": ";
      strict_lines_ += text;
    }
    return;
  }
  if (++counts_[static_cast<std::size_t>(kind)] > cap_of(kind)) return;
  std::string out(text);
  out += ", " + where_(line) + " of " + file_;
  print_(out);
}

void TableNotes::table(std::string_view text) { print_(text); }

void TableNotes::finish() {
  if (strict_) return;
  for (std::size_t k = 0; k < kNoteKinds; ++k) {
    if (counts_[k] <= kLinesPerKind || static_cast<NoteKind>(k) == NoteKind::Hint) continue;
    print_(std::to_string(counts_[k] - kLinesPerKind) + " more rows with " + kind_words(static_cast<NoteKind>(k)) +
           " in " + file_);
  }
}

Error TableNotes::strict_error(const Error* then) const {
  std::size_t problems = 0;
  for (std::size_t k = 0; k < kNoteKinds; ++k)
    if (is_row_problem(static_cast<NoteKind>(k))) problems += counts_[k];
  std::size_t shown = static_cast<std::size_t>(std::count(strict_lines_.begin(), strict_lines_.end(), '\n'));
  std::string msg = "isotope_strict = true and " + std::to_string(strict_rows_) + " row" +
                    (strict_rows_ == 1 ? "" : "s") + " of " + file_ + (strict_rows_ == 1 ? " rests" : " rest") +
                    " on a guess:" + strict_lines_;
  if (problems > shown) msg += "\n  and " + std::to_string(problems - shown) + " more";
  if (then) msg += "\n  then: " + then->kind_name() + ": " + then->what();
  return Error::value(msg);
}

}  // namespace isotope
