// Saved state: field layouts of the seven classes and their validating readers.
#include "lib/saved_state.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <variant>

#include "local_search/iterated_local_search/iterated_local_search.hpp"
#include "local_search/simulated_annealing/simulated_annealing.hpp"
#include "local_search/steepest_descent/steepest_descent.hpp"
#include "local_search/tabu_search/tabu_search.hpp"
#include "local_search/vns/variable_neighborhood.hpp"
#include "problem/array_problem.hpp"
#include "support/tags.hpp"

namespace kestrum::py {
namespace {

// Smallest encodings, used to bound counts before allocating: a simple move type is a tag,
// four generator words and a size; a matrix row is at least its length.
constexpr std::size_t kSimpleMoveBytes = 1 + 4 * 4 + 4;
constexpr std::size_t kRowBytes = 8;
constexpr std::size_t kCriterionBytes = 1;

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

std::uint8_t tag(ByteReader& r, std::uint8_t count, const char* what) {
  const std::uint8_t t = r.u8();
  if (t >= count) malformed(std::string(what) + " tag " + std::to_string(t) + " is unknown");
  return t;
}

// ---- floats and matrices

void write_floats(ByteWriter& w, std::span<const double> xs) {
  w.count(xs.size());
  w.f64s(xs);
}

std::vector<double> read_floats(ByteReader& r) {
  std::vector<double> xs(r.count(8));
  r.f64s(xs);
  return xs;
}

void write_matrix(ByteWriter& w, const Matrix& m) {
  w.count(m.rows());
  for (std::size_t a = 0; a < m.rows(); ++a) write_floats(w, m.row_span(a));
}

Matrix read_matrix(ByteReader& r) {
  const std::size_t rows = r.count(kRowBytes);
  std::vector<double> data;
  std::vector<std::size_t> lengths;
  lengths.reserve(rows);
  for (std::size_t a = 0; a < rows; ++a) {
    const std::size_t len = r.count(8);
    const std::size_t start = data.size();
    data.resize(start + len);
    r.f64s(std::span(data).subspan(start));
    lengths.push_back(len);
  }
  return Matrix(std::move(data), lengths);
}

// ---- move types

void write_generator(ByteWriter& w, const Xoshiro128pp& rng, Word size) {
  for (std::uint32_t word : rng.state()) w.u32(word);
  w.u32(size);
}

template <class Simple>
Simple read_simple(ByteReader& r) {
  Xoshiro128pp::State state{};
  for (std::uint32_t& word : state) word = r.u32();
  const Word size = r.u32();
  return Simple{Xoshiro128pp(state), size};
}

// A simple kind is its tag (the MoveKind) and its generator; a move type is a simple kind,
// or the MultiNeighbor tag (one past the simple kinds) followed by its members and weights.
constexpr std::uint8_t kSimpleKinds = std::variant_size_v<SimpleMoveType>;
constexpr std::uint8_t kMultiNeighborTag = 3;

void write_simple(ByteWriter& w, const SimpleMoveType& m) {
  w.u8(static_cast<std::uint8_t>(move_kind(m)));
  std::visit([&](const auto& kind) { write_generator(w, kind.rng, kind.size); }, m);
}

SimpleMoveType read_simple_of(ByteReader& r, MoveKind kind) {
  switch (kind) {
    case MoveKind::kReverse: return read_simple<Reverse>(r);
    case MoveKind::kSwap: return read_simple<Swap>(r);
    case MoveKind::kSwapTsp: return read_simple<SwapTsp>(r);
  }
  unknown_tag("move", kind);
}

SimpleMoveType read_simple_move(ByteReader& r) {
  return read_simple_of(r, static_cast<MoveKind>(tag(r, kSimpleKinds, "neighbourhood member")));
}

void write_move_type(ByteWriter& w, const MoveType& mt) {
  switch (mt.tag()) {
    case MoveType::Tag::kSimple: return write_simple(w, *mt.simple());
    case MoveType::Tag::kMultiNeighbor: {
      const MultiNeighbor& multi = *mt.multi();
      w.u8(kMultiNeighborTag);
      w.count(multi.move_array.size());
      for (const SimpleMoveType& m : multi.move_array) write_simple(w, m);
      write_floats(w, multi.weights);
      return;
    }
  }
  unknown_tag("move type", mt.tag());
}

MoveType read_move_type(ByteReader& r) {
  const std::uint8_t t = tag(r, kSimpleKinds + 1, "move type");
  if (t < kSimpleKinds) return MoveType(read_simple_of(r, static_cast<MoveKind>(t)));
  MultiNeighbor multi;
  const std::size_t members = r.count(kSimpleMoveBytes);
  multi.move_array.reserve(members);
  for (std::size_t k = 0; k < members; ++k) multi.move_array.push_back(read_simple_move(r));
  multi.weights = read_floats(r);
  return MoveType(MoveType::Kind(std::move(multi)));
}

// The positions every neighbourhood of the move type is sized to.
bool sized_to(const MoveType& mt, std::size_t n) {
  switch (mt.tag()) {
    case MoveType::Tag::kSimple: return size_of(*mt.simple()) == n;
    case MoveType::Tag::kMultiNeighbor:
      for (const SimpleMoveType& m : mt.multi()->move_array) {
        if (size_of(m) != n) return false;
      }
      return true;
  }
  unknown_tag("move type", mt.tag());
}

// ---- evaluations

template <class Bins>
void write_bins(ByteWriter& w, const Bins& b) {
  write_floats(w, b.weights);
  w.f64(b.max_fill);
}

void write_evaluation(ByteWriter& w, const Evaluation& e) {
  using Tag = Evaluation::Tag;
  const Evaluation::Kind& kind = e.kind();
  w.u8(static_cast<std::uint8_t>(e.tag()));
  switch (e.tag()) {
    case Tag::kEmptyBins: return write_bins(w, std::get<EmptyBins>(kind));
    case Tag::kEmptySpace: return write_bins(w, std::get<EmptySpace>(kind));
    case Tag::kEmptySpaceExp: return write_bins(w, std::get<EmptySpaceExp>(kind));
    case Tag::kTsp: return write_matrix(w, std::get<Tsp>(kind).distance_matrix);
    case Tag::kQap:
      write_matrix(w, std::get<Qap>(kind).distance_matrix);
      return write_matrix(w, std::get<Qap>(kind).flow_matrix);
    case Tag::kTspPoints: {
      // The metric, then the coordinates as given (x0, y0, x1, y1, ...).
      const Points& points = std::get<TspPoints>(kind).points;
      w.u8(static_cast<std::uint8_t>(points.metric()));
      return write_floats(w, points.coordinates());
    }
  }
  unknown_tag("evaluation", e.tag());
}

Evaluation read_evaluation(ByteReader& r) {
  using Tag = Evaluation::Tag;
  const auto t = static_cast<Tag>(tag(r, std::variant_size_v<Evaluation::Kind>, "evaluation"));
  switch (t) {
    case Tag::kEmptyBins: {
      std::vector<double> weights = read_floats(r);
      return Evaluation::empty_bins(std::move(weights), r.f64());
    }
    case Tag::kEmptySpace: {
      std::vector<double> weights = read_floats(r);
      return Evaluation::empty_space(std::move(weights), r.f64());
    }
    case Tag::kEmptySpaceExp: {
      std::vector<double> weights = read_floats(r);
      return Evaluation::empty_space_exp(std::move(weights), r.f64());
    }
    case Tag::kTsp: {
      Matrix distances = read_matrix(r);
      // The symmetry flag is recomputed from the matrix, as when it was first built; a
      // matrix too ragged for that walk was never a tour matrix.
      try {
        return Evaluation::tsp(std::move(distances));
      } catch (const FatalStop& stop) {
        malformed("the tour matrix cannot be read: " + stop.message);
      }
    }
    case Tag::kQap: {
      Matrix distances = read_matrix(r);
      Matrix flows = read_matrix(r);
      return Evaluation::qap(std::move(distances), std::move(flows));
    }
    case Tag::kTspPoints: {
      const std::uint8_t metric = r.u8();
      if (metric > static_cast<std::uint8_t>(PointMetric::kGeo)) {
        malformed("unknown point metric " + std::to_string(metric));
      }
      Result<Points> points = Points::make(read_floats(r), static_cast<PointMetric>(metric));
      if (!points.ok()) malformed(points.error().text);
      return Evaluation::tsp_points(std::move(points).value());
    }
  }
  unknown_tag("evaluation", t);
}

// ---- criteria

using TF = TerminationFunction;

std::size_t depth_of(const TF& t) {
  const auto deepest = [](const std::vector<TF>& children) {
    std::size_t d = 0;
    for (const TF& c : children) d = std::max(d, depth_of(c));
    return d;
  };
  switch (t.tag()) {
    case TF::Tag::kAlwaysTrue:
    case TF::Tag::kMaxIterations:
    case TF::Tag::kMaxSec:
    case TF::Tag::kMinTemp:
    case TF::Tag::kMustImprove:
    case TF::Tag::kNoImprove: return 1;
    case TF::Tag::kMultiCritAnd: return 1 + deepest(std::get<TF::MultiCritAnd>(t.kind()).children);
    case TF::Tag::kMultiCritOr: return 1 + deepest(std::get<TF::MultiCritOr>(t.kind()).children);
  }
  unknown_tag("criterion", t.tag());
}

void write_termination(ByteWriter& w, const TF& t) {
  using Tag = TF::Tag;
  const TF::Kind& kind = t.kind();
  w.u8(static_cast<std::uint8_t>(t.tag()));
  switch (t.tag()) {
    case Tag::kAlwaysTrue: return;
    case Tag::kMaxIterations:
      w.u32(std::get<TF::MaxIterations>(kind).max_iterations);
      return w.u32(std::get<TF::MaxIterations>(kind).iteration_count);
    case Tag::kMaxSec:
      w.u64(std::get<TF::MaxSec>(kind).max_sec);
      w.i64(std::get<TF::MaxSec>(kind).start.seconds);
      return w.u32(std::get<TF::MaxSec>(kind).start.nanos);
    case Tag::kMinTemp: return w.i32(std::get<TF::MinTemp>(kind).min_temp);
    case Tag::kMultiCritAnd:
    case Tag::kMultiCritOr: {
      const auto& children = t.tag() == Tag::kMultiCritAnd ? std::get<TF::MultiCritAnd>(kind).children
                                                            : std::get<TF::MultiCritOr>(kind).children;
      w.count(children.size());
      for (const TF& c : children) write_termination(w, c);
      return;
    }
    case Tag::kMustImprove: {
      const TF::MustImprove& m = std::get<TF::MustImprove>(kind);
      w.boolean(m.running);
      w.boolean(m.minimize);
      return w.f64(m.best_score);
    }
    case Tag::kNoImprove: {
      const TF::NoImprove& m = std::get<TF::NoImprove>(kind);
      w.boolean(m.running);
      w.boolean(m.minimize);
      w.u32(m.iter_without_imp);
      w.u32(m.non_improvement_count);
      return w.f64(m.best_score);
    }
  }
  unknown_tag("criterion", t.tag());
}

TF read_termination(ByteReader& r, std::size_t depth);

std::vector<TF> read_children(ByteReader& r, std::size_t depth) {
  // Grown as children are read, not sized from the count: a forged count then costs no
  // more memory than the bytes that actually follow.
  const std::size_t count = r.count(kCriterionBytes);
  std::vector<TF> children;
  for (std::size_t k = 0; k < count; ++k) children.push_back(read_termination(r, depth + 1));
  return children;
}

// `depth` is the criterion's level: 1 at the top, one more inside each combination.
TF read_termination(ByteReader& r, std::size_t depth) {
  if (depth > kMaxCriterionDepth) {
    malformed("criteria nest deeper than " + std::to_string(kMaxCriterionDepth));
  }
  using Tag = TF::Tag;
  const auto t = static_cast<Tag>(tag(r, std::variant_size_v<TF::Kind>, "criterion"));
  switch (t) {
    case Tag::kAlwaysTrue: return TF(TF::AlwaysTrue{});
    case Tag::kMaxIterations: {
      TF::MaxIterations m;
      m.max_iterations = r.u32();
      m.iteration_count = r.u32();
      return TF(m);
    }
    case Tag::kMaxSec: {
      TF::MaxSec m;
      m.max_sec = r.u64();
      m.start.seconds = r.i64();
      m.start.nanos = r.u32();
      if (m.start.nanos >= kNanosPerSecond) malformed("a start instant has nanoseconds above 999999999");
      return TF(m);
    }
    case Tag::kMinTemp: return TF(TF::MinTemp{r.i32()});
    case Tag::kMultiCritAnd: return TF(TF::MultiCritAnd{read_children(r, depth)});
    case Tag::kMultiCritOr: return TF(TF::MultiCritOr{read_children(r, depth)});
    case Tag::kMustImprove: {
      TF::MustImprove m;
      m.running = r.boolean();
      m.minimize = r.boolean();
      m.best_score = r.f64();
      return TF(m);
    }
    case Tag::kNoImprove: {
      TF::NoImprove m;
      m.running = r.boolean();
      m.minimize = r.boolean();
      m.iter_without_imp = r.u32();
      m.non_improvement_count = r.u32();
      m.best_score = r.f64();
      return TF(m);
    }
  }
  unknown_tag("criterion", t);
}

// ---- problems

void write_problem(ByteWriter& w, const Problem& problem) {
  // Every problem built from Python is an array problem; const_cast only reaches the
  // accessor, nothing is changed.
  const ArrayProblem* array = const_cast<Problem&>(problem).as_array_problem();
  if (array == nullptr) fatal("the problem does not hold a solution array");
  write_evaluation(w, array->evaluation());
  write_move_type(w, array->move_type());
  const std::span<const Word> current = array->solution();
  const std::span<const Word> best = array->best_solution();
  w.count(current.size());
  w.u32s(current);
  w.u32s(best);
}

std::vector<Word> read_permutation(ByteReader& r, std::size_t n, const char* which) {
  std::vector<Word> p(n);
  r.u32s(p);
  std::vector<bool> seen(n, false);
  for (const Word v : p) {
    if (v >= n || seen[v]) {
      malformed(std::string("the ") + which + " solution is not a permutation of 0.." +
                std::to_string(n) + " - 1");
    }
    seen[v] = true;
  }
  return p;
}

ArrayProblem read_problem(ByteReader& r) {
  Evaluation evaluation = read_evaluation(r);
  MoveType move_type = read_move_type(r);
  const std::size_t n = r.count(2 * 4);  // a current and a best entry per position
  std::vector<Word> current = read_permutation(r, n, "current");
  std::vector<Word> best = read_permutation(r, n, "best");
  if (!sized_to(move_type, n)) {
    malformed("the move type is not sized to the " + std::to_string(n) + " positions of the solution");
  }
  // The constructor sizes the solution to the evaluation; the saved solution may differ in
  // length (set_eval_type does not resize), so both solutions are put back explicitly and
  // the move type is sized again to the restored length (which it already has).
  ArrayProblem problem(move_type, evaluation);
  problem.restore_solutions(std::move(current), std::move(best));
  problem.set_move_type(std::move(move_type));
  return problem;
}

// ---- searches

// Marks the run settings that follow a search's problem.
constexpr std::uint8_t kRunSettingsMark = 0x52;

Shared<LocalSearch> build_search(SearchFields::Kind kind, bool minimize, const TerminationFunction& termination,
                                 const SearchFields& f, const Shared<Problem>& problem);

void write_search(ByteWriter& w, const SearchFields& f, const Problem& problem) {
  w.u8(static_cast<std::uint8_t>(f.kind));
  w.boolean(f.minimize);
  write_termination(w, f.termination);
  switch (f.kind) {
    case SearchFields::Kind::kSteepestDescent: break;
    case SearchFields::Kind::kSimulatedAnnealing:
      w.u32(f.start_temp);
      w.u32(f.temperature);
      w.f64(f.alpha);
      w.u32(f.iterations_temperature);
      w.boolean(f.acceptance_seed.has_value());
      if (f.acceptance_seed) w.u64(*f.acceptance_seed);
      break;
    case SearchFields::Kind::kTabuSearch: w.u32(f.tabu_list_size); break;
    case SearchFields::Kind::kVns: w.u32(f.neighbor_index); break;
    case SearchFields::Kind::kIteratedLocalSearch:
      w.u32(f.neighbours);
      w.boolean(f.seed.has_value());
      if (f.seed) w.u64(*f.seed);
      break;
  }
  write_problem(w, problem);
  // Written only when set, after the problem, so that every tabu search saved before the
  // flag existed loads unchanged and saves to the same bytes.
  if (f.kind == SearchFields::Kind::kTabuSearch && f.canonical_tours) w.boolean(true);
  // Run settings other than the defaults, after everything else: states written before
  // they existed, and states of searches that keep the defaults, are the same bytes. The
  // progress callback is not saved: a copy has none.
  if (f.log_mode == LogMode::kAll && f.progress_every_s == 1.0) return;
  w.u8(kRunSettingsMark);
  w.u8(static_cast<std::uint8_t>(f.log_mode));
  w.f64(f.progress_every_s);
}

RunSettings read_run_settings(ByteReader& r) {
  RunSettings settings;
  if (r.remaining() == 0) return settings;
  const std::size_t left = r.remaining();
  if (r.u8() != kRunSettingsMark) malformed(std::to_string(left) + " unexpected bytes at the end");
  const std::uint8_t mode = r.u8();
  if (mode > static_cast<std::uint8_t>(LogMode::kFinal)) malformed("log mode " + std::to_string(mode));
  settings.log_mode = static_cast<LogMode>(mode);
  settings.progress_every_s = r.f64();
  if (!(settings.progress_every_s >= 0.0) || std::isinf(settings.progress_every_s)) {
    malformed("progress interval out of range");
  }
  return settings;
}

Shared<LocalSearch> read_search(ByteReader& r) {
  const auto kind = static_cast<SearchFields::Kind>(tag(r, 5, "search"));
  const bool minimize = r.boolean();
  const TF termination = read_termination(r, 1);
  SearchFields f;
  switch (kind) {
    case SearchFields::Kind::kSteepestDescent: break;
    case SearchFields::Kind::kSimulatedAnnealing:
      f.start_temp = r.u32();
      f.temperature = r.u32();
      f.alpha = r.f64();
      f.iterations_temperature = r.u32();
      if (r.boolean()) f.acceptance_seed = r.u64();
      break;
    case SearchFields::Kind::kTabuSearch: f.tabu_list_size = r.u32(); break;
    case SearchFields::Kind::kVns: f.neighbor_index = r.u32(); break;
    case SearchFields::Kind::kIteratedLocalSearch:
      f.neighbours = r.u32();
      if (f.neighbours == 0) malformed("an iterated local search has at least one neighbour");
      if (r.boolean()) f.seed = r.u64();
      break;
  }
  Shared<Problem> problem = Shared<Problem>::make<ArrayProblem>(read_problem(r));
  if (kind == SearchFields::Kind::kTabuSearch && r.remaining() != 0) {
    ByteReader probe = r;  // the tour flag (a boolean), unless the run settings come first
    if (probe.u8() != kRunSettingsMark) {
      f.canonical_tours = r.boolean();
      if (!f.canonical_tours) malformed("a tabu search's tour flag is written only when set");
    }
  }
  const RunSettings settings = read_run_settings(r);
  r.expect_end();
  Shared<LocalSearch> search = build_search(kind, minimize, termination, f, problem);
  search.lock()->run_settings() = settings;
  return search;
}

Shared<LocalSearch> build_search(SearchFields::Kind kind, bool minimize, const TerminationFunction& termination,
                                 const SearchFields& f, const Shared<Problem>& problem) {
  // The constructors turn their copy of the criterion to the search's direction, which
  // re-arms the improvement criteria; set_termination then puts back the saved state as is.
  switch (kind) {
    case SearchFields::Kind::kSteepestDescent: {
      SteepestDescent sd(minimize, problem, termination);
      sd.set_termination(termination);
      return Shared<LocalSearch>::make<SteepestDescent>(std::move(sd));
    }
    case SearchFields::Kind::kSimulatedAnnealing: {
      SimulatedAnnealing sa(f.start_temp, minimize, problem, termination, f.alpha,
                            f.iterations_temperature);
      sa.set_termination(termination);
      sa.set_acceptance_seed(f.acceptance_seed);
      sa.restore_temperature(f.temperature);
      return Shared<LocalSearch>::make<SimulatedAnnealing>(std::move(sa));
    }
    case SearchFields::Kind::kTabuSearch: {
      TabuSearch tabu(problem, termination, minimize, f.tabu_list_size, f.canonical_tours);
      tabu.set_termination(termination);
      return Shared<LocalSearch>::make<TabuSearch>(std::move(tabu));
    }
    case SearchFields::Kind::kVns: {
      VariableNeighborhood vns(problem, termination, minimize);
      vns.set_termination(termination);
      vns.restore_neighbor_index(f.neighbor_index);
      return Shared<LocalSearch>::make<VariableNeighborhood>(std::move(vns));
    }
    case SearchFields::Kind::kIteratedLocalSearch: {
      IteratedLocalSearch ils(minimize, problem, termination, f.neighbours, f.seed);
      ils.set_termination(termination);
      return Shared<LocalSearch>::make<IteratedLocalSearch>(std::move(ils));
    }
  }
  unknown_tag("search", kind);
}

}  // namespace

// ---- saving

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

void check_criterion_depth(const TerminationFunction& termination) {
  if (depth_of(termination) > kMaxCriterionDepth) {
    malformed("criteria nest deeper than " + std::to_string(kMaxCriterionDepth));
  }
}

StateBytes save_termination(const TerminationFunction& termination) {
  check_criterion_depth(termination);
  ByteWriter w = begin(SavedClass::kTermination);
  write_termination(w, termination);
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

SearchFields search_fields(const LocalSearch& search) {
  SearchFields f;
  f.log_mode = search.run_settings().log_mode;
  f.progress_every_s = search.run_settings().progress_every_s;
  if (const auto* s = dynamic_cast<const SteepestDescent*>(&search)) {
    f.kind = SearchFields::Kind::kSteepestDescent;
    f.minimize = s->minimize();
    f.termination = s->termination();
    f.problem = s->problem();
  } else if (const auto* s = dynamic_cast<const SimulatedAnnealing*>(&search)) {
    f.kind = SearchFields::Kind::kSimulatedAnnealing;
    f.minimize = s->minimize();
    f.termination = s->termination();
    f.problem = s->problem();
    f.start_temp = s->start_temp();
    f.temperature = s->temperature();
    f.alpha = s->alpha();
    f.iterations_temperature = s->iterations_temperature();
    f.acceptance_seed = s->acceptance_seed();
  } else if (const auto* s = dynamic_cast<const TabuSearch*>(&search)) {
    f.kind = SearchFields::Kind::kTabuSearch;
    f.minimize = s->minimize();
    f.termination = s->termination();
    f.problem = s->problem();
    f.tabu_list_size = s->tabu_list_size();
    f.canonical_tours = s->canonical_tours();
  } else if (const auto* s = dynamic_cast<const VariableNeighborhood*>(&search)) {
    f.kind = SearchFields::Kind::kVns;
    f.minimize = s->minimize();
    f.termination = s->termination();
    f.problem = s->problem();
    f.neighbor_index = s->neighbor_index();
  } else if (const auto* s = dynamic_cast<const IteratedLocalSearch*>(&search)) {
    f.kind = SearchFields::Kind::kIteratedLocalSearch;
    f.minimize = s->minimize();
    f.termination = s->termination();
    f.problem = s->problem();
    f.neighbours = s->neighbours();
    f.seed = s->seed();
  } else {
    fatal("unknown kind of search");
  }
  return f;
}

StateBytes save_search(const SearchFields& fields, const Problem& problem) {
  ByteWriter w = begin(SavedClass::kLocalSearch);
  write_search(w, fields, problem);
  return std::move(w).take();
}

// ---- loading

Evaluation load_evaluation(std::span<const std::uint8_t> state) {
  ByteReader r(state);
  open(r, SavedClass::kEvaluation);
  Evaluation e = read_evaluation(r);
  r.expect_end();
  return e;
}

MoveType load_move_type(std::span<const std::uint8_t> state) {
  ByteReader r(state);
  open(r, SavedClass::kMoveType);
  MoveType m = read_move_type(r);
  r.expect_end();
  return m;
}

TerminationFunction load_termination(std::span<const std::uint8_t> state) {
  ByteReader r(state);
  open(r, SavedClass::kTermination);
  TF t = read_termination(r, 1);
  r.expect_end();
  return t;
}

double load_cooling(std::span<const std::uint8_t> state) {
  ByteReader r(state);
  open(r, SavedClass::kCooling);
  const double alpha = r.f64();
  r.expect_end();
  return alpha;
}

std::uint32_t load_iterations_per_temp(std::span<const std::uint8_t> state) {
  ByteReader r(state);
  open(r, SavedClass::kIterationsPerTemp);
  const std::uint32_t iterations = r.u32();
  r.expect_end();
  return iterations;
}

Shared<Problem> load_problem(std::span<const std::uint8_t> state) {
  ByteReader r(state);
  open(r, SavedClass::kProblem);
  ArrayProblem p = read_problem(r);
  r.expect_end();
  return Shared<Problem>::make<ArrayProblem>(std::move(p));
}

Shared<LocalSearch> load_search(std::span<const std::uint8_t> state) {
  ByteReader r(state);
  open(r, SavedClass::kLocalSearch);
  return read_search(r);
}

}  // namespace kestrum::py
