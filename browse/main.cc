// browse: shows the documents of a store one at a time on a full screen,
// with the form's masks, through the query engine and the terminal library.
//
//   browse [--encoding cp437|latin1|utf8] [--edit] <form>
//
// Without --edit browse only reads the store; with it, `n` and `e` enter and
// change documents, written through the store writer.
// Everything that can be refused is refused before the terminal is touched:
// the engine's start-up (with the query's own messages), the screen masks,
// a standard input that is no terminal, and a terminal for which there is
// neither a trusted table file nor a usable entry of the terminal database.
// Stored text is converted from the store's encoding (cp437 unless
// --encoding names another) to the terminal's, as the locale names it.
#include <langinfo.h>
#include <unistd.h>

#include <clocale>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "browser.h"
#include "escape.h"
#include "key_mode.h"
#include "masks.h"
#include "control_format.h"
#include "engine.h"
#include "tcp.h"
#include "terminal_text.h"
#ifdef BROWSE_HAS_TERMINFO
#include "table_builder.h"
#include "terminfo_source.h"
#endif

namespace {

constexpr char kUsage[] = "usage: browse [--encoding cp437|latin1|utf8] [--edit] <form>\n";
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

// The table built from the terminal database for $TERM by tcp-table's
// rules, put in place of the library's; false when there is none to build.
bool BuildTableInMemory(std::string* term_name) {
#ifdef BROWSE_HAS_TERMINFO
  const char* term = std::getenv("TERM");
  if (term == nullptr || term[0] == '\0') return false;
  std::string error;
  std::optional<tcptable::Capabilities> caps = tcptable::ReadCapabilities(term, &error);
  if (!caps) return false;
  tcptable::Built built = tcptable::BuildTable(*caps, {});
  const std::vector<std::string>& entries = built.table.entries;
  if (entries.size() < 2 || entries[1].empty()) return false;  // no cursor addressing
  for (int n = 0; n < 40; ++n) tcpentry(n, static_cast<size_t>(n) < entries.size() ? entries[static_cast<size_t>(n)].c_str() : "");
  TICS = built.table.tics;
  start = built.table.start;
  cmpar = built.table.cmpar;
  *term_name = term;
  return true;
#else
  (void)term_name;
  return false;
#endif
}

// The terminal table: the trusted table file, else one built in memory from
// the terminal database (`note` then says so, for the message row), else a
// message telling why there is none and how to make one.
bool LoadTerminalTable(std::string* note) {
  tcp(0);
  char why[300];
  int status = tcpstat(why, sizeof why);
  if (status == 0) return true;
  const char* tty = ttyname(STDIN_FILENO);
  // "/tmp//dev/pts/3" is the file /tmp/dev/pts/3: shown without the doubled slash.
  const std::string table = std::string("/tmp") + (tty != nullptr ? tty : "/(null)");
  std::string term;
  if (BuildTableInMemory(&term)) {
    *note = std::string(status == 2 ? "the table file cannot be trusted" : "no table file") +
            ": table built from the terminal database for " + term;
    return true;
  }
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

// The cursor address of (row, 0) and a line end, as pos would write them:
// what a signal that ends browse writes before the shell's prompt.
std::string LeavingBytes(int row) {
  char* bytes = nullptr;
  size_t length = 0;
  std::FILE* out = open_memstream(&bytes, &length);
  if (out == nullptr) return "\r\n";
  int column = 0;
  if (start != 0) {
    row += 1;
    column += 1;
  } else if (cmpar != 0) {
    row += cmpar;
    column += cmpar;
  }
  const int coordinates[2] = {row, column};
  tcplib::WriteControl(out, std::string_view(tc[TC_CURSOR], strnlen(tc[TC_CURSOR], 9)), coordinates);
  std::fputs("\r\n", out);
  std::fclose(out);
  std::string leaving(bytes, length);
  std::free(bytes);
  return leaving;
}

ScreenSize CurrentSize() {
  ScreenSize size;
  WindowSize(&size.rows, &size.columns);
  return size;
}

bool TooSmall(ScreenSize size) { return size.rows < kMinRows || size.columns < kMinColumns; }

// Ends the screen: the cursor below the form, the terminal as it was.
void EndScreen(ScreenSize size) {
  pos(size.rows - 1, 0);
  std::fputs("\n", stdout);
  std::fflush(stdout);
  LeaveKeyMode();
}

int Browse(const std::string& form_path, StoreEncoding encoding, bool editing) {
  std::unique_ptr<Engine> engine;
  std::vector<std::string> warnings;
  Status s = Engine::Load({".", form_path}, &engine, &warnings);
  for (const std::string& w : warnings) PrintMessage(w);
  if (!s.ok()) return Fail(s);
  std::vector<std::string> header_mask, detail_mask;
  if (!(s = LoadMask(form_path + ".0", &header_mask)).ok()) return Fail(s);
  if (!(s = LoadMask(form_path + ".1", &detail_mask)).ok()) return Fail(s);
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    PrintMessage("standard input and output must be a terminal");
    return 1;
  }
  std::string note;
  if (!LoadTerminalTable(&note)) return 1;
  TerminalText text;
  std::string why;
  if (!TerminalText::Make(encoding, nl_langinfo(CODESET), &text, &why)) {
    PrintMessage(why + "; stored text is shown as it is stored");
  }
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
  // The library's mode for today's terminals: keys read whole, a lone
  // Escape after a short wait, the message row at the window's bottom, and
  // a resize that ends any key wait (browse's own SIGWINCH handler tells
  // the library).
  tcpmode(TCP_MODE_MODERN);
  // Typed letters are kept in code page 437 and echoed as UTF-8 on a UTF-8
  // terminal, as the values are shown.
  const std::string codeset = nl_langinfo(CODESET);
  tcputf8 = encoding == StoreEncoding::kCp437 && (codeset == "UTF-8" || codeset == "utf8") ? 1 : 0;
  Browser browser(*engine, header_mask, detail_mask, size);
  browser.set_text(std::move(text));
  browser.set_editing(editing);
  SetLeavingBytes(LeavingBytes(size.rows - 1));
  s = browser.Start();
  if (s.ok() && !note.empty()) browser.Note(note);
  bool done = !s.ok();
  while (!done) {
    const int key = getin1();
    if (key == TCP_KEY_RESIZE) {
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
      SetLeavingBytes(LeavingBytes(size.rows - 1));
      continue;
    }
    s = browser.HandleKey(key, &done);
    if (!s.ok()) break;
  }
  EndScreen(CurrentSize());
  return s.ok() ? 0 : Fail(s);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    std::fputs("\nRuns in the directory that holds the store; shows one document at a time.\n"
               "Keys: Down/Up next/previous, PgDn/PgUp ten on/back, f or Home first, l or End last,\n"
               "k by key, s search, q quit. --encoding: the store's text encoding (default cp437).\n"
               "--edit: n enters a new document, e changes the one shown; in a document Tab, Enter\n"
               "and Down go to the next field, Up to the previous, Ctrl-Y deletes a detail line,\n"
               "F2 saves and Escape cancels. Without --edit browse never writes.\n",
               stdout);
    return 0;
  }
  StoreEncoding encoding = StoreEncoding::kCp437;
  bool editing = false;
  int first = 1;
  for (; first < argc - 1; ++first) {
    if (std::strcmp(argv[first], "--edit") == 0) {
      editing = true;
    } else if (std::strcmp(argv[first], "--encoding") == 0 && first + 2 < argc) {
      if (!ParseStoreEncoding(argv[first + 1], &encoding)) {
        std::fprintf(stderr, "browse: --encoding '%s': use cp437, latin1 or utf8\n",
                     EscapeControlBytes(argv[first + 1]).c_str());
        return 2;
      }
      ++first;
    } else {
      break;
    }
  }
  if (argc != first + 1 || argv[first][0] == '-') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::setlocale(LC_CTYPE, "");
  try {
    return Browse(argv[first], encoding, editing);
  } catch (const std::bad_alloc&) {
    LeaveKeyMode();
    std::fputs("browse: out of memory\n", stderr);
  } catch (const std::exception& e) {
    LeaveKeyMode();
    PrintMessage(std::string("stopped by an unexpected failure: ") + e.what());
  }
  return 1;
}
