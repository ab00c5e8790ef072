// Tabu search: full scans with a FIFO of visited-solution hashes and no aspiration.
#include "local_search/tabu_search/tabu_search.hpp"

#include <optional>
#include <utility>

#include "local_search/neighbourhood.hpp"
#include "local_search/tabu_search/solution_hash.hpp"
#include "local_search/tabu_search/tabu_list.hpp"
#include "local_search/tabu_search/tour_hash.hpp"
#include "local_search/tabu_search/tour_tabu_list.hpp"
#include "local_search/search_state.hpp"
#include "problem/array_problem_state.hpp"
#include "problem/kernels/common.hpp"

namespace kestrum {

namespace {

struct Choice {
  double delta;
  Move move{};
  std::uint64_t hash = 0;
  bool found = false;
};

// Tie rule: an admissible move is taken unless strictly worse than the best so far, so
// among equal deltas the last admissible one in scan order wins and a NaN is always taken.
// A tabu neighbour is never taken, however good (no aspiration). The neighbour's hash is
// only looked at when the delta would be taken: the outcome is the same as hashing every
// neighbour first, and most moves cost no hash at all.
template <class Policy>
class Chooser {
 public:
  Chooser(Policy& tabu, bool minimize) : tabu_(tabu), minimize_(minimize), choice_{worst_delta(minimize)} {}

  template <class HashOf>
  void offer(Move m, double delta, HashOf&& hash_of) {
    const bool better = minimize_ ? !(delta > choice_.delta) : !(delta < choice_.delta);
    if (!better) return;
    const std::uint64_t hash = hash_of();
    if (tabu_.contains(hash, m)) return;
    choice_ = {delta, m, hash, true};
  }
  [[nodiscard]] const Choice& choice() const noexcept { return choice_; }

 private:
  Policy& tabu_;
  bool minimize_;
  Choice choice_;
};

// What the list holds, with the neighbour hash that goes with it.
//
// Arrays (the default): the list of solution hashes; on the specialised route each
// neighbour's polynomial hash comes in O(1) from prefix sums of the current solution, so a
// step costs O(neighbourhood) rather than O(neighbourhood * n); elsewhere it is the
// problem's own hash. Hashes of one run all come from the same function, which is all the
// tabu list needs. A hash collision makes a different array tabu.
class ArrayPolicy {
 public:
  // `array` is the problem when the scan takes the specialised route, else nullptr.
  ArrayPolicy(Word tabu_list_size, const ArrayProblem* array) : list_(tabu_list_size) {
    if (array != nullptr) hashes_.prepare(array->size());
  }
  [[nodiscard]] SolutionHash& hashes() noexcept { return hashes_; }
  [[nodiscard]] bool contains(std::uint64_t hash, Move) const noexcept { return list_.contains(hash); }
  void push(std::uint64_t hash) { list_.push(hash); }

 private:
  TabuList list_;
  SolutionHash hashes_;
};

// Tours (canonical_tours on a tour evaluation, specialised route only): each neighbour's
// edge-sum hash in O(1), and a hit confirmed by comparing canonical forms, so neither a
// rotation or mirror image of a listed tour nor a hash collision is mistaken.
class TourPolicy {
 public:
  TourPolicy(Word tabu_list_size, ArrayProblem& array, Rearrangement r)
      : array_(array), r_(r), list_(tabu_list_size, array.size()), form_(array.size()) {}
  [[nodiscard]] TourHash& hashes() noexcept { return hashes_; }
  [[nodiscard]] bool contains(std::uint64_t hash, Move m) {
    const std::span<const Word> s = array_.solution();
    return list_.contains(hash, [&](std::span<Word> out) {
      canonical_form(
          s.size(), [&](std::size_t p) { return kernels::after_move<kernels::Unchecked>(r_, s, m, p); },
          out);
    });
  }
  // After the chosen move has been applied: the current solution is the tour to list.
  void push(std::uint64_t hash) {
    const std::span<const Word> s = array_.solution();
    canonical_form(s.size(), [&](std::size_t p) { return s[p]; }, form_);
    list_.push(hash, form_);
  }

 private:
  ArrayProblem& array_;
  Rearrangement r_;
  TourTabuList list_;
  TourHash hashes_;
  std::vector<Word> form_;
};

}  // namespace

TabuSearch::TabuSearch(Shared<Problem> problem, const TerminationFunction& termination_function,
                       bool minimize, std::optional<Word> tabu_list_size, bool canonical_tours)
    : SearchBase(minimize, std::move(problem), termination_function,
                 "Can't use multiNeighbor in Tabu Search"),
      tabu_list_size_(tabu_list_size.value_or(kDefaultListSize)),
      canonical_tours_(canonical_tours) {}

Shared<LocalSearch> TabuSearch::make(const Params& params, bool minimize, Shared<Problem> problem,
                                     const TerminationFunction& termination) {
  return Shared<LocalSearch>::make<TabuSearch>(std::move(problem), termination, minimize, params.tabu_list_size,
                                               params.canonical_tours);
}

// Saved fields: the list size before the problem; after it, the tour flag, written only when
// set, so that every search saved before the flag existed loads unchanged and saves to the
// same bytes.
void TabuSearch::write_fields(ByteWriter& w) const { w.u32(tabu_list_size_); }
void TabuSearch::write_trailer(ByteWriter& w) const {
  if (canonical_tours_) w.boolean(true);
}

Shared<LocalSearch> TabuSearch::restore(ByteReader& r, bool minimize, const TerminationFunction& termination) {
  const Word tabu_list_size = r.u32();
  Shared<Problem> problem = read_problem(r);
  bool canonical_tours = false;
  ByteReader probe = r;  // the tour flag (a boolean), unless the run settings come first
  if (r.remaining() != 0 && probe.u8() != kRunSettingsMark) {
    canonical_tours = r.boolean();
    if (!canonical_tours) malformed("a tabu search's tour flag is written only when set");
  }
  return Shared<LocalSearch>::make<TabuSearch>(rebuilt<TabuSearch>(termination, std::move(problem), termination,
                                                                   minimize, tabu_list_size, canonical_tours));
}

RunLog TabuSearch::run(bool log) {
  auto locked = lock_problem_for_run();
  Problem& problem = *locked;
  // The move type cannot change while the run holds the lock, so the route is decided once.
  Neighbourhood moves(problem);
  ArrayProblem* array = moves.specialised() ? problem.as_array_problem() : nullptr;
  if (canonical_tours_ && array != nullptr && array->evaluation().scores_tours()) {
    const Rearrangement r = geometry(*moves.simple()).rearrangement;
    return run_with(problem, moves, [&] { return TourPolicy(tabu_list_size_, *array, r); }, log);
  }
  return run_with(problem, moves, [&] { return ArrayPolicy(tabu_list_size_, array); }, log);
}

template <class MakePolicy>
RunLog TabuSearch::run_with(Problem& problem, Neighbourhood& moves, MakePolicy make_policy, bool log) {
  const double score = problem.eval();
  RunRecorder rows;
  // Lives for this run only: every run starts with an empty list.
  auto tabu = make_policy();
  if (log) rows.add(score, score, 0);
  termination_.init();
  double best = score;
  double current = score;
  std::uint64_t iterations = 0;
  for (;;) {
    if (!termination_.keep_running() || rows.stopping()) break;
    Chooser chooser(tabu, minimize_);
    moves.for_each_hashed(tabu.hashes(), [&](Move m, double delta, auto&& hash_of) {
      chooser.offer(m, delta, hash_of);
    });
    if (rows.control().stop_requested()) break;  // stopped inside the scan: nothing applied
    const Choice& chosen = chooser.choice();
    // Nothing admissible: an empty neighbourhood, every neighbour tabu, or only infinite
    // deltas in the wrong direction.
    if (!chosen.found) break;
    // Applied whether it improves or not: that is what lets the search leave a local optimum.
    problem.do_mov(chosen.move);
    current = current + chosen.delta;
    // A tie with the best counts in both directions and makes this solution the best.
    const bool new_best = minimize_ ? !(current > best) : !(current < best);
    if (new_best) {
      problem.set_best();
      best = current;
    }
    tabu.push(chosen.hash);
    if (log) rows.add(best, current, iterations);
    termination_.check_new_variable(current);
    termination_.iteration_done();
    ++iterations;
  }
  rows.add(best, current, iterations);
  return std::move(rows).take();
}

}  // namespace kestrum
