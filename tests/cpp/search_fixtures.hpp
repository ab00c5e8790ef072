// Test problems and helpers shared by the search tests: scripted scores, a generic-only view.
#pragma once

#include <gtest/gtest.h>

#include "fatal_message.hpp"

#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "local_search/local_search.hpp"
#include "problem/array_problem.hpp"
#include "problem/permutation.hpp"
#include "support/siphash.hpp"

namespace kestrum::testing_support {

// A row without its time, which differs from run to run.
struct Row {
  double best;
  double current;
  std::uint64_t iteration;
  friend bool operator==(const Row& a, const Row& b) {
    // Bitwise on the scores, so that NaN rows compare equal to NaN rows.
    return std::bit_cast<std::uint64_t>(a.best) == std::bit_cast<std::uint64_t>(b.best) &&
           std::bit_cast<std::uint64_t>(a.current) == std::bit_cast<std::uint64_t>(b.current) &&
           a.iteration == b.iteration;
  }
  friend std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << "(" << r.best << ", " << r.current << ", " << r.iteration << ")";
  }
};

inline std::vector<Row> rows_of(const RunLog& log) {
  std::vector<Row> rows;
  for (const ProgressRecord& r : log) rows.push_back({r.best_score, r.current_score, r.iteration});
  return rows;
}

inline std::vector<Word> identity(std::size_t n) {
  std::vector<Word> s(n);
  std::iota(s.begin(), s.end(), Word{0});
  return s;
}

inline std::vector<Word> as_vector(std::span<const Word> s) { return {s.begin(), s.end()}; }

// A problem whose score is any function of the solution, given by the test, so that
// every delta of a small neighbourhood can be chosen by hand. Moves come from a real move
// type. Deltas are score(after) - score(before) unless a delta function is given. It is
// not an ArrayProblem, so searches take their generic path on it.
class ScoredProblem final : public Problem {
 public:
  using Score = std::function<double(const std::vector<Word>&)>;
  using Delta = std::function<double(const std::vector<Word>&, Move)>;

  ScoredProblem(MoveType move_type, std::size_t n, Score score, Delta delta = {})
      : move_type_(std::move(move_type)), solution(identity(n)), best(identity(n)),
        score_(std::move(score)), delta_(std::move(delta)) {
    move_type_.set_size(static_cast<Word>(n));
  }

  [[nodiscard]] Move get_mov() override { return move_type_.get_mov(); }
  [[nodiscard]] std::vector<Move> get_all_mov() const override { return move_type_.get_all_mov(); }
  void do_mov(Move m, const MoveType* t) override { (t ? *t : move_type_).do_move(solution, m); }
  [[nodiscard]] double delta_eval(Move m, const MoveType* t) override {
    if (delta_) return delta_(solution, m);
    const double before = score_(solution);
    do_mov(m, t);
    const double after = score_(solution);
    do_mov(m, t);
    return after - before;
  }
  [[nodiscard]] double eval() const override { return score_(solution); }
  void reset() override {
    solution = identity(solution.size());
    best = solution;
  }
  void shuffle(std::uint64_t seed) override {
    random_permutation(solution, seed);
    best = solution;
  }
  void set_best() override {
    best = solution;
    ++set_best_calls;
  }
  [[nodiscard]] std::uint64_t hash() const override { return solution_hash(solution); }
  [[nodiscard]] const MoveType& get_move_type() const override { return move_type_; }
  void set_move_type(MoveType t) override {
    t.set_size(static_cast<Word>(solution.size()));
    move_type_ = std::move(t);
  }
  void set_eval_type(Evaluation) override {}
  void set_seed(std::uint64_t seed) override { move_type_.set_seed(seed); }

  // Public so that tests can read and arrange the state; declared before the private
  // members to keep the constructor's order.
 private:
  MoveType move_type_;

 public:
  std::vector<Word> solution;
  std::vector<Word> best;
  int set_best_calls = 0;

 private:
  Score score_;
  Delta delta_;
};

// Scores from a table of solutions; solutions not in the table score `otherwise`.
inline ScoredProblem::Score table(std::map<std::vector<Word>, double> scores, double otherwise) {
  return [scores = std::move(scores), otherwise](const std::vector<Word>& s) {
    const auto it = scores.find(s);
    return it == scores.end() ? otherwise : it->second;
  };
}

// Forwards every operation to an ArrayProblem but does not admit to being one, so a search
// scans it through get_all_mov and delta_eval: the reference for the specialised scans.
class GenericView final : public Problem {
 public:
  explicit GenericView(ArrayProblem inner) : inner_(std::move(inner)) {}

  [[nodiscard]] Move get_mov() override { return inner_.get_mov(); }
  [[nodiscard]] std::vector<Move> get_all_mov() const override { return inner_.get_all_mov(); }
  void do_mov(Move m, const MoveType* t) override { inner_.do_mov(m, t); }
  [[nodiscard]] double delta_eval(Move m, const MoveType* t) override { return inner_.delta_eval(m, t); }
  [[nodiscard]] double eval() const override { return inner_.eval(); }
  void reset() override { inner_.reset(); }
  void shuffle(std::uint64_t seed) override { inner_.shuffle(seed); }
  void set_best() override { inner_.set_best(); }
  [[nodiscard]] std::uint64_t hash() const override { return inner_.hash(); }
  [[nodiscard]] const MoveType& get_move_type() const override { return inner_.get_move_type(); }
  void set_move_type(MoveType t) override { inner_.set_move_type(std::move(t)); }
  void set_eval_type(Evaluation e) override { inner_.set_eval_type(std::move(e)); }
  void set_seed(std::uint64_t seed) override { inner_.set_seed(seed); }

  [[nodiscard]] const ArrayProblem& inner() const { return inner_; }

 private:
  ArrayProblem inner_;
};

// Random cities in the unit square; the tour length is symmetric. With `asymmetric`, a
// random detour is added to each directed edge, so reversals change the inner edges too.
inline Evaluation random_tour(std::size_t n, std::uint64_t seed, bool asymmetric = false) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<std::pair<double, double>> xy(n);
  for (auto& p : xy) p = {unit(gen), unit(gen)};
  std::vector<std::vector<double>> d(n, std::vector<double>(n, 0.0));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b < n; ++b) {
      if (a == b) continue;
      d[a][b] = std::hypot(xy[a].first - xy[b].first, xy[a].second - xy[b].second);
      if (asymmetric) d[a][b] += 0.3 * unit(gen);
    }
  }
  return Evaluation::tsp(Matrix(d));
}

// A tour where every edge has the same length: every delta is exactly zero.
inline Evaluation flat_tour(std::size_t n) {
  return Evaluation::tsp(Matrix(std::vector<std::vector<double>>(n, std::vector<double>(n, 1.0))));
}

// The problem's own solution array, read under its lock.
inline std::vector<Word> solution_of(const Shared<Problem>& p) {
  auto locked = p.lock();
  return as_vector(locked->as_array_problem()->solution());
}

// No move of `type` lowers (minimising) or raises (maximising) the score: checked by
// delta_eval of every move, independently of the searches' own scans.
inline bool is_local_optimum(const Shared<Problem>& p, const MoveType* type, bool minimize) {
  auto locked = p.lock();
  const std::vector<Move> moves = (type ? *type : locked->get_move_type()).get_all_mov();
  for (const Move m : moves) {
    const double delta = locked->delta_eval(m, type);
    if (minimize ? delta < -1e-12 : delta > 1e-12) return false;
  }
  return true;
}

}  // namespace kestrum::testing_support
