// Saved state of a move type. Tags are fixed forever: the simple kinds are saved as
// 0 reverse, 1 swap, 2 swap_tsp, then 3 is a MultiNeighbor; 4 or_opt; a new simple kind takes
// 5, 6, ...
#include "problem/move_state.hpp"

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
constexpr std::uint8_t kSavedTags = 5;  // one past the largest saved tag

std::uint8_t saved_tag(MoveKind kind) {
  switch (kind) {
    case MoveKind::kReverse: return 0;
    case MoveKind::kSwap: return 1;
    case MoveKind::kSwapTsp: return 2;
    case MoveKind::kOrOpt: return 4;
  }
  unknown_tag("move", kind);
}

// The simple kind saved as `tag`, or nothing for the MultiNeighbor tag or a byte no kind is
// saved as. The inverse of saved_tag, read from it: every simple kind is tried (the tag of the
// alternative at index k is MoveKind(k), see the static_assert in move.cpp), so a new kind
// needs only its line in saved_tag.
std::optional<MoveKind> kind_of_saved(std::uint8_t tag) {
  for (std::size_t k = 0; k < std::variant_size_v<SimpleMoveType>; ++k) {
    const auto kind = static_cast<MoveKind>(k);
    if (saved_tag(kind) == tag) return kind;
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

SimpleMoveType read_simple_of(ByteReader& r, MoveKind kind) {
  switch (kind) {
    case MoveKind::kReverse: return read_generator<Reverse>(r);
    case MoveKind::kSwap: return read_generator<Swap>(r);
    case MoveKind::kSwapTsp: return read_generator<SwapTsp>(r);
    case MoveKind::kOrOpt: return read_generator<OrOpt>(r);
  }
  unknown_tag("move", kind);
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
