// Argument binding and conversion: one Signature per method, composable converters.
#pragma once

#include "lib/py_ref.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace kestrum::py {

enum class Receiver { Static, Self, Module };

// One record per method: who it belongs to, its parameter names and how many are required.
struct Signature {
  static constexpr std::size_t kMaxParams = 8;

  constexpr Signature(const char* cls, const char* method, std::initializer_list<const char*> ps,
                      std::size_t required, Receiver receiver = Receiver::Static)
      : cls(cls), method(method), count(ps.size()), required(required), receiver(receiver) {
    std::size_t k = 0;
    for (const char* p : ps) params[k++] = p;
  }

  // Parameters from `k` on may only be given by keyword (shown after "*" in the signature).
  [[nodiscard]] constexpr Signature keyword_only_from(std::size_t k) const {
    Signature s = *this;
    s.positional = k;
    return s;
  }
  // The default shown for an optional parameter, when it is not None ("True").
  [[nodiscard]] constexpr Signature with_default(std::size_t param, const char* text) const {
    Signature s = *this;
    s.defaults[param] = text;
    return s;
  }

  const char* cls;  // nullptr for the module function
  const char* method;
  std::array<const char*, kMaxParams> params{};
  std::size_t count;
  std::size_t required;
  Receiver receiver;
  std::size_t positional = count;                 // how many may be given positionally
  std::array<const char*, kMaxParams> defaults{};  // nullptr: "None"

  // "Cooling.geometric_cooling()" or "benchmark()".
  [[nodiscard]] std::string full_name() const;
  // "swap(seed=None)\n--\n\n", "run($self)\n--\n\n": the interpreter's text-signature form.
  [[nodiscard]] std::string doc() const;
};

// Binds FASTCALL arguments to the parameters (positional count, then keywords in order, then
// missing required ones), with the interpreter's own messages. Absent optional parameters
// stay NULL. Returns borrowed references, valid for the call.
std::array<PyObject*, Signature::kMaxParams> bind_slots(const Signature& sig, PyObject* const* args,
                                                        Py_ssize_t nargs, PyObject* kwnames);

// Rewrites an exact TypeError raised while converting `param` as "argument 'param': ...".
[[noreturn]] void rethrow_for_argument(const char* param);

// "type(x).__qualname__", or the stand-in text when it cannot be read.
std::string type_name(PyObject* o);

[[noreturn]] void raise_type_error(const std::string& message);
[[noreturn]] void raise_overflow();
// TypeError "'{type}' object cannot be converted to '{target}'".
[[noreturn]] void raise_cannot_convert(PyObject* o, const char* target);  // "out of range integral type conversion attempted"

// ---- converters: `using type`, `static type convert(PyObject*)`; errors are set and thrown.

struct F64 {
  using type = double;
  static double convert(PyObject* o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw_error_set();
    return v;
  }
};

struct Bool {
  using type = bool;
  static bool convert(PyObject* o);
};

struct U64 {
  using type = std::uint64_t;
  static std::uint64_t convert(PyObject* o);
};

struct U32 {
  using type = std::uint32_t;
  static std::uint32_t convert(PyObject* o);
};

struct I32 {
  using type = std::int32_t;
  static std::int32_t convert(PyObject* o);
};

struct Text {
  using type = std::string;
  static std::string convert(PyObject* o);
};

// Checks that `o` may be read as a list: not a str, and a sequence.
void check_list_argument(PyObject* o);

// Walks a list argument by the list rule: a str is refused, a non-sequence too; the length
// only gives `reserve(n)` a hint; the iterator decides the elements. f(item) per element.
template <class Reserve, class F>
void for_each_item(PyObject* o, Reserve&& reserve, F&& f) {
  check_list_argument(o);
  if (PyList_CheckExact(o)) {
    // The size is re-read at every step, as the list iterator does, so a list changed by an
    // element's conversion is read the way iteration would read it.
    reserve(static_cast<std::size_t>(PyList_GET_SIZE(o)));
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(o); ++k) {
      PyRef item = PyRef::borrow(PyList_GET_ITEM(o, k));
      f(item.get());
    }
    return;
  }
  Py_ssize_t n = PySequence_Size(o);
  if (n < 0) {
    PyErr_Clear();
    n = 0;
  }
  // A lying __len__ must not make us reserve wildly.
  constexpr Py_ssize_t kReserveCap = Py_ssize_t{1} << 20;
  reserve(static_cast<std::size_t>(n < kReserveCap ? n : kReserveCap));
  PyRef it = PyRef::steal(PyObject_GetIter(o));
  while (PyObject* raw = PyIter_Next(it.get())) {
    PyRef item = PyRef::steal(raw);
    f(item.get());
  }
  if (PyErr_Occurred()) throw_error_set();
}

template <class C>
struct ListOf {
  using type = std::vector<typename C::type>;
  static type convert(PyObject* o) {
    type out;
    for_each_item(
        o, [&](std::size_t n) { out.reserve(n); },
        [&](PyObject* item) { out.push_back(C::convert(item)); });
    return out;
  }
};

template <class C>
struct Optional {
  using type = std::optional<typename C::type>;
  static type convert(PyObject* o) {
    if (o == nullptr || o == Py_None) return std::nullopt;
    return C::convert(o);
  }
};

template <class C>
typename C::type convert_one(const char* param, PyObject* o) {
  try {
    return C::convert(o);
  } catch (const ErrorSet&) {
    rethrow_for_argument(param);
  }
}

// Converts the bound slots one by one, in parameter order, wrapping exact TypeErrors.
template <class... Cs, std::size_t... K>
std::tuple<typename Cs::type...> convert_all(const Signature& sig,
                                             const std::array<PyObject*, Signature::kMaxParams>& slots,
                                             std::index_sequence<K...>) {
  // Braced initialisation evaluates left to right, so conversion follows parameter order.
  return std::tuple<typename Cs::type...>{convert_one<Cs>(sig.params[K], slots[K])...};
}

template <class... Cs>
std::tuple<typename Cs::type...> bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  static_assert(sizeof...(Cs) <= Signature::kMaxParams);
  auto slots = bind_slots(sig, args, nargs, kwnames);
  return convert_all<Cs...>(sig, slots, std::index_sequence_for<Cs...>{});
}

}  // namespace kestrum::py
