// The row test in lanes: SSE2 (every x86-64 processor) and AVX2 when the processor has it,
// chosen once; a plain loop elsewhere. Every version answers the same index: each lane does
// the plain loop's comparisons and its one addition.
#include "local_search/robust_tabu_search/row_test.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KESTRUM_X86_LANES
#endif

namespace kestrum::robust_tabu {

namespace {

template <bool kMinimize>
bool better(double a, double b) noexcept {
  return kMinimize ? a < b : a > b;
}

template <bool kMinimize>
bool passes(double d, double b, const RowTest& t) noexcept {
  if (!better<kMinimize>(d, t.bar)) return false;
  return (b < t.forced_before && better<kMinimize>(d, t.forced_bar)) ||
         (better<kMinimize>(d, t.allowed_bar) && (b < t.step || better<kMinimize>(t.current + d, t.best)));
}

template <bool kMinimize>
std::size_t first_plain(const double* d, const double* b, std::size_t from, std::size_t count,
                        const RowTest& t) noexcept {
  for (std::size_t k = from; k < count; ++k) {
    if (passes<kMinimize>(d[k], b[k], t)) return k;
  }
  return count;
}

#ifdef KESTRUM_X86_LANES

template <bool kMinimize>
__m128d better_sse2(__m128d a, __m128d b) noexcept {
  return kMinimize ? _mm_cmplt_pd(a, b) : _mm_cmpgt_pd(a, b);
}

template <bool kMinimize>
std::size_t first_sse2(const double* d, const double* b, std::size_t count, const RowTest& t) noexcept {
  const __m128d forced_before = _mm_set1_pd(t.forced_before);
  const __m128d forced_bar = _mm_set1_pd(t.forced_bar);
  const __m128d allowed_bar = _mm_set1_pd(t.allowed_bar);
  const __m128d step = _mm_set1_pd(t.step);
  const __m128d current = _mm_set1_pd(t.current);
  const __m128d best = _mm_set1_pd(t.best);
  const __m128d bar = _mm_set1_pd(t.bar);
  auto lanes = [&](std::size_t k) {
    const __m128d dk = _mm_loadu_pd(d + k);
    const __m128d bk = _mm_loadu_pd(b + k);
    const __m128d forced = _mm_and_pd(_mm_cmplt_pd(bk, forced_before), better_sse2<kMinimize>(dk, forced_bar));
    const __m128d open = _mm_or_pd(_mm_cmplt_pd(bk, step), better_sse2<kMinimize>(_mm_add_pd(current, dk), best));
    return _mm_or_pd(forced, _mm_and_pd(better_sse2<kMinimize>(dk, allowed_bar), open));
  };
  std::size_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const __m128d near = _mm_or_pd(better_sse2<kMinimize>(_mm_loadu_pd(d + k), bar),
                                   better_sse2<kMinimize>(_mm_loadu_pd(d + k + 2), bar));
    if (_mm_movemask_pd(near) == 0) continue;
    if (_mm_movemask_pd(_mm_or_pd(lanes(k), lanes(k + 2))) != 0) break;
  }
  return first_plain<kMinimize>(d, b, k, count, t);
}

struct Bars256 {
  __m256d bar, forced_before, forced_bar, allowed_bar, step, current, best;
};

template <bool kMinimize>
__attribute__((target("avx2"))) __m256d better_avx2(__m256d a, __m256d b) noexcept {
  return _mm256_cmp_pd(a, b, kMinimize ? _CMP_LT_OQ : _CMP_GT_OQ);
}

template <bool kMinimize>
__attribute__((target("avx2"))) __m256d passes_avx2(const double* d, const double* b, const Bars256& t) noexcept {
  const __m256d dk = _mm256_loadu_pd(d);
  const __m256d bk = _mm256_loadu_pd(b);
  const __m256d forced =
      _mm256_and_pd(_mm256_cmp_pd(bk, t.forced_before, _CMP_LT_OQ), better_avx2<kMinimize>(dk, t.forced_bar));
  const __m256d open = _mm256_or_pd(_mm256_cmp_pd(bk, t.step, _CMP_LT_OQ),
                                    better_avx2<kMinimize>(_mm256_add_pd(t.current, dk), t.best));
  return _mm256_or_pd(forced, _mm256_and_pd(better_avx2<kMinimize>(dk, t.allowed_bar), open));
}

template <bool kMinimize>
__attribute__((target("avx2"))) std::size_t first_avx2(const double* d, const double* b, std::size_t count,
                                                        const RowTest& t) noexcept {
  const Bars256 bars{_mm256_set1_pd(t.bar),         _mm256_set1_pd(t.forced_before), _mm256_set1_pd(t.forced_bar),
                     _mm256_set1_pd(t.allowed_bar), _mm256_set1_pd(t.step),          _mm256_set1_pd(t.current),
                     _mm256_set1_pd(t.best)};
  std::size_t k = 0;
  for (; k + 8 <= count; k += 8) {
    const __m256d near = _mm256_or_pd(better_avx2<kMinimize>(_mm256_loadu_pd(d + k), bars.bar),
                                      better_avx2<kMinimize>(_mm256_loadu_pd(d + k + 4), bars.bar));
    if (_mm256_movemask_pd(near) == 0) continue;
    const __m256d both = _mm256_or_pd(passes_avx2<kMinimize>(d + k, b + k, bars),
                                      passes_avx2<kMinimize>(d + k + 4, b + k + 4, bars));
    if (_mm256_movemask_pd(both) != 0) break;
  }
  return first_plain<kMinimize>(d, b, k, count, t);
}

const bool kHasAvx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();

#endif

}  // namespace

template <bool kMinimize>
std::size_t first_candidate(const double* deltas, const double* bans, std::size_t count,
                            const RowTest& test) noexcept {
#ifdef KESTRUM_X86_LANES
  return kHasAvx2 ? first_avx2<kMinimize>(deltas, bans, count, test)
                  : first_sse2<kMinimize>(deltas, bans, count, test);
#else
  return first_plain<kMinimize>(deltas, bans, 0, count, test);
#endif
}

std::vector<Lanes> runnable_lanes() {
#ifdef KESTRUM_X86_LANES
  if (kHasAvx2) return {Lanes::kPlain, Lanes::kSse2, Lanes::kAvx2};
  return {Lanes::kPlain, Lanes::kSse2};
#else
  return {Lanes::kPlain};
#endif
}

template <bool kMinimize>
std::size_t first_candidate_in(Lanes lanes, const double* deltas, const double* bans, std::size_t count,
                               const RowTest& test) noexcept {
  switch (lanes) {
    case Lanes::kPlain: break;
#ifdef KESTRUM_X86_LANES
    case Lanes::kSse2: return first_sse2<kMinimize>(deltas, bans, count, test);
    case Lanes::kAvx2: return kHasAvx2 ? first_avx2<kMinimize>(deltas, bans, count, test) : count;
#else
    case Lanes::kSse2:
    case Lanes::kAvx2: break;
#endif
  }
  return first_plain<kMinimize>(deltas, bans, 0, count, test);
}

template std::size_t first_candidate<true>(const double*, const double*, std::size_t, const RowTest&) noexcept;
template std::size_t first_candidate<false>(const double*, const double*, std::size_t, const RowTest&) noexcept;
template std::size_t first_candidate_in<true>(Lanes, const double*, const double*, std::size_t,
                                              const RowTest&) noexcept;
template std::size_t first_candidate_in<false>(Lanes, const double*, const double*, std::size_t,
                                               const RowTest&) noexcept;

}  // namespace kestrum::robust_tabu
