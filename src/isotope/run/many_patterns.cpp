// Many envelopes: pieces of inputs on workers, each with its own pattern
// workspace; errors reported in input order.
#include "isotope/run/many_patterns.hpp"

#include <optional>

#include "isotope/base/errors.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/run/ordered_run.hpp"

namespace isotope {

namespace {

constexpr std::size_t kPieceInputs = 256;

struct Worker {
  PatternWorkspace ws;
  PeakPositions positions;
  Envelope envelope;
  std::string scratch, formula;
};

struct Piece {
  std::size_t first = 0, count = 0;
  std::optional<Error> error;
};

}  // namespace

std::vector<std::vector<double>> many_patterns(const std::vector<PatternInput>& inputs, const EnvelopeRequest& request,
                                               unsigned threads) {
  prepare_isotope_patterns();
  std::vector<std::vector<double>> out(inputs.size());
  std::vector<Worker> workers(threads);
  std::vector<Piece> slots(2 * static_cast<std::size_t>(threads) + 2);
  std::size_t next = 0;
  OrderedWork w;
  w.slots = slots.size();
  w.read = [&](std::size_t s) {
    slots[s].first = next;
    slots[s].count = std::min(kPieceInputs, inputs.size() - next);
    next += slots[s].count;
    return slots[s].count > 0;
  };
  w.work = [&](std::size_t s, unsigned k) {
    Piece& p = slots[s];
    Worker& wk = workers[k];
    p.error.reset();
    for (std::size_t i = p.first; i < p.first + p.count; ++i) {
      try {
        const PatternInput& in = inputs[i];
        if (in.composition) {
          pattern_formula(*in.composition, wk.scratch, wk.formula);
        } else {
          pattern_formula(Composition::from_formula(in.formula), wk.scratch, wk.formula);
        }
        envelope(wk.formula, request, wk.ws, wk.positions, wk.envelope);
        out[i] = wk.envelope.intensity;
      } catch (Error& e) {
        e.at("comps[" + std::to_string(i) + "]");
        p.error = std::move(e);
        return;
      }
    }
  };
  w.commit = [&](std::size_t s) {
    if (slots[s].error) throw *slots[s].error;
    return true;
  };
  run_ordered(threads, w);
  return out;
}

}  // namespace isotope
