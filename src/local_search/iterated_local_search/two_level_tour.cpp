// TwoLevelTour: splits, in-segment reversals and reversals of runs of segments.
#include "local_search/iterated_local_search/two_level_tour.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrum {

TwoLevelTour::TwoLevelTour(std::span<const Word> order)
    : n_(static_cast<Word>(order.size())),
      group_(std::max<Word>(8, static_cast<Word>(std::sqrt(static_cast<double>(order.size()))))),
      city_(order.size()),
      scratch_(order.size()) {
  build(order);
}

void TwoLevelTour::build(std::span<const Word> order) {
  const Word count = (n_ + group_ - 1) / group_;
  seg_.clear();
  // Room for the splits until the next rebuild, so that no reference into seg_ moves.
  rebuild_at_ = 4 * count + 2;
  seg_.reserve(rebuild_at_ + 4);
  for (Word s = 0; s < count; ++s) {
    const Word lo = s * group_;
    const Word hi = std::min(n_, lo + group_) - 1;
    seg_.push_back({order[lo], order[hi], (s + 1) % count, (s + count - 1) % count, false});
    for (Word p = lo; p <= hi; ++p) {
      city_[order[p]] = {order[p + 1 == n_ ? 0 : p + 1], order[p == 0 ? n_ - 1 : p - 1], s,
                         static_cast<std::int64_t>(p - lo)};
    }
  }
}

void TwoLevelTour::order_from(Word first, std::span<Word> out) const {
  Word c = first;
  for (Word k = 0; k < n_; ++k, c = next(c)) out[k] = c;
}

void TwoLevelTour::two_opt(Word a, Word b, Word c, Word d) {
  if (seg_.size() >= rebuild_at_) {
    order_from(0, scratch_);
    build(scratch_);
  }
  // As Tour::two_opt: a b ... c d becomes a c ... b d.
  if (next(a) == b) {
    reverse_path(b, c);
  } else {
    reverse_path(a, d);
  }
}

void TwoLevelTour::reverse_path(Word a, Word b) {
  if (a == b) return;
  const Word sa = city_[a].seg;
  if (sa == city_[b].seg) {
    const bool inside = seg_[sa].rev ? city_[a].seq >= city_[b].seq : city_[a].seq <= city_[b].seq;
    if (inside) {
      reverse_inside(a, b);
    } else if (next(b) != a) {
      // The path leaves the segment and comes back: its complement lies inside it.
      reverse_inside(next(b), prev(a));
    }
    return;
  }
  split_before(a);
  keep_first_ = a;
  split_after(b);
  keep_first_ = kNoCity;
  const Word s1 = city_[a].seg, s2 = city_[b].seg;
  // Which is shorter in segments, the run s1..s2 or the rest? Walk forwards from s1 and
  // backwards from s1's predecessor at the same pace: the first to meet s2 decides, in
  // time proportional to the shorter.
  const Word before = seg_[s1].prev;
  if (before == s2) return;  // the path is the whole tour
  for (Word f = s1, r = before;; f = seg_[f].next, r = seg_[r].prev) {
    if (f == s2) {
      reverse_segments(s1, s2);
      return;
    }
    if (r == s2) {
      reverse_segments(seg_[s2].next, before);
      return;
    }
  }
}

void TwoLevelTour::reverse_inside(Word a, Word b) {
  if (a == b) return;
  Segment& s = seg_[city_[a].seg];
  const Word u = s.rev ? b : a;  // the run in segment order: u .. v
  const Word v = s.rev ? a : b;
  const Word outer_u = city_[u].prv, outer_v = city_[v].nxt;
  Word& to_u = link_to(outer_u, u);
  Word& to_v = link_to(outer_v, v);
  const std::int64_t mirror = city_[u].seq + city_[v].seq;
  for (Word c = u;;) {
    City& x = city_[c];
    const Word following = x.nxt;
    std::swap(x.nxt, x.prv);
    x.seq = mirror - x.seq;
    if (c == v) break;
    c = following;
  }
  city_[v].prv = outer_u;
  city_[u].nxt = outer_v;
  to_u = v;
  to_v = u;
  if (s.first == u) s.first = v;
  if (s.last == v) s.last = u;
}

void TwoLevelTour::split_after(Word c) {
  if (forward_last(city_[c].seg) != c) split_before(next(c));
}

void TwoLevelTour::split_before(Word c) {
  const Word s = city_[c].seg;
  if (forward_first(s) == c) return;
  const Segment& seg = seg_[s];
  // In segment order the segment is first .. last; c cuts it into two runs, and the shorter
  // one moves out.
  const std::int64_t lo = city_[seg.first].seq, hi = city_[seg.last].seq, at = city_[c].seq;
  if (!seg.rev) {
    // Forwards: [first .. before c] then [c .. last].
    if (at - lo <= hi - at) {
      move_run(s, seg.first, city_[c].prv, true);
    } else {
      move_run(s, c, seg.last, false);
    }
  } else {
    // Forwards: [last .. after c] then [c .. first] (segment order reversed).
    if (hi - at <= at - lo) {
      move_run(s, city_[c].nxt, seg.last, true);
    } else {
      move_run(s, seg.first, c, false);
    }
  }
}

void TwoLevelTour::move_run(Word s, Word from, Word to, bool left) {
  const Word into = left ? seg_[s].prev : seg_[s].next;
  const std::int64_t length = city_[to].seq - city_[from].seq + 1;
  const Segment& target = seg_[into];
  const std::int64_t room = 2 * static_cast<std::int64_t>(group_) -
                            (city_[target.last].seq - city_[target.first].seq + 1);
  bool fits = into != s && length <= room;
  if (fits && keep_first_ != kNoCity) {
    // The path's first city must stay first of its segment: it may not move with the run,
    // and nothing may be put in front of it.
    const City& kept = city_[keep_first_];
    const bool moves = kept.seg == s && kept.seq >= city_[from].seq && kept.seq <= city_[to].seq;
    fits = !moves && (left || kept.seg != into);
  }
  if (fits) {
    absorb(s, from, to, left, into);
  } else {
    carve(s, from, to, left);
  }
}

void TwoLevelTour::absorb(Word s, Word from, Word to, bool left, Word into) {
  Segment& src = seg_[s];
  Segment& dst = seg_[into];
  const std::int64_t lo = city_[dst.first].seq, hi = city_[dst.last].seq;
  const std::int64_t length = city_[to].seq - city_[from].seq + 1;
  // The run's forward ends, and what is left of s (read before any link is turned round).
  const Word run_first = src.rev ? to : from, run_last = src.rev ? from : to;
  if (src.first == from) {
    src.first = city_[to].nxt;
  } else {
    src.last = city_[from].prv;
  }
  // Numbered on from dst's forward end (left) or back from its forward start, in dst's own
  // direction; the links turn round when the two segments run opposite ways.
  const bool turn = src.rev != dst.rev;
  std::int64_t i = 0;
  for (Word c = from;; ++i) {
    City& x = city_[c];
    const Word following = x.nxt;
    const std::int64_t f = src.rev ? length - 1 - i : i;  // forward position in the run
    if (left) {
      x.seq = dst.rev ? lo - (f + 1) : hi + (f + 1);
    } else {
      x.seq = dst.rev ? hi + (length - f) : lo - (length - f);
    }
    x.seg = into;
    if (turn) std::swap(x.nxt, x.prv);
    if (c == to) break;
    c = following;
  }
  if (left) {
    (dst.rev ? dst.first : dst.last) = run_last;
  } else {
    (dst.rev ? dst.last : dst.first) = run_first;
  }
}

void TwoLevelTour::carve(Word s, Word from, Word to, bool left) {
  const Word id = static_cast<Word>(seg_.size());
  seg_.push_back({from, to, 0, 0, seg_[s].rev});
  Segment& old = seg_[s];
  Segment& carved = seg_[id];
  if (old.first == from) {
    old.first = city_[to].nxt;
  } else {
    old.last = city_[from].prv;
  }
  for (Word c = from;; c = city_[c].nxt) {
    city_[c].seg = id;
    if (c == to) break;
  }
  if (left) {
    carved.prev = old.prev;
    carved.next = s;
    seg_[old.prev].next = id;
    old.prev = id;
  } else {
    carved.next = old.next;
    carved.prev = s;
    seg_[old.next].prev = id;
    old.next = id;
  }
}

void TwoLevelTour::reverse_segments(Word s1, Word s2) {
  const Word before = seg_[s1].prev, after = seg_[s2].next;
  const Word a = forward_first(s1), b = forward_last(s2);
  const Word xa = forward_last(before), yb = forward_first(after);
  Word& from_x = link_to(xa, a);
  Word& from_y = link_to(yb, b);
  Word& from_a = link_to(a, xa);
  Word& from_b = link_to(b, yb);
  from_x = b;
  from_y = a;
  from_a = yb;
  from_b = xa;
  for (Word s = s1;;) {
    Segment& seg = seg_[s];
    const Word following = seg.next;
    std::swap(seg.next, seg.prev);
    seg.rev = !seg.rev;
    if (s == s2) break;
    s = following;
  }
  seg_[before].next = s2;
  seg_[s2].prev = before;
  seg_[s1].next = after;
  seg_[after].prev = s1;
}

}  // namespace kestrum
