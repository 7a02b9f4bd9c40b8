// Ordered parallel work: read in order, work in parallel, commit in order.
//
// run_ordered's promise: every piece of input that read() produces is given
// to work() exactly once and then to commit() exactly once, and commit() sees
// the pieces in the order read() produced them, on the calling thread. The
// first failure in input order wins: an exception from read() is rethrown
// only after every piece read before it was committed; an exception from
// work() is rethrown when its piece's turn to commit comes; when commit()
// throws or returns false, nothing after that piece is committed. Nothing
// runs after run_ordered returns or throws: every thread has been joined.
//
// Pieces live in `slots` caller-owned slots that are reused (piece number s
// uses slot s % slots), so memory is bounded by the slots and nothing is
// allocated per piece once the slots have grown. With one thread everything
// runs on the calling thread, piece by piece, through the same hooks.
#pragma once

#include <cstddef>
#include <functional>

namespace isotope {

struct OrderedWork {
  // Slots the caller owns; at least 1.
  std::size_t slots = 4;
  // Fills a slot with the next piece of input; false at the end. Called on
  // one thread (the reader), pieces in order.
  std::function<bool(std::size_t slot)> read;
  // Works on a piece; called on any worker, pieces in any order, never two
  // calls on one slot at once. `worker` (0 .. threads-1) indexes per-worker
  // state.
  std::function<void(std::size_t slot, unsigned worker)> work;
  // When set: the worker a piece must go to (pieces with the same worker
  // are then worked on in read order), or -1 for any.
  std::function<int(std::size_t slot)> affinity;
  // Takes a worked piece, in read order, on the calling thread; false stops
  // the run (no later piece is committed).
  std::function<bool(std::size_t slot)> commit;
};

// The slots that keep `threads` workers busy while the reader fills the
// next pieces and the caller commits the earlier ones.
inline std::size_t slots_for(unsigned threads) { return 2 * static_cast<std::size_t>(threads) + 2; }

// Runs the work with `threads` workers (1: all on the calling thread) and a
// reader thread.
void run_ordered(unsigned threads, const OrderedWork& work);

}  // namespace isotope
