// Saved state of an evaluation: one case per kind, each with its writer and its reader.
#include "problem/evaluation_state.hpp"

#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "problem/custom_state.hpp"
#include "problem/matrix.hpp"
#include "problem/points_state.hpp"
#include "support/fatal.hpp"
#include "support/tags.hpp"

namespace kestrum {

namespace {

using Tag = Evaluation::Tag;

// A matrix is its row count, then each row as a count and its values; rows may be ragged.
void write_matrix(ByteWriter& w, const Matrix& m) {
  w.count(m.rows());
  for (std::size_t a = 0; a < m.rows(); ++a) w.floats(m.row_span(a));
}

Matrix read_matrix(ByteReader& r) {
  constexpr std::size_t kRowBytes = 8;  // a row is at least its length
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

template <class Bins>
void write_bins(ByteWriter& w, const Bins& b) {
  w.floats(b.weights);
  w.f64(b.max_fill);
}

}  // namespace

void write_evaluation(ByteWriter& w, const Evaluation& e) {
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
    case Tag::kTspPoints: return write_points(w, std::get<TspPoints>(kind).points);
    case Tag::kCustom: return write_custom(w, std::get<Custom>(kind));
    case Tag::kBinPacking: {
      const BinPacking& b = std::get<BinPacking>(kind);
      w.floats(b.weights);
      return w.f64(b.capacity);
    }
  }
  unknown_tag("evaluation", e.tag());
}

Evaluation read_evaluation(ByteReader& r) {
  const auto t = static_cast<Tag>(r.tag(std::variant_size_v<Evaluation::Kind>, "evaluation"));
  switch (t) {
    case Tag::kEmptyBins: {
      std::vector<double> weights = r.floats();
      return Evaluation::empty_bins(std::move(weights), r.f64());
    }
    case Tag::kEmptySpace: {
      std::vector<double> weights = r.floats();
      return Evaluation::empty_space(std::move(weights), r.f64());
    }
    case Tag::kEmptySpaceExp: {
      std::vector<double> weights = r.floats();
      return Evaluation::empty_space_exp(std::move(weights), r.f64());
    }
    case Tag::kTsp: {
      Matrix distances = read_matrix(r);
      // The symmetry flag is recomputed from the matrix, as when it was first built; a
      // matrix too ragged for that walk was never a tour matrix. The one catch of a fatal
      // stop in the core: here it is a fault of the input, not of the program.
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
    case Tag::kTspPoints: return Evaluation::tsp_points(read_points(r));
    case Tag::kCustom: {
      Custom custom = read_custom(r);
      return Evaluation::custom(custom.size, std::move(custom.score));
    }
    case Tag::kBinPacking: {
      std::vector<double> weights = r.floats();
      const double capacity = r.f64();
      Result<Evaluation> packing = Evaluation::bin_packing(std::move(weights), capacity);
      if (!packing.ok()) malformed(packing.error().text);
      return std::move(packing).value();
    }
  }
  unknown_tag("evaluation", t);
}

}  // namespace kestrum
