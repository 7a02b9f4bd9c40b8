// Composition model: the composition type, the reference tables with their
// Unimod fallback, and the peptide, glycan and formula rules.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <regex>
#include <tuple>

#include "isotope/model/composition.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/base/errors.hpp"
#include "isotope/model/unimod.hpp"
#include "test_support.hpp"

using namespace isotope;
using testing_support::error_of;

namespace {

using Entries = std::vector<std::pair<std::string, Count>>;

Entries entries(const Composition& c) { return {c.begin(), c.end()}; }
Entries entries(const Counts& c) { return {c.begin(), c.end()}; }

const ReferenceTables& ref() { return reference_tables(); }

}  // namespace

TEST(Composition, KeepsInsertionOrderAndNeverStoresZero) {
  Composition c = {{"H", 2}, {"O", 1}, {"C", 0}};
  EXPECT_EQ(entries(c), (Entries{{"H", 2}, {"O", 1}}));
  c.add("H", -2);  // H drops out; added again it goes to the end
  c.add("H", 1);
  EXPECT_EQ(entries(c), (Entries{{"O", 1}, {"H", 1}}));

  Composition a = {{"C", 1}, {"H", 4}};
  Composition b = {{"O", 2}, {"C", -1}, {"N", 1}};
  EXPECT_EQ(entries(a + b), (Entries{{"H", 4}, {"O", 2}, {"N", 1}}));
  EXPECT_EQ(entries(a), (Entries{{"C", 1}, {"H", 4}}));  // operands unchanged
  EXPECT_EQ(entries(b * 3), (Entries{{"O", 6}, {"C", -3}, {"N", 3}}));
  EXPECT_TRUE((b * 0).empty());
  EXPECT_EQ(a + b, b + a);  // equal as mappings, whatever the order
  // A missing element, on either side, makes them differ.
  Composition water = {{"H", 2}, {"O", 1}}, hydrogen = {{"H", 2}};
  EXPECT_FALSE(water == hydrogen);
  EXPECT_FALSE(hydrogen == water);
}

TEST(Composition, FromFormula) {
  EXPECT_EQ(entries(Composition::from_formula("HPO3")), (Entries{{"H", 1}, {"P", 1}, {"O", 3}}));
  EXPECT_EQ(entries(Composition::from_formula("C8H15NO6")), (Entries{{"C", 8}, {"H", 15}, {"N", 1}, {"O", 6}}));
  EXPECT_EQ(entries(Composition::from_formula("C[13]2SeH2C")), (Entries{{"C[13]", 2}, {"Se", 1}, {"H", 2}, {"C", 1}}));
  EXPECT_EQ(error_of([] { Composition::from_formula("h2"); }).kind(), ErrorKind::Value);
  EXPECT_EQ(error_of([] { Composition::from_formula("C[x]"); }).kind(), ErrorKind::Value);
}

TEST(Composition, OverflowIsAConversionErrorNotAWrap) {
  Composition big = {{"C", INT64_MAX}};
  EXPECT_EQ(error_of([&] { big.add("C", 1); }).kind(), ErrorKind::Value);
  EXPECT_EQ(error_of([&] { (void)(big * 2); }).kind(), ErrorKind::Value);
  // A 21-digit count in a glycan string fails clearly.
  EXPECT_EQ(error_of([] { glycan_counter("N123456789012345678901"); }).kind(), ErrorKind::Value);
  EXPECT_EQ(error_of([] { calc_glycan_comp("N922337203685477580", ref().gly_comp); }).kind(), ErrorKind::Value);
}

TEST(Composition, MassAddsInIterationOrderWithPublishedMasses) {
  EXPECT_EQ((Composition{{"H", 2}, {"O", 1}}).mass(), 0.0 + 2 * 1.00782503207 + 15.99491461956);
  EXPECT_EQ((Composition{{"C[13]", 1}, {"N[15]", 1}}).mass(), 13.0033548378 + 15.0001088982);
  Error e = error_of([] { (Composition{{"Xx", 1}}).mass(); });
  EXPECT_EQ(e.kind(), ErrorKind::Lookup);
  EXPECT_EQ(e.key(), "Xx");
}

TEST(ReferenceTables, NormalLoad) {
  const ReferenceTables& t = ref();
  EXPECT_EQ(t.aa_comp.size(), 25u);
  EXPECT_EQ(entries(t.aa_comp.at("W")), (Entries{{"C", 11}, {"H", 10}, {"N", 2}, {"O", 1}}));
  std::vector<std::string> mod_keys, gly_keys;
  for (const auto& [k, c] : t.mod_comp) mod_keys.push_back(k);
  for (const auto& [k, c] : t.gly_comp) gly_keys.push_back(k);
  EXPECT_EQ(mod_keys, (std::vector<std::string>{"cam", "Carbamidomethyl", "ox", "Oxidation", "tmt10", "p", "tmt11", "guan"}));
  EXPECT_EQ(gly_keys, (std::vector<std::string>{"N", "H", "F", "S", "G", "H[6P]"}));
  EXPECT_EQ(entries(t.mod_comp.at("p")), (Entries{{"H", 1}, {"P", 1}, {"O", 3}}));
  EXPECT_EQ(entries(t.mod_comp.at("tmt10")),
            (Entries{{"H", 20}, {"C", 8}, {"C[13]", 4}, {"N", 1}, {"N[15]", 1}, {"O", 2}}));
  EXPECT_EQ(entries(t.gly_comp.at("H[6P]")), (Entries{{"H", 10}, {"C", 6}, {"O", 5}, {"P", 1}}));
  // The five monosaccharide residues and their published monoisotopic
  // masses (ProForma's monosaccharide list): HexNAc, Hex, Fuc, NeuAc, NeuGc.
  const std::tuple<const char*, Entries, double> residues[] = {
      {"N", {{"H", 13}, {"C", 8}, {"N", 1}, {"O", 5}}, 203.0793725195},
      {"H", {{"H", 10}, {"C", 6}, {"O", 5}}, 162.0528234185},
      {"F", {{"H", 10}, {"C", 6}, {"O", 4}}, 146.0579087989},
      {"S", {{"H", 17}, {"C", 11}, {"N", 1}, {"O", 8}}, 291.0954165065},
      {"G", {{"H", 17}, {"C", 11}, {"N", 1}, {"O", 9}}, 307.0903311260}};
  for (const auto& [code, formula, mass] : residues) {
    EXPECT_EQ(entries(t.gly_comp.at(code)), formula) << code;
    EXPECT_NEAR(t.gly_comp.at(code).mass(), mass, 1e-9) << code;
  }
  EXPECT_EQ(t.db, nullptr);  // no fallback on a normal load

  // mod_d keeps the "Guanidynation" spelling; the Unimod title is no key.
  ASSERT_EQ(t.mod_d.size(), 5u);
  EXPECT_EQ(t.mod_d[4].first, "Guanidynation");
  EXPECT_EQ(t.mod_d[4].second, "guan");
  for (const auto& [name, key] : t.mod_d) {
    EXPECT_NE(name, "Guanidination");
    EXPECT_NE(t.mod_comp.find(key), nullptr) << key;
  }

  // The "mic" masses: GN is m(GlcNAc) minus water, GN2 exactly twice GN.
  ASSERT_EQ(t.mic.size(), 4u);
  EXPECT_EQ(t.mic[0].first, "H2O");
  EXPECT_EQ(t.mic[3].second, t.mic[1].second * 2);
  EXPECT_NEAR(t.mic[1].second, 203.0793725195, 1e-9);
  EXPECT_NEAR(t.mic[2].second, 203.0793725195 + 146.0579087989, 1e-9);
  EXPECT_NEAR(t.mic[0].second, 18.0105646837, 1e-9);
}

TEST(ReferenceTables, UnimodFallbackFromTheFirstEntry) {
  ReferenceTables t = build_reference_tables({.fail_literal_at = "cam", .unimod_path = {}});
  ASSERT_NE(t.db, nullptr);
  std::vector<std::string> keys;
  for (const auto& [k, c] : t.mod_comp) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"cam", "Carbamidomethyl", "ox", "Oxidation", "tmt10", "guan"}));
  EXPECT_TRUE(t.gly_comp.empty());
  // The published records give the same compositions as the literals.
  const ReferenceTables& lit = ref();
  for (const auto& k : keys) EXPECT_EQ(t.mod_comp.at(k), lit.mod_comp.at(k)) << k;
  EXPECT_EQ(t.mod_comp.at("tmt10").get("C[13]"), 4);
}

TEST(ReferenceTables, UnimodFallbackAtTheLastGlycanEntry) {
  ReferenceTables t = build_reference_tables({.fail_literal_at = "H[6P]", .unimod_path = {}});
  ASSERT_NE(t.db, nullptr);
  std::vector<std::string> mods, glys;
  for (const auto& [k, c] : t.mod_comp) mods.push_back(k);
  for (const auto& [k, c] : t.gly_comp) glys.push_back(k);
  // Replaced entries keep their places; p and tmt11 stay from the literals.
  EXPECT_EQ(mods, (std::vector<std::string>{"cam", "Carbamidomethyl", "ox", "Oxidation", "tmt10", "p", "tmt11", "guan"}));
  EXPECT_EQ(glys, (std::vector<std::string>{"N", "H", "F", "S", "G"}));
}

TEST(ReferenceTables, FallbackWithoutDatabaseFailsTheLoad) {
  Error e = error_of([] { build_reference_tables({.fail_literal_at = "cam", .unimod_path = "/nonexistent/unimod.xml"}); });
  EXPECT_EQ(e.kind(), ErrorKind::OS);
  EXPECT_EQ(e.kind_name(), "FileNotFoundError");
}

TEST(Unimod, RecordsByTitleOrFullName) {
  auto records = parse_unimod_xml(R"xml(<umod:unimod><umod:modifications>
    <umod:mod title="Guanidinyl" full_name="Guanidination" record_id="52">
      <umod:specificity site="K"/>
      <umod:delta mono_mass="42.021798" composition="H(2) C N(2)">
        <umod:element symbol="H" number="2"/><umod:element symbol="C" number="1"/>
        <umod:element symbol="N" number="2"/></umod:delta></umod:mod>
    <umod:mod title="Label:13C(6)" full_name="13C(6) Silac &amp; label" record_id="188">
      <umod:delta mono_mass="6.020129"><umod:element symbol="C" number="-6"/>
        <umod:element symbol="13C" number="6"/></umod:delta></umod:mod>
  </umod:modifications></umod:unimod>)xml");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].full_name, "13C(6) Silac & label");
  EXPECT_EQ(entries(records[1].composition), (Entries{{"C", -6}, {"C[13]", 6}}));
  auto db = UnimodDb::load();  // the database OpenMS ships
  EXPECT_EQ(db->by_title("Guanidination").title, "Guanidinyl");
  EXPECT_EQ(entries(db->by_title("Guanidination").composition), (Entries{{"H", 2}, {"C", 1}, {"N", 2}}));
  EXPECT_EQ(error_of([&] { db->by_title("No such thing"); }).kind(), ErrorKind::Lookup);
}

TEST(Peptide, SequenceAndModificationCompositions) {
  const auto& t = ref();
  EXPECT_EQ(calc_seq_comp("GG", t.aa_comp), (Composition{{"C", 4}, {"H", 6}, {"N", 2}, {"O", 2}}));
  EXPECT_EQ(calc_seq_comp("GG", t.aa_comp, false), (Composition{{"C", 4}, {"H", 8}, {"N", 2}, {"O", 3}}));
  EXPECT_TRUE(calc_seq_comp("", t.aa_comp).empty());
  EXPECT_EQ(calc_seq_comp("", t.aa_comp, false), (Composition{{"H", 2}, {"O", 1}}));
  EXPECT_EQ(calc_pep_comp("GC", "2,C,Carbamidomethyl", t.aa_comp, t.mod_comp),
            (Composition{{"C", 7}, {"H", 11}, {"N", 3}, {"O", 3}, {"S", 1}}));
  // A rearranged sequence has the same composition; empty or missing mods add nothing.
  EXPECT_EQ(calc_seq_comp("PEPTIDE", t.aa_comp), calc_seq_comp("EDITPEP", t.aa_comp));
  EXPECT_EQ(calc_pep_comp("PEPTIDE", "", t.aa_comp, t.mod_comp, false), calc_seq_comp("PEPTIDE", t.aa_comp, false));
  EXPECT_EQ(calc_pep_comp("PEPTIDE", std::nullopt, t.aa_comp, t.mod_comp), calc_seq_comp("PEPTIDE", t.aa_comp));
  // One water per peptide, however many modifications.
  Composition two_mods = calc_pep_comp("MM", "1,M,ox/2,M,Oxidation", t.aa_comp, t.mod_comp, false);
  EXPECT_EQ(two_mods, (calc_seq_comp("MM", t.aa_comp) + Composition{{"O", 3}, {"H", 2}}));
  // Labelled keys are carried unchanged.
  EXPECT_EQ(calc_pep_comp("K", "1,K,tmt10", t.aa_comp, t.mod_comp).get("N[15]"), 1);
}

TEST(Peptide, ModsCounter) {
  EXPECT_EQ(entries(mods_counter("3,C,Carbamidomethyl/5,M,Oxidation/9,C,Carbamidomethyl")),
            (Entries{{"Carbamidomethyl", 2}, {"Oxidation", 1}}));
  EXPECT_EQ(entries(mods_counter("Oxidation")), (Entries{{"Oxidation", 1}}));
  EXPECT_EQ(entries(mods_counter("2,Carbamidomethyl[C]")), (Entries{{"Carbamidomethyl[C]", 1}}));
  EXPECT_EQ(entries(mods_counter("a//b/")), (Entries{{"a", 1}, {"", 2}, {"b", 1}}));
}

TEST(Peptide, LookupErrorsNameTheKey) {
  const auto& t = ref();
  struct Case {
    const char* seq;
    const char* mods;
    const char* key;
  } cases[] = {
      {"PEPxIDE", "", "x"},        {"PEP TIDE", "", " "},
      {"PEPTIDE", "1,P,Carbamidomethyl[C]", "Carbamidomethyl[C]"},
      {"PEPTIDE", "1,P,ox/", ""},  {"PEPTIDE", " ", " "},
      {"XEPTIDE", "1,P,nope", "X"},  // the sequence fails before the modifications
  };
  for (const auto& c : cases) {
    Error e = error_of([&] { calc_pep_comp(c.seq, c.mods, t.aa_comp, t.mod_comp); });
    EXPECT_EQ(e.kind(), ErrorKind::Lookup) << c.seq;
    EXPECT_EQ(e.key(), c.key) << c.seq;
  }
  EXPECT_STREQ(error_of([&] { calc_seq_comp("PEPXIDE", t.aa_comp); }).what(), "unknown residue 'X'");
}

TEST(Glycan, CounterReadsPairsAndSkipsTheRest) {
  EXPECT_EQ(entries(glycan_counter("N4H5F1S0G0")), (Entries{{"N", 4}, {"H", 5}, {"F", 1}, {"S", 0}, {"G", 0}}));
  EXPECT_EQ(entries(glycan_counter("H[6P]2N3")), (Entries{{"H[6P]", 2}, {"N", 3}}));
  EXPECT_EQ(entries(glycan_counter("H3N2H2")), (Entries{{"H", 2}, {"N", 2}}));  // last count, first place
  EXPECT_EQ(entries(glycan_counter("N2.0H5.0F0.0S1.0G0.0")), (Entries{{"N", 2}, {"H", 5}, {"F", 0}, {"S", 1}, {"G", 0}}));
  EXPECT_EQ(entries(glycan_counter("N2.5")), (Entries{{"N", 2}}));
  EXPECT_TRUE(glycan_counter("Hex5NeuAc1").empty());
  EXPECT_TRUE(glycan_counter("N-1").empty());
  EXPECT_EQ(entries(glycan_counter("H[6P]N4")), (Entries{{"N", 4}}));
  EXPECT_EQ(entries(glycan_counter("N10H012")), (Entries{{"N", 10}, {"H", 12}}));
  EXPECT_EQ(entries(glycan_counter("NTrueH5")), (Entries{{"H", 5}}));
  // Backtracking: the label may hold "]" when the shorter run has no digits.
  EXPECT_EQ(entries(glycan_counter("H[a]b]3")), (Entries{{"H[a]b]", 3}}));
  EXPECT_TRUE(glycan_counter("H[a\n]3").empty());  // "." does not match a line feed
  EXPECT_EQ(entries(glycan_counter("N\xd9\xa4")), (Entries{{"N", 4}}));  // \d is any decimal digit
}

TEST(Glycan, Compositions) {
  const auto& t = ref();
  EXPECT_EQ(calc_glycan_comp("N1H1F0S0G0", t.gly_comp), (Composition{{"H", 23}, {"C", 14}, {"N", 1}, {"O", 10}}));
  EXPECT_EQ(calc_glycan_comp("N1H1F0S0G0", t.gly_comp, false), (Composition{{"H", 25}, {"C", 14}, {"N", 1}, {"O", 11}}));
  EXPECT_EQ(calc_glycan_comp("N2H0", t.gly_comp), t.gly_comp.at("N") * 2);
  EXPECT_TRUE(calc_glycan_comp("", t.gly_comp).empty());
  EXPECT_EQ(calc_glycan_comp("", t.gly_comp, false), (Composition{{"H", 2}, {"O", 1}}));
  // Every code is looked up, also with count 0.
  for (const char* g : {"X1", "X0", "N1X0"}) {
    Error e = error_of([&] { calc_glycan_comp(g, t.gly_comp); });
    EXPECT_EQ(e.kind(), ErrorKind::Lookup);
    EXPECT_EQ(e.key(), "X");
  }
}

TEST(Formula, WriteAndReadBack) {
  Composition c = {{"H", 20}, {"C", 8}, {"C[13]", 4}, {"N", 1}, {"N[15]", 1}, {"O", 2}};
  EXPECT_EQ(comp_to_str(c), "H20C8C[13]4N1N[15]1O2");
  EXPECT_EQ(entries(component_counter("H20C8C[13]4N1N[15]1O2")), entries(c));
  EXPECT_EQ(comp_to_str(Composition{}), "");
  EXPECT_EQ(comp_to_str(Composition{{"H", -2}}), "H-2");
  EXPECT_EQ(entries(component_counter("C3H5N1O1Se1")), (Entries{{"C", 3}, {"H", 5}, {"N", 1}, {"O", 1}}));
  EXPECT_TRUE(component_counter("H-2").empty());
  EXPECT_EQ(entries(component_counter("C6H12C2")), (Entries{{"C", 2}, {"H", 12}}));

  // Random round trips: single upper-case keys, optionally labelled, counts >= 0.
  std::mt19937_64 rng(7);
  for (int i = 0; i < 2000; ++i) {
    Counts counts;
    int n = static_cast<int>(rng() % 6);
    for (int k = 0; k < n; ++k) {
      std::string key(1, static_cast<char>('A' + rng() % 26));
      if (rng() % 3 == 0) {
        key += '[';
        key += std::to_string(rng() % 200);
        key += rng() % 2 ? "x]" : "]";
      }
      counts.set(key, static_cast<Count>(rng() % 1000));
    }
    std::string text;
    for (const auto& [k, v] : counts) text += k + std::to_string(v);
    EXPECT_EQ(component_counter(text), counts) << text;
  }
}

TEST(Peptide, SplitPeptide) {
  struct Case {
    const char* pep;
    const char* seq;
    const char* mods;
  } cases[] = {
      {"AC[Carbamidomethyl]M[Oxidation]K", "ACMK", "2,C,Carbamidomethyl/3,M,Oxidation"},
      {"PEPTIDE", "PEPTIDE", ""},
      {"C[Carbamidomethyl]PEPTIDE", "CPEPTIDE", "1,C,Carbamidomethyl"},
      {"pePTIDE", "PTIDE", ""},
      {"aC[Carbamidomethyl]K", "CK", "1,C,Carbamidomethyl"},
      {"n[TMT6plex]PEPTIDE", "TMTPEPTIDE", ""},
      {"C[]K", "CK", ""},
      {"C[]]K", "CK", "1,C,]"},
      {"C[Carbamidomethyl][Oxidation]", "CO", "1,C,Carbamidomethyl"},
      {"S[p]T[a\nb]", "ST", "1,S,p"},
  };
  for (const auto& c : cases) {
    PeptideParts parts = split_peptide(c.pep);
    EXPECT_EQ(parts.seq, c.seq) << c.pep;
    EXPECT_EQ(parts.mods, c.mods) << c.pep;
  }
}

// The hand-written scanners against std::regex on random short strings.
// ECMAScript's "." refuses "\r" where Python's accepts it, so the alphabet
// has no carriage return; "\n" is in it.
TEST(Scanners, AgreeWithRegexOnRandomStrings) {
  const std::regex pair_re(R"(([A-Z]|[A-Z]\[.+?\])(\d+))");
  const std::regex token_re(R"([A-Z]\[.+?\]|[A-Z])");
  const std::string alphabet = "ABH[]]]0123.\n-x";
  std::mt19937_64 rng(42);
  for (int i = 0; i < 20000; ++i) {
    std::string s;
    std::size_t len = rng() % 14;
    for (std::size_t k = 0; k < len; ++k) s += alphabet[rng() % alphabet.size()];

    std::vector<std::pair<std::string, std::string>> expected, got;
    for (auto it = std::sregex_iterator(s.begin(), s.end(), pair_re); it != std::sregex_iterator(); ++it)
      expected.emplace_back((*it)[1].str(), (*it)[2].str());
    scan_pairs(s, [&](std::string_view key, std::string_view digits) { got.emplace_back(key, digits); });
    ASSERT_EQ(got, expected) << s;

    std::string seq, mods;
    int token = 0;
    for (auto it = std::sregex_iterator(s.begin(), s.end(), token_re); it != std::sregex_iterator(); ++it) {
      std::string tok = it->str();
      ++token;
      seq += tok[0];
      if (tok.size() > 1) {
        if (!mods.empty()) mods += '/';
        mods.append(std::to_string(token)).append(1, ',').append(1, tok[0]).append(1, ',');
        mods.append(tok, 2, tok.size() - 3);
      }
    }
    PeptideParts parts = split_peptide(s);
    ASSERT_EQ(parts.seq, seq) << s;
    ASSERT_EQ(parts.mods, mods) << s;
  }
}

TEST(Scanners, LinearOnAMegabyte) {
  // Brackets that never close with digits would make a naive lazy match
  // quadratic; these finish at once.
  std::string s;
  while (s.size() < (1u << 20)) s += "A[A[";
  EXPECT_TRUE(glycan_counter(s).empty());
  EXPECT_EQ(split_peptide(s).seq.size(), s.size() / 2);
  std::string t(1u << 20, ']');
  t[0] = 'N';
  t[1] = '[';
  t.back() = '7';
  EXPECT_EQ(glycan_counter(t).size(), 1u);
}

// Masses of three worked compositions, bit for bit; the glycopeptide is
// the IgG1 Fc G0F glycopeptide, whose [M+2H]2+ is about 1317.527.
TEST(Masses, WorkedExamples) {
  const auto& t = ref();
  const double proton = 1.007276466812;
  double peptide = calc_seq_comp("PEPTIDE", t.aa_comp, false).mass();
  double glycan = calc_glycan_comp("N4H5F1S0G0", t.gly_comp).mass();
  double gp = (calc_pep_comp("EEQYNSTYR", "", t.aa_comp, t.mod_comp) + calc_glycan_comp("N4H3F1S0G0", t.gly_comp) +
               Composition{{"H", 2}, {"O", 1}})
                  .mass();
  EXPECT_NEAR(peptide, 799.3599640, 1e-6);
  EXPECT_NEAR(glycan, 1768.6395, 1e-3);  // G2F glycan residue, without water
  EXPECT_NEAR((gp + 2 * proton) / 2, 1317.527, 1e-3);
  EXPECT_EQ(peptide, 799.35996402671);
  EXPECT_EQ(glycan, 1768.6395159694798);
  EXPECT_EQ(gp, 2633.03859989992);
}
