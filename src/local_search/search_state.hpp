// Saved state of a search: the common head and tail; each search's own fields are read by
// the restorer registered for its tag (local_search/search_registry.hpp).
#pragma once

#include "local_search/local_search.hpp"
#include "problem/problem.hpp"
#include "support/serialize.hpp"
#include "support/shared.hpp"

namespace kestrum {

// Marks the run settings (log mode, progress interval) that close a search's saved state when
// they differ from the defaults: states written before they existed, and states of searches
// that keep the defaults, are the same bytes. The progress callback is not saved.
inline constexpr std::uint8_t kRunSettingsMark = 0x52;
void write_run_settings(ByteWriter& w, const RunSettings& settings);

// A search's whole saved state: its snapshot (tag, direction, criterion, its own fields),
// then its problem, which the caller has locked, then the snapshot's tail.
void write_search(ByteWriter& w, const SearchSnapshot& snapshot, const Problem& problem);
// A new search over a new problem of its own, rebuilt by the restorer of its tag.
[[nodiscard]] Shared<LocalSearch> read_search(ByteReader& r);

}  // namespace kestrum
