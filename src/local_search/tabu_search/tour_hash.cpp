// The edge-sum hash of closed tours and its O(1) neighbour updates.
#include "local_search/tabu_search/tour_hash.hpp"

#include "problem/or_opt.hpp"

#include <algorithm>
#include <array>

namespace kestrum {

namespace {

// SplitMix64's finaliser over the ordered pair (smaller, larger).
constexpr std::uint64_t edge(Word a, Word b) noexcept {
  const Word lo = std::min(a, b);
  const Word hi = std::max(a, b);
  std::uint64_t z = ((std::uint64_t{lo} << 32) | hi) + 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace

std::uint64_t TourHash::of(std::span<const Word> s) noexcept {
  const std::size_t n = s.size();
  std::uint64_t h = 0;
  for (std::size_t p = 0; p < n; ++p) h += edge(s[p], s[(p + 1) % n]);
  return h;
}

void TourHash::load(std::span<const Word> s) noexcept {
  s_ = s;
  hash_ = of(s);
}

std::uint64_t TourHash::after_reverse(std::size_t i, std::size_t j) const noexcept {
  const std::size_t n = s_.size();
  if (i == 0 && j + 1 == n) return hash_;  // the whole tour walked the other way
  const Word pred = s_[(i + n - 1) % n];
  const Word next = s_[(j + 1) % n];
  return hash_ - edge(pred, s_[i]) - edge(s_[j], next) + edge(pred, s_[j]) + edge(s_[i], next);
}

std::uint64_t TourHash::after_swap(std::size_t i, std::size_t j) const noexcept {
  const std::size_t n = s_.size();
  // The edges starting at these positions are the only ones with an end at i or j.
  const std::array<std::size_t, 4> touched{(i + n - 1) % n, i, j - 1, j};
  std::array<std::size_t, 4> starts{};
  std::size_t count = 0;
  for (const std::size_t p : touched) {
    const auto end = starts.begin() + static_cast<std::ptrdiff_t>(count);
    if (std::find(starts.begin(), end, p) == end) starts[count++] = p;
  }
  auto after = [&](std::size_t p) { return p == i ? s_[j] : (p == j ? s_[i] : s_[p]); };
  std::uint64_t h = hash_;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t p = starts[k];
    const std::size_t q = (p + 1) % n;
    h = h - edge(s_[p], s_[q]) + edge(after(p), after(q));
  }
  return h;
}

std::uint64_t TourHash::after_segment(Move m) const noexcept {
  const std::size_t i = m.i;
  const std::size_t j = m.j;
  const std::uint8_t shape = m.shape;
  const std::size_t n = s_.size();
  const std::size_t l = or_opt::length(shape);
  // Edges by their starting position: where the segment meets the rest of the run, before
  // the move and after it.
  const std::size_t joint_before = or_opt::back(shape) ? j - l : i + l - 1;
  const std::size_t joint_after = or_opt::back(shape) ? i + l - 1 : j - l;
  const std::size_t outer = (i + n - 1) % n;
  auto edges = [&](std::size_t joint, auto value) {
    std::uint64_t h = edge(value(outer), value((outer + 1) % n)) + edge(value(joint), value(joint + 1));
    if (j != outer) h += edge(value(j), value((j + 1) % n));  // unless the run is the whole tour
    return h;
  };
  const std::uint64_t gone = edges(joint_before, [&](std::size_t p) { return s_[p]; });
  const std::uint64_t come = edges(joint_after, [&](std::size_t p) { return or_opt::value_after(s_, m, p); });
  return hash_ - gone + come;
}

}  // namespace kestrum
