// Modification names: definition formulas, the resolver against the plain
// lookup in the built-in table, Unimod lookups (title, full name, alternative name, accession,
// case, ambiguity), the mass-shift refusal, the "did you mean" hint against
// Python's difflib, and the mass-to-name search.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "isotope/base/errors.hpp"
#include "isotope/model/close_matches.hpp"
#include "isotope/model/modifications.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/model/unimod.hpp"
#include "test_support.hpp"

using namespace isotope;
using testing_support::error_of;

namespace {

using Entries = std::vector<std::pair<std::string, Count>>;
Entries entries(const Composition& c) { return {c.begin(), c.end()}; }

// The built-in modification table, which a plain lookup (calc_mod_comp) reads.
const CompTable& built_in() { return reference_tables().mod_comp; }

std::shared_ptr<const UnimodDb> unimod() {
  static const auto db = UnimodDb::load();
  return db;
}

}  // namespace

TEST(ModificationFormula, ReadsSignedCountsAndLabelledAtoms) {
  EXPECT_EQ(entries(parse_modification_formula("H-1N-1O1")), (Entries{{"H", -1}, {"N", -1}, {"O", 1}}));
  EXPECT_EQ(entries(parse_modification_formula("C2H2O")), (Entries{{"C", 2}, {"H", 2}, {"O", 1}}));
  EXPECT_EQ(entries(parse_modification_formula("C[13]6N[15]2H+3Se")),
            (Entries{{"C[13]", 6}, {"N[15]", 2}, {"H", 3}, {"Se", 1}}));
  EXPECT_EQ(entries(parse_modification_formula("H2H-1")), (Entries{{"H", 1}}));  // counts add up
}

TEST(ModificationFormula, ErrorsSayWhatAndWhere) {
  struct Case {
    const char* formula;
    const char* says;
  };
  for (const Case& c : {Case{"C2X1", "element 'X' has no known mass (known: H, C, N, O, P, S, Se, Na, K, C[13], N[15]) at character 3"},
                        Case{"CaO", "element 'Ca' has no known mass"},
                        Case{"C[14]2", "element 'C[14]' has no known mass"},
                        Case{"H-O", "a sign must be followed by digits at character 2"},
                        Case{"C[13", "malformed at character 2"},
                        Case{"2H", "expected an element symbol (a capital letter), found '2' at character 1"},
                        Case{"C2 H2", "found ' ' at character 3"},
                        Case{"", "it is empty"}}) {
    Error e = error_of([&] { parse_modification_formula(c.formula); });
    EXPECT_EQ(e.kind(), ErrorKind::Value) << c.formula;
    EXPECT_NE(e.message().find(c.says), std::string::npos) << c.formula << ": " << e.message();
  }
}

TEST(ModificationResolver, AgreesWithThePlainLookupOnTheBuiltInNames) {
  const ModificationResolver plain(built_in());
  const ModificationResolver full(built_in(), {}, unimod());
  for (const auto& [key, comp] : built_in()) {
    EXPECT_EQ(entries(plain.resolve(key)), entries(comp)) << key;
    EXPECT_EQ(entries(full.resolve(key)), entries(comp)) << key;  // the table before Unimod
  }
  const std::string mods = "2,C,cam/3,M,ox/5,K,tmt10/5,K,tmt10/7,S,p/8,K,guan/9,M,Oxidation/1,C,Carbamidomethyl";
  EXPECT_EQ(entries(plain.resolve_mods(mods)), entries(calc_mod_comp(mods, built_in())));
  // Unknown names: the plain lookup's kind and key; the message adds only the hint.
  for (const char* name : {"Carbamidomethy", "zzzz", "carbamidomethyl"}) {
    Error lookup = error_of([&] { calc_mod_comp(std::string("1,C,") + name, built_in()); });
    Error e = error_of([&] { plain.resolve_mods(std::string("1,C,") + name); });
    EXPECT_EQ(e.kind(), lookup.kind());
    EXPECT_EQ(e.key(), lookup.key());
    EXPECT_EQ(e.message().substr(0, lookup.message().size()), lookup.message());
  }
  EXPECT_EQ(error_of([&] { plain.resolve("zzzz"); }).message(), "unknown modification 'zzzz'");
  EXPECT_EQ(error_of([&] { plain.resolve("Carbamidomethy"); }).message(),
            "unknown modification 'Carbamidomethy' (did you mean 'Carbamidomethyl'?)");
  EXPECT_EQ(error_of([&] { plain.resolve("tmt1"); }).message(),
            "unknown modification 'tmt1' (did you mean 'tmt11' or 'tmt10'?)");
  // With Unimod on, its titles are known names too (Python's difflib gives
  // these three for the table's keys followed by the file's titles).
  EXPECT_EQ(error_of([&] { full.resolve("Deamidatd"); }).message(),
            "unknown modification 'Deamidatd' (did you mean 'Deamidated', 'Ethyl+Deamidated' or 'Amidated'?)");
}

TEST(ModificationResolver, KnownNamesAreTheTableThenUnimodEachOnce) {
  // The known names are the table's keys, then the Unimod titles not among
  // them, each once; the index behind them stays valid while the list grows
  // (fuzz_import, fuzz_modifications under AddressSanitizer).
  const ModificationResolver r(built_in(), {{"Deamidated", parse_modification_formula("H-1N-1O")}}, unimod());
  const auto& known = r.known_names();
  std::vector<std::string> expected;
  for (const auto& [key, comp] : r.table()) expected.push_back(key);
  for (const auto& rec : unimod()->records())
    if (!rec.title.empty() && std::find(expected.begin(), expected.end(), rec.title) == expected.end())
      expected.push_back(rec.title);
  EXPECT_EQ(known, expected);
  EXPECT_EQ(known[8], "Deamidated");  // a definition after the eight built-in keys
}

TEST(ModificationResolver, DefinitionsAddAndReplace) {
  const ModificationResolver r(built_in(), {{"Deamidated", parse_modification_formula("H-1N-1O1")},
                                         {"ox", parse_modification_formula("O2")}});
  EXPECT_EQ(entries(r.resolve("Deamidated")), (Entries{{"H", -1}, {"N", -1}, {"O", 1}}));
  EXPECT_EQ(entries(r.resolve("ox")), (Entries{{"O", 2}}));
  EXPECT_EQ(entries(r.resolve("Oxidation")), (Entries{{"O", 1}}));  // the others stay
  EXPECT_EQ(error_of([&] { r.resolve("Deamidatd"); }).message(),
            "unknown modification 'Deamidatd' (did you mean 'Deamidated'?)");
}

TEST(ModificationResolver, MassShiftsNeedANamedModification) {
  const ModificationResolver r(built_in(), {}, unimod());
  for (const char* shift : {"+57.021", "-17.03", "15.9949", "+.98"}) {
    Error e = error_of([&] { r.resolve(shift); });
    EXPECT_EQ(e.kind(), ErrorKind::Lookup);
    EXPECT_EQ(e.key(), shift);
    EXPECT_NE(e.message().find("is a mass shift: isotope needs a named modification"), std::string::npos);
  }
  EXPECT_EQ(error_of([&] { r.resolve("+"); }).message().find("mass shift"), std::string::npos);
}

TEST(ModificationResolver, UnimodByTitleFullNameAltNameAccessionAnyCase) {
  const ModificationResolver r(built_in(), {}, unimod());
  const Entries deamidated = {{"H", -1}, {"N", -1}, {"O", 1}};
  for (const char* name : {"Deamidated", "deamidated", "DEAMIDATION", "UNIMOD:7", "unimod:7", "Deamidation"})
    EXPECT_EQ(entries(r.resolve(name)), deamidated) << name;
  EXPECT_EQ(entries(r.resolve("phosphorylation")), (Entries{{"H", 1}, {"O", 3}, {"P", 1}}));
  EXPECT_EQ(entries(r.resolve("Carboxyamidomethylation")), entries(built_in().at("cam")));  // an alt_name
  EXPECT_EQ(entries(r.resolve("TMT6plex")), entries(built_in().at("tmt10")));
  EXPECT_EQ(entries(r.resolve("UNIMOD:35")), (Entries{{"O", 1}}));
  // Not looked up without the option, nor by a malformed accession.
  EXPECT_EQ(error_of([] { ModificationResolver(built_in()).resolve("Deamidated"); }).kind(), ErrorKind::Lookup);
  EXPECT_EQ(error_of([&] { r.resolve("UNIMOD:x7"); }).key(), "UNIMOD:x7");
  EXPECT_EQ(error_of([&] { r.resolve("UNIMOD:999999"); }).key(), "UNIMOD:999999");
  // A name that fits records of different composition names them.
  Error amb = error_of([&] { r.resolve("triiodo"); });
  EXPECT_EQ(amb.kind(), ErrorKind::Lookup);
  EXPECT_NE(amb.message().find("fits Unimod records of different composition: 'Triiodo' (UNIMOD:"), std::string::npos)
      << amb.message();
  EXPECT_NE(amb.message().find("'Triiodothyronine' (UNIMOD:"), std::string::npos);
  // A record with an element the tool has no mass for.
  Error heavy = error_of([&] { r.resolve("Label:2H(4)"); });
  EXPECT_NE(heavy.message().find("which holds H[2]: isotope has no mass"), std::string::npos) << heavy.message();
}

TEST(ModificationResolver, CommonCompositionsAreUnimods) {
  // The mass search's built-in list against the Unimod file itself.
  for (const auto& d : common_unimod_modifications())
    EXPECT_EQ(entries(unimod()->by_title(d.name).composition), entries(d.composition)) << d.name;
}

TEST(ModificationResolver, MassToName) {
  const ModificationResolver r(built_in());
  struct Case {
    double mass;
    const char* name;
  };
  // The table first (its common Unimod title when a composition has one),
  // then Unimod's common modifications.
  for (const Case& c : {Case{57.0214, "Carbamidomethyl"}, Case{57.0234, "Carbamidomethyl"}, Case{15.9949, "Oxidation"},
                        Case{229.1629, "tmt10"}, Case{79.9663, "p"}, Case{42.0106, "Acetyl"}, Case{0.9840, "Deamidated"},
                        Case{-17.0265, "Gln->pyro-Glu"}, Case{-18.0106, "Glu->pyro-Glu"}, Case{304.2071, "TMTpro"},
                        Case{14.0157, "Methyl"}, Case{42.0218, "guan"}}) {
    MassMatch m = r.name_for_mass(c.mass);
    EXPECT_EQ(m.kind, MassMatch::Kind::Found) << c.mass;
    EXPECT_EQ(m.name, c.name) << c.mass;
  }
  // Gln->pyro-Glu and Ammonia-loss share one composition: one answer.
  EXPECT_EQ(entries(r.name_for_mass(-17.0265).composition), (Entries{{"H", -3}, {"N", -1}}));
  EXPECT_EQ(r.name_for_mass(57.0236).kind, MassMatch::Kind::Unknown);  // 2.1 mDa off
  EXPECT_EQ(r.name_for_mass(1864.6342).kind, MassMatch::Kind::Unknown);
  // A second name of the same composition counts as one.
  const ModificationResolver same(built_in(), {{"Iodoacetamide", parse_modification_formula("C2H3NO")}});
  EXPECT_EQ(same.name_for_mass(57.0215).name, "Carbamidomethyl");
  // Two compositions within 2 mDa: a problem, never a guess.
  const ModificationResolver two(built_in(), {{"Oddity", parse_modification_formula("H8N-1O2P")}});  // 57.02312
  MassMatch m = two.name_for_mass(57.0222);
  EXPECT_EQ(m.kind, MassMatch::Kind::Ambiguous);
  EXPECT_EQ(m.candidates, (std::vector<std::string>{"Carbamidomethyl", "Oddity"}));
  EXPECT_EQ(two.name_for_mass(57.0245).name, "Oddity");
}

TEST(ModificationResolver, LookupsFromManyThreadsAgree) {
  const ModificationResolver r(built_in(), {}, unimod());
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 200; ++k) {
        wrong[static_cast<std::size_t>(t)] += !(r.resolve("deamidation") == parse_modification_formula("H-1N-1O"));
        wrong[static_cast<std::size_t>(t)] += r.name_for_mass(15.9949).name != "Oxidation";
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, (std::vector<int>{0, 0, 0, 0}));
}

// close_matches against Python's own difflib on random word lists.
TEST(CloseMatches, AgreesWithPythonsDifflib) {
  const std::string script = (std::filesystem::path(ISOTOPE_TEST_DATA).parent_path() / "difflib_cases.py").string();
  auto o = testing_support::run({ISOTOPE_PYTHON3, script, "--seed", "7", "--cases", "4000"});
  ASSERT_EQ(o.status, 0) << o.err;
  auto split = [](std::string_view s, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t p; (p = s.find(sep, start)) != std::string_view::npos; start = p + 1) out.emplace_back(s.substr(start, p - start));
    out.emplace_back(s.substr(start));
    return out;
  };
  auto list = [&](const std::string& field) {
    std::vector<std::string> parts = split(field, '\x1d');
    return std::vector<std::string>(parts.begin() + 1, parts.end());
  };
  std::size_t cases = 0, nonempty = 0, long_words = 0;
  for (const std::string& record : split(o.out, '\x1e')) {
    if (record.empty()) continue;
    std::vector<std::string> f = split(record, '\x1f');
    ASSERT_EQ(f.size(), 5u);
    const auto n = std::stoul(f[0]);
    const double cutoff = std::strtod(f[1].c_str(), nullptr);
    std::vector<std::string> expected = list(f[4]);
    EXPECT_EQ(close_matches(f[2], list(f[3]), n, cutoff), expected) << "word " << f[2];
    ++cases;
    nonempty += !expected.empty();
    long_words += f[2].size() >= 200;
  }
  EXPECT_EQ(cases, 4000u);
  EXPECT_GT(nonempty, 1000u);  // the cases do exercise matching
  EXPECT_GT(long_words, 50u);  // and the junk heuristic
  EXPECT_EQ(error_of([] { close_matches("a", {}, 0); }).kind(), ErrorKind::Value);
  EXPECT_EQ(error_of([] { close_matches("a", {}, 3, 1.5); }).kind(), ErrorKind::Value);
}
