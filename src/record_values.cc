#include "record_values.h"

#include <algorithm>
#include <cstring>

void FieldBuffer::Assign(const char* bytes, size_t n) {
  n = std::min<size_t>(n, capacity);
  const void* nul = std::memchr(bytes, '\0', n);
  if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - bytes);
  std::memmove(data, bytes, n);
  size = static_cast<uint32_t>(n);
}

// ---- RecordValues

void RecordValues::Init(const Form& form) {
  line_count_ = form.line_count;
  field_count_ = form.field_count;
  head_.assign(form.ph.size(), FieldBuffer());
  doc_.assign(form.pd.size(), FieldBuffer());
  fetched_.assign(form.pd.size(), -1);
  size_t total = 0;
  for (size_t f = 0; f < head_.size(); ++f) total += head_[f].capacity = FieldRoom(form.ph[f], form, true);
  for (size_t i = 0; i < doc_.size(); ++i) total += doc_[i].capacity = FieldRoom(form.pd[i], form, false);
  arena_ = std::make_unique_for_overwrite<char[]>(total + 1);
  char* next = arena_.get();
  for (FieldBuffer& b : head_) { b.data = next; next += b.capacity; }
  // Each detail line's stored fields first, one after another in field
  // order as a record holds them, then its other fields.
  for (int line = 0; line < line_count_; ++line) {
    for (int pass = 0; pass < 2; ++pass) {
      for (int f = 0; f < field_count_; ++f) {
        if (IsStoredType(form.detail(line, f).type) != (pass == 0)) continue;
        FieldBuffer& b = doc(line, f);
        b.data = next;
        next += b.capacity;
      }
    }
  }
}
