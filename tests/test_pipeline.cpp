// The single-file pipeline: what it writes, what it reports and in which
// order, and that a failed table leaves nothing behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <map>
#include <numeric>
#include <sstream>
#include <thread>

#include "isotope/base/errors.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/run/options.hpp"
#include "isotope/run/ordered_run.hpp"
#include "isotope/run/pipeline.hpp"
#include "isotope/base/pyformat.hpp"
#include "test_support.hpp"

using namespace isotope;
using testing_support::error_of;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

struct Run {
  std::string out, err;
  Console console() {
    return Console{[this](std::string_view s) { out += s; }, [this](std::string_view s) { err += s; }};
  }
};

struct Fixture {
  TempDir dir;
  std::string params = dir / "params.txt";
  std::string out_dir = dir / "out";
  Run run;
  Fixture(const std::string& param_text = "isotope_peaks_num = 5\n") {
    write_file(params, param_text);
    std::filesystem::create_directory(out_dir);
  }
  std::string table(const std::string& name, const std::string& text) {
    write_file(dir / name, text);
    return dir / name;
  }
  void process(const std::string& input, const std::optional<std::string>& out) {
    Console c = run.console();
    run_single_file(input, out, params, ModelTables::reference(), c);
  }
  std::string output(const std::string& base) { return read_file(out_dir + "/" + base + "_isotope_pyopenms.txt"); }
};

// The values of a comma-joined cell, each within 1e-6 of the expected one,
// relatively (OpenMS's last float bits follow the allocator under the
// sanitizers).
void expect_close(const std::string& cell, const std::vector<double>& expected) {
  std::vector<double> got;
  std::istringstream in(cell);
  for (std::string v; std::getline(in, v, ',');) got.push_back(std::stod(v));
  ASSERT_EQ(got.size(), expected.size()) << cell;
  for (std::size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], expected[k], 1e-6 * expected[k]) << cell;
}

}  // namespace

TEST(Pipeline, WritesTheTableWithTheFourColumns) {
  Fixture f;
  std::string in = f.table("s1.txt",
                           "PepSeq N H F S G Score\n"
                           "EEQYNSTYR 4 3 1 0 0 42.5\n"
                           "AC[Carbamidomethyl]M[Oxidation]K 2 0 0 0 0 7\n"
                           "EEQYNSTYRK[tmt10] 4 3 1 0 0 1\n");
  f.process(in, f.out_dir);
  EXPECT_EQ(f.run.out, "Build isotope patterns for " + in + "\n");
  // Not a terminal: the counter's one final line.
  EXPECT_EQ(f.run.err.substr(0, 42), "100%|\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588| 3/3 [") << f.run.err;
  EXPECT_EQ(f.run.err.back(), '\n');

  std::string got = f.output("s1");
  std::string header = "PepSeq\tN\tH\tF\tS\tG\tScore\tGlycan\tPepMods\tGP_Mass\tGP_Isotopes\n";
  ASSERT_EQ(got.substr(0, header.size()), header);
  // The IgG1 G0F glycopeptide: mass to the last digit, and the pattern of
  // C106H164N18O59 as OpenMS 2.6's coarse generator gives it.
  std::string row1 = "EEQYNSTYR\t4\t3\t1\t0\t0\t42.5\tN4H3F1S0G0\t\t2633.03859989992\t";
  ASSERT_EQ(got.substr(header.size(), row1.size()), row1);
  std::string rest = got.substr(header.size() + row1.size());
  expect_close(rest.substr(0, rest.find('\n')),
               {0.261175274848938, 0.327589213848114, 0.2354590743780136, 0.12354118376970291, 0.052235230803489685});
  EXPECT_NE(got.find("\t7.0\tN2H0F0S0G0\t2,C,Carbamidomethyl/3,M,Oxidation\t"), std::string::npos);
  // Labelled atoms count in the mass but not in the pattern.
  std::size_t tmt = got.find("10,K,tmt10\t");
  ASSERT_NE(tmt, std::string::npos);
  std::string tail = got.substr(tmt + 11);
  double mass = std::stod(tail.substr(0, tail.find('\t')));
  EXPECT_NEAR(mass, 2633.03859989992 + 128.09496301 + 229.16293200, 1e-6);
  std::string isotopes = tail.substr(tail.find('\t') + 1);
  expect_close(isotopes.substr(0, isotopes.find('\n')),  // C120H196N21O62: the label left out
               {0.22217704355716705, 0.31584975123405457, 0.25122299790382385, 0.14436668157577515, 0.06638354063034058});
}

TEST(Pipeline, KeepsExistingResultColumnsInPlace) {
  Fixture f;
  std::string in = f.table("g.txt", "Glycan PepSeq N H F S G GP_Mass\nold PEPTIDE 2 0 0 0 0 1.5\n");
  f.process(in, f.out_dir);
  std::string got = f.output("g");
  EXPECT_EQ(got.substr(0, got.find('\n')), "Glycan\tPepSeq\tN\tH\tF\tS\tG\tGP_Mass\tPepMods\tGP_Isotopes");
  EXPECT_EQ(got.substr(got.find('\n') + 1, 23), "N2H0F0S0G0\tPEPTIDE\t2\t0\t");
}

TEST(Pipeline, TypedCellsShowInTheGlycanAndTheOutput) {
  Fixture f;
  // One missing cell turns the N column into floats: 4 is 4.0 everywhere.
  std::string in = f.table("t.txt", "PepSeq N H F S G Note\nGG 4 5 1 0 0 NA\nGG NA 5 1 0 0 \"a b\"\n");
  f.process(in, f.out_dir);
  std::string got = f.output("t");
  EXPECT_NE(got.find("GG\t4.0\t5\t1\t0\t0\t\tN4.0H5F1S0G0\t\t"), std::string::npos) << got;
  EXPECT_NE(got.find("GG\t\t5\t1\t0\t0\ta b\tNnanH5F1S0G0\t\t"), std::string::npos) << got;
}

TEST(Pipeline, HeaderOnlyTableGivesAnEmptyHeaderLine) {
  Fixture f("no option here = 1\n");  // isotope_peaks_num is never looked up
  std::string in = f.table("h.txt", "PepSeq N H F S G\n");
  f.process(in, f.out_dir);
  EXPECT_EQ(f.output("h"), "\n");
}

TEST(Pipeline, OutputPathIsAPlainConcatenation) {
  Fixture f;
  std::string in = f.table("a.b.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
  f.process(in, f.out_dir + "/");  // the doubled separator names the same file
  EXPECT_FALSE(f.output("a.b").empty());
  EXPECT_EQ(output_path("out", "s1"), "out/s1_isotope_pyopenms.txt");
}

TEST(Pipeline, RowErrorsNameFileLineAndColumn) {
  struct Case {
    const char* table;
    ErrorKind kind;
    const char* key;
    const char* message;
  } cases[] = {
      {"PepSeq N H F S G\nGG 1 0 0 0 0\n\nPEPXIDE 1 0 0 0 0\n", ErrorKind::Lookup, "X",
       "unknown residue 'X' in PepSeq, line 4 of "},
      {"PepSeq N H F S G\nC[Carbamidomethyl[C]]K 1 0 0 0 0\n", ErrorKind::Lookup, "Carbamidomethyl[C",
       "unknown modification 'Carbamidomethyl[C' (did you mean 'Carbamidomethyl'?) in PepSeq, line 2 of "},
      {"PepSeq N H F S G\nGG 1 X1 0 0 0\n", ErrorKind::Lookup, "X", "unknown glycan code 'X' in Glycan, line 2 of "},
      {"PepSeq N H F S\nGG 1 0 0 0\n", ErrorKind::Lookup, "G", "table has no column 'G' at line 1 of "},
      {"PepSeq,N,H,F,S,G\nGG,1,0,0,0,0\n", ErrorKind::Lookup, "N",
       "table has no column 'N'; its header holds ',': the table looks comma-separated"},
      {"PepSeq N H F S G\nNA 1 0 0 0 0\n", ErrorKind::Type, "", "expected string or bytes-like object"},
      {"PepSeq N H F S G\nGG 1 0 0 0 0 9\n", ErrorKind::Value, "", ""},
  };
  for (const auto& c : cases) {
    Fixture f;
    std::string in = f.table("e.txt", c.table);
    Error e = error_of([&] { f.process(in, f.out_dir); });
    EXPECT_EQ(e.kind(), c.kind) << c.table;
    EXPECT_EQ(e.key(), c.key) << c.table;
    EXPECT_EQ(e.file(), in);
    EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    EXPECT_EQ(f.dir.names(), (std::vector<std::string>{"e.txt", "out", "params.txt"}));
    EXPECT_TRUE(std::filesystem::is_empty(f.out_dir)) << c.table;
  }
}

TEST(Pipeline, ParameterErrors) {
  struct Case {
    const char* params;
    ErrorKind kind;
  } cases[] = {{"other = 1\n", ErrorKind::Lookup}, {"isotope_peaks_num = 5.0\n", ErrorKind::Value},
               {"isotope_peaks_num = -1\n", ErrorKind::Value}, {"isotope_peaks_num 5\n", ErrorKind::Index}};
  for (const auto& c : cases) {
    Fixture f(c.params);
    std::string in = f.table("p.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
    EXPECT_EQ(error_of([&] { f.process(in, f.out_dir); }).kind(), c.kind) << c.params;
  }
  Fixture three("isotope_peaks_num =  3 \n");
  std::string in = three.table("p.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
  three.process(in, three.out_dir);
  std::string got = three.output("p");
  std::string isotopes = got.substr(got.rfind('\t') + 1);
  EXPECT_EQ(std::count(isotopes.begin(), isotopes.end(), ','), 2);  // three peaks
}

TEST(Pipeline, AMissingOutputFolderFailsBeforeTheRows) {
  Fixture f;
  std::string bad = f.table("bad.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\nZZ 1 0 0 0 0\n");
  std::string missing = f.dir / "nowhere";
  Error e = error_of([&] { f.process(bad, missing); });
  EXPECT_EQ(e.kind_name(), "FileNotFoundError");
  EXPECT_EQ(e.filename(), missing + "/bad_isotope_pyopenms.txt");
  EXPECT_NE(std::string(e.what()).find("the output folder '" + missing + "' does not exist: create it"),
            std::string::npos)
      << e.what();
  Error none = error_of([&] { f.process(bad, std::nullopt); });
  EXPECT_EQ(none.kind(), ErrorKind::Type);
  EXPECT_NE(std::string(none.what()).find("give the output folder (-o)"), std::string::npos);
  // Neither read a row: no progress was drawn.
  EXPECT_EQ(f.run.err, "");
}

TEST(Pipeline, FailedTableNeverTouchesAnExistingOutput) {
  Fixture f;
  std::string in = f.table("s.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
  f.process(in, f.out_dir);
  std::string first = f.output("s");
  ::chmod((f.out_dir + "/s_isotope_pyopenms.txt").c_str(), 0640);
  f.table("s.txt", "PepSeq N H F S G\nGG 2 0 0 0 0\nBAD? 1 0 0 0 0\n");
  EXPECT_EQ(error_of([&] { f.process(in, f.out_dir); }).kind(), ErrorKind::Lookup);
  EXPECT_EQ(f.output("s"), first);
  // A later good run replaces the file and keeps its mode.
  f.table("s.txt", "PepSeq N H F S G\nGG 2 0 0 0 0\n");
  f.process(in, f.out_dir);
  EXPECT_NE(f.output("s"), first);
  struct stat st;
  ASSERT_EQ(::stat((f.out_dir + "/s_isotope_pyopenms.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.out_dir), {}), 1);
}

TEST(Pipeline, ReadErrorsComeInOrder) {
  Fixture f;
  // The parameter file is read before the table, the table before any row.
  std::string in = f.table("r.txt", "PepSeq N H F S G\nGG 1 0 0 0 0 extra\n");
  Fixture no_params;
  std::filesystem::remove(no_params.params);
  std::string in2 = no_params.table("r.txt", "");
  EXPECT_EQ(error_of([&] { no_params.process(in2, no_params.out_dir); }).kind_name(), "FileNotFoundError");
  EXPECT_EQ(no_params.run.out, "Build isotope patterns for " + in2 + "\n");
  Error e = error_of([&] { f.process(in, f.out_dir); });
  EXPECT_EQ(e.line(), 2);
  EXPECT_EQ(error_of([&] { f.process(f.dir / "absent.txt", f.out_dir); }).kind_name(), "FileNotFoundError");
  EXPECT_EQ(error_of([&] { f.process(f.table("empty.txt", ""), f.out_dir); }).kind(), ErrorKind::Value);
}

// --- Notes: rows whose result rests on a guess --------------------------

namespace {

// The warning lines of a run's error stream.
std::vector<std::string> warning_lines(const std::string& err) {
  std::vector<std::string> out;
  std::size_t p = 0;
  while ((p = err.find("isotope: warning: ", p)) != std::string::npos) {
    std::size_t end = err.find('\n', p);
    out.push_back(err.substr(p + 18, end - p - 18));
    p = end;
  }
  return out;
}

}  // namespace

TEST(Notes, EachKindNamesItsLineAndCharacter) {
  Fixture f;
  std::string in = f.table("s1.txt",
                           "PepSeq\tN\tH\tF\tS\tG\tScore\n"
                           "EEQYNSTYR\t4\t3\t1\t0\t0\t1\n"
                           "EEQYNSTYr\t4\t3\t1\t0\t0\t2\n"
                           "[Acetyl]-EEQYNSTYR\t4\t3\t1\t0\t0\t3\n"
                           "K.EEQYNSTYR.S\t4\t3\t1\t0\t0\t4\n"
                           "EEQYNSTYR[Carbamidomethyl\t4\t3\t1\t0\t0\t5\n"
                           "C[]K\t4\t3\t1\t0\t0\t6\n"
                           "C[Carbamidomethyl][Oxidation]K\t4\t3\t1\t0\t0\t7\n"
                           "EEQYNSTYR\t4\t\t1\t0\t0\t8\n"
                           "LC(Carbamidomethyl)PDC(Carbamidomethyl)K\t4\t3\t1\t0\t0\t9\n");
  f.process(in, f.out_dir);
  const std::string at = " of " + in;
  EXPECT_EQ(warning_lines(f.run.err),
            (std::vector<std::string>{
                "PepSeq 'EEQYNSTYr' has 'r' at character 9, which is neither a residue nor a bracketed modification; "
                "it was skipped, line 3" + at,
                "PepSeq '[Acetyl]-EEQYNSTYR' has '[' at character 1, which follows no residue; the brackets were "
                "skipped and the capital letters inside were read as residues (7 more characters were skipped), "
                "line 4" + at,
                "PepSeq 'K.EEQYNSTYR.S' has '.' at character 2, which is neither a residue nor a bracketed "
                "modification; it was skipped (1 more character was skipped); the flanking residues around the '.' "
                "were read as residues (KS): write the plain sequence 'EEQYNSTYR', line 5" + at,
                "PepSeq 'EEQYNSTYR[Carbamidomethyl' has an unclosed '[' at character 10; it was skipped and the "
                "capital letters after it were read as residues (14 more characters were skipped), line 6" + at,
                "PepSeq 'C[]K' has an empty '[]' at character 2; it was skipped, line 7" + at,
                "PepSeq 'C[Carbamidomethyl][Oxidation]K' has a second bracket at character 19 right after a "
                "modification; only the first counts, and the capital letters inside the second were read as "
                "residues (9 more characters were skipped), line 8" + at,
                "row has 6 fields where the header has 7; its last cell was read as missing (an empty cell in a "
                "tab-separated file? read it with isotope_separator = tab), line 9" + at,
                "PepSeq 'LC(Carbamidomethyl)PDC(Carbamidomethyl)K' has '(' at character 3, which is neither a "
                "residue nor a bracketed modification; it was skipped (31 more characters were skipped); the capital "
                "letters inside parentheses were read as residues (CC): a modification is written in square brackets "
                "after its residue, as C[Carbamidomethyl], line 10" + at,
            }));
  // The output is what it was without notes: the shifted row is as pandas reads it.
  EXPECT_NE(f.output("s1").find("EEQYNSTYR\t4\t1\t0\t0\t8\t\tN4H1F0S0G8\t"), std::string::npos);

  Fixture counts;
  in = counts.table("c.txt",
                    "PepSeq N H F S G\n"
                    "GG 4 3 1 0 0\n"
                    "GG two 3 1 0 0\n"
                    "GG 4 NA 1 0 0\n"
                    "GG 4 3 -1 0 0\n"
                    "GG 4 3 1 1.5 True\n");
  counts.process(in, counts.out_dir);
  const std::string cat = " of " + in;
  EXPECT_EQ(warning_lines(counts.run.err),
            (std::vector<std::string>{
                "count cell N 'two' is text: it was read as 0 (Glycan "
                "'NtwoH3.0F1S0.0G0'), line 3" + cat,
                "count cell H 'NA' is missing: it was read as 0 (Glycan "
                "'N4HnanF1S0.0G0'), line 4" + cat,
                "count column H holds floats because of the missing cell here, so every Glycan string of the table "
                "writes H as a float (4 is written H4.0), line 4" + cat,
                "count cell F '-1' is negative: it was read as 0 (Glycan "
                "'N4H3.0F-1S0.0G0'), line 5" + cat,
                "count cells S '1.5' (not a whole number) and G 'True' (a truth value) are not non-negative whole "
                "numbers: they were read as 1 and 0 (Glycan 'N4H3.0F1S1.5GTrue'), line 6" + cat,
                "count column S holds floats because of the cell '1.5' here, so every Glycan string of the table "
                "writes S as a float (4 is written S4.0), line 6" + cat,
            }));
}

TEST(Notes, WellFormedTablesGetNone) {
  Fixture f;
  for (const char* name : {"glycopeptides.txt", "batch/fetuin.txt", "batch/tmt_igg.txt"}) {
    std::string in = std::string(ISOTOPE_EXAMPLES) + "/" + name;
    f.process(in, f.out_dir);
  }
  EXPECT_EQ(f.run.err.find("warning"), std::string::npos) << f.run.err;
}

TEST(Notes, CappedPerKindThenCounted) {
  Fixture f;
  std::string text = "PepSeq N H F S G\n";
  for (int i = 0; i < 13; ++i) text += "EEQYNSTYr 4 3 1 0 0\n";
  text += "GG 1 0 0 0 -2\n";
  std::string in = f.table("many.txt", text);
  f.process(in, f.out_dir);
  std::vector<std::string> lines = warning_lines(f.run.err);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[9].substr(lines[9].rfind(", line")), ", line 11 of " + in);
  EXPECT_EQ(lines[10].substr(0, 22), "count cell G '-2' is n");  // another kind has its own cap
  EXPECT_EQ(lines[11], "3 more rows with skipped PepSeq characters in " + in);
}

TEST(Notes, StrictModeListsEveryProblemAndWritesNothing) {
  Fixture f("isotope_peaks_num = 5\nisotope_strict = true\n");
  std::string in = f.table("s.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
  f.process(in, f.out_dir);
  const std::string before = f.output("s");
  std::string text = "PepSeq N H F S G\nGG 1 0 0 0 0\n";
  for (int i = 0; i < 22; ++i) text += "GGx 1 0 0 0 0\n";
  text += "GG 1 0 0 0 x\n";
  f.table("s.txt", text);
  f.run.err.clear();
  Error e = error_of([&] { f.process(in, f.out_dir); });
  EXPECT_EQ(e.kind(), ErrorKind::Value);
  std::string what = e.what();
  EXPECT_EQ(what.substr(0, what.find('\n')), "isotope_strict = true and 23 rows of " + in + " rest on a guess:");
  EXPECT_NE(what.find("\n  line 3: PepSeq 'GGx' has 'x' at character 3"), std::string::npos) << what;
  EXPECT_EQ(std::count(what.begin(), what.end(), '\n'), 21);  // 20 listed, then the count
  EXPECT_EQ(what.substr(what.rfind('\n')), "\n  and 3 more");
  EXPECT_EQ(f.output("s"), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.out_dir), {}), 1);
  EXPECT_EQ(f.run.err.find("warning"), std::string::npos);
  // One row with two problems is one row, listed with both.
  f.table("s.txt", "PepSeq N H F S G\nGGx 1 0 0 0 x\n");
  what = error_of([&] { f.process(in, f.out_dir); }).what();
  EXPECT_EQ(what.substr(0, what.find('\n')), "isotope_strict = true and 1 row of " + in + " rests on a guess:");
  EXPECT_NE(what.find("\n  line 2: PepSeq 'GGx' has 'x' at character 3"), std::string::npos) << what;
  EXPECT_NE(what.find("\n  line 2: count cell G 'x' is text"), std::string::npos) << what;
}

TEST(Notes, PeaksNumZeroGivesTheWholePattern) {
  Fixture f("isotope_peaks_num = 0\n");
  std::string in = f.table("z.txt", "PepSeq N H F S G\nG 0 0 0 0 0\n");
  f.process(in, f.out_dir);
  std::string got = f.output("z");
  std::string isotopes = got.substr(got.rfind('\t') + 1);
  // Glycine plus water is C2H5NO2: its isotopes span 1 (C) x 2 + 2 (H) x 5 + 1 (N) + 2 (O) x 2 = 17
  // neutrons, so an unlimited pattern has 18 peaks.
  EXPECT_EQ(std::count(isotopes.begin(), isotopes.end(), ','), 17);
  EXPECT_EQ(warning_lines(f.run.err),
            (std::vector<std::string>{"isotope_peaks_num = 0 sets no limit on the number of isotope peaks: rows got "
                                      "up to 18 peaks in " + in}));
}

// --- Threads: the same run whatever their number ---------------------------

TEST(Threads, SameBytesWarningsAndErrorForEveryThreadCount) {
  // 520 columns make typing blocks of 1024 rows, so 2600 rows span three
  // typing blocks and two pieces of the computing pass. A filler column
  // holds a decimal in the third block only: its other blocks join as floats.
  auto table = [](std::size_t bad_row, bool strict_problems) {
    std::string text = "PepSeq N H F S G";
    for (int c = 0; c < 514; ++c) text += " x" + std::to_string(c);
    text += '\n';
    for (std::size_t r = 0; r < 2600; ++r) {
      text += r == bad_row ? "PEPXIDE" : (strict_problems && r % 997 == 5) ? "EEQYNSTYr" : "EEQYNSTYR";
      for (std::size_t n : {2 + r % 5, r % 7, std::size_t{1}, r % 3, std::size_t{0}}) (text += ' ') += std::to_string(n);
      for (std::size_t c = 0; c < 514; ++c) {
        text += ' ';
        text += c == 7 && r == 2100 ? std::string("0.5") : std::to_string((r + c) % 10);
      }
      text += '\n';
    }
    return text;
  };
  struct Case {
    std::size_t bad_row;  // none: past the end
    const char* params;
  } cases[] = {{9999, "isotope_peaks_num = 3\n"},  {3, "isotope_peaks_num = 3\n"},
               {2048, "isotope_peaks_num = 3\n"},  {2047, "isotope_peaks_num = 3\n"},
               {2599, "isotope_peaks_num = 3\n"},  {9999, "isotope_peaks_num = 3\nisotope_strict = true\n"},
               {2300, "isotope_peaks_num = 3\nisotope_strict = true\n"}};
  for (const Case& c : cases) {
    std::string reference_out, reference_err;
    for (unsigned threads : {1u, 2u, 7u}) {
      Fixture f(c.params);
      std::string in = f.table("t.txt", table(c.bad_row, true));
      Console console = f.run.console();
      std::string what;
      try {
        run_single_file(in, f.out_dir, f.params, ModelTables::reference(), console, RunSettings{threads});
      } catch (const Error& e) {
        what = e.what();
      }
      std::string out = std::filesystem::exists(f.out_dir + "/t_isotope_pyopenms.txt") ? f.output("t") : "";
      std::string err = f.run.err.substr(0, f.run.err.rfind("100%|")) + what;  // the rate differs
      for (std::size_t p = 0; (p = err.find(in, p)) != std::string::npos;) err.replace(p, in.size(), "FILE");
      if (threads == 1) {
        reference_out = out;
        reference_err = err;
        EXPECT_EQ(out.empty(), c.bad_row < 2600 || std::string(c.params).find("strict") != std::string::npos);
        continue;
      }
      EXPECT_EQ(out, reference_out) << threads << " threads, bad row " << c.bad_row;
      EXPECT_EQ(err, reference_err) << threads << " threads, bad row " << c.bad_row;
    }
  }
}

TEST(Threads, OrderedRunCommitsEachPieceBeforeItsSlotIsRefilled) {
  // 200 pieces through 3 slots keep the reader waiting for a free slot: a
  // slot freed before its commit is done would be refilled under the commit,
  // which reads its piece's input only after a pause.
  for (unsigned threads : {2u, 7u}) {
    std::vector<std::size_t> input(3), output(3);
    std::size_t read = 0, committed = 0;
    OrderedWork w;
    w.slots = input.size();
    w.read = [&](std::size_t s) {
      if (read == 200) return false;
      input[s] = read++;
      return true;
    };
    w.work = [&](std::size_t s, unsigned) { output[s] = input[s] * 7 + 1; };
    w.commit = [&](std::size_t s) {
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      EXPECT_EQ(input[s], committed) << threads << " threads";
      EXPECT_EQ(output[s], committed * 7 + 1) << threads << " threads";
      ++committed;
      return true;
    };
    run_ordered(threads, w);
    EXPECT_EQ(committed, 200u) << threads << " threads";
  }
}

TEST(Threads, TablesLongerThanTheSlotsHoldAtOnce) {
  // 30,000 rows, each its own glycan (so the workers' memories of patterns do
  // not help): computing is slower than reading, and the reader waits for
  // each slot to be committed; many more rows than the slots hold at once.
  std::string text = "PepSeq N H F S G\n";
  for (int r = 0; r < 30000; ++r)
    text += "EEQYNSTYR " + std::to_string(2 + r % 7) + ' ' + std::to_string(r % 11) + ' ' + std::to_string(r % 3) +
            ' ' + std::to_string(r % 5) + ' ' + std::to_string(r / 1155) + '\n';
  std::string one;
  for (unsigned threads : {1u, 2u}) {
    Fixture f;
    std::string in = f.table("long.txt", text);
    Console console = f.run.console();
    run_single_file(in, f.out_dir, f.params, ModelTables::reference(), console, RunSettings{threads});
    const std::string out = f.output("long");
    if (threads == 1) one = out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 30001) << threads << " threads";
    EXPECT_TRUE(out == one) << threads << " threads";
  }
}

// --- m/z columns -------------------------------------------------------------

namespace {

// The cells of one output row, by column name.
std::map<std::string, std::string> row_cells(const std::string& table, std::size_t row) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::size_t p = 0;
    for (std::size_t tab; (tab = line.find('\t', p)) != std::string::npos; p = tab + 1) cells.push_back(line.substr(p, tab - p));
    cells.push_back(line.substr(p));
    lines.push_back(cells);
  }
  std::map<std::string, std::string> out;
  for (std::size_t j = 0; j < lines[0].size(); ++j) out[lines[0][j]] = lines[row + 1][j];
  return out;
}

std::vector<double> numbers(const std::string& cell) {
  std::vector<double> out;
  std::istringstream in(cell);
  for (std::string v; std::getline(in, v, ',');) out.push_back(std::stod(v));
  return out;
}

}  // namespace

TEST(Mz, ChargesPeakPositionsAndThePrecursorCheck) {
  // EEQYNSTYR + HexNAc4Hex3Fuc1, GP_Mass 2633.03859989992. IsoSpec's
  // fine structure of C106H164N18O59 (OpenMS's element data), binned by
  // neutron count, puts peaks 1..4 at 1.0030794, 2.0059004, 3.0086207 and
  // 4.0112705 Da above peak 0; at z = 2 the peaks then sit here:
  const std::vector<double> z2 = {1317.526576416581, 1318.0281161096075, 1318.5295266379724, 1319.0308867894444,
                                  1319.532211681162};
  const std::vector<double> z_minus3 = {876.6722568333524, 877.0066166287033, 877.3408903142799, 877.6751304152613,
                                        878.0093470097396};
  // Precursors built on peaks -1, 0, +1, +2 with small errors in ppm.
  struct Row {
    int z;
    double precursor;
    const char* offset;
    double ppm;
  } rows[] = {{2, z2[0] - 1.0033548378 / 2 * (1 - 3e-6), "-1", 0},
              {2, z2[0] * (1 + 2.5e-6), "0", 2.5},
              {2, z2[1] * (1 - 4e-6), "1", -4},
              {-3, z_minus3[2] * (1 + 1e-6), "2", 1}};
  std::string text = "PepSeq N H F S G Charge PrecursorMZ\n";
  char buf[64];
  for (const Row& r : rows) {
    std::snprintf(buf, sizeof buf, " %d %.10f\n", r.z, r.precursor);
    text += "EEQYNSTYR 4 3 1 0 0" + std::string(buf);
  }
  text += "EEQYNSTYR 4 3 1 0 0 0 1317.5\nEEQYNSTYR 4 3 1 0 0 2 NA\n";
  Fixture f("isotope_peaks_num = 5\nisotope_charge_column = Charge\nisotope_charges = 2,-2\n"
            "isotope_precursor_mz_column = PrecursorMZ\n");
  std::string in = f.table("mz.txt", text);
  f.process(in, f.out_dir);
  std::string got = f.output("mz");
  EXPECT_EQ(got.substr(0, got.find('\n')),
            "PepSeq\tN\tH\tF\tS\tG\tCharge\tPrecursorMZ\tGlycan\tPepMods\tGP_Mass\tGP_Isotopes\tGP_MZ\t"
            "GP_Isotopes_MZ\tGP_MZ_z2\tGP_MZ_z-2\tGP_Isotope_Offset\tGP_PPM");
  for (std::size_t i = 0; i < 4; ++i) {
    auto cells = row_cells(got, i);
    const std::vector<double>& peaks = rows[i].z == 2 ? z2 : z_minus3;
    EXPECT_NEAR(std::stod(cells["GP_MZ"]), peaks[0], 1e-9) << i;
    std::vector<double> mz = numbers(cells["GP_Isotopes_MZ"]);
    ASSERT_EQ(mz.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) EXPECT_NEAR(mz[k], peaks[k], 0.0001 / std::abs(rows[i].z)) << i << " " << k;
    EXPECT_EQ(cells["GP_MZ_z2"], "1317.526576416581");
    EXPECT_NEAR(std::stod(cells["GP_MZ_z-2"]), 1315.512023483339, 1e-9);
    EXPECT_EQ(cells["GP_Isotope_Offset"], rows[i].offset) << i;
    if (i > 0) {
      EXPECT_NEAR(std::stod(cells["GP_PPM"]), rows[i].ppm, 0.01) << i;
    }
  }
  auto zero = row_cells(got, 4), missing = row_cells(got, 5);
  EXPECT_EQ(zero["GP_MZ"] + zero["GP_Isotopes_MZ"] + zero["GP_Isotope_Offset"] + zero["GP_PPM"], "");
  EXPECT_NE(missing["GP_MZ"], "");
  EXPECT_EQ(missing["GP_Isotope_Offset"] + missing["GP_PPM"], "");
  EXPECT_EQ(warning_lines(f.run.err),
            (std::vector<std::string>{
                "charge cell Charge '0' is zero: the row's m/z cells were left empty, line 6 of " + in,
                "precursor m/z cell PrecursorMZ 'NA' is no positive number: the row's GP_Isotope_Offset and GP_PPM "
                "were left empty, line 7 of " + in}));
  EXPECT_NE(f.run.err.find("isotope: of 4 rows with a precursor m/z, 1 match the monoisotopic peak, 3 another "
                           "isotope peak (-1: 1, +1: 1, +2: 1) and 0 no peak within 20 ppm (GP_Isotope_Offset)\n"),
            std::string::npos);
}

// The tolerance's edge (19.9 and 20.1 ppm from GP_MZ 1317.526576416581 of
// EEQYNSTYR + N4H3F1 at z = 2), a 2+ precursor given charge 3, a J in two
// glycan rows (one hint), and a count typo whose pattern is not finite. In
// strict mode only the pattern fails the table.
TEST(Mz, PrecursorToleranceHintsAndNonFinitePatterns) {
  const double mono = 1317.526576416581;
  char rows[512];
  std::snprintf(rows, sizeof rows,
                "PepSeq N H F S G Charge PrecursorMZ\n"
                "EEQYNSTYR 4 3 1 0 0 2 %.9f\nEEQYNSTYR 4 3 1 0 0 2 %.9f\nEEQYNSTYR 4 3 1 0 0 3 %.9f\n"
                "EEQYNSTYR 4 3 1 0 0 2 1318.0281161096075\nEEQYJSTYR 4 3 1 0 0 2 1317\nEEQYJSTYR 4 3 1 0 0 2 1317\n",
                mono * (1 + 19.9e-6), mono * (1 + 20.1e-6), mono);
  const std::string params = "isotope_peaks_num = 5\nisotope_charge_column = Charge\n"
                             "isotope_precursor_mz_column = PrecursorMZ\n";
  Fixture f(params);
  std::string in = f.table("tol.txt", rows);
  f.process(in, f.out_dir);
  std::string got = f.output("tol");
  const char* offsets[] = {"0", "", "", "1", "", ""};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(row_cells(got, i)["GP_Isotope_Offset"], offsets[i]) << i;
  EXPECT_NEAR(std::stod(row_cells(got, 1)["GP_PPM"]), 20.1, 1e-6);
  const std::vector<std::string> lines = warning_lines(f.run.err);
  ASSERT_EQ(lines.size(), 5u) << f.run.err;
  EXPECT_NE(lines[0].find(" lies within 20 ppm of no isotope peak: the nearest is peak 0 at +20.1 ppm (check the row's "
                          "charge, glycan and modifications); its GP_Isotope_Offset was left empty, line 3 of "),
            std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("the nearest is peak +4 at +497"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], "PepSeq holds J (read as Leu/Ile here; pGlyco writes J for the glycosylated Asn, and its tables "
                      "are read with isotope_input_format = pglyco3), line 6 of " + in);
  EXPECT_NE(f.run.err.find("isotope: of 6 rows with a precursor m/z, 1 match the monoisotopic peak, 1 another isotope "
                           "peak (+1: 1) and 4 no peak within 20 ppm (GP_Isotope_Offset)\n"),
            std::string::npos) << f.run.err;

  Fixture strict(params + "isotope_strict = true\n");
  in = strict.table("typo.txt", std::string(rows) + "EEQYNSTYR 4000 3 1 0 0 2 1317.5\n");
  try {
    strict.process(in, strict.out_dir);
    ADD_FAILURE() << "a pattern that is not finite fails a strict table";
  } catch (const Error& e) {
    EXPECT_NE(e.message().find("1 row of " + in + " rests on a guess:\n  line 8: the row's isotope pattern is not finite "
                               "for its formula of 108239 atoms"),
              std::string::npos) << e.message();
  }
}

// isotope_separator = tab: blanks inside cells, an empty cell is a missing
// one; the cells are typed and written as pandas.read_csv(sep="\t") and
// to_csv give them (pandas' bytes below, Charge a float column).
TEST(Pipeline, TabSeparatedTableWithBlanksInCells) {
  Fixture f("isotope_peaks_num = 2\nisotope_separator = tab\nisotope_charge_column = Charge\n"
            "isotope_modification.Iodoacetamide derivative = H3C2N1O1\n");
  std::string in = f.table("t.txt", "Scan\tCharge\tPepSeq\tProtein\tN\tH\tF\tS\tG\n"
                                    "1\t2\tEEQYNSTYR\tIgG1 heavy chain\t4\t3\t1\t0\t0\n"
                                    "2\t\tC[Iodoacetamide derivative]K\tIgG2\t4\t3\t1\t0\t0\n");
  f.process(in, f.out_dir);
  const std::string got = f.output("t");
  std::istringstream lines(got), pandas("Scan\tCharge\tPepSeq\tProtein\tN\tH\tF\tS\tG\n"
                                        "1\t2.0\tEEQYNSTYR\tIgG1 heavy chain\t4\t3\t1\t0\t0\n"
                                        "2\t\tC[Iodoacetamide derivative]K\tIgG2\t4\t3\t1\t0\t0\n");
  for (std::string line, want; std::getline(pandas, want);) {
    ASSERT_TRUE(std::getline(lines, line));
    std::size_t cut = 0;
    for (int k = 0; k < 9; ++k) cut = line.find('\t', cut) + 1;  // the input's columns
    EXPECT_EQ(line.substr(0, cut - 1), want);
  }
  EXPECT_EQ(row_cells(got, 1)["PepMods"], "1,C,Iodoacetamide derivative");
  // The empty charge cell is named with its column and line.
  EXPECT_NE(f.run.err.find("isotope: warning: charge cell Charge '' is missing: the row's m/z cells were left empty, "
                           "line 3 of " + in + "\n"),
            std::string::npos)
      << f.run.err;
  // Search-engine tables keep their own separator.
  Fixture engine("isotope_peaks_num = 2\nisotope_input_format = pglyco3\nisotope_separator = comma\n");
  Error e = error_of([&] { engine.process(engine.table("p.txt", "x\n"), engine.out_dir); });
  EXPECT_EQ(e.line(), 3);
  EXPECT_EQ(e.message().rfind("isotope_separator = 'comma': a search engine's table", 0), 0u) << e.what();
}

TEST(Mz, CoverageAndNormalisation) {
  // IsoSpec's true probabilities of the same glycopeptide: the first six
  // add up to 0.9921, the first five to 0.9738, the first eight to 0.9995.
  auto isotopes = [](const std::string& params) {
    Fixture f(params);
    std::string in = f.table("c.txt", "PepSeq N H F S G\nEEQYNSTYR 4 3 1 0 0\n");
    f.process(in, f.out_dir);
    return numbers(row_cells(f.output("c"), 0)["GP_Isotopes"]);
  };
  EXPECT_EQ(isotopes("isotope_coverage = 0.99\n").size(), 6u);
  EXPECT_EQ(isotopes("isotope_coverage = 0.95\n").size(), 5u);
  EXPECT_EQ(isotopes("isotope_coverage = 0.999\nisotope_peaks_num = 7\n").size(), 7u);  // capped
  EXPECT_EQ(isotopes("isotope_coverage = 0.999\nisotope_peaks_num = 0\n").size(), 8u);
  std::vector<double> sum = isotopes("isotope_peaks_num = 5\n");
  std::vector<double> max = isotopes("isotope_peaks_num = 5\nisotope_normalize = max\n");
  std::vector<double> none = isotopes("isotope_peaks_num = 5\nisotope_normalize = none\n");
  EXPECT_NEAR(std::accumulate(sum.begin(), sum.end(), 0.0), 1.0, 1e-6);
  EXPECT_EQ(max[1], 1.0);  // peak +1 is the most intense
  EXPECT_NEAR(max[0], sum[0] / sum[1], 1e-12);
  const double truth[] = {0.25434100143488486, 0.31901703914903556, 0.22929771833444723, 0.12030843428658626,
                          0.05086837196720074};
  for (std::size_t k = 0; k < 5; ++k) EXPECT_NEAR(none[k], truth[k], 1e-7 * truth[k]) << k;
}

TEST(Mz, ParameterErrorsNameTheOptionAndItsLine) {
  const char* bad[] = {"isotope_strict = maybe",       "isotope_on_error = skip",
                       "isotope_threads = -1",         "isotope_charges = 2,0",
                       "isotope_coverage = 1.5",       "isotope_coverage = 0",
                       "isotope_normalize = median",   "isotope_precursor_mz_column = PrecursorMZ",
                       "isotope_monosaccharide.Rha = C6H10Q4", "isotope_monosaccharide.X[Rha] = C6H10O4",
                       "isotope_count_columns = Rha",  "isotope_count_columns = Hex",
                       "isotope_separator = pipe",     "isotope_skip_outputs = perhaps"};
  for (const char* line : bad) {
    Fixture f(std::string("isotope_peaks_num = 5\n# the line below is wrong\n") + line + "\n");
    std::string in = f.table("p.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
    Error e = error_of([&] { f.process(in, f.out_dir); });
    EXPECT_EQ(e.kind(), ErrorKind::Value) << line;
    EXPECT_EQ(e.line(), 3) << line;
    EXPECT_EQ(std::string(e.message()).rfind(std::string(line).substr(0, std::string(line).find(' ')), 0), 0u) << e.what();
  }
  // A share of 1 is the largest accepted: every peak up to the cap.
  Fixture full("isotope_peaks_num = 9\nisotope_coverage = 1\n");
  full.process(full.table("p.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n"), full.out_dir);
  EXPECT_EQ(numbers(row_cells(full.output("p"), 0)["GP_Isotopes"]).size(), 9u);
  // Options of other tools are accepted and ignored.
  Fixture shared("isotope_peaks_num = 5\nother_tool_threads = many\nstrict = maybe\n");
  std::string in = shared.table("p.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
  shared.process(in, shared.out_dir);
  EXPECT_EQ(resolve_threads(Options{}, "3"), 3u);
  EXPECT_EQ(resolve_threads(Options{}, "0"), usable_cores());
  Error env = error_of([] { resolve_threads(Options{}, "two"); });
  EXPECT_NE(std::string(env.what()).find("ISOTOPE_THREADS"), std::string::npos);
}

TEST(Mz, ModificationsDefinedOrFoundInUnimod) {
  // Each pair names one modification two ways (a definition; Unimod's title
  // in another case, accession, synonym, full name): their masses must
  // agree: deamidated N is D, Unimod's records match the built-in table's.
  Fixture f("isotope_peaks_num = 2\nisotope_modification.Deamidated = H-1N-1O1\nisotope_unimod = true\n");
  std::string in = f.table("m.txt",
                           "PepSeq N H F S G\n"
                           "GN[Deamidated]K 0 0 0 0 0\nGDK 0 0 0 0 0\n"
                           "M[oxidation]K 0 0 0 0 0\nM[Oxidation]K 0 0 0 0 0\n"
                           "C[UNIMOD:4]K 0 0 0 0 0\nC[Carbamidomethyl]K 0 0 0 0 0\n"
                           "C[carboxyamidomethylation]K 0 0 0 0 0\nC[cam]K 0 0 0 0 0\n"
                           "K[tmt6plex] 0 0 0 0 0\nK[tmt10] 0 0 0 0 0\n"
                           "S[Phosphorylation]K 0 0 0 0 0\nS[p]K 0 0 0 0 0\n");
  f.process(in, f.out_dir);
  std::string got = f.output("m");
  for (std::size_t row = 0; row < 12; row += 2) {
    auto a = row_cells(got, row), b = row_cells(got, row + 1);
    EXPECT_EQ(a["GP_Mass"], b["GP_Mass"]) << a["PepSeq"];
    EXPECT_EQ(a["GP_Isotopes"], b["GP_Isotopes"]) << a["PepSeq"];
  }
  // Without the Unimod lookup the names are unknown; the error offers the
  // closest known names.
  Fixture plain("isotope_peaks_num = 2\n");
  in = plain.table("u.txt", "PepSeq N H F S G\nM[Oxidatoin]K 0 0 0 0 0\n");
  Error e = error_of([&] { plain.process(in, plain.out_dir); });
  EXPECT_EQ(e.key(), "Oxidatoin");
  EXPECT_NE(std::string(e.what()).find("(did you mean 'Oxidation'?)"), std::string::npos) << e.what();
  // A mass shift is no name.
  in = plain.table("s.txt", "PepSeq N H F S G\nC[+57.021]K 0 0 0 0 0\n");
  EXPECT_NE(std::string(error_of([&] { plain.process(in, plain.out_dir); }).what()).find("named modification"),
            std::string::npos);
  // A definition that is no formula names its line.
  Fixture bad("isotope_peaks_num = 2\n\nisotope_modification.Acetyl = C2H2Q\n");
  in = bad.table("b.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
  Error d = error_of([&] { bad.process(in, bad.out_dir); });
  EXPECT_EQ(d.kind(), ErrorKind::Value);
  EXPECT_EQ(d.line(), 3);
}

// isotope_count_columns: the named entries' columns are counted after the
// five, as bracketed codes in the Glycan string; without the option the
// same columns are carried along.
TEST(Mz, CountColumnsBeyondTheFive) {
  const std::string table = "PepSeq N H F S G Xyl KDN\nEEQYNSTYR 4 3 1 0 0 1 2\n";
  Fixture f("isotope_peaks_num = 2\nisotope_count_columns = Xyl,KDN\n");
  f.process(f.table("x.txt", table), f.out_dir);
  auto row = row_cells(f.output("x"), 0);
  EXPECT_EQ(row["Glycan"], "N4H3F1S0G0X[Xyl]1X[KDN]2");
  EXPECT_EQ(row["GP_Mass"], "3265.21859344564");  // C129H200N18O79 from the element masses
  Fixture plain("isotope_peaks_num = 2\n");
  plain.process(plain.table("x.txt", table), plain.out_dir);
  EXPECT_EQ(row_cells(plain.output("x"), 0)["Glycan"], "N4H3F1S0G0");
  // A named column the table lacks is missing; a name outside the
  // vocabulary is the option's error.
  Fixture other("isotope_peaks_num = 2\nisotope_count_columns = HexA\n");
  EXPECT_EQ(error_of([&] { other.process(other.table("x.txt", table), other.out_dir); }).key(), "HexA");
  Fixture bad("isotope_peaks_num = 2\nisotope_count_columns = Xyl,Rha\n");
  Error e = error_of([&] { bad.process(bad.table("x.txt", table), bad.out_dir); });
  EXPECT_EQ(e.line(), 2);
  EXPECT_NE(std::string(e.what()).find("'Rha' is not in the glycan vocabulary"), std::string::npos) << e.what();
}

// --- Search-engine tables --------------------------------------------------

TEST(Import, EachEngineTableThroughThePipeline) {
  struct Case {
    const char* format;
    const char* file;
    bool published;      // holds a published example row
    bool glycans;        // has a glycan composition column
    const char* mz_at;   // the GP_MZ_z<charge> columns of the charges its rows list
  } cases[] = {{"pglyco3", "pGlycoDB-GP-FDR-Pro_fixture.txt", true, true, ""},
               {"fragpipe", "psm.tsv", true, true, ""},
               {"fragpipe", "psm_no_glycan.tsv", false, false, ""},
               {"metamorpheus", "glyco_fixture.psmtsv", true, true, ""},
               {"glycresoft", "glycresoft_fixture.csv", false, true, ""},
               {"glycresoft", "glycresoft_identifications.csv", false, true, "\tGP_MZ_z2\tGP_MZ_z3\tGP_MZ_z4\tGP_MZ_z5"}};
  for (const Case& c : cases) {
    const std::string in = std::string(ISOTOPE_TEST_DATA) + "/formats/" + c.file;
    // Read as our own table, it says which option reads it.
    Fixture plain;
    Error hint = error_of([&] { plain.process(in, plain.out_dir); });
    EXPECT_NE(std::string(hint.what()).find(std::string("set isotope_input_format = ") + c.format),
              std::string::npos) << hint.what();

    Fixture f(std::string("isotope_peaks_num = 5\nisotope_input_format = ") + c.format + "\n");
    f.process(in, f.out_dir);
    std::string base = std::string(c.file).substr(0, std::string(c.file).rfind('.'));
    std::string got = f.output(base);
    std::string header = got.substr(0, got.find('\n'));
    EXPECT_EQ(header.substr(header.rfind("\tPepSeq")),
              "\tPepSeq\tN\tH\tF\tS\tG\tGlycan\tPepMods\tGP_Mass\tGP_Isotopes\tGP_MZ\tGP_Isotopes_MZ" +
                  std::string(c.mz_at) + "\tGP_Isotope_Offset\tGP_PPM");
    std::size_t rows = static_cast<std::size_t>(std::count(got.begin(), got.end(), '\n')) - 1;
    if (std::string(c.file).find(".csv") == std::string::npos) {
      // A tab-separated table's cells come out as they went in, quotes
      // included ("2,Carbamidomethyl[C];").
      std::istringstream input(read_file(in)), output(got);
      for (std::string a, b; std::getline(input, a) && std::getline(output, b);)
        EXPECT_EQ(b.substr(0, a.size() + 1), a + "\t") << c.file;
    }
    std::size_t published = 0, unmapped = 0, decoys = 0;
    for (std::size_t r = 0; r < rows; ++r) {
      auto cells = row_cells(got, r);
      const std::string& status = cells["expect_status"];
      if (status == "ok") {
        EXPECT_EQ(cells["PepSeq"], cells["expect_pepseq"]) << c.file << " row " << r;
        EXPECT_EQ(cells["Glycan"], cells["expect_glycan"]) << c.file << " row " << r;
        EXPECT_EQ(cells["GP_Isotope_Offset"], cells["expect_offset"]) << c.file << " row " << r;
        double limit = cells["expect_text"].find("published") != std::string::npos ? 3 : 10;
        published += limit == 3;
        EXPECT_LT(std::fabs(std::stod(cells["GP_PPM"])), limit) << c.file << " row " << r;
        // An identification's m/z at each charge it lists, and no other.
        for (const char* z : {"2", "3", "4", "5"}) {
          if (*c.mz_at) {
            EXPECT_EQ(cells["GP_MZ_z" + std::string(z)].empty(), cells["charge_states"].find(z) == std::string::npos) << r;
          }
        }
      } else {
        unmapped += status == "unmapped";
        decoys += status == "decoy";
        EXPECT_EQ(cells["PepSeq"] + cells["GP_Mass"] + cells["GP_MZ"], "") << c.file << " row " << r;
      }
    }
    if (c.published) {
      EXPECT_GE(published, 1u) << c.file;  // GlycReSoft's documentation publishes no precursor
    }
    EXPECT_EQ(f.run.err.find("the table holds no glycan composition") == std::string::npos, c.glycans) << f.run.err;
    const std::vector<std::string> warnings = warning_lines(f.run.err);
    EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                            [](const std::string& w) { return w.rfind("row could not be mapped", 0) == 0; }),
              static_cast<long>(unmapped))
        << f.run.err;
    if (decoys > 0) {
      EXPECT_NE(f.run.err.find(std::to_string(decoys) + " decoy row"), std::string::npos) << f.run.err;
    }

    // Strict mode fails on unmapped rows, never on decoys.
    Fixture strict(std::string("isotope_peaks_num = 5\nisotope_strict = true\nisotope_input_format = ") + c.format + "\n");
    Error e = error_of([&] { strict.process(in, strict.out_dir); });
    EXPECT_NE(std::string(e.what()).find("on a guess"), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).find("decoy"), std::string::npos) << e.what();
  }
}

// Headers as tables resaved by other tools give them: a last field left
// empty (MetaMorpheus's glyco tables end their header with a tab) is read
// without it, with one note; R's make.names names (read.csv) match the
// engine's columns and give the same results.
TEST(Import, HeadersWithAnEmptyLastFieldAndRNames) {
  Fixture f("isotope_peaks_num = 2\nisotope_input_format = metamorpheus\n");
  f.process(f.table("t.psmtsv", "Full Sequence\tPrecursor Charge\tPrecursor MZ\t\nAN[N-linked glycosylation:H1N1 on Nxt]K\t2\t1\n"
                                "AK\t2\t1\t\n"),
            f.out_dir);
  const std::vector<std::string> warnings = warning_lines(f.run.err);
  EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                          [](const std::string& w) { return w.find("empty field") != std::string::npos; }), 1) << f.run.err;
  EXPECT_EQ(f.run.err.find("row has"), std::string::npos) << f.run.err;
  EXPECT_EQ(row_cells(f.output("t"), 1)["PepSeq"], "AK");
  // psm.tsv's header as read.csv rewrites it.
  const std::string fixture = read_file(std::string(ISOTOPE_TEST_DATA) + "/formats/psm.tsv");
  std::string header = fixture.substr(0, fixture.find('\n'));
  for (char& ch : header) ch = ch == ' ' || ch == '/' ? '.' : ch;
  Fixture r("isotope_peaks_num = 2\nisotope_input_format = fragpipe\n"), plain("isotope_peaks_num = 2\nisotope_input_format = fragpipe\n");
  r.process(r.table("psm.tsv", header + fixture.substr(fixture.find('\n'))), r.out_dir);
  plain.process(plain.table("psm.tsv", fixture), plain.out_dir);
  for (std::size_t row = 0; row < 12; ++row) EXPECT_EQ(row_cells(r.output("psm"), row)["GP_PPM"], row_cells(plain.output("psm"), row)["GP_PPM"]) << row;
  EXPECT_NE(row_cells(r.output("psm"), 0)["GP_PPM"], "");
}

// Every real engine file at hand (../shared/real/engines): each row maps,
// the cells of a tab-separated table come out as they went in, and every
// row lands on an isotope peak of the engine's precursor within 20 ppm,
// but the three rows of glyread's neu5gc test table whose compositions
// were edited by hand (their PrecursorMH and GlyMass are those of the
// rows they were copied from).
TEST(Import, RealEngineFilesMapAndMatchTheirEngine) {
  const std::filesystem::path real = std::filesystem::path(ISOTOPE_EXAMPLES) / ".." / ".." / "shared" / "real" / "engines";
  if (!std::filesystem::is_directory(real)) GTEST_SKIP() << "no real engine files at " << real;
  for (const char* format : {"pglyco3", "fragpipe", "metamorpheus", "glycresoft"}) {
    for (const auto& entry : std::filesystem::directory_iterator(real / format)) {
      const std::string name = entry.path().filename().string();
      if (name == "SOURCE.txt") continue;
      Fixture f(std::string("isotope_peaks_num = 5\nisotope_input_format = ") + format + "\n");
      f.process(entry.path().string(), f.out_dir);
      const std::string got = f.output(name.substr(0, name.rfind('.')));
      EXPECT_EQ(f.run.err.find("could not be mapped"), std::string::npos) << name << f.run.err;
      EXPECT_EQ(f.run.err.find("row has"), std::string::npos) << name;
      if (std::string(format) != "glycresoft") {
        std::istringstream input(read_file(entry.path())), output(got);
        for (std::string a, b; std::getline(input, a) && std::getline(output, b);) {
          if (!a.empty() && a.back() == '\r') a.pop_back();
          if (!a.empty() && a.back() == '\t') a.pop_back();  // the empty last field
          EXPECT_EQ(b.substr(0, a.size() + 1), a + "\t") << name;
        }
      }
      std::size_t off = 0;
      const std::size_t rows = static_cast<std::size_t>(std::count(got.begin(), got.end(), '\n')) - 1;
      for (std::size_t r = 0; r < rows; ++r) off += row_cells(got, r)["GP_Isotope_Offset"].empty();
      EXPECT_EQ(off, name == "glyread_pglyco3-result-neu5gc.txt" ? 3u : 0u) << name;
    }
  }
}

// --- ProForma ------------------------------------------------------------------

// GP_ProForma read back as a ProForma table gives the same GP_Mass, on the
// example tables and the engine fixtures.
TEST(ProForma, GpProFormaReadsBackToTheSameMass) {
  const std::filesystem::path examples(ISOTOPE_EXAMPLES), formats = std::filesystem::path(ISOTOPE_TEST_DATA) / "formats";
  const std::pair<std::filesystem::path, std::string> tables[] = {
      {examples / "glycopeptides.txt", ""},
      {examples / "batch" / "fetuin.txt", ""},
      {examples / "batch" / "tmt_igg.txt", ""},
      {formats / "pGlycoDB-GP-FDR-Pro_fixture.txt", "pglyco3"},
      {formats / "psm.tsv", "fragpipe"},
      {formats / "glyco_fixture.psmtsv", "metamorpheus"},
      {formats / "glycresoft_fixture.csv", "glycresoft"}};
  for (const auto& [path, format] : tables) {
    const std::string engine = format.empty() ? "" : "isotope_input_format = " + format + "\n";
    Fixture f("isotope_peaks_num = 3\nisotope_proforma_output = true\n" + engine);
    f.process(f.table("t" + path.extension().string(), read_file(path)), f.out_dir);
    const std::string out = f.output("t");
    std::string back = "Peptidoform\n";
    std::vector<double> masses;
    const std::size_t rows = static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) - 1;
    for (std::size_t i = 0; i < rows; ++i) {
      auto cells = row_cells(out, i);
      if (cells["GP_ProForma"].empty()) continue;
      back += cells["GP_ProForma"] + "\n";
      masses.push_back(std::stod(cells["GP_Mass"]));
    }
    ASSERT_GE(masses.size(), 2u) << path;
    Fixture g("isotope_peaks_num = 3\nisotope_input_format = proforma\n");
    g.process(g.table("back.txt", back), g.out_dir);
    const std::string again = g.output("back");
    for (std::size_t i = 0; i < masses.size(); ++i)
      EXPECT_NEAR(std::stod(row_cells(again, i)["GP_Mass"]), masses[i], 1e-9 * masses[i]) << path << " row " << i;
    EXPECT_EQ(warning_lines(g.run.err), std::vector<std::string>{}) << path;
  }
}

// Each construct: masses from element masses (C 12, H 1.00782503207,
// N 14.0030740048, O 15.99491461956, P 30.97376163, S 31.972071), the
// glycopeptide's from the literature; refusals by name.
TEST(ProForma, ConstructsAndRefusals) {
  Fixture f("isotope_peaks_num = 3\nisotope_input_format = proforma\nisotope_proforma_column = PF\n");
  const std::string in = f.table("pf.txt",
                                 "PF\tScore\n"
                                 "EEQYN[Glycan:HexNAc4Hex3Fuc1]STYR/2\t1\n"
                                 "[Glycan:HexNAc4Hex3dHex1]?EEQYNSTYR\t2\n"
                                 "[Acetyl]-PEPM[+15.995]TIDE-[Amidated]\t3\n"
                                 "PEPT[Formula:HPO3]IDE/2\t4\n"
                                 "{Glycan:Hex}EN[Glycan:HexNAc2]C[UNIMOD:4]K\t5\n"
                                 "PEP(TI)[Phospho]DE\t6\nPEPTIDE+PEPTIDE\t7\nEM[Oxidation]EVT[Phospho#g1]S[#g1]\t8\n"
                                 "<13C>PEPTIDE\t9\nEMEVT[#XL1]SK//PEPK[#XL1]\t10\n");
  f.process(in, f.out_dir);
  const std::string out = f.output("pf");
  const double masses[] = {2633.03859989992, 2633.03859989992, 987.4219126602699, 879.3262945474598, 1117.4332651896098};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_NEAR(std::stod(row_cells(out, i)["GP_Mass"]), masses[i], 1e-6) << i;
  EXPECT_EQ(row_cells(out, 0)["GP_MZ"], "1317.526576416581");
  EXPECT_EQ(row_cells(out, 4)["Glycan"], "N2H1F0S0G0");
  const std::vector<std::string> lines = warning_lines(f.run.err);
  const char* constructs[] = {"a modification range", "a chimeric peptidoform", "an ambiguity group",
                              "a global modification", "a cross-link"};
  ASSERT_EQ(lines.size(), 5u) << f.run.err;
  for (std::size_t i = 0; i < 5; ++i) EXPECT_NE(lines[i].find(constructs[i]), std::string::npos) << lines[i];
}
