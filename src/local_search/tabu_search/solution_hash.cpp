// Arithmetic modulo 2^61 - 1 and the prefix sums of the tabu search's solution hash.
#include "local_search/tabu_search/solution_hash.hpp"

#include "problem/or_opt.hpp"

namespace kestrum {

namespace {

constexpr std::uint64_t kM = SolutionHash::kModulus;
// Any base in [2, M) works; a fixed one keeps runs reproducible.
constexpr std::uint64_t kBase = 0x0b1f3a5c7d9e2468ULL % kM;

constexpr std::uint64_t reduce(std::uint64_t x) noexcept { return x >= kM ? x - kM : x; }
constexpr std::uint64_t add(std::uint64_t a, std::uint64_t b) noexcept { return reduce(a + b); }
constexpr std::uint64_t sub(std::uint64_t a, std::uint64_t b) noexcept { return reduce(a + kM - b); }
constexpr std::uint64_t mul(std::uint64_t a, std::uint64_t b) noexcept {
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  // 2^61 = 1 (mod M): fold the high bits onto the low ones.
  const std::uint64_t folded = (static_cast<std::uint64_t>(p) & kM) + static_cast<std::uint64_t>(p >> 61);
  return reduce(folded);
}
constexpr std::uint64_t power(std::uint64_t b, std::uint64_t e) noexcept {
  std::uint64_t r = 1;
  for (; e != 0; e >>= 1, b = mul(b, b)) {
    if (e & 1) r = mul(r, b);
  }
  return r;
}
constexpr std::uint64_t kInverseBase = power(kBase, kM - 2);  // Fermat: B^(M-2) = B^-1
static_assert(mul(kBase, kInverseBase) == 1);

// Scrambles a value (SplitMix64 finaliser) into [0, M), so that the hash is not linear in
// the values themselves.
constexpr std::uint64_t scramble(Word v) noexcept {
  std::uint64_t z = v + 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  z ^= z >> 31;
  return reduce(z >> 3);
}

}  // namespace

std::uint64_t SolutionHash::of(std::span<const Word> s) {
  std::uint64_t h = 0;
  std::uint64_t b = 1;
  for (Word v : s) {
    h = add(h, mul(scramble(v), b));
    b = mul(b, kBase);
  }
  return h;
}

void SolutionHash::prepare(std::size_t n) {
  n_ = n;
  pow_.assign(2 * n + 1, 1);
  for (std::size_t k = 1; k < pow_.size(); ++k) pow_[k] = mul(pow_[k - 1], kBase);
  inv_pow_.assign(n + 1, 1);
  for (std::size_t k = 1; k < inv_pow_.size(); ++k) inv_pow_[k] = mul(inv_pow_[k - 1], kInverseBase);
  g_.assign(n, 0);
  prefix_.assign(n + 1, 0);
  inv_prefix_.assign(n + 1, 0);
}

void SolutionHash::load(std::span<const Word> s) {
  for (std::size_t p = 0; p < n_; ++p) {
    const std::uint64_t g = scramble(s[p]);
    g_[p] = g;
    prefix_[p + 1] = add(prefix_[p], mul(g, pow_[p]));
    inv_prefix_[p + 1] = add(inv_prefix_[p], mul(g, inv_pow_[p]));
  }
}

std::uint64_t SolutionHash::after_swap(Word i, Word j) const noexcept {
  return add(hash(), mul(sub(g_[j], g_[i]), sub(pow_[i], pow_[j])));
}

std::uint64_t SolutionHash::after_reverse(Word i, Word j) const noexcept {
  const std::uint64_t old_run = sub(prefix_[j + 1], prefix_[i]);
  const std::uint64_t new_run = mul(pow_[i + j], sub(inv_prefix_[j + 1], inv_prefix_[i]));
  return add(sub(hash(), old_run), new_run);
}

std::uint64_t SolutionHash::after_segment(Move m) const noexcept {
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  const std::uint8_t shape = m.shape;
  const std::size_t l = or_opt::length(shape);
  const bool back = or_opt::back(shape);
  const std::size_t lo = back ? j + 1 - l : i;  // the segment's first position now
  const std::size_t rest_lo = back ? i : i + l;
  const std::size_t rest_hi = back ? j - l : j;
  const std::uint64_t old_run = sub(prefix_[j + 1], prefix_[i]);
  const std::uint64_t rest = sub(prefix_[rest_hi + 1], prefix_[rest_lo]);
  std::uint64_t new_run = mul(rest, back ? pow_[l] : inv_pow_[l]);
  const std::size_t to = back ? i : j + 1 - l;  // where the segment goes
  for (std::size_t k = 0; k < l; ++k) {
    const std::size_t from = or_opt::reversed(shape) ? lo + l - 1 - k : lo + k;
    new_run = add(new_run, mul(g_[from], pow_[to + k]));
  }
  return add(sub(hash(), old_run), new_run);
}

}  // namespace kestrum
