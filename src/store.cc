// Reading the record store: record count, header records, detail pointers
// and detail lines, all through large positioned-read buffers.
#include "store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "file_io.h"
#include "short_copy.h"
#include "store_files.h"

namespace {

constexpr size_t kHeadBlock = 1 << 20;
constexpr size_t kDocBlock = 1 << 18;
constexpr int kPointerWidth = 6;
// A DOC walked by jumps (lines not in document order) is held in memory up
// to this size, and read a page at a place beyond it.
constexpr uint64_t kDocInMemory = uint64_t{256} << 20;
// The most data regions of a sparse HEAD that are told apart; beyond them the
// rest of the file counts as data.
constexpr size_t kMaxHeadExtents = 1 << 20;

bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads a long integer the way "%ld" does: blanks, an optional sign, digits.
bool ParseLong(const char* text, int64_t* value) {
  while (IsSpace(static_cast<unsigned char>(*text))) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  if (*text < '0' || *text > '9') return false;
  int64_t v = 0;
  while (*text >= '0' && *text <= '9') v = v * 10 + (*text++ - '0');  // at most 12 bytes
  *value = negative ? -v : v;
  return true;
}

}  // namespace

// ---- Store

Store::~Store() {
  if (info_fd_ >= 0) close(info_fd_);
}

namespace {

// Opens INFO for the store's permission check without any side effect on
// what may have been planted in its place: it is opened read-only, never
// blocking and never as a controlling terminal, checked to be a regular file,
// and only then is write permission asked of the system (the descriptor stays
// read-only; INFO is never written). Returns the descriptor, or -1 with the
// reason, worded as an open for reading and writing would word it.
int OpenInfo(const std::string& path, std::string* why) {
  // What is not a regular file is refused before it is opened, as is a link
  // to a file of another user.
  struct stat before;
  if (stat(path.c_str(), &before) != 0) {
    *why = std::strerror(errno);
    return -1;
  }
  {
    if (!S_ISREG(before.st_mode)) {
      *why = S_ISDIR(before.st_mode) ? std::strerror(EISDIR) : "not a regular file";
      return -1;
    }
    *why = ForeignLinkReason(path, before);
    if (!why->empty()) return -1;
  }
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *why = std::strerror(errno);
    return -1;
  }
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  if (known && (st.st_dev != before.st_dev || st.st_ino != before.st_ino)) {
    *why = "replaced while it was being opened";
    close(fd);
    return -1;
  }
  if (!known || !S_ISREG(st.st_mode)) {
    // A directory is worded as the open for writing words it.
    *why = known && S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    close(fd);
    return -1;
  }
  if (OnPseudoFilesystem(fd)) {
    *why = "a file of the proc or sys pseudo-filesystem";
    close(fd);
    return -1;
  }
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
    *why = std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

// The records a file of `size` bytes holds, a last one cut short included,
// without the overflow of rounding up by addition near the largest size.
int64_t RecordsIn(int64_t size, int64_t record_length) {
  if (size <= 0 || record_length <= 0) return 0;
  return size / record_length + (size % record_length != 0 ? 1 : 0);
}

}  // namespace

Status Store::Open(const Form& form, const std::string& dir) {
  form_ = &form;
  std::vector<const FieldDef*> defs;
  for (const FieldDef& def : form.ph) defs.push_back(&def);
  header_layout_ = LayoutOf(defs);
  line_layouts_.clear();
  for (int line = 0; line < form.line_count; ++line) {
    defs.clear();
    for (int f = 0; f < form.field_count; ++f) defs.push_back(&form.detail(line, f));
    line_layouts_.push_back(LayoutOf(defs));
  }
  std::string why;
  info_fd_ = OpenInfo(StoreFilePath(dir, kInfoFile), &why);
  if (info_fd_ < 0)
    return Status::Error("INFO cannot be opened for reading and writing: " + why)
        .WithStdout("No permission ... \r\n")
        .WithPause(1);
  Status s = head_file_.Open(StoreFilePath(dir, kHeadFile), kHeadBlock);
  if (!s.ok()) return s;
  if (!(s = doc_file_.Open(StoreFilePath(dir, kDocFile), kDocBlock)).ok()) return s;
  doc_file_.AdaptToJumps(kDocInMemory);
  pointer_fields_.resize(static_cast<size_t>(kPointerWidth) * static_cast<size_t>(form.line_count));

  // Each read of the store is made under the readers' lock; taking it
  // first rolls back a change a writer died in the middle of.
  read_lock_.Attach(info_fd_, dir, true);
  if (!(s = read_lock_.Lock()).ok()) return s;
  head_file_.SetReadLock(&read_lock_);
  doc_file_.SetReadLock(&read_lock_);
  char count_text[13];
  ssize_t n = ReadAt(info_fd_, count_text, 12, 0);
  read_lock_.Unlock();
  count_text[std::max<ssize_t>(n, 0)] = '\0';
  if (!ParseLong(count_text, &record_count_)) {
    record_count_ = 0;
    warnings_.push_back("INFO holds no record count; the store is taken as empty");
  } else if (record_count_ < 0) {
    record_count_ = 0;
  }
  // A count beyond the records HEAD holds is cut to them: the records past
  // its end hold nothing, and examining them cost time (and output) without
  // bound for a count of twelve digits.
  const int64_t counted = record_count_;
  const int64_t in_head = RecordsIn(head_file_.FileSize(), form.header_record_length);
  record_count_ = std::min(record_count_, in_head);
  if (CutCountToHeadData(counted)) return Status::Ok();
  if (counted > in_head) {
    warnings_.push_back("INFO counts " + std::to_string(counted) + " records, but HEAD holds " +
                        std::to_string(in_head) +
                        (in_head == 0 ? "; none is examined"
                                      : "; only those " + std::to_string(in_head) + " are examined"));
  }
  return Status::Ok();
}

// A sparse HEAD (a size set by truncate, say) can claim trillions of records
// that no one wrote and that cost no disk: examining them would take hours.
// Records that lie wholly in its holes are not examined, nor the runs of
// all-zero records at the edges of its regions of data (the rest of the file
// system's blocks that hold the first and last bytes written), and the count
// ends with the last record that holds data. A well-made store has no hole,
// and then this costs one call. True when HEAD is sparse (and the warning, if
// any, is given); `counted` is the count INFO gave.
bool Store::CutCountToHeadData(int64_t counted) {
  const int64_t length = form_->header_record_length;
  if (record_count_ == 0 || length <= 0) return false;
  const int64_t size = record_count_ > INT64_MAX / length ? INT64_MAX : record_count_ * length;
  if (!FindDataExtents(head_file_.fd(), size, kMaxHeadExtents, &head_data_)) return false;
  head_is_sparse_ = true;
  std::erase_if(head_data_, [this](DataExtent& e) { return !TrimZeroEdges(&e); });
  int64_t examined = 0;
  int64_t covered = 0;  // records below this are counted
  for (const DataExtent& e : head_data_) {
    const int64_t first = std::max(e.begin / length, covered);
    const int64_t end = std::min(RecordsIn(e.end, length), record_count_);
    if (end > first) examined += end - first;
    covered = std::max(covered, end);
  }
  record_count_ = covered;
  if (examined < counted) {
    warnings_.push_back("HEAD is a sparse file: " + std::to_string(counted - examined) + " of the " +
                        std::to_string(counted) +
                        " records INFO counts lie in holes or past its data, and are not examined");
  }
  return true;
}

// Narrows `extent` to the bytes from its first to its last that are not
// zero, looking at most 64 KiB in from either edge (a region is at least a
// block of the file system, and its zero edges are that block's unwritten
// rest); false when it holds no such byte there. Each look reads less than
// the region holds, so the cost stays within the data the file really has.
bool Store::TrimZeroEdges(DataExtent* extent) {
  constexpr int64_t kLook = 1 << 16;
  std::string edge;
  auto read = [&](int64_t from, int64_t to) {
    edge.assign(static_cast<size_t>(to - from), '\0');
    return ReadAt(head_file_.fd(), edge.data(), edge.size(), from) == static_cast<ssize_t>(edge.size());
  };
  const int64_t head_end = std::min(extent->end, extent->begin + kLook);
  if (!read(extent->begin, head_end)) return true;
  const size_t first = edge.find_first_not_of('\0');
  if (first == std::string::npos) return head_end < extent->end;
  extent->begin += static_cast<int64_t>(first);
  const int64_t tail_begin = std::max(extent->begin, extent->end - kLook);
  if (!read(tail_begin, extent->end)) return true;
  extent->end = tail_begin + static_cast<int64_t>(edge.find_last_not_of('\0')) + 1;
  return true;
}

int64_t Store::SkipHoles(int64_t n) const {
  const int64_t length = form_->header_record_length;
  // The first region that ends after record n begins.
  const int64_t at = n > INT64_MAX / length ? INT64_MAX : n * length;
  auto e = std::upper_bound(head_data_.begin(), head_data_.end(), at,
                            [](int64_t offset, const DataExtent& x) { return offset < x.end; });
  if (e == head_data_.end()) return std::max(n, record_count_);
  return std::min(std::max(n, e->begin / length), std::max(n, record_count_));
}

bool Store::HeadEndsBefore(int64_t n) const {
  const int64_t length = form_->header_record_length;
  return head_file_.known_end() <= (n > INT64_MAX / length ? INT64_MAX : n * length);
}

void Store::ReadStored(BlockReader* file, const FieldDef& def, FieldBuffer* out, bool* at_end) {
  size_t text_length;
  file->ReadField(out->data, static_cast<size_t>(def.length), &text_length, at_end);
  out->size = static_cast<uint32_t>(text_length);
}

Store::PartLayout Store::LayoutOf(const std::vector<const FieldDef*>& defs) {
  PartLayout layout;
  for (size_t f = 0; f < defs.size(); ++f) {
    if (!IsStoredType(defs[f]->type)) continue;
    const uint32_t length = static_cast<uint32_t>(std::max<int>(defs[f]->length, 0));
    layout.fields.push_back({static_cast<int>(f), static_cast<uint32_t>(layout.span), length});
    layout.span += length;
  }
  return layout;
}

namespace {

// True when none of the `n` bytes is a line feed or a NUL: a field read
// would then take each field whole, at its place.
bool HoldsNoLineEndOrNul(const char* bytes, size_t n) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = kOnes * 0x80;
  auto has_zero = [](uint64_t w) { return ((w - kOnes) & ~w & kHighs) != 0; };
  auto clean = [&](size_t at) {
    uint64_t word;
    std::memcpy(&word, bytes + at, 8);
    return !has_zero(word) && !has_zero(word ^ (kOnes * '\n'));
  };
  if (n < 8) {
    for (size_t i = 0; i < n; ++i)
      if (bytes[i] == '\n' || bytes[i] == '\0') return false;
    return true;
  }
#if defined(__SSE2__)
  if (n >= 16) {
    // Sixteen bytes at a time, then the last sixteen, which may overlap.
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    auto clean16 = [&](size_t at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
      return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, line_feed), _mm_cmpeq_epi8(v, nul))) == 0;
    };
    for (size_t i = 0; i + 16 <= n; i += 16)
      if (!clean16(i)) return false;
    return n % 16 == 0 || clean16(n - 16);
  }
#endif
  // Whole words, then the last eight bytes, which may overlap the words.
  for (size_t i = 0; i + 8 <= n; i += 8)
    if (!clean(i)) return false;
  return n % 8 == 0 || clean(n - 8);
}

}  // namespace

namespace {

// A six-byte pointer field as one word, its first byte lowest.
inline uint64_t PointerWord(const char* field) {
  uint32_t first;
  uint16_t last;
  std::memcpy(&first, field, 4);
  std::memcpy(&last, field + 4, 2);
  return static_cast<uint64_t>(first) | static_cast<uint64_t>(last) << 32;
}

// The text of a pointer of blanks then digits, counted up by one in the same
// form ("   199" gives "   200", "     9" gives "    10"); false past
// "999999".
inline bool CountUp(uint64_t text, uint64_t* next) {
  for (int shift = 40; shift >= 0; shift -= 8) {
    const uint64_t byte = (text >> shift) & 0xFF;
    if (byte == '9') {
      text = (text & ~(uint64_t{0xFF} << shift)) | (uint64_t{'0'} << shift);
      continue;
    }
    const uint64_t up = byte == ' ' ? '1' : byte + 1;
    *next = (text & ~(uint64_t{0xFF} << shift)) | (up << shift);
    return true;
  }
  return false;
}

// Reads a six-byte pointer field of blanks then at least one digit
// ("  1234"); false for any other text.
inline bool ParseBlanksThenDigits(const char* field, int64_t* value) {
  if constexpr (std::endian::native == std::endian::little) {
    // As one word: the blanks read as leading zeros, the digits combined
    // pairwise.
    const uint64_t word = PointerWord(field) << 16 | 0x3030;
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kLow7 = kOnes * 0x7F;
    const uint64_t blanks = word ^ (kOnes * ' ');
    const uint64_t blank_bytes = ~(((blanks & kLow7) + kLow7) | blanks | kLow7);  // 0x80 where a blank is
    // A blank becomes '0'; every byte must then be a digit, and the blanks
    // must come before the first digit and leave at least one.
    const uint64_t zeroed = word | (blank_bytes >> 7) * 0x10;
    const uint64_t high = zeroed & (kOnes * 0xF0);
    const uint64_t low = zeroed & (kOnes * 0x0F);
    const bool all_digits = high == kOnes * 0x30 && ((low + kOnes * 0x06) & (kOnes * 0xF0)) == 0;
    // 0xFF in each byte of the field (first at the bottom) that was a blank:
    // the blanks lead when this is all ones up to some byte.
    const uint64_t blank_mask = (blank_bytes >> 23) * 0xFF;
    const bool blanks_lead = (blank_mask & (blank_mask + 1)) == 0;
    if (all_digits && blanks_lead && blank_mask != 0xFFFFFFFFFFFFull) {
      uint64_t v = low;
      v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFull;
      v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFull;
      v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFull;
      *value = static_cast<int64_t>(v);
      return true;
    }
  }
  return false;
}

// Reads a six-byte pointer field as BlockReader::ReadIntegerField does:
// white space, an optional sign, digits; false without digits. Byte by
// byte, for the texts ParseBlanksThenDigits does not take.
inline bool ParsePointerSlowly(const char* field, int64_t* value) {
  size_t i = 0;
  while (i < 6 && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < 6 && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  const size_t digits = i;
  int64_t v = 0;
  for (; i < 6 && field[i] >= '0' && field[i] <= '9'; ++i) v = v * 10 + (field[i] - '0');
  if (i == digits) return false;
  *value = negative ? -v : v;
  return true;
}

}  // namespace

bool Store::ReadWholeFields(BlockReader* file, const PartLayout& layout, int line, RecordValues* values) {
  const char* record = file->Take(layout.span);
  if (record == nullptr) return false;
  if (!HoldsNoLineEndOrNul(record, layout.span)) {
    file->Seek(file->position() - static_cast<int64_t>(layout.span));
    return false;
  }
  if (line >= 0 && !layout.fields.empty()) {
    // A detail line's stored buffers lie as its record does (RecordValues).
    CopyShort(values->doc(line, layout.fields.front().field).data, record, layout.span);
    for (const StoredField& s : layout.fields) values->doc(line, s.field).size = s.length;
    return true;
  }
  for (const StoredField& s : layout.fields) {
    FieldBuffer& out = values->head(s.field);
    CopyShort(out.data, record + s.offset, s.length);
    out.size = s.length;
  }
  return true;
}

void Store::ExpectRecordsBefore(int64_t end) {
  const int64_t length = form_->header_record_length;
  head_file_.SetReadEnd(end > INT64_MAX / length ? INT64_MAX : end * length);
  doc_file_.SetReadEnd(FirstLineOf(end));
  doc_file_.BeginWalk();
}

// Where in DOC the lowest pointer of record n points; INT64_MAX when record
// n is past the count or has no line. Read apart from HEAD's window and
// without the readers' lock: a writer's change in the meantime only moves
// where a walk's reads stop ahead, never what it reads.
int64_t Store::FirstLineOf(int64_t n) {
  const int64_t length = form_->header_record_length;
  const size_t width = pointer_fields_.size();
  if (n < 0 || n >= record_count_ || width == 0 || n > INT64_MAX / length) return INT64_MAX;
  const int64_t at = n * length + length - 1 - static_cast<int64_t>(width);
  if (ReadAt(head_file_.fd(), pointer_fields_.data(), width, at) != static_cast<ssize_t>(width)) return INT64_MAX;
  int64_t lowest = INT64_MAX;
  for (size_t f = 0; f < width; f += kPointerWidth) {
    int64_t p;
    const char* field = pointer_fields_.data() + f;
    if ((ParseBlanksThenDigits(field, &p) || ParsePointerSlowly(field, &p)) && p >= 0) lowest = std::min(lowest, p);
  }
  const int64_t line_length = form_->detail_record_length;
  return lowest > INT64_MAX / line_length ? INT64_MAX : lowest * line_length;
}

void Store::ReadHeader(int64_t n, RecordValues* values) {
  const int64_t length = form_->header_record_length;
  head_file_.Seek(n > INT64_MAX / length ? INT64_MAX : n * length);
  if (ReadWholeFields(&head_file_, header_layout_, -1, values)) return;
  bool at_end;
  for (int f = 0; f < form_->header_count; ++f) {
    const FieldDef& def = form_->ph[f];
    if (IsStoredType(def.type)) ReadStored(&head_file_, def, &values->head(f), &at_end);
  }
}

void Store::ReadPointers(std::vector<int64_t>* pointers) {
  pointers->resize(static_cast<size_t>(form_->line_count));
  // All the pointers at once when they lie whole in the window.
  if (const char* fields = head_file_.Take(static_cast<size_t>(kPointerWidth) * pointers->size())) {
    for (int64_t& p : *pointers) {
      const uint64_t text = PointerWord(fields);
      const bool followed = next_pointer_value_ >= 0 && text == next_pointer_text_;
      if (followed) {
        p = next_pointer_value_;
      } else if (!ParseBlanksThenDigits(fields, &p)) {
        if (!ParsePointerSlowly(fields, &p)) p = -1;
        fields += kPointerWidth;
        continue;  // no text of this form to count up from
      }
      // The next field likely holds this pointer plus one, in this form;
      // after two pointers in a row that did not follow (lines stored out
      // of order), the guess is no longer made.
      if (followed || last_pointer_followed_)
        next_pointer_value_ = CountUp(text, &next_pointer_text_) ? p + 1 : -1;
      last_pointer_followed_ = followed;
      fields += kPointerWidth;
    }
    return;
  }
  for (int64_t& p : *pointers) {
    if (!head_file_.ReadIntegerField(kPointerWidth, &p)) p = -1;
  }
}

bool Store::ReadDetailLine(int line, int64_t pointer, RecordValues* values) {
  doc_file_.Seek(pointer * form_->detail_record_length);
  if (ReadWholeFields(&doc_file_, line_layouts_[static_cast<size_t>(line)], line, values)) {
    if (form_->field_count == 0) return true;
    std::string_view first = values->DetailText(line, 0);
    return first.empty() || first[0] != ' ';
  }
  bool field0_at_end = false;
  for (int f = 0; f < form_->field_count; ++f) {
    const FieldDef& def = form_->detail(line, f);
    if (!IsStoredType(def.type)) continue;
    bool at_end;
    ReadStored(&doc_file_, def, &values->doc(line, f), &at_end);
    if (f == 0) field0_at_end = at_end;
  }
  if (field0_at_end) return false;
  std::string_view first = values->DetailText(line, 0);
  return first.empty() || first[0] != ' ';
}
