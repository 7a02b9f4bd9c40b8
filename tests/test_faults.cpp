// Faults from outside: folders that refuse writes, a full disk, files that
// vanish or cannot be read, and very large cells. Each must give a clear
// error, leave no partial file, and never touch an existing output.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include "isotope/io/output_file.hpp"
#include "isotope/run/batch.hpp"
#include "isotope/model/composition.hpp"
#include "isotope/base/errors.hpp"
#include "isotope/run/pipeline.hpp"
#include "test_support.hpp"

using namespace isotope;
using namespace testing_support;

namespace {

constexpr uid_t kNobody = 65534;
const std::string kExe = ISOTOPE_EXE;
const std::string kOld = "an earlier result\n";

// A world-readable workspace: the program may run as another user.
struct Workspace {
  TempDir dir;
  std::string params = dir / "params.txt";
  std::string out = dir / "out";
  std::string table = dir / "s.txt";
  std::string existing = out + "/s_isotope_pyopenms.txt";
  explicit Workspace(int rows = 3) {
    ::chmod(dir.path().c_str(), 0755);
    write_file(params, "isotope_peaks_num = 5\n");
    std::string text = "PepSeq N H F S G Protein\n";
    for (int i = 0; i < rows; ++i)
      text += "LC[Carbamidomethyl]PDC[Carbamidomethyl]PLLAPLNDSR 5 6 0 " + std::to_string(i % 4) + " 0 FETUA_BOVIN\n";
    write_file(table, text);
    std::filesystem::create_directory(out);
    write_file(existing, kOld);
    for (const auto& p : {params, table, existing}) ::chmod(p.c_str(), 0644);
    ::chmod(out.c_str(), 0777);
  }
  Outcome isotope(const Limits& limits) {
    return run_limited({kExe, "-i", table, "-o", out, "-p", params}, limits);
  }
  // The output folder holds the earlier result and nothing else.
  void expect_untouched() {
    EXPECT_EQ(read_file(existing), kOld);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 1);
  }
};

void expect_one_error_line(const Outcome& o, const std::string& start) {
  EXPECT_EQ(o.status, 1) << o.err;
  std::string last = o.err.substr(o.err.rfind('\n', o.err.size() - 2) + 1);
  EXPECT_EQ(last.rfind("isotope: " + start, 0), 0u) << o.err;
}

}  // namespace

TEST(Faults, ReadOnlyOutputFolder) {
  Workspace w;
  ::chmod(w.out.c_str(), 0555);
  Outcome o = w.isotope({.uid = kNobody, .file_size = {}});
  expect_one_error_line(o, "PermissionError: [Errno 13] Permission denied: '" + w.existing + "'");
  w.expect_untouched();
}

TEST(Faults, FileSizeLimitLikeAFullDisk) {
  Workspace w(2000);
  Outcome o = w.isotope({.uid = {}, .file_size = 4096});
  expect_one_error_line(o, "OSError: [Errno 27] File too large");
  w.expect_untouched();
}

TEST(Faults, FullFileSystem) {
  Workspace w(2000);
  if (::getuid() != 0 || ::mount("tmpfs", w.out.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  write_file(w.existing, kOld);
  Outcome o = w.isotope({});
  expect_one_error_line(o, "OSError: [Errno 28] No space left on device");
  w.expect_untouched();
  ::umount(w.out.c_str());
}

TEST(Faults, UnreadableParameterFile) {
  Workspace w;
  ::chmod(w.params.c_str(), 0);
  Outcome o = w.isotope({.uid = kNobody, .file_size = {}});
  expect_one_error_line(o, "PermissionError: [Errno 13] Permission denied: '" + w.params + "'");
  w.expect_untouched();
}

TEST(Faults, TableVanishesDuringAFolderRun) {
  Workspace w;
  std::string in = w.dir / "in";
  std::filesystem::create_directory(in);
  write_file(in + "/a.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
  write_file(in + "/b.txt", "PepSeq N H F S G\nGG 2 0 0 0 0\n");
  Console quiet{[](std::string_view) {}, [](std::string_view) {}};
  int calls = 0;
  try {
    run_batch(in, w.params, quiet, [&](const std::string& input) {
      // The first table run (a.txt: tables run in sorted order) deletes
      // b.txt, listed before any ran.
      if (calls++ == 0) std::filesystem::remove(in + "/b.txt");
      run_single_file(input, w.out, w.params, ModelTables::reference(), quiet);
    });
    ADD_FAILURE() << "the vanished table was not reported";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind_name(), "FileNotFoundError");
  }
  EXPECT_EQ(calls, 2);
  // The table done before the failure keeps its output.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(w.out), {}), 2);
}

// A megabyte in one cell: no deep recursion, no quadratic time.
TEST(Faults, MegabyteCells) {
  Workspace w;
  std::string pep;
  while (pep.size() < (1u << 20)) pep += "PEPTIDEKC[Carbamidomethyl]";
  std::string count_cell = "4" + std::string(1u << 20, 'x');  // the x's are skipped in the glycan
  write_file(w.table, "PepSeq N H F S G\n" + pep + " 4 5 1 0 0\nPEPTIDE " + count_cell + " 5 1 0 0\n");
  Console quiet{[](std::string_view) {}, [](std::string_view) {}};
  run_single_file(w.table, w.out, w.params, ModelTables::reference(), quiet);
  std::string got = read_file(w.existing);
  EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 3);
  EXPECT_NE(got.find("\t" + count_cell + "\t5\t1\t0\t0\tN" + count_cell + "H5F1S0G0\t\t"), std::string::npos);

  // A megabyte glycan code: found whole, reported in one short line.
  std::string code;
  while (code.size() < (1u << 20)) code += "H[[]]";
  write_file(w.table, "PepSeq N H F S G\nPEPTIDE " + code + "5 5 1 0 0\n");
  try {
    run_single_file(w.table, w.out, w.params, ModelTables::reference(), quiet);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Lookup);
    EXPECT_EQ(e.key(), code);
    EXPECT_LT(std::string(e.what()).size(), 300u);
  }
}

// A failing fsync (a disk that cannot make the file durable) fails the table
// like a failing write: the error names the output, and no file is left.
TEST(Faults, FailedFsyncLeavesNoFile) {
  Workspace w;
  Console quiet{[](std::string_view) {}, [](std::string_view) {}};
  Error e = error_of([&] {
    OutputFile::FailingFsync seam(EIO);
    run_single_file(w.table, w.out, w.params, ModelTables::reference(), quiet);
  });
  EXPECT_EQ(e.os_errno(), EIO);
  EXPECT_EQ(e.filename(), w.existing);
  w.expect_untouched();
}

// With standard output and standard error in one file, the start message
// comes before the progress counter and the warnings: each stream is
// flushed as it is written.
TEST(Faults, MessagesKeepTheirOrderInOneFile) {
  Workspace w;
  write_file(w.table, "PepSeq N H F S G\nGGx 1 0 0 0 0\n");
  TempDir io;
  std::string both = io / "both";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, both.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> argv = {kExe, "-i", w.table, "-o", w.out, "-p", w.params};
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ), 0);
  int status = 0;
  waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  std::string text = read_file(both);
  EXPECT_EQ(text.rfind("Build isotope patterns for " + w.table + "\nisotope: warning: PepSeq 'GGx'", 0), 0u) << text;
  EXPECT_NE(text.find("\n100%|"), std::string::npos) << text;
}
