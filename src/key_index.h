// The keys of a lookup table in memory, and the hash index over them.
//
// KeyCache holds a table's keys front to back as they are read; KeyIndex
// finds the first slot whose key equals a text over a comparison length, the
// same answer as a front-to-back scan, with one hash probe on average. The
// hash is keyed with a seed drawn once per process, so crafted keys cannot
// pile up in one chain.
#ifndef QUERY_KEY_INDEX_H_
#define QUERY_KEY_INDEX_H_

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "large_buffer.h"

// The keys of one table, loaded once with the key length of the first key
// field that names it, front to back: the first `loaded()` of its `count()`
// slots are read.
class KeyCache {
 public:
  // All `count` keys at once.
  void Assign(std::vector<char> slots, size_t key_length, int64_t count);
  // A table of `count` keys of which none is read yet.
  void Start(size_t key_length, int64_t count);
  // Counts the next `n` slots (at most those left) as read and returns the
  // first of them; the caller fills every byte of them.
  char* Extend(int64_t n);
  int64_t count() const { return count_; }
  int64_t loaded() const { return loaded_; }
  size_t key_length() const { return key_length_; }
  // Key i (below loaded()) as the comparison sees it: cut at its first NUL
  // and at `length`.
  std::string_view Key(int64_t i, size_t length) const;
  // The first slot whose key equals `text` over `length`, or -1; a linear
  // scan of the loaded keys, the reference the index must agree with.
  int64_t ScanFor(std::string_view text, size_t length) const { return ScanFor(text, length, 0, loaded_); }
  // The same over slots [from, to) only.
  int64_t ScanFor(std::string_view text, size_t length, int64_t from, int64_t to) const;

 private:
  // count_ slots of key_length_ bytes, of which the first loaded_ are read;
  // the pages of the others are not touched.
  LargeBuffer slots_;
  size_t key_length_ = 0;
  int64_t count_ = 0;
  int64_t loaded_ = 0;
};

// Hash index over a KeyCache for one comparison length. It keeps its own copy
// of each distinct key as compared (cut at the length and at a NUL), with the
// first slot that holds it. Readers on several threads share one, each
// reading its fields at every lookup: it takes cache lines of its own, so
// that no thread's writes to memory beside it take them away from the others.
class alignas(kCacheLineBytes) KeyIndex {
 public:
  // Indexes the keys of `keys`, all of which must be loaded.
  KeyIndex(const KeyCache& keys, size_t length);
  // Same answer as keys.ScanFor(text, length), in constant time on average.
  int64_t Find(std::string_view text) const;
  // The hash `Find(text)` probes with, for the two calls below.
  uint64_t HashOf(std::string_view text) const {
    text = text.substr(0, std::min(length_, text.size()));
    return text.size() <= 8 ? HashShort(text, seed_) : Hash(text);
  }
  // Starts loading the bucket a lookup of `hash` looks at first.
  void Prefetch(uint64_t hash) const { __builtin_prefetch(&buckets_[hash & mask_]); }
  // Find(text) for a text whose HashOf is `hash`. A short key found in the
  // first bucket it probes is answered inline.
  int64_t Find(std::string_view text, uint64_t hash) const {
    text = text.substr(0, std::min(length_, text.size()));
    const Bucket& first = buckets_[hash & mask_];
    if (text.size() <= 8 && first.slot != 0 && first.tag == TagOf(hash, text) && first.key == Packed(text))
      return static_cast<int64_t>(first.slot) - 1;
    return FindProbing(text, hash);
  }
  // The most memory an index over `count` keys of `key_length` bytes,
  // compared over `length`, can take; saturates instead of overflowing.
  static uint64_t BytesFor(uint64_t count, size_t key_length, size_t length);
  // Buckets visited beyond the first while the index was built: near the
  // number of keys for any key set, since the hash is keyed with a random
  // per-process seed that no one choosing keys can know.
  uint64_t extra_probes() const { return extra_probes_; }
  // The hash of `key` under the process's seed.
  static uint64_t Hash(std::string_view key);
  // Hash(key) for a key of at most 8 bytes, under `seed` (the process's):
  // the key as one word (Packed), with its length mixed in beside it.
  static uint64_t HashShort(std::string_view key, const uint64_t* seed) {
    return Fold(Fold(Packed(key) ^ seed[1], key.size() ^ seed[2]) ^ seed[0], seed[3] ^ 0xff51afd7ed558ccdull);
  }
  // The high and low halves of the 128-bit product folded together: a fast
  // mixer that, with secret inputs, leaves no structure to aim collisions at.
  static uint64_t Fold(uint64_t a, uint64_t b) {
    __extension__ typedef unsigned __int128 Wide;
    const Wide r = static_cast<Wide>(a) * b;
    return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
  }

 private:
  // One bucket per distinct key; keys of up to 8 bytes live in the bucket
  // itself, so a lookup usually touches one cache line. Compared keys hold no
  // NUL, so the zero-padded bytes of a short key identify it.
  struct Bucket {
    uint32_t tag = 0;   // high bits of the key's hash; lowest bit set for a key over 8 bytes
    uint32_t slot = 0;  // first slot holding the key, plus one; 0 marks an empty bucket
    uint64_t key = 0;   // a short key's bytes, or a long key's offset in `long_keys_`
  };
  // The key's bytes (at most 8) in a word, zero past them, loaded without a
  // call: two overlapping loads, or single bytes for the shortest keys.
  static uint64_t Packed(std::string_view key) {
    const char* p = key.data();
    const size_t n = key.size();
    if constexpr (std::endian::native != std::endian::little) {
      uint64_t v = 0;
      std::memcpy(&v, p, n);
      return v;
    }
    if (n == 8) {
      uint64_t v;
      std::memcpy(&v, p, 8);
      return v;
    }
    if (n >= 4) {
      uint32_t low, high;
      std::memcpy(&low, p, 4);
      std::memcpy(&high, p + n - 4, 4);
      return low | static_cast<uint64_t>(high) << ((n - 4) * 8);
    }
    if (n == 0) return 0;
    auto byte = [&](size_t i) { return static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (i * 8); };
    return byte(0) | byte(n / 2) | byte(n - 1);
  }
  static uint32_t TagOf(uint64_t hash, std::string_view key) {
    return (static_cast<uint32_t>(hash >> 32) & ~1u) | (key.size() > 8 ? 1u : 0u);
  }
  bool Holds(const Bucket& b, std::string_view key) const {
    if (key.size() <= 8) return b.key == Packed(key);
    uint32_t size;
    std::memcpy(&size, long_keys_.data() + b.key, sizeof size);
    return size == key.size() &&
           std::memcmp(long_keys_.data() + b.key + sizeof size, key.data(), key.size()) == 0;
  }
  void Insert(std::string_view key, uint64_t hash, int64_t slot);
  int64_t FindProbing(std::string_view text, uint64_t hash) const;

  size_t length_;
  const uint64_t* seed_;  // the process's hash seed, four words
  std::vector<Bucket, LargeAllocator<Bucket, PageUse::kReadAtRandom>> buckets_;
  std::string long_keys_;
  size_t mask_ = 0;
  uint64_t extra_probes_ = 0;
};

#endif  // QUERY_KEY_INDEX_H_
