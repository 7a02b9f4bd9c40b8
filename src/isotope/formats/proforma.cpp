// ProForma peptidoforms: the reader (a row mapper) and the writer of
// GP_ProForma.
#include "isotope/formats/proforma.hpp"

#include <array>
#include <cctype>

#include "isotope/base/errors.hpp"
#include "isotope/formats/row_parts.hpp"
#include "isotope/model/modifications.hpp"
#include "isotope/model/unimod.hpp"

namespace isotope {

namespace {

// ProForma's monosaccharide names (its glycan composition list, with the
// sialic acids' Neu5Ac/Neu5Gc spellings) and the vocabulary entries each
// stands for: HexS is a hexose with a sulfate, HexP one with a phosphate.
// The first name of an entry is the one written.
struct ProformaName {
  std::string_view name;
  std::array<std::string_view, 2> parts;
};
constexpr ProformaName kNames[] = {
    {"HexNAc", {"HexNAc"}}, {"Hex", {"Hex"}},       {"Fuc", {"Fuc"}},       {"dHex", {"Fuc"}},
    {"NeuAc", {"NeuAc"}},   {"Neu5Ac", {"NeuAc"}},  {"NeuGc", {"NeuGc"}},   {"Neu5Gc", {"NeuGc"}},
    {"Pen", {"Pent"}},      {"HexS", {"Hex", "Sulfo"}}, {"HexP", {"Hex", "Phospho"}}, {"HexNAcS", {"HexNAc", "Sulfo"}},
};

bool starts_with(std::string_view s, std::string_view head) { return s.substr(0, head.size()) == head; }

// ProForma's isotope notation "[13C2]" in our formula keys "C[13]2".
std::string formula_keys(std::string_view f) {
  std::string out;
  for (std::size_t p = 0; p < f.size(); ++p) {
    if (f[p] != '[') {
      out += f[p];
      continue;
    }
    std::size_t q = p + 1, close = f.find(']', p);
    if (close == std::string_view::npos) return std::string(f);
    while (q < close && std::isdigit(static_cast<unsigned char>(f[q]))) ++q;
    std::size_t e = q + 1;
    while (e < close && std::islower(static_cast<unsigned char>(f[e]))) ++e;
    out.append(f.substr(q, e - q)).append("[").append(f.substr(p + 1, q - p - 1)).append("]");
    out.append(f.substr(e, close - e));
    p = close;
  }
  return out;
}

// Our formula keys back in ProForma's notation: C[13] becomes [13C<n>].
std::string formula_text(const Composition& comp) {
  std::string out;
  for (const auto& [key, n] : comp) {
    const std::size_t open = key.find('[');
    if (open == std::string::npos) {
      out += key + std::to_string(n);
    } else {
      out += '[';
      out.append(key, open + 1, key.size() - open - 2).append(key, 0, open).append(std::to_string(n));
      out += ']';
    }
  }
  return out;
}

}  // namespace

Composition proforma_formula(std::string_view formula) { return parse_modification_formula(formula_keys(formula)); }

std::string proforma_modification(const Composition& composition, const UnimodDb* unimod) {
  for (const ModificationDefinition& d : common_unimod_modifications())
    if (d.composition == composition) return d.name;
  if (unimod)
    for (const UnimodRecord& r : unimod->records())
      if (r.composition == composition) return r.title;
  return "Formula:" + formula_text(composition);
}

std::string proforma_glycan(const GlycanVocabulary& glycans, const GlycanCounts& counts) {
  std::string out;
  for (std::size_t i = 0; i < counts.size() && i < glycans.size(); ++i) {
    if (counts[i] == 0) continue;
    const Monosaccharide& m = glycans[i];
    std::string_view name = m.names.empty() ? std::string_view(m.code) : std::string_view(m.names.front());
    for (const ProformaName& p : kNames)
      if (p.parts[1].empty() && !m.names.empty() && p.parts[0] == m.names.front()) {
        name = p.name;
        break;
      }
    out.append(name).append(std::to_string(counts[i]));
  }
  return out.empty() ? out : "Glycan:" + out;
}

std::string proforma_text(std::string_view residues, const std::vector<ProformaMod>& mods, std::string_view glycan,
                          std::optional<std::size_t> glycan_site, std::optional<long> charge) {
  std::string out;
  const bool placed = glycan_site && *glycan_site >= 1 && *glycan_site <= residues.size();
  if (!glycan.empty() && !placed) out.append("[").append(glycan).append("]?");
  std::size_t m = 0;
  for (std::size_t i = 0; i < residues.size(); ++i) {
    out += residues[i];
    for (; m < mods.size() && mods[m].position <= i + 1; ++m) out.append("[").append(mods[m].text).append("]");
    if (!glycan.empty() && placed && *glycan_site == i + 1) out.append("[").append(glycan).append("]");
  }
  if (charge) {
    out += '/';
    out += std::to_string(*charge);
  }
  return out;
}

namespace formats {

namespace {

// What a bracket holds: a glycan composition (added to the counts) or a
// modification (name and composition).
struct Bracketed {
  bool glycan = false;
  std::string name;
  Composition composition;
};

class ProformaReader {
 public:
  ProformaReader(std::string_view text, const RunModel& model, ImportedRow& row)
      : text_(text), model_(model), row_(row), counts_(model.glycans.zero_counts()) {}

  void read() {
    check_top_level();
    std::string_view s = read_charge(text_);
    s = read_prefix(s);
    read_sequence(s);
    row_.counts = counts_;
    finish_peptide(row_, residues_, std::move(mods_), model_.residues);
    if (!unlocalised_glycan_) row_.glycan_site = glycan_site_;
  }

 private:
  [[noreturn]] void refuse(std::string_view construct) const {
    unmapped("peptidoform " + py_repr(text_) + " holds " + std::string(construct) + ", which the model cannot hold");
  }
  [[noreturn]] void malformed(std::string_view what) const {
    unmapped("peptidoform " + py_repr(text_) + " " + std::string(what));
  }

  // Cross-links and chimeric peptidoforms show outside the brackets.
  void check_top_level() const {
    int depth = 0;
    for (std::size_t p = 0; p < text_.size(); ++p) {
      const char c = text_[p];
      depth += (c == '[' || c == '{' || c == '<') - (c == ']' || c == '}' || c == '>');
      if (depth != 0) continue;
      if (c == '+') refuse("a chimeric peptidoform ('+')");
      if (c == '/' && p + 1 < text_.size() && text_[p + 1] == '/') refuse("a cross-link ('//')");
    }
  }

  // The charge after the last '/' outside brackets.
  std::string_view read_charge(std::string_view s) {
    const std::size_t slash = s.rfind('/');
    if (slash == std::string_view::npos || s.find(']', slash) != std::string_view::npos) {
      if (slash != std::string_view::npos && s.find('[', slash) != std::string_view::npos)
        refuse("an adduct ion charge ('/2[+2Na+]')");
      return s;
    }
    const std::optional<long> z = parse_charge(s.substr(slash + 1));
    if (!z) malformed("has no charge after '/'");
    row_.charge = z;
    return s.substr(0, slash);
  }

  // The end of the bracket opened at p, or the row is malformed.
  std::size_t closing(std::string_view s, std::size_t p, char open, char close) const {
    int depth = 0;
    for (std::size_t q = p; q < s.size(); ++q) {
      depth += (s[q] == open) - (s[q] == close);
      if (depth == 0) return q;
    }
    malformed(std::string("has an unclosed '") + open + "'");
  }

  // Global, labile, unlocalised and N-terminal modifications.
  std::string_view read_prefix(std::string_view s) {
    while (!s.empty()) {
      if (s[0] == '<') refuse("a global modification ('<...>')");
      if (s[0] == '{') {
        const std::size_t q = closing(s, 0, '{', '}');
        if (!bracket(s.substr(1, q - 1), "labile").glycan) refuse("a labile modification other than a glycan");
        unlocalised_glycan_ = true;
        s.remove_prefix(q + 1);
        continue;
      }
      if (s[0] != '[') return s;
      const std::size_t q = closing(s, 0, '[', ']');
      const std::string_view body = s.substr(1, q - 1);
      s.remove_prefix(q + 1);
      if (!s.empty() && s[0] == '-') {
        place(bracket(body, "N-terminal"), Place::NTerm, 1);
        s.remove_prefix(1);
        return s;
      }
      read_unlocalised(body, s);
    }
    return s;
  }

  // "[Glycan:...]^2?": a glycan without a site, times its count.
  void read_unlocalised(std::string_view body, std::string_view& s) {
    Count times = 1;
    if (!s.empty() && s[0] == '^') {
      std::size_t d = 1;
      while (d < s.size() && std::isdigit(static_cast<unsigned char>(s[d]))) ++d;
      const std::optional<Count> n = parse_count(s.substr(1, d - 1));
      if (!n) malformed("has no count after '^'");
      times = *n;
      s.remove_prefix(d);
    }
    if (s.empty() || s[0] != '?') {
      if (s.empty() || s[0] != '[') malformed("has a modification before the sequence without '-' or '?'");
      refuse("several modifications before the sequence");
    }
    s.remove_prefix(1);
    const GlycanCounts before = counts_;
    if (!bracket(body, "unlocalised").glycan) refuse("an unlocalised modification other than a glycan");
    for (std::size_t i = 0; i < counts_.size(); ++i) counts_[i] = before[i] + (counts_[i] - before[i]) * times;
    unlocalised_glycan_ = true;
  }

  void read_sequence(std::string_view s) {
    for (std::size_t p = 0; p < s.size();) {
      const char c = s[p];
      if (c >= 'A' && c <= 'Z') {
        residues_ += c;
        ++p;
      } else if (c == '[' && !residues_.empty()) {
        const std::size_t q = closing(s, p, '[', ']');
        place(bracket(s.substr(p + 1, q - p - 1), "residue"), Place::Residue, residues_.size());
        p = q + 1;
      } else if (c == '-' && p + 1 < s.size() && s[p + 1] == '[' && !residues_.empty()) {
        const std::size_t q = closing(s, p + 1, '[', ']');
        if (q + 1 != s.size()) malformed("has text after its C-terminal modification");
        place(bracket(s.substr(p + 2, q - p - 2), "C-terminal"), Place::CTerm, residues_.size());
        p = q + 1;
      } else if (c == '(') {
        refuse(p + 1 < s.size() && s[p + 1] == '?' ? "an ambiguous sequence ('(?...)')" : "a modification range ('(...)')");
      } else {
        malformed("has " + py_repr(s.substr(p, 1)) + " where a residue or a modification belongs");
      }
    }
  }

  void place(Bracketed b, Place where, std::size_t position) {
    if (b.glycan) {
      if (where != Place::Residue) refuse("a glycan on a terminus");
      if (glycan_site_ && *glycan_site_ != position) multiple_sites_ = true;
      glycan_site_ = multiple_sites_ ? std::nullopt : std::optional<std::size_t>(position);
      return;
    }
    mods_.push_back({position, where, std::move(b.name), std::move(b.composition)});
  }

  // The first alternative of a bracket ("Phospho|+79.966|INFO:x") that
  // names something the model holds.
  Bracketed bracket(std::string_view body, std::string_view where) {
    std::optional<std::string> first_problem;
    std::size_t p = 0;
    while (p <= body.size()) {
      std::size_t bar = body.find('|', p);
      if (bar == std::string_view::npos) bar = body.size();
      const std::string_view alt = trim(body.substr(p, bar - p));
      p = bar + 1;
      if (alt.empty() || starts_with(alt, "INFO:")) continue;
      if (alt.find('#') != std::string_view::npos)
        refuse(starts_with(alt.substr(alt.find('#')), "#XL") ? "a cross-link ('#XL')" : "an ambiguity group ('#')");
      try {
        return resolve(alt);
      } catch (const Unmapped& u) {
        if (!first_problem) first_problem = u.problem;
      }
    }
    if (first_problem) unmapped(*first_problem);
    malformed("has an empty " + std::string(where) + " modification");
  }

  Bracketed resolve(std::string_view alt) {
    Bracketed b;
    if (starts_with(alt, "Glycan:")) {
      read_glycan(alt.substr(7));
      b.glycan = true;
      return b;
    }
    if (starts_with(alt, "Formula:")) {
      try {
        b.composition = proforma_formula(alt.substr(8));
      } catch (const Error& e) {
        unmapped("[" + std::string(alt) + "]: " + e.message());
      }
      b.name = alt;
      return b;
    }
    std::string_view name = starts_with(alt, "Obs:") ? alt.substr(4) : starts_with(alt, "U:") ? alt.substr(2) : alt;
    if (!name.empty() && (name[0] == '+' || name[0] == '-')) return by_mass(name);
    b.name = name;
    std::string where(1, '[');
    where.append(alt) += ']';
    b.composition = resolve_name(model_.modifications, name, where);
    return b;
  }

  Bracketed by_mass(std::string_view text) {
    const std::optional<double> mass = parse_number(text);
    if (!mass) malformed("has a malformed mass " + py_repr(text));
    const MassMatch m = model_.modifications.name_for_mass(*mass);
    if (m.kind != MassMatch::Kind::Found)
      unmapped("modification mass " + std::string(text) + " of " + py_repr(text_) +
               (m.kind == MassMatch::Kind::Unknown ? " matches no known modification within 0.002 Da"
                                                   : " fits modifications of different composition"));
    return {false, m.name, m.composition};
  }

  // "HexNAc4Hex5Fuc1": ProForma's names, or any name of the vocabulary,
  // each with its count (1 when none is written).
  void read_glycan(std::string_view s) {
    std::size_t p = 0;
    if (s.empty()) malformed("has an empty glycan");
    while (p < s.size()) {
      const std::size_t length = glycan_name(s.substr(p));
      std::size_t d = p + length;
      while (d < s.size() && std::isdigit(static_cast<unsigned char>(s[d]))) ++d;
      const std::optional<Count> n = d == p + length ? std::optional<Count>(1) : parse_count(s.substr(p + length, d - p - length));
      if (!n) malformed("has a malformed glycan count in " + py_repr(s));
      add_monosaccharide(s.substr(p, length), *n);
      p = d;
    }
  }

  // The length of the longest known monosaccharide name at the start of s.
  std::size_t glycan_name(std::string_view s) const {
    std::size_t best = 0;
    for (const ProformaName& p : kNames)
      if (starts_with(s, p.name)) best = std::max(best, p.name.size());
    for (const Monosaccharide& m : model_.glycans.entries())
      for (const std::string& n : m.names)
        if (starts_with(s, n)) best = std::max(best, n.size());
    if (best == 0) {
      std::size_t end = 0;
      while (end < s.size() && std::isalpha(static_cast<unsigned char>(s[end]))) ++end;
      unmapped("monosaccharide " + py_repr(s.substr(0, std::max<std::size_t>(end, 1))) + " in " + py_repr(text_) +
               " is not one of ProForma's names or " + model_.glycans.name_list());
    }
    return best;
  }

  void add_monosaccharide(std::string_view name, Count n) {
    for (const ProformaName& p : kNames) {
      if (p.name != name) continue;
      for (std::string_view part : p.parts)
        if (!part.empty()) counts_[monosaccharide(model_.glycans, part, "glycan of " + py_repr(text_))] += n;
      return;
    }
    counts_[monosaccharide(model_.glycans, name, "glycan of " + py_repr(text_))] += n;
  }

  std::string_view text_;
  const RunModel& model_;
  ImportedRow& row_;
  GlycanCounts counts_;
  std::string residues_;
  std::vector<PlacedMod> mods_;
  std::optional<std::size_t> glycan_site_;
  bool multiple_sites_ = false, unlocalised_glycan_ = false;
};

}  // namespace

void map_proforma(const RowView& cell, const RunModel& model, ImportedRow& row) {
  open_row(cell, row, {});
  ProformaReader(trim(cell(ImportColumns::Peptide)), model, row).read();
}

}  // namespace formats

}  // namespace isotope
