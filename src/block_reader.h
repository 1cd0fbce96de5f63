// Buffered positioned reads over one file of the record store, adapting to
// the way it is walked: windows that grow while reads run on, the whole file
// held in memory when the walk jumps about, a page at a place beyond that.
#ifndef QUERY_BLOCK_READER_H_
#define QUERY_BLOCK_READER_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "large_buffer.h"
#include "status.h"
#include "store_lock.h"

// Buffered positioned reads over one file, with the stream semantics the
// record layout is read with: a field read stops after a line end, and a
// pointer scan skips white space.
class BlockReader {
 public:
  BlockReader() = default;
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;
  ~BlockReader();

  // Opens `path` read-only; refuses anything but a regular file. Reads go
  // through a buffer of `block_size` bytes.
  Status Open(const std::string& path, size_t block_size);
  // Lets reading follow the way the file is walked: once refills that jump
  // (to a place the window's end does not reach) are a quarter or more of
  // at least 64, the file is read whole into memory when it holds at most
  // `max_in_memory` bytes and the files all readers of the process hold so
  // leave room for it (512 MiB together), and otherwise read a page at a
  // place. A file
  // walked front to back keeps the large windows.
  void AdaptToJumps(uint64_t max_in_memory) {
    adapting_ = true;
    max_in_memory_ = max_in_memory;
  }
  // The bytes all readers of the process hold whole in memory now.
  static uint64_t BytesHeldInMemory();
  void Seek(int64_t position) { position_ = position; }
  int64_t position() const { return position_; }
  // Makes every read of the file one under `lock` (not owned), and lets a
  // read past the end found so far look again: writers append to the file.
  void SetReadLock(StoreReadLock* lock) { lock_ = lock; }
  // The size of the file as it stands now; 0 when it cannot be told.
  int64_t FileSize() const;
  // The descriptor, for questions about the file itself (its holes).
  int fd() const { return fd_; }
  // The end of the file as found by a read that came up short; the largest
  // offset while no read has.
  int64_t known_end() const { return known_end_; }

  // Reads at most `max` bytes into `out`, stopping after a line end. Returns
  // the count read; `text_length` is the count before the first NUL byte, and
  // `at_end` is set when the end of the file came before any byte (with `max`
  // above 0).
  size_t ReadField(char* out, size_t max, size_t* text_length, bool* at_end) {
    const int64_t offset = position_ - window_start_;
    if (offset >= 0 && static_cast<uint64_t>(offset) + max <= static_cast<uint64_t>(window_size_)) {
      *at_end = false;
      size_t n = CopyField(buffer_.data() + offset, out, max, text_length);
      position_ += static_cast<int64_t>(n);
      return n;
    }
    return ReadFieldSlowly(out, max, text_length, at_end);
  }

  // The next `n` bytes when they lie whole in the read window (after
  // filling it from the current position when need be), moving past them;
  // nullptr, and no move, when they do not (at the end of the file, or
  // across the window's end).
  const char* Take(size_t n) {
    int64_t offset = position_ - window_start_;
    if (offset < 0 || static_cast<uint64_t>(offset) + n > static_cast<uint64_t>(window_size_)) {
      if (!Fill()) return nullptr;
      offset = position_ - window_start_;
      if (static_cast<uint64_t>(offset) + n > static_cast<uint64_t>(window_size_)) return nullptr;
    }
    position_ += static_cast<int64_t>(n);
    return buffer_.data() + offset;
  }

  // Reads from here on stop short of `end` (a walk's last record), so a
  // window reaches no further than that; it still holds at least a first
  // window's bytes. INT64_MAX, the default, for no such end.
  void SetReadEnd(int64_t end) { read_end_ = end; }
  // The next refill begins a walk over another part of the file (a chunk of
  // records handed to this reader), not a jump within the walk under way:
  // it is not counted when telling how the file is walked (AdaptToJumps).
  void BeginWalk() { walk_beginning_ = true; }

  // Reads the next `width` bytes (fewer at the end of the file) as one
  // field holding an optionally signed decimal integer after any white space.
  // False when the field holds no digits.
  bool ReadIntegerField(int width, int64_t* value);

 private:
  // Copies a field that lies wholly in memory; see ReadField.
  static size_t CopyField(const char* in, char* out, size_t max, size_t* text_length) {
    size_t nul = max;
    size_t i = 0;
    // Eight bytes a step while they hold neither a line feed nor a NUL; the
    // bytes from the first word that does are taken one by one.
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    while (i + 8 <= max) {
      uint64_t word;
      std::memcpy(&word, in + i, 8);
      if (HasZeroByte(word) || HasZeroByte(word ^ (kOnes * '\n'))) break;
      std::memcpy(out + i, &word, 8);
      i += 8;
    }
    while (i < max) {
      const char c = in[i];
      out[i++] = c;
      if (static_cast<unsigned char>(c) <= '\n') {
        if (c == '\n') break;
        if (c == '\0' && nul == max) nul = i - 1;
      }
    }
    *text_length = nul < i ? nul : i;
    return i;
  }
  // True when some byte of `word` is zero.
  static bool HasZeroByte(uint64_t word) {
    return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
  }
  size_t ReadFieldSlowly(char* out, size_t max, size_t* text_length, bool* at_end);
  // Makes the byte at `position_` available; false at the end of the file.
  bool Fill();
  // Copies up to `max` bytes from the current position.
  size_t ReadRaw(char* out, size_t max);
  // Counts a refill at position_, and changes how the file is read once
  // they show it is walked by jumps (see AdaptToJumps).
  void NoteRefill();
  // Reads the file's `size` bytes into memory as one window.
  void LoadWhole(int64_t size);
  // Counts `bytes` held in memory against the room all readers share;
  // false, counting nothing more, when there is not that much room left.
  bool Hold(uint64_t bytes);
  // Gives up the whole file in memory for reads of a page at a place.
  void ReadPageAtAPlace();
  // A positioned read, under the read lock when there is one.
  ssize_t LockedReadAt(char* out, size_t n, int64_t offset);
  // True when the file has grown past the end a read found, which is then
  // looked for again (the whole file read anew when it was held whole).
  bool Grew();

  int fd_ = -1;
  // A run that reads one record reads a small window into a small buffer;
  // from the second window on, windows double as reading goes on, up to
  // the whole buffer, which is allocated then.
  LargeBuffer buffer_;
  size_t capacity_ = 0;
  size_t fill_size_ = 0;
  int64_t window_start_ = 0;
  int64_t window_size_ = 0;
  int64_t known_end_ = INT64_MAX;  // file size once a read has come up short
  int64_t read_end_ = INT64_MAX;   // see SetReadEnd
  int64_t position_ = 0;
  bool adapting_ = false;          // refills are still being counted
  bool walk_beginning_ = false;    // see BeginWalk
  uint64_t max_in_memory_ = 0;
  int64_t refills_ = 0;
  int64_t jumps_ = 0;              // refills not at or just past the window's end
  StoreReadLock* lock_ = nullptr;  // see SetReadLock
  bool whole_ = false;             // the window is the whole file
  uint64_t held_ = 0;              // bytes of it counted against the readers' shared room
};

#endif  // QUERY_BLOCK_READER_H_
