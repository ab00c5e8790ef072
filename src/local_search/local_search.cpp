// The operations every search shares: reset and the multi-neighbour refusal of set_problem.
#include "local_search/local_search.hpp"

#include <utility>

#include "support/fatal.hpp"

namespace kestrum {

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
