// A search's saved state: the common head and run settings; its own fields are read by the
// restorer its tag registers.
#include "local_search/search_state.hpp"

#include <cmath>
#include <string>

#include "local_search/search_registry.hpp"
#include "problem/array_problem_state.hpp"
#include "termination/termination_state.hpp"

namespace kestrum {

namespace {

// The run settings, if any follow (the defaults otherwise).
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

}  // namespace

void write_run_settings(ByteWriter& w, const RunSettings& settings) {
  if (settings.log_mode == LogMode::kAll && settings.progress_every_s == 1.0) return;
  w.u8(kRunSettingsMark);
  w.u8(static_cast<std::uint8_t>(settings.log_mode));
  w.f64(settings.progress_every_s);
}

void write_search(ByteWriter& w, const SearchSnapshot& snapshot, const Problem& problem) {
  w.bytes(snapshot.bytes);
  write_problem(w, problem);
  w.bytes(snapshot.tail);
}

Shared<LocalSearch> read_search(ByteReader& r) {
  const auto tag = static_cast<SearchTag>(r.tag(kSearchTags, "search"));
  const bool minimize = r.boolean();
  const TerminationFunction termination = read_criterion(r);
  // The restorer reads the search's own fields and then its problem, and rebuilds the search
  // through its constructor.
  Shared<LocalSearch> search = search_entry(tag).restore(r, minimize, termination);
  const RunSettings settings = read_run_settings(r);
  search.lock()->run_settings() = settings;
  return search;
}

}  // namespace kestrum
