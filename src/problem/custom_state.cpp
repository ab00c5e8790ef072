// Saved state of a custom evaluation: the table of score functions kept beside the bytes.
#include "problem/custom_state.hpp"

#include <string>
#include <utility>

#include "support/shared.hpp"

namespace kestrum {

namespace {

thread_local ScoreFunctionTable* t_table = nullptr;

ScoreFunctionTable& installed_table() {
  if (t_table == nullptr) {
    // Nothing has been changed: a lock this unwinds through is left as it was, not poisoned.
    t_unwinding_consistent = true;
    malformed("an evaluation built from callables is saved and loaded only with its callables (pickle it)");
  }
  return *t_table;
}

}  // namespace

std::uint32_t ScoreFunctionTable::add(const std::shared_ptr<const ScoreFunction>& score) {
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    if (entries_[k] == score) return static_cast<std::uint32_t>(k);
  }
  if (entries_.size() >= UINT32_MAX) malformed("too many score functions in one state");
  entries_.push_back(score);
  return static_cast<std::uint32_t>(entries_.size() - 1);
}

const std::shared_ptr<const ScoreFunction>& ScoreFunctionTable::at(std::uint32_t index) const {
  if (index >= entries_.size()) {
    malformed("score function " + std::to_string(index) + " of " + std::to_string(entries_.size()) +
              " given with the state");
  }
  return entries_[index];
}

ScoreFunctionScope::ScoreFunctionScope(ScoreFunctionTable& table) noexcept : previous_(t_table) {
  t_table = &table;
}

ScoreFunctionScope::~ScoreFunctionScope() { t_table = previous_; }

void write_custom(ByteWriter& w, const Custom& custom) {
  const std::uint32_t index = installed_table().add(custom.score);
  w.u32(custom.size);
  w.u32(index);
}

Custom read_custom(ByteReader& r) {
  const ScoreFunctionTable& table = installed_table();
  Custom custom;
  custom.size = r.u32();
  custom.score = table.at(r.u32());
  return custom;
}

}  // namespace kestrum
