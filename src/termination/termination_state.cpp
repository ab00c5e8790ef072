// Saved state of a criterion, written and read without recursion.
#include "termination/termination_state.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/tags.hpp"

namespace kestrum {

namespace {

using TF = TerminationFunction;
using Tag = TF::Tag;

// A combination's children, or nullptr for a criterion that has none.
const std::vector<TF>* children_of(const TF& t) {
  switch (t.tag()) {
    case Tag::kAlwaysTrue:
    case Tag::kMaxIterations:
    case Tag::kMaxSec:
    case Tag::kMinTemp:
    case Tag::kMustImprove:
    case Tag::kNoImprove:
    case Tag::kTimeLimit: return nullptr;
    case Tag::kMultiCritAnd: return &std::get<TF::MultiCritAnd>(t.kind()).children;
    case Tag::kMultiCritOr: return &std::get<TF::MultiCritOr>(t.kind()).children;
  }
  unknown_tag("criterion", t.tag());
}

[[noreturn]] void too_deep() {
  malformed("criteria nest deeper than " + std::to_string(kMaxCriterionDepth));
}

// The criterion's own fields; a combination writes its child count here and its children
// follow, each in full, in order.
void write_fields(ByteWriter& w, const TF& t) {
  const TF::Kind& kind = t.kind();
  w.u8(static_cast<std::uint8_t>(t.tag()));
  switch (t.tag()) {
    case Tag::kAlwaysTrue: return;
    case Tag::kMaxIterations:
      w.u32(std::get<TF::MaxIterations>(kind).max_iterations);
      return w.u32(std::get<TF::MaxIterations>(kind).iteration_count);
    case Tag::kMaxSec:
      w.u64(std::get<TF::MaxSec>(kind).max_sec);
      w.i64(std::get<TF::MaxSec>(kind).start.seconds);
      return w.u32(std::get<TF::MaxSec>(kind).start.nanos);
    case Tag::kMinTemp: return w.i32(std::get<TF::MinTemp>(kind).min_temp);
    case Tag::kMultiCritAnd:
    case Tag::kMultiCritOr: return w.count(children_of(t)->size());
    case Tag::kMustImprove: {
      const TF::MustImprove& m = std::get<TF::MustImprove>(kind);
      w.boolean(m.running);
      w.boolean(m.minimize);
      return w.f64(m.best_score);
    }
    case Tag::kNoImprove: {
      const TF::NoImprove& m = std::get<TF::NoImprove>(kind);
      w.boolean(m.running);
      w.boolean(m.minimize);
      w.u32(m.iter_without_imp);
      w.u32(m.non_improvement_count);
      return w.f64(m.best_score);
    }
    case Tag::kTimeLimit: {
      // The limit in nanoseconds is derived from the seconds and not written.
      const TF::TimeLimit& m = std::get<TF::TimeLimit>(kind);
      w.f64(m.seconds);
      w.i64(m.start.seconds);
      return w.u32(m.start.nanos);
    }
  }
  unknown_tag("criterion", t.tag());
}

// A combination being read: its tag, the children read so far and how many are still due.
struct OpenCombination {
  Tag tag;
  std::size_t due;
  std::vector<TF> children;
};

TF close(OpenCombination&& c) {
  if (c.tag == Tag::kMultiCritAnd) return TF(TF::MultiCritAnd{std::move(c.children)});
  return TF(TF::MultiCritOr{std::move(c.children)});
}

// Reads one criterion's tag and fields. A combination with children is pushed on `open`
// (nothing is returned yet); every other criterion is returned whole.
std::optional<TF> read_fields(ByteReader& r, std::vector<OpenCombination>& open) {
  // One byte is the smallest criterion: a forged count cannot ask for more children than
  // the bytes that follow could hold, and the children are appended as they are read.
  constexpr std::size_t kCriterionBytes = 1;
  const std::uint8_t byte = r.u8();
  if (byte >= std::variant_size_v<TF::Kind>) malformed("criterion tag " + std::to_string(byte) + " is unknown");
  const auto t = static_cast<Tag>(byte);
  switch (t) {
    case Tag::kAlwaysTrue: return TF(TF::AlwaysTrue{});
    case Tag::kMaxIterations: {
      TF::MaxIterations m;
      m.max_iterations = r.u32();
      m.iteration_count = r.u32();
      return TF(m);
    }
    case Tag::kMaxSec: {
      TF::MaxSec m;
      m.max_sec = r.u64();
      m.start.seconds = r.i64();
      m.start.nanos = r.u32();
      if (m.start.nanos >= kNanosPerSecond) malformed("a start instant has nanoseconds above 999999999");
      return TF(m);
    }
    case Tag::kMinTemp: return TF(TF::MinTemp{r.i32()});
    case Tag::kMultiCritAnd:
    case Tag::kMultiCritOr: {
      const std::size_t count = r.count(kCriterionBytes);
      OpenCombination c{t, count, {}};
      if (count == 0) return close(std::move(c));
      open.push_back(std::move(c));
      return std::nullopt;
    }
    case Tag::kMustImprove: {
      TF::MustImprove m;
      m.running = r.boolean();
      m.minimize = r.boolean();
      m.best_score = r.f64();
      return TF(m);
    }
    case Tag::kNoImprove: {
      TF::NoImprove m;
      m.running = r.boolean();
      m.minimize = r.boolean();
      m.iter_without_imp = r.u32();
      m.non_improvement_count = r.u32();
      m.best_score = r.f64();
      return TF(m);
    }
    case Tag::kTimeLimit: {
      TF::TimeLimit m;
      m.seconds = r.f64();
      // Written as a positive test so that a NaN is refused too.
      if (!(m.seconds >= 0.0)) malformed("a time limit is negative or NaN");
      m.limit_ns = TF::limit_ns_of(m.seconds);
      m.start.seconds = r.i64();
      m.start.nanos = r.u32();
      if (m.start.nanos >= kNanosPerSecond) malformed("a start instant has nanoseconds above 999999999");
      return TF(m);
    }
  }
  unknown_tag("criterion", t);
}

}  // namespace

void check_criterion_depth(std::size_t depth) {
  if (depth > kMaxCriterionDepth) too_deep();
}

std::size_t criterion_depth(const TF& criterion) {
  std::size_t depth = 0;
  std::vector<std::pair<const TF*, std::size_t>> todo{{&criterion, 1}};
  while (!todo.empty()) {
    const auto [c, level] = todo.back();
    todo.pop_back();
    depth = std::max(depth, level);
    if (const std::vector<TF>* children = children_of(*c)) {
      for (const TF& child : *children) todo.emplace_back(&child, level + 1);
    }
  }
  return depth;
}

std::size_t write_criterion(ByteWriter& w, const TF& criterion) {
  // Pre-order: a criterion, then each of its children in full. `pending` holds, per open
  // combination, its children and the next one to write; a child's level is one more than
  // the number of open combinations.
  write_fields(w, criterion);
  std::size_t depth = 1;
  std::vector<std::pair<const std::vector<TF>*, std::size_t>> pending;
  if (const std::vector<TF>* children = children_of(criterion)) pending.emplace_back(children, 0);
  while (!pending.empty()) {
    auto& [children, next] = pending.back();
    if (next == children->size()) {
      pending.pop_back();
      continue;
    }
    const TF& child = (*children)[next++];
    write_fields(w, child);
    depth = std::max(depth, pending.size() + 1);
    if (const std::vector<TF>* grandchildren = children_of(child)) pending.emplace_back(grandchildren, 0);
  }
  return depth;
}

TF read_criterion(ByteReader& r) {
  std::vector<OpenCombination> open;
  for (;;) {
    // The criterion about to be read sits one level below the innermost open combination.
    if (open.size() + 1 > kMaxCriterionDepth) too_deep();
    std::optional<TF> done = read_fields(r, open);
    // A finished criterion joins its parent; a parent that has all its children is finished
    // in turn.
    while (done) {
      if (open.empty()) return std::move(*done);
      OpenCombination& parent = open.back();
      parent.children.push_back(std::move(*done));
      done.reset();
      if (--parent.due == 0) {
        done = close(std::move(parent));
        open.pop_back();
      }
    }
  }
}

}  // namespace kestrum
