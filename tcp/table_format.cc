// The terminal table file's format.
#include "table_format.h"

namespace tcpformat {

namespace {

int SignedByte(unsigned char c) { return static_cast<signed char>(c); }

}  // namespace

Scan ScanTable(std::string_view bytes) {
  Scan scan;
  int *header[kHeaderBytes] = {&scan.tics, &scan.start, &scan.cmpar};
  size_t i = 0;
  for (int *h : header) {
    if (i < bytes.size()) *h = SignedByte(static_cast<unsigned char>(bytes[i++]));
  }
  std::string entry;
  for (; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == kTableEnd) {
      scan.ended = true;
      scan.bytes_after_end = bytes.size() - i - 1;
      break;
    }
    if (c == kEntryEnd) {
      scan.entries.push_back(entry);
      entry.clear();
      scan.last_unterminated = false;
    } else {
      entry += static_cast<char>(c);
      scan.last_unterminated = true;
    }
  }
  if (scan.last_unterminated) scan.entries.push_back(entry);
  return scan;
}

}  // namespace tcpformat
