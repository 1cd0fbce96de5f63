// Terminal table and per-user file.
//
// `tcp` (declared in tcp.h) loads the table file of the terminal on standard
// input into `tc`, `TICS`, `start` and `cmpar`, and may open the per-user
// file into `fuser`. The table file's format is table_format.h's.
//
// The file lives in world-writable /tmp, so the loader trusts nothing in it:
// it opens only a regular file (without blocking on a planted FIFO or
// device) reached through no symbolic link, owned by the user or root and
// writable by neither group nor others, in directories that are as trusted
// (or sticky, as /tmp is); any other file counts as missing. It stores at
// most 40 entries of at most 9 bytes each, and reads at most kMaxTableBytes
// bytes. The pieces of `tcp` are exposed here so tests
// can drive them with paths and names of their own.
#ifndef TCP_TERMINAL_TABLE_H_
#define TCP_TERMINAL_TABLE_H_

#include <cstddef>
#include <ctime>
#include <string>

#include "table_format.h"

namespace tcplib {

inline constexpr int kEntries = tcpformat::kEntries;  // entries in the table
inline constexpr int kEntrySize = tcpformat::kMaxEntryBytes + 1;  // bytes per entry, terminator included
inline constexpr int kMaxTableBytes = static_cast<int>(tcpformat::kMaxFileBytes);  // bytes of a table file read at most
inline constexpr int kUserNameSize = 30;      // size of `user`
// Longest REMOTE_ADDR used as it is in a user file name: "user/" + address +
// " Mmm dd" + terminator fill kUserNameSize.
inline constexpr size_t kMaxRemoteAddressName = 17;

// Outcome of the last LoadTable, as tcpstat reports it.
enum class TableStatus { kLoaded = 0, kMissing = 1, kRefused = 2 };
TableStatus LastTableStatus();
// A short English reason for the last outcome, e.g. "the table belongs to
// another user"; a refused folder on the path is named with what is wrong
// with it: "the folder '/tmp/dev' belongs to another user (uid 1001, bob)",
// "... may be written by other users", "'/tmp/dev' is a symbolic link".
const char *LastTableReason();

// "/tmp/" followed by `tty_path`, or by "(null)" when it is null.
std::string TablePath(const char *tty_path);

// Loads the table file at `path` over the current table, from entry 0 on.
// Entries the file does not reach keep what they held; bytes of an entry
// past its ninth are dropped. Returns false, changing nothing, when the file
// cannot be opened or is not a trusted regular file (see above).
bool LoadTable(const char *path);

// Builds the user file name for the login name `login` (null or "(null)"
// when there is none), the value of REMOTE_ADDR `remote_addr` (may be null)
// and the time `now`: "user/" + name part + " Mmm dd". The name part of a
// remote address is RemoteAddressName's. Returns false, leaving `name`
// unspecified, when the name part holds a '/', a remote address holds a
// control byte (C0, DEL or C1), bytes that are no UTF-8, or begins with '~',
// or the whole name would not fit in `name` with its terminator.
bool UserFileName(const char *login, const char *remote_addr, std::time_t now,
                  char (&name)[kUserNameSize]);

// The name part for the remote address `remote_addr`: the address itself
// when it has at most kMaxRemoteAddressName characters, otherwise '~' and
// the 16 lower-case hex digits of the 64-bit FNV-1a hash of the address
// (17 characters; no address begins with '~').
std::string RemoteAddressName(const char *remote_addr);

// Opens the file `name` read-write without truncating it, creating it with
// mode 0644 less the umask when it does not exist, and positions it at its
// end. Neither the file nor its directory is reached through a symbolic
// link. Returns the descriptor, or -1 when it can be neither opened nor
// created, is no regular file, belongs to another user than the effective
// user or root, or may be written by group or others.
int OpenUserFile(const char *name);

}  // namespace tcplib

#endif  // TCP_TERMINAL_TABLE_H_
