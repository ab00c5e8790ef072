// Robust tabu search: full scans of the exchanges, tabu attributes (position, element).
#include "local_search/robust_tabu_search/robust_tabu_search.hpp"

#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include "local_search/neighbourhood.hpp"
#include "local_search/robust_tabu_search/row_test.hpp"
#include "problem/array_problem_state.hpp"
#include "support/fatal.hpp"
#include "support/rng.hpp"
#include "support/tags.hpp"

namespace kestrum {

namespace {

using Step = std::int64_t;

Xoshiro128pp generator(std::optional<std::uint64_t> seed) {
  return seed ? Xoshiro128pp::from_seed(*seed) : Xoshiro128pp::from_entropy();
}

// A tenure from low..high, both included; none is drawn when they are equal.
Step draw_tenure(Xoshiro128pp& rng, Word low, Word high) {
  if (low == high) return low;
  if (low == 0 && high == kWordMax) return rng.next_u32();
  return low + rng.range(0, high - low + 1);
}

struct Candidate {
  double delta;
  Move move{};
  bool found = false;
};

// The tabu attributes of one run. Elements are named by where they stood when the run began
// (label[p]), which names them as well as their values would: the attributes never outlive
// the run, and the search needs nothing from the problem but its moves.
//
// Exchange (i, j) places label[j] at i and label[i] at j; both facts the step asks of it,
// forbidden and forced, read the earlier of the two bans it meets, kept per exchange (ban_,
// row i holds (i, j > i)) so that a scan reads it beside the row of changes. An applied
// exchange moves the bans of the 2n exchanges that touch its positions, O(n).
// Memory: two n x n arrays of 8 bytes (bans per position and element, per exchange).
class Attributes {
 public:
  Attributes(std::size_t n, std::uint64_t aspiration)
      : n_(n), label_(n), until_(n * n, -1), ban_(n * n, -1.0), oldest_(n, n > 1 ? -1 : kNever),
        aspiration_(static_cast<Step>(std::min<std::uint64_t>(aspiration, std::numeric_limits<Step>::max()))) {
    std::iota(label_.begin(), label_.end(), Word{0});
  }

  // Before the scan of step `step`.
  void begin(Step step) noexcept {
    step_ = step;
    forced_before_ = step - aspiration_;
    as_double_ = {static_cast<double>(step_), static_cast<double>(forced_before_)};
    // Some exchange is forced exactly when some position has an element elsewhere whose ban
    // there ended long enough ago: the exchange that brings it. Otherwise no move needs a
    // look at the attributes to be known unforced.
    may_force_ = !oldest_.empty() && *std::min_element(oldest_.begin(), oldest_.end()) < forced_before_;
  }
  [[nodiscard]] bool may_force() const noexcept { return may_force_; }
  // The step and the forcing bar as doubles, as the bans are kept (exact: below 2^53).
  [[nodiscard]] double step() const noexcept { return as_double_.step; }
  [[nodiscard]] double forced_before() const noexcept { return as_double_.forced_before; }
  // The bans of exchanges (i, j), (i, j + 1), ..., i < j.
  [[nodiscard]] const double* bans(std::size_t i, std::size_t j) const noexcept { return ban_.data() + i * n_ + j; }
  // Forced: one of its two bans ended before forced_before; forbidden: both last to this step.
  [[nodiscard]] bool forced(Word i, Word j) const noexcept { return ban(i, j) < as_double_.forced_before; }
  [[nodiscard]] bool forbidden(Word i, Word j) const noexcept { return ban(i, j) >= as_double_.step; }
  // After exchange (i, j) was applied at this step: the elements that left i and j may not
  // return for their tenures.
  void exchanged(Move m, Step tenure_i, Step tenure_j) noexcept {
    until_[m.i * n_ + label_[m.i]] = step_ + tenure_i;
    until_[m.j * n_ + label_[m.j]] = step_ + tenure_j;
    std::swap(label_[m.i], label_[m.j]);
    refresh_oldest(m.i);
    refresh_oldest(m.j);
    refresh_bans(m.i);
    refresh_bans(m.j);
  }

 private:
  [[nodiscard]] double ban(Word i, Word j) const noexcept {
    return i < j ? ban_[std::size_t{i} * n_ + j] : ban_[std::size_t{j} * n_ + i];
  }
  // The bans of the exchanges that touch position p.
  void refresh_bans(std::size_t p) noexcept {
    const Step* const row = until_.data() + p * n_;
    const Word at_p = label_[p];
    for (std::size_t k = 0; k < n_; ++k) {
      if (k == p) continue;
      const double earlier = static_cast<double>(std::min(row[label_[k]], until_[k * n_ + at_p]));
      ban_[k < p ? k * n_ + p : p * n_ + k] = earlier;
    }
  }

  static constexpr Step kNever = std::numeric_limits<Step>::max();

  // oldest_[p]: the earliest ban end at p among the elements not at p, O(n); only the two
  // positions of an exchange change it.
  void refresh_oldest(std::size_t p) noexcept {
    const Step* const row = until_.data() + p * n_;
    Step oldest = kNever;
    for (std::size_t e = 0; e < n_; ++e) {
      if (e != label_[p]) oldest = std::min(oldest, row[e]);
    }
    oldest_[p] = oldest;
  }

  std::size_t n_;
  std::vector<Word> label_;
  std::vector<Step> until_;   // [position * n + element]: the last step of its ban, -1: never banned
  std::vector<double> ban_;   // [i * n + j], i < j: the earlier of exchange (i, j)'s two bans
  std::vector<Step> oldest_;  // per position
  Step aspiration_;
  Step step_ = 0;
  Step forced_before_ = 0;
  struct {
    double step = 0.0;
    double forced_before = 0.0;
  } as_double_;
  bool may_force_ = false;
};

// Tie rule: within each class a move replaces the one held only when strictly better, so the
// first in (i, j) order wins among equal deltas, and a NaN delta is never taken. The classes,
// in order: the forced moves; the allowed ones (not forbidden, or better than the best);
// every move, for a step where every exchange is forbidden. The direction is a parameter,
// so that a scan asks one comparison per move.
template <bool kMinimize>
class Chooser {
 public:
  Chooser(const Attributes& attributes, bool keeps_attributes, double current, double best)
      : attributes_(attributes),
        keeps_attributes_(keeps_attributes),
        current_(current),
        best_(best),
        forced_{worst_delta(kMinimize)},
        allowed_{worst_delta(kMinimize)},
        any_{worst_delta(kMinimize)},
        bar_(worst_delta(kMinimize)) {}

  // Most moves are beaten both by the allowed move held (which no held move of the last
  // class beats) and by the forced one: they are passed over without a look at the
  // attributes. bar_ is the weaker of the two, or the allowed one when nothing is forced.
  void operator()(Move m, double delta) {
    if (better(delta, bar_)) weigh(m.i, m.j, delta);
  }
  // A row of exchanges (i, j), (i, j + 1), ...: the exchanges that cannot change the choice
  // are passed over in vector lanes, by the test weigh() would put to them, and a row none of
  // whose changes passes the bar at once.
  void visit_row(std::size_t i, std::size_t j, const double* deltas, std::size_t count, scan::RowBounds bounds) {
    if (!better(kMinimize ? bounds.lo : bounds.hi, bar_)) return;
    const double* const bans = attributes_.bans(i, j);
    for (std::size_t k = robust_tabu::first_candidate<kMinimize>(deltas, bans, count, test()); k < count;
         k += 1 + robust_tabu::first_candidate<kMinimize>(deltas + k + 1, bans + k + 1, count - k - 1, test())) {
      weigh(static_cast<Word>(i), static_cast<Word>(j + k), deltas[k]);
    }
  }
  [[nodiscard]] const Candidate& choice() const noexcept {
    if (forced_.found) return forced_;
    return allowed_.found ? allowed_ : any_;
  }

 private:
  [[nodiscard]] static bool better(double a, double b) noexcept { return kMinimize ? a < b : a > b; }
  // What weigh() would change something for. A move not forced nor allowed matters only for
  // the last class, until an allowed one is held.
  [[nodiscard]] robust_tabu::RowTest test() const noexcept {
    constexpr double kOff = std::numeric_limits<double>::quiet_NaN();
    constexpr double kOpen = std::numeric_limits<double>::infinity();
    if (!keeps_attributes_) return {bar_, kOff, kOff, allowed_.delta, kOpen, current_, best_};
    const bool forcing = attributes_.may_force();
    return {bar_, forcing ? attributes_.forced_before() : kOff, forcing ? forced_.delta : kOff,
            forced_.found ? kOff : allowed_.delta, allowed_.found ? attributes_.step() : kOpen, current_, best_};
  }
  // The move (i, j) comes as two words: a Move built in the caller's frame would be read back
  // through memory on every call.
  [[gnu::noinline]] void weigh(Word i, Word j, double delta) {
    const Move m{i, j};
    if (!keeps_attributes_) {
      allowed_ = {delta, m, true};
      bar_ = delta;
      return;
    }
    if (attributes_.may_force() && better(delta, forced_.delta) && attributes_.forced(i, j)) {
      forced_ = {delta, m, true};
    } else if (!forced_.found && better(delta, allowed_.delta)) {  // else the held moves beat it
      if (better(delta, any_.delta)) any_ = {delta, m, true};
      if (better(current_ + delta, best_) || !attributes_.forbidden(i, j)) allowed_ = {delta, m, true};
    }
    bar_ = allowed_.delta;
    if (attributes_.may_force() && better(bar_, forced_.delta)) bar_ = forced_.delta;
  }

  const Attributes& attributes_;
  bool keeps_attributes_;
  double current_;
  double best_;
  Candidate forced_;
  Candidate allowed_;
  Candidate any_;
  double bar_;
};

// The move a step applies: one scan of the neighbourhood.
template <bool kMinimize>
Candidate choose(Neighbourhood& moves, const Attributes& attributes, bool keeps_attributes, double current,
                 double best) {
  Chooser<kMinimize> chooser(attributes, keeps_attributes, current, best);
  moves.for_each(chooser);
  return chooser.choice();
}

}  // namespace

RobustTabuSearch::RobustTabuSearch(bool minimize, Shared<Problem> problem,
                                   const TerminationFunction& termination_function,
                                   std::optional<std::pair<Word, Word>> tenure,
                                   std::optional<std::uint64_t> aspiration, std::optional<std::uint64_t> seed)
    : SearchBase(minimize, std::move(problem), termination_function,
                 "Can't use multiNeighbor in Robust Tabu Search"),
      tenure_(tenure),
      aspiration_(aspiration),
      seed_(seed) {}

Shared<LocalSearch> RobustTabuSearch::make(const Params& params, bool minimize, Shared<Problem> problem,
                                           const TerminationFunction& termination) {
  return Shared<LocalSearch>::make<RobustTabuSearch>(minimize, std::move(problem), termination, params.tenure,
                                                     params.aspiration, params.seed);
}

std::optional<std::string> RobustTabuSearch::refusal(const MoveType& move_type) {
  // The exchange table scores exchanges of two positions: any kind whose moves exchange
  // positions is taken, whatever it is called.
  const SimpleMoveType* simple = move_type.simple();
  if (simple != nullptr && geometry(*simple).rearrangement == Rearrangement::kExchange) return std::nullopt;
  const char* given = simple != nullptr ? name(move_kind(*simple)) : "multi_neighbor";
  return std::string(kName) + " needs a move type that exchanges positions (swap or swap_tsp), not " + given;
}

// Saved fields: each optional setting as a presence flag and its value.
void RobustTabuSearch::write_fields(ByteWriter& w) const {
  w.boolean(tenure_.has_value());
  if (tenure_) {
    w.u32(tenure_->first);
    w.u32(tenure_->second);
  }
  w.boolean(aspiration_.has_value());
  if (aspiration_) w.u64(*aspiration_);
  w.boolean(seed_.has_value());
  if (seed_) w.u64(*seed_);
}

Shared<LocalSearch> RobustTabuSearch::restore(ByteReader& r, bool minimize, const TerminationFunction& termination) {
  std::optional<std::pair<Word, Word>> tenure;
  if (r.boolean()) {
    const Word low = r.u32();
    const Word high = r.u32();
    if (low > high) malformed("a robust tabu search's tenure has low > high");
    tenure = std::pair{low, high};
  }
  std::optional<std::uint64_t> aspiration;
  if (r.boolean()) aspiration = r.u64();
  std::optional<std::uint64_t> seed;
  if (r.boolean()) seed = r.u64();
  Shared<Problem> problem = read_problem(r);
  return Shared<LocalSearch>::make<RobustTabuSearch>(rebuilt<RobustTabuSearch>(
      termination, minimize, std::move(problem), termination, tenure, aspiration, seed));
}

RunLog RobustTabuSearch::run(bool log) {
  auto locked = lock_problem_for_run();
  Problem& problem = *locked;
  if (std::optional<std::string> refused = refusal(problem.get_move_type())) fatal(*refused);
  Neighbourhood moves(problem);
  const std::size_t n = size_of(*moves.simple());
  const auto [low, high] = tenure_.value_or(std::pair{static_cast<Word>(n * 9 / 10), static_cast<Word>((n * 11 + 9) / 10)});
  Attributes attributes(n, aspiration_.value_or(std::uint64_t{2} * n * n));
  Xoshiro128pp rng = generator(seed_);

  const double score = problem.eval();
  RunRecorder rows;
  if (log) rows.add(score, score, 0);
  termination_.init();
  double best = score;
  double current = score;
  std::uint64_t iterations = 0;
  for (;;) {
    if (!termination_.keep_running() || rows.stopping()) break;
    attributes.begin(static_cast<Step>(iterations));
    const Candidate chosen = minimize_ ? choose<true>(moves, attributes, high > 0, current, best)
                                       : choose<false>(moves, attributes, high > 0, current, best);
    if (rows.control().stop_requested()) break;  // stopped inside the scan: nothing applied
    if (!chosen.found) break;  // no exchange, or only NaN or infinite deltas the wrong way
    moves.apply(chosen.move);
    const Step tenure_i = draw_tenure(rng, low, high);
    const Step tenure_j = draw_tenure(rng, low, high);
    attributes.exchanged(chosen.move, tenure_i, tenure_j);
    current = current + chosen.delta;
    // A tie with the best counts in both directions and makes this solution the best.
    const bool new_best = minimize_ ? !(current > best) : !(current < best);
    if (new_best) {
      problem.set_best();
      best = current;
    }
    if (log) rows.add(best, current, iterations);
    termination_.check_new_variable(current);
    termination_.iteration_done();
    ++iterations;
  }
  rows.add(best, current, iterations);
  return std::move(rows).take();
}

}  // namespace kestrum
