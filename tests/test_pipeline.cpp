// The single-file pipeline: what it writes, what it reports and in which
// order, and that a failed table leaves nothing behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <map>
#include <numeric>
#include <sstream>

#include "isotope/base/errors.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/run/options.hpp"
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
                           "EEQYNSTYR\t4\t\t1\t0\t0\t8\n");
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
                "modification; it was skipped (1 more character was skipped), line 5" + at,
                "PepSeq 'EEQYNSTYR[Carbamidomethyl' has an unclosed '[' at character 10; it was skipped and the "
                "capital letters after it were read as residues (14 more characters were skipped), line 6" + at,
                "PepSeq 'C[]K' has an empty '[]' at character 2; it was skipped, line 7" + at,
                "PepSeq 'C[Carbamidomethyl][Oxidation]K' has a second bracket at character 19 right after a "
                "modification; only the first counts, and the capital letters inside the second were read as "
                "residues (9 more characters were skipped), line 8" + at,
                "row has 6 fields where the header has 7; its last cell was read as missing (an empty cell in a "
                "tab-separated file?), line 9" + at,
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
  EXPECT_NE(f.run.err.find("isotope: 3 of 4 rows match isotope peak +1 or another non-monoisotopic peak "
                           "(GP_Isotope_Offset)\n"),
            std::string::npos);
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
                       "isotope_coverage = 1.5",       "isotope_normalize = median",
                       "isotope_precursor_mz_column = PrecursorMZ", "isotope_separator = pipe",
                       "isotope_skip_outputs = perhaps"};
  for (const char* line : bad) {
    Fixture f(std::string("isotope_peaks_num = 5\n# the line below is wrong\n") + line + "\n");
    std::string in = f.table("p.txt", "PepSeq N H F S G\nGG 1 0 0 0 0\n");
    Error e = error_of([&] { f.process(in, f.out_dir); });
    EXPECT_EQ(e.kind(), ErrorKind::Value) << line;
    EXPECT_EQ(e.line(), 3) << line;
    EXPECT_EQ(std::string(e.message()).rfind(std::string(line).substr(0, std::string(line).find(' ')), 0), 0u) << e.what();
  }
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

// --- Search-engine tables --------------------------------------------------

TEST(Import, EachEngineTableThroughThePipeline) {
  struct Case {
    const char* format;
    const char* file;
    char separator;
  } cases[] = {{"pglyco3", "pGlycoDB-GP-FDR-Pro_fixture.txt", '\t'},
               {"fragpipe", "psm.tsv", '\t'},
               {"metamorpheus", "glyco_fixture.psmtsv", '\t'},
               {"glycresoft", "glycresoft_fixture.csv", ','}};
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
              "\tPepSeq\tN\tH\tF\tS\tG\tGlycan\tPepMods\tGP_Mass\tGP_Isotopes\tGP_MZ\tGP_Isotopes_MZ\t"
              "GP_Isotope_Offset\tGP_PPM");
    std::size_t rows = static_cast<std::size_t>(std::count(got.begin(), got.end(), '\n')) - 1;
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
      } else {
        unmapped += status == "unmapped";
        decoys += status == "decoy";
        EXPECT_EQ(cells["PepSeq"] + cells["GP_Mass"] + cells["GP_MZ"], "") << c.file << " row " << r;
      }
    }
    if (c.separator == '\t') {  // GlycReSoft's documentation publishes no precursor
      EXPECT_GE(published, 1u) << c.file;
    }
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
    EXPECT_NE(std::string(e.what()).find("rest on a guess"), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).find("decoy"), std::string::npos) << e.what();
  }
}
