// Score functions from Python: solution views, the callbacks, native signatures, failures.
#include "lib/custom_callables.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "lib/args.hpp"
#include "lib/dyn.hpp"
#include "lib/run_host.hpp"
#include "lib/wrappers.hpp"
#include "local_search/run_control.hpp"
#include "support/fatal.hpp"

namespace kestrum::py {
namespace {

constexpr const char* kEvaluateSignature =
    "double (const uint32_t *solution, intptr_t n, void *user_data)";
constexpr const char* kDeltaSignature =
    "double (const uint32_t *solution, intptr_t n, int kind, intptr_t i, intptr_t j, void *user_data)";
// The same signatures with every spelling reduced to one word per type (see canonical()).
constexpr std::string_view kEvaluateCanonical = "double(uint32*,intptr,void*)";
constexpr std::string_view kDeltaCanonical = "double(uint32*,intptr,int,intptr,intptr,void*)";
constexpr const char* kDeltaRowSignature =
    "void (const uint32_t *solution, intptr_t n, int kind, intptr_t i, intptr_t j_begin, "
    "intptr_t j_end, double *out, void *user_data)";
constexpr std::string_view kDeltaRowCanonical =
    "void(uint32*,intptr,int,intptr,intptr,intptr,double*,void*)";

// ---- the pending failure of a callback, per thread

// A strong reference to the first exception a callback raised on this thread since the
// pending error was last taken; null when there is none.
thread_local PyObject* t_pending = nullptr;

// With the interpreter lock and an exception set: keeps it (the first one wins) and clears it.
void keep_pending() {
  PyObject* raised = PyErr_GetRaisedException();
  if (t_pending == nullptr) {
    t_pending = raised;
  } else {
    Py_XDECREF(raised);
  }
}

// A callback failed (its exception is set): inside a run the run takes the exception and
// stops as a raising signal handler stops it; elsewhere it waits on this thread for the entry
// point that called.
void callback_failed() {
  if (!stop_run_with_error()) keep_pending();
}

// Whether callbacks on this thread must no longer call Python: one has failed and its
// exception has not been taken yet, or the run they serve is stopping.
bool callbacks_stopped() {
  if (t_pending != nullptr) return true;
  const RunControl* control = RunControl::current();
  return control != nullptr && control->stop_requested();
}

// ---- the read-only view of a solution handed to Python callables

// One solution's words, copied for one call and exported as a read-only buffer of unsigned
// 32-bit integers. The words live in the object itself (its variable part holds `ob_size`
// of them), so whatever view of them outlives the call keeps them alive: a view kept past
// the call reads the words of that call, never memory the solution has since left. After
// the call it is invalidated: its memoryview is released and no new view can be taken.
// `exports` counts the views still open, so a view kept past the call is detected.
struct SolutionBuffer {
  PyObject_VAR_HEAD
  Py_ssize_t length;
  Py_ssize_t stride;
  Py_ssize_t exports;
  bool valid;
};

static_assert(sizeof(SolutionBuffer) % alignof(Word) == 0, "the words follow the header");

Word* words_of(SolutionBuffer* b) {
  return reinterpret_cast<Word*>(reinterpret_cast<char*>(b) + sizeof(SolutionBuffer));
}

int solution_getbuffer(PyObject* self, Py_buffer* view, int flags) {
  auto* b = reinterpret_cast<SolutionBuffer*>(self);
  if (!b->valid) {
    PyErr_SetString(PyExc_ValueError, "the solution can only be read during the call it was passed to");
    view->obj = nullptr;
    return -1;
  }
  if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) {
    PyErr_SetString(PyExc_BufferError, "the solution is read-only");
    view->obj = nullptr;
    return -1;
  }
  view->buf = words_of(b);
  view->obj = Py_NewRef(self);
  view->len = b->length * static_cast<Py_ssize_t>(sizeof(Word));
  view->itemsize = sizeof(Word);
  view->readonly = 1;
  view->ndim = 1;
  view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT ? const_cast<char*>("I") : nullptr;
  view->shape = (flags & PyBUF_ND) == PyBUF_ND ? &b->length : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &b->stride : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  ++b->exports;
  return 0;
}

void solution_releasebuffer(PyObject* self, Py_buffer*) {
  --reinterpret_cast<SolutionBuffer*>(self)->exports;
}

static_assert(sizeof(unsigned int) == sizeof(Word), "the buffer format 'I' must be 32 bits");

PyTypeObject* solution_buffer_type() {
  static PyTypeObject* type = [] {
    static PyType_Slot slots[] = {
        {Py_bf_getbuffer, reinterpret_cast<void*>(&solution_getbuffer)},
        {Py_bf_releasebuffer, reinterpret_cast<void*>(&solution_releasebuffer)},
        {0, nullptr},
    };
    // Reachable from Python only as a view's `obj`; it cannot be built there.
    static PyType_Spec spec = {"kestrum.SolutionBuffer", static_cast<int>(sizeof(SolutionBuffer)),
                               static_cast<int>(sizeof(Word)),
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  }();
  if (type == nullptr) throw_error_set();
  return type;
}

// The memoryview a callable receives, over a copy of `s`, and what ends its validity.
// `spare` is a buffer no view refers to any more, kept by the score function between calls
// (with the interpreter lock held): the copy goes there when it is large enough, and the
// buffer goes back there after a call that kept no view of it. A call made meanwhile (on
// another thread while this one runs Python, or nested in the callable) makes its own.
class SolutionView {
 public:
  SolutionView(PyRef& spare, std::span<const Word> s) : spare_(spare) {
    const auto length = static_cast<Py_ssize_t>(s.size());
    buffer_ = std::exchange(spare, PyRef());
    if (!buffer_ || Py_SIZE(buffer_.get()) < length) {
      PyTypeObject* type = solution_buffer_type();
      buffer_ = PyRef();
      buffer_ = PyRef::steal(type->tp_alloc(type, length));
    }
    auto* b = reinterpret_cast<SolutionBuffer*>(buffer_.get());
    if (!s.empty()) std::memcpy(words_of(b), s.data(), s.size_bytes());
    b->length = length;
    b->stride = sizeof(Word);
    b->exports = 0;
    b->valid = true;
    view_ = PyRef::steal(PyMemoryView_FromObject(buffer_.get()));
  }
  SolutionView(const SolutionView&) = delete;
  SolutionView& operator=(const SolutionView&) = delete;
  // On the way out of a failed call the callable's exception stands; a kept view is then
  // invalidated without a report of its own.
  ~SolutionView() {
    if (buffer_) {
      PyObject* pending = PyErr_GetRaisedException();
      (void)close();
      PyErr_Clear();
      PyErr_SetRaisedException(pending);
    }
  }

  [[nodiscard]] PyObject* get() const { return view_.get(); }

  // Ends the view's validity. A memoryview the callable kept is released (any use of it then
  // raises ValueError); a view taken from it and still open (an array kept in a global) cannot
  // be revoked, and gives a BufferError; it goes on reading the words of this call. Returns
  // false with that error set. Leaves any exception that is already set untouched when there
  // is nothing to report.
  [[nodiscard]] bool close() {
    if (!buffer_) return true;
    auto* b = reinterpret_cast<SolutionBuffer*>(buffer_.get());
    b->valid = false;
    if (view_ && Py_REFCNT(view_.get()) > 1) {
      PyObject* pending = PyErr_GetRaisedException();
      PyObject* r = PyObject_CallMethod(view_.get(), "release", nullptr);
      Py_XDECREF(r);
      PyErr_Clear();  // a refused release shows in the export count below
      PyErr_SetRaisedException(pending);
    }
    view_ = PyRef();
    const bool kept = b->exports > 0;
    // Free of every view: ready for the next call.
    if (!kept && Py_REFCNT(buffer_.get()) == 1 && !spare_) spare_ = std::move(buffer_);
    buffer_ = PyRef();
    if (!kept) return true;
    PyErr_SetString(PyExc_BufferError,
                    "a view of the solution was kept after the call returned; copy it instead "
                    "(numpy.array(solution) or list(solution))");
    return false;
  }

 private:
  PyRef& spare_;
  PyRef buffer_;
  PyRef view_;
};

// ---- results

// The score a callable returned: a float, an int or anything with __float__ or __index__.
// Anything else is a TypeError naming the callable's role.
double score_of(PyObject* result, const char* role) {
  if (PyFloat_Check(result)) return PyFloat_AS_DOUBLE(result);
  const double v = PyFloat_AsDouble(result);
  if (v == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      std::string message = role;
      message += " must return a number, not '";
      message += type_name(result);
      message += "'";
      PyErr_SetString(PyExc_TypeError, message.c_str());
    }
    throw_error_set();
  }
  return v;
}

constexpr double kNoScore = std::numeric_limits<double>::quiet_NaN();

// The scores a row callable returned into `out`: a buffer of doubles (a numpy float64 array)
// is copied as it is, any other sequence is read number by number. Its length must be the
// row's.
void scores_of(PyObject* result, std::span<double> out) {
  auto refuse_length = [&](Py_ssize_t got) {
    std::string message = "delta_row must return ";
    message += std::to_string(out.size());
    message += " numbers (one per j in range(j_begin, j_end)), not ";
    message += std::to_string(got);
    PyErr_SetString(PyExc_ValueError, message.c_str());
    throw_error_set();
  };
  if (PyObject_CheckBuffer(result)) {
    Py_buffer view;
    if (PyObject_GetBuffer(result, &view, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) == 0) {
      const bool doubles = view.ndim == 1 && view.itemsize == sizeof(double) && view.format != nullptr &&
                           (std::string_view(view.format) == "d" || std::string_view(view.format) == "@d" ||
                            std::string_view(view.format) == "=d");
      if (doubles) {
        const Py_ssize_t got = view.shape[0];
        if (got != static_cast<Py_ssize_t>(out.size())) {
          PyBuffer_Release(&view);
          refuse_length(got);
        }
        std::memcpy(out.data(), view.buf, out.size() * sizeof(double));
        PyBuffer_Release(&view);
        return;
      }
      PyBuffer_Release(&view);
    } else {
      PyErr_Clear();  // read as a sequence below
    }
  }
  // A tuple of the numbers as returned: converting them runs their own code (__float__),
  // which may change a list they sit in, never the tuple, which holds each of them.
  PyRef numbers = PyRef::steal_or_null(PySequence_Tuple(result));
  if (!numbers) {
    PyErr_Clear();
    std::string message = "delta_row must return a sequence of numbers, not '";
    message += type_name(result);
    message += "'";
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw_error_set();
  }
  const Py_ssize_t got = PyTuple_GET_SIZE(numbers.get());
  if (got != static_cast<Py_ssize_t>(out.size())) refuse_length(got);
  for (Py_ssize_t k = 0; k < got; ++k) {
    out[static_cast<std::size_t>(k)] = score_of(PyTuple_GET_ITEM(numbers.get(), k), "delta_row");
  }
}

// ---- native signatures

bool is_type_word(std::string_view w) {
  static constexpr std::string_view kWords[] = {
      "unsigned", "signed",     "int",     "long",     "short",      "char",     "double",
      "float",    "void",       "uint32_t", "uint",    "intptr_t",   "ssize_t",  "Py_ssize_t",
      "npy_intp", "int64_t",    "ptrdiff_t", "int32_t", "npy_uint32", "uint32",  "intp"};
  for (std::string_view k : kWords) {
    if (w == k) return true;
  }
  return false;
}

// One C type as a canonical word: "uint32", "intptr", "int", "double", "void", plus one '*'
// per level of pointer; qualifiers and parameter names are dropped. Unknown spellings are
// kept as written, so they never match.
std::string canonical_type(std::string_view text) {
  std::vector<std::string> words;
  int stars = 0;
  std::string word;
  auto flush = [&] {
    if (!word.empty() && word != "const" && word != "volatile") words.push_back(word);
    word.clear();
  };
  for (char c : text) {
    if (c == '*') {
      flush();
      ++stars;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      flush();
    } else {
      word.push_back(c);
    }
  }
  flush();
  if (words.size() > 1 && !is_type_word(words.back())) words.pop_back();  // a parameter name
  std::string base;
  for (const std::string& w : words) {
    if (!base.empty()) base += ' ';
    base += w;
  }
  constexpr bool kLong64 = sizeof(long) == sizeof(std::intptr_t);
  constexpr bool kLongLong64 = sizeof(long long) == sizeof(std::intptr_t);
  if (base == "uint32_t" || base == "uint" || base == "unsigned int" || base == "unsigned" ||
      base == "npy_uint32" || base == "uint32") {
    base = "uint32";
  } else if (base == "intptr_t" || base == "ssize_t" || base == "Py_ssize_t" || base == "npy_intp" ||
             base == "ptrdiff_t" || base == "intp" ||
             ((base == "int64_t" || base == "long long" || base == "long long int") && kLongLong64) ||
             ((base == "long" || base == "long int" || base == "signed long") && kLong64)) {
    base = "intptr";
  } else if (base == "int32_t" || base == "signed int" || base == "signed") {
    base = "int";
  }
  return base + std::string(static_cast<std::size_t>(stars), '*');
}

// "ret (a, b, c)" as "ret(a,b,c)" with canonical types, or the text itself when unparsable.
std::string canonical_signature(std::string_view text) {
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::string(text);
  }
  std::string out = canonical_type(text.substr(0, open)) + "(";
  std::string_view args = text.substr(open + 1, close - open - 1);
  bool first = true;
  while (true) {
    const std::size_t comma = args.find(',');
    if (!first) out += ',';
    out += canonical_type(args.substr(0, comma));
    first = false;
    if (comma == std::string_view::npos) break;
    args.remove_prefix(comma + 1);
  }
  return out + ")";
}

PyObject* ctypes_attr(const char* name) {
  PyRef ctypes = PyRef::steal(PyImport_ImportModule("ctypes"));
  return PyRef::steal(PyObject_GetAttrString(ctypes.get(), name)).release();
}

// The base class of ctypes function pointers; looked up once (the module refuses
// sub-interpreters, so one interpreter's object serves for the process).
PyTypeObject* ctypes_function_pointer_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    PyRef found = PyRef::steal(ctypes_attr("_CFuncPtr"));
    if (!PyType_Check(found.get())) raise_type_error("ctypes._CFuncPtr is not a class");
    type = found.release();
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

// Whether `o` is an instance of the class `name` of the module `module`, by its real type
// (not by what its class calls itself, nor by __class__ or __instancecheck__). A module that
// was never imported has made no instance, so it is not imported here.
bool is_instance_of(PyObject* o, const char* module, const char* name) {
  PyRef module_name = PyRef::steal(PyUnicode_FromString(module));
  PyRef loaded = PyRef::steal_or_null(PyImport_GetModule(module_name.get()));
  if (!loaded) {
    if (PyErr_Occurred()) throw_error_set();
    return false;
  }
  PyRef type = PyRef::steal_or_null(PyObject_GetAttrString(loaded.get(), name));
  if (!type) {
    PyErr_Clear();
    return false;
  }
  return PyType_Check(type.get()) && PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(type.get()));
}

// The C spelling of a ctypes type, for messages and for the canonical comparison.
std::string ctypes_c_name(PyObject* t) {
  if (t == Py_None) return "void";
  PyRef code = PyRef::steal_or_null(PyObject_GetAttrString(t, "_type_"));
  if (!code) {
    PyErr_Clear();
    return type_name(t);
  }
  if (PyType_Check(code.get())) return ctypes_c_name(code.get()) + " *";  // a pointer type
  if (!PyUnicode_Check(code.get())) return type_name(t);
  const char* code_text = PyUnicode_AsUTF8(code.get());
  if (code_text == nullptr) throw_error_set();
  const std::string_view c = code_text;
  if (c == "d") return "double";
  if (c == "f") return "float";
  if (c == "i") return "int";
  if (c == "I") return "unsigned int";
  if (c == "l") return "long";
  if (c == "L") return "unsigned long";
  if (c == "q") return "long long";
  if (c == "Q") return "unsigned long long";
  if (c == "h") return "short";
  if (c == "H") return "unsigned short";
  if (c == "P") return "void *";
  if (c == "z") return "char *";
  PyRef name = PyRef::steal(PyObject_GetAttrString(t, "__name__"));
  const char* text = PyUnicode_AsUTF8(name.get());
  if (text == nullptr) throw_error_set();
  return text;
}

// The C signature a ctypes function pointer declares, or nothing when its argument types
// are not declared.
std::optional<std::string> ctypes_signature(PyObject* fn) {
  PyRef restype = PyRef::steal(PyObject_GetAttrString(fn, "restype"));
  PyRef argtypes = PyRef::steal(PyObject_GetAttrString(fn, "argtypes"));
  if (argtypes.get() == Py_None) return std::nullopt;
  std::string text = ctypes_c_name(restype.get()) + " (";
  // A tuple, which holds each type while its attributes are read (that may run code).
  PyRef types = PyRef::steal(PySequence_Tuple(argtypes.get()));
  for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(types.get()); ++k) {
    if (k > 0) text += ", ";
    text += ctypes_c_name(PyTuple_GET_ITEM(types.get(), k));
  }
  return text + ")";
}

[[noreturn]] void refuse_signature(const char* expected, const std::string& got) {
  std::string message = "a native function must have the signature ";
  message += expected;
  message += ", not '";
  message += got;
  message += "'";
  raise_type_error(message);
}

void* ctypes_address(PyObject* fn) {
  PyRef cast = PyRef::steal(ctypes_attr("cast"));
  PyRef void_p = PyRef::steal(ctypes_attr("c_void_p"));
  PyRef pointer = PyRef::steal(PyObject_CallFunctionObjArgs(cast.get(), fn, void_p.get(), nullptr));
  PyRef value = PyRef::steal(PyObject_GetAttrString(pointer.get(), "value"));
  if (value.get() == Py_None) return nullptr;
  void* address = PyLong_AsVoidPtr(value.get());
  if (address == nullptr && PyErr_Occurred()) throw_error_set();
  return address;
}

// A Python callable, or a native entry point whose signature is checked against `expected`.
ScoreCallable score_callable(PyObject* o, const char* expected, std::string_view canonical) {
  // A scipy LowLevelCallable: a tuple whose first item is a capsule named by its signature,
  // holding the function and, as its context, the user data.
  if (PyTuple_Check(o) && PyTuple_GET_SIZE(o) > 0 && PyCapsule_CheckExact(PyTuple_GET_ITEM(o, 0)) &&
      is_instance_of(o, "scipy._lib._ccallback", "LowLevelCallable")) {
    PyObject* capsule = PyTuple_GET_ITEM(o, 0);
    const char* name = PyCapsule_GetName(capsule);
    const std::string got = name != nullptr ? name : "";
    if (canonical_signature(got) != canonical) refuse_signature(expected, got);
    void* fn = PyCapsule_GetPointer(capsule, name);
    if (fn == nullptr) throw_error_set();
    void* data = PyCapsule_GetContext(capsule);
    if (data == nullptr && PyErr_Occurred()) throw_error_set();
    return ScoreCallable{PyRef::borrow(o), fn, data};
  }
  // A numba cfunc: its ctypes view carries the declared signature.
  PyRef pointer = PyRef::borrow(o);
  if (is_instance_of(o, "numba.core.ccallback", "CFunc")) pointer = PyRef::steal(PyObject_GetAttrString(o, "ctypes"));
  if (PyObject_TypeCheck(pointer.get(), ctypes_function_pointer_type())) {
    const std::optional<std::string> got = ctypes_signature(pointer.get());
    if (!got) refuse_signature(expected, "argument types not declared");
    if (canonical_signature(*got) != canonical) refuse_signature(expected, *got);
    void* fn = ctypes_address(pointer.get());
    if (fn == nullptr) raise_type_error("the native function pointer is null");
    return ScoreCallable{PyRef::borrow(o), fn, nullptr};
  }
  if (!PyCallable_Check(o)) {
    std::string message = "'";
    message += type_name(o);
    message += "' object is not callable";
    raise_type_error(message);
  }
  return ScoreCallable{PyRef::borrow(o), nullptr, nullptr};
}

// ---- the score function

// Holds the interpreter lock for its lifetime, from any thread.
class Gil {
 public:
  Gil() : state_(PyGILState_Ensure()) {}
  ~Gil() { PyGILState_Release(state_); }
  Gil(const Gil&) = delete;
  Gil& operator=(const Gil&) = delete;

 private:
  PyGILState_STATE state_;
};

class CallableScore final : public ScoreFunction {
 public:
  CallableScore(ScoreCallable evaluate, ScoreCallable delta, ScoreCallable delta_row)
      : evaluate_(std::move(evaluate)), delta_(std::move(delta)), delta_row_(std::move(delta_row)) {}
  ~CallableScore() override {
    // The last copy of an evaluation may go on a thread that does not hold the lock.
    Gil gil;
    evaluate_.owner = PyRef();
    delta_.owner = PyRef();
    delta_row_.owner = PyRef();
    spare_ = PyRef();
  }

  double evaluate(std::span<const Word> s) const override {
    if (evaluate_.native != nullptr) {
      return reinterpret_cast<NativeEvaluate>(evaluate_.native)(
          s.data(), static_cast<std::intptr_t>(s.size()), evaluate_.user_data);
    }
    Gil gil;
    if (callbacks_stopped()) return kNoScore;
    try {
      SolutionView view(spare_, s);
      PyRef result = PyRef::steal(PyObject_CallOneArg(evaluate_.owner.get(), view.get()));
      if (!view.close()) throw_error_set();
      return score_of(result.get(), "evaluate");
    } catch (const ErrorSet&) {
      callback_failed();
      return kNoScore;
    }
  }

  bool has_delta() const noexcept override { return static_cast<bool>(delta_.owner); }

  double delta(std::span<const Word> s, CustomMove kind, Word i, Word j) const override {
    if (delta_.native != nullptr) {
      return reinterpret_cast<NativeDelta>(delta_.native)(
          s.data(), static_cast<std::intptr_t>(s.size()), static_cast<int>(kind),
          static_cast<std::intptr_t>(i), static_cast<std::intptr_t>(j), delta_.user_data);
    }
    Gil gil;
    if (callbacks_stopped()) return kNoScore;
    try {
      SolutionView view(spare_, s);
      PyRef k = PyRef::steal(PyLong_FromLong(static_cast<long>(kind)));
      PyRef pi = PyRef::steal(PyLong_FromUnsignedLong(i));
      PyRef pj = PyRef::steal(PyLong_FromUnsignedLong(j));
      PyObject* args[] = {view.get(), k.get(), pi.get(), pj.get()};
      PyRef result = PyRef::steal(PyObject_Vectorcall(delta_.owner.get(), args, 4, nullptr));
      if (!view.close()) throw_error_set();
      return score_of(result.get(), "delta");
    } catch (const ErrorSet&) {
      callback_failed();
      return kNoScore;
    }
  }

  bool has_delta_row() const noexcept override { return static_cast<bool>(delta_row_.owner); }

  void delta_row(std::span<const Word> s, CustomMove kind, Word i, Word j_begin, Word j_end,
                 std::span<double> out) const override {
    if (delta_row_.native != nullptr) {
      reinterpret_cast<NativeDeltaRow>(delta_row_.native)(
          s.data(), static_cast<std::intptr_t>(s.size()), static_cast<int>(kind),
          static_cast<std::intptr_t>(i), static_cast<std::intptr_t>(j_begin),
          static_cast<std::intptr_t>(j_end), out.data(), delta_row_.user_data);
      return;
    }
    Gil gil;
    if (!callbacks_stopped()) {
      try {
        SolutionView view(spare_, s);
        PyRef k = PyRef::steal(PyLong_FromLong(static_cast<long>(kind)));
        PyRef pi = PyRef::steal(PyLong_FromUnsignedLong(i));
        PyRef pb = PyRef::steal(PyLong_FromUnsignedLong(j_begin));
        PyRef pe = PyRef::steal(PyLong_FromUnsignedLong(j_end));
        PyObject* args[] = {view.get(), k.get(), pi.get(), pb.get(), pe.get()};
        PyRef result = PyRef::steal(PyObject_Vectorcall(delta_row_.owner.get(), args, 5, nullptr));
        if (!view.close()) throw_error_set();
        scores_of(result.get(), out);
        return;
      } catch (const ErrorSet&) {
        callback_failed();
      }
    }
    std::fill(out.begin(), out.end(), kNoScore);
  }

  NativeEntries native() const noexcept override {
    NativeEntries entries;
    if (evaluate_.native != nullptr) {
      entries.evaluate = reinterpret_cast<NativeEvaluate>(evaluate_.native);
      entries.evaluate_data = evaluate_.user_data;
    }
    if (delta_.native != nullptr) {
      entries.delta = reinterpret_cast<NativeDelta>(delta_.native);
      entries.delta_data = delta_.user_data;
    }
    if (delta_row_.native != nullptr) {
      entries.delta_row = reinterpret_cast<NativeDeltaRow>(delta_row_.native);
      entries.delta_row_data = delta_row_.user_data;
    }
    return entries;
  }

  PyRef objects() const {
    PyObject* delta = delta_.owner ? delta_.owner.get() : Py_None;
    PyObject* delta_row = delta_row_.owner ? delta_row_.owner.get() : Py_None;
    return PyRef::steal(PyTuple_Pack(3, evaluate_.owner.get(), delta, delta_row));
  }

 private:
  ScoreCallable evaluate_;
  ScoreCallable delta_;
  ScoreCallable delta_row_;
  // The solution buffer of the last call that kept no view of it, for the next call to copy
  // into; read and changed only with the interpreter lock held.
  mutable PyRef spare_;
};

}  // namespace

ScoreCallable EvaluateArg::convert(PyObject* o) {
  return score_callable(o, kEvaluateSignature, kEvaluateCanonical);
}

ScoreCallable DeltaArg::convert(PyObject* o) {
  return score_callable(o, kDeltaSignature, kDeltaCanonical);
}

ScoreCallable DeltaRowArg::convert(PyObject* o) {
  return score_callable(o, kDeltaRowSignature, kDeltaRowCanonical);
}

std::shared_ptr<const ScoreFunction> make_score_function(ScoreCallable evaluate, ScoreCallable delta,
                                                         ScoreCallable delta_row) {
  return std::make_shared<const CallableScore>(std::move(evaluate), std::move(delta),
                                               std::move(delta_row));
}

PyRef score_function_objects(const ScoreFunction& score) {
  const auto* callables = dynamic_cast<const CallableScore*>(&score);
  if (callables == nullptr) return PyRef();
  return callables->objects();
}

namespace {

PyRef shared_callable(PyObject* callable) {
  PyRef module = PyRef::steal(PyImport_ImportModule("kestrum_tools._custom"));
  PyRef wrapper = PyRef::steal(PyObject_GetAttrString(module.get(), "SharedCallable"));
  return PyRef::steal(PyObject_CallOneArg(wrapper.get(), callable));
}

}  // namespace

PyRef score_function_callables(const ScoreFunctionTable& table) {
  const auto& entries = table.entries();
  PyRef out = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(entries.size())));
  for (std::size_t k = 0; k < entries.size(); ++k) {
    PyRef objects = score_function_objects(*entries[k]);
    if (!objects) raise_type_error("the evaluation's score function was not built from Python objects");
    // (evaluate, delta), with delta_row after them only when there is one.
    const Py_ssize_t count = PyTuple_GET_ITEM(objects.get(), 2) == Py_None ? 2 : 3;
    PyRef entry = PyRef::steal(PyTuple_New(count));
    for (Py_ssize_t m = 0; m < count; ++m) {
      PyObject* callable = PyTuple_GET_ITEM(objects.get(), m);
      PyRef wrapped = callable == Py_None ? PyRef::borrow(Py_None) : shared_callable(callable);
      PyTuple_SET_ITEM(entry.get(), m, wrapped.release());
    }
    PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(k), entry.release());
  }
  return out;
}

ScoreFunctions ScoreFunctionsArg::convert(PyObject* o) {
  constexpr const char* kShape = "callables must be a sequence of (evaluate, delta) pairs or (evaluate, delta, delta_row) triples";
  // A tuple, which holds each entry while the callables are checked (that may run code).
  PyRef entries = PyRef::steal_or_null(PySequence_Tuple(o));
  if (!entries) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw_error_set();
    PyErr_Clear();
    raise_type_error(kShape);
  }
  ScoreFunctions out;
  const Py_ssize_t count = PyTuple_GET_SIZE(entries.get());
  out.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* entry = PyTuple_GET_ITEM(entries.get(), k);
    if (!PyTuple_Check(entry) || PyTuple_GET_SIZE(entry) < 2 || PyTuple_GET_SIZE(entry) > 3) {
      raise_type_error(kShape);
    }
    ScoreCallable evaluate = EvaluateArg::convert(PyTuple_GET_ITEM(entry, 0));
    PyObject* delta_object = PyTuple_GET_ITEM(entry, 1);
    ScoreCallable delta = delta_object == Py_None ? ScoreCallable{} : DeltaArg::convert(delta_object);
    PyObject* row_object = PyTuple_GET_SIZE(entry) == 3 ? PyTuple_GET_ITEM(entry, 2) : Py_None;
    ScoreCallable delta_row = row_object == Py_None ? ScoreCallable{} : DeltaRowArg::convert(row_object);
    out.push_back(make_score_function(std::move(evaluate), std::move(delta), std::move(delta_row)));
  }
  return out;
}

bool restore_pending_callback_error() {
  if (t_pending == nullptr) return false;
  PyErr_SetRaisedException(std::exchange(t_pending, nullptr));
  return true;
}

CallbackFailures::~CallbackFailures() {
  if (t_pending != nullptr) Py_DECREF(std::exchange(t_pending, nullptr));
}

void CallbackFailures::raise_if_any() {
  if (restore_pending_callback_error()) throw_error_set();
}

void add_custom_constants(PyObject* module) {
  if (PyModule_AddIntConstant(module, "MOVE_REVERSE", static_cast<long>(CustomMove::kReverse)) < 0 ||
      PyModule_AddIntConstant(module, "MOVE_SWAP", static_cast<long>(CustomMove::kSwap)) < 0) {
    throw_error_set();
  }
}

}  // namespace kestrum::py
