#pragma once
// An ordered set of slot numbers 0..count-1 (positions in a part's face list), as a bit tree:
// level 0 holds one bit per slot, each higher level one bit per non-empty word below it. It
// finds the smallest member at or after a position in a few word reads, which lets the
// spreading and propagation passes visit only the faces that wait, in list order.
#include <cstdint>

class SlotSet {
 public:
  // 64-bit words needed for `count` slots (all levels).
  static int64_t wordsFor(int64_t count) noexcept {
    int64_t total = 0;
    int64_t bits = count > 0 ? count : 1;
    for (int level = 0; level < kMaxLevels; ++level) {
      int64_t words = (bits + 63) / 64;
      total += words;
      if (words == 1) break;
      bits = words;
    }
    return total;
  }

  // Attaches to `storage` (wordsFor(count) words, any contents) and empties the set.
  void attach(uint64_t* storage, int64_t count) noexcept {
    levels_ = 0;
    int64_t bits = count > 0 ? count : 1;
    uint64_t* next = storage;
    for (int level = 0; level < kMaxLevels; ++level) {
      int64_t words = (bits + 63) / 64;
      words_[level] = next;
      bitCount_[level] = bits;
      for (int64_t i = 0; i < words; ++i)
        next[i] = 0;
      next += words;
      ++levels_;
      if (words == 1) break;
      bits = words;
    }
  }

  // Removes every member.
  void clear() noexcept {
    for (int level = 0; level < levels_; ++level) {
      int64_t words = (bitCount_[level] + 63) / 64;
      for (int64_t i = 0; i < words; ++i)
        words_[level][i] = 0;
    }
  }

  bool empty() const noexcept { return words_[levels_ - 1][0] == 0; }

  bool contains(int64_t slot) const noexcept { return (words_[0][slot >> 6] >> (slot & 63)) & 1u; }

  void insert(int64_t slot) noexcept {
    for (int level = 0; level < levels_; ++level) {
      uint64_t& word = words_[level][slot >> 6];
      bool wasEmpty = word == 0;
      word |= uint64_t{1} << (slot & 63);
      if (!wasEmpty) return;
      slot >>= 6;
    }
  }

  void erase(int64_t slot) noexcept {
    for (int level = 0; level < levels_; ++level) {
      uint64_t& word = words_[level][slot >> 6];
      word &= ~(uint64_t{1} << (slot & 63));
      if (word != 0) return;
      slot >>= 6;
    }
  }

  // Smallest member >= `from`, or -1 when there is none.
  int64_t findFrom(int64_t from) const noexcept {
    int level = 0;
    int64_t index = from;
    for (;;) {
      if (index >= bitCount_[level]) return -1;
      int64_t word = index >> 6;
      uint64_t bits = words_[level][word] & (~uint64_t{0} << (index & 63));
      if (bits != 0) {
        index = (word << 6) + __builtin_ctzll(bits);
        break;
      }
      if (level == levels_ - 1) return -1;
      ++level;
      index = word + 1;
    }
    while (level > 0) {
      --level;
      index = (index << 6) + __builtin_ctzll(words_[level][index]);
    }
    return index;
  }

 private:
  static constexpr int kMaxLevels = 6;  // 64^6 slots: more than any int32 count
  uint64_t* words_[kMaxLevels] = {};
  int64_t bitCount_[kMaxLevels] = {};
  int levels_ = 0;
};
