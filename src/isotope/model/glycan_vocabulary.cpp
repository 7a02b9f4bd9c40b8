// The built-in monosaccharide table and the lookups every glycan reader
// shares.
#include "isotope/model/glycan_vocabulary.hpp"

namespace isotope {

namespace {

// Residue compositions (free sugar less one water), keys in the order the
// reference table stores them. Engine codes: pGlyco3's glycan composition
// codes and MetaMorpheus's glycan letters for the same residues.
std::vector<Monosaccharide> builtin_entries() {
  return {
      {"N", {"HexNAc"}, {{"H", 13}, {"C", 8}, {"N", 1}, {"O", 5}}, true,
       {{"pglyco3", "N"}, {"metamorpheus", "N"}}, true},
      {"H", {"Hex"}, {{"H", 10}, {"C", 6}, {"O", 5}}, true, {{"pglyco3", "H"}, {"metamorpheus", "H"}}, true},
      {"F", {"Fuc", "dHex"}, {{"H", 10}, {"C", 6}, {"O", 4}}, true, {{"pglyco3", "F"}, {"metamorpheus", "F"}}, true},
      {"S", {"NeuAc", "Neu5Ac"}, {{"H", 17}, {"C", 11}, {"N", 1}, {"O", 8}}, true,
       {{"pglyco3", "A"}, {"metamorpheus", "A"}}, true},
      {"G", {"NeuGc", "Neu5Gc"}, {{"H", 17}, {"C", 11}, {"N", 1}, {"O", 9}}, true,
       {{"pglyco3", "G"}, {"metamorpheus", "G"}}, true},
      {"H[6P]", {}, {{"H", 10}, {"C", 6}, {"O", 5}, {"P", 1}}, false, {}, true},
  };
}

std::string join(const std::vector<std::string_view>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += ", ";
    out += parts[i];
  }
  return out;
}

}  // namespace

GlycanVocabulary::GlycanVocabulary(std::vector<Monosaccharide> entries) : entries_(std::move(entries)) { index(); }

const GlycanVocabulary& GlycanVocabulary::builtin() {
  static const GlycanVocabulary vocabulary(builtin_entries());
  return vocabulary;
}

void GlycanVocabulary::index() {
  count_columns_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].count_column) count_columns_.push_back(i);
}

void GlycanVocabulary::define(Monosaccharide entry) {
  if (std::optional<std::size_t> i = by_code(entry.code))
    entries_[*i] = std::move(entry);
  else
    entries_.push_back(std::move(entry));
  index();
}

std::vector<std::string> GlycanVocabulary::count_column_names() const {
  std::vector<std::string> names;
  for (std::size_t i : count_columns_) names.push_back(entries_[i].code);
  return names;
}

std::optional<std::size_t> GlycanVocabulary::by_code(std::string_view code) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].code == code) return i;
  return std::nullopt;
}

std::optional<std::size_t> GlycanVocabulary::by_name(std::string_view name) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    for (const std::string& n : entries_[i].names)
      if (n == name) return i;
  return std::nullopt;
}

std::optional<std::size_t> GlycanVocabulary::by_engine_code(std::string_view engine, std::string_view code) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    for (const EngineCode& c : entries_[i].engine_codes)
      if (c.engine == engine && c.code == code) return i;
  return std::nullopt;
}

std::string GlycanVocabulary::name_list() const {
  std::vector<std::string_view> names;
  for (const Monosaccharide& m : entries_)
    if (!m.names.empty()) names.push_back(m.names.front());
  return join(names);
}

std::string GlycanVocabulary::engine_code_list(std::string_view engine) const {
  std::vector<std::string_view> codes;
  for (const Monosaccharide& m : entries_)
    for (const EngineCode& c : m.engine_codes)
      if (c.engine == engine) codes.push_back(c.code);
  return join(codes);
}

std::string GlycanVocabulary::glycan_string(const GlycanCounts& counts) const {
  std::string out;
  for (std::size_t i : count_columns_) {
    out += entries_[i].code;
    out += std::to_string(counts[i]);
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].count_column || counts[i] == 0) continue;
    out += entries_[i].code;
    out += std::to_string(counts[i]);
  }
  return out;
}

CompTable GlycanVocabulary::composition_table(const CompTable& base) const {
  CompTable table = base;
  for (const Monosaccharide& m : entries_)
    if (!m.gly_comp && !table.find(m.code)) table.set(m.code, m.composition);
  return table;
}

}  // namespace isotope
