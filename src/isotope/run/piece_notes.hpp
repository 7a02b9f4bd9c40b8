// The notes of a piece of rows, kept by the worker that computes the piece
// and handed to the table's TableNotes when the piece is committed, in row
// order: how every pipeline (table file, engine table, DataFrame) keeps its
// warnings in table order whatever the number of threads.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/run/notes.hpp"
#include "isotope/run/note_kind.hpp"

namespace isotope {

class PieceNotes {
 public:
  void clear() {
    notes_.clear();
    text_.clear();
  }
  void add(std::size_t row, NoteKind kind, std::string_view text) {
    std::size_t begin = text_.size();
    text_ += text;
    notes_.push_back({row, kind, begin, text_.size()});
  }
  // Hands the notes of rows before `end` to the table's notes; key(row)
  // names the row (its line in a file, its position in a DataFrame).
  void commit(std::size_t end, TableNotes& table, const std::function<long(std::size_t row)>& key) const {
    for (const Note& n : notes_) {
      if (n.row >= end) break;
      table.row(n.kind, std::string_view(text_).substr(n.begin, n.end - n.begin), key(n.row));
    }
  }

 private:
  struct Note {
    std::size_t row;
    NoteKind kind;
    std::size_t begin, end;  // in text_
  };
  std::vector<Note> notes_;
  std::string text_;
};

// A worker's NoteSink: the notes of the row it computes, into a piece's
// notes.
class RowNotes final : public NoteSink {
 public:
  void start(PieceNotes& notes, std::size_t row) {
    notes_ = &notes;
    row_ = row;
  }
  void note(NoteKind kind, std::string_view text) override { notes_->add(row_, kind, text); }

 private:
  PieceNotes* notes_ = nullptr;
  std::size_t row_ = 0;
};

}  // namespace isotope
