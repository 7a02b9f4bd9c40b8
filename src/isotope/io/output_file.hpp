// An output file that is either complete or absent.
//
// OutputFile writes into a temporary file in the target's folder and renames
// it over the target only when commit() succeeds, after an fsync: a failed
// or interrupted run leaves no partial file and never damages an existing
// one, and a replaced file keeps its permission bits. A folder that cannot
// take the file fails at once, when the OutputFile is made, before any work
// is done for it. A failure while writing (a full disk) is remembered rather
// than thrown at once, so that the caller can go on reading its input and
// report a bad row found later first, as if the table were written only at
// the end; commit() then throws the first failure met.
#pragma once

#include <string>

namespace isotope {

class OutputFile {
 public:
  // Creates the temporary file; an OS Error naming the target, and saying
  // what is wrong with its folder, when that fails.
  explicit OutputFile(std::string target);
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes out the buffer (and empties it) unless an earlier step failed.
  void write(std::string& buffer);

  // Makes the file durable and moves it into place, or throws the first
  // failure met as an OS Error naming the target.
  void commit();

  const std::string& target() const noexcept { return target_; }

  // Test seam: while one lives, fsync reports err instead of syncing, as on
  // a disk that cannot make the file durable.
  class FailingFsync {
   public:
    explicit FailingFsync(int err) { fail_fsync_with_ = err; }
    ~FailingFsync() { fail_fsync_with_ = 0; }
    FailingFsync(const FailingFsync&) = delete;
    FailingFsync& operator=(const FailingFsync&) = delete;
  };

 private:
  void fail(int err);
  static int sync(int fd);  // fsync, or the test seam's failure

  static int fail_fsync_with_;  // set by FailingFsync; 0 syncs

  std::string target_;
  std::string temp_;
  int fd_ = -1;
  int error_ = 0;
  bool committed_ = false;
};

}  // namespace isotope
