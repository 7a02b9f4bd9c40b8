// Peptide compositions: residues counted per code point, modification
// strings split into names, and a PepSeq cut into its plain sequence and
// its modification string.
#include "isotope/model/peptide.hpp"

#include <charconv>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"
#include "isotope/model/scan.hpp"

namespace isotope {

Composition glycopeptide_composition(Composition peptide, const Composition& glycan) {
  peptide += glycan;
  peptide += water();
  return peptide;
}

namespace {

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

Counts count_code_points(std::string_view seq) {
  Counts counts;
  for (std::size_t p = 0; p < seq.size();) {
    std::size_t len;
    text::code_point_at(seq, p, len);
    counts.increment(seq.substr(p, len));
    p += len;
  }
  return counts;
}

}  // namespace

Composition calc_seq_comp(std::string_view seq, const CompTable& comp_map, bool residue) {
  Composition comp = calc_counter_comp(count_code_points(seq), comp_map, "unknown residue");
  if (!residue) comp += water();
  return comp;
}

Counts mods_counter(std::string_view mods) {
  Counts counts;
  std::size_t start = 0;
  while (true) {
    std::size_t slash = mods.find('/', start);
    std::string_view entry = mods.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    std::size_t comma = entry.rfind(',');
    counts.increment(comma == std::string_view::npos ? entry : entry.substr(comma + 1));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return counts;
}

Composition calc_mod_comp(std::string_view mods, const CompTable& comp_map) {
  return calc_counter_comp(mods_counter(mods), comp_map, "unknown modification");
}

Composition calc_pep_comp(std::string_view seq, std::optional<std::string_view> mods,
                          const CompTable& aa_comp_map, const CompTable& mod_comp_map, bool residue) {
  Composition comp = calc_seq_comp(seq, aa_comp_map, residue);
  if (!mods || mods->empty()) return comp;
  comp += calc_mod_comp(*mods, mod_comp_map);
  return comp;
}
void split_peptide(std::string_view s, PeptideParts& out) {
  out.seq.clear();
  out.mods.clear();
  detail::ForwardFinder close, newline;
  auto is_close = [&](std::size_t k) { return s[k] == ']'; };
  auto is_newline = [&](std::size_t k) { return s[k] == '\n'; };
  std::size_t token = 0;
  char buf[24];
  for (std::size_t p = 0; p < s.size(); ++p) {
    if (!is_upper(s[p])) continue;
    ++token;
    out.seq += s[p];
    if (p + 1 < s.size() && s[p + 1] == '[') {
      std::size_t k = close.next(s, p + 3, is_close);
      if (k != std::string_view::npos && newline.next(s, p + 2, is_newline) >= k) {
        if (!out.mods.empty()) out.mods += '/';
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, token);
        out.mods.append(buf, end);
        out.mods += ',';
        out.mods += s[p];
        out.mods += ',';
        out.mods.append(s.substr(p + 2, k - p - 2));
        p = k;
      }
    }
  }
}

namespace {

enum class Skip { None, Stray, StrayClose, Empty, Unclosed, NoResidue, Second };

// A long PepSeq shortened for a message line.
std::string short_repr(std::string_view s) {
  constexpr std::size_t kShown = 60;
  if (s.size() <= kShown + 10) return py_repr(s);
  std::size_t cut = kShown;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  return py_repr(s.substr(0, cut)) + "...";
}

// The characters of a PepSeq that are neither residues nor bracketed
// modifications: the first of them and how many there are.
struct Skips {
  Skip first = Skip::None;
  std::size_t first_pos = 0, first_len = 1;  // its bytes
  std::size_t first_char = 0;                // its place, in code points from 1
  std::size_t skipped = 0;                   // skipped characters (code points)
};

// What the character at p, which is not a residue, is; mod_end is the ']'
// that closed the last modification.
Skip skip_kind(std::string_view s, std::size_t p, std::size_t mod_end) {
  if (s[p] == ']') return Skip::StrayClose;
  if (s[p] != '[') return Skip::Stray;
  if (p + 1 < s.size() && s[p + 1] == ']') return Skip::Empty;
  if (mod_end != std::string_view::npos && mod_end + 1 == p) return Skip::Second;
  if (p > 0 && is_upper(s[p - 1])) return Skip::Unclosed;
  return Skip::NoResidue;
}

Skips find_skips(std::string_view s) {
  detail::ForwardFinder close, newline;
  auto is_close = [&](std::size_t k) { return s[k] == ']'; };
  auto is_newline = [&](std::size_t k) { return s[k] == '\n'; };
  Skips found;
  std::size_t characters = 0;  // code points up to p
  std::size_t mod_end = std::string_view::npos;  // the ']' that closed the last modification
  for (std::size_t p = 0; p < s.size(); ++p) {
    const auto byte = static_cast<unsigned char>(s[p]);
    if ((byte & 0xC0) == 0x80) continue;  // inside a character already counted
    ++characters;
    if (is_upper(s[p])) {
      if (p + 1 < s.size() && s[p + 1] == '[') {
        std::size_t k = close.next(s, p + 3, is_close);
        if (k != std::string_view::npos && newline.next(s, p + 2, is_newline) >= k) {
          for (std::size_t q = p + 1; q <= k; ++q)
            if ((static_cast<unsigned char>(s[q]) & 0xC0) != 0x80) ++characters;
          p = k;
          mod_end = k;
        }
      }
      continue;
    }
    ++found.skipped;
    if (found.first != Skip::None) continue;
    found.first_pos = p;
    found.first_char = characters;
    text::code_point_at(s, p, found.first_len);
    found.first = skip_kind(s, p, mod_end);
  }
  return found;
}

std::string capitals(std::string_view s) {
  std::string out;
  for (char c : s)
    if (is_upper(c)) out += c;
  return out;
}

// What a modification in parentheses ("M(Oxidation)") or flanking residues
// ("R.EEQYNSTYR.V") added as residues, and how to write the PepSeq
// instead; empty when neither is there.
std::string read_as_residues(std::string_view s) {
  std::string msg, added, example;
  for (std::size_t open = s.find('('); open != std::string_view::npos; open = s.find('(', open + 1)) {
    const std::size_t close = s.find(')', open);
    if (close == std::string_view::npos) break;
    const std::string_view name = s.substr(open + 1, close - open - 1);
    added += capitals(name);
    if (example.empty() && !capitals(name).empty())
      example = (open > 0 ? std::string(1, s[open - 1]) : std::string("M")) + "[" + std::string(name) + "]";
  }
  if (!added.empty())
    msg += "; the capital letters inside parentheses were read as residues (" + added +
           "): a modification is written in square brackets after its residue, as " + example;
  const std::size_t first = s.find('.'), last = s.rfind('.');
  if (first != std::string_view::npos && first <= 2 && last + 3 >= s.size() && first < last) {
    const std::string flanks = capitals(s.substr(0, first)) + capitals(s.substr(last + 1));
    if (!flanks.empty())
      msg += "; the flanking residues around the '.' were read as residues (" + flanks +
             "): write the plain sequence " + py_repr(s.substr(first + 1, last - first - 1));
  }
  return msg;
}

// The warning for a PepSeq with skipped characters.
std::string skips_message(std::string_view s, const Skips& found) {
  std::string msg = "PepSeq " + short_repr(s) + " has ";
  const std::string at = " at character " + std::to_string(found.first_char);
  std::size_t others = found.skipped - 1;
  switch (found.first) {
    case Skip::Stray:
      msg += py_repr(s.substr(found.first_pos, found.first_len)) + at +
             ", which is neither a residue nor a bracketed modification; it was skipped";
      break;
    case Skip::StrayClose:
      msg += "']'" + at + " without a '['; it was skipped";
      break;
    case Skip::Empty:
      msg += "an empty '[]'" + at + "; it was skipped";
      --others;
      break;
    case Skip::Unclosed:
      msg += "an unclosed '['" + at + "; it was skipped and the capital letters after it were read as residues";
      break;
    case Skip::NoResidue:
      msg += "'['" + at + ", which follows no residue; the brackets were skipped and the capital letters inside "
             "were read as residues";
      break;
    case Skip::Second:
      msg += "a second bracket" + at + " right after a modification; only the first counts, and the capital "
             "letters inside the second were read as residues";
      break;
    case Skip::None: break;
  }
  if (others == 1) msg += " (1 more character was skipped)";
  if (others > 1) msg += " (" + std::to_string(others) + " more characters were skipped)";
  return msg + read_as_residues(s);
}

}  // namespace

std::optional<std::string> pep_seq_problem(std::string_view s) {
  const Skips found = find_skips(s);
  if (found.first == Skip::None) return std::nullopt;
  return skips_message(s, found);
}

PeptideParts split_peptide(std::string_view pep_seq) {
  PeptideParts parts;
  split_peptide(pep_seq, parts);
  return parts;
}

}  // namespace isotope
