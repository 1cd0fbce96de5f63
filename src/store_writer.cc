// Adding and changing documents under the journal protocol.
#include "store_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <algorithm>

#include "store_files.h"
#include "store_journal.h"
#include "store_lock.h"
#include "stored_value.h"

namespace {

constexpr int kPointerWidth = 6;
constexpr int kInfoWidth = 12;
constexpr char kAbsentPointer[] = "    -1";
constexpr size_t kScanChunk = size_t{1} << 20;

// The count in INFO's first 12 bytes: blanks, then digits.
bool ParseCount(const std::string& text, int64_t* count) {
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string::npos || text[i] < '0' || text[i] > '9') return false;
  int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = v * 10 + (text[i] - '0');
  *count = v;
  return true;
}

Status ReadCount(const StoreIo& io, int64_t* count) {
  std::string text;
  Status s = io.Read(StoreFile::kInfo, 0, kInfoWidth, &text);
  if (!s.ok()) return s;
  if (!ParseCount(text, count)) return Status::Error("INFO holds no record count; the store cannot be written");
  return Status::Ok();
}

std::string Pointer(int64_t p) {
  char text[24];
  std::snprintf(text, sizeof text, "%6" PRId64, p);
  return text;
}

const std::string& FieldOf(const std::vector<std::string>& fields, int i) {
  static const std::string kEmpty;
  return i < static_cast<int>(fields.size()) ? fields[static_cast<size_t>(i)] : kEmpty;
}

// True when two lines hold the same values (missing fields are empty).
bool SameLine(const LineValues& a, const LineValues& b, int field_count) {
  if (a.present != b.present) return false;
  for (int f = 0; f < field_count; ++f)
    if (FieldOf(a.fields, f) != FieldOf(b.fields, f)) return false;
  return true;
}

const LineValues& LineOf(const DocumentValues& d, int line) {
  static const LineValues kAbsent;
  return line < static_cast<int>(d.lines.size()) ? d.lines[static_cast<size_t>(line)] : kAbsent;
}

}  // namespace

struct StoreWriter::Change {
  // Builds the change once the writers' lock is held and the store is whole.
  std::function<Status(StoreIo* io, int64_t count)> plan;
  std::string doc_bytes;  // new detail lines, appended at doc_at
  int64_t doc_at = 0;
  struct Overwrite {
    StoreFile file;
    int64_t offset;
    std::string bytes;
  };
  std::vector<Overwrite> overwrites;  // in order; INFO, when raised, last
};

Status StoreWriter::Open(const Form& form, std::string dir) {
  form_ = &form;
  dir_ = std::move(dir);
  header_offsets_.assign(form.ph.size(), -1);
  int64_t at = 0;
  for (size_t f = 0; f < form.ph.size(); ++f) {
    if (!IsStoredType(form.ph[f].type)) continue;
    header_offsets_[f] = at;
    at += form.ph[f].length;
  }
  pointer_offset_ = at;
  key_length_ = !form.ph.empty() && IsStoredType(form.ph[0].type) ? form.ph[0].length : 0;
  line_offsets_.assign(form.pd.size(), -1);
  for (int line = 0; line < form.line_count; ++line) {
    int64_t offset = 0;
    for (int f = 0; f < form.field_count; ++f) {
      const FieldDef& def = form.detail(line, f);
      if (!IsStoredType(def.type)) continue;
      line_offsets_[static_cast<size_t>(line) * form.field_count + f] = offset;
      offset += def.length;
    }
    if (offset > form.detail_record_length - kPointerWidth)
      return Status::Error("form '" + form.path + "': detail line " + std::to_string(line) +
                           " stores more than line 0, so its records would not fit in DOC");
    if (form.field_count == 0 || !IsStoredType(form.detail(line, 0).type))
      return Status::Error("form '" + form.path + "': the first field of detail line " + std::to_string(line) +
                           " is not stored, so no line could be told from a deleted one");
  }
  return Status::Ok();
}

Status StoreWriter::Count(int64_t* count) const {
  StoreIo io;
  Status s = io.Open(dir_);
  if (!s.ok()) return s;
  StoreReadLock lock;
  lock.Attach(io.fd(StoreFile::kInfo), dir_, true);
  if (!(s = lock.Lock()).ok()) return s;
  s = ReadCount(io, count);
  lock.Unlock();
  return s;
}

Status StoreWriter::Load(int64_t record, LoadedDocument* out) const {
  StoreIo io;
  Status s = io.Open(dir_);
  if (!s.ok()) return s;
  StoreReadLock lock;
  lock.Attach(io.fd(StoreFile::kInfo), dir_, true);
  if (!(s = lock.Lock()).ok()) return s;
  int64_t count = 0;
  if (!(s = ReadCount(io, &count)).ok()) return s;
  if (record < 0 || record >= count)
    return Status::Error("document " + std::to_string(record) + " is not in the store, which holds " +
                         std::to_string(count));
  const Form& form = *form_;
  *out = LoadedDocument();
  out->record = record;
  if (!(s = io.Read(StoreFile::kHead, record * form.header_record_length,
                    static_cast<size_t>(form.header_record_length), &out->head_record)).ok())
    return s;
  out->head_record.resize(static_cast<size_t>(form.header_record_length), '\0');
  const std::string& h = out->head_record;
  out->values.header.assign(form.ph.size(), "");
  for (size_t f = 0; f < form.ph.size(); ++f)
    if (header_offsets_[f] >= 0)
      out->values.header[f] = ValueOfStored(std::string_view(h).substr(static_cast<size_t>(header_offsets_[f]),
                                                                      static_cast<size_t>(form.ph[f].length)));
  out->values.lines.assign(static_cast<size_t>(form.line_count), LineValues());
  for (int line = 0; line < form.line_count; ++line) {
    const std::string field = h.substr(static_cast<size_t>(pointer_offset_) + kPointerWidth * line, kPointerWidth);
    char* end = nullptr;
    const long long p = std::strtoll(field.c_str(), &end, 10);
    out->pointers.push_back(end == field.c_str() ? -1 : p);
    if (end == field.c_str() || p < 0) continue;
    std::string bytes;
    if (!(s = io.Read(StoreFile::kDoc, p * form.detail_record_length,
                      static_cast<size_t>(form.detail_record_length), &bytes)).ok())
      return s;
    if (bytes.empty() || bytes[0] == ' ') continue;  // beyond DOC, or deleted
    bytes.resize(static_cast<size_t>(form.detail_record_length), ' ');
    LineValues& lv = out->values.lines[static_cast<size_t>(line)];
    lv.present = true;
    lv.fields.assign(static_cast<size_t>(form.field_count), "");
    for (int f = 0; f < form.field_count; ++f) {
      const int64_t off = line_offsets_[static_cast<size_t>(line) * form.field_count + f];
      if (off >= 0)
        lv.fields[static_cast<size_t>(f)] = ValueOfStored(
            std::string_view(bytes).substr(static_cast<size_t>(off), static_cast<size_t>(form.detail(line, f).length)));
    }
  }
  return Status::Ok();
}

Status StoreWriter::BuildHeader(const DocumentValues& doc, const LoadedDocument* before, std::string* record) const {
  const Form& form = *form_;
  if (doc.header.size() > form.ph.size())
    return Status::Error("the document has " + std::to_string(doc.header.size()) + " header values; form '" +
                         form.path + "' has " + std::to_string(form.ph.size()) + " header fields");
  if (doc.lines.size() > static_cast<size_t>(form.line_count))
    return Status::Error("the document has " + std::to_string(doc.lines.size()) + " detail lines; form '" +
                         form.path + "' has " + std::to_string(form.line_count));
  if (before != nullptr) {
    *record = before->head_record;
  } else {
    record->assign(static_cast<size_t>(form.header_record_length), ' ');
  }
  if (!record->empty()) record->back() = '\n';
  for (size_t f = 0; f < form.ph.size(); ++f) {
    if (header_offsets_[f] < 0) continue;
    const std::string& value = FieldOf(doc.header, static_cast<int>(f));
    if (before != nullptr && FieldOf(before->values.header, static_cast<int>(f)) == value) continue;
    std::string bytes, why;
    if (!FormatStoredValue(form.ph[f], FieldPlace::kAnywhere, value, &bytes, &why))
      return Status::Error("header field " + std::to_string(f) + ": the value '" + value + "' " + why);
    record->replace(static_cast<size_t>(header_offsets_[f]), bytes.size(), bytes);
  }
  return Status::Ok();
}

Status StoreWriter::BuildLine(int line, const LineValues& values, int64_t record, std::string* bytes) const {
  const Form& form = *form_;
  if (values.fields.size() > static_cast<size_t>(form.field_count))
    return Status::Error("detail line " + std::to_string(line) + " has " + std::to_string(values.fields.size()) +
                         " values; the form's lines have " + std::to_string(form.field_count) + " fields");
  std::string body(static_cast<size_t>(form.detail_record_length - kPointerWidth), ' ');
  for (int f = 0; f < form.field_count; ++f) {
    const int64_t off = line_offsets_[static_cast<size_t>(line) * form.field_count + f];
    if (off < 0) continue;
    const std::string& value = FieldOf(values.fields, f);
    std::string text, why;
    if (!FormatStoredValue(form.detail(line, f), f == 0 ? FieldPlace::kFirstOfLine : FieldPlace::kAnywhere, value,
                           &text, &why))
      return Status::Error("detail line " + std::to_string(line) + ", field " + std::to_string(f) + ": the value '" +
                           value + "' " + why);
    body.replace(static_cast<size_t>(off), text.size(), text);
  }
  // The trailer nothing reads: the document's record number, as the
  // generator of reference stores writes it, and the record's line feed.
  char trailer[16];
  std::snprintf(trailer, sizeof trailer, "%5" PRId64 "\n", record % 100000);
  *bytes += body;
  *bytes += trailer;
  return Status::Ok();
}

Status StoreWriter::CheckKey(StoreIo* io, int64_t count, const std::string& record, int64_t self) const {
  if (key_length_ <= 0) return Status::Ok();
  const std::string key = record.substr(0, static_cast<size_t>(key_length_));
  if (key.find_first_not_of(' ') == std::string::npos)
    return Status::Error("the document's key (header field 0) is blank; a document needs one");
  // H when it holds every key; otherwise each record's field 0 in HEAD.
  const bool use_index = io->Size(StoreFile::kIndex) >= count * key_length_;
  const StoreFile file = use_index ? StoreFile::kIndex : StoreFile::kHead;
  const int64_t stride = use_index ? key_length_ : form_->header_record_length;
  const int64_t per_chunk = std::max<int64_t>(1, static_cast<int64_t>(kScanChunk) / stride);
  std::string chunk;
  for (int64_t first = 0; first < count; first += per_chunk) {
    const int64_t n = std::min(per_chunk, count - first);
    Status s = io->Read(file, first * stride, static_cast<size_t>(n * stride), &chunk);
    if (!s.ok()) return s;
    for (int64_t i = 0; i < n && i * stride + key_length_ <= static_cast<int64_t>(chunk.size()); ++i) {
      if (first + i != self && chunk.compare(static_cast<size_t>(i * stride), key.size(), key) == 0)
        return Status::Error("the key '" + ValueOfStored(key) + "' is already the key of document " +
                             std::to_string(first + i));
    }
  }
  return Status::Ok();
}

Status StoreWriter::Add(const DocumentValues& doc, int64_t* record) {
  Change change;
  change.plan = [&](StoreIo* io, int64_t count) -> Status {
    const Form& form = *form_;
    std::string head;
    Status s = BuildHeader(doc, nullptr, &head);
    if (!s.ok() || !(s = CheckKey(io, count, head, -1)).ok()) return s;
    if (count >= 999999999999)
      return Status::Error("INFO cannot count more than 999,999,999,999 documents");
    const int64_t length = form.detail_record_length;
    change.doc_at = (io->Size(StoreFile::kDoc) + length - 1) / length;
    int64_t next = change.doc_at;
    for (int line = 0; line < form.line_count; ++line) {
      const LineValues& lv = LineOf(doc, line);
      if (!lv.present) {
        head.replace(static_cast<size_t>(pointer_offset_ + kPointerWidth * line), kPointerWidth, kAbsentPointer);
        continue;
      }
      if (next >= kMaxDocRecords)
        return Status::Error("DOC would hold more than 1,000,000 records, the most a 6-digit detail pointer names");
      if (!(s = BuildLine(line, lv, count, &change.doc_bytes)).ok()) return s;
      head.replace(static_cast<size_t>(pointer_offset_ + kPointerWidth * line), kPointerWidth, Pointer(next++));
    }
    change.doc_at *= length;
    change.overwrites.push_back({StoreFile::kHead, count * form.header_record_length, head});
    if (io->has(StoreFile::kIndex) && key_length_ > 0)
      change.overwrites.push_back({StoreFile::kIndex, count * key_length_, head.substr(0, static_cast<size_t>(key_length_))});
    char info[24];
    std::snprintf(info, sizeof info, "%12" PRId64, count + 1);
    change.overwrites.push_back({StoreFile::kInfo, 0, info});
    *record = count;
    return Status::Ok();
  };
  return Apply(&change);
}

Status StoreWriter::Save(const LoadedDocument& before, const DocumentValues& after) {
  Change change;
  change.plan = [&](StoreIo* io, int64_t count) -> Status {
    const Form& form = *form_;
    const int64_t n = before.record;
    if (n < 0 || n >= count)
      return Status::Error("document " + std::to_string(n) + " is no longer in the store");
    std::string now;
    Status s = io->Read(StoreFile::kHead, n * form.header_record_length,
                        static_cast<size_t>(form.header_record_length), &now);
    if (!s.ok()) return s;
    now.resize(static_cast<size_t>(form.header_record_length), '\0');
    if (now != before.head_record)
      return Status::Error("document " + std::to_string(n) +
                           " was changed by someone else since it was loaded; reload it and make the change again");
    std::string head;
    if (!(s = BuildHeader(after, &before, &head)).ok()) return s;
    const bool key_changed = key_length_ > 0 && head.compare(0, static_cast<size_t>(key_length_), before.head_record, 0,
                                                             static_cast<size_t>(key_length_)) != 0;
    if (key_changed && !(s = CheckKey(io, count, head, n)).ok()) return s;
    const int64_t length = form.detail_record_length;
    change.doc_at = (io->Size(StoreFile::kDoc) + length - 1) / length;
    int64_t next = change.doc_at;
    for (int line = 0; line < form.line_count; ++line) {
      const LineValues& was = LineOf(before.values, line);
      const LineValues& is = LineOf(after, line);
      const size_t at = static_cast<size_t>(pointer_offset_ + kPointerWidth * line);
      if (SameLine(was, is, form.field_count) || (!was.present && !is.present)) continue;
      if (!is.present) {
        head.replace(at, kPointerWidth, kAbsentPointer);
        continue;
      }
      if (next >= kMaxDocRecords)
        return Status::Error("DOC would hold more than 1,000,000 records, the most a 6-digit detail pointer names");
      if (!(s = BuildLine(line, is, n, &change.doc_bytes)).ok()) return s;
      head.replace(at, kPointerWidth, Pointer(next++));
    }
    change.doc_at *= length;
    if (head == before.head_record) return Status::Ok();  // nothing changed
    change.overwrites.push_back({StoreFile::kHead, n * form.header_record_length, head});
    if (key_changed && io->has(StoreFile::kIndex))
      change.overwrites.push_back({StoreFile::kIndex, n * key_length_, head.substr(0, static_cast<size_t>(key_length_))});
    return Status::Ok();
  };
  return Apply(&change);
}

Status StoreWriter::Recover() {
  return RollBackStore(dir_, hook_ ? &hook_ : nullptr);
}

Status StoreWriter::Apply(Change* change) {
  StoreIo io;
  Status s = io.Open(dir_);
  if (!s.ok()) return s;
  io.SetHook(hook_ ? &hook_ : nullptr);
  const int lock_fd = io.fd(StoreFile::kInfo);
  if (!SetStoreLock(lock_fd, StoreLockByte::kWriters, LockMode::kExclusive, true))
    return Status::Error("INFO in " + dir_ + " cannot be locked for writing: " + std::strerror(errno));
  if (JournalExists(dir_)) {
    if (!SetStoreLock(lock_fd, StoreLockByte::kReaders, LockMode::kExclusive, true))
      return Status::Error("INFO in " + dir_ + " cannot be locked for writing: " + std::strerror(errno));
    if (!(s = RollBackLocked(&io)).ok()) return s;
    SetStoreLock(lock_fd, StoreLockByte::kReaders, LockMode::kUnlock, false);
  }
  int64_t count = 0;
  if (!(s = ReadCount(io, &count)).ok()) return s;
  if (!(s = change->plan(&io, count)).ok()) return s;
  if (change->overwrites.empty()) return Status::Ok();
  return Commit(&io, *change);
  // Closing INFO's descriptor lets the locks go.
}

// The protocol of doc/store_writing.md, step by step.
Status StoreWriter::Commit(StoreIo* io, const Change& change) {
  Journal journal;
  for (int f = 0; f < 4; ++f) journal.sizes[f] = io->Size(static_cast<StoreFile>(f));
  for (const Change::Overwrite& o : change.overwrites) {
    JournalPiece piece{o.file, o.offset, ""};
    Status s = io->Read(o.file, o.offset, o.bytes.size(), &piece.old_bytes);
    if (!s.ok()) return s;
    journal.pieces.push_back(std::move(piece));
  }
  // 1. The journal, durable with its directory entry, before any store byte.
  Status s = io->CreateJournal();
  if (!s.ok() || !(s = io->Write(StoreFile::kJournal, 0, EncodeJournal(journal))).ok() ||
      !(s = io->Flush(StoreFile::kJournal)).ok() || !(s = io->FlushDirectory()).ok())
    return s;
  // 2. Readers kept out once the reads in flight are done: none ever reads a
  // byte of a change that may yet be rolled back, not even an appended line.
  if (!SetStoreLock(io->fd(StoreFile::kInfo), StoreLockByte::kReaders, LockMode::kExclusive, true))
    return Status::Error("INFO in " + dir_ + " cannot be locked for writing: " + std::strerror(errno));
  // 3. New lines past DOC's end, then what points to them.
  if (!change.doc_bytes.empty() && !(s = io->Write(StoreFile::kDoc, change.doc_at, change.doc_bytes)).ok()) return s;
  for (const Change::Overwrite& o : change.overwrites)
    if (!(s = io->Write(o.file, o.offset, o.bytes)).ok()) return s;
  // 4. Everything durable, then the journal removed: the commit.
  bool to_flush[4] = {false, false, !change.doc_bytes.empty(), false};  // by StoreFile
  for (const Change::Overwrite& o : change.overwrites) to_flush[static_cast<int>(o.file)] = true;
  for (StoreFile f : {StoreFile::kDoc, StoreFile::kHead, StoreFile::kIndex, StoreFile::kInfo})
    if (to_flush[static_cast<int>(f)] && !(s = io->Flush(f)).ok()) return s;
  if (!(s = io->RemoveJournal()).ok()) return s;
  return io->FlushDirectory();
}

Status CreateStore(const std::string& dir, unsigned mode) {
  const int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return Status::Error("the directory " + dir + " cannot be opened: " + std::strerror(errno));
  Status s;
  for (const char* name : {kHeadFile, kDocFile, kHeaderIndexFile, kInfoFile}) {
    const int fd = openat(dir_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
      s = Status::Error(std::string(name) + " in " + dir + " cannot be created: " + std::strerror(errno));
      break;
    }
    const char count[] = "           0";
    const bool ok = name != kInfoFile || write(fd, count, kInfoWidth) == kInfoWidth;
    if (!ok || fsync(fd) != 0) s = Status::Error(std::string(name) + " in " + dir + " cannot be written");
    close(fd);
    if (!s.ok()) break;
  }
  if (s.ok() && fsync(dir_fd) != 0) s = Status::Error("the directory " + dir + " cannot be flushed");
  close(dir_fd);
  return s;
}
