// Saved criteria: every kind round-trips with its run state, and nesting depth costs no stack.
#include "termination/termination_state.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kinds.hpp"
#include "state_reading.hpp"

namespace kestrum {
namespace {

using TF = TerminationFunction;
using Bytes = std::vector<std::uint8_t>;

Bytes saved(const TF& t) {
  ByteWriter w;
  check_criterion_depth(write_criterion(w, t));
  return std::move(w).take();
}

TF loaded(const Bytes& bytes) { return read_whole(bytes, read_criterion); }

// A chain: `depth` levels, each a combination around the next, an always_true at the bottom.
TF chain(std::size_t depth) {
  TF t = TF::always_true();
  for (std::size_t k = 1; k < depth; ++k) {
    std::vector<TF> one;
    one.push_back(std::move(t));
    t = k % 2 == 0 ? TF::multi_crit_and(std::move(one)) : TF::multi_crit_or(std::move(one));
  }
  return t;
}

TEST(TerminationState, EveryKindRoundTripsWithItsRunState) {
  TF improving = TF::no_improve(3);
  improving.set_goal(false);
  improving.check_new_variable(2.5);
  improving.check_new_variable(1.0);  // not an improvement when maximising: counted
  TF counted = TF::max_iterations(9);
  counted.iteration_done();
  TF must = TF::must_improve();
  must.check_new_variable(4.0);
  const TF all = TF::multi_crit_or(
      {TF::always_true(), counted, TF::max_sec(7), TF::min_temp(-4), TF::time_limit(0.25),
       TF::multi_crit_and({improving, must, TF::multi_crit_or({})}), TF::multi_crit_and({})});
  const Bytes bytes = saved(all);
  EXPECT_EQ(loaded(bytes), all);
  EXPECT_EQ(saved(loaded(bytes)), bytes);
}

TEST(TerminationState, EveryKindIsSavedUnderItsTag) {
  for (const TF::Tag tag : kinds::kCriterionTags) {
    const TF t = kinds::criterion_of(tag);
    ASSERT_EQ(t.tag(), tag);
    const Bytes bytes = saved(t);
    EXPECT_EQ(bytes.at(0), static_cast<std::uint8_t>(tag));
    EXPECT_EQ(loaded(bytes), t);
    EXPECT_EQ(saved(loaded(bytes)), bytes);
  }
}

TEST(TerminationState, ChildrenAreWrittenInOrderAfterTheirCombination) {
  // or(2 children: and(1 child: always_true), min_temp(5))
  const Bytes bytes = saved(TF::multi_crit_or({TF::multi_crit_and({TF::always_true()}), TF::min_temp(5)}));
  const Bytes expected{5, 2, 0, 0, 0, 0, 0, 0, 0, 4, 1, 0, 0, 0, 0, 0, 0, 0, 0, 3, 5, 0, 0, 0};
  EXPECT_EQ(bytes, expected);
}

TEST(TerminationState, DepthIsCappedOnBothSides) {
  const TF deepest = chain(kMaxCriterionDepth);
  const Bytes bytes = saved(deepest);
  EXPECT_EQ(loaded(bytes), deepest);

  ByteWriter w;
  EXPECT_EQ(write_criterion(w, chain(kMaxCriterionDepth + 1)), kMaxCriterionDepth + 1);
  const Bytes too_deep = std::move(w).take();
  EXPECT_EQ(reason_of(too_deep, read_criterion), "criteria nest deeper than 1000");
  try {
    check_criterion_depth(kMaxCriterionDepth + 1);
    ADD_FAILURE() << "no refusal";
  } catch (const MalformedState& m) {
    EXPECT_EQ(m.reason, "criteria nest deeper than 1000");
  }
}

TEST(TerminationState, ForgedCountsAndTagsAreRefused) {
  EXPECT_EQ(reason_of(Bytes{9}, read_criterion), "criterion tag 9 is unknown");
  // and() of two children whose second, a max_iterations, is cut short.
  EXPECT_EQ(reason_of(Bytes{4, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1}, read_criterion), "the state ends early");
  EXPECT_EQ(reason_of(Bytes{4, 3, 0, 0, 0, 0, 0, 0, 0, 0}, read_criterion), "a length of 3 does not fit in the 1 bytes left");
  EXPECT_EQ(reason_of(Bytes{4, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, read_criterion),
            "a length of 18446744073709551615 does not fit in the 0 bytes left");
}

TEST(TerminationState, TimeLimitKeepsItsSecondsAndStartAndDerivesTheRest) {
  FakeClock clock({12, 345});
  const TF t = TF::time_limit(1.5);
  // tag 8, the seconds (f64), then the start instant (i64 seconds, u32 nanoseconds)
  Bytes expected{8, 0, 0, 0, 0, 0, 0, 0xf8, 0x3f, 12, 0, 0, 0, 0, 0, 0, 0, 0x59, 0x01, 0, 0};
  EXPECT_EQ(saved(t), expected);
  const TF back = loaded(expected);
  EXPECT_EQ(std::get<TF::TimeLimit>(back.kind()).limit_ns, 1'500'000'000u);
  EXPECT_EQ(back, t);

  Bytes negative = expected;
  negative[8] = 0xbf;  // -1.5
  EXPECT_EQ(reason_of(negative, read_criterion), "a time limit is negative or NaN");
  Bytes nan = expected;
  nan[7] = 0xf8;
  nan[8] = 0x7f;  // a quiet NaN
  EXPECT_EQ(reason_of(nan, read_criterion), "a time limit is negative or NaN");
  Bytes late = expected;
  late[17] = 0xff, late[18] = 0xff, late[19] = 0xff, late[20] = 0xff;
  EXPECT_EQ(reason_of(late, read_criterion), "a start instant has nanoseconds above 999999999");
}

// Deep enough that dropping it by recursion would exhaust an 8 MiB stack (a few frames per
// level). Built and handed on by moves only, which cost no recursion either.
TEST(TerminationState, DroppingADeepCriterionNeedsNoDeepStack) {
  TF deep = chain(300000);
  TF moved = std::move(deep);
  SUCCEED();
}

}  // namespace
}  // namespace kestrum
