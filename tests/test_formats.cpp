// Search-engine importers: every fixture row of tests/data/formats/ mapped
// and checked against the expectations written into its expect_* columns,
// the precursor round trip (the row's own m/z against the engine's), the
// header hint, the columns by name, file selection, the delimited reader's
// corners, and the mass-to-name refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <filesystem>
#include <iostream>

#include "isotope/base/errors.hpp"
#include "isotope/formats/engine_format.hpp"
#include "isotope/formats/importers.hpp"
#include "isotope/io/delimited_reader.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/formats/proforma.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/model/run_model.hpp"
#include "isotope/model/unimod.hpp"
#include "isotope/run/rows.hpp"
#include "test_support.hpp"

using namespace isotope;
using testing_support::error_of;
using testing_support::TempDir;
using testing_support::write_file;
namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(ISOTOPE_TEST_DATA) / "formats";
constexpr double kProton = 1.007276466621;
constexpr double kC13Gap = 1.0033548378;

// The built-in model with the modification definitions given, and Unimod
// unless `unimod` is false.
RunModel tables(const std::vector<ModificationDefinition>& definitions = {}, bool unimod = true) {
  static const std::shared_ptr<const UnimodDb> db = UnimodDb::load();
  return RunModel(ModelTables::reference(), GlycanVocabulary::builtin(), definitions, unimod ? db : nullptr);
}

std::string glycan_string(const GlycanCounts& counts) { return GlycanVocabulary::builtin().glycan_string(counts); }

std::vector<std::vector<std::string>> read_all(const std::string& path, char sep,
                                               std::size_t chunk = DelimitedReader::kChunkBytes,
                                               std::vector<long>* lines = nullptr) {
  DelimitedReader reader(path, sep, chunk);
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> fields;
  long line = 0;
  while (reader.next(fields, line)) {
    records.push_back(fields);
    if (lines) lines->push_back(line);
  }
  return records;
}

// The glycopeptide's monoisotopic m/z: peptide + glycan + water, from the
// model's masses.
double row_mz(const ImportedRow& row, long z = 0) {
  Composition gp = row.peptide;
  gp += calc_glycan_comp(glycan_string(row.counts), tables({}, false).monosaccharides);
  gp += water();
  if (z == 0) z = *row.charge;
  return (gp.mass() + static_cast<double>(z) * kProton) / static_cast<double>(z);
}

struct Fixture {
  EngineFormat format;
  const char* file;
};
const Fixture kFixtures[] = {
    {EngineFormat::PGlyco3, "pGlycoDB-GP-FDR-Pro_fixture.txt"},
    {EngineFormat::FragPipe, "psm.tsv"},
    {EngineFormat::FragPipe, "psm_no_glycan.tsv"},
    {EngineFormat::MetaMorpheus, "glyco_fixture.psmtsv"},
    {EngineFormat::GlycReSoft, "glycresoft_fixture.csv"},
    {EngineFormat::GlycReSoft, "glycresoft_identifications.csv"},
};

}  // namespace

// Each fixture row: status, PepSeq, PepMods, counts, the problem or warning
// text, and the precursor: within 10 ppm of the engine's (3 ppm for the
// published examples) at the offset the row was built with.
TEST(Formats, FixtureRowsMapAsWrittenAndMatchTheEnginePrecursor) {
  for (const Fixture& fx : kFixtures) {
    const std::string path = (kData / fx.file).string();
    auto records = read_all(path, separator(fx.format));
    ASSERT_GT(records.size(), 5u) << path;
    const std::vector<std::string>& header = records[0];
    const ImportColumns cols = import_columns(fx.format, header);
    auto col = [&](const std::vector<std::string>& r, std::string_view name) {
      auto it = std::find(header.begin(), header.end(), name);
      return r.at(static_cast<std::size_t>(it - header.begin()));
    };
    std::size_t ok = 0;
    for (std::size_t k = 1; k < records.size(); ++k) {
      const auto& r = records[k];
      const ImportedRow row = map_row(cols, r, tables());
      const std::string where = std::string(fx.file) + " row " + std::to_string(k);
      const std::string status = col(r, "expect_status"), text = col(r, "expect_text");
      EXPECT_EQ(row.status, status == "ok" ? RowStatus::Ok : status == "decoy" ? RowStatus::Decoy : RowStatus::Unmapped)
          << where << ": " << row.problem;
      EXPECT_EQ(row.pep_seq, col(r, "expect_pepseq")) << where;
      EXPECT_EQ(row.pep_mods, col(r, "expect_pepmods")) << where;
      if (status == "unmapped") {
        EXPECT_NE(row.problem.find(text), std::string::npos) << where << ": " << row.problem;
      }
      if (status != "ok") {
        EXPECT_TRUE(row.counts.empty()) << where;
        EXPECT_TRUE(row.peptide.empty()) << where;
        continue;
      }
      ++ok;
      EXPECT_EQ(glycan_string(row.counts), col(r, "expect_glycan")) << where;
      EXPECT_EQ(row.warning.empty(), text.rfind("warning", 0) != 0) << where << ": " << row.warning;
      // The engine's precursor as m/z at the row's charge, or (GlycReSoft's
      // identification export, charges listed) as the neutral mass.
      ASSERT_TRUE(row.charge || !row.charges.empty()) << where;
      const double z = row.charge ? static_cast<double>(*row.charge) : 0;
      const double observed = fx.format != EngineFormat::GlycReSoft ? *row.precursor_mz
                              : z != 0 ? (*row.neutral_mass + z * kProton) / z
                                       : *row.neutral_mass;
      const double mz = z != 0 ? row_mz(row) : row_mz(row, 1) - kProton;
      const double peak = mz + std::stoi(col(r, "expect_offset")) * kC13Gap / (z != 0 ? z : 1);
      const double ppm = (observed - peak) / peak * 1e6;
      const bool published = text.rfind("published", 0) == 0;
      EXPECT_LT(std::fabs(ppm), published ? 3.0 : 10.0) << where << ": m/z " << mz << ", engine " << observed;
      if (published)
        std::cout << "  " << engine_name(fx.format) << " " << row.pep_seq << " z" << z << ": GP_MZ "
                  << std::setprecision(10) << mz << ", engine " << observed << ", " << std::setprecision(3) << ppm
                  << " ppm\n";
    }
    EXPECT_GE(ok, 3u) << path;
  }
}

TEST(Formats, HeaderGivesTheFormatAway) {
  for (const Fixture& fx : kFixtures) {
    const std::string first = read_first_line((kData / fx.file).string());
    EXPECT_EQ(detect_format(first), fx.format) << fx.file;
  }
  EXPECT_EQ(format_hint(EngineFormat::PGlyco3),
            "this looks like a pGlyco3 result table: set isotope_input_format = pglyco3");
  // Our own table, and tables that share only some names, are no engine's.
  const fs::path own = fs::path(ISOTOPE_TEST_DATA).parent_path().parent_path() / "examples" / "glycopeptides.txt";
  EXPECT_EQ(detect_format(read_first_line(own.string())), std::nullopt);
  EXPECT_EQ(detect_format("Peptide\tCharge\tPepSeq\tN\tH\tF\tS\tG"), std::nullopt);
  EXPECT_EQ(detect_format("Peptide GlycanComposition PrecursorMZ"), std::nullopt);  // blanks separate nothing
  EXPECT_EQ(detect_format("Peptide\tAssigned Modifications\tCharge\tPepSeq\tN\tH\tF\tS\tG"), std::nullopt);
  // Quoted names, a comma-separated header, a byte order mark.
  EXPECT_EQ(detect_format("\"glycopeptide\",\"neutral_mass\",\"charge\""), EngineFormat::GlycReSoft);
  EXPECT_EQ(header_names("\"a\"\"b\",c"), (std::vector<std::string>{"a\"b", "c"}));
  TempDir dir;
  write_file(dir / "bom.txt", "\xEF\xBB\xBFPeptide\tGlycanComposition\tPrecursorMZ\r\nx\ty\tz\n");
  EXPECT_EQ(detect_format(read_first_line(dir / "bom.txt")), EngineFormat::PGlyco3);
  EXPECT_EQ(read_first_line(dir / "bom.txt"), "Peptide\tGlycanComposition\tPrecursorMZ");

  EXPECT_EQ(format_from_option("metamorpheus"), EngineFormat::MetaMorpheus);
  Error bad = error_of([] { format_from_option("pGlyco3"); });
  EXPECT_EQ(bad.kind(), ErrorKind::Value);
  EXPECT_EQ(bad.message(),
            "unknown input format 'pGlyco3' (isotope_input_format takes pglyco3, fragpipe, metamorpheus, glycresoft, proforma)");
}

TEST(Formats, FolderRunsSelectTheEnginesFiles) {
  struct Case {
    EngineFormat f;
    const char* name;
    bool taken;
  };
  for (const Case& c : {Case{EngineFormat::PGlyco3, "pGlycoDB-GP-FDR-Pro.txt", true},
                        Case{EngineFormat::PGlyco3, "notes.mytxt", true}, Case{EngineFormat::PGlyco3, "psm.tsv", false},
                        Case{EngineFormat::FragPipe, "psm.tsv", true}, Case{EngineFormat::FragPipe, "ion.tsv", true},
                        Case{EngineFormat::FragPipe, "psm.tsv.bak", false}, Case{EngineFormat::FragPipe, "x.txt", false},
                        Case{EngineFormat::MetaMorpheus, "AllPSMs.psmtsv", true},
                        Case{EngineFormat::MetaMorpheus, "AllPSMs.tsv", false},
                        Case{EngineFormat::GlycReSoft, "glycopeptides.csv", true},
                        Case{EngineFormat::GlycReSoft, "glycopeptides.tsv", false}})
    EXPECT_EQ(selects_file(c.f, c.name), c.taken) << c.name;
}

TEST(Formats, ColumnsByNameNotPosition) {
  // Shuffled columns with the uncalibrated m/z only: the same row.
  const std::vector<std::string> header = {"Total Glycan Composition", "Observed M/Z", "Charge",
                                           "Assigned Modifications", "Peptide"};
  const ImportColumns cols = import_columns(EngineFormat::FragPipe, header);
  ImportedRow row = map_row(cols, {"HexNAc(2)Hex(9) % 1864.6341", "1030.3982", "3", "3N(1864.6342)", "HSNGSQSQHSR"},
                            tables());
  EXPECT_EQ(row.status, RowStatus::Ok);
  EXPECT_EQ(row.pep_seq, "HSNGSQSQHSR");
  EXPECT_EQ(row.precursor_mz, 1030.3982);
  // The calibrated column wins when both are there.
  const ImportColumns both = import_columns(EngineFormat::FragPipe, {"Peptide", "Assigned Modifications", "Charge",
                                                                     "Observed M/Z", "Calibrated Observed M/Z"});
  EXPECT_EQ(map_row(both, {"AK", "", "2", "1.5", "2.5"}, tables()).precursor_mz, 2.5);
  Error missing = error_of([] { import_columns(EngineFormat::PGlyco3, {"Peptide", "GlycanComposition", "Charge", "PrecursorMZ"}); });
  EXPECT_EQ(missing.kind(), ErrorKind::Lookup);
  EXPECT_EQ(missing.key(), "Mod");
  EXPECT_EQ(missing.message(), "table has no column 'Mod' (a pGlyco3 result table has one)");
  // A short row: its missing cells are empty.
  EXPECT_EQ(map_row(cols, {"", "1.0"}, tables()).status, RowStatus::Unmapped);
}

TEST(Formats, MonosaccharideNamesAndCodes) {
  // Every long name of the five, names of the other entries, and names
  // that are not ours.
  const std::vector<std::pair<std::string, std::string>> names = {
      {"HexNAc", "N1H0F0S0G0"}, {"Hex", "N0H1F0S0G0"},   {"Fuc", "N0H0F1S0G0"},   {"dHex", "N0H0F1S0G0"},
      {"NeuAc", "N0H0F0S1G0"},  {"Neu5Ac", "N0H0F0S1G0"}, {"NeuGc", "N0H0F0S0G1"}, {"Neu5Gc", "N0H0F0S0G1"},
      {"Pent", "N0H0F0S0G0X[Pent]1"}, {"KDN", "N0H0F0S0G0X[KDN]1"}, {"Sulfo", "N0H0F0S0G0X[Sulfo]1"},
      {"NH4", "N0H0F0S0G0X[NH4]1"}};
  const ImportColumns gr = import_columns(EngineFormat::GlycReSoft, {"glycopeptide", "neutral_mass", "charge"});
  const ImportColumns fp = import_columns(EngineFormat::FragPipe,
                                          {"Peptide", "Assigned Modifications", "Total Glycan Composition", "Charge", "Observed M/Z"});
  for (const auto& [name, glycan] : names) {
    ImportedRow a = map_row(gr, {"NK{" + name + ":1}", "1", "2"}, tables());
    EXPECT_EQ(glycan_string(a.counts), glycan) << name << a.problem;
    ImportedRow b = map_row(fp, {"NK", "", name + "(1)", "2", "1"}, tables());
    EXPECT_EQ(glycan_string(b.counts), glycan) << name << b.problem;
  }
  for (const char* other : {"Hexnac", "A", "S", "Fe", "HexNAc(S)"}) {
    EXPECT_EQ(map_row(gr, {std::string("NK{Hex:1; ") + other + ":1}", "1", "2"}, tables()).status, RowStatus::Unmapped) << other;
    EXPECT_EQ(map_row(fp, {"NK", "", std::string("Hex(1)") + other + "(1)", "2", "1"}, tables()).status,
              RowStatus::Unmapped) << other;
  }
  // Without a mass after '%' the glycan's own entry is the one at the mass of
  // its counts: HexNAc4Hex5NeuAc2 is 2204.7724 Da, HexNAc4Hex5NeuGc2 2236.7623.
  for (const auto& [glycan, entry] : std::vector<std::pair<std::string, std::string>>{
           {"HexNAc(4)Hex(5)NeuAc(2)", "1N(2204.7724)"}, {"HexNAc(4)Hex(5)NeuGc(2)", "1N(2236.7623)"}}) {
    ImportedRow r = map_row(fp, {"NK", entry, glycan, "2", "1"}, tables());
    EXPECT_EQ(r.status, RowStatus::Ok) << glycan << ": " << r.problem;
    EXPECT_EQ(r.pep_seq, "NK") << glycan;
  }
  // Letter codes: pGlyco3's A is NeuAc, its X xylose, its R hexuronic acid.
  const ImportColumns pg = import_columns(EngineFormat::PGlyco3, {"Peptide", "Mod", "GlycanComposition", "Charge", "PrecursorMZ"});
  EXPECT_EQ(glycan_string(map_row(pg, {"JK", "", "N(1)H(2)F(3)A(4)G(5)R(6)X(7)", "2", "1"}, tables()).counts),
            "N1H2F3S4G5X[Xyl]7X[HexA]6");
  // MetaMorpheus's S is a sulfate, its X a free xylose, its Y sodium.
  const ImportColumns mm = import_columns(EngineFormat::MetaMorpheus, {"Full Sequence", "Precursor Charge", "Precursor MZ"});
  EXPECT_EQ(glycan_string(map_row(mm, {"N[N-linked glycosylation:N1H2F3A4G5P1S2C3X4K5R6Y7 on Nxt]K", "2", "1"}, tables()).counts),
            "N1H2F3S4G5X[KDN]5X[Phospho]1X[Sulfo]2X[Ac]3X[Xyl+H2O]4X[HexA+H2O]6X[Na]7");
  ImportedRow z = map_row(mm, {"N[N-linked glycosylation:H5N4Z1 on Nxt]K", "2", "1"}, tables());
  EXPECT_NE(z.problem.find("monosaccharide 'Z'"), std::string::npos) << z.problem;
}

// Each entry beyond the five against the mass its engine publishes
// (FragPipe's glycan_residues.txt and glycan_mods.txt, MetaMorpheus's
// Glycan.CharMassDic, GlycReSoft's mass shifts as Unimod and NIST give
// them): within 0.2 mDa (their rounding, and MetaMorpheus's K 0.1 mDa
// above C9H14O8), where a wrong formula is a hydrogen or more off.
// MetaMorpheus's Y and FragPipe's K add the whole metal atom; an adduct is
// read here as the metal less a hydrogen.
TEST(Formats, EntriesHaveTheMassesTheEnginesPublish) {
  const GlycanVocabulary& v = GlycanVocabulary::builtin();
  const double kH = 1.00782503207;
  const std::vector<std::tuple<std::string, std::string, double>> published = {
      {"", "Pent", 132.0423}, {"", "KDN", 250.0689}, {"", "HexA", 176.03209}, {"", "Phospho", 79.96633148},
      {"", "Sulfo", 79.95681763}, {"", "NH4", 17.02655029}, {"", "Na", 21.98194313}, {"", "Acetyl", 42.01055908},
      {"", "K", 38.96370697 - kH}, {"", "Formate", 46.005479}, {"", "Deoxy", -15.994915},
      {"metamorpheus", "X", 150.05282}, {"metamorpheus", "K", 250.06897}, {"metamorpheus", "P", 79.96633},
      {"metamorpheus", "S", 79.95681}, {"metamorpheus", "C", 42.01056}, {"metamorpheus", "R", 194.04265},
      {"metamorpheus", "Y", 22.98977 - kH}, {"pglyco3", "X", 132.0422588}, {"pglyco3", "R", 176.0320881}};
  for (const auto& [engine, code, mass] : published) {
    const std::optional<std::size_t> i = engine.empty() ? v.by_name(code) : v.by_engine_code(engine, code);
    ASSERT_TRUE(i) << engine << " " << code;
    EXPECT_NEAR(v[*i].composition.mass(), mass, 2e-4) << engine << " " << code;
  }
}

TEST(Formats, ModificationsThatCannotBeMappedAreProblemsNotGuesses) {
  const ImportColumns fp = import_columns(EngineFormat::FragPipe, {"Peptide", "Assigned Modifications", "Charge", "Observed M/Z"});
  // Two compositions within 2 mDa of the mass.
  ImportedRow r =
      map_row(fp, {"ACK", "2C(57.0222)", "2", "1"}, tables({{"Oddity", parse_modification_formula("H8N-1O2P")}}, false));
  EXPECT_EQ(r.status, RowStatus::Unmapped);
  EXPECT_EQ(r.problem,
            "modification mass 57.0222 at residue 2 (C) fits modifications of different composition: "
            "'Carbamidomethyl', 'Oddity'");
  // A residue the entry does not name, and a position past the end.
  EXPECT_NE(map_row(fp, {"ACK", "1C(57.0215)", "2", "1"}, tables()).problem.find("the peptide has A at position 1"),
            std::string::npos);
  EXPECT_EQ(map_row(fp, {"ACK", "4C(57.0215)", "2", "1"}, tables()).status, RowStatus::Unmapped);
  // Names the run cannot resolve: with the hint, and without Unimod.
  const RunModel plain = tables({}, false);
  const ImportColumns pg = import_columns(EngineFormat::PGlyco3, {"Peptide", "Mod", "GlycanComposition", "Charge", "PrecursorMZ"});
  ImportedRow t = map_row(pg, {"KJK", "1,TMT6plex[K];", "H(1)", "2", "1"}, plain);
  EXPECT_EQ(t.problem, "Mod entry '1,TMT6plex[K]': unknown modification 'TMT6plex'");
  ImportedRow c = map_row(pg, {"CJK", "1,Carbamidomethy[C];", "H(1)", "2", "1"}, plain);
  EXPECT_EQ(c.problem,
            "Mod entry '1,Carbamidomethy[C]': unknown modification 'Carbamidomethy' (did you mean 'Carbamidomethyl'?)");
  // On one residue the N-terminal modification comes first, whatever the
  // order of the entries.
  ImportedRow both = map_row(pg, {"CJK", "1,Carbamidomethyl[C];1,Acetyl[ProteinN-term];", "H(1)", "2", "1"}, tables());
  EXPECT_EQ(both.pep_seq, "C[Acetyl][Carbamidomethyl]NK");
  EXPECT_EQ(both.pep_mods, "1,C,Acetyl/1,C,Carbamidomethyl");
  // pGlyco3's J is Asn: read as Leu/Ile (the J of the residue table), every
  // glycopeptide would be 1 Da light.
  ImportedRow j = map_row(pg, {"J", "", "", "1", "1"}, tables());
  EXPECT_EQ(j.peptide, reference_tables().aa_comp.at("N"));
  EXPECT_EQ(j.pep_seq, "N");
}

TEST(DelimitedReader, QuotesLineEndsAndBlankLines) {
  TempDir dir;
  const std::string text =
      "\xEF\xBB\xBF" "a,b,c\r\n"            // BOM, CRLF
      "1,\"x, y\",\"say \"\"hi\"\"\"\r"     // separators and "" inside quotes, lone CR
      "\r\n"                                // an empty line
      "   \n"                               // a line of blanks
      " 2 ,\"multi\r\nline\",ab\"cd\n"      // blanks kept, a line end in quotes, a quote inside a field
      "\"q\"tail,,\n"                       // text after the closing quote, empty fields
      "last,no,end";                        // no line end at the end of the file
  write_file(dir / "t.csv", text);
  const std::vector<std::vector<std::string>> expected = {
      {"a", "b", "c"}, {"1", "x, y", "say \"hi\""}, {" 2 ", "multi\r\nline", "ab\"cd"}, {"qtail", "", ""},
      {"last", "no", "end"}};
  std::vector<long> lines;
  EXPECT_EQ(read_all(dir / "t.csv", ',', DelimitedReader::kChunkBytes, &lines), expected);
  EXPECT_EQ(lines, (std::vector<long>{1, 2, 5, 7, 8}));
  for (std::size_t chunk : {4, 5, 7, 64}) EXPECT_EQ(read_all(dir / "t.csv", ',', chunk), expected) << chunk;
  // Tabs separate in a tab table; commas and blanks are text there.
  write_file(dir / "t.tsv", "a b\tc,d\t\n\t\t\n");
  EXPECT_EQ(read_all(dir / "t.tsv", '\t'),
            (std::vector<std::vector<std::string>>{{"a b", "c,d", ""}, {"", "", ""}}));
}

TEST(DelimitedReader, FilesShorterThanAByteOrderMark) {
  // The look-ahead for a byte order mark keeps the read position inside
  // the buffer when the file ends first (fuzz_delimited).
  TempDir dir;
  for (const std::string text : {"", "a", "ab", "\xEF\xBB\xBF", "\xEF\xBB\xBF" "a"}) {
    write_file(dir / "s.csv", text);
    const auto records = read_all(dir / "s.csv", ',');
    const bool one = text.back() == 'a' || text == "ab";
    EXPECT_EQ(records.size(), one ? 1u : 0u) << text.size();
  }
}

TEST(DelimitedReader, MalformedFilesFailWithTheirLine) {
  TempDir dir;
  write_file(dir / "q.csv", "a,b\n1,2\n3,\"open\n\n");
  Error e = error_of([&] { read_all(dir / "q.csv", ','); });
  EXPECT_EQ(e.kind(), ErrorKind::Value);
  EXPECT_EQ(e.line(), 3);
  write_file(dir / "u.tsv", "a\tb\n1\t2\n3\t\xff\n");
  Error u = error_of([&] { read_all(dir / "u.tsv", '\t'); });
  EXPECT_EQ(u.kind(), ErrorKind::Decode);
  EXPECT_EQ(u.line(), 3);
  EXPECT_EQ(u.decode_start(), 2u);
  EXPECT_EQ(error_of([&] { DelimitedReader r(dir / "none.csv", ','); }).os_errno(), ENOENT);
  EXPECT_EQ(error_of([&] { DelimitedReader r(dir.path().string(), ','); }).os_errno(), EISDIR);
}

// MetaMorpheus's names: its own lists (the residue decides where the
// formula does), UniProt's PTM names with or without their type, a metal
// outside the model, an unknown name with the way to define it, and the
// Mods Combined Chemical Formula that explains an unknown name or wins
// over the names with a warning.
TEST(Formats, MetaMorpheusModificationNames) {
  const ImportColumns mm = import_columns(EngineFormat::MetaMorpheus, {"Full Sequence", "Precursor Charge", "Precursor MZ"});
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"N[Common Biological:Hydroxylation on N]K", "NK", "O"},  {"M[Common Variable:Oxidation of M]K", "MK", "O"},
      {"S[Less Common:Dehydroalanine on S]K", "SK", "H-2O-1"}, {"C[Less Common:Dehydroalanine on C]K", "CK", "H-2S-1"},
      {"K[UniProt:N6-acetyllysine on K]", "K", "C2H2O"},     {"S[Uniprot:Phosphoserine]K", "SK", "HPO3"},
      {"Q[UniProt:Pyrrolidone carboxylic acid]K", "QK", "H-3N-1"}, {"E[Pyrrolidone carboxylic acid]K", "EK", "H-2O-1"},
      {"D[Metal:Sodium on D]K", "DK", "H-1Na"},              {"KL[UniProt:Leucine amide]", "KL", "HNO-1"}};
  const RunModel model = tables();
  for (const auto& [seq, residues, formula] : cases) {
    const ImportedRow row = map_row(mm, {seq, "2", "1"}, model);
    ASSERT_EQ(row.status, RowStatus::Ok) << seq << ": " << row.problem;
    EXPECT_EQ(row.peptide, calc_seq_comp(residues, reference_tables().aa_comp) + parse_modification_formula(formula)) << seq;
    // PepSeq's name reads back to the same composition: the name, or its
    // formula where Unimod gives the name another (Dehydroalanine on S).
    const std::string name = row.pep_mods.substr(row.pep_mods.rfind(',') + 1);
    EXPECT_EQ(name.rfind("Formula:", 0) == 0 ? proforma_formula(name.substr(8)) : model.modifications.resolve(name),
              parse_modification_formula(formula)) << seq << " written " << name;
  }
  EXPECT_EQ(map_row(mm, {"S[Less Common:Dehydroalanine on S]K", "2", "1"}, model).pep_seq, "S[Formula:H-2O-1]K");
  EXPECT_NE(map_row(mm, {"D[Metal:Calcium on D]K", "2", "1"}, tables()).problem.find("'Calcium' is H-2Ca"), std::string::npos);
  EXPECT_EQ(map_row(mm, {"K[UniProt:N6-frobnyllysine on K]", "2", "1"}, tables()).problem,
            "[UniProt:N6-frobnyllysine on K]: unknown modification 'N6-frobnyllysine' "
            "(define it with isotope_modification.N6-frobnyllysine = FORMULA)");
  const ImportColumns f = import_columns(
      EngineFormat::MetaMorpheus, {"Full Sequence", "Precursor Charge", "Precursor MZ", "Mods Combined Chemical Formula"});
  const ImportedRow real = map_row(f, {"[Common Biological:Acetylation on X]SDM[Common Variable:Oxidation on M]K", "2", "1", "C2H2O2"}, tables());
  EXPECT_EQ(real.warning, "");  // a row of MetaMorpheus's own test data
  EXPECT_EQ(real.peptide, calc_seq_comp("SDMK", reference_tables().aa_comp) + parse_modification_formula("C2H2O2"));
  const ImportedRow unknown = map_row(f, {"K[UniProt:N6-frobnyllysine on K]", "2", "1", "C4H4O3"}, tables());
  EXPECT_EQ(unknown.peptide, calc_seq_comp("K", reference_tables().aa_comp) + parse_modification_formula("C4H4O3"));
  EXPECT_NE(unknown.warning.find("its formula C4H4O3 was taken"), std::string::npos) << unknown.warning;
  const ImportedRow differs = map_row(f, {"M[Common Variable:Oxidation on M]K", "2", "1", "O2"}, tables());
  EXPECT_EQ(differs.peptide, calc_seq_comp("MK", reference_tables().aa_comp) + parse_modification_formula("O2"));
  EXPECT_NE(differs.warning.find("differ from Mods Combined Chemical Formula 'O2'"), std::string::npos) << differs.warning;
  EXPECT_NE(map_row(mm, {"AK or AR", "2", "1"}, tables()).problem.find("several candidate sequences"), std::string::npos);
}

// A run's own monosaccharide (isotope_monosaccharide) and a count column
// (isotope_count_columns) flow through an importer's mapping, the Glycan
// string, the count cells of our rows and the composition.
TEST(Formats, RunDefinitionsAndCountColumnsFlowThroughMappingAndComposition) {
  ParamFile params;
  params.params = {{"isotope_peaks_num", "3"}, {"isotope_monosaccharide.Xyl", "C5H10O5"},
                   {"isotope_monosaccharide.Rha", "C6H10O4"}, {"isotope_count_columns", "Xyl,Rha"}};
  params.lines = {1, 2, 3, 4};
  const Options options = read_options(params);
  const GlycanVocabulary glycans = run_vocabulary(options);
  const RunModel model(ModelTables::reference(), glycans, {}, nullptr);
  EXPECT_EQ(glycans.count_column_names(), (std::vector<std::string>{"N", "H", "F", "S", "G", "Xyl", "Rha"}));
  const ImportColumns pg = import_columns(EngineFormat::PGlyco3, {"Peptide", "Mod", "GlycanComposition", "Charge", "PrecursorMZ"});
  EXPECT_EQ(glycans.glycan_string(map_row(pg, {"JK", "", "H(1)X(2)", "2", "1"}, model).counts),
            "N0H1F0S0G0X[Xyl]2X[Rha]0");
  const ImportColumns fp = import_columns(EngineFormat::FragPipe, {"Peptide", "Assigned Modifications", "Total Glycan Composition", "Charge", "Observed M/Z"});
  const ImportedRow row = map_row(fp, {"NK", "", "Hex(1)Xyl(1)Rha(1)", "2", "1"}, model);
  ASSERT_EQ(row.status, RowStatus::Ok) << row.problem;
  RowComputer rows(model, options);
  RowOutput out;
  std::string_view column;
  EXPECT_TRUE(rows.compute_imported(row, out, column));
  // NK + Hex + C5H10O5 + C6H10O4 + water = C27H50N4O18, 718.31201077 from the element masses.
  EXPECT_NEAR(out.mass_value, 718.31201077, 1e-7);
  struct Sink final : NoteSink {
    void note(NoteKind, std::string_view) override {}
  } sink;
  RowCells cells;
  cells.pep_seq = {ColumnType::Text, "NK", true};
  for (const char* n : {"0", "1", "0", "0", "0", "1", "1"}) cells.counts.push_back({ColumnType::Int, n, true});
  rows.compute(cells, out, sink, column);
  EXPECT_EQ(out.glycan, "N0H1F0S0G0X[Xyl]1X[Rha]1");
  EXPECT_NEAR(out.mass_value, 718.31201077, 1e-7);
}
