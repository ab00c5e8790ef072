// Fuzz target: move deltas. For every evaluation kind over random data (square or ragged,
// mirrored or not, tame or full of NaN and infinities), a random permutation and every move
// kind, checks that
//  - delta_eval leaves the solution as it found it,
//  - with finite small data, every delta is the change of eval when the move is applied,
//  - for_each_delta visits the moves of get_all_mov in order with bit-identical deltas, and
//    stops where delta_eval first stops, with the same message (NaNs of either sign agree),
//  - with_delta_kernel scores every move bit-identically to delta_eval.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.hpp"
#include "kinds.hpp"
#include "problem/evaluation.hpp"
#include "problem/matrix.hpp"
#include "problem/move.hpp"
#include "problem/neighbourhood.hpp"
#include "support/fatal.hpp"

namespace {

using kestrum::Evaluation;
using kestrum::FatalStop;
using kestrum::Move;
using kestrum::MoveType;
using kestrum::SimpleMoveType;
using kestrum::Word;
using kestrum::fuzz::check;
using kestrum::fuzz::same_bits;
using Rows = std::vector<std::vector<double>>;

constexpr std::size_t kMaxSize = 12;

// Values come mostly as quarters of small integers, so every sum in a score is exact; a few
// bytes select the values no score survives intact.
struct Values {
  FuzzedDataProvider& in;
  bool tame = true;

  double next() {
    const auto b = in.ConsumeIntegral<std::uint8_t>();
    if (b < 240) return (static_cast<int>(b) - 40) / 4.0;
    tame = false;
    static constexpr double kWild[] = {
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
        std::numeric_limits<double>::denorm_min(), -0.0, 1e300, -1e300, 0.1, 1e-300,
        3.0e15, 9007199254740993.0, 0.5, 2.5};
    return kWild[b - 240];
  }
};

Rows decode_rows(FuzzedDataProvider& in, Values& values, std::size_t n, bool ragged, bool mirrored) {
  Rows rows(n);
  for (std::size_t r = 0; r < n; ++r) {
    const std::size_t len = ragged ? in.ConsumeIntegralInRange<std::size_t>(0, n + 1) : n;
    rows[r].resize(len);
    for (double& v : rows[r]) v = values.next();
  }
  if (mirrored) {
    for (std::size_t a = 0; a < n; ++a) {
      for (std::size_t b = a + 1; b < n && b < rows[a].size(); ++b) {
        if (a < rows[b].size()) rows[b][a] = rows[a][b];
      }
    }
  }
  return rows;
}

// One of every evaluation kind, picked from the kind list, over decoded data.
std::optional<Evaluation> decode_evaluation(FuzzedDataProvider& in, Values& values) {
  const Evaluation::Tag tag = in.PickValueInArray(kestrum::kinds::kEvaluationTags);
  const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, kMaxSize);
  const bool ragged = in.ConsumeIntegralInRange(0, 3) == 0;
  const bool mirrored = in.ConsumeBool();
  auto decode_weights = [&] {
    std::vector<double> weights(n);
    for (double& w : weights) w = values.next();
    return weights;
  };
  switch (tag) {
    case Evaluation::Tag::kEmptyBins:
    case Evaluation::Tag::kEmptySpace:
    case Evaluation::Tag::kEmptySpaceExp: {
      std::vector<double> weights = decode_weights();
      const double max_fill = values.next();
      if (tag == Evaluation::Tag::kEmptyBins) return Evaluation::empty_bins(std::move(weights), max_fill);
      if (tag == Evaluation::Tag::kEmptySpace) return Evaluation::empty_space(std::move(weights), max_fill);
      return Evaluation::empty_space_exp(std::move(weights), max_fill);
    }
    case Evaluation::Tag::kBinPacking: {
      // First fit takes only finite weights within a finite positive capacity: the values are
      // folded into that range, and what is still refused is refused at construction.
      double capacity = std::fabs(values.next());
      if (!std::isfinite(capacity) || capacity == 0.0) capacity = 1.0;
      std::vector<double> weights(n);
      for (double& w : weights) {
        const double v = std::fabs(values.next());
        w = std::isfinite(v) ? std::fmod(v, capacity) : capacity;
      }
      kestrum::Result<Evaluation> packing = Evaluation::bin_packing(std::move(weights), capacity);
      if (!packing.ok()) return std::nullopt;
      return std::move(packing).value();
    }
    case Evaluation::Tag::kTsp: {
      const Rows d = decode_rows(in, values, n, ragged, mirrored);
      try {
        return Evaluation::tsp(kestrum::Matrix(d));
      } catch (const FatalStop&) {
        return std::nullopt;  // a row too short for the symmetry walk: refused at construction
      }
    }
    case Evaluation::Tag::kQap: {
      const Rows d = decode_rows(in, values, n, ragged, mirrored);
      const std::size_t m = in.ConsumeBool() ? n : in.ConsumeIntegralInRange<std::size_t>(0, kMaxSize);
      const Rows f = decode_rows(in, values, m, in.ConsumeIntegralInRange(0, 3) == 0, in.ConsumeBool());
      return Evaluation::qap(kestrum::Matrix(d), kestrum::Matrix(f));
    }
    case Evaluation::Tag::kTspPoints: {
      // Coordinates the metric refuses (not finite, out of its range) are refused when built.
      static constexpr kestrum::PointMetric kMetrics[] = {kestrum::PointMetric::kEuclidean, kestrum::PointMetric::kEuc2d,
                                                          kestrum::PointMetric::kCeil2d, kestrum::PointMetric::kAtt,
                                                          kestrum::PointMetric::kGeo};
      const kestrum::PointMetric metric = in.PickValueInArray(kMetrics);
      std::vector<double> xy(2 * n);
      for (double& v : xy) v = values.next();
      kestrum::Result<kestrum::Points> points = kestrum::Points::make(std::move(xy), metric);
      if (!points.ok()) return std::nullopt;
      return Evaluation::tsp_points(std::move(points).value());
    }
    case Evaluation::Tag::kCustom:
      return Evaluation::custom(static_cast<Word>(n), std::make_shared<kestrum::kinds::WeightedPositions>());
  }
  kestrum::unknown_tag("evaluation", tag);
}

struct Outcome {
  double delta = 0.0;
  std::optional<std::string> stop;  // the fatal stop's message, if it stopped
};

// Bit for bit, except that any two NaNs agree: the sign and payload a NaN ends up with depend
// on the order of the operations that produced it (on x86 the first NaN operand wins), and no
// comparison a search makes can tell them apart.
bool same_delta(double a, double b) { return same_bits(a, b) || (std::isnan(a) && std::isnan(b)); }

bool same_outcome(const Outcome& a, const Outcome& b) {
  if (a.stop || b.stop) return a.stop == b.stop;
  return same_delta(a.delta, b.delta);
}

std::string describe(Move m) {
  return "(" + std::to_string(m.i) + ", " + std::to_string(m.j) + ", shape " + std::to_string(m.shape) + ")";
}

std::string describe(Move m, double got, double want) {
  char text[96];
  std::snprintf(text, sizeof text, " got %a, delta_eval %a", got, want);
  return describe(m) + text;
}

template <class Score>
Outcome outcome_of(Score&& score) {
  try {
    return {score(), std::nullopt};
  } catch (const FatalStop& stop) {
    return {0.0, stop.message};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Values values{in};
  const std::optional<Evaluation> evaluation = decode_evaluation(in, values);
  if (!evaluation) return 0;
  const Evaluation& e = *evaluation;

  // The solution usually has the evaluation's size; now and then another one, as after
  // set_eval_type with data of a different size.
  const std::size_t len = in.ConsumeIntegralInRange(0, 7) == 0
                              ? in.ConsumeIntegralInRange<std::size_t>(0, kMaxSize)
                              : std::min(e.size(), kMaxSize);
  std::vector<Word> s(len);
  std::iota(s.begin(), s.end(), Word{0});
  for (std::size_t k = len; k > 1; --k) {
    std::swap(s[k - 1], s[in.ConsumeIntegralInRange<std::size_t>(0, k - 1)]);
  }
  const std::vector<Word> original = s;

  const SimpleMoveType simple =
      kestrum::kinds::simple_move(in.PickValueInArray(kestrum::kinds::kMoveKinds), static_cast<Word>(len), 1);
  const MoveType move_type(simple);
  const std::vector<Move> moves = kestrum::get_all_mov(simple);

  // delta_eval, move by move.
  std::vector<Outcome> expected;
  expected.reserve(moves.size());
  for (const Move m : moves) {
    expected.push_back(outcome_of([&] { return e.delta_eval(m, move_type, s); }));
    check(s == original, "delta_eval changed the solution", describe(m));
  }

  // Against the change of eval, where the data is finite and small enough to be exact.
  const Outcome before = outcome_of([&] { return e.eval(s); });
  if (values.tame && !before.stop) {
    for (std::size_t k = 0; k < moves.size(); ++k) {
      std::vector<Word> moved = s;
      move_type.do_move(moved, moves[k]);
      const Outcome after = outcome_of([&] { return e.eval(moved); });
      if (after.stop || expected[k].stop) continue;
      const double change = after.delta - before.delta;
      const double tolerance = 1e-9 * (1.0 + std::fabs(after.delta) + std::fabs(before.delta));
      check(std::fabs(expected[k].delta - change) <= tolerance, "delta is not the change of eval",
            describe(moves[k]));
    }
  }

  // The specialised scan, twice with the same workspace (the second one warm).
  kestrum::ScanScratch scratch;
  for (int round = 0; round < 2; ++round) {
    std::size_t visited = 0;
    std::optional<std::string> stop;
    try {
      kestrum::for_each_delta(e, simple, s, scratch, [&](Move m, double delta) {
        check(visited < moves.size() && m == moves[visited], "scan order differs", describe(m));
        check(!expected[visited].stop, "scan scored a move delta_eval stops on", describe(m));
        check(same_delta(delta, expected[visited].delta), "scan delta differs",
              describe(m, delta, expected[visited].delta));
        ++visited;
      });
    } catch (const FatalStop& f) {
      stop = f.message;
    }
    check(s == original, "the scan changed the solution");
    if (stop) {
      check(visited < moves.size() && expected[visited].stop == stop,
            "scan stopped where delta_eval does not", *stop);
    } else {
      check(visited == moves.size(), "scan skipped moves");
    }
  }

  // The per-move kernel used for random proposals.
  kestrum::with_delta_kernel(e, simple, [&](const auto& kernel) {
    for (std::size_t k = 0; k < moves.size(); ++k) {
      const Outcome got = outcome_of([&] { return kernel.delta(s, moves[k]); });
      check(same_outcome(got, expected[k]), "kernel delta differs", describe(moves[k]));
    }
    return 0;
  });
  check(s == original, "the kernel changed the solution");
  return 0;
}
