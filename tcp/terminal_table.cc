// Terminal table and per-user file.
#include "terminal_table.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>

#include "state.h"
#include "table_format.h"
#include "tcp.h"

// Process-wide state of the terminal table, zero at process start.
char tc[40][10];   // the table: entry n is the zero-terminated string tc[n]
int TICS;          // the key decoder scans entries 6 to TICS - 1
int start;         // non-zero: coordinates go out one higher
int cmpar;         // with start 0: added to both coordinates
char user[30];     // name of the per-user file
int fuser;         // descriptor of the per-user file, 0 when none

namespace tcplib {


static_assert(sizeof(tc) == kEntries * kEntrySize);
static_assert(sizeof(user) == kUserNameSize);

std::string TablePath(const char *tty_path) {
  return std::string("/tmp/") + (tty_path != nullptr ? tty_path : "(null)");
}

namespace {

// True when `st` belongs to the user or to root and no other account may
// write it: neither group nor others, unless `sticky_ok` and the sticky bit
// is set (as on /tmp itself, where others may add files but not replace
// ours).
bool TrustedOwnerAndMode(const struct stat &st, bool sticky_ok) {
  if (st.st_uid != geteuid() && st.st_uid != 0) return false;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
  return sticky_ok && (st.st_mode & S_ISVTX) != 0;
}

void SetTableStatus(TableStatus status, const std::string &reason) {
  State().table_status = static_cast<int>(status);
  std::snprintf(State().table_reason, sizeof State().table_reason, "%s", reason.c_str());
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

// Why the directory `shown` with status `st` may not lead to a table, or an
// empty text when it is trusted as by TrustedOwnerAndMode.
std::string DirectoryProblem(const struct stat &st, const std::string &shown) {
  if (st.st_uid != geteuid() && st.st_uid != 0)
    return "the folder '" + shown + "' belongs to another user (" + OwnerText(st.st_uid) + ")";
  if (!TrustedOwnerAndMode(st, true)) return "the folder '" + shown + "' may be written by other users";
  return "";
}

// Why the component `part` of directory `dir` (shown as `shown`) could not
// be opened as a directory: a link or no directory (refused), else missing.
void RecordUnopenedComponent(int dir, const std::string &part, const std::string &shown) {
  struct stat st;
  if (fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    SetTableStatus(TableStatus::kMissing, "no such file");
  } else if (S_ISLNK(st.st_mode)) {
    SetTableStatus(TableStatus::kRefused, "'" + shown + "' is a symbolic link");
  } else if (!S_ISDIR(st.st_mode)) {
    SetTableStatus(TableStatus::kRefused, "'" + shown + "' is no folder");
  } else {
    SetTableStatus(TableStatus::kMissing, "the folder '" + shown + "' cannot be searched");
  }
}

// Opens the directory holding the last component of `path`, walking it one
// component at a time without following any symbolic link, each directory
// trusted as by TrustedOwnerAndMode. Sets `*last` to the final component.
// Returns the descriptor, or -1 with the table status telling why (refused,
// naming the directory at fault, when a component exists but is a link, no
// directory, or untrusted).
int OpenTrustedParent(const std::string &path, std::string *last) {
  if (path.empty() || path[0] != '/') {
    SetTableStatus(TableStatus::kMissing, "no such file");
    return -1;
  }
  int dir = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    SetTableStatus(TableStatus::kMissing, "no such file");
    return -1;
  }
  std::string shown;
  size_t begin = 1;
  for (;;) {
    while (begin < path.size() && path[begin] == '/') ++begin;
    size_t end = path.find('/', begin);
    if (end == std::string::npos) {
      *last = path.substr(begin);
      return dir;
    }
    std::string part = path.substr(begin, end - begin);
    shown += "/" + part;
    int next = openat(dir, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) RecordUnopenedComponent(dir, part, shown);
    close(dir);
    if (next < 0) return -1;
    struct stat st;
    std::string problem = fstat(next, &st) != 0 ? "the folder '" + shown + "' cannot be examined"
                                                : DirectoryProblem(st, shown);
    if (!problem.empty()) {
      SetTableStatus(TableStatus::kRefused, problem);
      close(next);
      return -1;
    }
    dir = next;
    begin = end + 1;
  }
}

// Opens the table file `path` for reading when it is a regular file the
// user can trust: reached through no symbolic link, owned by the user or
// root, and writable by no one else. O_NONBLOCK keeps a FIFO planted at the
// path from blocking the open itself. Records why in the table status.
std::FILE *OpenTableFile(const char *path) {
  std::string last;
  int dir = OpenTrustedParent(path, &last);
  if (dir < 0) return nullptr;
  int fd = openat(dir, last.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  int open_error = errno;
  close(dir);
  if (fd < 0) {
    if (open_error == ELOOP) SetTableStatus(TableStatus::kRefused, "the table is a symbolic link");
    else SetTableStatus(TableStatus::kMissing, "no such file or not readable");
    return nullptr;
  }
  struct stat st;
  const char *reason = nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) reason = "the table is no regular file";
  else if (st.st_uid != geteuid() && st.st_uid != 0) reason = "the table belongs to another user";
  else if (!TrustedOwnerAndMode(st, false)) reason = "the table is writable by group or others";
  if (reason != nullptr) {
    SetTableStatus(TableStatus::kRefused, reason);
    close(fd);
    return nullptr;
  }
  std::FILE *file = fdopen(fd, "r");
  if (file == nullptr) {
    SetTableStatus(TableStatus::kMissing, "cannot be read");
    close(fd);
    return nullptr;
  }
  SetTableStatus(TableStatus::kLoaded, "loaded");
  return file;
}

}  // namespace

bool LoadTable(const char *path) {
  std::FILE *file = OpenTableFile(path);
  if (file == nullptr) return false;
  std::string bytes(tcpformat::kMaxFileBytes, '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  const tcpformat::Scan scan = tcpformat::ScanTable(bytes);
  TICS = scan.tics;
  start = scan.start;
  cmpar = scan.cmpar;
  const size_t entries = std::min<size_t>(scan.entries.size(), kEntries);
  for (size_t n = 0; n < entries; ++n) {
    // Bytes past the ninth are dropped, so every entry stays terminated;
    // an entry the file ends inside gets its bytes but no terminator.
    const std::string &entry = scan.entries[n];
    const size_t kept = std::min<size_t>(entry.size(), kEntrySize - 1);
    std::memcpy(tc[n], entry.data(), kept);
    const bool terminated = n + 1 < scan.entries.size() || !scan.last_unterminated;
    if (terminated) tc[n][kept] = '\0';
  }
  std::fclose(file);
  return true;
}

std::string RemoteAddressName(const char *remote_addr) {
  size_t length = std::strlen(remote_addr);
  if (length <= kMaxRemoteAddressName) return remote_addr;
  // 64-bit FNV-1a over every byte of the address.
  std::uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < length; ++i) {
    hash ^= static_cast<unsigned char>(remote_addr[i]);
    hash *= 1099511628211ull;
  }
  char digest[18];
  std::snprintf(digest, sizeof digest, "~%016llx", static_cast<unsigned long long>(hash));
  return digest;
}

namespace {

// The length of the well-formed UTF-8 character at `p` (2 to 4 bytes, no
// overlong form, no surrogate, nothing above U+10FFFF), or 0 when there is none.
size_t Utf8Length(const unsigned char *p) {
  auto tail = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  if (p[0] >= 0xC2 && p[0] <= 0xDF) return tail(p[1]) ? 2 : 0;
  if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    unsigned char lo = p[0] == 0xE0 ? 0xA0 : 0x80, hi = p[0] == 0xED ? 0x9F : 0xBF;
    return p[1] >= lo && p[1] <= hi && tail(p[2]) ? 3 : 0;
  }
  if (p[0] >= 0xF0 && p[0] <= 0xF4) {
    unsigned char lo = p[0] == 0xF0 ? 0x90 : 0x80, hi = p[0] == 0xF4 ? 0x8F : 0xBF;
    return p[1] >= lo && p[1] <= hi && tail(p[2]) && tail(p[3]) ? 4 : 0;
  }
  return 0;
}

// True when `text` holds what may not appear in a file name taken from a
// stranger: '/', a control byte (below 0x20, 0x7F, or the C1 controls
// U+0080 to U+009F, and the bytes 0x80 to 0x9F), or bytes that are no UTF-8.
// The checks on a byte stop at the terminator, so no read passes it.
bool HoldsSlashOrControl(const char *text) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  while (*p != 0) {
    if (*p == '/' || *p < 0x20 || *p == 0x7F) return true;
    if (*p < 0x80) {
      ++p;
      continue;
    }
    size_t length = Utf8Length(p);
    if (length == 0 || (p[0] == 0xC2 && p[1] <= 0x9F)) return true;
    p += length;
  }
  return false;
}

}  // namespace

bool UserFileName(const char *login, const char *remote_addr, std::time_t now,
                  char (&name)[kUserNameSize]) {
  char when[64];
  if (ctime_r(&now, when) == nullptr || std::strlen(when) < 10) return false;
  const char *date = when + 3;  // " Mmm dd" of "Www Mmm dd hh:mm:ss yyyy"
  int length;
  if (login != nullptr && std::strcmp(login, "(null)") != 0) {
    if (std::memchr(login, '/', strnlen(login, 6)) != nullptr) return false;
    length = std::snprintf(name, sizeof name, "user/%-6.6s%.7s", login, date);
  } else {
    if (remote_addr == nullptr) remote_addr = "(null)";
    // A leading '~' marks a digest name; no address begins with one.
    if (HoldsSlashOrControl(remote_addr) || remote_addr[0] == '~') return false;
    length = std::snprintf(name, sizeof name, "user/%s%.7s",
                           RemoteAddressName(remote_addr).c_str(), date);
  }
  return length >= 0 && length < kUserNameSize;
}

// The file is opened relative to a descriptor of its directory, neither of
// them through a symbolic link, so a link planted in the directory, or the
// directory itself being a link, cannot send the file elsewhere. O_CREAT
// without O_TRUNC keeps what another process of the same user may have
// written. O_NONBLOCK keeps a planted FIFO or device from blocking the open.
// A file another account planted there, or one others may write, is refused
// as a link is: the user's data must not land where someone else reads or
// changes it. The file is created 0644 (less the umask), so that a
// permissive umask does not make the user's own file one refused next time.
int OpenUserFile(const char *name) {
  const char *slash = std::strrchr(name, '/');
  std::string directory = slash == nullptr ? std::string(".")
                        : slash == name   ? std::string("/")
                                          : std::string(name, slash);
  const char *base = slash == nullptr ? name : slash + 1;
  int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return -1;
  int fd = openat(dir, base, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0644);
  close(dir);
  if (fd < 0) return -1;
  struct stat st;
  int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !TrustedOwnerAndMode(st, false) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  lseek(fd, 0, SEEK_END);
  return fd;
}

TableStatus LastTableStatus() { return static_cast<TableStatus>(State().table_status); }

const char *LastTableReason() { return State().table_reason; }

}  // namespace tcplib

void tcp(int open_user_file) {
  tcplib::LoadTable(tcplib::TablePath(ttyname(0)).c_str());
  if (open_user_file == 0) {
    fuser = 0;
    return;
  }
  if (!tcplib::UserFileName(getlogin(), std::getenv("REMOTE_ADDR"), std::time(nullptr), user)) {
    std::exit(2);
  }
  int fd = tcplib::OpenUserFile(user);
  if (fd < 0) std::exit(2);
  fuser = fd;
}

int tcpstat(char *text, int size) {
  if (text != nullptr && size > 0) {
    std::snprintf(text, static_cast<size_t>(size), "%s", tcplib::LastTableReason());
  }
  return static_cast<int>(tcplib::LastTableStatus());
}
