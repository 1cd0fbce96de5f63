// Keys of lookup tables in memory, and their hash index.
#include "key_index.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <random>

namespace {

// The seed of the key hash, drawn once per process, so that no one choosing
// the keys of a table can make them collide. Every lookup reads it: on a
// cache line of its own.
struct alignas(kCacheLineBytes) HashSeed {
  uint64_t k[4];
  HashSeed() {
    size_t got = 0;
    while (got < sizeof k) {
      const ssize_t n = getrandom(reinterpret_cast<char*>(k) + got, sizeof k - got, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (got < sizeof k) {
      std::random_device device;
      for (uint64_t& word : k) word = (static_cast<uint64_t>(device()) << 32) ^ device();
    }
  }
};

const HashSeed& Seed() {
  static const HashSeed seed;
  return seed;
}

inline uint64_t Fold(uint64_t a, uint64_t b) { return KeyIndex::Fold(a, b); }

uint64_t HashBytes(std::string_view s) {
  const uint64_t* k = Seed().k;
  if (s.size() <= 8) return KeyIndex::HashShort(s, k);
  uint64_t h = k[0] ^ s.size();
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = Fold(w ^ k[1], h ^ k[2]);
  }
  uint64_t w = 0;
  if (i < s.size()) std::memcpy(&w, s.data() + i, s.size() - i);
  h = Fold(w ^ k[1] ^ 0x9E3779B97F4A7C15ull, h ^ k[3]);
  return Fold(h ^ k[0], k[3] ^ 0xff51afd7ed558ccdull);
}

}  // namespace

// ---- KeyCache

void KeyCache::Assign(std::vector<char> slots, size_t key_length, int64_t count) {
  Start(key_length, count);
  std::memcpy(Extend(count), slots.data(), std::min(slots.size(), static_cast<size_t>(count) * key_length));
}

void KeyCache::Start(size_t key_length, int64_t count) {
  // Within the memory limit the slots fit; their pages are touched only as
  // keys are read.
  slots_ = LargeBuffer(static_cast<size_t>(count) * key_length + 1, PageUse::kFilledAsNeeded);
  key_length_ = key_length;
  count_ = count;
  loaded_ = 0;
}

char* KeyCache::Extend(int64_t n) {
  n = std::min(n, count_ - loaded_);
  char* first = slots_.data() + static_cast<size_t>(loaded_) * key_length_;
  loaded_ += n;
  return first;
}

std::string_view KeyCache::Key(int64_t i, size_t length) const {
  const char* p = slots_.data() + static_cast<size_t>(i) * key_length_;
  size_t n = std::min(length, key_length_);
  const void* nul = std::memchr(p, '\0', n);
  if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - p);
  return {p, n};
}

namespace {

// The first key of slots [from, to) at `p` onward, `stride` bytes apart,
// whose first `n` bytes are `text` and, when `needs_end`, whose next byte is
// a NUL. The first kHead bytes are compared as one word before the rest.
template <size_t kHead>
int64_t ScanKeys(const char* p, size_t stride, int64_t from, int64_t to, std::string_view text,
                 bool needs_end) {
  uint64_t want = 0;
  std::memcpy(&want, text.data(), kHead);
  const size_t n = text.size();
  for (int64_t i = from; i < to; ++i, p += stride) {
    uint64_t got = 0;
    std::memcpy(&got, p, kHead);
    if (got != want) continue;
    if (n > kHead && std::memcmp(p + kHead, text.data() + kHead, n - kHead) != 0) continue;
    if (!needs_end || p[n] == '\0') return i;
  }
  return -1;
}

}  // namespace

int64_t KeyCache::ScanFor(std::string_view text, size_t length, int64_t from, int64_t to) const {
  text = text.substr(0, std::min(length, text.size()));
  const size_t width = std::min(length, key_length_);
  // A key as compared holds no NUL and at most `width` bytes.
  if (text.size() > width || text.find('\0') != std::string_view::npos) return -1;
  const size_t n = text.size();
  // A key of `width` bytes equals the text when its bytes do; a shorter text
  // needs the key to end, at a NUL, right after it.
  const bool needs_end = n < width;
  to = std::min(to, loaded_);
  if (from >= to) return -1;
  const char* p = slots_.data() + static_cast<size_t>(from) * key_length_;
  if (n == 0) {
    for (int64_t i = from; i < to; ++i, p += key_length_)
      if (!needs_end || p[0] == '\0') return i;
    return -1;
  }
  if (n >= 8) return ScanKeys<8>(p, key_length_, from, to, text, needs_end);
  if (n >= 4) return ScanKeys<4>(p, key_length_, from, to, text, needs_end);
  return ScanKeys<1>(p, key_length_, from, to, text, needs_end);
}

// ---- KeyIndex

namespace {

// Buckets for `count` keys: a power of two, at least twice the count.
uint64_t BucketsFor(uint64_t count) {
  uint64_t size = 16;
  while (size < count * 2) size *= 2;
  return size;
}

}  // namespace

uint64_t KeyIndex::BytesFor(uint64_t count, size_t key_length, size_t length) {
  // Beyond this no index fits in memory, and the sums below cannot overflow.
  if (count > (uint64_t{1} << 40)) return UINT64_MAX;
  uint64_t bytes = BucketsFor(count) * sizeof(Bucket);
  const uint64_t compared = std::min(key_length, length);
  if (compared > 8) bytes += count * (sizeof(uint32_t) + compared);
  return bytes;
}

uint64_t KeyIndex::Hash(std::string_view key) { return HashBytes(key); }

KeyIndex::KeyIndex(const KeyCache& keys, size_t length) : length_(length), seed_(Seed().k) {
  // Slots are kept as 32-bit numbers; the memory limit keeps tables far below.
  const int64_t count = std::min<int64_t>(keys.loaded(), UINT32_MAX - 1);
  const size_t size = static_cast<size_t>(BucketsFor(static_cast<uint64_t>(count)));
  buckets_.assign(size, Bucket());
  mask_ = size - 1;
  // Keys go in by batches whose buckets are fetched together, in slot order
  // so that the first slot of a repeated key keeps it.
  constexpr int64_t kBatch = 16;
  std::string_view batch[kBatch];
  uint64_t hashes[kBatch];
  for (int64_t first = 0; first < count; first += kBatch) {
    const int64_t n = std::min(kBatch, count - first);
    for (int64_t j = 0; j < n; ++j) {
      batch[j] = keys.Key(first + j, length);
      hashes[j] = HashBytes(batch[j]);
      __builtin_prefetch(&buckets_[hashes[j] & mask_], 1);
    }
    for (int64_t j = 0; j < n; ++j) Insert(batch[j], hashes[j], first + j);
  }
}

void KeyIndex::Insert(std::string_view key, uint64_t hash, int64_t slot) {
  const uint32_t tag = TagOf(hash, key);
  for (size_t b = hash & mask_;; b = (b + 1) & mask_, ++extra_probes_) {
    Bucket& bucket = buckets_[b];
    if (bucket.slot == 0) {
      bucket.tag = tag;
      bucket.slot = static_cast<uint32_t>(slot + 1);
      if (key.size() <= 8) {
        bucket.key = Packed(key);
      } else {
        bucket.key = long_keys_.size();
        const uint32_t size = static_cast<uint32_t>(key.size());
        long_keys_.append(reinterpret_cast<const char*>(&size), sizeof size);
        long_keys_.append(key);
      }
      return;
    }
    if (bucket.tag == tag && Holds(bucket, key)) return;  // the first slot keeps the key
  }
}

int64_t KeyIndex::Find(std::string_view text) const { return Find(text, HashOf(text)); }

int64_t KeyIndex::FindProbing(std::string_view text, uint64_t h) const {
  const uint32_t tag = TagOf(h, text);
  for (size_t b = h & mask_; buckets_[b].slot != 0; b = (b + 1) & mask_) {
    const Bucket& bucket = buckets_[b];
    if (bucket.tag == tag && Holds(bucket, text)) return static_cast<int64_t>(bucket.slot) - 1;
  }
  return -1;
}
