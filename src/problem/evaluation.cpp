// Evaluation: constructors, whole-solution scores and the delta of one move.
#include "problem/evaluation.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "problem/kernels/assignment.hpp"
#include "problem/kernels/bins.hpp"
#include "problem/kernels/first_fit.hpp"
#include "problem/kernels/tour.hpp"
#include "support/fatal.hpp"
#include "support/tags.hpp"

namespace kestrum {

namespace {

// Whether the n x n block (which the matrix covers) mirrors exactly; entries outside it are
// never read by a score, so they cannot decide which formula a delta takes. Compared in
// tiles, so that reading the column of every pair walks memory a cache line at a time rather
// than a row apart per read; the answer is the same in any order, and a NaN never equals
// anything.
bool block_mirrored(const Matrix& m, std::size_t n) {
  std::vector<const double*> row(n);
  for (std::size_t r = 0; r < n; ++r) row[r] = m.row(r);
  constexpr std::size_t kTile = 32;
  for (std::size_t ib = 0; ib < n; ib += kTile) {
    const std::size_t i_end = std::min(ib + kTile, n);
    for (std::size_t jb = 0; jb <= ib; jb += kTile) {
      for (std::size_t i = ib; i < i_end; ++i) {
        const std::size_t j_end = std::min(jb + kTile, i);
        for (std::size_t j = jb; j < j_end; ++j) {
          if (row[i][j] != row[j][i]) return false;
        }
      }
    }
  }
  return true;
}

// The tour matrix's flag: i = 1..n-1 outer, j = 0..i-1 inner, stopping at the first unequal
// pair. Rows may be ragged; a row too short for the walk is an index failure, reported with
// the length of the row that was too short. A matrix that covers its n x n block cannot fail
// the walk, so only its answer matters and it is found tile by tile.
bool tour_matrix_symmetric(const Matrix& d) {
  if (d.covers(d.rows())) return block_mirrored(d, d.rows());
  for (std::size_t i = 1; i < d.rows(); ++i) {
    const std::span<const double> row_i = d.row_span(i);
    for (std::size_t j = 0; j < i; ++j) {
      if (j >= row_i.size()) fatal_index(row_i.size(), j);
      const std::span<const double> row_j = d.row_span(j);
      if (i >= row_j.size()) fatal_index(row_j.size(), i);
      if (row_i[j] != row_j[i]) return false;  // a NaN never equals anything
    }
  }
  return true;
}

// The n x n block is there and mirrors exactly; never fails, since an assignment takes its
// data unchecked (a missing entry makes the flag false, and the exact route reports it).
bool block_symmetric(const Matrix& m, std::size_t n) {
  return m.covers(n) && block_mirrored(m, n);
}

// The largest magnitude in the n x n block, or NaN when an entry there is not an integer.
double integral_block_bound(const Matrix& m, std::size_t n) {
  double largest = 0.0;
  for (std::size_t a = 0; a < n; ++a) {
    const double* const row = m.row(a);
    for (std::size_t b = 0; b < n; ++b) {
      const double x = row[b];
      if (!(std::trunc(x) == x) || std::isinf(x)) return std::numeric_limits<double>::quiet_NaN();
      largest = std::max(largest, std::fabs(x));
    }
  }
  return largest;
}

// An exchange's change is a sum of at most n terms (D[j][k] - D[i][k]) * (F[..] - F[..]),
// each at most 4 * |D| * |F| in magnitude, and a table update adds at most two products of
// differences of differences, 16 * |D| * |F| each: (n + 8) * 8 * |D| * |F| bounds them all
// with room to spare.
bool integral_blocks(const Matrix& d, const Matrix& f, std::size_t n) {
  if (!d.covers(n) || !f.covers(n)) return false;
  const double bound = static_cast<double>(n + 8) * 8.0 * integral_block_bound(d, n) * integral_block_bound(f, n);
  return bound < 0x1p53;  // false for NaN
}

[[noreturn]] void multi_neighbor_cannot_move() { fatal("MultiNeighbor doesn't support do_move"); }

template <class Bins>
double bins_eval_of(const Bins& b, std::span<const Word> s) {
  return kernels::bins_eval<typename kernels::BinsOf<Bins>::State>(b.weights, b.max_fill, s);
}

// Bin packing scores the solution before the move, then applies it: a MultiNeighbor fails
// only at that second step.
template <class Bins>
double bins_delta_of(const Bins& b, Move m, const MoveType& mt, std::span<const Word> s) {
  using State = typename kernels::BinsOf<Bins>::State;
  switch (mt.tag()) {
    case MoveType::Tag::kSimple:
      return kernels::bins_delta<State>(b.weights, b.max_fill, geometry(*mt.simple()).rearrangement, s, m);
    case MoveType::Tag::kMultiNeighbor:
      (void)bins_eval_of(b, s);
      multi_neighbor_cannot_move();
  }
  unknown_tag("move type", mt.tag());
}

// d: a Matrix or PointDistances.
template <class D>
double tsp_delta_of(const D& d, bool symmetric, Move m, const MoveType& mt, std::span<const Word> s) {
  using kernels::Checked;
  switch (mt.tag()) {
    case MoveType::Tag::kSimple: {
      const Rearrangement r = geometry(*mt.simple()).rearrangement;
      switch (r) {
        case Rearrangement::kReverse:
          return kernels::tsp_reverse<Checked>(d, symmetric, s, m.i, m.j);
        case Rearrangement::kExchange:
          return kernels::tsp_swap<Checked>(d, symmetric, s, m.i, m.j);
        case Rearrangement::kSegment:
          return kernels::tsp_segment<Checked>(d, symmetric, s, m);
      }
      unknown_tag("rearrangement", r);
    }
    case MoveType::Tag::kMultiNeighbor:
      // No move of its own; the reversal route measures before it would move.
      (void)kernels::tsp_reverse_before<Checked>(d, symmetric, s, m.i, m.j);
      multi_neighbor_cannot_move();
  }
  unknown_tag("move type", mt.tag());
}

// The assignment delta never applies the move, so a MultiNeighbor does not stop it: its
// move (i, j) is scored as the exchange of positions i and j.
double qap_delta_of(const Qap& q, Move m, const MoveType& mt, std::span<const Word> s) {
  switch (mt.tag()) {
    case MoveType::Tag::kSimple:
      return kernels::qap_delta(q, geometry(*mt.simple()).rearrangement, s, m);
    case MoveType::Tag::kMultiNeighbor:
      return kernels::qap_delta(q, Rearrangement::kExchange, s, m);
  }
  unknown_tag("move type", mt.tag());
}

// A caller's delta is told the move's rearrangement; a MultiNeighbor cannot move.
double custom_delta_of(const Custom& c, Move m, const MoveType& mt, std::span<Word> s) {
  switch (mt.tag()) {
    case MoveType::Tag::kSimple: return custom_delta(c, geometry(*mt.simple()).rearrangement, s, m);
    case MoveType::Tag::kMultiNeighbor: multi_neighbor_cannot_move();
  }
  unknown_tag("move type", mt.tag());
}

// The first-fit workspace of this thread's eval and delta_eval: a delta on the solution of the
// previous one reuses its run, and a warm one allocates nothing.
FirstFitScratch& thread_first_fit() {
  thread_local FirstFitScratch scratch;
  return scratch;
}

// First fit scores the solution before the move, then checks it: a MultiNeighbor fails at
// that second step.
double first_fit_delta_of(const BinPacking& b, Move m, const MoveType& mt, std::span<const Word> s) {
  switch (mt.tag()) {
    case MoveType::Tag::kSimple:
      return kernels::first_fit::delta(thread_first_fit(), b.weights, b.capacity,
                                       geometry(*mt.simple()).rearrangement, s, m);
    case MoveType::Tag::kMultiNeighbor:
      (void)kernels::first_fit::decode<kernels::Checked>(thread_first_fit(), b.weights, b.capacity, s);
      thread_first_fit().valid = false;
      multi_neighbor_cannot_move();
  }
  unknown_tag("move type", mt.tag());
}

// Shortest round-trip text: "1.5", "nan", "-inf".
std::string shortest(double v) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
  return std::string(buffer, end);
}

}  // namespace

Evaluation Evaluation::empty_bins(std::vector<double> weights, double max_fill) {
  return Evaluation(Kind(EmptyBins{std::move(weights), max_fill}));
}

Evaluation Evaluation::empty_space(std::vector<double> weights, double max_fill) {
  return Evaluation(Kind(EmptySpace{std::move(weights), max_fill}));
}

Evaluation Evaluation::empty_space_exp(std::vector<double> weights, double max_fill) {
  return Evaluation(Kind(EmptySpaceExp{std::move(weights), max_fill}));
}

Evaluation Evaluation::tsp(Matrix distance_matrix) {
  const bool symmetric = tour_matrix_symmetric(distance_matrix);
  return Evaluation(Kind(Tsp{symmetric, std::move(distance_matrix)}));
}

Evaluation Evaluation::tsp_points(Points points) { return Evaluation(Kind(TspPoints{std::move(points)})); }

Evaluation Evaluation::qap(Matrix distance_matrix, Matrix flow_matrix) {
  // n positions read D[a][b] and, through a permutation of n values, F[u][v], all below n.
  const std::size_t n = distance_matrix.rows();
  const bool symmetric = block_symmetric(distance_matrix, n) && block_symmetric(flow_matrix, n);
  const bool integral = integral_blocks(distance_matrix, flow_matrix, n);
  return Evaluation(Kind(Qap{std::move(distance_matrix), std::move(flow_matrix), symmetric, integral}));
}

Evaluation Evaluation::custom(Word size, std::shared_ptr<const ScoreFunction> score) {
  return Evaluation(Kind(Custom{size, std::move(score)}));
}

Result<Evaluation> Evaluation::bin_packing(std::vector<double> weights, double capacity) {
  if (!(std::isfinite(capacity) && capacity > 0.0)) {
    return ReaderError::invalid_input("capacity must be finite and positive, got " + shortest(capacity));
  }
  for (std::size_t v = 0; v < weights.size(); ++v) {
    const double w = weights[v];
    if (!(std::isfinite(w) && w >= 0.0 && w <= capacity)) {
      return ReaderError::invalid_input("weight " + std::to_string(v) + " is " + shortest(w) +
                                        ": weights must be finite, at least 0 and at most the capacity " +
                                        shortest(capacity));
    }
  }
  return Evaluation(Kind(BinPacking{std::move(weights), capacity}));
}

double Evaluation::eval(std::span<const Word> s) const {
  using kernels::Checked;
  switch (tag()) {
    case Tag::kEmptyBins: return bins_eval_of(std::get<EmptyBins>(kind_), s);
    case Tag::kEmptySpace: return bins_eval_of(std::get<EmptySpace>(kind_), s);
    case Tag::kEmptySpaceExp: return bins_eval_of(std::get<EmptySpaceExp>(kind_), s);
    case Tag::kTsp:
      return kernels::tour_length<Checked>(std::get<Tsp>(kind_).distance_matrix, s.size(),
                                           [&](std::size_t p) { return s[p]; });
    case Tag::kQap: {
      const Qap& q = std::get<Qap>(kind_);
      return kernels::qap_cost<Checked>(q.distance_matrix, q.flow_matrix,
                                        [&](std::size_t p) { return at(s, p); });
    }
    case Tag::kTspPoints:
      return std::get<TspPoints>(kind_).points.with_distances([&](const auto& d) {
        return kernels::tour_length<Checked>(d, s.size(), [&](std::size_t p) { return s[p]; });
      });
    case Tag::kCustom: return custom_eval(std::get<Custom>(kind_), s);
    case Tag::kBinPacking: {
      const BinPacking& b = std::get<BinPacking>(kind_);
      FirstFitScratch& scratch = thread_first_fit();
      if (kernels::first_fit::holds_run_of(scratch, b.weights, b.capacity, s)) return scratch.score;
      scratch.valid = false;
      return kernels::first_fit::decode<kernels::Checked>(scratch, b.weights, b.capacity, s);
    }
  }
  unknown_tag("evaluation", tag());
}

double Evaluation::delta_eval(Move m, const MoveType& move_type, std::span<Word> s) const {
  switch (tag()) {
    case Tag::kEmptyBins: return bins_delta_of(std::get<EmptyBins>(kind_), m, move_type, s);
    case Tag::kEmptySpace: return bins_delta_of(std::get<EmptySpace>(kind_), m, move_type, s);
    case Tag::kEmptySpaceExp: return bins_delta_of(std::get<EmptySpaceExp>(kind_), m, move_type, s);
    case Tag::kTsp: {
      const Tsp& t = std::get<Tsp>(kind_);
      return tsp_delta_of(t.distance_matrix, t.symmetric, m, move_type, s);
    }
    case Tag::kQap: return qap_delta_of(std::get<Qap>(kind_), m, move_type, s);
    case Tag::kTspPoints:
      return std::get<TspPoints>(kind_).points.with_distances(
          [&](const auto& d) { return tsp_delta_of(d, true, m, move_type, s); });
    case Tag::kCustom: return custom_delta_of(std::get<Custom>(kind_), m, move_type, s);
    case Tag::kBinPacking: return first_fit_delta_of(std::get<BinPacking>(kind_), m, move_type, s);
  }
  unknown_tag("evaluation", tag());
}

bool Evaluation::deltas_follow_eval() const noexcept {
  switch (tag()) {
    case Tag::kEmptyBins:
    case Tag::kEmptySpace:
    case Tag::kEmptySpaceExp:
    case Tag::kTsp:
    case Tag::kQap:
    case Tag::kTspPoints:
    case Tag::kBinPacking: return true;
    case Tag::kCustom: return false;
  }
  return false;  // unreachable: the switch covers every tag
}

std::size_t Evaluation::size() const {
  switch (tag()) {
    case Tag::kEmptyBins: return std::get<EmptyBins>(kind_).weights.size();
    case Tag::kEmptySpace: return std::get<EmptySpace>(kind_).weights.size();
    case Tag::kEmptySpaceExp: return std::get<EmptySpaceExp>(kind_).weights.size();
    case Tag::kTsp: return std::get<Tsp>(kind_).distance_matrix.rows();
    case Tag::kQap: return std::get<Qap>(kind_).distance_matrix.rows();
    case Tag::kTspPoints: return std::get<TspPoints>(kind_).points.size();
    case Tag::kCustom: return std::get<Custom>(kind_).size;
    case Tag::kBinPacking: return std::get<BinPacking>(kind_).weights.size();
  }
  unknown_tag("evaluation", tag());
}

const char* Evaluation::name(Tag tag) {
  switch (tag) {
    case Tag::kEmptyBins: return "empty_bins";
    case Tag::kEmptySpace: return "empty_space";
    case Tag::kEmptySpaceExp: return "empty_space_exp";
    case Tag::kTsp: return "tsp";
    case Tag::kQap: return "qap";
    case Tag::kTspPoints: return "tsp_points";
    case Tag::kCustom: return "custom";
    case Tag::kBinPacking: return "bin_packing";
  }
  unknown_tag("evaluation", tag);
}

std::optional<bool> Evaluation::symmetric() const {
  switch (tag()) {
    case Tag::kEmptyBins:
    case Tag::kEmptySpace:
    case Tag::kEmptySpaceExp:
    case Tag::kBinPacking:
    case Tag::kCustom: return std::nullopt;
    case Tag::kTsp: return std::get<Tsp>(kind_).symmetric;
    case Tag::kQap: return std::get<Qap>(kind_).symmetric;
    case Tag::kTspPoints: return true;
  }
  unknown_tag("evaluation", tag());
}

bool Evaluation::scores_tours() const {
  switch (tag()) {
    case Tag::kTsp:
    case Tag::kTspPoints: return true;
    case Tag::kEmptyBins:
    case Tag::kEmptySpace:
    case Tag::kEmptySpaceExp:
    case Tag::kQap:
    case Tag::kCustom:
    case Tag::kBinPacking: return false;
  }
  unknown_tag("evaluation", tag());
}

std::optional<TourDistances> Evaluation::tour_distances() const {
  switch (tag()) {
    case Tag::kTsp: {
      const Tsp& t = std::get<Tsp>(kind_);
      if (!t.distance_matrix.is_square()) return std::nullopt;
      return TourDistances(t.distance_matrix, t.symmetric);
    }
    case Tag::kTspPoints: return TourDistances(std::get<TspPoints>(kind_).points);
    case Tag::kEmptyBins:
    case Tag::kEmptySpace:
    case Tag::kEmptySpaceExp:
    case Tag::kQap:
    case Tag::kCustom:
    case Tag::kBinPacking: return std::nullopt;
  }
  unknown_tag("evaluation", tag());
}

bool Evaluation::fixed_size() const {
  switch (tag()) {
    case Tag::kCustom: return true;
    case Tag::kEmptyBins:
    case Tag::kEmptySpace:
    case Tag::kEmptySpaceExp:
    case Tag::kTsp:
    case Tag::kQap:
    case Tag::kTspPoints:
    case Tag::kBinPacking: return false;
  }
  unknown_tag("evaluation", tag());
}

// Tag values and the alternatives of Kind must stay in step.
template <Evaluation::Tag T, class Alternative>
constexpr bool kTagIs = std::is_same_v<
    std::variant_alternative_t<static_cast<std::size_t>(T), Evaluation::Kind>, Alternative>;
static_assert(std::variant_size_v<Evaluation::Kind> == 8);
static_assert(kTagIs<Evaluation::Tag::kEmptyBins, EmptyBins> && kTagIs<Evaluation::Tag::kEmptySpace, EmptySpace> &&
              kTagIs<Evaluation::Tag::kEmptySpaceExp, EmptySpaceExp> && kTagIs<Evaluation::Tag::kTsp, Tsp> &&
              kTagIs<Evaluation::Tag::kQap, Qap> && kTagIs<Evaluation::Tag::kTspPoints, TspPoints> &&
              kTagIs<Evaluation::Tag::kCustom, Custom> && kTagIs<Evaluation::Tag::kBinPacking, BinPacking>);

}  // namespace kestrum
