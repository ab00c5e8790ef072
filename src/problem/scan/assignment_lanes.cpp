// The exchange table's O(n^2) loops, compiled for the x86-64 baseline and again for AVX2.
#include "problem/scan/assignment.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

// Wheels are built for the x86-64 baseline; these loops carry most of a step of the robust
// tabu search, so they are also compiled with AVX2 and chosen when the processor has it. Each
// entry gets the same operations in the same order in every version (no contraction into
// fused multiply-adds: -ffp-contract=off), so every version gives the same bits.
// Sanitized builds keep one version: a resolver runs before the sanitizer's runtime is up.
#if defined(__SANITIZE_ADDRESS__)
#define KESTRUM_ONE_VERSION
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRUM_ONE_VERSION
#endif
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KESTRUM_ONE_VERSION)
#define KESTRUM_LANES __attribute__((target_clones("avx2", "default")))
#else
#define KESTRUM_LANES
#endif

namespace kestrum::scan::exchange_table {

namespace {

// The versioned loops have their own names: a function must be versioned from its first
// declaration, and the header's ones are declared plainly.
// Four lanes of doubles as the compiler's vector type: the AVX2 version does each group in one
// register, the baseline one in two. The bounds of the row come from the same pass.
using Lanes4 = double __attribute__((vector_size(32)));

KESTRUM_LANES RowBounds row_symmetric(double* row, double au, double bu, const double* a, const double* b,
                                      std::size_t from, std::size_t m) noexcept {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const Lanes4 au4 = {au, au, au, au};
  const Lanes4 bu4 = {bu, bu, bu, bu};
  Lanes4 lo4 = {kInf, kInf, kInf, kInf};
  Lanes4 hi4 = -lo4;
  std::size_t v = from;
  for (; v + 4 <= m; v += 4) {
    Lanes4 x;
    Lanes4 av;
    Lanes4 bv;
    std::memcpy(&x, row + v, sizeof x);
    std::memcpy(&av, a + v, sizeof av);
    std::memcpy(&bv, b + v, sizeof bv);
    x = x + (av - au4) * (bu4 - bv);
    std::memcpy(row + v, &x, sizeof x);
    lo4 = x < lo4 ? x : lo4;
    hi4 = x > hi4 ? x : hi4;
  }
  RowBounds bounds{kInf, -kInf};
  for (int k = 0; k < 4; ++k) {
    bounds.lo = std::min(bounds.lo, lo4[k]);
    bounds.hi = std::max(bounds.hi, hi4[k]);
  }
  for (; v < m; ++v) {
    row[v] = row[v] + (a[v] - au) * (bu - b[v]);
    bounds.lo = std::min(bounds.lo, row[v]);
    bounds.hi = std::max(bounds.hi, row[v]);
  }
  return bounds;
}

KESTRUM_LANES void row_asymmetric(double* row, const double* a, const double* b, const double* a2, const double* b2,
                                  std::size_t u, std::size_t from, std::size_t m) noexcept {
  const double au = a[u];
  const double bu = b[u];
  const double a2u = a2[u];
  const double b2u = b2[u];
  for (std::size_t v = from; v < m; ++v) {
    row[v] = row[v] + ((a[v] - au) * (bu - b[v]) + (a2[v] - a2u) * (b2u - b2[v]));
  }
}

KESTRUM_LANES void outer_products(double* products, const double* a, const double* b, std::size_t r,
                                  std::size_t s, std::size_t m, ProductColumns out) noexcept {
  for (std::size_t x = 0; x < m; ++x) {
    double* const row = products + x * m;
    std::swap(row[r], row[s]);
    const double ax = a[x];
    if (ax != 0.0) {  // else it adds nothing
      for (std::size_t k = 0; k < m; ++k) row[k] = row[k] + ax * b[k];
    }
    out.at_r[x] = row[r];
    out.at_s[x] = row[s];
    out.diagonal[x] = row[x];
  }
}

}  // namespace

RowBounds add_row_differences(double* row, const double* a, const double* b, std::size_t u,
                              std::size_t m) noexcept {
  return row_symmetric(row, a[u], b[u], a, b, u + 1, m);
}

void add_row_differences(double* row, const double* a, const double* b, const double* a2, const double* b2,
                         std::size_t u, std::size_t m) noexcept {
  row_asymmetric(row, a, b, a2, b2, u, u + 1, m);
}

void move_products(double* products, const double* a, const double* b, std::size_t r, std::size_t s,
                   std::size_t m, ProductColumns out) noexcept {
  outer_products(products, a, b, r, s, m, out);
}

}  // namespace kestrum::scan::exchange_table
