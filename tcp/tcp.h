// tcp: a small library for character terminals.
//
// Everything a terminal program needs goes through a per-terminal table of
// control strings and key sequences, loaded by `tcp` from the file "/tmp/"
// followed by the terminal path of standard input; the library knows no
// terminal's codes of its own, and no routine but the key-mode helper
// `tcpkeys` (at the end of this header) sets a terminal mode. Until `tcp` has run
// the table is empty: every routine still works, writing no terminal codes and
// returning every key byte as itself.
//
// Output goes to the buffered standard output and only `mens` (so `coment`
// and `dbgr`) flushes it; the field editor `input` also flushes before it
// waits for each key. Keys come from the buffered standard input. The file
// format and a worked example are in the man page tcp(3) and in
// doc/terminal_library.md of the source.
//
// The query engine uses only the debug trace `dbgr`, which is silent while
// `debug` is 0.
//
// The header is C as well as C++: the routines and the state have C linkage
// in both languages (the library itself is C++, so a C program links it with
// the C++ runtime, as `pkg-config --libs tcp` gives it), and the constants
// are enumerators, which both languages read as ints.
#ifndef TCP_TCP_H_
#define TCP_TCP_H_

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------
// Process-wide state, all zero when the process starts.
//
// The linker knows each variable by a name that begins with tcp_ (tcp_tc,
// tcp_TICS, tcp_start, tcp_debug ...), so that a program's own global
// `start` or `debug` does not clash with the library's. Source code uses
// the described names declared here; a source file that has variables of
// those names itself defines TCP_PREFIXED_NAMES before including this
// header and gets the tcp_ names instead.
#if defined(__GNUC__)
#define TCP_LINK_NAME(name) __asm__(#name)
#else
#define TCP_LINK_NAME(name)
#endif

#if defined(TCP_PREFIXED_NAMES)
extern char tcp_tc[40][10];
extern int tcp_TICS;
extern int tcp_start;
extern int tcp_cmpar;
extern char tcp_user[30];
extern int tcp_fuser;
extern int tcp_debug;
extern int tcp_ddoc;
#else
// The terminal table: entry n is the zero-terminated string tc[n].
extern char tc[40][10] TCP_LINK_NAME(tcp_tc);
// One more than the highest entry number the key decoder scans (6..TICS-1).
extern int TICS TCP_LINK_NAME(tcp_TICS);
// Non-zero: cursor positioning sends both coordinates one higher.
extern int start TCP_LINK_NAME(tcp_start);
// With `start` 0: added to both coordinates by cursor positioning.
extern int cmpar TCP_LINK_NAME(tcp_cmpar);
// Name of the per-user file opened by tcp(1), e.g. "user/clerk  Dec  6".
extern char user[30] TCP_LINK_NAME(tcp_user);
// Descriptor of the per-user file; 0 when tcp(0) opened none.
extern int fuser TCP_LINK_NAME(tcp_fuser);
// Debug switch read by dbgr; nothing in the library sets it.
extern int debug TCP_LINK_NAME(tcp_debug);
// While 0, the field editor draws four blanks after a numeric field.
extern int ddoc TCP_LINK_NAME(tcp_ddoc);
#endif

// ---------------------------------------------------------------------------
// Constants: table entry numbers, key codes and a buffer size. One enum, so
// that C reads them as int constants and C++ may mix them in arithmetic.

enum {
  // Entry numbers of the terminal table.
  TC_CURSOR = 1,             // cursor address format (row, column)
  TC_MSG_ON = 2,             // format written before a message
  TC_MSG_OFF = 3,            // format written after a message
  TC_MSG_ROW = 5,            // first byte: message row (signed)
  TC_KEY_BACKSPACE = 6,      // key sequence for KEY_BACKSPACE
  TC_KEY_CTRL_Z = 7,         // key sequence for KEY_CTRL_Z
  TC_KEY_NEWLINE = 8,        // key sequence for KEY_NEWLINE
  TC_KEY_LEFT = 9,           // key sequence for KEY_LEFT
  TC_KEY_RIGHT = 10,         // key sequence for KEY_RIGHT
  TC_BOX_BEGIN = 11,         // written before a box
  TC_BOX_END = 12,           // written after a box
  TC_BOX_TOP_RIGHT = 13,     // top-right corner
  TC_BOX_TOP_LEFT = 14,      // top-left corner
  TC_BOX_BOTTOM_LEFT = 15,   // bottom-left corner
  TC_BOX_BOTTOM_RIGHT = 16,  // bottom-right corner
  TC_BOX_VERTICAL = 17,      // piece of a side
  TC_BOX_HORIZONTAL = 18,    // piece of the top or bottom
  TC_KEY_ESCAPE = 21,        // key sequence for KEY_ESCAPE
  // Entries 22 to 39 hold extended key sequences, decoded as entry + 180.

  // Key codes returned by getin1 besides plain bytes.
  KEY_BACKSPACE = 8,
  KEY_CTRL_Z = 26,
  KEY_NEWLINE = 10,
  KEY_LEFT = 21,
  KEY_RIGHT = 6,
  KEY_ESCAPE = 27,
  KEY_EXTENDED_BASE = 180,  // entry n (22..39) gives n + 180

  // Bytes a punto output buffer needs: 20 characters and the terminating NUL.
  PUNTO_OUTPUT_SIZE = 21
};

// ---------------------------------------------------------------------------
// Terminal table and user file.

// Loads the terminal table of the terminal on standard input (a missing,
// unreadable or non-regular table file leaves the table as it was, and so
// does one that is a symbolic link, belongs to another user than the
// effective user or root, or is writable by group or others). With
// `open_user_file` 0 sets `fuser` to 0; otherwise opens, creating it if need
// be, the per-user file into `fuser`, positioned at its end. A remote
// address longer than 17 characters is named by "~" and 16 hex digits of its
// hash. Ends the process with status 2, silently, when that file can be
// neither opened nor created, is a symbolic link or no regular file, or lies
// in a `user` that is a symbolic link, or when its name would hold a '/' (or,
// from REMOTE_ADDR, a control byte or a leading '~') or not fit in `user`.
void tcp(int open_user_file);

// Outcome of the last table load: 0 loaded, 1 missing (or unreadable), 2
// refused as untrusted. Writes a short English reason, cut to fit and always
// terminated, into `text` of `size` bytes (nothing when `size` is 0 or less).
// Before any load it returns 1.
int tcpstat(char *text, int size);

// ---------------------------------------------------------------------------
// Screen output. Coordinates are row first, in the caller's numbering.

// Writes entry 1 with the coordinates adjusted by `start` or `cmpar`.
// Nothing is flushed.
void pos(int row, int column);

// Writes `message` centred in columns 1 to 78 of `row`, between entries 2 and
// 3, and flushes standard output. Returns 0.
int mens(const char *message, int row);

// mens on the message row (first byte of entry 5).
void coment(const char *message);

// Draws a frame with corners at (top, left) and (bottom, right) from entries
// 11 to 18. Nothing is flushed.
void box(int top, int left, int bottom, int right);

// Debug trace. With `debug` 0 and a non-zero flag: does nothing. Otherwise
// shows the message on the message row; then with flag 0 pauses 2 seconds,
// with a non-zero flag reads one key and ends the process with status 1 when
// it is KEY_ESCAPE. Returns 0.
int dbgr(int flag, const char *message);

// ---------------------------------------------------------------------------
// Keys.

// Reads one key from standard input. A sequence from entries 6 to TICS-1
// gives its key code; any other byte comes back as a signed byte (128..255
// as -128..-1). End of input gives -1, and feof(stdin) is then set, which
// tells it apart from a byte 0xFF.
int getin1(void);

// ---------------------------------------------------------------------------
// Number display and field editing.

// Writes into `output` the display form of the number in `text`: integer
// digits grouped by '.', a leading '-', `decimals` decimals after ','
// ("1234567.891", 2 gives "1.234.567,89"). An empty text gives an empty
// output; a text that is no number shows as 0. Decimals below 0 count as 0,
// above 4 as 4. A value too large for 11 integer digits, or infinite, shows as
// a run of '*' as long as the longest number with those decimals; NaN shows
// as 0. Never writes more than PUNTO_OUTPUT_SIZE (21) bytes, the NUL
// included, so that is the size `output` needs. Returns 1.
int punto(const char *text, char *output, int decimals);

// Edits the field of `width` cells at (row, column) holding `text`, and
// returns the key code that ended editing, or 101 when a date field (type 8
// or 9) holds a date that is refused. `type` 0 is text, 1 to 5 a number with
// type - 1 decimals, 8 and 9 a date stored as ddmmyyyy. `exit_key` is one more
// key code that ends editing. `text` must hold width + 1 bytes, and 9 for a
// date field. A width above 255 counts as 255, a negative one as 0; an
// initial text longer than the width is kept whole and the field refuses
// further characters. End of input ends editing as KEY_ESCAPE would.
int input(int row, int column, int width, int type, char *text, int exit_key);

// ===========================================================================
// Additions for programs: end of input, key mode and UTF-8 echo.

// ---------------------------------------------------------------------------
// End of input.

// 1 when the last getin1 (and so the last key `input` or `dbgr` read) met
// the end of standard input or a read error instead of a key; 0 after a key,
// and before any read. A program tells a refused date (101) from the end of
// input by it: after 101, tcpeof() is 1 only when no key will come.
int tcpeof(void);

// ---------------------------------------------------------------------------
// Key mode. The routines above still set no mode; a program that edits
// fields calls tcpkeys once the table is loaded.

// Options of tcpkeys, or-ed together.
enum {
  TCP_KEYS_SIGNALS = 1,  // Ctrl-C, Ctrl-\ and Ctrl-Z keep sending signals (ISIG)
  TCP_KEYS_FLOW = 2      // Ctrl-S and Ctrl-Q keep stopping output (IXON)
};

// Puts the terminal on standard input in key mode: every key is read as it
// is typed (no line editing, VMIN 1, VTIME 0) and nothing is echoed; signal
// keys and output flow control are off unless `options` keeps them; all
// other settings stay. The mode found is saved on the first call (a call in
// key mode only changes the options) and restored by tcpkeysoff, on every
// normal end of the process (return from main, exit), on SIGINT, SIGTERM and
// SIGHUP (then the signal ends the process as it would have) and on SIGTSTP
// (then the process stops; on SIGCONT, in the foreground, key mode comes
// back). Only signals whose action is the default are taken over: one the
// program ignores or handles stays as it is. Returns 0, or -1 when standard
// input is no terminal or its mode cannot be set; the terminal then has the
// mode it had before key mode and no signal is taken over.
int tcpkeys(int options);

// Restores the mode tcpkeys saved and gives the signals it took over their
// default action again; a signal whose action the program has changed since
// tcpkeys keeps the program's action. Does nothing outside key mode.
void tcpkeysoff(void);

// ---------------------------------------------------------------------------
// UTF-8 echo.

// Non-zero: the field editor writes the eleven code page 437 characters that
// the apostrophe composes (a e i o u acute, n and N with tilde, the ordinals
// a and o, one half, one quarter) as their UTF-8 sequences, one screen cell
// each, for a UTF-8 terminal. The field's bytes stay code page 437. 0 (the
// default): every byte is written as it is stored.
extern int tcputf8;

// ===========================================================================
// The mode for today's terminals. Every routine above keeps its behaviour
// until a program switches parts of this mode on with tcpmode; a program
// that wants all of it calls tcpmode(TCP_MODE_MODERN) once, after tcp and
// before its first key is read.

// Parts of the mode, or-ed together.
enum {
  // getin1 reads an escape sequence the table does not name to its end (the
  // CSI grammar ESC [ parameters final, and SS3, ESC O final) and returns it
  // as TCP_KEY_UNKNOWN; a lone Escape comes back as KEY_ESCAPE once no byte
  // follows within the escape time (tcpesctime), and a byte that follows an
  // Escape but begins no sequence is kept as the next key. Standard input
  // is made unbuffered, so that a waiting byte can be seen.
  TCP_MODE_KEYS = 1,
  // The message row is counted from the bottom of the window (the table's
  // row taken as counted on 24 lines), messages are fitted to its width, and
  // getin1 (and so input) returns TCP_KEY_RESIZE when the window changes
  // size. For this the library handles SIGWINCH while its action is the
  // default; a program that handles it itself calls tcpresized instead.
  TCP_MODE_SCREEN = 2,
  // Dates: a two-digit year is taken within 50 years of today; only digits
  // are typed; KEY_ESCAPE, the caller's exit key, TCP_KEY_END and
  // TCP_KEY_RESIZE leave a refused date, the text put back as it was on
  // entry; after a refused date's message, the key that dismisses it is
  // kept as the next key; tcpdatemsg replaces the messages.
  TCP_MODE_DATES = 4,
  // A number whose display form is wider than its field shows as a run of
  // '*' as wide as the field.
  TCP_MODE_NUMBERS = 8,
  // Text: with tcputf8 set, typed UTF-8 letters that code page 437 holds are
  // stored as its bytes and echoed as UTF-8 (any other is refused with the
  // bell); ':', '\' and '~' are typed as themselves; the ending keys are
  // those of tcpendkeys; a date is drawn within its field.
  TCP_MODE_TEXT = 16,
  // getin1 and input return TCP_KEY_END at the end of input, so that a loop
  // that edits again on any other key cannot spin.
  TCP_MODE_END = 32,
  TCP_MODE_MODERN = 63,  // all of the above

  // Key codes of the mode, beyond every byte and table code.
  TCP_KEY_UNKNOWN = 300,  // an escape sequence the table does not name
  TCP_KEY_RESIZE = 301,   // the window changed size
  TCP_KEY_END = 302,      // the end of standard input (or a read error)

  TCP_DATE_MESSAGE_SIZE = 80  // bytes kept of a date message, NUL included
};

// Switches the mode's parts in `flags` on and every other part off (0: the
// described behaviour throughout). Returns the flags in force before. Call
// it before standard input is read: it makes standard input unbuffered.
int tcpmode(int flags);

// The escape time in milliseconds: how long getin1 waits after an Escape
// for the rest of a sequence (default 40; below 0 counts as 0, above 5000
// as 5000).
void tcpesctime(int milliseconds);

// Writes the window's rows and columns: the terminal on standard output (or
// else standard input), else the environment's LINES and COLUMNS, else 24
// and 80. Returns 0 when a terminal told the size, -1 otherwise.
int tcpsize(int *rows, int *columns);

// The message row coment writes: in TCP_MODE_SCREEN the window's last row
// less as many rows as the table's row stands above row 23 (an empty entry
// counts as 23); otherwise the first byte of entry 5, as a signed byte.
int tcpmsgrow(void);

// Blanks the message row without the message frame (columns 0 to the
// window's last in TCP_MODE_SCREEN, else 0 to 79). Flushes standard output.
void tcpclearmsg(void);

// Draws `text` as `input` shows a field of `type` after editing, without
// editing it and without underscores: a number through punto right-aligned
// in `width` cells (a run of '*' when it does not fit), a date stored as
// ddmmyyyy as dd/mm/yyyy (dd/mm/yy when only `width` + 2 cells hold less,
// '*' when even that does not fit), text cut or padded with blanks to
// `width`. Nothing is flushed.
void tcpshow(int row, int column, int width, int type, const char *text);

// Replaces the messages of a refused day, month and year (NULL keeps one;
// each is cut to TCP_DATE_MESSAGE_SIZE - 1 bytes). Used in TCP_MODE_DATES.
void tcpdatemsg(const char *day, const char *month, const char *year);

// Sets the keys that end editing in TCP_MODE_TEXT to the `count` codes of
// `codes` (at most 32 are kept; the caller's exit key, extended keys and the
// mode's key codes always end editing). A negative count restores the
// default: Ctrl-A, Ctrl-D, Tab, KEY_NEWLINE, Ctrl-L, CR, Ctrl-T, Ctrl-Y,
// KEY_CTRL_Z and KEY_ESCAPE.
void tcpendkeys(const int *codes, int count);

// Tells the library that the window changed size, for a program that
// handles SIGWINCH itself: the next getin1 in TCP_MODE_SCREEN returns
// TCP_KEY_RESIZE. Async-signal-safe.
void tcpresized(void);

// Copies the last escape sequence getin1 read in TCP_MODE_KEYS (ESC
// included; the one behind a TCP_KEY_UNKNOWN, for a program that gives a
// meaning of its own to some) into `buffer` of `size` bytes, cut to fit and
// NUL-terminated, and returns its whole length; 0 when none was read.
int tcplastseq(char *buffer, int size);

// Sets entry `entry` (0 to 39) of the terminal table to the first 9 bytes of
// `bytes`. Returns 0, or -1 for an entry number out of range or NULL bytes.
int tcpentry(int entry, const char *bytes);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TCP_TCP_H_
