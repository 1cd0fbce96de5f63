// Writing a table file without ever leaving a half-written or foreign one.
#include "file_install.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tcptable {

namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() { Reset(-1); }
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }
  // Gives up ownership: the caller closes the descriptor.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::string Quoted(const std::string &path) { return "'" + path + "'"; }

std::string SystemError(const std::string &what, const std::string &path) {
  return what + " " + Quoted(path) + ": " + std::strerror(errno);
}

// "uid N" and, when the account has a name, ", name".
std::string OwnerText(uid_t uid) {
  std::string text = "uid " + std::to_string(uid);
  char buffer[1024];
  struct passwd entry;
  struct passwd *found = nullptr;
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
    text += std::string(", ") + found->pw_name;
  return text;
}

// Why a folder with status `st` may not hold a table, or nullopt: it must
// belong to the user or root and be writable by no one else unless sticky.
std::optional<std::string> FolderProblem(const struct stat &st, const std::string &path) {
  if (st.st_uid != geteuid() && st.st_uid != 0)
    return "the folder " + Quoted(path) + " belongs to another user (" + OwnerText(st.st_uid) + ")";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
    return "the folder " + Quoted(path) + " may be written by others";
  return std::nullopt;
}

// Opens the folder `name` inside `parent`, creating it (0755) when missing,
// never through a symbolic link. `shown` is its full path for messages.
std::optional<std::string> OpenFolder(int parent, const std::string &name, const std::string &shown,
                                      Descriptor *folder) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = openat(parent, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    if (mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST)
      return SystemError("cannot create the folder", shown);
    fd = openat(parent, name.c_str(), flags);
  }
  if (fd < 0) {
    struct stat st;
    if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(st.st_mode)) return Quoted(shown) + " is a symbolic link";
      if (!S_ISDIR(st.st_mode)) return Quoted(shown) + " is no folder";
    }
    return SystemError("cannot open the folder", shown);
  }
  folder->Reset(fd);
  struct stat st;
  if (fstat(fd, &st) != 0) return SystemError("cannot examine the folder", shown);
  return FolderProblem(st, shown);
}

std::vector<std::string> Components(const std::string &path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < path.size()) {
    size_t slash = path.find('/', i);
    if (slash == std::string::npos) slash = path.size();
    if (slash > i) parts.push_back(path.substr(i, slash - i));
    i = slash + 1;
  }
  return parts;
}

// A name for a temporary file that no one can guess in advance.
std::string TemporaryName(const std::string &leaf, int attempt) {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%llx.%d", static_cast<long>(getpid()),
                static_cast<unsigned long long>(nanoseconds), attempt);
  std::string name = ".";
  name.append(leaf, 0, 100);
  name.append(".tmp");
  name.append(suffix);
  return name;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Writes `bytes` to `leaf` in the folder `folder` through a temporary file
// and a rename; `shown` is the target's path for messages.
std::optional<std::string> WriteInFolder(int folder, const std::string &leaf, const std::string &shown,
                                         std::string_view bytes) {
  std::string temporary;
  Descriptor file;
  for (int attempt = 0; attempt < 100 && file.get() < 0; ++attempt) {
    temporary = TemporaryName(leaf, attempt);
    file.Reset(openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0 && errno != EEXIST) return SystemError("cannot create a file beside", shown);
  }
  if (file.get() < 0) return "cannot find a free temporary name beside " + Quoted(shown);
  std::optional<std::string> error;
  if (!WriteAll(file.get(), bytes)) {
    error = SystemError("cannot write", shown);
  } else if (fchmod(file.get(), 0644) != 0) {
    error = SystemError("cannot set the mode of", shown);
  } else if (fsync(file.get()) != 0) {
    error = SystemError("cannot write", shown);
  } else if (close(file.Release()) != 0) {
    error = SystemError("cannot write", shown);
  }
  if (!error && renameat(folder, temporary.c_str(), folder, leaf.c_str()) != 0)
    error = SystemError("cannot put the table in place at", shown);
  if (error) {
    unlinkat(folder, temporary.c_str(), 0);
    return error;
  }
  fsync(folder);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> InstallFile(const std::string &path, std::string_view bytes) {
  std::vector<std::string> parts = Components(path);
  if (path.empty() || path[0] != '/' || parts.empty()) return Quoted(path) + " is no absolute file path";
  for (const std::string &part : parts) {
    if (part == "." || part == "..") return Quoted(path) + " holds '.' or '..'";
  }
  Descriptor folder(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) return SystemError("cannot open the folder", "/");
  std::string shown;
  for (size_t k = 0; k + 1 < parts.size(); ++k) {
    shown += "/" + parts[k];
    Descriptor next;
    if (auto problem = OpenFolder(folder.get(), parts[k], shown, &next)) return problem;
    folder.Reset(next.Release());
  }
  const std::string &leaf = parts.back();
  struct stat st;
  if (fstatat(folder.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return Quoted(path) + " is a symbolic link";
    if (!S_ISREG(st.st_mode)) return Quoted(path) + " is no regular file";
    if (st.st_uid != geteuid() && st.st_uid != 0)
      return Quoted(path) + " belongs to another user (" + OwnerText(st.st_uid) + ")";
  } else if (errno != ENOENT) {
    return SystemError("cannot examine", path);
  }
  return WriteInFolder(folder.get(), leaf, path, bytes);
}

std::optional<std::string> WriteFileReplacing(const std::string &path, std::string_view bytes) {
  size_t slash = path.rfind('/');
  std::string folder_path = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  if (leaf.empty() || leaf == "." || leaf == "..") return Quoted(path) + " names no file";
  Descriptor folder(open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) return SystemError("cannot open the folder", folder_path);
  // A device or FIFO must not be replaced by a file (as root, /dev/null
  // would be); a symbolic link is looked at itself, not followed.
  struct stat st;
  if (fstatat(folder.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) return Quoted(path) + " is a folder";
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return Quoted(path) + " is no regular file";
  } else if (errno != ENOENT) {
    return SystemError("cannot examine", path);
  }
  return WriteInFolder(folder.get(), leaf, path, bytes);
}

}  // namespace tcptable
