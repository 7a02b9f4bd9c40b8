// The first pass: header names, then every record typed block by block.
#include "isotope/io/table_layout.hpp"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>

#include "isotope/base/errors.hpp"
#include "isotope/io/table_reader.hpp"

namespace isotope {


const std::vector<ColumnType>& TableLayout::row_types(std::size_t row) const {
  auto it = std::upper_bound(runs.begin(), runs.end(), row,
                             [](std::size_t r, const TypeRun& run) { return r < run.first_row; });
  return it == runs.begin() ? runs.front().types : std::prev(it)->types;
}

std::size_t typing_block_rows(std::size_t columns) {
  std::size_t heuristic = (std::size_t{1} << 20) / std::max<std::size_t>(columns, 1);
  std::size_t rows = 1;
  while (rows * 2 < heuristic) rows *= 2;
  return rows;
}

namespace {

// Names all given and all distinct (nearly every header): pandas keeps them.
bool plain_header(const std::vector<std::string>& fields) {
  std::vector<std::string_view> sorted(fields.begin(), fields.end());
  std::sort(sorted.begin(), sorted.end());
  return (sorted.empty() || !sorted.front().empty()) &&
         std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
}

}  // namespace

std::vector<std::string> header_names(const std::vector<std::string>& fields) {
  if (plain_header(fields)) return fields;
  std::vector<std::string> names(fields);
  std::vector<std::size_t> order, unnamed;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty()) {
      names[i] = "Unnamed: " + std::to_string(i);
      unnamed.push_back(i);
    } else {
      order.push_back(i);
    }
  }
  order.insert(order.end(), unnamed.begin(), unnamed.end());

  // How often each name occurs in the header as renamed so far.
  std::unordered_map<std::string, std::size_t> present;
  for (const auto& n : names) ++present[n];
  std::unordered_map<std::string, std::size_t> counts;
  auto count_of = [&](const std::string& name) -> std::size_t {
    auto it = counts.find(name);
    return it == counts.end() ? 0 : it->second;
  };
  for (std::size_t i : order) {
    const std::string old = names[i];
    std::string col = old;
    std::size_t cur = count_of(col);
    while (cur > 0) {
      counts[old] = cur + 1;
      col = old + "." + std::to_string(cur);
      auto it = present.find(col);
      if (it != present.end() && it->second > 0) {
        ++cur;
      } else {
        cur = count_of(col);
      }
    }
    if (col != old) {
      --present[old];
      ++present[col];
      names[i] = col;
    }
    counts[col] = cur + 1;
  }
  return names;
}
BlockTyping::BlockTyping(std::size_t width, std::vector<bool> watch)
    : typers_(width), watch_(std::move(watch)), first_non_int_(width, 0) {
  watch_.resize(width, false);
}

void BlockTyping::add(const RecordBatch& batch, std::size_t record) {
  const std::size_t width = typers_.size();
  const std::size_t n = std::min(batch.fields(record), width);
  const long line = batch.records[record].line;
  for (std::size_t c = 0; c < width; ++c) {
    std::string_view cell = c < n ? batch.field(record, c) : std::string_view{};
    typers_[c].add(cell);
    if (watch_[c] && first_non_int_[c] == 0 && !is_int_word(cell)) first_non_int_[c] = line;
  }
  ++rows_;
}

BlockTypes BlockTyping::take() {
  BlockTypes out;
  out.rows = rows_;
  out.kinds.reserve(typers_.size());
  for (auto& t : typers_) {
    out.kinds.push_back(t.kind());
    t.reset();
  }
  out.first_non_int_line = first_non_int_;
  std::fill(first_non_int_.begin(), first_non_int_.end(), 0);
  rows_ = 0;
  return out;
}

namespace {

// The fields [first, last] of a record when one leaves a '[' open that a
// later one closes, as blanks split "C[Iodoacetamide derivative]".
std::optional<std::pair<std::size_t, std::size_t>> split_bracket(const RecordBatch& batch, std::size_t record) {
  const std::size_t n = batch.fields(record);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const std::string_view f = batch.field(record, i);
    const std::size_t open = f.rfind('[');
    if (open == std::string_view::npos || f.find(']', open) != std::string_view::npos) continue;
    for (std::size_t j = i + 1; j < n; ++j) {
      const std::string_view g = batch.field(record, j);
      if (g.find(']') < g.find('[')) return std::make_pair(i, j);
    }
  }
  return std::nullopt;
}

std::string fields_word(std::size_t n) { return std::to_string(n) + (n == 1 ? " field" : " fields"); }

}  // namespace

void check_row_width(const RecordBatch& batch, std::size_t record, std::size_t width, const std::string& path,
                     Separator separator) {
  const std::size_t n = batch.fields(record);
  if (n <= width) return;
  Error e = Error::value("row with " + std::to_string(n) + " fields where the header has " + std::to_string(width));
  if (separator == Separator::Whitespace) {
    if (auto split = split_bracket(batch, record)) {
      std::string cell(batch.field(record, split->first));
      for (std::size_t k = split->first + 1; k <= split->second; ++k) {
        cell += ' ';
        cell += batch.field(record, k);
      }
      e.explain("a modification name with a blank: " + py_repr(cell) + " was read as " +
                std::to_string(split->second - split->first + 1) +
                " cells; quote the cell or use isotope_separator = tab");
    }
  }
  throw e.at(path, batch.records[record].line);
}

std::string short_row_note(std::size_t fields, std::size_t width, Separator separator) {
  const std::string head = "row has " + std::to_string(fields) + " fields where the header has " + std::to_string(width);
  if (fields > width) return head + "; the fields beyond were dropped";
  const std::size_t missing = width - fields;
  std::string text = head + "; its last " +
                     (missing == 1 ? std::string("cell was") : std::to_string(missing) + " cells were") +
                     " read as missing";
  if (separator == Separator::Whitespace)
    text += " (an empty cell in a tab-separated file? read it with isotope_separator = tab)";
  return text;
}

std::string shifted_row_hint(std::size_t fields, std::size_t width, Separator separator) {
  if (fields >= width || separator != Separator::Whitespace) return {};
  return "the row has " + fields_word(fields) + " where the header has " + std::to_string(width) +
         ": an empty cell of a tab-separated file shifts the cells after it; read the table with "
         "isotope_separator = tab";
}

namespace {

bool is_float_held(ColumnType t) {
  return t == ColumnType::Float || t == ColumnType::IntAsFloat || t == ColumnType::IntWithMissing;
}

}  // namespace

TableLayout assemble_layout(const std::vector<std::string>& names, const std::vector<BlockTypes>& blocks) {
  const std::size_t width = names.size();
  TableLayout layout;
  layout.block_rows = typing_block_rows(width);
  std::vector<unsigned> seen(width, 0);
  for (const BlockTypes& b : blocks)
    for (std::size_t c = 0; c < width; ++c) seen[c] |= kind_bit(b.kinds[c]);

  layout.float_cause_line.assign(width, 0);
  std::size_t first_row = 0;
  for (const BlockTypes& b : blocks) {
    std::vector<ColumnType> types(width);
    for (std::size_t c = 0; c < width; ++c) {
      types[c] = cell_type(b.kinds[c], seen[c]);
      if (is_float_held(types[c]) && layout.float_cause_line[c] == 0) layout.float_cause_line[c] = b.first_non_int_line[c];
    }
    if (layout.runs.empty() || layout.runs.back().types != types) layout.runs.push_back({first_row, std::move(types)});
    first_row += b.rows;
  }
  layout.rows = first_row;
  if (layout.runs.empty()) {
    // No rows: pandas makes object columns.
    layout.runs.push_back({0, std::vector<ColumnType>(width, ColumnType::Text)});
  }

  layout.columns.reserve(width);
  for (std::size_t c = 0; c < width; ++c) {
    ColumnType type = layout.runs.front().types[c];
    bool uniform = std::all_of(layout.runs.begin(), layout.runs.end(),
                               [&](const TypeRun& r) { return r.types[c] == type; });
    if (!uniform) type = joined_column_type(seen[c]);
    layout.columns.push_back({names[c], type});
  }
  return layout;
}

TableLayout scan_table(const std::string& path, const std::vector<std::string>& watch) {
  return scan_table(ByteSource::file(path), Separator::Whitespace, TableReader::kChunkBytes, watch);
}

TableLayout scan_table(ByteSource source, Separator separator, std::size_t chunk_bytes,
                       const std::vector<std::string>& watch) {
  TableReader reader(std::move(source), separator, chunk_bytes);
  const std::string& path = reader.path();
  RecordBatch batch;
  if (!reader.next(batch)) throw Error::value("No columns to parse from file").at(path);
  std::vector<std::string> header(batch.fields(0));
  for (std::size_t i = 0; i < header.size(); ++i) header[i].assign(batch.field(0, i));
  const std::vector<std::string> names = header_names(header);
  const std::size_t width = names.size();
  const std::size_t block_rows = typing_block_rows(width);

  BlockTyping typing(width, watched_columns(names, watch));
  std::vector<BlockTypes> blocks;
  for (;;) {
    batch.clear();
    if (!reader.next(batch)) break;
    check_row_width(batch, 0, width, path, separator);
    typing.add(batch, 0);
    if (typing.rows() == block_rows) blocks.push_back(typing.take());
  }
  if (typing.rows() > 0) blocks.push_back(typing.take());
  return assemble_layout(names, blocks);
}

std::vector<bool> watched_columns(const std::vector<std::string>& names, const std::vector<std::string>& watch) {
  std::vector<bool> out(names.size(), false);
  for (std::size_t c = 0; c < names.size(); ++c)
    out[c] = std::find(watch.begin(), watch.end(), names[c]) != watch.end();
  return out;
}

}  // namespace isotope
