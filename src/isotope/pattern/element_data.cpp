// Reads the one-letter elements' isotopes and iteration order from OpenMS.
#include "isotope/pattern/element_data.hpp"

#include <algorithm>
#include <cmath>
#include <functional>

#include <OpenMS/CHEMISTRY/Element.h>
#include <OpenMS/CHEMISTRY/ElementDB.h>
#include <OpenMS/CHEMISTRY/ISOTOPEDISTRIBUTION/IsotopeDistribution.h>

namespace isotope {

namespace {

// One element's positions by neutron count, or false when its isotopes do
// not fall on distinct, increasing integer masses (none of OpenMS's do).
bool fill_positions(ElementIsotopes& e) {
  // OpenMS's fillGaps_ rounds with round(): halves away from zero.
  const std::int64_t first = std::llround(e.masses.front());
  const std::int64_t last = std::llround(e.masses.back());
  if (last < first || last - first > 1000) return false;
  const auto size = static_cast<std::size_t>(last - first + 1);
  e.filled.assign(size, 0.0f);
  e.probability.assign(size, 0.0);
  e.excess.assign(size, 0.0);
  double total = 0;
  for (float a : e.abundances) total += static_cast<double>(a);
  std::int64_t previous = first - 1;
  for (std::size_t i = 0; i < e.masses.size(); ++i) {
    const std::int64_t nominal = std::llround(e.masses[i]);
    if (nominal <= previous) return false;
    previous = nominal;
    const auto j = static_cast<std::size_t>(nominal - first);
    e.filled[j] = e.abundances[i];
    e.probability[j] = total > 0 ? static_cast<double>(e.abundances[i]) / total : 0.0;
    e.excess[j] = e.masses[i] - e.masses.front();
    if (e.abundances[i] > 0) e.reach = j;
  }
  return true;
}

ElementTable read_element_table() {
  const OpenMS::ElementDB* db = OpenMS::ElementDB::getInstance();
  std::vector<const OpenMS::Element*> found;
  for (const auto& [symbol, element] : db->getSymbols()) {
    if (symbol.size() == 1 && symbol[0] >= 'A' && symbol[0] <= 'Z' && element->getSymbol() == symbol)
      found.push_back(element);
  }
  std::sort(found.begin(), found.end(), std::less<const OpenMS::Element*>());
  found.erase(std::unique(found.begin(), found.end()), found.end());

  ElementTable table;
  table.index_of.fill(-1);
  for (const OpenMS::Element* element : found) {
    const auto& peaks = element->getIsotopeDistribution().getContainer();
    if (peaks.empty()) continue;
    ElementIsotopes e;
    e.symbol = element->getSymbol()[0];
    for (const auto& peak : peaks) {
      e.masses.push_back(peak.getMZ());
      e.abundances.push_back(peak.getIntensity());
    }
    if (!fill_positions(e)) continue;
    table.index_of[static_cast<std::size_t>(e.symbol - 'A')] = static_cast<std::int8_t>(table.elements.size());
    table.elements.push_back(std::move(e));
  }
  for (std::size_t c = 0; c < 26; ++c)
    if (table.index_of[c] >= 0) table.alphabetical.push_back(table.index_of[c]);
  return table;
}

}  // namespace

const ElementTable& element_table() {
  static const ElementTable table = read_element_table();
  return table;
}

}  // namespace isotope
