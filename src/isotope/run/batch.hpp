// The directory batch: the tables of a folder (entries whose names end in
// "txt"), each handed in turn to a run of one table.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace isotope {

// True for names that the regular expression ".txt$" finds a match in: the
// name ends in "txt", or "txt" and one final line feed, after at least one
// character other than a line feed.
bool is_table_name(std::string_view name);

// The entries of input_dir (files and folders, no recursion) whose names
// are table names, in the order the directory lists them.
std::vector<std::string> list_tables(const std::string& input_dir);

// Lists input_dir once, then calls run_one with input_dir + "/" + name for
// every table name, in listing order; the first error stops the batch.
void run_multiple_files(const std::string& input_dir,
                        const std::function<void(const std::string& input_file)>& run_one);

}  // namespace isotope
