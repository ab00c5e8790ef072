// Tour: reversals of the shorter side.
#include "local_search/iterated_local_search/tour.hpp"

#include <algorithm>

namespace kestrum {

Tour::Tour(std::span<const Word> order)
    : n_(static_cast<Word>(order.size())), order_(order.begin(), order.end()), pos_(order.size()) {
  for (Word p = 0; p < n_; ++p) pos_[order_[p]] = p;
}

void Tour::order_from(Word first, std::span<Word> out) const {
  const Word shift = pos_[first];
  std::copy(order_.begin() + shift, order_.end(), out.begin());
  std::copy(order_.begin(), order_.begin() + shift, out.begin() + (n_ - shift));
}

void Tour::two_opt(Word a, Word b, Word c, Word d) {
  // Forwards: a b ... c d becomes a c ... b d. Backwards (b before a, d before c) the
  // forward reading is b a ... d c, and reversing a..d gives b d ... a c.
  if (next(a) == b) {
    reverse_path(b, c);
  } else {
    reverse_path(a, d);
  }
}

void Tour::reverse_path(Word from, Word to) {
  const Word i = pos_[from];
  const Word j = pos_[to];
  const Word inner = (j >= i ? j - i : j + n_ - i) + 1;
  if (2 * static_cast<std::size_t>(inner) <= n_) {
    reverse_run(i, inner);
  } else {
    // The complement: from the position after `to` round to the one before `from`.
    const Word first = j + 1 == n_ ? 0 : j + 1;
    reverse_run(first, n_ - inner);
  }
}

void Tour::reverse_run(Word first, Word len) {
  if (len < 2) return;
  Word i = first;
  Word j = first + len - 1;
  if (j >= n_) j -= n_;
  for (Word k = len / 2; k > 0; --k) {
    const Word ci = order_[i];
    const Word cj = order_[j];
    order_[i] = cj;
    pos_[cj] = i;
    order_[j] = ci;
    pos_[ci] = j;
    i = i + 1 == n_ ? 0 : i + 1;
    j = j == 0 ? n_ - 1 : j - 1;
  }
}

}  // namespace kestrum
