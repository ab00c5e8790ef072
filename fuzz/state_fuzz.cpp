// Fuzz target: rebuilding objects from saved-state bytes. The first byte picks the class and
// the rest is the state. Forged bytes must be refused with MalformedState (or a fatal stop
// from the constructor they reach), never read out of bounds; whatever loads must save to
// bytes that load and save again unchanged, and must survive being used: a loaded problem is
// scored and reset, a loaded search runs a few steps over its own loaded problem.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "lib/saved_state.hpp"
#include "problem/custom_state.hpp"
#include "local_search/simulated_annealing/simulated_annealing.hpp"
#include "support/fatal.hpp"
#include "support/serialize.hpp"

namespace {

using kestrum::FatalStop;
using kestrum::MalformedState;
using kestrum::fuzz::check;
using kestrum::py::StateBytes;
namespace py = kestrum::py;

using State = std::span<const std::uint8_t>;

// Custom evaluations are saved as an index into a table of score functions kept beside the
// bytes. Every input is read with a table of one, this function: index 0 loads, any other is
// refused. It scores any array (values need not be below the size), and scans reach it a row
// at a time; single moves are a row of one.
class FuzzScore final : public kestrum::ScoreFunction {
 public:
  double evaluate(std::span<const kestrum::Word> s) const override {
    double total = 0.0;
    for (std::size_t k = 0; k < s.size(); ++k) total += static_cast<double>((k % 7) + 1) * s[k];
    return total;
  }
  bool has_delta() const noexcept override { return false; }
  double delta(std::span<const kestrum::Word> s, kestrum::CustomMove kind, kestrum::Word i,
               kestrum::Word j) const override {
    check(i <= j && j < s.size(), "a delta told a move outside the solution");
    std::vector<kestrum::Word> t(s.begin(), s.end());
    kestrum::apply_custom_move(kind == kestrum::CustomMove::kSwap ? kestrum::Rearrangement::kExchange
                                                                  : kestrum::Rearrangement::kReverse,
                               t, kestrum::Move{i, j});
    return evaluate(t) - evaluate(s);
  }
  bool has_delta_row() const noexcept override { return true; }
};

StateBytes save_search_of(const kestrum::Shared<kestrum::LocalSearch>& search) {
  const kestrum::SearchSnapshot snapshot = search.lock()->snapshot();
  py::check_saveable(snapshot);
  auto problem = snapshot.problem.lock();
  return py::save_search(snapshot, *problem);
}

// Load, save, load, save: the two saved forms must agree.
template <class Load, class Save>
void check_round_trip(State state, Load&& load, Save&& save) {
  const StateBytes first = save(load(state));
  const StateBytes second = save(load(State(first)));
  check(first == second, "saving a loaded state is not stable");
}

template <class Use>
void use_safely(Use&& use) {
  try {
    use();
  } catch (const FatalStop&) {
    // Loaded data may not cover the loaded solution; the checked routines stop, as they would
    // for the same object built from Python.
  }
}

void exercise(int which, State state) {
  switch (which) {
    case 0:
      check_round_trip(state, py::load_evaluation, py::save_evaluation);
      return;
    case 1:
      check_round_trip(state, py::load_move_type, py::save_move_type);
      return;
    case 2:
      check_round_trip(state, py::load_termination, py::save_termination);
      return;
    case 3:
      check_round_trip(state, py::load_cooling, py::save_cooling);
      return;
    case 4:
      check_round_trip(state, py::load_iterations_per_temp, py::save_iterations_per_temp);
      return;
    case 5: {
      check_round_trip(state, py::load_problem, [](const kestrum::Shared<kestrum::Problem>& p) {
        return py::save_problem(*p.lock());
      });
      const kestrum::Shared<kestrum::Problem> problem = py::load_problem(state);
      use_safely([&] {
        auto p = problem.lock();
        (void)p->eval();
        p->reset();
        (void)p->eval();
      });
      return;
    }
    case 6: {
      check_round_trip(state, py::load_search, save_search_of);
      const kestrum::Shared<kestrum::LocalSearch> search = py::load_search(state);
      // Annealing with no proposals per temperature runs until a time limit: by design
      // only max_sec ends it, so it is not run here.
      {
        auto s = search.lock();
        const auto* annealing = dynamic_cast<const kestrum::SimulatedAnnealing*>(&*s);
        if (annealing != nullptr && annealing->iterations_temperature() == 0) return;
      }
      use_safely([&] {
        auto s = search.lock();
        s->set_termination(kestrum::TerminationFunction::max_iterations(6));
        const kestrum::RunLog log = s->run(true);
        check(!log.empty(), "a run without log rows");
      });
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const State state(data + 1, size - 1);
  static const std::shared_ptr<const kestrum::ScoreFunction> score = std::make_shared<FuzzScore>();
  kestrum::ScoreFunctionTable table({score});
  const kestrum::ScoreFunctionScope scope(table);
  try {
    exercise(data[0] % 7, state);
  } catch (const MalformedState& m) {
    check(!m.reason.empty(), "a refusal without a reason");
  } catch (const FatalStop& stop) {
    // Constructors reached by a well-formed state may still refuse its values.
    check(stop.message == "capacity overflow" || stop.message.rfind("Can't use multiNeighbor", 0) == 0,
          "unexpected fatal stop while loading", stop.message);
  }
  return 0;
}
