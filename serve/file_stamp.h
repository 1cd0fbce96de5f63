// What a file looks like from outside: enough to notice a rewrite, a
// growth, a rename over it or its disappearance, without reading it.
#ifndef SERVE_FILE_STAMP_H_
#define SERVE_FILE_STAMP_H_

#include <sys/types.h>

#include <cstdint>
#include <string>

struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  int64_t ctime_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of `path` as stat sees it now; `exists` false when it cannot.
FileStamp StampOf(const std::string& path);

#endif  // SERVE_FILE_STAMP_H_
