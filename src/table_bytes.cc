// Lookup tables held in memory, whole or a column of each record.
#include "table_bytes.h"

#include <sys/stat.h>

#include <cstring>

#include "file_io.h"

namespace {

// Columns are read through a block of this size, and are at most this wide.
constexpr int64_t kColumnBlock = int64_t{128} << 10;

}  // namespace

std::shared_ptr<const TableBytes> ReadWholeTable(int fd, int64_t record_length, int64_t max_bytes) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size > max_bytes) return nullptr;
  auto contents = std::make_shared<TableBytes>();
  contents->bytes = LargeBuffer(static_cast<size_t>(st.st_size), PageUse::kReadAtRandom);
  const ssize_t n = ReadAt(fd, contents->bytes.data(), contents->bytes.size(), 0);
  contents->size = static_cast<size_t>(std::max<ssize_t>(n, 0));
  contents->nul_free = std::memchr(contents->bytes.data(), '\0', contents->size) == nullptr;
  contents->record_length = record_length;
  contents->stride = record_length;
  contents->first_offset = 0;
  contents->file_size = static_cast<int64_t>(contents->size);
  return contents;
}

std::shared_ptr<const TableBytes> ReadTableColumns(int fd, int64_t record_length, int64_t first_offset,
                                                      int64_t width, int64_t max_bytes) {
  struct stat st;
  if (record_length <= 0 || first_offset < 0 || width <= 0 || width > kColumnBlock) return nullptr;
  if (fstat(fd, &st) != 0 || st.st_size > max_bytes) return nullptr;
  // The records with a byte of their column in the file.
  const int64_t records = st.st_size > first_offset ? (st.st_size - first_offset - 1) / record_length + 1 : 0;
  auto contents = std::make_shared<TableBytes>();
  contents->bytes = LargeBuffer(static_cast<size_t>(records * width), PageUse::kReadAtRandom);
  contents->size = static_cast<size_t>(records * width);
  contents->record_length = record_length;
  contents->stride = width;
  contents->first_offset = first_offset;
  const auto block = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(kColumnBlock));
  int64_t file_end = st.st_size;  // where the file ends as read: sooner if it shrank
  bool nul_free = true;
  int64_t r = 0;
  while (r < records) {
    // A block from record r's column on; every column that begins in it
    // and lies whole in it (or ends with the file) is taken.
    const int64_t at = r * record_length + first_offset;
    const ssize_t got = ReadAt(fd, block.get(), static_cast<size_t>(kColumnBlock), at);
    if (got <= 0) {
      file_end = std::min(file_end, at);
      break;
    }
    const bool file_ends = got < kColumnBlock;
    if (file_ends) file_end = std::min(file_end, at + got);
    for (; r < records; ++r) {
      const int64_t begin = r * record_length + first_offset - at;
      if (begin >= got) break;
      const int64_t held = std::min<int64_t>(width, got - begin);
      if (held < width && !file_ends) break;  // runs past the block: the next block begins with it
      char* column = contents->bytes.data() + r * width;
      std::memcpy(column, block.get() + begin, static_cast<size_t>(held));
      std::memset(column + held, 0, static_cast<size_t>(width - held));  // past the end of the file
      nul_free = nul_free && std::memchr(column, '\0', static_cast<size_t>(held)) == nullptr;
    }
    if (file_ends) break;
  }
  // Columns past the end of the file as read hold nothing a lookup returns.
  if (r < records) std::memset(contents->bytes.data() + r * width, 0, static_cast<size_t>((records - r) * width));
  contents->file_size = file_end;
  contents->nul_free = nul_free;
  return contents;
}
