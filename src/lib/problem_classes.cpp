// Evaluation, MoveType and Problem: building and driving problems from Python.
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/wrappers.hpp"

namespace kestrum::py {

PyMethodDef* DynEvaluation::methods() {
  static PyMethodDef table[] = {kMethodsEnd};
  return table;
}

PyMethodDef* DynMoveType::methods() {
  static PyMethodDef table[] = {kMethodsEnd};
  return table;
}

PyMethodDef* DynProblem::methods() {
  static PyMethodDef table[] = {kMethodsEnd};
  return table;
}

}  // namespace kestrum::py
