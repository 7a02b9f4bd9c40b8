// The parameter file, the directory batch and the native program's
// command line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "isotope/run/batch.hpp"
#include "isotope/run/options.hpp"
#include "isotope/run/params.hpp"
#include "isotope/base/errors.hpp"
#include "test_support.hpp"

using namespace isotope;
using testing_support::Outcome;
using testing_support::read_file;
using testing_support::run;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

Params parse(const std::string& text) { return parse_params(text, "params.txt"); }

std::optional<Error> error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return std::nullopt;
}

}  // namespace

TEST(ParamFile, LinesAndValues) {
  EXPECT_EQ(parse("isotope_peaks_num = 3\n"), (Params{{"isotope_peaks_num", "3"}}));
  EXPECT_EQ(parse("  the key \t=  two words \n"), (Params{{"the key", "two words"}}));
  EXPECT_EQ(parse("a=b=c"), (Params{{"a", "b"}}));
  EXPECT_EQ(parse("a==b\nx=\n=y"), (Params{{"a", ""}, {"x", ""}, {"", "y"}}));
  EXPECT_EQ(parse("# note = kept\n"), (Params{{"# note", "kept"}}));
  EXPECT_EQ(parse("a=1\na=2\nb=3\na=4"), (Params{{"a", "4"}, {"b", "3"}}));
  EXPECT_EQ(parse(""), Params{});
  EXPECT_EQ(parse("a=1\r\nb=2\rc=3\n"), (Params{{"a", "1"}, {"b", "2"}, {"c", "3"}}));
  // Unicode white space is stripped as str.strip() does.
  EXPECT_EQ(parse("\xc2\xa0" "a\xe3\x80\x80=\x0b" "1\x1f"), (Params{{"a", "1"}}));
}

TEST(ParamFile, BlankLinesAndCommentsAreSkippedOtherLinesWithoutEqualsFail) {
  EXPECT_EQ(parse("a=1\n\n  \t\n# a note\n  # another\nb=2\n\n"), (Params{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(parse("#x = 1\n"), (Params{{"#x", "1"}}));  // a "#" line with "=" is an option
  ParamFile lines = parse_param_file("a=1\n\n# c\nb=2\na=3\n", "params.txt");
  EXPECT_EQ(lines.lines, (std::vector<long>{5, 4}));
  for (const char* text : {"a=1\nword\n", "a=1\r\n\r\nb 2", "word # not a comment\n"}) {
    auto e = error_of([&] { parse(text); });
    ASSERT_TRUE(e) << text;
    EXPECT_EQ(e->kind(), ErrorKind::Index);
    EXPECT_EQ(e->line(), text[0] == 'w' ? 1 : (text[3] == '\r' ? 3 : 2)) << text;
    EXPECT_EQ(e->file(), "params.txt");
  }
  auto decode = error_of([] { parse("a=\xff\n"); });
  ASSERT_TRUE(decode);
  EXPECT_EQ(decode->kind(), ErrorKind::Decode);
  EXPECT_EQ(decode->decode_start(), 2u);
  auto missing = error_of([] { read_param("/nonexistent/params.txt"); });
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->kind_name(), "FileNotFoundError");
  EXPECT_EQ(missing->filename(), "/nonexistent/params.txt");
}

// Misspelled, unknown and repeated options of ours are named; other tools'
// options are not. The suggestions for 'isotope_foo' are Python's
// difflib.get_close_matches over the known names.
TEST(ParamFile, UnknownMisspelledAndRepeatedOptionsAreNamed) {
  const ParamFile f = parse_param_file(
      "isotope_peaks_num = 5\nisotope_charge_colum = Charge\nisotop_charge_colum = z\nIsotope_Charge_Column = z\n"
      "max_charge = 4\ncharge_column = z\nisotope_peaks_num = 3\nisotope_modifcation.Deamidated = H-1N-1O1\n"
      "isotope_modification.Deamidated = H-1N-1O1\nisotope_foo = 1\nisotope_peaks_num = 2\n",
      "p.txt");
  const std::string ignored = "?): it was ignored, line ";
  EXPECT_EQ(option_warnings(f),
            (std::vector<std::string>{
                "unknown option 'isotope_charge_colum' (did you mean 'isotope_charge_column'" + ignored + "2 of p.txt",
                "unknown option 'isotop_charge_colum' (did you mean 'isotope_charge_column'" + ignored + "3 of p.txt",
                "unknown option 'Isotope_Charge_Column' (did you mean 'isotope_charge_column'" + ignored + "4 of p.txt",
                "option 'isotope_peaks_num' is set on line 1 and again on line 7 of p.txt: the later value is used",
                "unknown option 'isotope_modifcation.Deamidated' (did you mean 'isotope_modification.Deamidated'" +
                    ignored + "8 of p.txt",
                "unknown option 'isotope_foo' (did you mean 'isotope_on_error', 'isotope_unimod' or "
                "'isotope_coverage'" + ignored + "10 of p.txt",
                "option 'isotope_peaks_num' is set on line 7 and again on line 11 of p.txt: the later value is used"}));
  EXPECT_TRUE(option_warnings(parse_param_file("isotope_peaks_num = 5\nthreads = 2\n", "p.txt")).empty());
}

TEST(DirectoryBatch, ChoosesTxtNamesInListingOrder) {
  // As Python's re.search(".txt$", name) decides.
  for (const char* yes : {"a.txt", "dtxt", "e_txt", "ztxt", ".txt", "x.txt\n", "xtxt\n"})
    EXPECT_TRUE(is_table_name(yes)) << yes;
  for (const char* no : {"b.TXT", "c.txt.bak", "notes.text", "txt", "txt\n", "\ntxt", ".txt\n\n", "a\ntxt"})
    EXPECT_FALSE(is_table_name(no)) << no;

  TempDir d;
  for (const char* name : {"a.txt", "b.TXT", "c.txt.bak", "dtxt", "e_txt", "notes.text", "txt"})
    write_file(d / name, "");
  std::filesystem::create_directory(d / "ztxt");
  // Sorted bytewise, whatever order the file system lists them in.
  EXPECT_EQ(list_tables(d.path().string()), (std::vector<std::string>{"a.txt", "dtxt", "e_txt", "ztxt"}));
  // The batch runs them in that order, with concatenated paths.
  std::string err;
  Console console{[](std::string_view) {}, [&](std::string_view s) { err += s; }};
  std::vector<std::string> seen;
  run_batch(d.path().string() + "/", std::nullopt, console, [&](const std::string& p) { seen.push_back(p); });
  const std::string dir = d.path().string() + "//";
  EXPECT_EQ(seen, (std::vector<std::string>{dir + "a.txt", dir + "dtxt", dir + "e_txt", dir + "ztxt"}));
  // The first failure stops the batch.
  int calls = 0;
  EXPECT_THROW(run_batch(d.path().string(), std::nullopt, console,
                         [&](const std::string&) {
                           ++calls;
                           throw Error::value("stop");
                         }),
               Error);
  EXPECT_EQ(calls, 1);
  // With isotope_on_error = continue every table runs; each failure and a
  // summary are reported.
  write_file(d / "params", "isotope_on_error = continue\n");
  calls = 0;
  BatchReport report = run_batch(d.path().string(), d / "params", console, [&](const std::string& p) {
    ++calls;
    if (p.find("_txt") == std::string::npos && p.find("dtxt") == std::string::npos) return;
    throw Error::lookup("unknown residue", "X");
  });
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(report.written, 2u);
  ASSERT_EQ(report.failed.size(), 2u);
  EXPECT_EQ(report.failed[0].name, "dtxt");
  EXPECT_EQ(err, "isotope: KeyError: unknown residue 'X'\nisotope: KeyError: unknown residue 'X'\n"
                 "isotope: 2 tables written, 2 failed: dtxt (KeyError: unknown residue 'X'), "
                 "e_txt (KeyError: unknown residue 'X')\n");
  // A folder without tables says what it holds, and reads no parameters.
  TempDir tsv;
  for (const char* name : {"s1.tsv", "s2.tsv", "s3.tsv", "s4.tsv", "s5.tsv", "s6.tsv"}) write_file(tsv / name, "");
  err.clear();
  run_batch(tsv.path().string(), tsv / "absent-params", console, [&](const std::string&) { ADD_FAILURE(); });
  EXPECT_EQ(err, "isotope: warning: folder '" + tsv.path().string() +
                     "' holds no table (a name ending in 'txt'): it holds 's1.tsv', 's2.tsv', 's3.tsv', 's4.tsv', "
                     "'s5.tsv' and 1 more\n");
  auto e = error_of([] { list_tables("/nonexistent"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind_name(), "FileNotFoundError");
}

// With isotope_input_format a folder run takes the engine's files whose
// header is the engine's: a pGlyco3 result folder's site table and an
// earlier output (the engine's header and ours) are skipped, a note each.
TEST(DirectoryBatch, EngineTablesPickedByTheirHeader) {
  TempDir d;
  write_file(d / "params", "isotope_input_format = pglyco3\n");
  write_file(d / "pGlycoDB-GP-FDR-Pro.txt", "Peptide\tMod\tGlycanComposition\tCharge\tPrecursorMZ\n");
  write_file(d / "pGlycoDB-GP-FDR-Pro-Quant-Site.txt", "Protein\tProSite\tGlycanComposition\n");
  write_file(d / "pGlycoDB-GP-FDR-Pro_isotope_pyopenms.txt",
             "Peptide\tMod\tGlycanComposition\tCharge\tPrecursorMZ\tPepSeq\tN\tH\tF\tS\tG\n");
  std::string err;
  Console console{[](std::string_view) {}, [&](std::string_view s) { err += s; }};
  std::vector<std::string> seen;
  run_batch(d.path().string(), d / "params", console, [&](const std::string& p) { seen.push_back(p); });
  EXPECT_EQ(seen, (std::vector<std::string>{d.path().string() + "/pGlycoDB-GP-FDR-Pro.txt"}));
  EXPECT_EQ(err,
            "isotope: warning: folder run: 'pGlycoDB-GP-FDR-Pro-Quant-Site.txt' was skipped: its header is not that of a "
            "pGlyco3 result table\n"
            "isotope: warning: folder run: 'pGlycoDB-GP-FDR-Pro_isotope_pyopenms.txt' was skipped: its header is not that "
            "of a pGlyco3 result table\n");
}

// A folder run over its own output folder: each earlier output is named
// once (not in another output folder), isotope_skip_outputs skips them;
// the options are checked once for the whole run, even when each table's
// run checks them too.
TEST(DirectoryBatch, EarlierOutputsAndOptionsOncePerRun) {
  TempDir d, other;
  for (const char* name : {"a.txt", "a_isotope_pyopenms.txt", "b.txt"}) write_file(d / name, "");
  write_file(other / "params", "isotope_peaks_num = 5\nisotope_charge_colum = Charge\n");
  std::string err;
  Console console{[](std::string_view) {}, [&](std::string_view s) { err += s; }};
  std::vector<std::string> seen;
  auto run_one = [&](const std::string& p) {
    warn_options(other / "params", console);
    seen.push_back(p.substr(p.rfind('/') + 1));
  };
  const std::string dir = d.path().string();
  run_batch(dir, other / "params", console, run_one, describe_error, dir + "/.");
  EXPECT_EQ(seen, (std::vector<std::string>{"a.txt", "a_isotope_pyopenms.txt", "b.txt"}));
  EXPECT_EQ(err, "isotope: warning: unknown option 'isotope_charge_colum' (did you mean 'isotope_charge_column'?): "
                 "it was ignored, line 2 of " + other / "params" + "\n"
                 "isotope: warning: 'a_isotope_pyopenms.txt' in '" + dir + "' is an earlier output of isotope (the "
                 "output folder is the input folder): it is read as a table and gives "
                 "'a_isotope_pyopenms_isotope_pyopenms.txt'; isotope_skip_outputs = true skips such names\n");
  err.clear();
  seen.clear();
  write_file(other / "params", "isotope_peaks_num = 5\n");
  run_batch(dir, other / "params", console, run_one, describe_error, other.path().string());
  EXPECT_EQ(err, "");
  EXPECT_EQ(seen.size(), 3u);
  write_file(other / "params", "isotope_peaks_num = 5\nisotope_skip_outputs = true\n");
  seen.clear();
  run_batch(dir, other / "params", console, run_one, describe_error, dir);
  EXPECT_EQ(seen, (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(err, "");
}

// ---------------------------------------------------------------------------
// The native program.

namespace {

const std::string kExe = ISOTOPE_EXE;

const std::string kHelp =
    "usage: isotope [-h] [-d INPUT_DIR] [-i INPUT_FILE] [-o OUTPUT_DIR]\n"
    "               [-p PARAM_FILE]\n"
    "\n"
    "isotope\n"
    "\n"
    "options:\n"
    "  -h, --help     show this help message and exit\n"
    "  -d INPUT_DIR   Add input directory\n"
    "  -i INPUT_FILE  Add input file\n"
    "  -o OUTPUT_DIR  Add output directory\n"
    "  -p PARAM_FILE  Add parameter file\n";

struct Workspace {
  TempDir dir;
  std::string params = dir / "params.txt";
  std::string in_dir = dir / "in";
  std::string out_dir = dir / "out";
  std::string table = dir / "one.txt";
  Workspace() {
    write_file(params, "isotope_peaks_num = 5\n");
    std::filesystem::create_directory(in_dir);
    std::filesystem::create_directory(out_dir);
    write_file(table, "PepSeq N H F S G\nEEQYNSTYR 4 3 1 0 0\n");
    write_file(in_dir + "/a.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
  }
  Outcome isotope(std::vector<std::string> args) {
    args.insert(args.begin(), kExe);
    return run(args);
  }
  std::vector<std::string> outputs() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(out_dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

}  // namespace

TEST(NativeMain, HelpAndUsageProblems) {
  Workspace w;
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{}, 2, ""},
      {{"-p", w.params}, 2, ""},
      {{"-d", w.in_dir}, 2, ""},
      {{"-i", w.table, "-o", w.out_dir}, 2, ""},
      {{"-h"}, 0, ""},
      {{"-i", w.table, "-p", w.params, "--help"}, 0, ""},
      {{"-i", w.table, "--he", "-p", w.params}, 0, ""},
      {{"stray", "-p", w.params}, 2, "error: unrecognized arguments: stray\n"},
      {{"-p", w.params, "-i"}, 2, "error: argument -i: expected one argument\n"},
      {{"-i", "-h"}, 2, "error: argument -i: expected one argument\n"},
      {{"-x"}, 2, "error: unrecognized arguments: -x\n"},
  };
  for (const auto& c : cases) {
    Outcome o = w.isotope(c.args);
    EXPECT_EQ(o.status, c.status) << c.args.size();
    EXPECT_EQ(o.out, kHelp);
    EXPECT_EQ(o.err, c.err);
    EXPECT_TRUE(w.outputs().empty());
  }
}

TEST(NativeMain, RunsOneTableOrAFolder) {
  Workspace w;
  // Attached value, repeated option (the last counts).
  Outcome one = w.isotope({"-i" + w.table, "-o", "nowhere", "-o=" + w.out_dir, "-p", w.params});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "Build isotope patterns for " + w.table + "\n");
  EXPECT_EQ(w.outputs(), (std::vector<std::string>{"one_isotope_pyopenms.txt"}));
  std::filesystem::remove(w.out_dir + "/one_isotope_pyopenms.txt");

  // A misspelled option is named once, before the table's run.
  write_file(w.params, "isotope_peaks_num = 5\nisotope_peaks_nmu = 3\n");
  Outcome misspelled = w.isotope({"-i", w.table, "-o", w.out_dir, "-p", w.params});
  EXPECT_EQ(misspelled.err.rfind("isotope: warning: unknown option 'isotope_peaks_nmu' (did you mean "
                                 "'isotope_peaks_num'?): it was ignored, line 2 of " + w.params + "\n100%",
                                 0),
            0u)
      << misspelled.err;
  std::filesystem::remove(w.out_dir + "/one_isotope_pyopenms.txt");
  write_file(w.params, "isotope_peaks_num = 5\n");

  // -d wins over -i: the table named by -i is not read.
  Outcome both = w.isotope({"-i", w.dir / "absent.txt", "-d", w.in_dir, "-o", w.out_dir, "-p", w.params});
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(both.out, "Build isotope patterns for " + w.in_dir + "/a.txt\n");
  EXPECT_EQ(w.outputs(), (std::vector<std::string>{"a_isotope_pyopenms.txt"}));
}

TEST(NativeMain, FolderRunPastAFailingTableExitsOne) {
  Workspace w;
  write_file(w.params, "isotope_peaks_num = 5\nisotope_on_error = continue\n");
  write_file(w.in_dir + "/b.txt", "PepSeq N H F S G\nPEPXIDE 1 0 0 0 0\n");
  write_file(w.in_dir + "/c.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
  Outcome o = w.isotope({"-d", w.in_dir, "-o", w.out_dir, "-p", w.params});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err.substr(o.err.rfind('\n', o.err.size() - 2) + 1),
            "isotope: 2 tables written, 1 failed: b.txt (KeyError: unknown residue 'X' in PepSeq, line 2 of " +
                w.in_dir + "/b.txt)\n");
  EXPECT_EQ(w.outputs(), (std::vector<std::string>{"a_isotope_pyopenms.txt", "c_isotope_pyopenms.txt"}));
}

TEST(NativeMain, FailuresPrintOneLineAndExitOne) {
  Workspace w;
  struct Case {
    std::vector<std::string> args;
    std::string err_start;
  } cases[] = {
      // -o omitted: every row is computed, then the output path fails.
      {{"-i", w.table, "-p", w.params}, "isotope: TypeError: no output directory given"},
      {{"-i", w.table, "-o", w.out_dir, "-p", ""}, "isotope: FileNotFoundError: [Errno 2] No such file or directory: ''"},
      {{"-d", "", "-o", w.out_dir, "-p", w.params}, "isotope: FileNotFoundError: [Errno 2] No such file or directory: ''"},
      {{"-i", w.dir / "missing.txt", "-o", w.out_dir, "-p", w.params}, "isotope: FileNotFoundError: "},
      {{"-i", w.table, "-o", w.dir / "absent", "-p", w.params}, "isotope: FileNotFoundError: "},
  };
  for (const auto& c : cases) {
    Outcome o = w.isotope(c.args);
    EXPECT_EQ(o.status, 1);
    std::string last_line = o.err.substr(o.err.rfind('\n', o.err.size() - 2) + 1);
    EXPECT_EQ(last_line.rfind(c.err_start, 0), 0u) << o.err;
    EXPECT_EQ(std::count(last_line.begin(), last_line.end(), '\n'), 1);
    EXPECT_TRUE(w.outputs().empty());
  }
  // A folder named like a table is handed over as one, and fails there.
  std::string batch = w.dir / "batch";
  std::filesystem::create_directories(batch + "/ztxt");
  Outcome folder = w.isotope({"-d", batch, "-o", w.out_dir, "-p", w.params});
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.out, "Build isotope patterns for " + batch + "/ztxt\n");
  EXPECT_NE(folder.err.find("isotope: IsADirectoryError: "), std::string::npos) << folder.err;

  // A folder given as the table says which option reads folders.
  Outcome dir_as_table = w.isotope({"-i", w.in_dir, "-o", w.out_dir, "-p", w.params});
  EXPECT_EQ(dir_as_table.err, "isotope: IsADirectoryError: [Errno 21] Is a directory: '" + w.in_dir +
                                  "'; a folder is read with -d (-i reads one table)\n");

  write_file(w.in_dir + "/b.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\nPEPXIDE 1 0 0 0 0\n");
  Outcome bad = w.isotope({"-i", w.in_dir + "/b.txt", "-o", w.out_dir, "-p", w.params});
  EXPECT_NE(bad.err.find("isotope: KeyError: unknown residue 'X' in PepSeq, line 3 of " + w.in_dir + "/b.txt\n"),
            std::string::npos)
      << bad.err;
}
