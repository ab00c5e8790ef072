// Python objects around native values: one Box layout, one PyType_Spec per class, shared helpers.
#pragma once

#include "lib/py_ref.hpp"

#include <concepts>
#include <new>
#include <string>
#include <utility>

#include "lib/args.hpp"
#include "support/fatal.hpp"

namespace kestrum::py {

// The memory layout of every instance: the object header, then the held value. `built` is set
// once the value has been constructed. An instance allocated by anything but new_instance
// (a class whose __new__ was replaced by object.__new__) comes zero-filled from tp_alloc, so
// its flag is false and no method may touch its value.
template <class T>
struct Box {
  PyObject_HEAD
  bool built;
  T value;
};

PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*);

// The docstring of `sig`, kept alive for the process (type objects are never freed).
const char* keep_doc(const Signature& sig);

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept;
using NoArgsMethod = PyObject* (*)(PyObject*, PyObject*) noexcept;

inline int receiver_flags(const Signature& sig) {  // module functions are bound, not static
  return sig.receiver == Receiver::Static ? METH_STATIC : 0;
}

inline PyMethodDef method(FastMethod f, const Signature& sig) {
  return {sig.method, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)),
          METH_FASTCALL | METH_KEYWORDS | receiver_flags(sig), keep_doc(sig)};
}

inline PyMethodDef method(NoArgsMethod f, const Signature& sig) {
  return {sig.method, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)),
          METH_NOARGS | receiver_flags(sig), keep_doc(sig)};
}

inline constexpr PyMethodDef kMethodsEnd = {nullptr, nullptr, 0, nullptr};

template <class T>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto* box = reinterpret_cast<Box<T>*>(self);
  if (box->built) box->value.~T();
  type->tp_free(self);
  PyRef::steal(reinterpret_cast<PyObject*>(type));  // drops the instance's reference to its heap type
}

// A class with read-only attributes declares `static PyGetSetDef* properties()`.
template <class T>
concept HasProperties = requires { { T::properties() } -> std::same_as<PyGetSetDef*>; };

template <class T>
PyGetSetDef* properties_or_null() {
  if constexpr (HasProperties<T>) {
    return T::properties();
  } else {
    return nullptr;
  }
}

// Builds the type object from its PyType_Spec; NULL with the error set on failure.
template <class T>
PyTypeObject* create_type() {
  static std::string name = std::string("builtins.") + T::kName;
  // A class without properties ends its slots one entry early (slot id 0).
  static PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&refuse_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<T>)},
      {Py_tp_methods, T::methods()},
      {HasProperties<T> ? Py_tp_getset : 0, properties_or_null<T>()},
      {0, nullptr},
  };
  static PyType_Spec spec = {name.c_str(), static_cast<int>(sizeof(Box<T>)), 0, Py_TPFLAGS_DEFAULT,
                             slots};
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

// The class's type object, created once per process on first need.
template <class T>
PyTypeObject* type_object_or_null() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) type = create_type<T>();
  return type;
}

template <class T>
PyTypeObject* type_object() {
  PyTypeObject* type = type_object_or_null<T>();
  if (type == nullptr) {
    PyErr_Print();
    fatal(std::string("failed to create type object for ") + T::kName);
  }
  return type;
}

template <class T, class... Args>
PyRef new_instance(Args&&... args) {
  PyTypeObject* type = type_object<T>();
  PyObject* obj = type->tp_alloc(type, 0);
  if (obj == nullptr) throw_error_set();  // MemoryError: nothing was changed
  PyRef owned = PyRef::steal(obj);
  // Until the value is built the object must not be deallocated through dealloc<T>.
  try {
    new (&reinterpret_cast<Box<T>*>(obj)->value) T(std::forward<Args>(args)...);
    reinterpret_cast<Box<T>*>(obj)->built = true;
  } catch (...) {
    type->tp_free(owned.release());
    PyRef::steal(reinterpret_cast<PyObject*>(type));  // the reference tp_alloc took
    throw;
  }
  return owned;
}

template <class T>
T& value_of(PyObject* o) {
  return reinterpret_cast<Box<T>*>(o)->value;
}

// An argument that must be an instance of the class of T (or a subtype).
template <class T>
struct Held {
  PyRef object;
  T& operator*() const { return value_of<T>(object.get()); }
  T* operator->() const { return &value_of<T>(object.get()); }
};

// An instance with no value (see Box) is refused like an object of the wrong type.
template <class T>
struct Instance {
  using type = Held<T>;
  static type convert(PyObject* o) {
    if (!PyObject_TypeCheck(o, type_object<T>())) {
      raise_cannot_convert(o, T::kName);
    }
    if (!reinterpret_cast<Box<T>*>(o)->built) {
      raise_type_error(std::string("uninitialized '") + T::kName +
                       "' object: instances come from the class's static constructors");
    }
    return Held<T>{PyRef::borrow(o)};
  }
};

// `self` of an instance method. The method descriptor already guarantees the class, but not
// that the value was built: both are checked, with the instance converter's errors without
// the argument prefix.
template <class T>
T& self_of(PyObject* self) {
  return *Instance<T>::convert(self);
}

// Runs `op` on the native object behind a handle class's lock (poisoned: fatal stop; a stop
// inside `op` poisons the lock). Returns op's native result; convert it after unlocking.
template <class T, class Op>
decltype(auto) with_locked(PyObject* self, Op&& op) {
  auto handle = self_of<T>(self).handle;  // keeps the object alive during the call
  auto locked = handle.lock();
  return std::forward<Op>(op)(*locked);
}

inline PyRef none() { return PyRef::borrow(Py_None); }

}  // namespace kestrum::py
