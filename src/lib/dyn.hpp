// The seven wrapped values behind the Python classes.
#pragma once

#include "lib/py_ref.hpp"

#include <cstdint>

#include "local_search/local_search.hpp"
#include "problem/evaluation.hpp"
#include "problem/move.hpp"
#include "problem/problem.hpp"
#include "support/shared.hpp"
#include "termination/termination_function.hpp"

namespace kestrum::py {

struct DynLocalSearch {
  static constexpr const char* kName = "LocalSearch";
  static PyMethodDef* methods();
  static PyGetSetDef* properties();
  Shared<LocalSearch> handle;
};

struct DynProblem {
  static constexpr const char* kName = "Problem";
  static PyMethodDef* methods();
  Shared<Problem> handle;
};

struct DynTermination {
  static constexpr const char* kName = "Termination";
  static PyMethodDef* methods();
  TerminationFunction value;
};

struct DynIterTemp {
  static constexpr const char* kName = "IterationsPerTemp";
  static PyMethodDef* methods();
  std::uint32_t iterations;
};

struct DynCooling {
  static constexpr const char* kName = "Cooling";
  static PyMethodDef* methods();
  double alpha;
};

struct DynEvaluation {
  static constexpr const char* kName = "Evaluation";
  static PyMethodDef* methods();
  static PyGetSetDef* properties();
  Evaluation value;
};

struct DynMoveType {
  static constexpr const char* kName = "MoveType";
  static PyMethodDef* methods();
  MoveType value;
};

}  // namespace kestrum::py
