// TwoLevelTour: a tour as a cycle of segments, each a doubly linked run of cities with a
// reversal bit, so that a 2-opt step costs O(sqrt n) instead of O(n).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "support/word.hpp"

namespace kestrum {

// Cities are linked to their two tour neighbours; each belongs to a segment and carries a
// sequence number that orders it within the segment. A segment's own direction runs from
// `first` (lowest number) to `last`; its reversal bit says whether the tour's forward
// direction goes the other way. `nxt` and `prv` of a city follow its segment's own
// direction, and at a segment's ends they point into the neighbouring segments.
//
// Reversing a path: inside one segment, the run is relinked and renumbered (at most a
// segment's length of work). Otherwise the segments holding its ends are split there, so the
// path is a run of whole segments, and the run (or its complement, whichever holds fewer
// segments) is reversed by flipping bits and relinking the segment cycle. A split moves the
// shorter part of the segment to the end of the neighbouring segment on its side, so the
// number of segments stays as it was; only when that neighbour would grow past twice the
// target length, or the move would undo the other end's split, does the part become a segment
// of its own. Once there are four times as many segments as at the start, everything is
// rebuilt from the current order (a walk over every city, which is rare: rebuilding after a
// fixed number of changes would cost more than the changes themselves on a large tour).
//
// Same interface and same cycles as Tour (the direction of reading may differ).
class TwoLevelTour {
 public:
  explicit TwoLevelTour(std::span<const Word> order);

  [[nodiscard]] Word size() const noexcept { return n_; }
  [[nodiscard]] Word next(Word c) const noexcept { return seg_[city_[c].seg].rev ? city_[c].prv : city_[c].nxt; }
  [[nodiscard]] Word prev(Word c) const noexcept { return seg_[city_[c].seg].rev ? city_[c].nxt : city_[c].prv; }
  void order_from(Word first, std::span<Word> out) const;
  void two_opt(Word a, Word b, Word c, Word d);

 private:
  struct City {
    Word nxt, prv;  // neighbours along the segment's own direction
    Word seg;
    std::int64_t seq;
  };
  struct Segment {
    Word first, last;  // lowest and highest sequence number
    Word next, prev;   // neighbouring segments in the tour's forward direction
    bool rev;
  };

  void build(std::span<const Word> order);
  [[nodiscard]] Word forward_first(Word s) const { return seg_[s].rev ? seg_[s].last : seg_[s].first; }
  [[nodiscard]] Word forward_last(Word s) const { return seg_[s].rev ? seg_[s].first : seg_[s].last; }
  // The neighbour field of city x that points at y.
  [[nodiscard]] Word& link_to(Word x, Word y) { return city_[x].nxt == y ? city_[x].nxt : city_[x].prv; }
  // The forward path a..b, in forward order.
  void reverse_path(Word a, Word b);
  void reverse_inside(Word a, Word b);
  // Makes c the first city (forward) of its segment, or with `after` set the last.
  void split_before(Word c);
  void split_after(Word c);
  // Moves the run of cities from..to (segment order), s's forward-first part when `left`,
  // else its forward-last part, out of segment s: into the neighbouring segment on that
  // side when it can take it (absorb), else into a new segment placed there (carve).
  void move_run(Word s, Word from, Word to, bool left);
  void absorb(Word s, Word from, Word to, bool left, Word into);
  void carve(Word s, Word from, Word to, bool left);
  // Reverses the forward run of whole segments s1..s2.
  void reverse_segments(Word s1, Word s2);

  Word n_;
  Word group_;  // target segment length
  std::vector<City> city_;
  std::vector<Segment> seg_;
  std::vector<Word> scratch_;  // the order, for a rebuild
  Word rebuild_at_ = 0;        // segment count that triggers a rebuild
  // While a path's second end is split: its first city, which must stay first of its segment.
  Word keep_first_ = kNoCity;
  static constexpr Word kNoCity = ~Word{0};
};

}  // namespace kestrum
