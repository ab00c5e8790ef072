// The operations every search shares: reset and the multi-neighbour refusal of set_problem.
#include "local_search/local_search.hpp"

#include <utility>
#include <variant>

#include "support/fatal.hpp"

namespace kestrum {

std::optional<SimpleMoveType> simple_kind(const MoveType& move_type) {
  const MoveType::Kind& kind = move_type.kind();
  switch (kind.index()) {
    case 0: return SimpleMoveType(std::get<0>(kind));
    case 1: return SimpleMoveType(std::get<1>(kind));
    case 2: return SimpleMoveType(std::get<2>(kind));
    case 3: return std::nullopt;
  }
  __builtin_unreachable();
}

void reset_problem(const Shared<Problem>& problem) {
  auto locked = problem.lock();
  locked->reset();
}

void replace_problem_refusing_multi(Shared<Problem>& stored, Shared<Problem> problem,
                                    const char* refusal) {
  auto locked = problem.lock();
  // The stop unwinds through `locked`, which poisons the refused problem; `stored` is
  // left as it was.
  if (locked->get_move_type().is_multi_neighbor()) fatal(refusal);
  stored = std::move(problem);
}

}  // namespace kestrum
