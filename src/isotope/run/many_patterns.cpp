// Many envelopes: pieces of inputs on workers, each with its own pattern
// workspace; errors reported in input order.
#include "isotope/run/many_patterns.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

#include "isotope/base/errors.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/run/ordered_run.hpp"

namespace isotope {

namespace {

constexpr std::size_t kPieceInputs = 4096;

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

// Whether a formula text is already its own pattern formula: single
// capital letters, each once, each with a count of digits that is not 0 and
// has no leading zero ("C106H164N18O59"), as the Composition it reads as
// would write it back.
bool is_pattern_formula(std::string_view f) {
  unsigned seen = 0;
  std::size_t p = 0;
  while (p < f.size()) {
    if (f[p] < 'A' || f[p] > 'Z') return false;
    const unsigned bit = 1u << (f[p] - 'A');
    if (seen & bit) return false;
    seen |= bit;
    const std::size_t start = ++p;
    while (p < f.size() && f[p] >= '0' && f[p] <= '9') ++p;
    if (p == start || f[start] == '0' || p - start > 9) return false;
  }
  return !f.empty();
}

// Workers kept from call to call: a workspace is half a megabyte and its
// cache of element powers warms up with use, so a call of a few thousand
// patterns should not pay for fresh ones.
class WorkerPool {
 public:
  std::vector<std::unique_ptr<Worker>> take(unsigned n) {
    std::vector<std::unique_ptr<Worker>> out;
    std::lock_guard lock(mu_);
    while (out.size() < n && !idle_.empty()) {
      out.push_back(std::move(idle_.back()));
      idle_.pop_back();
    }
    while (out.size() < n) out.push_back(std::make_unique<Worker>());
    return out;
  }
  void give_back(std::vector<std::unique_ptr<Worker>>& workers) {
    std::lock_guard lock(mu_);
    for (auto& w : workers) idle_.push_back(std::move(w));
    workers.clear();
  }

 private:
  std::mutex mu_;
  std::vector<std::unique_ptr<Worker>> idle_;
};

WorkerPool& pool() {
  static WorkerPool p;
  return p;
}

// Runs store(i, intensities) for every input, on the workers.
template <class Store>
void each_pattern(const std::vector<PatternInput>& inputs, const EnvelopeRequest& request, unsigned threads,
                  Store store, const FillInputs& fill = {}) {
  prepare_isotope_patterns();
  std::vector<std::unique_ptr<Worker>> workers = pool().take(threads);
  struct Returned {
    std::vector<std::unique_ptr<Worker>>& w;
    ~Returned() { pool().give_back(w); }
  } returned{workers};
  std::vector<Piece> slots(slots_for(threads));
  std::size_t next = 0;
  OrderedWork w;
  w.slots = slots.size();
  w.read = [&](std::size_t s) {
    slots[s].first = next;
    slots[s].count = std::min(kPieceInputs, inputs.size() - next);
    next += slots[s].count;
    if (fill && slots[s].count > 0) fill(slots[s].first, next);
    return slots[s].count > 0;
  };
  w.work = [&](std::size_t s, unsigned k) {
    Piece& p = slots[s];
    Worker& wk = *workers[k];
    p.error.reset();
    for (std::size_t i = p.first; i < p.first + p.count; ++i) {
      try {
        const PatternInput& in = inputs[i];
        if (in.composition) {
          pattern_formula(*in.composition, wk.scratch, wk.formula);
        } else if (is_pattern_formula(in.formula)) {
          wk.formula.assign(in.formula);
        } else {
          pattern_formula(Composition::from_formula(in.formula), wk.scratch, wk.formula);
        }
        envelope(wk.formula, request, wk.ws, wk.positions, wk.envelope);
        store(i, wk.envelope.intensity);
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
}

}  // namespace

std::vector<std::vector<double>> many_patterns(const std::vector<PatternInput>& inputs, const EnvelopeRequest& request,
                                               unsigned threads) {
  std::vector<std::vector<double>> out(inputs.size());
  each_pattern(inputs, request, threads, [&](std::size_t i, const std::vector<double>& v) { out[i] = v; });
  return out;
}

void many_patterns_into(const std::vector<PatternInput>& inputs, const EnvelopeRequest& request, unsigned threads,
                        double* out, const FillInputs& fill) {
  const auto width = static_cast<std::size_t>(request.peaks);
  each_pattern(inputs, request, threads, [&](std::size_t i, const std::vector<double>& v) {
    double* row = out + i * width;
    const std::size_t n = std::min(width, v.size());
    std::copy_n(v.begin(), n, row);
    std::fill(row + n, row + width, std::numeric_limits<double>::quiet_NaN());
  }, fill);
}

}  // namespace isotope
