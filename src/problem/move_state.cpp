// Saved state of a move type. Tags are fixed forever: the simple kinds are saved as the byte
// each names (0 reverse, 1 swap, 2 swap_tsp, 4 or_opt), 3 is a MultiNeighbor; a new simple kind
// takes 5, 6, ...
#include "problem/move_state.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "support/tags.hpp"

namespace kestrum {

namespace {

constexpr std::uint8_t kMultiNeighborTag = 3;

// The saved byte of each simple kind, in the order of SimpleMoveType's alternatives (each
// kind names its own, see move.hpp).
template <std::size_t... K>
constexpr std::array<std::uint8_t, sizeof...(K)> simple_tags(std::index_sequence<K...>) {
  return {std::variant_alternative_t<K, SimpleMoveType>::kSavedTag...};
}
constexpr auto kSimpleTags = simple_tags(std::make_index_sequence<std::variant_size_v<SimpleMoveType>>{});

constexpr bool tags_distinct() {
  for (std::size_t a = 0; a < kSimpleTags.size(); ++a) {
    if (kSimpleTags[a] == kMultiNeighborTag) return false;
    for (std::size_t b = a + 1; b < kSimpleTags.size(); ++b) {
      if (kSimpleTags[a] == kSimpleTags[b]) return false;
    }
  }
  return true;
}
static_assert(tags_distinct(), "two move kinds are saved as the same byte");

// One past the largest saved tag.
constexpr std::uint8_t kSavedTags = [] {
  std::uint8_t top = kMultiNeighborTag;
  for (const std::uint8_t t : kSimpleTags) top = t > top ? t : top;
  return static_cast<std::uint8_t>(top + 1);
}();

std::uint8_t saved_tag(MoveKind kind) { return kSimpleTags[static_cast<std::size_t>(kind)]; }

// The simple kind saved as `tag`, or nothing for the MultiNeighbor tag or a byte no kind is
// saved as (the tag of the alternative at index k is MoveKind(k), see the static_assert in
// move.cpp).
std::optional<MoveKind> kind_of_saved(std::uint8_t tag) {
  for (std::size_t k = 0; k < kSimpleTags.size(); ++k) {
    if (kSimpleTags[k] == tag) return static_cast<MoveKind>(k);
  }
  return std::nullopt;
}

// A simple kind is its tag, its generator's four words and its size.
constexpr std::size_t kSimpleMoveBytes = 1 + 4 * 4 + 4;

void write_simple(ByteWriter& w, const SimpleMoveType& m) {
  w.u8(saved_tag(move_kind(m)));
  std::visit(
      [&](const auto& k) {
        for (const std::uint32_t word : k.rng.state()) w.u32(word);
        w.u32(k.size);
      },
      m);
}

template <class Simple>
Simple read_generator(ByteReader& r) {
  Xoshiro128pp::State state{};
  for (std::uint32_t& word : state) word = r.u32();
  const Word size = r.u32();
  return Simple{Xoshiro128pp(state), size};
}

// Every kind reads as its generator and size; the reader of the alternative at index k.
template <std::size_t... K>
SimpleMoveType read_simple_at(ByteReader& r, std::size_t index, std::index_sequence<K...>) {
  using Reader = SimpleMoveType (*)(ByteReader&);
  static constexpr std::array<Reader, sizeof...(K)> kReaders{[](ByteReader& from) {
    return SimpleMoveType(std::in_place_index<K>, read_generator<std::variant_alternative_t<K, SimpleMoveType>>(from));
  }...};
  return kReaders[index](r);
}

SimpleMoveType read_simple_of(ByteReader& r, MoveKind kind) {
  return read_simple_at(r, static_cast<std::size_t>(kind), std::make_index_sequence<std::variant_size_v<SimpleMoveType>>{});
}

SimpleMoveType read_member(ByteReader& r) {
  const std::uint8_t t = r.u8();
  const std::optional<MoveKind> kind = kind_of_saved(t);
  if (!kind) malformed("neighbourhood member tag " + std::to_string(t) + " is unknown");
  return read_simple_of(r, *kind);
}

}  // namespace

void write_move_type(ByteWriter& w, const MoveType& mt) {
  switch (mt.tag()) {
    case MoveType::Tag::kSimple: return write_simple(w, *mt.simple());
    case MoveType::Tag::kMultiNeighbor: {
      const MultiNeighbor& multi = *mt.multi();
      w.u8(kMultiNeighborTag);
      w.count(multi.move_array.size());
      for (const SimpleMoveType& m : multi.move_array) write_simple(w, m);
      w.floats(multi.weights);
      return;
    }
  }
  unknown_tag("move type", mt.tag());
}

MoveType read_move_type(ByteReader& r) {
  const std::uint8_t t = r.tag(kSavedTags, "move type");
  if (const std::optional<MoveKind> kind = kind_of_saved(t)) return MoveType(read_simple_of(r, *kind));
  MultiNeighbor multi;
  const std::size_t members = r.count(kSimpleMoveBytes);
  multi.move_array.reserve(members);
  for (std::size_t k = 0; k < members; ++k) multi.move_array.push_back(read_member(r));
  multi.weights = r.floats();
  return MoveType(MoveType::Kind(std::move(multi)));
}

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

}  // namespace kestrum
