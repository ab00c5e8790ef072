// LocalSearch: the four searches over a shared problem.
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/wrappers.hpp"

namespace kestrum::py {

PyMethodDef* DynLocalSearch::methods() {
  static PyMethodDef table[] = {kMethodsEnd};
  return table;
}

}  // namespace kestrum::py
