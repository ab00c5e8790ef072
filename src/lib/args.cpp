// The binder's messages and the scalar converters.
#include "lib/args.hpp"

#include <cstring>

namespace kestrum::py {

std::string Signature::full_name() const {
  std::string f;
  if (cls != nullptr) {
    f += cls;
    f += '.';
  }
  f += method;
  f += "()";
  return f;
}

std::string Signature::doc() const {
  std::string d = method;
  d += '(';
  bool first = true;
  if (receiver == Receiver::Self) {
    d += "$self";
    first = false;
  }
  for (std::size_t k = 0; k < count; ++k) {
    if (!first) d += ", ";
    first = false;
    if (k == positional) d += "*, ";
    d += params[k];
    if (k >= required) {
      d += '=';
      d += defaults[k] != nullptr ? defaults[k] : "None";
    }
  }
  d += ")\n--\n\n";
  return d;
}

void raise_type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  throw_error_set();
}

void raise_overflow() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
  throw_error_set();
}

void raise_cannot_convert(PyObject* o, const char* target) {
  std::string message = "'";
  message += type_name(o);
  message += "' object cannot be converted to '";
  message += target;
  message += "'";
  raise_type_error(message);
}

namespace {

std::string quoted_list(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) {
      if (names.size() == 2) {
        out += " and ";
      } else {
        out += k + 1 == names.size() ? ", and " : ", ";
      }
    }
    out += '\'';
    out += names[k];
    out += '\'';
  }
  return out;
}

}  // namespace

std::array<PyObject*, Signature::kMaxParams> bind_slots(const Signature& sig, PyObject* const* args,
                                                        Py_ssize_t nargs, PyObject* kwnames) {
  std::array<PyObject*, Signature::kMaxParams> slots{};
  const auto n = static_cast<Py_ssize_t>(sig.positional);
  if (nargs > n) {
    const char* verb = nargs == 1 ? "was" : "were";
    std::string msg = sig.full_name() + " takes ";
    if (sig.required >= sig.positional) {
      msg += std::to_string(n);
    } else {
      msg += "from " + std::to_string(sig.required) + " to " + std::to_string(n);
    }
    msg += " positional arguments but " + std::to_string(nargs) + " " + verb + " given";
    raise_type_error(msg);
  }
  for (Py_ssize_t k = 0; k < nargs; ++k) slots[static_cast<std::size_t>(k)] = args[k];

  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t len = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name, &len);
    if (text == nullptr) throw_error_set();
    std::size_t found = sig.count;
    for (std::size_t p = 0; p < sig.count; ++p) {
      if (std::strlen(sig.params[p]) == static_cast<std::size_t>(len) &&
          std::memcmp(sig.params[p], text, static_cast<std::size_t>(len)) == 0) {
        found = p;
        break;
      }
    }
    if (found == sig.count) {
      raise_type_error(sig.full_name() + " got an unexpected keyword argument '" +
                       std::string(text, static_cast<std::size_t>(len)) + "'");
    }
    if (slots[found] != nullptr) {
      raise_type_error(sig.full_name() + " got multiple values for argument '" + sig.params[found] +
                       "'");
    }
    slots[found] = args[nargs + k];
  }

  std::vector<const char*> missing;
  for (std::size_t p = 0; p < sig.required; ++p) {
    if (slots[p] == nullptr) missing.push_back(sig.params[p]);
  }
  if (!missing.empty()) {
    raise_type_error(sig.full_name() + " missing " + std::to_string(missing.size()) +
                     " required positional argument" + (missing.size() > 1 ? "s" : "") + ": " +
                     quoted_list(missing));
  }
  return slots;
}

void rethrow_for_argument(const char* param) {
  PyObject* raised = PyErr_GetRaisedException();
  if (raised == nullptr || Py_TYPE(raised) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(raised);
    throw_error_set();
  }
  PyRef inner = PyRef::steal(raised);
  PyRef text = PyRef::steal(PyObject_Str(inner.get()));
  PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
  PyRef wrapped = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  PyException_SetCause(wrapped.get(), PyException_GetCause(inner.get()));  // steals the cause
  PyErr_SetRaisedException(wrapped.release());
  throw_error_set();
}

std::string type_name(PyObject* o) {
  PyObject* name = PyType_GetQualName(Py_TYPE(o));
  if (name == nullptr) {
    PyErr_Clear();
    return "<failed to extract type name>";
  }
  PyRef owned = PyRef::steal(name);
  const char* text = PyUnicode_AsUTF8(name);
  if (text == nullptr) {
    PyErr_Clear();
    return "<failed to extract type name>";
  }
  return text;
}

bool Bool::convert(PyObject* o) {
  if (o == Py_True) return true;
  if (o == Py_False) return false;
  // numpy's bool scalars, recognised by their type's full name so numpy is never imported
  // here: numpy.bool_ (numpy 1) or numpy.bool (numpy 2).
  PyTypeObject* t = Py_TYPE(o);
  if ((std::strcmp(t->tp_name, "numpy.bool_") == 0 || std::strcmp(t->tp_name, "numpy.bool") == 0) &&
      t->tp_as_number != nullptr && t->tp_as_number->nb_bool != nullptr) {
    const int truth = t->tp_as_number->nb_bool(o);
    if (truth < 0) throw_error_set();
    return truth != 0;
  }
  raise_cannot_convert(o, "PyBool");
}

std::uint64_t U64::convert(PyObject* o) {
  unsigned long long v = 0;
  if (PyLong_Check(o)) {
    v = PyLong_AsUnsignedLongLong(o);
  } else {
    PyRef index = PyRef::steal(PyNumber_Index(o));
    v = PyLong_AsUnsignedLongLong(index.get());
  }
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_error_set();
  return v;
}

std::uint32_t U32::convert(PyObject* o) {
  std::uint64_t v = U64::convert(o);
  if (v > UINT32_MAX) raise_overflow();
  return static_cast<std::uint32_t>(v);
}

std::int32_t I32::convert(PyObject* o) {
  long long v = PyLong_AsLongLong(o);
  if (v == -1 && PyErr_Occurred()) throw_error_set();
  if (v < INT32_MIN || v > INT32_MAX) raise_overflow();
  return static_cast<std::int32_t>(v);
}

std::string Text::convert(PyObject* o) {
  if (!PyUnicode_Check(o)) raise_cannot_convert(o, "PyString");
  Py_ssize_t len = 0;
  const char* text = PyUnicode_AsUTF8AndSize(o, &len);
  if (text == nullptr) throw_error_set();
  return std::string(text, static_cast<std::size_t>(len));
}

void check_list_argument(PyObject* o) {
  if (PyUnicode_Check(o)) raise_type_error("Can't extract `str` to `Vec`");
  if (!PySequence_Check(o)) raise_cannot_convert(o, "Sequence");
}

}  // namespace kestrum::py
