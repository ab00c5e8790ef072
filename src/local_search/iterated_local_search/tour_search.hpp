// TourSearch: 2-opt and Or-opt over neighbour lists with don't-look bits, and the double bridge.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "local_search/iterated_local_search/neighbour_lists.hpp"
#include "local_search/iterated_local_search/tour.hpp"
#include "support/rng.hpp"
#include "support/word.hpp"

namespace kestrum {

// The longest segment a double bridge moves. Both segments are drawn from 1..50 and sit
// side by side, so a kick changes three edges within about a hundred consecutive cities:
// close enough for the repair to stay local (a few dozen moves), far enough that the
// descent does not simply take the kick back.
inline constexpr Word kMaxBridgeSegment = 50;

// The local search of a symmetric tour. First improvement: a city's moves are tried in
// neighbour-list order and the first that shortens the tour by more than `eps` is applied.
// A city whose moves all fail leaves the queue (its don't-look bit is set); the end cities
// of every applied move re-enter it. So a pass over a tour costs O(n k), and a pass after a
// kick touches only the cities near the kick.
//
// Moves, for an active city a and one of its tour neighbours b:
// - 2-opt: remove {a, b} and {c, e}, add {a, c} and {b, e}, c among a's nearest; e is the
//   tour neighbour of c that keeps one cycle.
// - Or-opt: a segment of 1 to 3 cities ending at a is cut out, its two outer neighbours
//   joined, and the segment inserted between two adjacent cities c and x, as it was or
//   reversed (whichever the new edges {c, end}, {x, other end} give), c among the nearest
//   of one of its ends; or, seen from the other side, a segment with an end among a's
//   nearest is put between a and one of its tour neighbours.
// Both stop scanning a list as soon as the new edge alone is no shorter than what removing
// the old ones saves (the lists are ordered by distance).
//
// Every change is a sequence of 2-opt steps, and while journaling is on each is recorded, so
// undo() takes an iteration back by the inverse steps in reverse order, in time proportional
// to what the iteration changed, whatever the tour representation (TourT: Tour or
// TwoLevelTour, with next, prev, two_opt, size and order_from).
template <class Dist, class TourT = Tour>
class TourSearch {
 public:
  TourSearch(const Dist& dist, const NeighbourLists& lists, TourT& tour, double eps)
      : dist_(dist),
        lists_(lists),
        tour_(tour),
        eps_(eps),
        queue_(tour.size()),
        queued_(tour.size(), 0) {
    journal_.reserve(64);
    length_ = 0.0;
    Word c = 0;
    for (Word k = 0; k < tour.size(); ++k, c = tour.next(c)) length_ += dist_(c, tour.next(c));
  }

  void start_journal() noexcept { journaling_ = true; journal_.clear(); }
  void stop_journal() noexcept { journaling_ = false; journal_.clear(); }
  // Keeps the recorded changes and goes on recording.
  void commit() noexcept { journal_.clear(); }
  // Takes back every change since the last start or commit; the length is the caller's.
  void undo() {
    for (auto it = journal_.rbegin(); it != journal_.rend(); ++it) {
      // two_opt(a, b, c, d) left a c ... b d: the same step on {a, c} and {b, d} undoes it.
      tour_.two_opt((*it)[0], (*it)[2], (*it)[1], (*it)[3]);
    }
    journal_.clear();
  }

  [[nodiscard]] double length() const noexcept { return length_; }
  void set_length(double length) noexcept { length_ = length; }

  void activate(Word c) {
    if (queued_[c]) return;
    queued_[c] = 1;
    std::size_t tail = head_ + count_;
    if (tail >= queue_.size()) tail -= queue_.size();
    queue_[tail] = c;
    ++count_;
  }
  void activate_all() {
    Word c = 0;
    for (Word k = 0; k < tour_.size(); ++k, c = tour_.next(c)) activate(c);
  }
  void clear_queue() {
    while (count_ > 0) queued_[pop()] = 0;
  }

  // Improves until no city is active. `stop()` is asked every 256 cities; when it says so
  // the descent ends early, leaving a valid tour and its length. A length that is not finite
  // (an infinite or NaN distance in the tour) ends it too: gains measured against it mean
  // nothing, and moving an infinite edge around would never end.
  template <class Stop>
  void descend(const Stop& stop) {
    std::uint32_t until_check = 256;
    while (count_ > 0 && std::isfinite(length_)) {
      if (--until_check == 0) {
        until_check = 256;
        if (stop()) return;
      }
      const Word a = pop();
      queued_[a] = 0;
      if (improve_two_opt(a) || improve_or_opt(a) || improve_or_opt_beside(a)) activate(a);
    }
  }

  // Swaps two adjacent runs of cities: A B C D becomes A C B D, with B and C of 1 to
  // kMaxBridgeSegment cities (at most a third of the tour each) after a random city. The
  // six cities at the three changed edges become active.
  void double_bridge(Xoshiro128pp& rng) {
    const Word n = tour_.size();
    const Word longest = std::min(kMaxBridgeSegment, n / 3);
    const Word l1 = rng.range(1, longest + 1);
    const Word l2 = rng.range(1, longest + 1);
    const Word a2 = rng.range(0, n);
    const Word b1 = tour_.next(a2);
    Word b2 = b1;
    for (Word k = 1; k < l1; ++k) b2 = tour_.next(b2);
    const Word c1 = tour_.next(b2);
    Word c2 = c1;
    for (Word k = 1; k < l2; ++k) c2 = tour_.next(c2);
    const Word d1 = tour_.next(c2);
    length_ += dist_(a2, c1) + dist_(c2, b1) + dist_(b2, d1) - dist_(a2, b1) - dist_(b2, c1) -
               dist_(c2, d1);
    // B moved, as it was, between c2 and d1.
    move_segment(b1, b2, a2, c1, c2, b1, d1);
    for (const Word c : {a2, b1, b2, c1, c2, d1}) activate(c);
  }

 private:
  void two_opt(Word a, Word b, Word c, Word d) {
    tour_.two_opt(a, b, c, d);
    if (journaling_) journal_.push_back({a, b, c, d});
  }

  Word pop() {
    const Word c = queue_[head_];
    head_ = head_ + 1 == queue_.size() ? 0 : head_ + 1;
    --count_;
    return c;
  }

  bool improve_two_opt(Word a) {
    const std::span<const Word> near = lists_.of(a);
    const std::span<const double> near_dist = lists_.dist_of(a);
    for (const bool forwards : {true, false}) {
      const Word b = forwards ? tour_.next(a) : tour_.prev(a);
      const double removed = dist_(a, b);
      for (std::size_t r = 0; r < near.size(); ++r) {
        const double g1 = removed - near_dist[r];
        if (g1 <= eps_) break;
        const Word c = near[r];
        // Read in the direction from a to b: a b ... c e becomes a c ... b e, so e
        // follows c in that direction.
        const Word e = forwards ? tour_.next(c) : tour_.prev(c);
        if (c == b || e == a) continue;
        const double gain = g1 + dist_(c, e) - dist_(b, e);
        if (gain > eps_) {
          // Removes {a, b} and {c, e}; adds {a, c} and {b, e}.
          two_opt(a, b, c, e);
          length_ -= gain;
          for (const Word t : {a, b, c, e}) activate(t);
          return true;
        }
      }
    }
    return false;
  }

  bool improve_or_opt(Word a) {
    for (const bool forwards : {true, false}) {
      auto step = [&](Word c, bool fw) { return fw ? tour_.next(c) : tour_.prev(c); };
      const Word p = step(a, !forwards);
      Word seg[3] = {a, a, a};
      Word s2 = a;
      for (Word len = 1; len <= 3; ++len) {
        if (len > 1) s2 = seg[len - 1] = step(s2, forwards);
        const Word nx = step(s2, forwards);
        if (nx == p) break;
        const double saved = dist_(p, a) + dist_(s2, nx) - dist_(p, nx);
        if (saved <= eps_) continue;
        auto in_segment = [&](Word c) { return c == seg[0] || c == seg[1] || c == seg[2]; };
        for (int end = 0; end < (len == 1 ? 1 : 2); ++end) {
          const Word e = end == 0 ? a : s2;
          const Word f = end == 0 ? s2 : a;
          const std::span<const Word> near = lists_.of(e);
          const std::span<const double> near_dist = lists_.dist_of(e);
          for (std::size_t r = 0; r < near.size(); ++r) {
            const double g1 = saved - near_dist[r];
            if (g1 <= eps_) break;
            const Word c = near[r];
            if (in_segment(c)) continue;
            for (const Word x : {tour_.next(c), tour_.prev(c)}) {
              if (in_segment(x)) continue;
              const double gain = g1 + dist_(c, x) - dist_(x, f);
              if (gain > eps_) {
                move_segment(a, s2, p, nx, c, e, x);
                length_ -= gain;
                for (const Word t : {p, nx, a, s2, c, x}) activate(t);
                return true;
              }
            }
          }
        }
      }
    }
    return false;
  }

  // Or-opt seen from where the run goes: c is the city it is put beside, x c's tour
  // neighbour on that side, and the run's end e among c's nearest, the run going from e
  // either way. An improving Or-opt move either saves more by taking its run out than one
  // of its two new edges at the run costs (found from the run's ends, above), or its removed
  // edge {c, x} is longer than both (found here), so with both scans a complete list misses
  // no improving move.
  bool improve_or_opt_beside(Word c) {
    const std::span<const Word> near = lists_.of(c);
    const std::span<const double> near_dist = lists_.dist_of(c);
    for (const bool forwards : {true, false}) {
      const Word x = forwards ? tour_.next(c) : tour_.prev(c);
      const double removed = dist_(c, x);
      for (std::size_t r = 0; r < near.size(); ++r) {
        const double g1 = removed - near_dist[r];
        if (g1 <= eps_) break;
        const Word e = near[r];
        if (e == x) continue;
        for (const bool away : {true, false}) {
          auto step = [&](Word v) { return away ? tour_.next(v) : tour_.prev(v); };
          const Word p = away ? tour_.prev(e) : tour_.next(e);
          Word f = e;
          for (Word len = 1; len <= 3; ++len) {
            if (len > 1) f = step(f);
            if (f == c || f == x) break;  // the run may hold neither
            const Word nx = step(f);
            if (nx == p) break;
            const double gain = g1 + dist_(p, e) + dist_(f, nx) - dist_(p, nx) - dist_(x, f);
            if (gain > eps_) {
              move_segment(e, f, p, nx, c, e, x);
              length_ -= gain;
              for (const Word t : {p, nx, e, f, c, x}) activate(t);
              return true;
            }
          }
        }
      }
    }
    return false;
  }

  // Moves the segment s1..s2 (p beside s1, nx beside s2, both outside) between the
  // adjacent cities c and x, joining c to the segment's end `ce` and x to the other end,
  // as two or three 2-opt steps.
  void move_segment(Word s1, Word s2, Word p, Word nx, Word c, Word ce, Word x) {
    // Orient the insertion edge like p -> s1: then the first two steps leave
    // p nx ... cc s2 .. s1 dd, the segment reversed relative to that direction.
    const bool p_before = tour_.next(p) == s1;
    const bool c_first = p_before ? tour_.next(c) == x : tour_.prev(c) == x;
    const Word cc = c_first ? c : x;
    const Word dd = c_first ? x : c;
    const Word cc_joins = cc == c ? ce : (ce == s1 ? s2 : s1);
    if (cc == nx) {
      two_opt(p, s1, cc, dd);
    } else if (dd == p) {
      two_opt(cc, p, s2, nx);
    } else {
      two_opt(p, s1, cc, dd);
      two_opt(p, cc, nx, s2);
    }
    if (cc_joins == s1 && s1 != s2) two_opt(cc, s2, s1, dd);
  }

  const Dist& dist_;
  const NeighbourLists& lists_;
  TourT& tour_;
  double eps_;
  double length_ = 0.0;
  std::vector<Word> queue_;
  std::vector<std::uint8_t> queued_;
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  std::vector<std::array<Word, 4>> journal_;
  bool journaling_ = false;
};

}  // namespace kestrum
