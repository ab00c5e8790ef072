// Saved state of a custom evaluation: its size and where its score function went.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "problem/custom_evaluation.hpp"
#include "support/serialize.hpp"

namespace kestrum {

// Score functions are not bytes. Whoever saves or loads a state that may hold custom
// evaluations keeps a table of score functions beside the bytes and installs it for the call
// (ScoreFunctionScope); a saved custom evaluation is its size and its index in that table.
// Saving fills the table (one entry per distinct score function), loading reads it.
class ScoreFunctionTable {
 public:
  ScoreFunctionTable() = default;
  explicit ScoreFunctionTable(std::vector<std::shared_ptr<const ScoreFunction>> entries)
      : entries_(std::move(entries)) {}

  // The index of `score`, added at the end the first time it is seen.
  [[nodiscard]] std::uint32_t add(const std::shared_ptr<const ScoreFunction>& score);
  // Entry `index`; MalformedState when there is none.
  [[nodiscard]] const std::shared_ptr<const ScoreFunction>& at(std::uint32_t index) const;
  [[nodiscard]] const std::vector<std::shared_ptr<const ScoreFunction>>& entries() const noexcept {
    return entries_;
  }

 private:
  std::vector<std::shared_ptr<const ScoreFunction>> entries_;
};

// Makes `table` the one custom evaluations are saved to and loaded from on this thread until
// the scope ends (scopes nest; the previous table comes back).
class ScoreFunctionScope {
 public:
  explicit ScoreFunctionScope(ScoreFunctionTable& table) noexcept;
  ~ScoreFunctionScope();
  ScoreFunctionScope(const ScoreFunctionScope&) = delete;
  ScoreFunctionScope& operator=(const ScoreFunctionScope&) = delete;

 private:
  ScoreFunctionTable* previous_;
};

// The size (u32), then the score function's index (u32) in the installed table. Without a
// table, both refuse with MalformedState: such a state exists only next to its table.
void write_custom(ByteWriter& w, const Custom& custom);
[[nodiscard]] Custom read_custom(ByteReader& r);

}  // namespace kestrum
