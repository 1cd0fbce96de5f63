// Terminal table and per-user file.
#include "terminal_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Opens `path` for reading only when it is a regular file. O_NONBLOCK keeps
// a FIFO planted at the path from blocking the open itself.
std::FILE *OpenRegularFile(const char *path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  std::FILE *file = fdopen(fd, "r");
  if (file == nullptr) close(fd);
  return file;
}

// Reads one byte of the table file, or EOF once the read budget is spent.
int NextByte(std::FILE *file, int *budget) {
  if (*budget <= 0) return EOF;
  --*budget;
  return std::getc(file);
}

}  // namespace

bool LoadTable(const char *path) {
  std::FILE *file = OpenRegularFile(path);
  if (file == nullptr) return false;
  int budget = kMaxTableBytes;
  // A missing header byte reads as EOF, that is -1, like a byte 0xFF.
  TICS = static_cast<signed char>(NextByte(file, &budget));
  start = static_cast<signed char>(NextByte(file, &budget));
  cmpar = static_cast<signed char>(NextByte(file, &budget));
  int entry = 0;
  int position = 0;
  int c;
  while (entry < kEntries && (c = NextByte(file, &budget)) != EOF && c != 0xFF) {
    if (c != 0) {
      // Position 9 is kept for the terminator, so every entry stays terminated.
      if (position < kEntrySize - 1) tc[entry][position++] = static_cast<char>(c);
    } else {
      tc[entry][position] = '\0';
      ++entry;
      position = 0;
    }
  }
  std::fclose(file);
  return true;
}

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
    if (std::strchr(remote_addr, '/') != nullptr) return false;
    length = std::snprintf(name, sizeof name, "user/%s%.7s", remote_addr, date);
  }
  return length >= 0 && length < kUserNameSize;
}

// Creating without O_TRUNC keeps what another process of the same user may
// have written between the failed open and the creation.
int OpenUserFile(const char *name) {
  int fd = open(name, O_RDWR);
  if (fd < 0) {
    int created = open(name, O_WRONLY | O_CREAT, 0666);
    if (created < 0) return -1;
    close(created);
    fd = open(name, O_RDWR);
    if (fd < 0) return -1;
  }
  lseek(fd, 0, SEEK_END);
  return fd;
}

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
