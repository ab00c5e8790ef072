// Tour scans: the tour's own edges once, then the rows hoisted per first position.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "problem/evaluation.hpp"
#include "problem/kernels/tour.hpp"
#include "problem/matrix.hpp"
#include "problem/scan/common.hpp"
#include "problem/scan_scratch.hpp"
#include "support/tags.hpp"
#include "support/word.hpp"

namespace kestrum::scan {

// delta(s, m) is delta_eval of the move m. D is the distance source (a Matrix or
// PointDistances), which outlives the kernel.
// R = kernels::Unchecked only where the data is known to cover every move (tour_covered).
template <class R = kernels::Checked, class D = Matrix>
struct TspSwapKernel {
  const D* d;
  bool symmetric;
  [[nodiscard]] double delta(std::span<const Word> s, Move m) const {
    return kernels::tsp_swap<R>(*d, symmetric, s, m.i, m.j);
  }
};
template <class R = kernels::Checked, class D = Matrix>
struct TspReverseKernel {
  const D* d;
  bool symmetric;
  [[nodiscard]] double delta(std::span<const Word> s, Move m) const {
    return kernels::tsp_reverse<R>(*d, symmetric, s, m.i, m.j);
  }
};
template <class R = kernels::Checked, class D = Matrix>
struct TspSegmentKernel {
  const D* d;
  bool symmetric;
  [[nodiscard]] double delta(std::span<const Word> s, Move m) const {
    return kernels::tsp_segment<R>(*d, symmetric, s, m);
  }
};

// Every move of a move type of size n over `s` reads only positions below s.size() and
// matrix entries that exist: the checked and unchecked reads then give the same values.
// Moves only rearrange the values, so this holds as long as the solution is a rearrangement
// of `s` and the move type and the data stay the same.
template <class D>
[[nodiscard]] bool tour_covered(const D& d, std::span<const Word> s, std::size_t n) noexcept {
  return n <= s.size() && d.is_square() && values_below(s, d.rows());
}

// Tours. Scratch holds the tour's own edges: edge[k] = D[s_k][s_k+1], edge[L-1] the closing
// one. Moves whose run touches the last position (the closing edge) or, for exchanges,
// whose positions are adjacent go through the general routine; the rest use the hoisted rows
// of the edges at i.
template <class D>
[[nodiscard]] const double* tour_edges(const D& d, std::span<const Word> s, std::vector<double>& out) {
  const std::size_t len = s.size();
  out.resize(len);
  for (std::size_t k = 0; k + 1 < len; ++k) out[k] = d.fast(s[k], s[k + 1]);
  out[len - 1] = d.fast(s[len - 1], s[0]);
  return out.data();
}

// A row is read through `auto`: a pointer into a matrix, or a point's distances to the others.
template <class D, class Visit>
void scan_tsp_reverse(const D& d, bool symmetric, const ScanContext& c, Visit& visit) {
  const std::span<const Word> s = c.s;
  const std::size_t n = c.n;
  ScanScratch& scratch = c.scratch;
  const std::size_t len = s.size();
  if (!tour_covered(d, s, n)) {
    return scan_checked(TspReverseKernel<kernels::Checked, D>{&d, symmetric}, c, visit);
  }
  const double* const edge = tour_edges(d, s, scratch.values);
  // reversed[k] = D[s_k+1][s_k]: the edge k walked backwards, as it is after a reversal.
  const double* reversed = nullptr;
  if (!symmetric) {
    scratch.aux.resize(len);
    for (std::size_t k = 0; k + 1 < len; ++k) scratch.aux[k] = d.fast(s[k + 1], s[k]);
    reversed = scratch.aux.data();
  }
  const std::size_t inner_end = std::min(n, len - 1);  // runs that end before position L-1
  for (std::size_t i = c.first(); i + 1 < n; ++i) {
    if (scan_stop(visit, n - 1 - i)) return;
    const Word pred = i > 0 ? s[i - 1] : s[len - 1];
    const auto row_pred = d.row(pred);
    const auto row_si = d.row(s[i]);
    const double a = row_pred[s[i]];
    if (symmetric) {
      // Only the edges at the two ends of the run change.
      const double a0 = a + 0.0;
      for (std::size_t j = i + 1; j < inner_end; ++j) {
        const double before = a0 + edge[j];
        const double after = (row_pred[s[j]] + 0.0) + row_si[s[j + 1]];
        visit(move_at(i, j), after - before);
      }
    } else {
      // The edges inside the run are summed forwards before and backwards after; the
      // forward sum grows by one edge per j, the backward one starts from the new end.
      double inner = 0.0;
      for (std::size_t j = i + 1; j < inner_end; ++j) {
        inner = inner + edge[j - 1];
        const double before = (inner + a) + edge[j];
        double inner_after = 0.0;
        for (std::size_t k = j; k-- > i;) inner_after = inner_after + reversed[k];
        const double after = (inner_after + row_pred[s[j]]) + row_si[s[j + 1]];
        visit(move_at(i, j), after - before);
      }
    }
    for (std::size_t j = std::max(i + 1, inner_end); j < n; ++j) {
      visit(move_at(i, j), kernels::tsp_reverse<kernels::Unchecked>(d, symmetric, s, i, j));
    }
  }
}

template <bool Symmetric, class D, class Visit>
void scan_tsp_swap_rows(const D& d, std::span<const Word> s, std::size_t first,
                        std::size_t n, const double* edge, Visit& visit) {
  const std::size_t len = s.size();
  const std::size_t inner_end = std::min(n, len - 1);
  for (std::size_t i = first; i + 1 < n; ++i) {
    if (scan_stop(visit, n - 1 - i)) return;
    const Word pred = i > 0 ? s[i - 1] : s[len - 1];
    const Word si = s[i];
    const Word si1 = s[i + 1];
    const auto row_pred = d.row(pred);
    const auto row_si = d.row(si);
    const auto row_si1 = d.row(si1);
    const double ab = (row_pred[si] + 0.0) + row_si[si1];
    if (i + 1 < inner_end) {
      // Neighbours: pred, s_i, s_i+1, next becomes pred, s_i+1, s_i, next; the edge between
      // them is walked the other way, which is why it is read as D[s_i+1][s_i].
      const double before = ab + edge[i + 1];
      const double after = ((row_pred[si1] + 0.0) + d.fast(si1, si)) + row_si[s[i + 2]];
      visit(move_at(i, i + 1), after - before);
    } else {
      visit(move_at(i, i + 1), kernels::tsp_swap<kernels::Unchecked>(d, Symmetric, s, i, i + 1));
    }
    for (std::size_t j = i + 2; j < inner_end; ++j) {
      const double before = (ab + edge[j - 1]) + edge[j];
      const Word sj = s[j];
      // b' = D[s_j][s_i+1] and c' = D[s_j-1][s_i]. A symmetric matrix may be read along the
      // hoisted rows instead: mirrored entries compare equal, so they differ at most in the
      // sign of a zero, which cannot show once the sum has started from a + 0.0.
      const double b2 = Symmetric ? row_si1[sj] : d.fast(sj, si1);
      const double c2 = Symmetric ? row_si[s[j - 1]] : d.fast(s[j - 1], si);
      const double after = (((row_pred[sj] + 0.0) + b2) + c2) + row_si[s[j + 1]];
      visit(move_at(i, j), after - before);
    }
    for (std::size_t j = std::max(i + 2, inner_end); j < n; ++j) {
      if (i > 0 && j + 1 == len) {
        // The last position, away from position 0: as above with the closing edge, and
        // s_0 after it.
        const double before = (ab + edge[j - 1]) + edge[j];
        const Word sj = s[j];
        const double b2 = Symmetric ? row_si1[sj] : d.fast(sj, si1);
        const double c2 = Symmetric ? row_si[s[j - 1]] : d.fast(s[j - 1], si);
        const double after = (((row_pred[sj] + 0.0) + b2) + c2) + row_si[s[0]];
        visit(move_at(i, j), after - before);
      } else {
        visit(move_at(i, j), kernels::tsp_swap<kernels::Unchecked>(d, Symmetric, s, i, j));
      }
    }
  }
}

template <class D, class Visit>
void scan_tsp_swap(const D& d, bool symmetric, const ScanContext& c, Visit& visit) {
  if (!tour_covered(d, c.s, c.n)) {
    return scan_checked(TspSwapKernel<kernels::Checked, D>{&d, symmetric}, c, visit);
  }
  const double* const edge = tour_edges(d, c.s, c.scratch.values);
  if (symmetric) {
    scan_tsp_swap_rows<true>(d, c.s, c.first(), c.n, edge, visit);
  } else {
    scan_tsp_swap_rows<false>(d, c.s, c.first(), c.n, edge, visit);
  }
}

// Segment moves: the cities just outside the run are read once per run, and each shape the
// run lists costs its three edges before and after (tsp_segment_local); runs over the whole
// tour go through tsp_segment. `each_listed` walks the shapes a run lists (ConstantShapes for
// Or-opt's, whose kernels then fold each shape's branches away).
template <class D, class Visit, class EachListed>
void tsp_segment_rows(const D& d, bool symmetric, const ScanContext& c, Visit& visit, EachListed each_listed) {
  const std::span<const Word> s = c.s;
  const std::size_t n = c.n;
  const std::size_t len = s.size();
  using kernels::Unchecked;
  for (std::size_t i = c.first(); i + 1 < n; ++i) {
    if (scan_stop(visit, moves_in_row(c.moves, i, n))) return;
    const Word pred = i > 0 ? s[i - 1] : s[len - 1];
    const auto wi = static_cast<Word>(i);
    for (std::size_t j = i + 1; j < n; ++j) {
      const std::uint16_t listed = listed_on(c.moves, j - i + 1);
      const auto wj = static_cast<Word>(j);
      if (kernels::closes_tour(len, i, j)) {
        each_listed(listed, [&](std::uint8_t shape) {
          const Move m{wi, wj, shape};
          visit(m, kernels::tsp_segment<Unchecked>(d, symmetric, s, m));
        });
        continue;
      }
      const Word next = j + 1 < len ? s[j + 1] : s[0];
      each_listed(listed, [&](auto shape) {
        const Move m{wi, wj, shape};
        visit(m, kernels::tsp_segment_local<Unchecked>(d, symmetric, s, m, pred, next));
      });
    }
  }
}

template <class D, class Visit>
void scan_tsp_segment(const D& d, bool symmetric, const ScanContext& c, Visit& visit) {
  if (!tour_covered(d, c.s, c.n)) {
    return scan_checked(TspSegmentKernel<kernels::Checked, D>{&d, symmetric}, c, visit);
  }
  if (c.moves.shapes.data() == or_opt::kShapes.data()) {
    return tsp_segment_rows(d, symmetric, c, visit, ConstantShapes<or_opt::kShapes>{});
  }
  tsp_segment_rows(d, symmetric, c, visit, ListedShapes{c.moves.shapes});
}

// The tour scan of a move kind over distances d (a Matrix or PointDistances). The scans
// written for pairs take kinds that list every pair (neighbourhood.hpp sends others to the
// kernel, move by move).
template <class D, class Visit>
void scan_tour(const D& d, bool symmetric, const ScanContext& c, Visit& visit) {
  switch (c.moves.rearrangement) {
    case Rearrangement::kReverse: return scan_tsp_reverse(d, symmetric, c, visit);
    case Rearrangement::kExchange: return scan_tsp_swap(d, symmetric, c, visit);
    case Rearrangement::kSegment: return scan_tsp_segment(d, symmetric, c, visit);
  }
  unknown_tag("rearrangement", c.moves.rearrangement);
}

}  // namespace kestrum::scan
