// Evaluation, MoveType and Problem: building and driving problems from Python.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>

#include "aidfunc/io.hpp"
#include "aidfunc/library_formats.hpp"
#include "lib/buffers.hpp"
#include "lib/custom_callables.hpp"
#include "lib/dyn.hpp"
#include "lib/envelope.hpp"
#include "lib/pickling.hpp"
#include "lib/run_host.hpp"
#include "lib/wrappers.hpp"
#include "problem/array_problem.hpp"
#include "problem/permutation.hpp"
#include "support/rng.hpp"

namespace kestrum::py {
namespace {

// ---- Evaluation

// A list of floats; numeric buffers (numpy arrays and the like) are copied in one go.
struct FloatList {
  using type = std::vector<double>;
  static type convert(PyObject* o) {
    check_list_argument(o);
    type out;
    std::vector<std::size_t> shape;
    if (read_numeric_buffer(o, 1, out, shape)) return out;
    return ListOf<F64>::convert(o);
  }
};

// A list of lists of floats, read straight into the matrix's contiguous storage; a 2-D
// numeric buffer (or rows that are 1-D buffers) is copied without a Python object per entry.
// A 2-D buffer is kept as its shape alone: its row count costs nothing by itself.
struct MatrixArg {
  using type = Matrix;
  static Matrix convert(PyObject* o) {
    std::vector<double> data;
    std::vector<std::size_t> row_lengths;
    std::vector<std::size_t> shape;
    check_list_argument(o);
    if (read_numeric_buffer(o, 2, data, shape)) return Matrix(std::move(data), shape[0], shape[1]);
    for_each_item(
        o, [&](std::size_t n) { row_lengths.reserve(n); },
        [&](PyObject* row) {
          const std::size_t before = data.size();
          check_list_argument(row);
          if (!read_numeric_buffer(row, 1, data, shape)) {
            for_each_item(
                row,
                [&](std::size_t n) {
                  // Grow geometrically: an exact reserve per row would copy the matrix
                  // once per row.
                  if (data.capacity() < before + n) data.reserve(std::max(before + n, 2 * data.capacity()));
                },
                [&](PyObject* x) { data.push_back(F64::convert(x)); });
          }
          row_lengths.push_back(data.size() - before);
        });
    return Matrix(std::move(data), row_lengths);
  }
};

constexpr Signature kEmptyBins{"Evaluation", "empty_bins", {"weights", "max_fill"}, 2};
PyObject* empty_bins(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [weights, max_fill] = bind<FloatList, F64>(kEmptyBins, a, n, kw);
    return new_instance<DynEvaluation>(Evaluation::empty_bins(std::move(weights), max_fill));
  });
}

constexpr Signature kEmptySpace{"Evaluation", "empty_space", {"weights", "max_fill"}, 2};
PyObject* empty_space(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [weights, max_fill] = bind<FloatList, F64>(kEmptySpace, a, n, kw);
    return new_instance<DynEvaluation>(Evaluation::empty_space(std::move(weights), max_fill));
  });
}

constexpr Signature kEmptySpaceExp{"Evaluation", "empty_space_exp", {"weights", "max_fill"}, 2};
PyObject* empty_space_exp(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [weights, max_fill] = bind<FloatList, F64>(kEmptySpaceExp, a, n, kw);
    return new_instance<DynEvaluation>(Evaluation::empty_space_exp(std::move(weights), max_fill));
  });
}

constexpr Signature kTsp{"Evaluation", "tsp", {"distance_matrix"}, 1};
PyObject* tsp(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [matrix] = bind<MatrixArg>(kTsp, a, n, kw);
    return new_instance<DynEvaluation>(Evaluation::tsp(std::move(matrix)));
  });
}

// n points: an (n, 2) numeric buffer, or a sequence of pairs (each a sequence of two numbers
// or a 1-D buffer of two). A shape other than (n, 2) is a ValueError naming it.
[[noreturn]] void raise_value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  throw_error_set();
}

std::string shape_text(const Py_buffer& view) {
  std::string text = "(";
  for (int d = 0; d < view.ndim; ++d) {
    if (d > 0) text += ", ";
    text += std::to_string(view.shape[d]);
  }
  return text + (view.ndim == 1 ? ",)" : ")");
}

struct PointsArg {
  using type = std::vector<double>;
  static type convert(PyObject* o) {
    check_list_argument(o);
    std::vector<double> xy;
    std::vector<std::size_t> shape;
    if (PyObject_CheckBuffer(o)) {
      Py_buffer view;
      if (PyObject_GetBuffer(o, &view, PyBUF_STRIDED_RO | PyBUF_FORMAT) == 0) {
        const bool pairs = view.ndim == 2 && view.shape[1] == 2;
        const std::string text = shape_text(view);
        PyBuffer_Release(&view);
        if (!pairs) raise_value_error("points must have shape (n, 2), got " + text);
      } else {
        PyErr_Clear();
      }
      if (read_numeric_buffer(o, 2, xy, shape)) return xy;
    }
    std::size_t index = 0;
    for_each_item(
        o, [&](std::size_t n) { xy.reserve(2 * n); },
        [&](PyObject* pair) {
          const std::size_t before = xy.size();
          check_list_argument(pair);
          if (!read_numeric_buffer(pair, 1, xy, shape)) {
            for_each_item(pair, [](std::size_t) {}, [&](PyObject* x) { xy.push_back(F64::convert(x)); });
          }
          if (xy.size() - before != 2) {
            raise_value_error("point " + std::to_string(index) + " has " +
                              std::to_string(xy.size() - before) + " coordinates, expected 2");
          }
          ++index;
        });
    return xy;
  }
};

[[nodiscard]] Evaluation points_evaluation(std::vector<double> xy, PointMetric metric) {
  Result<Points> points = Points::make(std::move(xy), metric);
  if (!points.ok()) raise_value_error(points.error().text);
  return Evaluation::tsp_points(std::move(points).value());
}

constexpr Signature kTspFromPoints =
    Signature{"Evaluation", "tsp_from_points", {"points", "metric"}, 1}.with_default(1, "'euclidean'");
PyObject* tsp_from_points(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [xy, metric_name] = bind<PointsArg, Optional<Text>>(kTspFromPoints, a, n, kw);
    const std::string name = metric_name.value_or("euclidean");
    const std::optional<PointMetric> metric = point_metric_named(name);
    if (!metric) {
      raise_value_error("unknown metric '" + name +
                        "': expected 'euclidean', 'euc_2d', 'ceil_2d', 'att' or 'geo'");
    }
    return new_instance<DynEvaluation>(points_evaluation(std::move(xy), *metric));
  });
}

constexpr Signature kQap{"Evaluation", "qap", {"distance_matrix", "flow_matrix"}, 2};
PyObject* qap(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [distances, flows] = bind<MatrixArg, MatrixArg>(kQap, a, n, kw);
    return new_instance<DynEvaluation>(
        Evaluation::qap(std::move(distances), std::move(flows)));
  });
}

constexpr Signature kCustom =
    Signature{"Evaluation", "custom", {"size", "evaluate", "delta", "delta_row"}, 2}.keyword_only_from(3);
PyObject* custom(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [size, evaluate, delta, delta_row] =
        bind<U32, EvaluateArg, Optional<DeltaArg>, Optional<DeltaRowArg>>(kCustom, a, n, kw);
    return new_instance<DynEvaluation>(Evaluation::custom(
        size, make_score_function(std::move(evaluate), delta ? std::move(*delta) : ScoreCallable{},
                                  delta_row ? std::move(*delta_row) : ScoreCallable{})));
  });
}

constexpr Signature kBinPacking{"Evaluation", "bin_packing", {"weights", "capacity"}, 2};
PyObject* bin_packing(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [weights, capacity] = bind<FloatList, F64>(kBinPacking, a, n, kw);
    Result<Evaluation> packing = Evaluation::bin_packing(std::move(weights), capacity);
    if (!packing.ok()) raise_value_error(packing.error().text);
    return new_instance<DynEvaluation>(std::move(packing).value());
  });
}

// Reader errors become OSError or the subclass its error number names.
[[noreturn]] void raise_reader_error(const ReaderError& error) {
  PyObject* type = error.kind == ErrorKind::Malformed ? PyExc_ValueError : PyExc_OSError;
  if (error.kind == ErrorKind::Os) {
    switch (error.os_errno) {
      case ENOENT: type = PyExc_FileNotFoundError; break;
      case EPERM:
      case EACCES: type = PyExc_PermissionError; break;
      case ECONNREFUSED: type = PyExc_ConnectionRefusedError; break;
      case ECONNRESET: type = PyExc_ConnectionResetError; break;
      case ECONNABORTED: type = PyExc_ConnectionAbortedError; break;
      case EPIPE: type = PyExc_BrokenPipeError; break;
      case EEXIST: type = PyExc_FileExistsError; break;
      case EAGAIN: type = PyExc_BlockingIOError; break;
      case ETIMEDOUT: type = PyExc_TimeoutError; break;
      case EINTR: type = PyExc_InterruptedError; break;
      default: break;
    }
  }
  // One argument, the text: the exception is built by calling the class, not through errno
  // handling, so OSError does not pick a subclass of its own.
  PyRef text = PyRef::steal(
      PyUnicode_FromStringAndSize(error.text.data(), static_cast<Py_ssize_t>(error.text.size())));
  PyRef exc = PyRef::steal(PyObject_CallOneArg(type, text.get()));
  PyErr_SetObject(type, exc.get());
  throw_error_set();
}

// A file argument: a str, or an os.PathLike (pathlib.Path) whose __fspath__ gives a str or
// bytes (bytes are the path as the system stores it). Anything else, bytes included, is
// refused as a str argument refuses it.
struct FilePath {
  using type = std::string;
  static std::string convert(PyObject* o) {
    if (PyUnicode_Check(o)) return Text::convert(o);
    if (PyBytes_Check(o) ||
        !PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__fspath__")) {
      raise_cannot_convert(o, "PyString");
    }
    PyRef path = PyRef::steal(PyOS_FSPath(o));
    if (PyBytes_Check(path.get())) {
      return std::string(PyBytes_AS_STRING(path.get()),
                         static_cast<std::size_t>(PyBytes_GET_SIZE(path.get())));
    }
    return Text::convert(path.get());
  }
};

// A read matrix becomes the evaluation's storage as it is, without a copy.
Matrix adopt(SquareMatrix&& matrix) {
  const std::vector<std::size_t> row_lengths(matrix.n, matrix.n);
  return Matrix(std::move(matrix.data), row_lengths);
}

// Opens, reads and parses without the interpreter lock, as runs do: a FIFO fed by another
// thread of the process can be written to while the reader waits, and a large file holds no
// other thread up. Pending signals are still run as the reader goes (the interrupt hook takes
// the lock back for them), so Ctrl-C, or a SIGINT sent by another thread, stops it.
template <class Read>
auto read_released(Read&& read) {
  WithoutGil released;
  return std::forward<Read>(read)();
}

template <class Reader>
PyRef tsp_from_file(const Signature& sig, PyObject* const* a, Py_ssize_t n, PyObject* kw,
                    Reader read) {
  auto [file] = bind<FilePath>(sig, a, n, kw);
  auto result = read_released([&] { return read(file); });
  if (!result.ok()) raise_reader_error(result.error());
  return new_instance<DynEvaluation>(Evaluation::tsp(adopt(std::move(result).value())));
}

constexpr Signature kTspFromDistMatrix{"Evaluation", "tsp_from_dist_matrix", {"file"}, 1};
PyObject* tsp_from_dist_matrix(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] { return tsp_from_file(kTspFromDistMatrix, a, n, kw, read_distance_matrix); });
}

constexpr Signature kTspFromCoord2d{"Evaluation", "tsp_from_coord2d", {"file"}, 1};
PyObject* tsp_from_coord2d(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded(
      [&] { return tsp_from_file(kTspFromCoord2d, a, n, kw, read_coord2d_to_distance_matrix); });
}

constexpr Signature kTspFromDms{"Evaluation", "tsp_from_dms", {"file"}, 1};
PyObject* tsp_from_dms(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] { return tsp_from_file(kTspFromDms, a, n, kw, read_dms_to_distance_matrix); });
}

// dense=False keeps a file of coordinates as its points (O(n) memory) instead of a matrix.
constexpr Signature kTspFromTsplib =
    Signature{"Evaluation", "tsp_from_tsplib", {"file", "dense"}, 1}.keyword_only_from(1).with_default(1, "True");
PyObject* tsp_from_tsplib(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [file, dense] = bind<FilePath, Optional<Bool>>(kTspFromTsplib, a, n, kw);
    if (dense.value_or(true)) {
      auto result = read_released([&] { return read_tsplib(file); });
      if (!result.ok()) raise_reader_error(result.error());
      return new_instance<DynEvaluation>(Evaluation::tsp(adopt(std::move(result).value())));
    }
    auto result = read_released([&] { return read_tsplib_points(file); });
    if (!result.ok()) raise_reader_error(result.error());
    auto read = std::move(result).value();
    if (auto* points = std::get_if<TsplibPoints>(&read)) {
      return new_instance<DynEvaluation>(points_evaluation(std::move(points->xy), points->metric));
    }
    return new_instance<DynEvaluation>(Evaluation::tsp(adopt(std::get<SquareMatrix>(std::move(read)))));
  });
}

constexpr Signature kQapFromQaplib{"Evaluation", "qap_from_qaplib", {"file"}, 1};
PyObject* qap_from_qaplib(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [file] = bind<FilePath>(kQapFromQaplib, a, n, kw);
    auto result = read_released([&] { return read_qaplib(file); });
    if (!result.ok()) raise_reader_error(result.error());
    auto [distances, flows] = std::move(result).value();
    return new_instance<DynEvaluation>(
        Evaluation::qap(adopt(std::move(distances)), adopt(std::move(flows))));
  });
}

// ---- What an evaluation is, read back

PyObject* evaluation_kind(PyObject* self, void*) noexcept {
  return guarded([&] { return PyRef::steal(PyUnicode_FromString(self_of<DynEvaluation>(self).value.name())); });
}

PyObject* evaluation_symmetric(PyObject* self, void*) noexcept {
  return guarded([&] {
    const std::optional<bool> symmetric = self_of<DynEvaluation>(self).value.symmetric();
    if (!symmetric) return none();
    return PyRef::borrow(*symmetric ? Py_True : Py_False);
  });
}

// ---- MoveType

using Seed = Optional<U64>;

constexpr Signature kSwap{"MoveType", "swap", {"seed"}, 0};
PyObject* swap(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [seed] = bind<Seed>(kSwap, a, n, kw);
    return new_instance<DynMoveType>(MoveType::swap(seed));
  });
}

constexpr Signature kReverse{"MoveType", "reverse", {"seed"}, 0};
PyObject* reverse(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [seed] = bind<Seed>(kReverse, a, n, kw);
    return new_instance<DynMoveType>(MoveType::reverse(seed));
  });
}

constexpr Signature kSwapTsp{"MoveType", "swap_tsp", {"seed"}, 0};
PyObject* swap_tsp(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [seed] = bind<Seed>(kSwapTsp, a, n, kw);
    return new_instance<DynMoveType>(MoveType::tsp(seed));
  });
}

constexpr Signature kOrOpt{"MoveType", "or_opt", {"seed"}, 0};
PyObject* or_opt(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [seed] = bind<Seed>(kOrOpt, a, n, kw);
    return new_instance<DynMoveType>(MoveType::or_opt(seed));
  });
}

constexpr Signature kMultiNeighbor{"MoveType", "multi_neighbor", {"move_array", "weights"}, 1};
PyObject* multi_neighbor(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [move_array, weights] =
        bind<ListOf<Instance<DynMoveType>>, Optional<FloatList>>(kMultiNeighbor, a, n, kw);
    std::vector<SimpleMoveType> members;
    members.reserve(move_array.size());
    for (const auto& held : move_array) {
      const SimpleMoveType* simple = held->value.simple();
      if (simple == nullptr) {
        PyErr_SetString(PyExc_ValueError, "Can't have multi neighbor in multiNeighbor");
        throw_error_set();
      }
      members.push_back(*simple);
    }
    return new_instance<DynMoveType>(MoveType::multi_neighbor(std::move(members), std::move(weights)));
  });
}

// ---- Problem

constexpr Signature kArrayProblem{"Problem", "array_problem", {"move_type", "evaluation"}, 2};
PyObject* array_problem(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [move_type, evaluation] =
        bind<Instance<DynMoveType>, Instance<DynEvaluation>>(kArrayProblem, a, n, kw);
    return new_instance<DynProblem>(
        Shared<Problem>::make<ArrayProblem>(move_type->value, evaluation->value));
  });
}

ArrayProblem& array_of(Problem& p) {
  ArrayProblem* array = p.as_array_problem();
  if (array == nullptr) fatal("the problem does not hold a solution array");
  return *array;
}

constexpr Signature kSetEvalType{"Problem", "set_eval_type", {"eval_type"}, 1, Receiver::Self};
PyObject* set_eval_type(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [evaluation] = bind<Instance<DynEvaluation>>(kSetEvalType, a, n, kw);
    // A custom evaluation's callables are written for its declared size (a native one reads
    // that many positions), so it only replaces the evaluation of a problem of that size.
    // Checked under the lock (the size lives there) and raised after it, as set_solution does.
    auto error = with_locked<DynProblem>(self, [&](Problem& p) -> std::optional<std::string> {
      const Evaluation& next = evaluation->value;
      const std::size_t size = array_of(p).size();
      if (next.fixed_size() && next.size() != size) {
        return std::string("a ") + next.name() + " evaluation of size " + std::to_string(next.size()) +
               " cannot score a problem of size " + std::to_string(size);
      }
      p.set_eval_type(next);
      return std::nullopt;
    });
    if (error) raise_value_error(*error);
    return none();
  });
}

constexpr Signature kSetMoveType{"Problem", "set_move_type", {"move_type"}, 1, Receiver::Self};
PyObject* set_move_type(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [move_type] = bind<Instance<DynMoveType>>(kSetMoveType, a, n, kw);
    with_locked<DynProblem>(self, [&](Problem& p) { p.set_move_type(move_type->value); });
    return none();
  });
}

constexpr Signature kReset{"Problem", "reset", {}, 0, Receiver::Self};
PyObject* reset(PyObject* self, PyObject*) noexcept {
  return guarded([&] {
    with_locked<DynProblem>(self, [](Problem& p) { p.reset(); });
    return none();
  });
}

constexpr Signature kShuffle{"Problem", "shuffle", {"seed"}, 0, Receiver::Self};
PyObject* shuffle(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [seed] = bind<Seed>(kShuffle, a, n, kw);
    // Without a seed one is drawn from the OS, as for a move type built without one.
    const std::uint64_t s = seed ? *seed : seed_from_entropy();
    with_locked<DynProblem>(self, [&](Problem& p) { p.shuffle(s); });
    return none();
  });
}

constexpr Signature kEval{"Problem", "eval", {}, 0, Receiver::Self};
PyObject* eval(PyObject* self, PyObject*) noexcept {
  return guarded([&] {
    CallbackFailures failures;  // a custom evaluation's callback may fail: raised after the lock
    double score = with_locked<DynProblem>(self, [](Problem& p) { return p.eval(); });
    failures.raise_if_any();
    return PyRef::steal(PyFloat_FromDouble(score));
  });
}

constexpr Signature kSetSeed{"Problem", "set_seed", {"seed"}, 1, Receiver::Self};
PyObject* set_seed(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [seed] = bind<U64>(kSetSeed, a, n, kw);
    with_locked<DynProblem>(self, [&](Problem& p) { p.set_seed(seed); });
    return none();
  });
}

// ---- Results out and warm starts

PyRef words_to_list(const std::vector<Word>& words) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(words.size())));
  for (std::size_t k = 0; k < words.size(); ++k) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k),
                    PyRef::steal(PyLong_FromUnsignedLong(words[k])).release());
  }
  return list;
}

constexpr Signature kSolution{"Problem", "solution", {}, 0, Receiver::Self};
PyObject* solution(PyObject* self, PyObject*) noexcept {
  return guarded([&] {
    auto words = with_locked<DynProblem>(self, [](Problem& p) {
      auto s = array_of(p).solution();
      return std::vector<Word>(s.begin(), s.end());
    });
    return words_to_list(words);
  });
}

constexpr Signature kBestSolution{"Problem", "best_solution", {}, 0, Receiver::Self};
PyObject* best_solution(PyObject* self, PyObject*) noexcept {
  return guarded([&] {
    auto words = with_locked<DynProblem>(self, [](Problem& p) {
      auto s = array_of(p).best_solution();
      return std::vector<Word>(s.begin(), s.end());
    });
    return words_to_list(words);
  });
}

// An integer entry of a permutation; values that do not fit are kept as "out of range".
struct Entry {
  using type = std::int64_t;
  static constexpr std::int64_t kHuge = -1;
  static std::int64_t convert(PyObject* o) {
    PyRef index = PyRef::steal(PyNumber_Index(o));
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw_error_set();
    return overflow != 0 ? kHuge : v;
  }
};

constexpr Signature kSetSolution{"Problem", "set_solution", {"permutation"}, 1, Receiver::Self};
PyObject* set_solution(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) noexcept {
  return guarded([&] {
    auto [entries] = bind<ListOf<Entry>>(kSetSolution, a, n, kw);
    // Validated under the lock (the size lives there) but raised after it: a refused
    // permutation is an argument error, not a failure of the problem.
    auto error = with_locked<DynProblem>(self, [&](Problem& p) {
      ArrayProblem& array = array_of(p);
      auto why = permutation_error(std::span<const std::int64_t>(entries), array.size());
      if (!why) array.set_solution(std::vector<Word>(entries.begin(), entries.end()));
      return why;
    });
    if (error) {
      PyErr_SetString(PyExc_ValueError, error->c_str());
      throw_error_set();
    }
    return none();
  });
}

}  // namespace

PyMethodDef* DynEvaluation::methods() {
  static PyMethodDef table[] = {
      method(empty_bins, kEmptyBins),
      method(empty_space, kEmptySpace),
      method(empty_space_exp, kEmptySpaceExp),
      method(tsp, kTsp),
      method(qap, kQap),
      method(tsp_from_dist_matrix, kTspFromDistMatrix),
      method(tsp_from_coord2d, kTspFromCoord2d),
      method(tsp_from_dms, kTspFromDms),
      method(tsp_from_tsplib, kTspFromTsplib),
      method(qap_from_qaplib, kQapFromQaplib),
      method(tsp_from_points, kTspFromPoints),
      method(custom, kCustom),
      method(bin_packing, kBinPacking),
      from_state_method<DynEvaluation>(),
      reduce_method<DynEvaluation>(),
      kMethodsEnd,
  };
  return table;
}

PyGetSetDef* DynEvaluation::properties() {
  static PyGetSetDef table[] = {
      {"kind", evaluation_kind, nullptr,
       "The factory family that built it: 'empty_bins', 'empty_space', 'empty_space_exp', 'tsp', "
       "'tsp_points', 'qap' or 'custom'.",
       nullptr},
      {"symmetric", evaluation_symmetric, nullptr,
       "For a tour or an assignment, whether the matrices its score reads are symmetric; None otherwise.",
       nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  return table;
}

PyMethodDef* DynMoveType::methods() {
  static PyMethodDef table[] = {
      method(swap, kSwap),
      method(reverse, kReverse),
      method(swap_tsp, kSwapTsp),
      method(multi_neighbor, kMultiNeighbor),
      method(or_opt, kOrOpt),
      from_state_method<DynMoveType>(),
      reduce_method<DynMoveType>(),
      kMethodsEnd,
  };
  return table;
}

PyMethodDef* DynProblem::methods() {
  static PyMethodDef table[] = {
      method(array_problem, kArrayProblem),
      method(set_eval_type, kSetEvalType),
      method(set_move_type, kSetMoveType),
      method(reset, kReset),
      method(eval, kEval),
      method(set_seed, kSetSeed),
      method(solution, kSolution),
      method(best_solution, kBestSolution),
      method(set_solution, kSetSolution),
      method(shuffle, kShuffle),
      from_state_method<DynProblem>(),
      reduce_method<DynProblem>(),
      kMethodsEnd,
  };
  return table;
}

}  // namespace kestrum::py
