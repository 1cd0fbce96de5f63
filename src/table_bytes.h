// A lookup table's file held in memory for the descriptions lookups fetch
// from it: the whole file, or of each record only the bytes the lookups of
// a run can fetch, which is what most forms need (a description is a few
// dozen bytes of a longer record) in a fraction of the memory.
#ifndef QUERY_TABLE_BYTES_H_
#define QUERY_TABLE_BYTES_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "large_buffer.h"

// Shared by the readers of several threads: on cache lines of its own, as
// KeyIndex is.
struct alignas(kCacheLineBytes) TableBytes {
  LargeBuffer bytes;
  size_t size = 0;        // bytes held, at most bytes.size()
  bool nul_free = false;  // no NUL byte among the file's bytes held
  // Which bytes are held: of each record (`record_length` bytes apart in a
  // file of `file_size` bytes, as far as it was read), the `stride` bytes
  // from `first_offset` within it, records one after another. The whole
  // file is held with stride = record_length and first_offset = 0.
  int64_t record_length = 0;
  int64_t stride = 0;
  int64_t first_offset = 0;
  int64_t file_size = 0;

  // The `size` bytes at `offset` of record `slot`, as a positioned read of
  // the file gives them: cut where the file ends. The bytes asked for must
  // lie within those held for each record.
  std::string_view At(int64_t slot, int offset, int size) const {
    const int64_t position = slot * record_length + offset;
    if (size <= 0 || position >= file_size) return {bytes.data(), 0};
    const size_t n = static_cast<size_t>(std::min<int64_t>(size, file_size - position));
    return {bytes.data() + slot * stride + (offset - first_offset), n};
  }
  // Where At(slot, offset, ...) begins, or nullptr when the file ends first.
  const char* Address(int64_t slot, int offset) const {
    if (slot * record_length + offset >= file_size) return nullptr;
    return bytes.data() + slot * stride + (offset - first_offset);
  }
};

// The file open at `fd` whole, its records `record_length` bytes apart;
// nullptr for a file larger than `max_bytes` or that cannot be examined.
std::shared_ptr<const TableBytes> ReadWholeTable(int fd, int64_t record_length, int64_t max_bytes);

// Of each record of the file open at `fd` (records `record_length` bytes
// apart), the `width` bytes from `first_offset` within it; they may run into
// the next record, as a positioned read of them would. Read in blocks of
// the file; nullptr as for ReadWholeTable, or for a width of more than a
// block.
std::shared_ptr<const TableBytes> ReadTableColumns(int fd, int64_t record_length, int64_t first_offset,
                                                      int64_t width, int64_t max_bytes);

#endif  // QUERY_TABLE_BYTES_H_
