// The reader, worker and commit sides of run_ordered, around one mutex.
//
// Piece s moves through the states of its slot: Free -> Read (the reader
// filled it) -> Worked (a worker is done) -> Free (committed). The reader
// waits for a free slot, workers for read pieces, the committer for the
// next piece in order to be worked.
#include "isotope/run/ordered_run.hpp"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace isotope {

namespace {

void run_inline(const OrderedWork& w) {
  for (;;) {
    if (!w.read(0)) return;
    w.work(0, 0);
    if (!w.commit(0)) return;
  }
}

class Ordered {
 public:
  Ordered(unsigned threads, const OrderedWork& w)
      : w_(w), threads_(threads), slots_(w.slots), queues_(w.affinity ? threads + 1 : 1) {}

  void run() {
    std::vector<std::thread> pool;
    std::thread reader;
    try {
      reader = std::thread([this] { read_loop(); });
      for (unsigned k = 0; k < threads_; ++k) pool.emplace_back([this, k] { work_loop(k); });
      commit_loop();
    } catch (...) {
      stop_all();
      join(reader, pool);
      throw;
    }
    stop_all();
    join(reader, pool);
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  struct Slot {
    enum class State { Free, Read, Worked } state = State::Free;
    std::exception_ptr error;
  };

  std::size_t slot_of(std::size_t seq) const { return seq % slots_.size(); }

  void read_loop() {
    for (std::size_t seq = 0;; ++seq) {
      const std::size_t s = slot_of(seq);
      {
        std::unique_lock lock(mu_);
        reader_cv_.wait(lock, [&] { return stop_ || slots_[s].state == Slot::State::Free; });
        if (stop_) return;
      }
      bool more = false;
      std::exception_ptr error;
      try {
        more = w_.read(s);
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard lock(mu_);
      if (error || !more) {
        end_ = seq;
        read_error_ = error;
        commit_cv_.notify_all();
        worker_cv_.notify_all();
        return;
      }
      slots_[s].state = Slot::State::Read;
      slots_[s].error = nullptr;
      std::size_t q = 0;
      if (w_.affinity) {
        int k = w_.affinity(s);
        q = k < 0 ? threads_ : static_cast<std::size_t>(k) % threads_;
      }
      queues_[q].push_back(seq);
      worker_cv_.notify_all();
    }
  }

  // The next piece for worker k: its own queue first, then the shared one.
  bool take(unsigned k, std::size_t& seq) {
    for (std::deque<std::size_t>* q : {&queues_[queues_.size() == 1 ? 0 : k], &queues_.back()}) {
      if (!q->empty()) {
        seq = q->front();
        q->pop_front();
        return true;
      }
    }
    return false;
  }

  void work_loop(unsigned k) {
    for (;;) {
      std::size_t seq = 0;
      {
        std::unique_lock lock(mu_);
        bool got = false;
        worker_cv_.wait(lock, [&] {
          if (stop_) return true;
          got = take(k, seq);
          return got || (end_known() && nothing_queued(k));
        });
        if (stop_ || !got) return;
      }
      const std::size_t s = slot_of(seq);
      std::exception_ptr error;
      try {
        w_.work(s, k);
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard lock(mu_);
      slots_[s].error = error;
      slots_[s].state = Slot::State::Worked;
      commit_cv_.notify_all();
    }
  }

  bool end_known() const { return end_ != kUnknown; }
  bool nothing_queued(unsigned k) const {
    return queues_.back().empty() && (queues_.size() == 1 || queues_[k].empty());
  }

  void commit_loop() {
    for (std::size_t seq = 0;; ++seq) {
      const std::size_t s = slot_of(seq);
      {
        std::unique_lock lock(mu_);
        commit_cv_.wait(lock, [&] { return slots_[s].state == Slot::State::Worked || seq == end_; });
        if (seq == end_ && slots_[s].state != Slot::State::Worked) {
          failure_ = read_error_;
          return;
        }
        if (slots_[s].error) {
          failure_ = slots_[s].error;
          return;
        }
      }
      if (!w_.commit(s)) return;
      std::lock_guard lock(mu_);
      slots_[s].state = Slot::State::Free;
      reader_cv_.notify_all();
    }
  }

  void stop_all() {
    std::lock_guard lock(mu_);
    stop_ = true;
    reader_cv_.notify_all();
    worker_cv_.notify_all();
    commit_cv_.notify_all();
  }

  static void join(std::thread& reader, std::vector<std::thread>& pool) {
    if (reader.joinable()) reader.join();
    for (auto& t : pool)
      if (t.joinable()) t.join();
  }

  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);

  const OrderedWork& w_;
  const unsigned threads_;
  std::mutex mu_;
  std::condition_variable reader_cv_, worker_cv_, commit_cv_;
  std::vector<Slot> slots_;
  // Pieces to work on: one queue per worker when pieces have an affinity,
  // and the shared queue last.
  std::vector<std::deque<std::size_t>> queues_;
  std::size_t end_ = kUnknown;  // the number of pieces, once read() said so
  bool stop_ = false;
  std::exception_ptr read_error_, failure_;
};

}  // namespace

void run_ordered(unsigned threads, const OrderedWork& work) {
  if (threads <= 1) {
    run_inline(work);
    return;
  }
  Ordered(threads, work).run();
}

}  // namespace isotope
