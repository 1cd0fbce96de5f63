// Checking a store, a chunk of records at a time.
#include "store_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "escape.h"
#include "file_io.h"
#include "store_files.h"
#include "store_journal.h"
#include "store_lock.h"

namespace {

constexpr int kPointerWidth = 6;
constexpr size_t kChunk = size_t{1} << 20;
constexpr int kShownPerKind = 10;  // problems of one kind told one by one

// Collects problems, telling at most kShownPerKind of each kind.
class Problems {
 public:
  explicit Problems(CheckReport* report) : report_(report) {}
  ~Problems() {
    for (const auto& [kind, count] : counts_)
      if (count > kShownPerKind)
        report_->problems.push_back("... and " + std::to_string(count - kShownPerKind) + " more: " + kind);
  }
  void Add(const std::string& kind, const std::string& text) {
    if (++counts_[kind] <= kShownPerKind) report_->problems.push_back(text);
  }

 private:
  CheckReport* report_;
  std::map<std::string, int64_t> counts_;
};

class Reader {
 public:
  ~Reader() {
    if (fd_ >= 0) close(fd_);
  }
  bool Open(const std::string& path) {
    std::string why;
    fd_ = OpenRegularFile(path, O_RDONLY, &why, LinkRule::kFollowIfSameOwner);
    why_ = why;
    return fd_ >= 0;
  }
  int64_t Size() const {
    struct stat st;
    return fd_ >= 0 && fstat(fd_, &st) == 0 ? st.st_size : 0;
  }
  std::string Read(int64_t offset, size_t n) const {
    std::string out(n, '\0');
    const ssize_t got = fd_ >= 0 ? ReadAt(fd_, out.data(), n, offset) : 0;
    out.resize(static_cast<size_t>(std::max<ssize_t>(got, 0)));
    return out;
  }
  int fd() const { return fd_; }
  const std::string& why() const { return why_; }

 private:
  int fd_ = -1;
  std::string why_;
};

// The pointer field's number, as the query reads it; false without digits.
bool ParsePointer(std::string_view field, int64_t* value) {
  size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  const size_t digits = i;
  int64_t v = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) v = v * 10 + (field[i] - '0');
  if (i == digits) return false;
  *value = negative ? -v : v;
  return true;
}

struct Context {
  const Form& form;
  Reader& doc;
  Reader& index;
  int64_t doc_records;                 // complete DOC records
  int64_t key_length;                  // 0: header field 0 is not stored, or no H
  int64_t stored_header;               // bytes of stored header fields
  std::vector<int64_t> owner;          // DOC record -> document * lines + line + 1
  Problems& problems;
  CheckReport* report;
};

std::string Where(int64_t record, int line) {
  return "document " + std::to_string(record) + ", line " + std::to_string(line);
}

void CheckPointer(Context& c, int64_t n, int line, std::string_view field) {
  int64_t p;
  if (!ParsePointer(field, &p)) {
    c.problems.Add("pointers without a number", Where(n, line) + ": the detail pointer '" +
                                                     EscapeControlBytes(std::string(field)) + "' holds no number");
    return;
  }
  if (p < 0) return;
  ++c.report->lines;
  if (p >= c.doc_records) {
    c.problems.Add("pointers outside DOC", Where(n, line) + ": points to DOC record " + std::to_string(p) +
                                               ", outside DOC, which holds " + std::to_string(c.doc_records));
    return;
  }
  const int64_t me = n * c.form.line_count + line + 1;
  int64_t& owner = c.owner[static_cast<size_t>(p)];
  if (owner != 0) {
    const int64_t other = owner - 1;
    c.problems.Add("shared DOC records", Where(n, line) + ": shares DOC record " + std::to_string(p) + " with " +
                                             Where(other / c.form.line_count, static_cast<int>(other % c.form.line_count)));
    return;
  }
  owner = me;
  const std::string end = c.doc.Read((p + 1) * c.form.detail_record_length - 1, 1);
  if (end != "\n")
    c.problems.Add("DOC records without a line feed",
                   "DOC record " + std::to_string(p) + " (" + Where(n, line) + ") does not end in a line feed");
}

void CheckRecord(Context& c, int64_t n, std::string_view record, std::string_view key) {
  const size_t length = record.size();
  if (record.back() != '\n')
    c.problems.Add("HEAD records without a line feed", "HEAD record " + std::to_string(n) + " does not end in a line feed");
  if (record.substr(0, length - 1).find('\n') != std::string_view::npos)
    c.problems.Add("HEAD records with a line feed inside",
                   "HEAD record " + std::to_string(n) + " holds a line feed before its end, which cuts its fields short");
  for (int line = 0; line < c.form.line_count; ++line)
    CheckPointer(c, n, line, record.substr(static_cast<size_t>(c.stored_header) + kPointerWidth * line, kPointerWidth));
  if (c.key_length > 0 && key.size() == static_cast<size_t>(c.key_length) &&
      key != record.substr(0, static_cast<size_t>(c.key_length)))
    c.problems.Add("keys of H", "H holds '" + EscapeControlBytes(std::string(key)) + "' for document " +
                                    std::to_string(n) + ", whose header field 0 is '" +
                                    EscapeControlBytes(std::string(record.substr(0, static_cast<size_t>(c.key_length)))) + "'");
}

// Checks records [from, records).
void CheckRecords(Context& c, Reader& head, int64_t from, int64_t records) {
  const int64_t length = c.form.header_record_length;
  const int64_t per_chunk = std::max<int64_t>(1, static_cast<int64_t>(kChunk) / length);
  for (int64_t first = from; first < records; first += per_chunk) {
    const int64_t n = std::min(per_chunk, records - first);
    const std::string chunk = head.Read(first * length, static_cast<size_t>(n * length));
    const std::string keys = c.key_length > 0 ? c.index.Read(first * c.key_length, static_cast<size_t>(n * c.key_length)) : "";
    for (int64_t i = 0; i < n && (i + 1) * length <= static_cast<int64_t>(chunk.size()); ++i) {
      std::string_view key;
      if (static_cast<int64_t>(keys.size()) >= (i + 1) * c.key_length && c.key_length > 0)
        key = std::string_view(keys).substr(static_cast<size_t>(i * c.key_length), static_cast<size_t>(c.key_length));
      CheckRecord(c, first + i, std::string_view(chunk).substr(static_cast<size_t>(i * length), static_cast<size_t>(length)), key);
    }
  }
}

int64_t ReadCount(const Reader& info, Problems& problems) {
  const std::string text = info.Read(0, 12);
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string::npos || text[i] < '0' || text[i] > '9') {
    problems.Add("INFO", "INFO holds no record count in its first 12 bytes");
    return 0;
  }
  int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = v * 10 + (text[i] - '0');
  return v;
}

}  // namespace

Status CheckStore(const Form& form, const std::string& dir, CheckReport* report) {
  *report = CheckReport();
  Reader info, head, doc, index;
  for (auto [reader, name] : {std::pair{&info, kInfoFile}, {&head, kHeadFile}, {&doc, kDocFile}})
    if (!reader->Open(dir + "/" + name)) return Status::Error(std::string(name) + " cannot be opened: " + reader->why());
  const bool has_index = index.Open(dir + "/" + kHeaderIndexFile);
  // Under the readers' lock, no writer's commit is seen half made.
  const bool locked = SetStoreLock(info.fd(), StoreLockByte::kReaders, LockMode::kShared, true);
  Problems problems(report);
  if (JournalExists(dir) && !StoreLockIsHeld(info.fd(), StoreLockByte::kWriters))
    problems.Add("journal", std::string("a journal (") + kJournalFile +
                                ") is left behind: a change was not finished; the next writer or reader rolls it back");
  const int64_t count = ReadCount(info, problems);
  const int64_t length = form.header_record_length;
  const int64_t head_size = head.Size();
  if (length <= 0 || head_size / length != count || head_size % length != 0)
    problems.Add("INFO", "INFO counts " + std::to_string(count) + " documents of " + std::to_string(length) +
                             " bytes, but HEAD holds " + std::to_string(head_size) + " bytes");
  const int64_t doc_size = doc.Size();
  if (form.detail_record_length > 0 && doc_size % form.detail_record_length != 0)
    problems.Add("DOC", "DOC holds " + std::to_string(doc_size) + " bytes, not a whole number of " +
                            std::to_string(form.detail_record_length) + "-byte records");
  int64_t key_length = has_index && !form.ph.empty() && IsStoredType(form.ph[0].type) ? form.ph[0].length : 0;
  if (key_length > 0 && index.Size() != count * key_length)
    problems.Add("H", "H holds " + std::to_string(index.Size()) + " bytes; " + std::to_string(count) + " keys of " +
                          std::to_string(key_length) + " bytes take " + std::to_string(count * key_length));
  int64_t stored = 0;
  for (const FieldDef& d : form.ph)
    if (IsStoredType(d.type)) stored += d.length;
  const int64_t doc_records = form.detail_record_length > 0 ? doc_size / form.detail_record_length : 0;
  Context c{form, doc, index, doc_records, key_length, stored,
            std::vector<int64_t>(static_cast<size_t>(std::min<int64_t>(doc_records, 1000000))), problems, report};
  const int64_t records = length > 0 ? std::min(count, head_size / length) : 0;
  report->documents = records;
  // A sparse HEAD (its size set without writing) is checked where it holds
  // data: walking its holes would take as long as the size it claims.
  std::vector<DataExtent> data;
  if (length > 0 && FindDataExtents(head.fd(), records * length, size_t{1} << 20, &data)) {
    problems.Add("HEAD", "HEAD is a sparse file: its holes hold no records, and only its regions of data are checked");
    for (const DataExtent& e : data)
      CheckRecords(c, head, e.begin / length, std::min(records, (e.end + length - 1) / length));
  } else {
    CheckRecords(c, head, 0, records);
  }
  if (locked) SetStoreLock(info.fd(), StoreLockByte::kReaders, LockMode::kUnlock, false);
  return Status::Ok();
}

Status CheckStoreCommand(const std::string& form_path, CheckReport* report) {
  Form form;
  Status s = LoadForm(form_path, &form);
  if (!s.ok()) return s;
  return CheckStore(form, ".", report);
}
