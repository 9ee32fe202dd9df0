// Memory for objects that live in one block: the caller's, or one the library
// allocated for them. An object takes every array it needs from an Arena in a
// fixed order; the same construction runs once with a counting arena (no
// block: it only adds up the bytes) and once with the block, so the size asked
// for and the layout used can never disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace QUORLAX {

class Arena {
 public:
  // Every array starts on this boundary: the transform's vectors and cache lines.
  static constexpr size_t kAlign = 64;

  // Counting: Take returns null and only adds up the bytes.
  Arena() = default;
  // Placing into [base, base + bytes); the base is aligned up first.
  Arena(void* base, size_t bytes) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(base);
    const size_t skip = (kAlign - at % kAlign) % kAlign;
    if (base != nullptr && bytes >= skip) {
      base_ = static_cast<unsigned char*>(base) + skip;
      capacity_ = bytes - skip;
    } else {
      overflowed_ = true;
    }
    placing_ = true;
  }

  // `count` zeroed values of T, aligned; null when counting or when the block
  // is too small (Overflowed() then tells).
  template <class T>
  T* Take(size_t count) {
    used_ = (used_ + kAlign - 1) / kAlign * kAlign;
    const size_t bytes = count * sizeof(T);
    T* p = nullptr;
    if (placing_ && !overflowed_ && bytes <= capacity_ && used_ <= capacity_ - bytes) {
      p = reinterpret_cast<T*>(base_ + used_);
      std::memset(static_cast<void*>(p), 0, bytes);
    } else if (placing_) {
      overflowed_ = true;
    }
    used_ += bytes;
    return p;
  }

  // Passes over `bytes` already laid out (and in use), touching nothing.
  void Skip(size_t bytes) { used_ += bytes; }

  bool Placing() const { return placing_; }
  bool Overflowed() const { return overflowed_; }
  // Bytes taken so far, from the aligned base.
  size_t Used() const { return used_; }
  // What a caller's block must hold for `used` bytes of arrays, whatever its alignment.
  static size_t BlockBytes(size_t used) { return used + kAlign; }

 private:
  unsigned char* base_ = nullptr;
  size_t capacity_ = 0;
  size_t used_ = 0;
  bool placing_ = false;
  bool overflowed_ = false;
};

}  // namespace QUORLAX

#include <memory>

namespace QUORLAX {

// A heap block for arrays laid out by an Arena, for objects that the library
// allocates itself: count the bytes with a counting Arena, then place here.
class ArenaBlock {
 public:
  ArenaBlock() = default;
  // Throws std::bad_alloc when the heap cannot give the block.
  explicit ArenaBlock(size_t used)
      : block_(new unsigned char[Arena::BlockBytes(used)]), arena_(block_.get(), Arena::BlockBytes(used)) {}
  Arena& arena() { return arena_; }

 private:
  std::unique_ptr<unsigned char[]> block_;
  Arena arena_;
};

}  // namespace QUORLAX
