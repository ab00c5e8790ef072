// Evaluation: constructors, whole-solution scores and the delta of one move.
#include "problem/evaluation.hpp"

#include <algorithm>
#include <utility>

#include "problem/delta_kernels.hpp"
#include "support/fatal.hpp"

namespace kestrum {

namespace {

// Whether a square matrix mirrors exactly. Compared in tiles, so that reading the column of
// every pair walks memory a cache line at a time rather than a row apart per read; the
// answer is the same in any order, and a NaN never equals anything.
bool square_mirrored(const Matrix& m) {
  constexpr std::size_t kTile = 32;
  const std::size_t n = m.rows();
  for (std::size_t ib = 0; ib < n; ib += kTile) {
    const std::size_t i_end = std::min(ib + kTile, n);
    for (std::size_t jb = 0; jb <= ib; jb += kTile) {
      for (std::size_t i = ib; i < i_end; ++i) {
        const std::size_t j_end = std::min(jb + kTile, i);
        for (std::size_t j = jb; j < j_end; ++j) {
          if (m.fast(i, j) != m.fast(j, i)) return false;
        }
      }
    }
  }
  return true;
}

// The tour matrix's flag: i = 1..n-1 outer, j = 0..i-1 inner, stopping at the first unequal
// pair. Rows may be ragged; a row too short for the walk is an index failure, reported with
// the length of the row that was too short. A square matrix cannot fail the walk, so only its
// answer matters and it is found tile by tile.
bool tour_matrix_symmetric(const Matrix& d) {
  if (d.is_square()) return square_mirrored(d);
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

// Square and exactly mirrored; never fails, since an assignment takes its data unchecked.
bool square_symmetric(const Matrix& m) { return m.is_square() && square_mirrored(m); }

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
  switch (mt.kind().index()) {
    case 0: return kernels::bins_delta<State>(b.weights, b.max_fill, kernels::Moves::kReverse, s, m.i, m.j);
    case 1:
    case 2: return kernels::bins_delta<State>(b.weights, b.max_fill, kernels::Moves::kSwap, s, m.i, m.j);
    case 3:
      (void)bins_eval_of(b, s);
      multi_neighbor_cannot_move();
  }
  __builtin_unreachable();
}

double tsp_delta_of(const Tsp& t, Move m, const MoveType& mt, std::span<const Word> s) {
  using kernels::Checked;
  switch (mt.kind().index()) {
    case 0: return kernels::tsp_reverse<Checked>(t.distance_matrix, t.symmetric, s, m.i, m.j);
    case 1:
    case 2: return kernels::tsp_swap<Checked>(t.distance_matrix, t.symmetric, s, m.i, m.j);
    case 3:
      // Anything but an exchange takes the reversal route, which measures before moving.
      (void)kernels::tsp_reverse_before<Checked>(t.distance_matrix, t.symmetric, s, m.i, m.j);
      multi_neighbor_cannot_move();
  }
  __builtin_unreachable();
}

// The assignment delta never applies the move; only a reversal is scored as one.
double qap_delta_of(const Qap& q, Move m, const MoveType& mt, std::span<const Word> s) {
  const kernels::Moves kind =
      mt.kind().index() == 0 ? kernels::Moves::kReverse : kernels::Moves::kSwap;
  return kernels::qap_delta(q, kind, s, m.i, m.j);
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

Evaluation Evaluation::qap(Matrix distance_matrix, Matrix flow_matrix) {
  const bool symmetric = square_symmetric(distance_matrix) && square_symmetric(flow_matrix);
  return Evaluation(Kind(Qap{std::move(distance_matrix), std::move(flow_matrix), symmetric}));
}

double Evaluation::eval(std::span<const Word> s) const {
  using kernels::Checked;
  switch (kind_.index()) {
    case 0: return bins_eval_of(std::get<0>(kind_), s);
    case 1: return bins_eval_of(std::get<1>(kind_), s);
    case 2: return bins_eval_of(std::get<2>(kind_), s);
    case 3:
      return kernels::tour_length<Checked>(std::get<3>(kind_).distance_matrix, s.size(),
                                           [&](std::size_t p) { return s[p]; });
    case 4: {
      const Qap& q = std::get<4>(kind_);
      return kernels::qap_cost<Checked>(q.distance_matrix, q.flow_matrix,
                                        [&](std::size_t p) { return at(s, p); });
    }
  }
  __builtin_unreachable();
}

double Evaluation::delta_eval(Move m, const MoveType& move_type, std::span<Word> s) const {
  switch (kind_.index()) {
    case 0: return bins_delta_of(std::get<0>(kind_), m, move_type, s);
    case 1: return bins_delta_of(std::get<1>(kind_), m, move_type, s);
    case 2: return bins_delta_of(std::get<2>(kind_), m, move_type, s);
    case 3: return tsp_delta_of(std::get<3>(kind_), m, move_type, s);
    case 4: return qap_delta_of(std::get<4>(kind_), m, move_type, s);
  }
  __builtin_unreachable();
}

std::size_t Evaluation::size() const {
  switch (kind_.index()) {
    case 0: return std::get<0>(kind_).weights.size();
    case 1: return std::get<1>(kind_).weights.size();
    case 2: return std::get<2>(kind_).weights.size();
    case 3: return std::get<3>(kind_).distance_matrix.rows();
    case 4: return std::get<4>(kind_).distance_matrix.rows();
  }
  __builtin_unreachable();
}

}  // namespace kestrum
