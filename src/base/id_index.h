// A map from 64-bit keys to 32-bit values in one flat array: the index of numbered things by a
// key made of other numbers (a pair of ids, an id and a call), looked up once or more per span.
//
// Open addressing with linear probing, at most half full. The keys are hashed as every map of
// the program hashes them (keyed_hash.h), so a hostile input cannot force collisions. Memory is
// 16 bytes a slot and nothing per entry beyond it; clearing or destroying it frees one block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "base/fatal.h"
#include "base/keyed_hash.h"

namespace tracemill {

class IdIndex {
 public:
  // The one value an entry cannot hold: it marks a free slot.
  static constexpr std::uint32_t kFree = std::numeric_limits<std::uint32_t>::max();

  // The value of `key`, or kFree.
  std::uint32_t find(std::uint64_t key) const {
    if (size_ == 0) return kFree;
    for (std::size_t i = hash_(key) & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.value == kFree) return kFree;
      if (slot.key == key) return slot.value;
    }
  }

  // The value of `key`, which becomes `value` (not kFree) when the key is new; second tells
  // whether it was.
  std::pair<std::uint32_t, bool> try_emplace(std::uint64_t key, std::uint32_t value) {
    if (2 * (size_ + 1) > slots_.size()) grow();
    for (std::size_t i = hash_(key) & mask_;; i = (i + 1) & mask_) {
      Slot& slot = slots_[i];
      if (slot.value == kFree) {
        slot = {key, value};
        ++size_;
        return {value, true};
      }
      if (slot.key == key) return {slot.value, false};
    }
  }

  std::size_t size() const { return size_; }

 private:
  struct Slot {
    std::uint64_t key;
    std::uint32_t value;
  };

  void grow() {
    const std::size_t capacity = slots_.empty() ? 16 : 2 * slots_.size();
    if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(Slot)) {
      fatal("an index grew beyond the address space");
    }
    std::vector<Slot> old(capacity, Slot{0, kFree});
    old.swap(slots_);
    mask_ = capacity - 1;
    for (const Slot& slot : old) {
      if (slot.value == kFree) continue;
      std::size_t i = hash_(slot.key) & mask_;
      while (slots_[i].value != kFree) i = (i + 1) & mask_;
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
  KeyedHash<std::uint64_t> hash_;
};

}  // namespace tracemill
