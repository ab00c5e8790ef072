// Saved state: the format and class bytes around each class's state, written and read by the core.
#include "lib/saved_state.hpp"

#include <string>
#include <utility>

#include "local_search/search_state.hpp"
#include "problem/array_problem_state.hpp"
#include "problem/evaluation_state.hpp"
#include "problem/move_state.hpp"
#include "termination/termination_state.hpp"

namespace kestrum::py {
namespace {

ByteWriter begin(SavedClass cls) {
  ByteWriter w;
  w.u8(kStateFormat);
  w.u8(static_cast<std::uint8_t>(cls));
  return w;
}

void open(ByteReader& r, SavedClass cls) {
  const std::uint8_t format = r.u8();
  if (format != kStateFormat) {
    malformed("format " + std::to_string(format) + " is not the supported format " +
              std::to_string(kStateFormat));
  }
  const std::uint8_t got = r.u8();
  if (got != static_cast<std::uint8_t>(cls)) {
    malformed("class byte " + std::to_string(got) + " where " +
              std::to_string(static_cast<int>(cls)) + " was expected");
  }
}

// The whole of `state` as one object of class `cls`, read by `read`.
template <class Read>
auto load(std::span<const std::uint8_t> state, SavedClass cls, Read&& read) {
  ByteReader r(state);
  open(r, cls);
  auto value = read(r);
  r.expect_end();
  return value;
}

}  // namespace

StateBytes save_evaluation(const Evaluation& evaluation) {
  ByteWriter w = begin(SavedClass::kEvaluation);
  write_evaluation(w, evaluation);
  return std::move(w).take();
}

StateBytes save_move_type(const MoveType& move_type) {
  ByteWriter w = begin(SavedClass::kMoveType);
  write_move_type(w, move_type);
  return std::move(w).take();
}

StateBytes save_termination(const TerminationFunction& termination) {
  ByteWriter w = begin(SavedClass::kTermination);
  check_criterion_depth(write_criterion(w, termination));
  return std::move(w).take();
}

StateBytes save_cooling(double alpha) {
  ByteWriter w = begin(SavedClass::kCooling);
  w.f64(alpha);
  return std::move(w).take();
}

StateBytes save_iterations_per_temp(std::uint32_t iterations) {
  ByteWriter w = begin(SavedClass::kIterationsPerTemp);
  w.u32(iterations);
  return std::move(w).take();
}

StateBytes save_problem(const Problem& problem) {
  ByteWriter w = begin(SavedClass::kProblem);
  write_problem(w, problem);
  return std::move(w).take();
}

void check_saveable(const SearchSnapshot& snapshot) { check_criterion_depth(snapshot.criterion_depth); }

StateBytes save_search(const SearchSnapshot& snapshot, const Problem& problem) {
  ByteWriter w = begin(SavedClass::kLocalSearch);
  write_search(w, snapshot, problem);
  return std::move(w).take();
}

Evaluation load_evaluation(std::span<const std::uint8_t> state) {
  return load(state, SavedClass::kEvaluation, [](ByteReader& r) { return read_evaluation(r); });
}

MoveType load_move_type(std::span<const std::uint8_t> state) {
  return load(state, SavedClass::kMoveType, [](ByteReader& r) { return read_move_type(r); });
}

TerminationFunction load_termination(std::span<const std::uint8_t> state) {
  return load(state, SavedClass::kTermination, [](ByteReader& r) { return read_criterion(r); });
}

double load_cooling(std::span<const std::uint8_t> state) {
  return load(state, SavedClass::kCooling, [](ByteReader& r) { return r.f64(); });
}

std::uint32_t load_iterations_per_temp(std::span<const std::uint8_t> state) {
  return load(state, SavedClass::kIterationsPerTemp, [](ByteReader& r) { return r.u32(); });
}

Shared<Problem> load_problem(std::span<const std::uint8_t> state) {
  return load(state, SavedClass::kProblem, [](ByteReader& r) { return read_problem(r); });
}

Shared<LocalSearch> load_search(std::span<const std::uint8_t> state) {
  return load(state, SavedClass::kLocalSearch, [](ByteReader& r) { return read_search(r); });
}

}  // namespace kestrum::py
