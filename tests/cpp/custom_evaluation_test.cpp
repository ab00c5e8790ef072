// Tests of custom evaluations: deltas of a caller's function with and without its own delta,
// the private copy, native entry points, and the scans against delta_eval.
#include "problem/custom_evaluation.hpp"

#include <gtest/gtest.h>

#include "fatal_message.hpp"

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "problem/array_problem.hpp"
#include "problem/custom_state.hpp"
#include "problem/evaluation_state.hpp"
#include "support/serialize.hpp"
#include "support/shared.hpp"
#include "problem/evaluation.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"

namespace kestrum {
namespace {

using Solution = std::vector<Word>;

// A position-weighted sum: sum of (k + 1) * s_k * s_k. Integer-valued, so every delta is exact.
double weighted(const Word* s, std::size_t n) {
  double total = 0.0;
  for (std::size_t k = 0; k < n; ++k) total += static_cast<double>(k + 1) * s[k] * s[k];
  return total;
}

// The score function a caller would write, counting its calls; `with_delta` adds a delta that
// recomputes only the touched positions, `with_rows` a row function giving the same deltas.
class Weighted final : public ScoreFunction {
 public:
  explicit Weighted(bool with_delta, bool with_rows = false)
      : with_delta_(with_delta), with_rows_(with_rows) {}
  double evaluate(std::span<const Word> s) const override {
    ++evaluations;
    seen.assign(s.begin(), s.end());
    return weighted(s.data(), s.size());
  }
  bool has_delta() const noexcept override { return with_delta_; }
  double delta(std::span<const Word> s, CustomMove kind, Word i, Word j) const override {
    ++deltas;
    Solution t(s.begin(), s.end());
    if (kind == CustomMove::kSwap) {
      std::swap(t[i], t[j]);
    } else {
      std::reverse(t.begin() + i, t.begin() + j + 1);
    }
    double change = 0.0;
    for (std::size_t k = i; k <= j; ++k) {
      change += static_cast<double>(k + 1) * (double(t[k]) * t[k] - double(s[k]) * s[k]);
    }
    return change;
  }
  bool has_delta_row() const noexcept override { return with_rows_; }
  void delta_row(std::span<const Word> s, CustomMove kind, Word i, Word j_begin, Word j_end,
                 std::span<double> out) const override {
    ++rows;
    EXPECT_EQ(out.size(), j_end - j_begin);
    ScoreFunction::delta_row(s, kind, i, j_begin, j_end, out);
  }

  mutable int evaluations = 0;
  mutable int deltas = 0;
  mutable int rows = 0;
  mutable Solution seen;

 private:
  bool with_delta_;
  bool with_rows_;
};

double native_weighted(const std::uint32_t* s, std::intptr_t n, void* user_data) {
  ++*static_cast<int*>(user_data);
  return weighted(s, static_cast<std::size_t>(n));
}

// Reaches the scans only through its native entry point: the virtual one must not be called.
class NativeOnly final : public ScoreFunction {
 public:
  explicit NativeOnly(int* calls) : calls_(calls) {}
  double evaluate(std::span<const Word>) const override {
    ADD_FAILURE() << "the native entry point should have been called";
    return 0.0;
  }
  bool has_delta() const noexcept override { return false; }
  double delta(std::span<const Word>, CustomMove, Word, Word) const override { return 0.0; }
  NativeEntries native() const noexcept override { return {&native_weighted, calls_, nullptr, nullptr}; }

 private:
  int* calls_;
};

void native_weighted_row(const std::uint32_t* s, std::intptr_t n, int kind, std::intptr_t i,
                         std::intptr_t j_begin, std::intptr_t j_end, double* out, void* user_data) {
  const Weighted& reference = *static_cast<const Weighted*>(user_data);
  const std::span<const Word> solution(s, static_cast<std::size_t>(n));
  for (std::intptr_t j = j_begin; j < j_end; ++j) {
    out[j - j_begin] = reference.delta(solution, static_cast<CustomMove>(kind), static_cast<Word>(i),
                                       static_cast<Word>(j));
  }
}

// A row function reached only through its native entry point.
class NativeRowOnly final : public ScoreFunction {
 public:
  explicit NativeRowOnly(const Weighted* reference) : reference_(reference) {}
  double evaluate(std::span<const Word> s) const override { return weighted(s.data(), s.size()); }
  bool has_delta() const noexcept override { return false; }
  double delta(std::span<const Word>, CustomMove, Word, Word) const override {
    ADD_FAILURE() << "a move should have been scored by the row function";
    return 0.0;
  }
  bool has_delta_row() const noexcept override { return true; }
  void delta_row(std::span<const Word>, CustomMove, Word, Word, Word, std::span<double>) const override {
    ADD_FAILURE() << "the native entry point should have been called";
  }
  NativeEntries native() const noexcept override {
    NativeEntries entries;
    entries.delta_row = &native_weighted_row;
    entries.delta_row_data = const_cast<Weighted*>(reference_);
    return entries;
  }

 private:
  const Weighted* reference_;
};

Swap swap_of_size(Word n) { return Swap{Xoshiro128pp::from_seed(1), n}; }

Solution shuffled(std::size_t n, unsigned seed) {
  Solution s(n);
  std::iota(s.begin(), s.end(), Word{0});
  std::shuffle(s.begin(), s.end(), std::mt19937(seed));
  return s;
}

MoveType sized(MoveType mt, Word n) {
  mt.set_size(n);
  return mt;
}

TEST(CustomEvaluationTest, HandWorkedScoresAndDeltas) {
  auto fn = std::make_shared<Weighted>(false);
  const Evaluation e = Evaluation::custom(4, fn);
  EXPECT_EQ(e.size(), 4u);
  Solution s{3, 1, 0, 2};
  // 1*9 + 2*1 + 3*0 + 4*4 = 27
  EXPECT_EQ(e.eval(s), 27.0);
  // swap(0, 3): 2 1 0 3 -> 4 + 2 + 0 + 36 = 42; reverse(1, 3): 3 2 0 1 -> 9 + 8 + 0 + 4 = 21
  EXPECT_EQ(e.delta_eval({0, 3}, sized(MoveType::swap(1), 4), s), 15.0);
  EXPECT_EQ(e.delta_eval({1, 3}, sized(MoveType::reverse(1), 4), s), -6.0);
  EXPECT_EQ(s, (Solution{3, 1, 0, 2}));
  // The last evaluation saw the moved solution: apply, evaluate, undo.
  EXPECT_EQ(fn->seen, (Solution{3, 2, 0, 1}));
}

TEST(CustomEvaluationTest, MultiNeighborCannotMove) {
  const Evaluation e = Evaluation::custom(3, std::make_shared<Weighted>(true));
  Solution s{0, 1, 2};
  const MoveType multi = MoveType::multi_neighbor({swap_of_size(3)}, std::nullopt);
  EXPECT_EQ(fatal_message_of([&] { return e.delta_eval({0, 1}, multi, s); }),
            "MultiNeighbor doesn't support do_move");
}

TEST(CustomEvaluationTest, MovesOutsideTheSolutionStopBeforeAnyCall) {
  auto fn = std::make_shared<Weighted>(true);
  const Custom c{3, fn};
  Solution s{0, 1, 2};
  EXPECT_EQ(fatal_message_of([&] { return custom_delta(c, Rearrangement::kExchange, s, Move{1, 3}); }),
            "index out of bounds: the len is 3 but the index is 3");
  EXPECT_EQ(fatal_message_of([&] { return custom_delta(c, Rearrangement::kReverse, s, Move{2, 1}); }),
            "reverse needs i <= j, got i = 2 and j = 1");
  EXPECT_EQ(fn->deltas, 0);
}

// Every move of every simple move type, with and without a delta function: the scan, the
// proposal kernel and delta_eval agree with the change of eval, and leave `s` alone.
class CustomScanTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(CustomScanTest, ScansAndKernelsMatchTheChangeOfEval) {
  const Word n = 7;
  for (const auto& [with_delta, with_rows] : {std::pair{false, false}, std::pair{true, false},
                                              std::pair{false, true}, std::pair{true, true}}) {
    auto fn = std::make_shared<Weighted>(with_delta, with_rows);
    const Evaluation e = Evaluation::custom(n, fn);
    for (MoveType mt : {MoveType::swap(1), MoveType::reverse(1), MoveType::tsp(1)}) {
      mt.set_size(n);
      const SimpleMoveType simple = *mt.simple();
      Solution s = shuffled(n, GetParam());
      const Solution before = s;
      std::vector<std::pair<Move, double>> scanned;
      ScanScratch scratch;
      fn->rows = 0;
      for_each_delta(e, simple, s, scratch, [&](Move m, double d) { scanned.emplace_back(m, d); });
      // A row function scores each row of a scan in one call.
      const std::size_t first = geometry(simple).first_position;
      EXPECT_EQ(fn->rows, with_rows ? static_cast<int>(n - 1 - first) : 0);
      const std::vector<Move> all = mt.get_all_mov();
      ASSERT_EQ(scanned.size(), all.size());
      for (std::size_t k = 0; k < all.size(); ++k) {
        const Move m = all[k];
        EXPECT_EQ(scanned[k].first, m);
        Solution after = s;
        mt.do_move(after, m);
        const double expected = e.eval(after) - e.eval(s);
        EXPECT_EQ(scanned[k].second, expected);
        EXPECT_EQ(e.delta_eval(m, mt, s), expected);
        with_delta_kernel(e, simple, s, [&](const auto& kernel) {
          EXPECT_EQ(kernel.delta(s, m), expected);
        });
      }
      EXPECT_EQ(s, before);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, CustomScanTest, ::testing::Range(0u, 6u));

TEST(CustomEvaluationTest, NativeRowsScoreScansAndSingleMoves) {
  const Weighted reference(true);
  const Evaluation e = Evaluation::custom(6, std::make_shared<NativeRowOnly>(&reference));
  const Solution s = shuffled(6, 8);
  for (MoveType mt : {MoveType::swap(1), MoveType::reverse(1)}) {
    mt.set_size(6);
    ScanScratch scratch;
    std::vector<double> scanned;
    Solution scanned_solution = s;
    for_each_delta(e, *mt.simple(), scanned_solution, scratch, [&](Move, double d) { scanned.push_back(d); });
    std::vector<double> expected;
    for (const Move m : mt.get_all_mov()) {
      Solution after = s;
      mt.do_move(after, m);
      expected.push_back(e.eval(after) - e.eval(s));
      Solution t = s;
      EXPECT_EQ(e.delta_eval(m, mt, t), expected.back());  // a row of one move
    }
    EXPECT_EQ(scanned, expected);
  }
}

// Writes one number more than its row holds.
void overrunning_row(const std::uint32_t*, std::intptr_t, int, std::intptr_t, std::intptr_t j_begin,
                     std::intptr_t j_end, double* out, void*) {
  for (std::intptr_t k = 0; k <= j_end - j_begin; ++k) out[k] = 0.0;
}

class OverrunningRow final : public ScoreFunction {
 public:
  double evaluate(std::span<const Word> s) const override { return weighted(s.data(), s.size()); }
  bool has_delta() const noexcept override { return false; }
  double delta(std::span<const Word>, CustomMove, Word, Word) const override { return 0.0; }
  bool has_delta_row() const noexcept override { return true; }
  NativeEntries native() const noexcept override {
    NativeEntries entries;
    entries.delta_row = &overrunning_row;
    return entries;
  }
};

TEST(CustomEvaluationTest, ANativeRowWrittenPastItsEndStopsScansAndSingleMoves) {
  const Evaluation e = Evaluation::custom(5, std::make_shared<OverrunningRow>());
  const std::string expected = "delta_row wrote past the end of its row: out holds j_end - j_begin numbers";
  for (MoveType mt : {MoveType::swap(1), MoveType::reverse(1)}) {
    mt.set_size(5);
    Solution s = shuffled(5, 2);
    ScanScratch scratch;
    int visited = 0;
    EXPECT_EQ(fatal_message_of([&] {
                for_each_delta(e, *mt.simple(), s, scratch, [&](Move, double) { ++visited; });
                return 0;
              }),
              expected);
    EXPECT_EQ(visited, 0);  // nothing of the overrun row was used
    EXPECT_EQ(fatal_message_of([&] { return e.delta_eval(Move{1, 3}, mt, s); }), expected);
    EXPECT_EQ(s, shuffled(5, 2));
  }
}

TEST(CustomEvaluationTest, ScansPastTheSolutionStopBeforeTheFirstMoveOutside) {
  // A move type longer than the solution: rows are not scored whole, the first move reaching
  // past the end stops where delta_eval would, after the moves before it were visited.
  auto fn = std::make_shared<Weighted>(false, true);
  const Custom c{4, fn};
  const Solution s{2, 0, 3, 1};
  ScanScratch scratch;
  std::vector<Move> visited;
  auto visit = [&](Move m, double) { visited.push_back(m); };
  EXPECT_EQ(fatal_message_of([&] { scan_custom(c, {s, geometry(MoveKind::kSwap), 5, scratch}, visit); }),
            "index out of bounds: the len is 4 but the index is 4");
  EXPECT_EQ(visited, (std::vector<Move>{{0, 1}, {0, 2}, {0, 3}}));
  EXPECT_EQ(fn->rows, 3);
}

TEST(CustomEvaluationTest, ScanScoresTheStartOnceAndTriesMovesOnACopy) {
  auto fn = std::make_shared<Weighted>(false);
  const Custom c{5, fn};
  const Solution s = shuffled(5, 3);
  ScanScratch scratch;
  int visits = 0;
  auto visit = [&](Move, double) { ++visits; };
  scan_custom(c, {s, geometry(MoveKind::kSwap), 5, scratch}, visit);
  EXPECT_EQ(visits, 10);
  EXPECT_EQ(fn->evaluations, 1 + 10);
  EXPECT_EQ(scratch.words, s);  // every move undone on the copy
}

// A visitor that stops after its first row: told each row's move count, as the run control is.
struct StopAfterOneRow {
  std::vector<std::size_t> rows;
  int visits = 0;
  void operator()(Move, double) { ++visits; }
  bool stop_scan(std::size_t moves) {
    rows.push_back(moves);
    return rows.size() > 1;
  }
};

TEST(CustomEvaluationTest, ScansAreStoppedBetweenRowsAndCountEachRow) {
  for (const bool with_delta : {false, true}) {
    const Custom c{6, std::make_shared<Weighted>(with_delta)};
    const Solution s = shuffled(6, 5);
    ScanScratch scratch;
    StopAfterOneRow visit;
    scan_custom(c, {s, geometry(MoveKind::kReverse), 6, scratch}, visit);
    EXPECT_EQ(visit.rows, (std::vector<std::size_t>{5, 4}));
    EXPECT_EQ(visit.visits, 5);
  }
}

TEST(CustomEvaluationTest, KernelRescoresTheStartOnlyAfterTheSolutionChanged) {
  auto fn = std::make_shared<Weighted>(false);
  const CustomKernel kernel(Custom{5, fn}, Rearrangement::kReverse);
  Solution s = shuffled(5, 4);
  (void)kernel.delta(s, Move{0, 2});
  (void)kernel.delta(s, Move{1, 4});
  EXPECT_EQ(fn->evaluations, 1 + 2);
  std::swap(s[0], s[4]);  // a move was applied
  const double d = kernel.delta(s, Move{0, 4});
  EXPECT_EQ(fn->evaluations, 2 + 3);
  Solution after = s;
  std::reverse(after.begin(), after.end());
  EXPECT_EQ(d, weighted(after.data(), 5) - weighted(s.data(), 5));
}

TEST(CustomEvaluationTest, NativeEntryPointsAreCalledDirectly) {
  int calls = 0;
  ArrayProblem p(MoveType::swap(2), Evaluation::custom(6, std::make_shared<NativeOnly>(&calls)));
  EXPECT_EQ(p.eval(), weighted(p.solution().data(), 6));
  EXPECT_EQ(calls, 1);
  ScanScratch scratch;
  double best = 0.0;
  for_each_delta(p.evaluation(), swap_of_size(6), p.solution(), scratch,
                 [&](Move, double d) { best = std::min(best, d); });
  EXPECT_EQ(calls, 1 + 1 + 15);
  EXPECT_LT(best, 0.0);  // the identity is not the minimum of this weighting
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// A saved custom evaluation is its tag, size and table index; equal score functions share an
// entry, and without an installed table nothing is written or read.
TEST(CustomStateTest, RoundTripThroughTheTable) {
  auto a = std::make_shared<const Weighted>(true);
  auto b = std::make_shared<const Weighted>(false);
  ScoreFunctionTable saved;
  ByteWriter w;
  {
    const ScoreFunctionScope scope(saved);
    write_evaluation(w, Evaluation::custom(4, a));
    write_evaluation(w, Evaluation::custom(5, b));
    write_evaluation(w, Evaluation::custom(6, a));
  }
  ASSERT_EQ(saved.entries().size(), 2U);
  const std::vector<std::uint8_t> bytes = std::move(w).take();
  EXPECT_EQ(bytes[0], 6);  // Evaluation::Tag::kCustom
  EXPECT_EQ(bytes.size(), 3U * 9U);

  ScoreFunctionTable loaded(saved.entries());
  ByteReader r(bytes);
  const ScoreFunctionScope scope(loaded);
  for (const auto& [size, score] : {std::pair{4U, a.get()}, std::pair{5U, b.get()}, std::pair{6U, a.get()}}) {
    const Evaluation e = read_evaluation(r);
    const auto& c = std::get<Custom>(e.kind());
    EXPECT_EQ(c.size, size);
    EXPECT_EQ(c.score.get(), score);
  }
  r.expect_end();
}

TEST(CustomStateTest, RefusedWithoutATableOrAnEntry) {
  ByteWriter w;
  EXPECT_THROW(write_evaluation(w, Evaluation::custom(3, std::make_shared<const Weighted>(true))), MalformedState);
  t_unwinding_consistent = false;
  ByteWriter forged;
  forged.u8(6);
  forged.u32(3);
  forged.u32(0);
  const std::vector<std::uint8_t> bytes = std::move(forged).take();
  {
    ByteReader r(bytes);
    EXPECT_THROW((void)read_evaluation(r), MalformedState);
    t_unwinding_consistent = false;
  }
  ScoreFunctionTable empty;
  const ScoreFunctionScope scope(empty);
  ByteReader r(bytes);
  try {
    (void)read_evaluation(r);
    FAIL() << "an index past the table was read";
  } catch (const MalformedState& m) {
    EXPECT_EQ(m.reason, "score function 0 of 0 given with the state");
  }
}

}  // namespace
}  // namespace kestrum
