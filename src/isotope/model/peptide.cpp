// Peptide compositions: residues counted per code point, modification
// strings split into names, and a PepSeq cut into its plain sequence and
// its modification string.
#include "isotope/model/peptide.hpp"

#include <charconv>

#include "isotope/base/text.hpp"
#include "isotope/model/scan.hpp"

namespace isotope {

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

PeptideParts split_peptide(std::string_view pep_seq) {
  PeptideParts parts;
  split_peptide(pep_seq, parts);
  return parts;
}

}  // namespace isotope
