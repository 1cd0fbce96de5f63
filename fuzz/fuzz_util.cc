#include "fuzz_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

// A broken promise: report it and abort, so that it counts as a crash.
void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// Splits `data` at every line that holds only "%%".
std::vector<std::string_view> Sections(std::string_view data) {
  std::vector<std::string_view> out;
  constexpr std::string_view kSeparator = "\n%%\n";
  for (;;) {
    size_t at = data.find(kSeparator);
    if (at == std::string_view::npos) break;
    out.push_back(data.substr(0, at));
    data.remove_prefix(at + kSeparator.size());
  }
  out.push_back(data);
  return out;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> out;
  for (;;) {
    size_t at = text.find(separator);
    if (at == std::string_view::npos) break;
    out.push_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  out.push_back(text);
  return out;
}

// The process's scratch directory, made on first use and removed at exit.
// Never destroyed, so that the exit handler can still name it.
const std::string& ScratchRoot() {
  static const std::string* const root = [] {
    // Memory-backed when the machine has it: every run rewrites files, and a
    // disk file system may flush them on each close.
    std::filesystem::path base = access("/dev/shm", W_OK) == 0
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / "query-fuzz-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory");
    return new std::string(pattern);
  }();
  static const bool cleanup = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*root, ignored);
    });
    return true;
  }();
  (void)cleanup;
  return *root;
}

InScratch::InScratch(const char* name) : previous_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  std::string dir = ScratchRoot() + "/" + name;
  mkdir(dir.c_str(), 0700);
  Check(chdir(dir.c_str()) == 0, "cannot enter the scratch directory");
}

InScratch::~InScratch() {
  if (previous_ >= 0) {
    Check(fchdir(previous_) == 0, "cannot return from the scratch directory");
    close(previous_);
  }
}

void WriteFile(const std::string& name, std::string_view bytes) {
  int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Check(fd >= 0, "cannot write a scratch file");
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    Check(n > 0, "cannot write a scratch file");
    done += static_cast<size_t>(n);
  }
  close(fd);
}

int DevNull() {
  static const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  return fd;
}

StdoutToNull::StdoutToNull() {
  std::fflush(stdout);
  saved_ = dup(1);
  dup2(DevNull(), 1);
}

StdoutToNull::~StdoutToNull() {
  std::fflush(stdout);
  if (saved_ >= 0) {
    dup2(saved_, 1);
    close(saved_);
  }
}
