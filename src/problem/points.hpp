// Points: the cities of a tour as coordinates, with distances computed on demand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <source_location>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "problem/point_metrics.hpp"
#include "support/fatal.hpp"
#include "support/result.hpp"
#include "support/tags.hpp"

namespace kestrum {

// How two points' distance is computed. kEuclidean is the plain double; the others are
// TSPLIB's integer rules, giving the same values as a TSPLIB file's matrix (the diagonal,
// which only a one-city tour reads, is 0 under every rule, as there).
enum class PointMetric : std::uint8_t { kEuclidean = 0, kEuc2d = 1, kCeil2d = 2, kAtt = 3, kGeo = 4 };

// "euclidean", "euc_2d", "ceil_2d", "att", "geo".
[[nodiscard]] std::optional<PointMetric> point_metric_named(std::string_view name) noexcept;
[[nodiscard]] std::string_view point_metric_name(PointMetric metric) noexcept;

// Reads d(a, b) of n points under metric M as a square matrix of those distances would be
// read: at() checks both indices against n with the index message, fast() and row() do not.
// `xy` holds x0, y0, x1, y1, ...; for GEO it holds latitudes and longitudes in radians.
template <PointMetric M>
class PointDistances {
 public:
  PointDistances(const double* xy, std::size_t n) noexcept : xy_(xy), n_(n) {}

  [[nodiscard]] std::size_t rows() const noexcept { return n_; }
  [[nodiscard]] static constexpr bool is_square() noexcept { return true; }
  [[nodiscard]] double at(std::size_t a, std::size_t b,
                          std::source_location where = std::source_location::current()) const {
    if (a >= n_) fatal_index(n_, a, where);
    if (b >= n_) fatal_index(n_, b, where);
    return fast(a, b);
  }
  [[nodiscard]] double fast(std::size_t a, std::size_t b) const noexcept {
    return between(a, point(a), b, point(b));
  }

  // The distances from one city, read like a matrix row: row(a)[b] == fast(a, b).
  class Row {
   public:
    [[nodiscard]] double operator[](std::size_t b) const noexcept {
      return between(a_, from_, b, owner_->point(b));
    }

   private:
    friend class PointDistances;
    Row(const PointDistances* owner, std::size_t a) noexcept
        : owner_(owner), a_(a), from_(owner->point(a)) {}
    const PointDistances* owner_;
    std::size_t a_;
    metrics::Point from_;
  };
  [[nodiscard]] Row row(std::size_t a) const noexcept { return Row(this, a); }

 private:
  [[nodiscard]] metrics::Point point(std::size_t a) const noexcept {
    return {xy_[2 * a], xy_[2 * a + 1]};
  }
  [[nodiscard]] static double between(std::size_t a, metrics::Point pa, std::size_t b,
                                      metrics::Point pb) noexcept {
    if constexpr (M == PointMetric::kEuclidean) {
      return metrics::euclidean(pa, pb);
    } else if constexpr (M == PointMetric::kEuc2d) {
      return metrics::euc_2d(pa, pb);
    } else if constexpr (M == PointMetric::kCeil2d) {
      return metrics::ceil_2d(pa, pb);
    } else if constexpr (M == PointMetric::kAtt) {
      return metrics::att(pa, pb);
    } else {
      // The spherical rule gives 1 from a city to itself, and its two orders may differ in the
      // last bit of a cosine: read it as the file reader fills its matrix, lower index first,
      // with a zero diagonal.
      static_assert(M == PointMetric::kGeo);
      if (a == b) return 0.0;
      return a < b ? metrics::geo_of_radians(pa, pb) : metrics::geo_of_radians(pb, pa);
    }
  }

  const double* xy_;
  std::size_t n_;
};

// n points and their metric. Immutable: copies share the coordinates, so an evaluation
// holds O(n) memory however many problems and searches use it.
class Points {
 public:
  // `xy` holds x0, y0, x1, y1, ... (an even count). A non-finite coordinate is refused as
  // InvalidInput, naming the point: "point 3 has a non-finite coordinate (nan, 1)".
  [[nodiscard]] static Result<Points> make(std::vector<double> xy, PointMetric metric);

  [[nodiscard]] std::size_t size() const noexcept { return n_; }
  [[nodiscard]] PointMetric metric() const noexcept { return metric_; }
  // The coordinates as given, x0, y0, x1, y1, ...
  [[nodiscard]] std::span<const double> coordinates() const noexcept { return storage_->given; }
  [[nodiscard]] bool shares_storage_with(const Points& other) const noexcept {
    return storage_ == other.storage_;
  }

  // Calls f(PointDistances<M>) with this set's metric as M: one dispatch, then every read
  // is inline.
  template <class F>
  decltype(auto) with_distances(F&& f) const {
    const double* const xy = storage_->read.empty() ? storage_->given.data() : storage_->read.data();
    switch (metric_) {
      case PointMetric::kEuclidean: return f(PointDistances<PointMetric::kEuclidean>(xy, n_));
      case PointMetric::kEuc2d: return f(PointDistances<PointMetric::kEuc2d>(xy, n_));
      case PointMetric::kCeil2d: return f(PointDistances<PointMetric::kCeil2d>(xy, n_));
      case PointMetric::kAtt: return f(PointDistances<PointMetric::kAtt>(xy, n_));
      case PointMetric::kGeo: return f(PointDistances<PointMetric::kGeo>(xy, n_));
    }
    unknown_tag("point metric", metric_);
  }
  // One checked distance, for callers outside a scan.
  [[nodiscard]] double distance(std::size_t a, std::size_t b) const {
    return with_distances([&](const auto& d) { return d.at(a, b); });
  }

 private:
  struct Storage {
    std::vector<double> given;
    std::vector<double> read;  // what the metric reads when it differs from `given` (GEO's radians)
  };
  Points(std::shared_ptr<const Storage> storage, PointMetric metric) noexcept
      : storage_(std::move(storage)), n_(storage_->given.size() / 2), metric_(metric) {}

  std::shared_ptr<const Storage> storage_;
  std::size_t n_;
  PointMetric metric_;
};

}  // namespace kestrum
