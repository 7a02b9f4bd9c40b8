// A batch of table records held in one arena: the bytes of every field back
// to back, with where each field ends and where each record starts. Readers
// append to a batch and workers read it; a batch is reused from run to run
// of a pipeline, so reading a table allocates nothing once the batches have
// grown to their working size.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace isotope {

struct RecordBatch {
  struct Record {
    std::size_t first_field = 0;  // index into ends
    std::size_t fields = 0;
    long line = 0;  // the physical line (1-based) where the record starts
  };

  std::string bytes;              // the fields' text, back to back
  std::vector<std::size_t> ends;  // end offset in bytes of every field
  std::vector<Record> records;
  std::size_t first_row = 0;  // the table row of records[0] (0: the first data row)

  void clear() {
    bytes.clear();
    ends.clear();
    records.clear();
  }
  std::size_t size() const noexcept { return records.size(); }
  bool empty() const noexcept { return records.empty(); }
  std::size_t fields(std::size_t record) const noexcept { return records[record].fields; }
  std::string_view field(std::size_t record, std::size_t i) const noexcept {
    std::size_t k = records[record].first_field + i;
    std::size_t begin = k == 0 ? 0 : ends[k - 1];
    return std::string_view(bytes).substr(begin, ends[k] - begin);
  }
};

}  // namespace isotope
