// Shared pieces of the class wrappers.
#include "lib/wrappers.hpp"

#include <deque>

namespace kestrum::py {

PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined");
  return nullptr;
}

const char* keep_doc(const Signature& sig) {
  static std::deque<std::string> docs;  // deque: earlier strings never move
  docs.push_back(sig.doc());
  return docs.back().c_str();
}

}  // namespace kestrum::py
