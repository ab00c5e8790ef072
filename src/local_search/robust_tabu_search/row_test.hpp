// The test a step of the robust tabu search puts to each exchange of a row: can it change the
// choice? Run in vector lanes, so that the rows pass at the speed of reading them.
#pragma once

#include <cstddef>
#include <vector>

namespace kestrum::robust_tabu {

// An exchange of delta d whose ban (the step its ban lasts to, as a double) is b can change
// the choice when d is better than `bar` and
//   b < forced_before and d is better than forced_bar, or
//   d is better than allowed_bar and (b < step or current + d is better than best).
// A NaN bar turns its part off (no comparison with a NaN holds); step = +infinity lets every
// move better than allowed_bar through. "Better" is < when minimising, > otherwise, and a NaN
// delta is better than nothing.
//
// The chooser's `bar` is the weaker of the two bars in use, so it only saves work: a block of
// the row none of whose deltas beats it is passed over without reading its bans.
struct RowTest {
  double bar;
  double forced_before;
  double forced_bar;
  double allowed_bar;
  double step;
  double current;
  double best;
};

// The first k < count whose exchange passes the test, or count.
template <bool kMinimize>
[[nodiscard]] std::size_t first_candidate(const double* deltas, const double* bans, std::size_t count,
                                          const RowTest& test) noexcept;

// The versions of the test: first_candidate runs the widest this processor has; the tests
// hold every version it can run to the plain loop.
enum class Lanes { kPlain, kSse2, kAvx2 };
[[nodiscard]] std::vector<Lanes> runnable_lanes();
template <bool kMinimize>
[[nodiscard]] std::size_t first_candidate_in(Lanes lanes, const double* deltas, const double* bans,
                                             std::size_t count, const RowTest& test) noexcept;

}  // namespace kestrum::robust_tabu
