// The first pass: header names, then every record typed block by block.
#include "isotope/io/table_layout.hpp"

#include <algorithm>
#include <unordered_map>

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

std::vector<std::string> header_names(const std::vector<std::string>& fields) {
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
TableLayout scan_table(const std::string& path) {
  TableReader reader(path);
  std::vector<std::string> fields;
  long line = 0;
  if (!reader.next(fields, line)) throw Error::value("No columns to parse from file").at(path);

  TableLayout layout;
  const std::vector<std::string> names = header_names(fields);
  const std::size_t width = names.size();
  layout.block_rows = typing_block_rows(width);

  struct KindRun {
    std::size_t first_row;
    std::vector<BlockKind> kinds;
  };
  std::vector<KindRun> kind_runs;
  std::vector<BlockTyper> typers(width);
  std::vector<BlockKind> kinds(width);
  std::vector<unsigned> seen(width, 0);
  std::size_t in_block = 0;
  auto close_block = [&] {
    for (std::size_t c = 0; c < width; ++c) {
      kinds[c] = typers[c].kind();
      seen[c] |= kind_bit(kinds[c]);
      typers[c].reset();
    }
    if (kind_runs.empty() || kind_runs.back().kinds != kinds)
      kind_runs.push_back({layout.rows - in_block, kinds});
    in_block = 0;
  };

  while (reader.next(fields, line)) {
    if (fields.size() > width) {
      throw Error::value("row with " + std::to_string(fields.size()) + " fields where the header has " +
                         std::to_string(width))
          .at(path, line);
    }
    std::size_t c = 0;
    for (; c < fields.size(); ++c) typers[c].add(fields[c]);
    for (; c < width; ++c) typers[c].add({});
    ++layout.rows;
    if (++in_block == layout.block_rows) close_block();
  }
  if (in_block > 0) close_block();

  if (kind_runs.empty()) {
    // No rows: pandas makes object columns.
    layout.runs.push_back({0, std::vector<ColumnType>(width, ColumnType::Text)});
  }
  for (const KindRun& run : kind_runs) {
    std::vector<ColumnType> types(width);
    for (std::size_t c = 0; c < width; ++c) types[c] = cell_type(run.kinds[c], seen[c]);
    if (layout.runs.empty() || layout.runs.back().types != types)
      layout.runs.push_back({run.first_row, std::move(types)});
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

}  // namespace isotope
