// Assignment scans: the exchange formula over contiguous rows, or the exact local change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "problem/evaluation.hpp"
#include "problem/kernels/assignment.hpp"
#include "problem/matrix.hpp"
#include "problem/scan/common.hpp"
#include "problem/scan_scratch.hpp"
#include "support/word.hpp"

namespace kestrum::scan {

// delta(s, i, j) is delta_eval of the move (i, j).
struct QapKernel {
  const Qap* qap;
  Rearrangement kind;
  [[nodiscard]] double delta(std::span<const Word> s, std::size_t i, std::size_t j,
                             std::uint8_t shape = 0) const {
    return kernels::qap_delta(*qap, kind, s, i, j, shape);
  }
};

// Assignment. With symmetric data, exchanges (and reversals of up to three positions) use
// the exchange formula over rows of D and of P, the flow matrix permuted by the solution
// (P[a][k] = F[s_a][s_k]), so the inner loop reads four contiguous rows.
[[nodiscard]] inline double qap_formula_rows(const double* di, const double* dj, const double* pi,
                                             const double* pj, std::size_t i, std::size_t j,
                                             std::size_t m) noexcept {
  double total = 0.0;
  for (std::size_t k = 0; k < i; ++k) total = total + (dj[k] - di[k]) * (pi[k] - pj[k]);
  for (std::size_t k = i + 1; k < j; ++k) total = total + (dj[k] - di[k]) * (pi[k] - pj[k]);
  for (std::size_t k = j + 1; k < m; ++k) total = total + (dj[k] - di[k]) * (pi[k] - pj[k]);
  return total;
}

template <class Visit>
void scan_qap(const Qap& q, Rearrangement kind, std::span<const Word> s, std::size_t first, std::size_t n,
              ScanScratch& scratch, Visit& visit) {
  const Matrix& d = q.distance_matrix;
  const Matrix& f = q.flow_matrix;
  const std::size_t m = d.rows();
  if (n > m || !kernels::qap_verified(q, s)) {
    if (kind == Rearrangement::kSegment) {
      return scan_segments(n, visit, [&](std::size_t i, std::size_t j, std::uint8_t shape) {
        return kernels::qap_segment(q, s, i, j, shape);
      });
    }
    return scan_checked(QapKernel{&q, kind}, s, first, n, visit);
  }
  if (kind == Rearrangement::kSegment) {
    // The exact change over the run, as qap_segment gives it on verified data.
    return scan_segments(n, visit, [&](std::size_t i, std::size_t j, std::uint8_t shape) {
      return kernels::qap_run_exact(d, f, s, i, j,
                                    [&](std::size_t p) { return or_opt::value_after(s, i, j, shape, p); });
    });
  }
  const double* permuted = nullptr;
  if (q.symmetric) {
    scratch.values.resize(m * m);
    for (std::size_t a = 0; a < m; ++a) {
      const double* const row = f.row(s[a]);
      double* const out = scratch.values.data() + a * m;
      for (std::size_t k = 0; k < m; ++k) out[k] = row[s[k]];
    }
    permuted = scratch.values.data();
  }
  for (std::size_t i = first; i + 1 < n; ++i) {
    if (scan_stop(visit, n - 1 - i)) return;
    for (std::size_t j = i + 1; j < n; ++j) {
      const bool exchange = kernels::qap_as_exchange(kind, i, j);
      double delta = 0.0;
      if (!exchange) {
        delta = kernels::qap_reversal_exact(d, f, s, i, j);
      } else if (q.symmetric) {
        delta = qap_formula_rows(d.row(i), d.row(j), permuted + i * m, permuted + j * m, i, j, m);
      } else {
        delta = kernels::qap_exchange_exact(d, f, s, i, j);
      }
      visit(move_at(i, j), delta);
    }
  }
}

}  // namespace kestrum::scan
