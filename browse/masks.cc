#include "masks.h"

#include "escape.h"
#include "file_io.h"

std::vector<std::string> SplitMask(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      continue;
    }
    const unsigned char byte = static_cast<unsigned char>(c);
    line.push_back(byte < 0x20 || byte == 0x7F ? ' ' : c);
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

Status LoadMask(const std::string& path, std::vector<std::string>* lines) {
  std::string text;
  ReadResult result = ReadWholeFile(path, &text, kMaxMaskSize);
  lines->clear();
  if (result == ReadResult::kMissing) return Status::Ok();
  if (result == ReadResult::kTooLarge) {
    return Status::Error("screen mask '" + EscapeControlBytes(path) + "' holds more than " +
                         std::to_string(kMaxMaskSize) + " bytes");
  }
  if (result != ReadResult::kOk) {
    return Status::Error("screen mask '" + EscapeControlBytes(path) + "' " + DescribeReadFailure(result));
  }
  *lines = SplitMask(text);
  return Status::Ok();
}
