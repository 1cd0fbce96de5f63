// browse: shows the documents of a store one at a time on a full screen,
// with the form's masks, through the query engine and the terminal library.
//
//   browse <form>
//
// Everything that can be refused is refused before the terminal is touched:
// the engine's start-up (with the query's own messages), the screen masks,
// a standard input that is no terminal, and a missing terminal table.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "browser.h"
#include "escape.h"
#include "key_mode.h"
#include "masks.h"
#include "query.h"
#include "tcp.h"

namespace {

constexpr char kUsage[] = "usage: browse <form>\n";
// Below this the message row and one row of the form do not fit.
constexpr int kMinRows = 2;
constexpr int kMinColumns = 20;

void PrintMessage(const std::string& message) {
  std::fprintf(stderr, "browse: %s\n", EscapeControlBytes(message).c_str());
}

int Fail(const Status& s) {
  if (!s.stdout_text().empty()) {
    std::fwrite(s.stdout_text().data(), 1, s.stdout_text().size(), stdout);
    std::fflush(stdout);
  }
  if (!s.message().empty()) PrintMessage(s.message());
  if (s.pause_seconds() > 0) sleep(static_cast<unsigned>(s.pause_seconds()));
  return s.exit_status();
}

// The terminal table, or a message telling why there is none and how to
// make one. A refused table or folder is named by the library's reason; the
// table is made only by tcp-table, which refuses what the library refuses.
bool LoadTerminalTable() {
  tcp(0);
  char why[300];
  int status = tcpstat(why, sizeof why);
  if (status == 0) return true;
  const char* tty = ttyname(STDIN_FILENO);
  // "/tmp//dev/pts/3" is the file /tmp/dev/pts/3: shown without the doubled slash.
  const std::string table = std::string("/tmp") + (tty != nullptr ? tty : "/(null)");
  if (status == 2) {
    PrintMessage("the terminal table " + table + " cannot be used: " + why);
    PrintMessage("another account could change it; once that is put right (by its owner or root),"
                 " make the table with 'tcp-table --install'");
  } else {
    PrintMessage("no terminal table for this terminal: " + table + ": " + why);
    PrintMessage("make one with 'tcp-table --install'");
  }
  return false;
}

ScreenSize CurrentSize() {
  ScreenSize size;
  WindowSize(&size.rows, &size.columns);
  return size;
}

bool TooSmall(ScreenSize size) { return size.rows < kMinRows || size.columns < kMinColumns; }

// Waits for a key or a redraw request. True when a key is waiting.
bool WaitForKey() {
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {RedrawDescriptor(), POLLIN, 0}};
  for (;;) {
    int n = poll(fds, RedrawDescriptor() >= 0 ? 2 : 1, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return true;  // let the read tell what is wrong
    if (fds[0].revents != 0) return true;
    if (fds[1].revents != 0) return false;
  }
}

// Ends the screen: the cursor below the form, the terminal as it was.
void EndScreen(ScreenSize size) {
  pos(size.rows - 1, 0);
  std::fputs("\n", stdout);
  std::fflush(stdout);
  LeaveKeyMode();
}

int Browse(const std::string& form_path) {
  Query query;
  Status s = query.Start(form_path, {});
  for (const std::string& w : query.warnings()) PrintMessage(w);
  if (!s.ok()) return Fail(s);
  std::vector<std::string> header_mask, detail_mask;
  if (!(s = LoadMask(form_path + ".0", &header_mask)).ok()) return Fail(s);
  if (!(s = LoadMask(form_path + ".1", &detail_mask)).ok()) return Fail(s);
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    PrintMessage("standard input and output must be a terminal");
    return 1;
  }
  if (!LoadTerminalTable()) return 1;
  ScreenSize size = CurrentSize();
  if (TooSmall(size)) {
    PrintMessage("the window has " + std::to_string(size.rows) + " rows and " + std::to_string(size.columns) +
                 " columns; browse needs at least " + std::to_string(kMinRows) + " and " +
                 std::to_string(kMinColumns));
    return 1;
  }

  // Key reads go straight to the terminal, so that a waiting key and a
  // waiting redraw can both be seen.
  std::setvbuf(stdin, nullptr, _IONBF, 0);
  if (!EnterKeyMode()) {
    PrintMessage("cannot set the terminal's mode");
    return 1;
  }
  Browser browser(&query, header_mask, detail_mask, size);
  s = browser.Start();
  bool done = !s.ok();
  while (!done) {
    if (!WaitForKey()) {
      TakeRedrawRequest();
      ScreenSize now = CurrentSize();
      if (TooSmall(now)) {
        EndScreen(now);
        PrintMessage("the window became too small: " + std::to_string(now.rows) + " rows and " +
                     std::to_string(now.columns) + " columns");
        return 1;
      }
      size = now;
      browser.Resize(size);
      continue;
    }
    s = browser.HandleKey(getin1(), &done);
    if (!s.ok()) break;
  }
  EndScreen(size);
  return s.ok() ? 0 : Fail(s);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    std::fputs("\nRuns in the directory that holds the store; shows one document at a time.\n"
               "Keys: Down/Up next/previous, f/l first/last, k by key, s search, q quit.\n",
               stdout);
    return 0;
  }
  if (argc != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    return Browse(argv[1]);
  } catch (const std::bad_alloc&) {
    LeaveKeyMode();
    std::fputs("browse: out of memory\n", stderr);
  } catch (const std::exception& e) {
    LeaveKeyMode();
    PrintMessage(std::string("stopped by an unexpected failure: ") + e.what());
  }
  return 1;
}
